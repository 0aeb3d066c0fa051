// Loopback throughput of the socket layer: a peer thread streams bytes as
// fast as the kernel takes them while ReceiveData collects 1 MB per call,
// and SendData pushes 1 MB per call to a peer that drains it. Both loops
// poll with the layer's 1 ms retries, so this shows what that polling
// costs against a peer that is never slow. DownloadFile of bodies without
// a length (4 to 32 MiB) shows whether their growing block costs time in
// proportion to their size, beside curl fetching the same bodies from the
// same kind of peer. (bench/transfer_vs_curl.py sets whole downloads from
// nginx and FTP against curl.)
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/services/object_registry.h"
#include "core/vm/vm.h"
#include "libs/network/network_library.h"
#include "libs/network/socket_layer.h"

namespace {

constexpr size_t kChunk = 1 << 20;

// A listening socket on a port the system chose.
int ListenOnLoopback(uint16_t* port)
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    listen(listener, 1);
    socklen_t length = sizeof sa;
    getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &length);
    *port = ntohs(sa.sin_port);
    return listener;
}

struct Peer {
    int listener;
    uint16_t port;
    std::atomic<bool> stop{false};
    std::thread thread;

    explicit Peer(bool sends)
    {
        listener = ListenOnLoopback(&port);
        thread = std::thread([this, sends] {
            int fd = accept(listener, nullptr, nullptr);
            std::string buffer(65536, 'n');
            while (!stop.load()) {
                ssize_t n = sends ? send(fd, buffer.data(), buffer.size(), MSG_NOSIGNAL)
                                  : recv(fd, buffer.data(), buffer.size(), 0);
                if (n <= 0)
                    break;
            }
            close(fd);
        });
    }
    ~Peer()
    {
        stop.store(true);
        thread.join();
        close(listener);
    }
};

// Answers one HTTP request with `size` bytes and no length: the body ends
// when the connection does.
struct UnsizedPeer {
    int listener;
    uint16_t port;
    std::thread thread;

    explicit UnsizedPeer(size_t size)
    {
        listener = ListenOnLoopback(&port);
        thread = std::thread([this, size] {
            int fd = accept(listener, nullptr, nullptr);
            char request[4096];
            recv(fd, request, sizeof request, 0);
            std::string body = "HTTP/1.0 200 OK\r\n\r\n" + std::string(size, 'u');
            for (size_t done = 0; done < body.size();) {
                ssize_t n = send(fd, body.data() + done, body.size() - done, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                done += static_cast<size_t>(n);
            }
            close(fd);
        });
    }
    ~UnsizedPeer()
    {
        thread.join();
        close(listener);
    }
};

struct Vm {
    Vm()
    {
        vm = VmOpenState();
        RegisterNetworkLibrary(vm);
    }
    ~Vm()
    {
        FreeNetwork(vm);
        FreeObjectTypeRegistry();
        VmCloseState(vm);
    }
    void Open(uint16_t port)
    {
        VmPushString(vm, "openconnection");
        VmGetTable(vm, VM_GLOBALSINDEX);
        VmPushNumber(vm, 1);
        VmPushString(vm, "127.0.0.1");
        VmPushNumber(vm, port);
        VmPCall(vm, 3, 0, 0);
    }
    VmState* vm;
};

void BM_ReceiveBytes(benchmark::State& state)
{
    Peer peer(true);
    Vm v;
    v.Open(peer.port);
    for (auto _ : state) {
        VmPushString(v.vm, "receivedata");
        VmGetTable(v.vm, VM_GLOBALSINDEX);
        VmPushNumber(v.vm, 1);
        VmPushNumber(v.vm, RECEIVEBYTES);
        VmPushNumber(v.vm, kChunk);
        VmPCall(v.vm, 3, 0, 0);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kChunk));
    // The peer is blocked in send until the connection goes.
    RemoveConnection(MakeObjectId(1));
}
BENCHMARK(BM_ReceiveBytes)->Unit(benchmark::kMillisecond);

void BM_SendData(benchmark::State& state)
{
    Peer peer(false);
    Vm v;
    v.Open(peer.port);
    std::string data(kChunk, 's');
    for (auto _ : state) {
        VmPushString(v.vm, "senddata");
        VmGetTable(v.vm, VM_GLOBALSINDEX);
        VmPushNumber(v.vm, 1);
        VmPushLString(v.vm, data.data(), data.size());
        VmPCall(v.vm, 2, 0, 0);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kChunk));
    RemoveConnection(MakeObjectId(1));
}
BENCHMARK(BM_SendData)->Unit(benchmark::kMillisecond);

void BM_DownloadUnsized(benchmark::State& state)
{
    size_t size = static_cast<size_t>(state.range(0)) << 20;
    Vm v;
    for (auto _ : state) {
        UnsizedPeer peer(size);
        VmPushString(v.vm, "downloadfile");
        VmGetTable(v.vm, VM_GLOBALSINDEX);
        std::string url = "http://127.0.0.1:" + std::to_string(peer.port) + "/";
        VmPushString(v.vm, url.c_str());
        VmPCall(v.vm, 1, 2, 0);
        if (VmGetNumber(v.vm, -1) != static_cast<double>(size))
            state.SkipWithError("short body");
        VmSetTop(v.vm, 0);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_DownloadUnsized)->Arg(4)->Arg(8)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DownloadUnsized_Curl(benchmark::State& state)
{
    size_t size = static_cast<size_t>(state.range(0)) << 20;
    for (auto _ : state) {
        UnsizedPeer peer(size);
        std::string command = "curl -s -o /dev/null http://127.0.0.1:" + std::to_string(peer.port) + "/";
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("curl failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_DownloadUnsized_Curl)->Arg(4)->Arg(8)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
