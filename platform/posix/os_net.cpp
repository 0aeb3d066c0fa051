// IPv4 sockets on POSIX for the network library. Every descriptor is
// non-blocking; a call that cannot complete waits with poll(2) for as long
// as its time-out block allows, and reports -1 when that is nothing.
#include "platform/posix/os_net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "platform/posix/os_time.h"

namespace {

sockaddr_in ToSockAddr(const NetAddress& address)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(address.port);
    sa.sin_addr.s_addr = htonl(address.ip);
    return sa;
}

NetAddress FromSockAddr(const sockaddr_in& sa)
{
    return NetAddress{ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// A closed peer shows up as one of these on the next call.
bool IsClosedError(int error) { return error == ECONNRESET || error == EPIPE || error == ECONNABORTED; }

}  // namespace

double RemainingTimeout(const NetTimeout* timeout)
{
    if (timeout->block < 0 && timeout->total < 0)
        return -1;
    double left = 0;
    if (timeout->total >= 0)
        left = std::max(timeout->total - (OsGetEpochSeconds() - timeout->start), 0.0);
    if (timeout->block < 0)
        return left;
    if (timeout->total < 0)
        return timeout->block;
    return std::min(timeout->block, left);
}

bool OsNetInit() { return true; }
void OsNetExit() {}

int OsNetSocket(int* outDescriptor, int family, int type, int protocol)
{
    int fd = socket(family, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        *outDescriptor = OS_NET_CLOSED_SOCKET;
        return errno;
    }
    *outDescriptor = fd;
    return 0;
}

int OsNetSetNonBlocking(int descriptor)
{
    int flags = fcntl(descriptor, F_GETFL);
    if (flags < 0 || fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) < 0)
        return errno;
    return 0;
}

int OsNetWait(int descriptor, int direction, const NetTimeout* timeout)
{
    if (descriptor < 0)
        return OS_NET_CLOSED;
    if (timeout->block == 0)
        return OS_NET_TIMEOUT;
    double left = RemainingTimeout(timeout);
    int ms = left < 0 ? -1 : static_cast<int>(std::min(std::ceil(left * 1000.0), 2.0e9));
    pollfd p{descriptor, static_cast<short>(direction == 1 ? POLLIN : POLLOUT), 0};
    for (;;) {
        int n = poll(&p, 1, ms);
        if (n > 0)
            return 0;
        if (n == 0)
            return OS_NET_TIMEOUT;
        if (errno != EINTR)
            return errno;
    }
}

int OsNetConnect(int descriptor, const NetAddress& address, int32_t timeoutMs, OsNetPumpFn pump,
                 void* pumpContext, uint32_t* outInterrupt)
{
    *outInterrupt = 0;
    if (descriptor < 0)
        return OS_NET_CLOSED;
    sockaddr_in sa = ToSockAddr(address);
    if (connect(descriptor, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        if (errno != EINPROGRESS && errno != EINTR)
            return errno;
        double start = OsGetEpochSeconds();
        for (;;) {
            uint32_t code = 0;
            if (pump && pump(pumpContext, &code)) {
                *outInterrupt = code;
                return OS_NET_TIMEOUT;
            }
            pollfd p{descriptor, POLLOUT, 0};
            int n = poll(&p, 1, 10);
            if (n > 0)
                break;
            if (n < 0 && errno != EINTR)
                return errno;
            if (timeoutMs > 0 && (OsGetEpochSeconds() - start) * 1000.0 >= timeoutMs)
                return OS_NET_TIMEOUT;
        }
    }
    int pending = 0;
    socklen_t length = sizeof pending;
    if (getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &pending, &length) != 0)
        return -3;
    return pending;
}

int OsNetAccept(int descriptor, int* outDescriptor, const NetTimeout* timeout)
{
    *outDescriptor = OS_NET_CLOSED_SOCKET;
    for (;;) {
        if (descriptor < 0)
            return OS_NET_CLOSED;
        int fd = accept4(descriptor, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            *outDescriptor = fd;
            return 0;
        }
        if (!WouldBlock(errno) && errno != ECONNABORTED)
            return errno;
        if (int r = OsNetWait(descriptor, 1, timeout))
            return r;
    }
}

