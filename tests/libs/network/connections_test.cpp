// Connections, servers and UDP objects through the library's commands,
// against peers on 127.0.0.1 run by the test.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "core/io/error_codes.h"
#include "display/event_handlers.h"
#include "display/events.h"
#include "network_fixture.h"
#include "platform/posix/os_env.h"
#include "support/temp_dir.h"

using namespace testcalls;
using namespace nettest;

namespace {

TEST_F(NetworkTest, LineModeDropsEveryCarriageReturnAndKeepsWhatFollowsBuffered)
{
    LoopbackServer server([](int fd) {
        WriteAll(fd, "he\rllo\r\nsecond line\nabcdefXYZ");
        ReadUntil(fd, "bye");
    });
    ASSERT_EQ(Call("openconnection", {1.0, std::string("127.0.0.1"), double(server.port())}), 0u) << ErrorText();

    std::vector<Value> r;
    ASSERT_EQ(Call("receivedata", {1.0, 2.0}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{std::string("hello"), 5.0, 1.0}));
    ASSERT_EQ(Call("receivedata", {1.0, 2.0}, &r), 0u);
    EXPECT_EQ(Str(r[0]), "second line");
    ASSERT_EQ(Call("receivedata", {1.0, 1.0, 6.0}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{std::string("abcdef"), 6.0, 1.0}));
    ASSERT_EQ(Call("receivedata", {1.0, 1.0, 3.0}, &r), 0u);
    EXPECT_EQ(Str(r[0]), "XYZ");
    EXPECT_EQ(Number("senddata", {1.0, std::string("bye")}), 3);
    ASSERT_EQ(Call("closeconnection", {1.0}), 0u);
    EXPECT_EQ(Call("closeconnection", {1.0}), ERR_FINDCLIENT);
    EXPECT_EQ(errorArgNumber, 1);
}

TEST_F(NetworkTest, ReceiveAllReportsWhetherThePeerClosedAfterSending)
{
    std::vector<uint8_t> pattern = PatternBytes(100000);
    std::string big(pattern.begin(), pattern.end());
    LoopbackServer server([&](int fd) { WriteAll(fd, big); });
    ASSERT_EQ(Call("openconnection", {1.0, std::string("127.0.0.1"), double(server.port())}), 0u);
    std::vector<Value> r;
    ASSERT_EQ(Call("receivedata", {1.0, 0.0}, &r), 0u);
    EXPECT_TRUE(r == (std::vector<Value>{big, 100000.0, 1.0}));
    // Closed with nothing more to read: no data and no completion.
    ASSERT_EQ(Call("receivedata", {1.0, 0.0}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{std::string(""), 0.0, 0.0}));
}

// Receives on the first connection into a plain block, as the memory-block
// commands do; answers the result code.
uint32_t ReceiveInto(VmState* vm, std::vector<uint8_t>* buffer, int mode, size_t count, ReceiveOutcome* outcome)
{
    uint8_t* p = buffer->data();
    size_t size = buffer->size();
    ReceiveTarget target;
    target.block = &p;
    target.blockSize = &size;
    ReceiveSocketData(vm, ConnectionList, mode, count, true, target, outcome);
    return ReceiveResultCode(*outcome, ConnectionList);
}

TEST_F(NetworkTest, ReceiveWithoutWaitingTakesOnlyWhatIsThereAndTimesOut)
{
    LoopbackServer server([&](int fd) {
        ReadUntil(fd, "go");
        WriteAll(fd, "now");
        ReadUntil(fd, "end");
    });
    ASSERT_EQ(Call("openconnection", {1.0, std::string("127.0.0.1"), double(server.port())}), 0u);
    std::vector<Value> r;
    ASSERT_EQ(Call("receivedata", {1.0, 0.0, 0.0}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{std::string(""), 0.0, 0.0}));
    Number("senddata", {1.0, std::string("go")});
    // A short time-out: the peer sends "now" and then stays silent.
    NetworkTimeout = 200;
    ASSERT_EQ(Call("receivedata", {1.0, 0.0, 1.0}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{std::string("now"), 3.0, 0.0}));
    ASSERT_EQ(Call("receivedata", {1.0, 1.0, 10.0}, &r), 0u);
    EXPECT_EQ(Num(r[1]), 0);
    std::vector<uint8_t> buffer(16);
    ReceiveOutcome outcome;
    EXPECT_EQ(ReceiveInto(vm, &buffer, RECEIVEBYTES, 4, &outcome), ERR_RECVTIMEOUT);
    Number("senddata", {1.0, std::string("end")});
}

TEST_F(NetworkTest, ALineThatFillsTheWholeBlockIsOutOfMemory)
{
    LoopbackServer server([](int fd) {
        WriteAll(fd, std::string(1022, 'a') + "\n" + std::string(1023, 'b') + "\n");
        ReadUntil(fd, "end");
    });
    ASSERT_EQ(Call("openconnection", {1.0, std::string("127.0.0.1"), double(server.port())}), 0u);
    std::vector<uint8_t> buffer(1024);
    ReceiveOutcome outcome;
    EXPECT_EQ(ReceiveInto(vm, &buffer, RECEIVELINE, 0, &outcome), 0u);
    EXPECT_EQ(outcome.received, 1022u);
    EXPECT_EQ(buffer[1022], 0);
    EXPECT_EQ(ReceiveInto(vm, &buffer, RECEIVELINE, 0, &outcome), ERR_MEM);
    Number("senddata", {1.0, std::string("end")});
}

uint32_t g_pieces;
std::string g_collected;

uint32_t CollectPiece(VmState* vm)
{
    g_pieces++;
    VmPushCString(vm, "data");
    VmGetTable(vm, 1);
    g_collected.append(VmGetString(vm, -1), VmGetStringLength(vm, -1));
    VmPushNumber(vm, 0);
    return 1;
}

TEST_F(NetworkTest, ReceiveCallbacksGetEachPieceAndTheirAnswerCounts)
{
    LoopbackServer server([](int fd) {
        WriteAll(fd, "ab\r\ncdef\nrest");
        ReadUntil(fd, "end");
    });
    ASSERT_EQ(Call("openconnection", {1.0, std::string("127.0.0.1"), double(server.port())}), 0u);
    g_pieces = 0;
    g_collected.clear();
    ASSERT_EQ(CallWithCallback("receivedata", {1, 2}, CollectPiece), 0u);
    EXPECT_EQ(std::string(VmGetString(vm, 1)), "");
    EXPECT_EQ(VmGetNumber(vm, 2), 2);
    // Line mode calls once per character.
    EXPECT_EQ(std::make_pair(g_pieces, g_collected), std::make_pair(2u, std::string("ab")));

    const std::pair<VmNativeFunction, uint32_t> stops[] = {
        {[](VmState* vm) { return VmPushNumber(vm, 1), 1u; }, ERR_USERABORT},
        {[](VmState* vm) { return VmPushCString(vm, "no number"), 1u; }, ERR_NUMCALLBACK},
        {[](VmState*) { return uint32_t{ERR_WRONGUSAGE}; }, ERR_WRONGUSAGE}};
    for (auto [callback, expected] : stops)
        EXPECT_EQ(CallWithCallback("receivedata", {1, 1, 1}, callback), expected);
    Number("senddata", {1.0, std::string("end")});
}

// A receive callback that closes the connection it is receiving from, or
// (with a port to go to) replaces it with a new one under the same id: the
// receive ends there as on a closed connection, with what was delivered.
uint16_t g_replacementPort;
uint32_t CloseOrReplaceOwnConnection(VmState* vm)
{
    g_pieces++;
    std::vector<Value> args = {1.0, std::string("127.0.0.1"), double(g_replacementPort)};
    EXPECT_EQ(g_replacementPort ? CallGlobal(vm, "openconnection", args) : CallGlobal(vm, "closeconnection", {1.0}), 0u);
    VmPushNumber(vm, 0);
    return 1;
}

TEST_F(NetworkTest, AReceiveCallbackMayCloseOrReplaceItsOwnConnection)
{
    LoopbackServer replacement([](int fd) { ReadUntil(fd, "end"); }, 2);
    for (int mode : {RECEIVELINE, RECEIVEALL})
        for (bool replaced : {false, true}) {
            SCOPED_TRACE(std::to_string(mode) + (replaced ? " replaced" : " closed"));
            g_replacementPort = replaced ? replacement.port() : 0;
            LoopbackServer server([](int fd) {
                WriteAll(fd, "abc\nrest");
                ReadUntil(fd, "end");
            });
            ASSERT_EQ(Call("openconnection", {1.0, std::string("127.0.0.1"), double(server.port())}), 0u);
            g_pieces = 0;
            std::vector<double> numbers = {1, double(mode)};
            if (mode == RECEIVEALL)
                numbers.push_back(1);
            ASSERT_EQ(CallWithCallback("receivedata", numbers, CloseOrReplaceOwnConnection), 0u);
            EXPECT_EQ(g_pieces, 1u);
            EXPECT_GE(VmGetNumber(vm, 2), 1) << "what was delivered counts";
            VmSetTop(vm, 0);
            EXPECT_EQ(CountObjectsOfType(OBJ_CLIENT), replaced ? 1u : 0u);
            if (replaced) {
                Number("senddata", {1.0, std::string("end")});
                ASSERT_EQ(Call("closeconnection", {1.0}), 0u);
            }
        }
}

TEST_F(NetworkTest, ReusingAnIdClosesTheOldConnectionEvenWhenTheNewOneFails)
{
    LoopbackServer server([](int fd) { ReadUntil(fd, "end"); });
    ASSERT_EQ(Call("openconnection", {1.0, std::string("127.0.0.1"), double(server.port())}), 0u);
    Value handle = One("openconnection", {Nil{}, std::string("127.0.0.1"), double(server.port())});
    ASSERT_TRUE(std::holds_alternative<Pointer>(handle));
    EXPECT_EQ(CountObjectsOfType(OBJ_CLIENT), 2u);
    ASSERT_EQ(Call("closeconnection", {handle}), 0u);
    EXPECT_EQ(Call("closeconnection", {handle}), ERR_FINDARRAY);

    // A port nobody listens on: refused, and connection 1 is gone.
    uint16_t freePort;
    close(ListenLoopback(&freePort));
    EXPECT_EQ(Call("openconnection", {1.0, std::string("127.0.0.1"), double(freePort)}), ERR_SOCKET);
    EXPECT_STREQ(errorArgText, "connection refused");
    EXPECT_EQ(CountObjectsOfType(OBJ_CLIENT), 0u);
}

TEST_F(NetworkTest, ArgumentsOutOfRangeAreWrongUsage)
{
    const std::pair<const char*, std::vector<Value>> cases[] = {
        {"openconnection", {1.0, std::string("127.0.0.1"), 0.0}},
        {"openconnection", {1.0, std::string("127.0.0.1"), 65536.0}},
        {"createserver", {1.0, 65536.0}}, {"createserver", {1.0, -1.0}}, {"createudpobject", {1.0, 70000.0}},
        {"setnetworktimeout", {-1.0}}, {"sendudpdata", {1.0, std::string(""), std::string("127.0.0.1"), 9.0}},
        {"sendudpdata", {1.0, std::string("x"), std::string("127.0.0.1"), 0.0}},
    };
    for (const auto& [command, args] : cases)
        EXPECT_EQ(Call(command, args), ERR_WRONGUSAGE) << command;
    LoopbackServer server([](int fd) { ReadUntil(fd, "end"); });
    ASSERT_EQ(Call("openconnection", {1.0, std::string("127.0.0.1"), double(server.port())}), 0u);
    EXPECT_EQ(Call("receivedata", {1.0, 1.0, 0.0}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("receivedata", {1.0, 3.0}), ERR_WRONGUSAGE);
    Number("senddata", {1.0, std::string("end")});
}

TEST_F(NetworkTest, DottedAddressesAreExactlyFourPartsUpTo255)
{
    uint32_t ip;
    for (const char* text : {"256.0.0.1", "1.2.3", "1.2.3.4.5", "1.2.3.4 ", "1..3.4", "0x7f.0.0.1", "", "1.2.3.0004"})
        EXPECT_FALSE(ParseDottedAddress(text, &ip)) << text;
    ASSERT_TRUE(ParseDottedAddress("255.255.255.255", &ip));
    ASSERT_TRUE(ParseDottedAddress("10.20.30.40", &ip));
    EXPECT_EQ(ip, 0x0A141E28u);
}

TEST_F(NetworkTest, ServersAcceptThroughThePollAndReportEachEventOnce)
{
    ASSERT_EQ(Call("createserver", {7.0, 0.0, std::string("127.0.0.1")}), 0u) << ErrorText();
    double port = Number("getlocalport", {7.0, 115.0});
    EXPECT_EQ(Str(One("getlocalip", {7.0, 42.0})), "127.0.0.1");
    int client = ConnectLoopback(static_cast<uint16_t>(port));
    ASSERT_GE(client, 0);
    Server* server;
    ASSERT_EQ(FindServer(MakeObjectId(7), &server), 0u);
    uintptr_t handle = 0;
    ASSERT_TRUE(WaitFor([&] { return AcceptConnection(server, &handle); }));
    EXPECT_FALSE(AcceptConnection(server, &handle));
    Connection* connection;
    ASSERT_EQ(FindConnection(MakeHandleId(handle), &connection), 0u);

    EXPECT_FALSE(PollConnectionData(connection));
    WriteAll(client, "x");
    EXPECT_TRUE(WaitFor([&] { return PollConnectionData(connection); }));
    WriteAll(client, "y");
    usleep(10000);
    EXPECT_FALSE(PollConnectionData(connection));
    std::vector<Value> r;
    ASSERT_EQ(Call("receivedata", {Pointer{reinterpret_cast<void*>(handle)}, 1.0, 2.0}, &r), 0u);
    EXPECT_EQ(Str(r[0]), "xy");
    EXPECT_EQ(connection->dataArrived, 0u);
    EXPECT_EQ(Str(One("getconnectionip", {Pointer{reinterpret_cast<void*>(handle)}})), "127.0.0.1");

    close(client);
    EXPECT_TRUE(WaitFor([&] { return PollConnectionClosed(connection); }));
    EXPECT_FALSE(PollConnectionClosed(connection));

    // Closing the server leaves the accepted connection alone.
    ASSERT_EQ(Call("closeserver", {7.0}), 0u);
    EXPECT_EQ(CountObjectsOfType(OBJ_CLIENT), 1u);
    EXPECT_EQ(Call("closeserver", {7.0}), ERR_FINDSERVER);
}

TEST_F(NetworkTest, TheEventCheckPostsOnlyEventsThatHaveAHandler)
{
    ASSERT_EQ(InitEventQueue(), 0u);
    ASSERT_EQ(Call("createserver", {3.0, 0.0, std::string("127.0.0.1")}), 0u);
    int client = ConnectLoopback(static_cast<uint16_t>(Number("getlocalport", {3.0, 115.0})));
    ASSERT_GE(client, 0);
    WriteAll(client, "hi");
    usleep(20000);

    // No handlers: nothing is accepted or polled.
    CheckNetworkEvents(vm);
    EXPECT_EQ(CountQueuedEvents(), 0u);
    EXPECT_EQ(CountObjectsOfType(OBJ_CLIENT), 0u);

    GlobalEventHandlers[GEVENT_CONNECT].label = 1;
    GlobalEventHandlers[GEVENT_RECEIVEDATA].label = 1;
    CheckNetworkEvents(vm);
    // Which server and connection each names, the player's echo server
    // test relies on.
    for (int slot : {GEVENT_CONNECT, GEVENT_RECEIVEDATA}) {
        QueuedEvent* event = TakeEvent();
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(event->slot, slot);
        FreeQueuedEvent(event);
    }
    CheckNetworkEvents(vm);
    EXPECT_EQ(CountQueuedEvents(), 0u);

    GlobalEventHandlers[GEVENT_CONNECT].label = -1;
    GlobalEventHandlers[GEVENT_RECEIVEDATA].label = -1;
    close(client);
    FreeEventQueue();
}

TEST_F(NetworkTest, DatagramsGoBothWaysAndClosingMovesTheEventCursorOn)
{
    ASSERT_EQ(Call("createudpobject", {1.0, 0.0, std::string("127.0.0.1")}), 0u);
    double port = Number("getlocalport", {1.0, 117.0});
    std::vector<Value> r;
    ASSERT_EQ(Call("receiveudpdata", {1.0}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{std::string(""), std::string(""), 0.0}));

    uint16_t peerPort;
    int peer = ListenLoopback(&peerPort, SOCK_DGRAM);
    EXPECT_EQ(Number("sendudpdata", {1.0, std::string("ping\0x", 6), std::string("127.0.0.1"), double(peerPort)}), 6);
    ASSERT_TRUE(WaitReadable(peer));
    char buffer[64];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t n = recvfrom(peer, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), std::string("ping\0x", 6));
    EXPECT_EQ(ntohs(from.sin_port), port);

    sendto(peer, "pong!", 5, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    UDPObject* udp = UDPObjectList;
    EXPECT_TRUE(WaitFor([&] { return PollUDPData(udp); }));
    EXPECT_FALSE(PollUDPData(udp));
    ASSERT_EQ(Call("receiveudpdata", {1.0, 3.0}, &r), 0u);
    EXPECT_EQ(r, (std::vector<Value>{std::string("pon"), std::string("127.0.0.1"), double(peerPort)}));
    EXPECT_EQ(udp->datagramWaiting, 0u);
    close(peer);

    EXPECT_EQ(Call("sendudpdata", {1.0, std::string("x"), std::string("localhost"), 9.0}), ERR_BADIP);
    EXPECT_EQ(Call("sendudpdata", {5.0, std::string("x"), std::string("127.0.0.1"), 9.0}), ERR_FINDUDPOBJECT);

    // Removing the object the event check visits next moves its cursor on.
    ASSERT_EQ(Call("closeudpobject", {1.0}), 0u);
    ASSERT_EQ(Call("createudpobject", {1.0, 0.0, std::string("127.0.0.1")}), 0u);
    ASSERT_EQ(Call("createudpobject", {2.0, 0.0, std::string("127.0.0.1")}), 0u);
    UDPObject* first = UDPObjectList;
    auto* second = reinterpret_cast<UDPObject*>(first->header.next);
    NetworkCursors.udp = first;
    ASSERT_EQ(Call("closeudpobject", {1.0}), 0u);
    EXPECT_EQ(NetworkCursors.udp, second);
    ASSERT_EQ(Call("closeudpobject", {2.0}), 0u);
    EXPECT_EQ(NetworkCursors.udp, nullptr);
}

TEST_F(NetworkTest, LocalhostAndTheHostNameComeFromTheSystem)
{
    std::vector<Value> r;
    ASSERT_EQ(Call("toip", {std::string("localhost")}, &r), 0u) << ErrorText();
    EXPECT_EQ(Str(r[0]), "127.0.0.1");
    LoopbackServer server([](int fd) { ReadUntil(fd, "end"); });
    ASSERT_EQ(Call("openconnection", {1.0, std::string("localhost"), double(server.port())}), 0u);
    Number("senddata", {1.0, std::string("end")});

    char name[256] = {};
    ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
    EXPECT_EQ(Str(One("gethostname", {})), name);

    VmPushString(vm, "tohostname");
    VmGetTable(vm, VM_GLOBALSINDEX);
    VmPushCString(vm, "localhost");
    ASSERT_EQ(VmPCall(vm, 1, VM_MULTRET, 0), 0u) << ErrorText();
    EXPECT_STREQ(VmGetString(vm, 1), "localhost");
    VmPushCString(vm, "ip");
    VmGetTable(vm, 2);
    VmRawGetI(vm, -1, 1);
    EXPECT_STREQ(VmGetString(vm, -1), "127.0.0.1");
}

TEST_F(NetworkTest, IsOnlineProbesTheConfiguredHostAndNeverRaises)
{
    LoopbackServer server([](int) {});
    std::string probe = "127.0.0.1:" + std::to_string(server.port());
    OsSetEnv("QUILLMERE_ONLINE_PROBE", probe.c_str());
    EXPECT_EQ(Number("isonline", {}), 1);
    EXPECT_EQ(CountObjectsOfType(OBJ_CLIENT), 0u);
    OsSetEnv("QUILLMERE_ONLINE_PROBE", "off");
    EXPECT_EQ(Number("isonline", {}), 0);
    uint16_t freePort;
    close(ListenLoopback(&freePort));
    probe = "127.0.0.1:" + std::to_string(freePort);
    OsSetEnv("QUILLMERE_ONLINE_PROBE", probe.c_str());
    EXPECT_EQ(Number("isonline", {}), 0);
    OsUnsetEnv("QUILLMERE_ONLINE_PROBE");
}

TEST_F(NetworkTest, ASendToAPeerThatTakesNothingEndsAtTheTimeOutOrAtAnAbort)
{
    // The peer never reads; once both socket buffers are full a send makes
    // no progress: it stops after the time-out, or without one when the
    // user aborts.
    std::atomic<bool> release{false};
    LoopbackServer server([&](int) {
        for (int i = 0; i < 10000 && !release.load(); i++)
            usleep(1000);
    });
    ASSERT_EQ(Call("openconnection", {1.0, std::string("127.0.0.1"), double(server.port())}), 0u);
    NetworkTimeout = 100;
    std::string huge(64 << 20, 'z');
    double sent = Number("senddata", {1.0, huge});
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, double(huge.size()));

    ASSERT_EQ(Call("setnetworktimeout", {0.0}), 0u);
    std::thread aborter([] {
        usleep(100000);
        VmAbortFlag.store(1);
    });
    size_t more = 0;
    uint32_t status = 0;
    SendAllData(vm, ConnectionList, reinterpret_cast<const uint8_t*>(huge.data()), huge.size(), &more, &status);
    aborter.join();
    EXPECT_LT(more, huge.size());
    EXPECT_EQ(SendDataChecked(vm, ConnectionList, reinterpret_cast<const uint8_t*>("x"), 1), ERR_USERABORT);
    VmAbortFlag.store(0);
    release.store(true);
}

// Transfers past 4 GiB keep counting: the count that the status callback
// sees (and that a stopped transfer answers) never wraps. The counter is
// set just below 2^32 rather than moving that much data.
TEST_F(NetworkTest, StatusCountsGoPastFourGibibytes)
{
    LoopbackServer server([](int fd) {
        ReadUntil(fd, "end");
        WriteAll(fd, std::string(40, 'r'));
    });
    ASSERT_EQ(Call("openconnection", {1.0, std::string("127.0.0.1"), double(server.port())}), 0u);
    Connection* connection = ConnectionList;
    VmPushNil(vm);
    VmPushNil(vm);
    VmPushNativeFunction(vm, RecordStatus);
    statusSeen = StatusSeen{};
    connection->statusArmed = 1;
    connection->statusCount = 0xFFFFFFF0u;
    connection->statusTotal = 0x100000020ull;
    const std::string text = "0123456789abcdefghijklmnopqrstuvwxyz-end";
    size_t sent = 0;
    uint32_t status = 0;
    ASSERT_EQ(SendAllData(vm, connection, reinterpret_cast<const uint8_t*>(text.data()), text.size(), &sent, &status),
              0);
    ASSERT_EQ(status, 0u);
    ASSERT_FALSE(statusSeen.counts.empty());
    EXPECT_EQ(statusSeen.counts.back(), 4294967296.0 - 16 + text.size());
    connection->statusArmed = 0;
}

}  // namespace
