// Events reaching applets run by the player: a script's TCP server and UDP
// object served to Python clients through "OnConnect", "OnReceiveData",
// "OnDisconnect" and "OnReceiveUDPData", and programs started with Run
// reporting their end through "OnProgramEnd".
#include <gtest/gtest.h>

#include <unistd.h>

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

const std::string kEnd = "    RETURN r0, 1\n.end\n";

// A handler function of one parameter, the event, in r0.
std::string Handler(const std::string& name, const std::string& body)
{
    return ".function " + name + " params=1\n" + body + kEnd;
}

// Adds one to the global (through r1).
std::string Count(const std::string& global)
{
    return "    GETGLOBAL r1, \"" + global + "\"\n    ADD r1, r1, #1\n    SETGLOBAL r1, \"" + global + "\"\n";
}

std::string Zero(const std::vector<std::string>& globals)
{
    std::string text = "    LOADNUM r0, 0\n";
    for (const std::string& global : globals)
        text += "    SETGLOBAL r0, \"" + global + "\"\n";
    return text;
}

// Installs each event's handler, named as given.
std::string Install(const std::vector<std::pair<std::string, std::string>>& handlers)
{
    std::string text = "    GETGLOBAL r0, \"installeventhandler\"\n    NEWTABLE r1, 0, " +
                       std::to_string(handlers.size()) + "\n";
    for (const auto& [event, function] : handlers)
        text += "    CLOSURE r2, " + function + "\n    SETTABLE r1, \"" + event + "\", r2\n";
    return text + "    CALL r0, 2, 1\n";
}

// Waits for events while the global is below the bound.
std::string WaitWhileBelow(const std::string& label, const std::string& global, const std::string& bound)
{
    return label + ":\n    GETGLOBAL r0, \"waitevent\"\n    CALL r0, 1, 1\n    GETGLOBAL r0, \"" + global +
           "\"\n    LT 1, r0, " + bound + "\n    JMP " + label + "\n";
}

// A TCP echo server: every line that arrives goes back with its line feed;
// each closed connection is closed by its handler. The script ends once
// %CLIENTS% clients have gone and prints what it counted. The events'
// names are matched whatever their case.
const std::string kEchoServer = MainScript(
    Handler("onconnect", Count("connects")) + Handler("onreceive", R"(    GETGLOBAL r1, "receivedata"
    GETTABLE r2, r0, "id"
    LOADNUM r3, 2
    CALL r1, 3, 2
    MOVE r5, r1
    LOADK r6, "\n"
    CONCAT r4, r5, r6
    GETGLOBAL r2, "senddata"
    GETTABLE r3, r0, "id"
    CALL r2, 3, 1
)" + Count("lines")) +
    Handler("ondisconnect", R"(    GETGLOBAL r1, "closeconnection"
    GETTABLE r2, r0, "id"
    CALL r1, 2, 1
)" + Count("disconnects")) +
    Zero({"connects", "lines", "disconnects"}) + CommandCall("createserver", {"#1", "#%PORT%", "\"127.0.0.1\""}) +
    Install({{"OnConnect", "onconnect"}, {"onreceivedata", "onreceive"}, {"ONDISCONNECT", "ondisconnect"}}) +
    WaitWhileBelow("loop", "disconnects", "#%CLIENTS%") +
    CommandCall("debugprint", {"\"served\"", "@connects", "@lines", "@disconnects"}));

// The Python peers' connect, which retries for ten seconds until the script
// listens (None when it never does), and their datagram echo, which sends
// the datagram again until it is back.
const std::string kPyPeer = R"(import socket, sys, threading, time
def connect(port, timeout):
    end = time.time() + 10
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=timeout)
        except OSError:
            if time.time() > end:
                return None
            time.sleep(0.02)
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
udp.settimeout(0.5)
def echo(port, data):
    end = time.time() + 20
    while time.time() < end:
        udp.sendto(data, ("127.0.0.1", port))
        try:
            if udp.recvfrom(100)[0] == data:
                return True
        except socket.timeout:
            pass
    return False
)";

// Python clients, all at once: each connects, sends its lines with CR LF,
// reads each echo back and closes.
const std::string kEchoClients = kPyPeer + R"(port, clients, lines = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
good = []
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
)" + Count("datagrams");

// A UDP echo: each datagram goes back to its sender; the fifth one makes
// the handler close its own object, which ends the script.
const std::string kUdpEcho = MainScript(
    Handler("ondatagram", kEchoDatagram + R"(    LT 1, r1, #5
    JMP done
    GETGLOBAL r1, "closeudpobject"
    GETTABLE r2, r0, "id"
    CALL r1, 2, 1
done:
)") +
    Zero({"datagrams"}) + CommandCall("createudpobject", {"nil", "#%PORT%", "\"127.0.0.1\""}) +
    Install({{"OnReceiveUDPData", "ondatagram"}}) + WaitWhileBelow("loop", "datagrams", "#5") +
    CommandCall("debugprint", {"\"datagrams\"", "@datagrams"}));

const std::string kUdpClient = kPyPeer + R"(port = int(sys.argv[1])
print("echoed", sum(echo(port, b"datagram %d" % i) for i in range(5)))
)";

