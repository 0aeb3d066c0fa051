// A VM with the network library open, calls of its commands with table
// options, and small peers on 127.0.0.1 that run in a thread of the test,
// with bounded waits.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "core/io/errors.h"
#include "core/services/object_registry.h"
#include "core/vm/error_hooks.h"
#include "core/vm/vm.h"
#include "libs/library_fixture.h"
#include "libs/network/network_library.h"
#include "libs/network/socket_layer.h"

namespace nettest {

// Waits at most this long for a peer, so that a broken test fails instead of
// hanging.
constexpr int kPeerWaitMs = 5000;

inline bool WaitReadable(int fd, int ms = kPeerWaitMs)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

// Reads until the text holds `until` (or the peer closes or goes quiet).
inline std::string ReadUntil(int fd, const std::string& until, size_t atLeastAfter = 0)
{
    std::string got;
    char buffer[4096];
    for (;;) {
        size_t at = got.find(until);
        if (at != std::string::npos && got.size() >= at + until.size() + atLeastAfter)
            return got;
        if (!WaitReadable(fd))
            return got;
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return got;
        got.append(buffer, static_cast<size_t>(n));
    }
}

inline void WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

inline int ListenLoopback(uint16_t* port, int type = SOCK_STREAM)
{
    int fd = socket(AF_INET, type, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (type == SOCK_STREAM)
        listen(fd, 8);
    socklen_t length = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
    *port = ntohs(sa.sin_port);
    return fd;
}

// A client socket connected to 127.0.0.1:port, or -1.
inline int ConnectLoopback(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0)
        return fd;
    close(fd);
    return -1;
}

// Polls `ready` for up to kPeerWaitMs; answers its last value.
template <typename F>
bool WaitFor(F ready)
{
    for (int i = 0; i < kPeerWaitMs; i++) {
        if (ready())
            return true;
        usleep(1000);
    }
    return false;
}

// Accepts up to `connections` clients one after the other and runs the
// handler on each; the destructor joins the thread.
class LoopbackServer {
public:
    LoopbackServer(std::function<void(int)> handler, int connections = 1)
    {
        listener_ = ListenLoopback(&port_);
        thread_ = std::thread([this, handler, connections] {
            for (int i = 0; i < connections; i++) {
                if (!WaitReadable(listener_))
                    return;
                int fd = accept(listener_, nullptr, nullptr);
                if (fd < 0)
                    return;
                handler(fd);
                close(fd);
            }
        });
    }
    ~LoopbackServer()
    {
        thread_.join();
        close(listener_);
    }
    uint16_t port() const { return port_; }

private:
    int listener_;
    uint16_t port_;
    std::thread thread_;
};

// What status callbacks were handed: each count, and the last action, total
// and userdata. `answer` is what RecordStatus answers (1 stops the transfer).
struct StatusSeen {
    std::vector<double> counts;
    double action = -1, total = -1;
    std::string userdata;
    double answer = 0;
};
inline StatusSeen statusSeen;

inline double StatusField(VmState* vm, const char* key)
{
    VmPushCString(vm, key);
    VmGetTable(vm, 1);
    double value = VmGetNumber(vm, -1);
    VmPop(vm, 1);
    return value;
}

inline uint32_t RecordStatus(VmState* vm)
{
    statusSeen.counts.push_back(StatusField(vm, "count"));
    statusSeen.action = StatusField(vm, "action");
    statusSeen.total = StatusField(vm, "total");
    VmPushCString(vm, "userdata");
    VmRawGet(vm, 1);
    if (VmIsString(vm, -1))
        statusSeen.userdata = VmGetString(vm, -1);
    VmPop(vm, 1);
    VmPushNumber(vm, statusSeen.answer);
    return 1;
}

// A table argument with string and number fields.
struct Fields {
    std::vector<std::pair<std::string, std::variant<double, std::string>>> items;
};

inline std::string Str(const testcalls::Value& v)
{
    return std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : "<none>";
}
inline double Num(const testcalls::Value& v)
{
    return std::holds_alternative<double>(v) ? std::get<double>(v) : -12345;
}

}  // namespace nettest

class NetworkTest : public CommandTest {
protected:
    void SetUp() override
    {
        OpenVm(RegisterNetworkLibrary);
        NetworkTimeout = 10000;
        VmAbortFlag.store(0);
    }
    void TearDown() override
    {
        FreeNetwork(vm);
        FreeObjectTypeRegistry();
        VmCloseState(vm);
        NetworkTimeout = 10000;
    }

    // Calls a command whose argument 2 is a table of named fields, then any
    // plain values, then optionally a native function (a callback).
    uint32_t CallWithFields(const char* name, const std::string& first, const nettest::Fields& fields,
                            std::vector<Value>* results, VmNativeFunction callback = nullptr,
                            const Value* userdata = nullptr)
    {
        VmSetTop(vm, 0);
        VmPushString(vm, name);
        VmGetTable(vm, VM_GLOBALSINDEX);
        VmPushLString(vm, first.data(), first.size());
        VmNewTable(vm);
        for (const auto& [key, value] : fields.items) {
            VmPushLString(vm, key.data(), key.size());
            if (auto* d = std::get_if<double>(&value))
                VmPushNumber(vm, *d);
            else
                VmPushLString(vm, std::get<std::string>(value).data(), std::get<std::string>(value).size());
            VmSetTable(vm, -3);
        }
        int args = 2;
        if (callback) {
            VmPushNativeFunction(vm, callback);
            args++;
            if (userdata) {
                testcalls::PushValue(vm, *userdata);
                args++;
            }
        }
        uint32_t code = VmPCall(vm, args, VM_MULTRET, 0);
        if (results) {
            results->clear();
            if (code == 0)
                for (int i = 1; i <= VmGetTop(vm); ++i)
                    results->push_back(testcalls::ReadValue(vm, i));
        }
        VmSetTop(vm, 0);
        return code;
    }

    // Calls a command with plain numbers and then a native function (a
    // callback); the results stay on the stack from slot 1.
    uint32_t CallWithCallback(const char* name, const std::vector<double>& numbers, VmNativeFunction callback)
    {
        VmSetTop(vm, 0);
        VmPushString(vm, name);
        VmGetTable(vm, VM_GLOBALSINDEX);
        for (double n : numbers)
            VmPushNumber(vm, n);
        VmPushNativeFunction(vm, callback);
        return VmPCall(vm, static_cast<int>(numbers.size()) + 1, VM_MULTRET, 0);
    }

    static std::string ErrorText() { return errorArgText; }
};