int OsNetSend(int descriptor, const void* data, size_t length, size_t* outDone, const NetTimeout* timeout)
{
    *outDone = 0;
    for (;;) {
        if (descriptor < 0)
            return OS_NET_CLOSED;
        ssize_t n = send(descriptor, data, length, MSG_NOSIGNAL);
        if (n >= 0) {
            *outDone = static_cast<size_t>(n);
            return 0;
        }
        if (IsClosedError(errno))
            return OS_NET_CLOSED;
        if (!WouldBlock(errno))
            return errno;
        if (int r = OsNetWait(descriptor, 2, timeout))
            return r;
    }
}

int OsNetReceive(int descriptor, void* buffer, size_t size, size_t* outDone, const NetTimeout* timeout)
{
    *outDone = 0;
    for (;;) {
        if (descriptor < 0)
            return OS_NET_CLOSED;
        ssize_t n = recv(descriptor, buffer, size, 0);
        if (n > 0) {
            *outDone = static_cast<size_t>(n);
            return 0;
        }
        if (n == 0 || IsClosedError(errno))
            return OS_NET_CLOSED;
        if (!WouldBlock(errno))
            return errno;
        if (int r = OsNetWait(descriptor, 1, timeout))
            return r;
    }
}

int OsNetRecv(int descriptor, const NetTimeout* timeout, int datagram)
{
    for (;;) {
        if (descriptor < 0)
            return OS_NET_CLOSED;
        char byte;
        ssize_t n = recv(descriptor, &byte, 1, MSG_PEEK | (datagram ? MSG_TRUNC : 0));
        if (n > 0 || (datagram && n == 0))
            return 0;
        if (n == 0 || IsClosedError(errno))
            return OS_NET_CLOSED;
        if (datagram && errno == EMSGSIZE)
            return 0;
        if (!WouldBlock(errno))
            return errno;
        if (int r = OsNetWait(descriptor, 1, timeout))
            return r;
    }
}

