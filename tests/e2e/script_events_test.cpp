// Events reaching applets run by the player: a script's TCP server and UDP
// object served to Python clients through "OnConnect", "OnReceiveData",
// "OnDisconnect" and "OnReceiveUDPData", and programs started with Run
// reporting their end through "OnProgramEnd".
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/player_process.h"
#include "e2e/test_applet.h"
#include "libs/network/network_fixture.h"
#include "support/oracles.h"
#include "support/temp_dir.h"

using namespace qmasm;

namespace {

const char kPython[] = "/usr/bin/python3";

// A TCP echo server: every line that arrives goes back with its line feed;
// each closed connection is closed by its handler. The script ends once
// %CLIENTS% clients have gone and prints what it counted.
const std::string kEchoServer = R"(.chunk lines=auto
.function main source="@test.qas"
.function onconnect params=1
    GETGLOBAL r1, "connects"
    ADD r1, r1, #1
    SETGLOBAL r1, "connects"
    RETURN r0, 1
.end
.function onreceive params=1
    GETGLOBAL r1, "receivedata"
    GETTABLE r2, r0, "id"
    LOADNUM r3, 2
    CALL r1, 3, 2
    MOVE r5, r1
    LOADK r6, "\n"
    CONCAT r4, r5, r6
    GETGLOBAL r2, "senddata"
    GETTABLE r3, r0, "id"
    CALL r2, 3, 1
    GETGLOBAL r1, "lines"
    ADD r1, r1, #1
    SETGLOBAL r1, "lines"
    RETURN r0, 1
.end
.function ondisconnect params=1
    GETGLOBAL r1, "closeconnection"
    GETTABLE r2, r0, "id"
    CALL r1, 2, 1
    GETGLOBAL r1, "disconnects"
    ADD r1, r1, #1
    SETGLOBAL r1, "disconnects"
    RETURN r0, 1
.end
    LOADNUM r0, 0
    SETGLOBAL r0, "connects"
    SETGLOBAL r0, "lines"
    SETGLOBAL r0, "disconnects"
)" + CommandCall("createserver", {"#1", "#%PORT%", "\"127.0.0.1\""}) + R"(    GETGLOBAL r0, "installeventhandler"
    NEWTABLE r1, 0, 3
    CLOSURE r2, onconnect
    SETTABLE r1, "OnConnect", r2
    CLOSURE r2, onreceive
    SETTABLE r1, "onreceivedata", r2
    CLOSURE r2, ondisconnect
    SETTABLE r1, "ONDISCONNECT", r2
    CALL r0, 2, 1
loop:
    GETGLOBAL r0, "waitevent"
    CALL r0, 1, 1
    GETGLOBAL r0, "disconnects"
    LT 1, r0, #%CLIENTS%
    JMP loop
)" + CommandCall("debugprint", {"\"served\"", "@connects", "@lines", "@disconnects"}) + R"(    RETURN r0, 1
.end
)";

// The Python peers' connect: retries for ten seconds until the script
// listens; None when it never does.
const std::string kPyConnect = R"(import socket, sys, threading, time
def connect(port, timeout):
    end = time.time() + 10
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=timeout)
        except OSError:
            if time.time() > end:
                return None
            time.sleep(0.02)
)";

// Python clients, all at once: each connects, sends its lines with CR LF,
// reads each echo back and closes.
const std::string kEchoClients = kPyConnect + R"(port, clients, lines = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
good = []
lock = threading.Lock()
def client(i):
    s = connect(port, 10)
    if s is None:
        return
    f = s.makefile("rwb")
    ok = True
    for k in range(lines):
        f.write(b"client %d says %d\r\n" % (i, k))
        f.flush()
        ok = ok and f.readline() == b"client %d says %d\n" % (i, k)
    s.close()
    if ok:
        with lock:
            good.append(i)
threads = [threading.Thread(target=client, args=(i,)) for i in range(clients)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print("echoed", len(good))
)";

