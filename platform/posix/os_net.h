// The platform's socket calls: IPv4 stream and datagram sockets on POSIX,
// always non-blocking, with the result convention the network library
// builds on: 0 success, -1 would have to wait longer than allowed (time-out),
// -2 closed (peer closed, or the descriptor is closed), a positive value is
// an errno number. Name look-up failures are positive codes from
// OS_NET_RESOLVE_BASE up so that they never collide with errno numbers.
//
// Waits are poll(2) on one descriptor, bounded by a time-out block; the
// network library keeps its blocks at 0, so nothing here sleeps unless a
// caller asks for it. Sends never raise SIGPIPE (MSG_NOSIGNAL).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int OS_NET_CLOSED_SOCKET = -1;  // the descriptor of a closed socket (all bits set)
constexpr int OS_NET_TIMEOUT = -1;
constexpr int OS_NET_CLOSED = -2;
constexpr int OS_NET_RESOLVE_BASE = 100000;
constexpr int OS_NET_HOST_NOT_FOUND = OS_NET_RESOLVE_BASE + 1;

// How long a socket call may wait: block bounds one call, total the whole
// operation counted from start; negative means no limit (seconds).
struct NetTimeout {
    double block;
    double total;
    double start;
};

// An IPv4 address and port, both in host byte order.
struct NetAddress {
    uint32_t ip;
    uint16_t port;
};

struct OsNetHostEntry {
    std::string name;
    std::vector<std::string> aliases;
    std::vector<uint32_t> addresses;  // host byte order
};

// The time a socket call may still wait: -1 for no limit.
double RemainingTimeout(const NetTimeout* timeout);

bool OsNetInit();
void OsNetExit();

int OsNetSocket(int* outDescriptor, int family, int type, int protocol);
int OsNetSetNonBlocking(int descriptor);
// Called every 10 ms of a connect's wait with its context; non-zero (and a
// code in *outCode) asks the connect to stop.
using OsNetPumpFn = int (*)(void* context, uint32_t* outCode);
// Connects within timeoutMs (0 = no limit), calling pump (when not null)
// every 10 ms of waiting; a pump that asks to stop ends the connect with -1
// and its code in *outInterrupt.
int OsNetConnect(int descriptor, const NetAddress& address, int32_t timeoutMs, OsNetPumpFn pump,
                 void* pumpContext, uint32_t* outInterrupt);
int OsNetAccept(int descriptor, int* outDescriptor, const NetTimeout* timeout);
int OsNetSend(int descriptor, const void* data, size_t length, size_t* outDone, const NetTimeout* timeout);
int OsNetReceive(int descriptor, void* buffer, size_t size, size_t* outDone, const NetTimeout* timeout);
// direction 1 read, 2 write.
int OsNetWait(int descriptor, int direction, const NetTimeout* timeout);
// Peeks one byte (datagram 0 stream, 1 datagram): 0 data waiting, -1
// nothing, -2 closed, else an errno number.
int OsNetRecv(int descriptor, const NetTimeout* timeout, int datagram);
int OsNetSendTo(int descriptor, const void* data, size_t length, size_t* outSent, const NetAddress& to,
                const NetTimeout* timeout);
int OsNetRecvFrom(int descriptor, void* buffer, size_t size, size_t* outReceived, NetAddress* outFrom,
                  const NetTimeout* timeout);
int OsNetBind(int descriptor, const NetAddress& address);
int OsNetListen(int descriptor, int backlog);
// Closes an open descriptor and marks it closed.
void OsNetClose(int* descriptor);

int OsNetHostByName(const char* name, OsNetHostEntry* out);
int OsNetHostByAddr(uint32_t ip, OsNetHostEntry* out);

const char* OsNetErrorText(int code);
const char* OsNetResolveErrorText(int code);
// -2 "closed", -1 "timeout", other non-zero "unknown error", 0 null.
const char* SocketErrorText(int code);

// Each answers 0, or a negative number on failure.
int OsNetPeerAddress(int descriptor, NetAddress* out);
int OsNetLocalAddress(int descriptor, NetAddress* out);
int OsNetLocalHostName(char* buffer, size_t size);
int OsNetSetReuseAddress(int descriptor);
// "a.b.c.d" into a buffer of at least 16 bytes.
void OsNetAddressText(uint32_t ip, char* out);
