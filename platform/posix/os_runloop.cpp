// The run loop of the GUI thread and the wake-up channels of the script
// thread.
//
// Signals arrive on a self-pipe: the handler only stores the quit request,
// raises the abort flag and writes one byte, everything else happens on the
// GUI thread. Other threads reach the GUI thread through a second pipe (its
// bytes carry no meaning, only "look at your queues"). The script thread
// sleeps on an auto-reset event, so a wake-up that comes before the wait is
// never lost.
#include "platform/posix/os_runloop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "core/io/error_codes.h"
#include "platform/posix/os_clipboard.h"
#include "platform/posix/os_memory.h"
#include "platform/posix/os_thread.h"

namespace {

// A GUI request waiting for its turn; lives on the caller's stack.
struct GuiRequest {
    GuiRequest* next;
    OsGuiFunction fn;
    void* argument;
    uintptr_t result;
    OsEvent* done;
};

struct RunLoop {
    bool initialised;
    int signalPipe[2];
    int wakePipe[2];
    OsEvent* scriptWake;
    OsMutex* lock;          // guards requests
    GuiRequest* requests;   // FIFO: appended at the tail
    std::atomic<bool> looping;
    std::atomic<bool> scriptDone;
    pthread_t guiThread;
    uint32_t scriptResult;
    struct sigaction oldQuit[4], oldPipe;
};

RunLoop g_loop{false, {-1, -1}, {-1, -1}, nullptr, nullptr, nullptr, {}, {}, {}, 0, {}, {}};

// Each of these ends the run the way a user abort does, so that shutdown
// runs and the runtime's temporary files go with it.
constexpr int kQuitSignals[4] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
OsScriptMain g_scriptMain;
OsLoopHooks g_hooks;
std::atomic<bool> g_quitRequested;
// The signal handler may run before OsInit made the pipe or after shutdown
// closed it; it reads the descriptor once through this atomic.
std::atomic<int> g_signalWriteFd{-1};

constexpr size_t kScriptStack = 16 * 1024 * 1024;

void WriteByte(int fd)
{
    if (fd < 0) return;
    char c = 1;
    // A full pipe already holds a wake-up, so a failed write loses nothing.
    ssize_t ignored = write(fd, &c, 1);
    (void)ignored;
}

void DrainPipe(int fd)
{
    char buffer[64];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
}

void OnQuitSignal(int)
{
    int saved = errno;
    g_quitRequested.store(true);
    if (g_hooks.raiseAbort) g_hooks.raiseAbort();
    WriteByte(g_signalWriteFd.load());
    errno = saved;
}

bool MakePipe(int fds[2])
{
    return pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0;
}

void ClosePipe(int fds[2])
{
    for (int i = 0; i < 2; ++i) {
        if (fds[i] >= 0) close(fds[i]);
        fds[i] = -1;
    }
}

bool OnGuiThread()
{
    return g_loop.looping.load() && pthread_equal(pthread_self(), g_loop.guiThread);
}

void ServeRequests()
{
    for (;;) {
        OsLock(g_loop.lock);
        GuiRequest* r = g_loop.requests;
        if (r) g_loop.requests = r->next;
        OsUnlock(g_loop.lock);
        if (!r) return;
        r->result = r->fn(r->argument);
        OsSetEvent(r->done);
    }
}

int ScriptThreadProc(OsThread*, void* argument)
{
    auto* vm = static_cast<VmState*>(argument);
    g_loop.scriptResult = g_scriptMain ? g_scriptMain(vm) : 0;
    g_loop.scriptDone.store(true);
    WriteByte(g_loop.wakePipe[1]);
    return 0;
}

}  // namespace

uint32_t OsInit()
{
    if (g_loop.initialised) return 0;
    if (g_hooks.startTimers) {
        if (uint32_t error = g_hooks.startTimers()) return error;
    }
    if (!MakePipe(g_loop.signalPipe) || !MakePipe(g_loop.wakePipe)) {
        ClosePipe(g_loop.signalPipe);
        ClosePipe(g_loop.wakePipe);
        return ERR_PIPE;
    }
    g_loop.scriptWake = OsCreateEvent();
    g_loop.lock = OsCreateLock();
    if (!g_loop.scriptWake || !g_loop.lock) {
        OsShutdown();
        return ERR_SEMAPHORE;
    }
    g_signalWriteFd.store(g_loop.signalPipe[1]);

    struct sigaction quit {};
    quit.sa_handler = OnQuitSignal;
    sigemptyset(&quit.sa_mask);
    quit.sa_flags = SA_RESTART;
    for (int i = 0; i < 4; ++i)
        sigaction(kQuitSignals[i], &quit, &g_loop.oldQuit[i]);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &g_loop.oldPipe);
    g_loop.initialised = true;
    return 0;
}