// The body of an OnReceiveUDPData handler that sends each datagram back to
// its sender and counts it in the global "datagrams" (left in r1).
const std::string kEchoDatagram = R"(    GETGLOBAL r1, "receiveudpdata"
    GETTABLE r2, r0, "id"
    CALL r1, 2, 4
    GETGLOBAL r4, "sendudpdata"
    GETTABLE r5, r0, "id"
    MOVE r6, r1
    MOVE r7, r2
    MOVE r8, r3
    CALL r4, 5, 1
    GETGLOBAL r1, "datagrams"
    ADD r1, r1, #1
    SETGLOBAL r1, "datagrams"
)";

// A UDP echo: each datagram goes back to its sender; the fifth one makes
// the handler close its own object, which ends the script.
const std::string kUdpEcho = R"(.chunk lines=auto
.function main source="@test.qas"
.function ondatagram params=1
)" + kEchoDatagram + R"(    LT 1, r1, #5
    JMP done
    GETGLOBAL r1, "closeudpobject"
    GETTABLE r2, r0, "id"
    CALL r1, 2, 1
done:
    RETURN r0, 1
.end
    LOADNUM r0, 0
    SETGLOBAL r0, "datagrams"
)" + CommandCall("createudpobject", {"nil", "#%PORT%", "\"127.0.0.1\""}) + R"(    GETGLOBAL r0, "installeventhandler"
    NEWTABLE r1, 0, 1
    CLOSURE r2, ondatagram
    SETTABLE r1, "OnReceiveUDPData", r2
    CALL r0, 2, 1
loop:
    GETGLOBAL r0, "waitevent"
    CALL r0, 1, 1
    GETGLOBAL r0, "datagrams"
    LT 1, r0, #5
    JMP loop
)" + CommandCall("debugprint", {"\"datagrams\"", "@datagrams"}) + R"(    RETURN r0, 1
.end
)";

// Sends five datagrams, each again until its echo is back.
const char kUdpClient[] = R"(import socket, sys
port = int(sys.argv[1])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(0.5)
echoed = 0
for i in range(5):
    for attempt in range(10):
        s.sendto(b"datagram %d" % i, ("127.0.0.1", port))
        try:
            data, _ = s.recvfrom(100)
        except socket.timeout:
            continue
        echoed += data == b"datagram %d" % i
        break
print("echoed", echoed)
)";

// Two programs started with Run; the handler prints the value each came
// with. Once both ended, the process list of the player's children goes to
// a file, so that a zombie left behind would show.
const std::string kRunsTwo = R"(.chunk lines=auto
.function main source="@test.qas"
.function onend params=1
    GETGLOBAL r1, "debugprint"
    LOADK r2, "ended"
    GETTABLE r3, r0, "userdata"
    GETTABLE r4, r0, "action"
    CALL r1, 4, 1
    GETGLOBAL r1, "ends"
    ADD r1, r1, #1
    SETGLOBAL r1, "ends"
    RETURN r0, 1
.end
    LOADNUM r0, 0
    SETGLOBAL r0, "ends"
    GETGLOBAL r0, "installeventhandler"
    NEWTABLE r1, 0, 1
    CLOSURE r2, onend
    SETTABLE r1, "OnProgramEnd", r2
    CALL r0, 2, 1
)" + CommandCall("run", {"\"/bin/sh -c \\\"sleep 0.2; exit 3\\\"\"", "#1", "\"first\""}) +
                              CommandCall("run", {"\"/bin/true\"", "#1", "\"second\""}) + R"(loop:
    GETGLOBAL r0, "waitevent"
    CALL r0, 1, 1
    GETGLOBAL r0, "ends"
    LT 1, r0, #2
    JMP loop
)" + CommandCall("execute", {"\"/bin/sh -c \\\"ps -o pid=,stat= --ppid $PPID > '%PS%'\\\"\""}) + R"(    RETURN r0, 1
.end
)";

