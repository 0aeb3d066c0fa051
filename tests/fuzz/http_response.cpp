// Fuzzes the HTTP client with hostile servers: each input is served on
// 127.0.0.1 as the whole response to a DownloadFile request, after which
// the peer closes. Any input must end in a body or an error code, with no
// connection left behind, never a crash, an overrun or a hang. Redirects
// are off so that no input can send the client anywhere but back here.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "core/services/object_registry.h"
#include "core/vm/vm.h"
#include "libs/network/network_library.h"
#include "libs/network/socket_layer.h"

namespace {

struct Listener {
    int fd;
    uint16_t port;
    Listener()
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        listen(fd, 4);
        socklen_t length = sizeof sa;
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
        port = ntohs(sa.sin_port);
    }
};

void Serve(int listener, const uint8_t* data, size_t size)
{
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0)
        return;
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0)
        return;
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        pollfd q{fd, POLLIN, 0};
        if (poll(&q, 1, 5000) <= 0)
            break;
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        request.append(buffer, static_cast<size_t>(n));
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = send(fd, data + done, size - done, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Listener listener;
    static VmState* vm = [] {
        VmState* state = VmOpenState();
        RegisterNetworkLibrary(state);
        return state;
    }();
    NetworkTimeout = 2000;
    std::thread peer(Serve, listener.fd, data, size);
    std::string url = "http://127.0.0.1:" + std::to_string(listener.port) + "/";
    VmSetTop(vm, 0);
    VmPushString(vm, "downloadfile");
    VmGetTable(vm, VM_GLOBALSINDEX);
    VmPushCString(vm, url.c_str());
    VmNewTable(vm);
    VmPushCString(vm, "redirect");
    VmPushNumber(vm, 0);
    VmSetTable(vm, -3);
    uint32_t code = VmPCall(vm, 2, VM_MULTRET, 0);
    peer.join();
    // A body and its size on success, nothing on failure.
    if (VmGetTop(vm) != (code ? 0 : 2))
        __builtin_trap();
    if (!code && VmGetStringLength(vm, 1) != static_cast<size_t>(VmGetNumber(vm, 2)))
        __builtin_trap();
    if (CountObjectsOfType(OBJ_CLIENT) != 0)
        __builtin_trap();
    VmSetTop(vm, 0);
    return 0;
}