int OsNetSendTo(int descriptor, const void* data, size_t length, size_t* outSent, const NetAddress& to,
                const NetTimeout* timeout)
{
    *outSent = 0;
    sockaddr_in sa = ToSockAddr(to);
    for (;;) {
        if (descriptor < 0)
            return OS_NET_CLOSED;
        ssize_t n = sendto(descriptor, data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        if (n >= 0) {
            *outSent = static_cast<size_t>(n);
            return 0;
        }
        if (errno == ECONNREFUSED)
            return OS_NET_CLOSED;
        if (!WouldBlock(errno))
            return errno;
        if (int r = OsNetWait(descriptor, 2, timeout))
            return r;
    }
}

int OsNetRecvFrom(int descriptor, void* buffer, size_t size, size_t* outReceived, NetAddress* outFrom,
                  const NetTimeout* timeout)
{
    *outReceived = 0;
    for (;;) {
        if (descriptor < 0)
            return OS_NET_CLOSED;
        sockaddr_in sa{};
        socklen_t length = sizeof sa;
        ssize_t n = recvfrom(descriptor, buffer, size, 0, reinterpret_cast<sockaddr*>(&sa), &length);
        if (n >= 0) {
            *outReceived = static_cast<size_t>(n);
            *outFrom = FromSockAddr(sa);
            return 0;
        }
        // An ICMP "port unreachable" for an earlier datagram surfaces here.
        if (errno == ECONNREFUSED)
            return OS_NET_CLOSED;
        if (!WouldBlock(errno))
            return errno;
        if (int r = OsNetWait(descriptor, 1, timeout))
            return r;
    }
}

int OsNetBind(int descriptor, const NetAddress& address)
{
    sockaddr_in sa = ToSockAddr(address);
    return bind(descriptor, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 0 : errno;
}

int OsNetListen(int descriptor, int backlog) { return listen(descriptor, backlog) == 0 ? 0 : errno; }

void OsNetClose(int* descriptor)
{
    if (*descriptor >= 0)
        close(*descriptor);
    *descriptor = OS_NET_CLOSED_SOCKET;
}

namespace {

int ResolveCode(int herr)
{
    if (herr == HOST_NOT_FOUND || herr == NO_DATA)
        return OS_NET_HOST_NOT_FOUND;
    return OS_NET_RESOLVE_BASE + herr;
}

// Copies a resolver answer; false when it holds no IPv4 address.
bool CopyHostEntry(const hostent* h, OsNetHostEntry* out)
{
    *out = OsNetHostEntry{};
    out->name = h->h_name ? h->h_name : "";
    for (char** alias = h->h_aliases; alias && *alias; alias++)
        out->aliases.emplace_back(*alias);
    if (h->h_addrtype != AF_INET || h->h_length != 4)
        return false;
    for (char** address = h->h_addr_list; address && *address; address++) {
        uint32_t ip;
        std::memcpy(&ip, *address, 4);
        out->addresses.push_back(ntohl(ip));
    }
    return !out->addresses.empty();
}

// The reentrant look-ups want a scratch buffer whose size they tell only by
// failing; it grows until the answer fits, up to a bound.
template <typename Lookup>
int ResolveWith(Lookup lookup, OsNetHostEntry* out)
{
    std::vector<char> scratch(2048);
    for (;;) {
        hostent h{};
        hostent* result = nullptr;
        int herr = 0;
        int r = lookup(&h, scratch.data(), scratch.size(), &result, &herr);
        if (r == ERANGE && scratch.size() < (1u << 20)) {
            scratch.resize(scratch.size() * 2);
            continue;
        }
        if (r != 0 || !result)
            return ResolveCode(herr ? herr : HOST_NOT_FOUND);
        return CopyHostEntry(result, out) ? 0 : OS_NET_HOST_NOT_FOUND;
    }
}

}  // namespace

int OsNetHostByName(const char* name, OsNetHostEntry* out)
{
    return ResolveWith(
        [name](hostent* h, char* buffer, size_t size, hostent** result, int* herr) {
            return gethostbyname2_r(name, AF_INET, h, buffer, size, result, herr);
        },
        out);
}

int OsNetHostByAddr(uint32_t ip, OsNetHostEntry* out)
{
    uint32_t network = htonl(ip);
    return ResolveWith(
        [network](hostent* h, char* buffer, size_t size, hostent** result, int* herr) {
            return gethostbyaddr_r(&network, 4, AF_INET, h, buffer, size, result, herr);
        },
        out);
}

const char* SocketErrorText(int code)
{
    if (code == OS_NET_CLOSED)
        return "closed";
    if (code == OS_NET_TIMEOUT)
        return "timeout";
    return code ? "unknown error" : nullptr;
}

const char* OsNetErrorText(int code)
{
    if (code < 1)
        return SocketErrorText(code);
    switch (code) {
    case ECONNABORTED:
    case ECONNRESET:
    case EPIPE:
        return "closed";
    case ETIMEDOUT:
        return "timeout";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EADDRINUSE:
        return "address already in use";
    case EISCONN:
        return "already connected";
    case ECONNREFUSED:
        return "connection refused";
    default:
        break;
    }
    const char* text = code < OS_NET_RESOLVE_BASE ? strerrordesc_np(code) : nullptr;
    return text ? text : "Unknown error";
}

const char* OsNetResolveErrorText(int code)
{
    if (code == OS_NET_HOST_NOT_FOUND)
        return "host not found";
    if (code < 1)
        return SocketErrorText(code);
    if (code > OS_NET_RESOLVE_BASE)
        return hstrerror(code - OS_NET_RESOLVE_BASE);
    return OsNetErrorText(code);
}

int OsNetPeerAddress(int descriptor, NetAddress* out)
{
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    if (getpeername(descriptor, reinterpret_cast<sockaddr*>(&sa), &length) != 0 || sa.sin_family != AF_INET)
        return -1;
    *out = FromSockAddr(sa);
    return 0;
}

int OsNetLocalAddress(int descriptor, NetAddress* out)
{
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    if (getsockname(descriptor, reinterpret_cast<sockaddr*>(&sa), &length) != 0 || sa.sin_family != AF_INET)
        return -1;
    *out = FromSockAddr(sa);
    return 0;
}

int OsNetLocalHostName(char* buffer, size_t size)
{
    if (size == 0 || gethostname(buffer, size) != 0)
        return -1;
    buffer[size - 1] = 0;
    return 0;
}

int OsNetSetReuseAddress(int descriptor)
{
    int one = 1;
    return setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 ? 0 : -1;
}

void OsNetAddressText(uint32_t ip, char* out)
{
    std::snprintf(out, 16, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 255, (ip >> 8) & 255, ip & 255);
}