// A server whose OnReceiveData handler takes everything that is waiting
// (ReceiveData with #RECEIVEALL and 0: no waiting for more) and counts the
// bytes and the events; it ends once %BYTES% bytes came, or the peer left.
const std::string kDrainingServer = R"(.chunk lines=auto
.function main source="@test.qas"
.function onconnect params=1
    RETURN r0, 1
.end
.function onreceive params=1
    GETGLOBAL r1, "receivedata"
    GETTABLE r2, r0, "id"
    LOADNUM r3, 0                  ; #RECEIVEALL
    LOADK r4, #0
    CALL r1, 4, 3
    GETGLOBAL r3, "bytes"
    ADD r3, r3, r2
    SETGLOBAL r3, "bytes"
    GETGLOBAL r3, "events"
    ADD r3, r3, #1
    SETGLOBAL r3, "events"
    RETURN r0, 1
.end
.function ondisconnect params=1
    LOADNUM r1, 1
    SETGLOBAL r1, "gone"
    RETURN r0, 1
.end
    LOADNUM r0, 0
    SETGLOBAL r0, "bytes"
    SETGLOBAL r0, "events"
    SETGLOBAL r0, "gone"
)" + CommandCall("createserver", {"#1", "#%PORT%", "\"127.0.0.1\""}) + R"(    GETGLOBAL r0, "installeventhandler"
    NEWTABLE r1, 0, 3
    CLOSURE r2, onconnect
    SETTABLE r1, "OnConnect", r2
    CLOSURE r2, onreceive
    SETTABLE r1, "OnReceiveData", r2
    CLOSURE r2, ondisconnect
    SETTABLE r1, "OnDisconnect", r2
    CALL r0, 2, 1
loop:
    GETGLOBAL r0, "waitevent"
    CALL r0, 1, 1
    GETGLOBAL r0, "gone"
    EQ 0, r0, #0
    JMP done
    GETGLOBAL r0, "bytes"
    LT 1, r0, #%BYTES%
    JMP loop
done:
)" + CommandCall("debugprint", {"\"received\"", "@bytes", "@events"}) + R"(    RETURN r0, 1
.end
)";

// Connects, sends all its lines in one write and stays until the player
// goes (or a minute has passed).
const std::string kLineBurst = kPyConnect + R"(port, lines = int(sys.argv[1]), int(sys.argv[2])
s = connect(port, 60)
if s is None:
    sys.exit(1)
s.sendall(b"".join(b"line %04d\n" % i for i in range(lines)))
try:
    s.recv(1)
except OSError:
    pass
print("sent", lines)
)";

// A server and a UDP echo, without an OnConnect handler at first: each
// datagram that comes back tells the client that the script has looked for
// events since its connection was made. After %LOOKS% datagrams the script
// prints what its OnReceiveData handler took, installs an empty OnConnect
// and waits for the connection's data, which it sends back.
const std::string kQueuedClient = R"(.chunk lines=auto
.function main source="@test.qas"
.function onconnect params=1
    RETURN r0, 1
.end
.function onreceive params=1
    GETGLOBAL r1, "receivedata"
    GETTABLE r2, r0, "id"
    LOADNUM r3, 0                  ; #RECEIVEALL
    LOADK r4, #0
    CALL r1, 4, 2
    MOVE r4, r1
    GETGLOBAL r2, "senddata"
    GETTABLE r3, r0, "id"
    CALL r2, 3, 1
    GETGLOBAL r1, "received"
    ADD r1, r1, #1
    SETGLOBAL r1, "received"
    RETURN r0, 1