void OsSetScriptMain(OsScriptMain main) { g_scriptMain = main; }

void OsSetLoopHooks(const OsLoopHooks& hooks) { g_hooks = hooks; }

uint32_t OsRunMain(VmState* vm)
{
    if (!g_loop.initialised) {
        uint32_t error = OsInit();
        if (error) return error;
    }
    g_loop.scriptDone.store(false);
    g_loop.scriptResult = 0;
    g_loop.guiThread = pthread_self();
    g_loop.looping.store(true);
    OsThread* script = OsCreateThread("Script thread", ScriptThreadProc, vm, kScriptStack);
    if (!script) {
        g_loop.looping.store(false);
        return ERR_THREAD;
    }
    pollfd fds[2] = {{g_loop.signalPipe[0], POLLIN, 0}, {g_loop.wakePipe[0], POLLIN, 0}};
    while (!g_loop.scriptDone.load()) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents) {
            DrainPipe(fds[0].fd);
            OsWakeScript();
        }
        if (fds[1].revents) {
            DrainPipe(fds[1].fd);
            ServeRequests();
            // Timer wake-ups come through here too: the script thread looks
            // for fired timers itself when it pumps.
            OsWakeScript();
        }
    }
    OsStopThread(script);
    // The script may have queued a request in its last moments.
    ServeRequests();
    g_loop.looping.store(false);
    return g_loop.scriptResult;
}

uintptr_t OsCallGui(OsGuiFunction fn, void* argument)
{
    if (!g_loop.looping.load() || OnGuiThread() || g_loop.scriptDone.load())
        return fn(argument);
    GuiRequest request{nullptr, fn, argument, 0, OsCreateEvent()};
    if (!request.done) return fn(argument);
    OsLock(g_loop.lock);
    GuiRequest** link = &g_loop.requests;
    while (*link) link = &(*link)->next;
    *link = &request;
    OsUnlock(g_loop.lock);
    WriteByte(g_loop.wakePipe[1]);
    OsWaitEvent(request.done);
    OsDeleteEvent(request.done);
    return request.result;
}

void OsShutdown()
{
    if (g_loop.initialised) {
        for (int i = 0; i < 4; ++i)
            sigaction(kQuitSignals[i], &g_loop.oldQuit[i], nullptr);
        sigaction(SIGPIPE, &g_loop.oldPipe, nullptr);
    }
    g_signalWriteFd.store(-1);
    if (g_hooks.stopTimers) g_hooks.stopTimers();
    ClosePipe(g_loop.signalPipe);
    ClosePipe(g_loop.wakePipe);
    if (g_loop.scriptWake) OsDeleteEvent(g_loop.scriptWake);
    if (g_loop.lock) OsDeleteLock(g_loop.lock);
    g_loop.scriptWake = nullptr;
    g_loop.lock = nullptr;
    g_loop.requests = nullptr;
    g_loop.initialised = false;
    OsClearClipboard();
}

void OsWakeScript()
{
    if (g_loop.scriptWake) OsSetEvent(g_loop.scriptWake);
}

void OsPostTimerWakeup()
{
    if (g_loop.looping.load() && !g_loop.scriptDone.load()) WriteByte(g_loop.wakePipe[1]);
    else OsWakeScript();
}

int OsWaitForWake(uint32_t ms)
{
    if (!g_loop.scriptWake) return 0;
    // Waits in slices so that a quit signal that came while no loop was
    // serving (start-up, tests without a loop) still ends the wait soon.
    constexpr uint32_t kSlice = 100;
    for (;;) {
        if (g_quitRequested.load()) return 1;
        uint32_t step = ms < kSlice ? ms : kSlice;
        if (OsWaitEventTimeout(g_loop.scriptWake, step)) return 1;
        if (ms != 0xFFFFFFFFu) {
            ms -= step;
            if (ms == 0) return 0;
        }
    }
}

bool OsQuitRequested() { return g_quitRequested.load(); }

bool OsTakeQuitRequest() { return g_quitRequested.exchange(false); }

void OsRequestQuit()
{
    g_quitRequested.store(true);
    if (g_hooks.raiseAbort) g_hooks.raiseAbort();
    WriteByte(g_signalWriteFd.load());
    OsWakeScript();
}