// Two programs started with Run; the handler prints the value each came
// with. Once both ended, the process list of the player's children goes to
// a file, so that a zombie left behind would show.
const std::string kRunsTwo = MainScript(
    Handler("onend", R"(    GETGLOBAL r1, "debugprint"
    LOADK r2, "ended"
    GETTABLE r3, r0, "userdata"
    GETTABLE r4, r0, "action"
    CALL r1, 4, 1
)" + Count("ends")) +
    Zero({"ends"}) + Install({{"OnProgramEnd", "onend"}}) +
    CommandCall("run", {"\"/bin/sh -c \\\"sleep 0.2; exit 3\\\"\"", "#1", "\"first\""}) +
    CommandCall("run", {"\"/bin/true\"", "#1", "\"second\""}) + WaitWhileBelow("loop", "ends", "#2") +
    CommandCall("execute", {"\"/bin/sh -c \\\"ps -o pid=,stat= --ppid $PPID > '%PS%'\\\"\""}));

// The start of an OnReceiveData handler that takes everything that is
// waiting (#RECEIVEALL and 0: no waiting for more): the data in r1, its
// length in r2.
const std::string kReceiveAll = R"(    GETGLOBAL r1, "receivedata"
    GETTABLE r2, r0, "id"
    LOADNUM r3, 0
    LOADK r4, #0
    CALL r1, 4, 3
)";

// A server whose OnReceiveData handler takes everything that is waiting and
// counts the bytes and the events; it ends once %BYTES% bytes came, or the
// peer left.
const std::string kDrainingServer = MainScript(
    Handler("onconnect", "") + Handler("onreceive", kReceiveAll + R"(    GETGLOBAL r3, "bytes"
    ADD r3, r3, r2
    SETGLOBAL r3, "bytes"
)" + Count("events")) +
    Handler("ondisconnect", "    LOADNUM r1, 1\n    SETGLOBAL r1, \"gone\"\n") + Zero({"bytes", "events", "gone"}) +
    CommandCall("createserver", {"#1", "#%PORT%", "\"127.0.0.1\""}) +
    Install({{"OnConnect", "onconnect"}, {"OnReceiveData", "onreceive"}, {"OnDisconnect", "ondisconnect"}}) + R"(loop:
    GETGLOBAL r0, "waitevent"
    CALL r0, 1, 1
    GETGLOBAL r0, "gone"
    EQ 0, r0, #0
    JMP done
    GETGLOBAL r0, "bytes"
    LT 1, r0, #%BYTES%
    JMP loop
done:
)" + CommandCall("debugprint", {"\"received\"", "@bytes", "@events"}));

// Connects, sends all its lines in one write and stays until the player
// goes (or a minute has passed).
const std::string kLineBurst = kPyPeer + R"(port, lines = int(sys.argv[1]), int(sys.argv[2])
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
const std::string kQueuedClient = MainScript(
    Handler("onconnect", "") + Handler("onreceive", kReceiveAll + R"(    MOVE r4, r1
    GETGLOBAL r2, "senddata"
    GETTABLE r3, r0, "id"
    CALL r2, 3, 1
)" + Count("received")) +
    Handler("ondatagram", kEchoDatagram) + Zero({"received", "datagrams"}) +
    CommandCall("createudpobject", {"#1", "#%UDP%", "\"127.0.0.1\""}) +
    CommandCall("createserver", {"#1", "#%TCP%", "\"127.0.0.1\""}) +
    Install({{"OnReceiveData", "onreceive"}, {"OnReceiveUDPData", "ondatagram"}}) +
    WaitWhileBelow("looking", "datagrams", "#%LOOKS%") +
    CommandCall("debugprint", {"\"without OnConnect\"", "@received"}) + Install({{"OnConnect", "onconnect"}}) +
    WaitWhileBelow("taking", "received", "#1") + CommandCall("debugprint", {"\"with OnConnect\"", "@received"}));

// Connects and sends a line, then has datagrams echoed until it has the
// number asked for, then waits for its line to come back over the
// connection.
const std::string kQueuedPeer = kPyPeer + R"(tcp, port, looks = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
s = connect(tcp, 60)
if s is None:
    sys.exit(1)
s.sendall(b"queued line\n")
echoed = 0
while echoed < looks and echo(port, b"look %d" % echoed):
    echoed += 1
try:
    back = s.makefile("rb").readline()
except OSError:
    back = b""
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

    // Runs the applet, which must end well, while a Python peer runs beside
    // it; answers both runs.
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
        EXPECT_EQ(server.status, 0) << server.err;
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
    ExpectLines(server.out, {"without OnConnect 0", "with OnConnect 1"});
    EXPECT_EQ(client.out, "echoed 5 back b'queued line\\n'\n") << client.err;
}

TEST_F(ScriptEvents, DatagramsReachTheHandlerWhichClosesItsOwnObject)
{
    std::string port = std::to_string(FreePort(SOCK_DGRAM));
    auto [server, client] = WithPythonPeer(Fill(kUdpEcho, {{"%PORT%", port}}), kUdpClient, {port});
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