.end
.function ondatagram params=1
)" + kEchoDatagram + R"(    RETURN r0, 1
.end
    LOADNUM r0, 0
    SETGLOBAL r0, "received"
    SETGLOBAL r0, "datagrams"
)" + CommandCall("createudpobject", {"#1", "#%UDP%", "\"127.0.0.1\""}) +
                                  CommandCall("createserver", {"#1", "#%TCP%", "\"127.0.0.1\""}) +
                                  R"(    GETGLOBAL r0, "installeventhandler"
    NEWTABLE r1, 0, 2
    CLOSURE r2, onreceive
    SETTABLE r1, "OnReceiveData", r2
    CLOSURE r2, ondatagram
    SETTABLE r1, "OnReceiveUDPData", r2
    CALL r0, 2, 1
looking:
    GETGLOBAL r0, "waitevent"
    CALL r0, 1, 1
    GETGLOBAL r0, "datagrams"
    LT 1, r0, #%LOOKS%
    JMP looking
)" + CommandCall("debugprint", {"\"without OnConnect\"", "@received"}) +
                                  R"(    GETGLOBAL r0, "installeventhandler"
    NEWTABLE r1, 0, 1
    CLOSURE r2, onconnect
    SETTABLE r1, "OnConnect", r2
    CALL r0, 2, 1
taking:
    GETGLOBAL r0, "waitevent"
    CALL r0, 1, 1
    GETGLOBAL r0, "received"
    LT 1, r0, #1
    JMP taking
)" + CommandCall("debugprint", {"\"with OnConnect\"", "@received"}) + R"(    RETURN r0, 1
.end
)";

// Connects and sends a line, then has datagrams echoed until it has the
// number asked for (each sent again until its echo is back), then waits
// for its line to come back over the connection.
const std::string kQueuedPeer = kPyConnect + R"(tcp, udp, looks = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
s = connect(tcp, 60)
if s is None:
    sys.exit(1)
s.sendall(b"queued line\n")
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
u.settimeout(0.5)
echoed, end = 0, time.time() + 60
while echoed < looks and time.time() < end:
    u.sendto(b"look %d" % echoed, ("127.0.0.1", udp))
    try:
        data, _ = u.recvfrom(100)
    except socket.timeout:
        continue
    echoed += data == b"look %d" % echoed
back = b""
while not back.endswith(b"\n"):
    try:
        piece = s.recv(100)
    except OSError:
        break
    if not piece:
        break
    back += piece
print("echoed", echoed, "back", back)
)";

uint16_t FreePort(int type)
{
    uint16_t port = 0;
    close(nettest::ListenLoopback(&port, type));
    return port;
}

class ScriptEvents : public ::testing::Test {
protected:
    TempDir dir;

    // Runs the applet while a Python peer runs beside it; answers both runs.
    std::pair<PlayerRun, PlayerRun> WithPythonPeer(const std::string& source, const std::string& peer,
                                                   const std::vector<std::string>& peerArgs)
    {
        std::string script = dir.file("peer.py");
        WriteFileBytes(script, std::vector<uint8_t>(peer.begin(), peer.end()));
        std::vector<std::string> args{script};
        args.insert(args.end(), peerArgs.begin(), peerArgs.end());
        PlayerRun client;
        std::thread python([&] { client = RunProgram(kPython, args); });
        PlayerRun server = PlayApplet(dir, AssembleTestApplet(source), {"-debugdevice", "console"});
        python.join();
        return {server, client};
    }

    void SetUp() override
    {
        QM_SKIP_WITHOUT(HaveProgram(kPython)) << kPython << " is not installed";
    }
};

TEST_F(ScriptEvents, ScriptServerEchoesLinesOfManyClientsAtOnce)
{
    std::string port = std::to_string(FreePort(SOCK_STREAM));
    auto [server, client] =
        WithPythonPeer(Fill(kEchoServer, {{"%PORT%", port}, {"%CLIENTS%", "50"}}), kEchoClients, {port, "50", "3"});
    EXPECT_EQ(server.status, 0) << server.err;
    EXPECT_NE(server.out.find("served 50 150 50"), std::string::npos) << server.out << server.err;
    EXPECT_EQ(client.out, "echoed 50\n") << client.err;
}

// Connections are polled for OnReceiveData every 20 ms, one event per
// connection and poll: a handler that takes all that is waiting has the
// whole burst in the events its few arrivals make. One write of 10,000
// bytes reaches the script as one piece on loopback, so the count of events
// is far below the count of lines however slow the machine.
TEST_F(ScriptEvents, AHandlerThatDrainsTheConnectionTakesABurstOfLinesInFewEvents)
{
    std::string port = std::to_string(FreePort(SOCK_STREAM));
    auto [server, client] = WithPythonPeer(Fill(kDrainingServer, {{"%PORT%", port}, {"%BYTES%", "10000"}}),
                                           kLineBurst, {port, "1000"});
    EXPECT_EQ(server.status, 0) << server.err;
    EXPECT_EQ(client.out, "sent 1000\n") << client.err;
    size_t at = server.out.find("received 10000 ");
    ASSERT_NE(at, std::string::npos) << server.out << server.err;
    int events = std::stoi(server.out.substr(at + 15));
    EXPECT_GE(events, 1);
    EXPECT_LE(events, 10) << server.out;
}

// The connection is made (the system queues it) but stays unserved until an
// OnConnect handler is installed, however often the script looks; then its
// data comes at once.
TEST_F(ScriptEvents, AServerTakesConnectionsOnlyWhileOnConnectIsInstalled)
{
    std::string tcp = std::to_string(FreePort(SOCK_STREAM)), udp = std::to_string(FreePort(SOCK_DGRAM));
    auto [server, client] = WithPythonPeer(Fill(kQueuedClient, {{"%TCP%", tcp}, {"%UDP%", udp}, {"%LOOKS%", "5"}}),
                                           kQueuedPeer, {tcp, udp, "5"});
    EXPECT_EQ(server.status, 0) << server.err;
    ExpectLines(server.out, {"without OnConnect 0", "with OnConnect 1"});
    EXPECT_EQ(client.out, "echoed 5 back b'queued line\\n'\n") << client.err;
}

TEST_F(ScriptEvents, DatagramsReachTheHandlerWhichClosesItsOwnObject)
{
    std::string port = std::to_string(FreePort(SOCK_DGRAM));
    auto [server, client] = WithPythonPeer(Fill(kUdpEcho, {{"%PORT%", port}}), kUdpClient, {port});
    EXPECT_EQ(server.status, 0) << server.err;
    EXPECT_NE(server.out.find("datagrams 5"), std::string::npos) << server.out << server.err;
    EXPECT_EQ(client.out, "echoed 5\n") << client.err;
}

TEST_F(ScriptEvents, EachProgramStartedWithRunReachesTheHandlerOnceWithItsValue)
{
    std::string ps = dir.file("children.txt");
    PlayerRun run = PlayApplet(dir, AssembleTestApplet(Fill(kRunsTwo, {{"%PS%", ps}})), {"-debugdevice", "console"});
    EXPECT_EQ(run.status, 0) << run.err;
    // In whichever order the programs end.
    for (const char* value : {"first", "second"})
        EXPECT_NE(run.out.find(std::string("ended ") + value + " OnProgramEnd\n"), std::string::npos)
            << run.out << run.err;
    size_t ends = 0;
    for (size_t at = run.out.find("ended "); at != std::string::npos; at = run.out.find("ended ", at + 1))
        ends++;
    EXPECT_EQ(ends, 2u) << run.out;
    QM_SKIP_WITHOUT(HaveProgram("/usr/bin/ps") || HaveProgram("/bin/ps")) << "no ps listed the children";
    std::vector<uint8_t> listed = ReadFileBytes(ps);
    std::istringstream lines(std::string(listed.begin(), listed.end()));
    std::string pid, state;
    int count = 0;
    while (lines >> pid >> state) {
        EXPECT_NE(state[0], 'Z') << "zombie " << pid;
        count++;
    }
    EXPECT_EQ(count, 1) << "only the shell that lists them: " << lines.str();
}

}  // namespace
