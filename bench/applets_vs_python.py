#!/usr/bin/env python3
"""Five workloads as users meet them: whole applets with line information on
every statement, assembled by the built qmasm and run by the built player
(with the event check the player installs on every applet), against the same
programs run by CPython inside a function, in the same run. Prints the
player's time over python's for each with the peak memory of both, the idle
cost of the event check per source line, and fib(30) with and without line
information.

    python3 bench/applets_vs_python.py BUILD_DIR [--runs N] [--python PATH] [--baseline BUILD_DIR]

The player's times are whole-process times (start-up included); python's
are those of its main() alone, taken by the script itself (compute only),
which is the harder peer. Best of N runs: wall time, and CPU time (user +
system), which a busy machine disturbs less. Peak memory is each process's
largest resident set. Both sides run on one thread.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time


def numeric_for(index, first, last, test):
    """The head of `for r<index> = first, last do`: the index, limit and step
    in three registers from r<index> on, and the jump to the loop's test (a
    FORLOOP steps before it tests)."""
    return (f"    LOADNUM r{index}, {first}\n    LOADK r{index + 1}, #{last}\n"
            f"    LOADNUM r{index + 2}, 1\n    SUB r{index}, r{index}, r{index + 2}\n    JMP {test}\n")


# Each workload: assembly text of the applet (one .line per statement, as a
# compiler writes them) and the same program in Python. Both print their
# result, which must agree.
FIB = """
.function fib params=1
.line 2
    LT 1, r0, #2
    JMP small
.line 3
    GETGLOBAL r1, "fib"
    SUB r2, r0, #1
    CALL r1, 2, 2
    GETGLOBAL r2, "fib"
    SUB r3, r0, #2
    CALL r2, 2, 2
    ADD r1, r1, r2
    RETURN r1, 2
.line 2
small: RETURN r0, 2
.end
.line 1
    CLOSURE r0, fib
    SETGLOBAL r0, "fib"
.line 5
    GETGLOBAL r0, "debugprint"
    GETGLOBAL r1, "fib"
    LOADK r2, #30
    CALL r1, 2, 2
    CALL r0, 2, 1
.line 6
    RETURN r0, 1
"""
PY_FIB = """
def fib(n):
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)
def main():
    print(fib(30))
"""

LOOP = """
.line 1
    LOADNUM r0, 0
.line 2
""" + numeric_for(1, 1, 10000000, "test") + """.line 3
body:
    MOD r5, r1, #7
    ADD r0, r0, r5
.line 2
test: FORLOOP r1, body
.line 5
    GETGLOBAL r4, "debugprint"
    MOVE r5, r0
    CALL r4, 2, 1
    RETURN r0, 1
"""
PY_LOOP = """
def main():
    s = 0
    for i in range(1, 10000001):
        s = s + i % 7
    print(s)
"""

TABLE = """
.line 1
    NEWTABLE r0, 0, 0
.line 2
""" + numeric_for(1, 1, 1000000, "t1") + """.line 3
b1: SETTABLE r0, r1, r1
.line 2
t1: FORLOOP r1, b1
.line 5
    LOADNUM r4, 0
.line 6
""" + numeric_for(5, 1, 1000000, "t2") + """.line 7
b2: GETTABLE r9, r0, r5
    ADD r4, r4, r9
.line 6
t2: FORLOOP r5, b2
.line 9
    GETGLOBAL r8, "debugprint"
    MOVE r9, r4
    CALL r8, 2, 1
    RETURN r0, 1
"""
PY_TABLE = """
def main():
    t = {}
    for i in range(1, 1000001):
        t[i] = i
    s = 0
    for i in range(1, 1000001):
        s = s + t[i]
    print(s)
"""

METHOD = """
.function add params=2
.line 3
    GETTABLE r2, r0, "v"
    ADD r2, r2, r1
    SETTABLE r0, "v", r2
.line 4
    RETURN r0, 1
.end
.line 1
    NEWTABLE r0, 0, 1
    SETTABLE r0, "v", #0
.line 2
    CLOSURE r1, add
    SETTABLE r0, "add", r1
.line 6
""" + numeric_for(1, 1, 3000000, "test") + """.line 7
body:
    SELF r5, r0, "add"
    MOVE r7, r1
    CALL r5, 3, 1
.line 6
test: FORLOOP r1, body
.line 9
    GETGLOBAL r4, "debugprint"
    GETTABLE r5, r0, "v"
    CALL r4, 2, 1
    RETURN r0, 1
"""
PY_METHOD = """
class Obj:
    def __init__(self):
        self.v = 0
    def add(self, i):
        self.v = self.v + i
def main():
    obj = Obj()
    for i in range(1, 3000001):
        obj.add(i)
    print(obj.v)
"""

STRINGS = """
.line 1
    NEWTABLE r0, 0, 0
.line 2
""" + numeric_for(1, 0, 299999, "test") + """.line 3
body:
    LOADK r5, "item"
    MOVE r6, r1
    CONCAT r4, r5, r6
    SETTABLE r0, r1, r4
.line 2
test: FORLOOP r1, body
.line 5
    GETGLOBAL r4, "concat"
    MOVE r5, r0
    CALL r4, 2, 2
.line 6
    GETGLOBAL r5, "debugprint"
    GETGLOBAL r6, "strlen"
    MOVE r7, r4
    CALL r6, 2, 2
    CALL r5, 2, 1
    RETURN r0, 1
"""
PY_STRINGS = """
def main():
    t = []
    for i in range(300000):
        t.append("item" + str(i))
    s = "".join(t)
    print(len(s))
"""

WORKLOADS = [
    ("fib(30)", FIB, PY_FIB),
    ("10M-step loop s = s + i % 7", LOOP, PY_LOOP),
    ("1M-entry table fill and read", TABLE, PY_TABLE),
    ("3M method calls obj:add(i)", METHOD, PY_METHOD),
    ("300k strings joined by Concat", STRINGS, PY_STRINGS),
]

# The idle event check: a loop of 10M iterations over four one-statement
# lines (40M source lines), with line information and without; the
# difference per line is what the check costs when nothing is due.
LINES = """
.line 1
    LOADNUM r0, 0
.line 2
""" + numeric_for(1, 1, 10000000, "test") + """body:
.line 3
    ADD r0, r0, r1
.line 4
    SUB r0, r0, #1
.line 5
    ADD r0, r0, #2
.line 2
test: FORLOOP r1, body
.line 7
    GETGLOBAL r4, "debugprint"
    MOVE r5, r0
    CALL r4, 2, 1
    RETURN r0, 1
"""
LINES_PER_RUN = 10_000_000 * 4


# Appended to every python program: times its main() alone and reports it
# on stderr, so that the interpreter's start-up is left out.
PY_TIMER = """
import sys as _sys, time as _time
_cpu, _wall = _time.process_time(), _time.perf_counter()
main()
_sys.stdout.flush()
_sys.stderr.write("compute %r %r\\n" % (_time.perf_counter() - _wall, _time.process_time() - _cpu))
"""

ONE_THREAD = dict(os.environ, OMP_NUM_THREADS="1", OPENBLAS_NUM_THREADS="1")


def without_lines(text):
    return "\n".join(l for l in text.splitlines() if not l.strip().startswith(".line"))


def run_once(cmd):
    """Wall and CPU time, peak resident memory (KiB) and the output of one
    run; a python program's own compute times replace its process times.
    GNU time reports the peak: a child's own rusage would count the memory
    of this script, which it shares until it starts the program. The CPU
    time comes from the rusage of GNU time, which holds its child's."""
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
        t0 = time.perf_counter()
        p = subprocess.Popen(["/usr/bin/time", "-f", "peak %M"] + cmd, stdout=out, stderr=err,
                             text=True, env=ONE_THREAD)
        _, status, usage = os.wait4(p.pid, 0)
        wall = time.perf_counter() - t0
        p.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        stdout, stderr = out.read(), err.read()
    if p.returncode != 0:
        sys.exit(f"{' '.join(cmd)} failed ({p.returncode}): {stderr.strip()}")
    cpu = usage.ru_utime + usage.ru_stime
    peak = 0
    for line in stderr.splitlines():
        fields = line.split()
        if line.startswith("peak "):
            peak = int(fields[1])
        elif line.startswith("compute "):
            wall, cpu = (float(x) for x in fields[1:3])
    return wall, cpu, peak, stdout.strip()


def run_best(cmds, runs):
    """For each command: the best wall and CPU time of `runs` runs, the
    largest peak memory (KiB) and the output. The commands take turns, so
    that a change in the machine's load touches them alike."""
    best = [[float("inf"), float("inf"), 0, None] for _ in cmds]
    for _ in range(runs):
        for b, cmd in zip(best, cmds):
            wall, cpu, peak, output = run_once(cmd)
            b[0], b[1], b[2], b[3] = min(b[0], wall), min(b[1], cpu), max(b[2], peak), output
    return best


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--python", default="/usr/bin/python3")
    ap.add_argument("--baseline", help="another build whose player runs in the same turns, "
                                       "for a before/after comparison")
    args = ap.parse_args()
    qmasm = os.path.join(args.build, "qmasm")
    player = os.path.join(args.build, "quillmereplayer")
    players = [player] + ([os.path.join(args.baseline, "quillmereplayer")] if args.baseline else [])
    py_version = subprocess.run([args.python, "--version"], stdout=subprocess.PIPE,
                                text=True).stdout.strip()
    with tempfile.TemporaryDirectory() as tmp:
        def applet(name, text):
            src = os.path.join(tmp, name + ".qas")
            out = os.path.join(tmp, name + ".qma")
            with open(src, "w") as f:
                f.write(text)
            subprocess.run([qmasm, src, "--applet", out], check=True)
            return out

        def script(name, text):
            path = os.path.join(tmp, name + ".py")
            with open(path, "w") as f:
                f.write(text + PY_TIMER)
            return path

        print(f"player {player} (whole process) against {args.python} ({py_version}, main() only), "
              f"best of {args.runs}, taking turns")
        print(f"{'workload':32s} {'player':>23s} {'python':>23s} {'ratio':>13s}"
              + (f" {'baseline':>23s} {'ratio':>13s}" if args.baseline else ""))
        units = f"{'wall s':>7s} {'cpu s':>7s} {'peak MB':>7s}"
        print(f"{'':32s} {units} {units} {'wall':>6s} {'cpu':>6s}"
              + (f" {units} {'wall':>6s} {'cpu':>6s}" if args.baseline else ""))
        for i, (name, text, py) in enumerate(WORKLOADS):
            qma = applet(f"w{i}", text)
            results = run_best([[args.python, script(f"w{i}", py)]] + [[p, qma] for p in players], args.runs)
            py_wall, py_cpu, py_rss, py_out = results[0]
            line = f"{name:32s}"
            for j, (vm_wall, vm_cpu, vm_rss, vm_out) in enumerate(results[1:]):
                if j == 0:
                    line += f" {vm_wall:7.3f} {vm_cpu:7.3f} {vm_rss / 1024:7.1f} {py_wall:7.3f} {py_cpu:7.3f} " \
                            f"{py_rss / 1024:7.1f}"
                else:
                    line += f" {vm_wall:7.3f} {vm_cpu:7.3f} {vm_rss / 1024:7.1f}"
                line += f" {vm_wall / py_wall:6.2f} {vm_cpu / py_cpu:6.2f}"
                if vm_out != py_out:
                    line += f"  OUTPUTS DIFFER: {vm_out!r} vs {py_out!r}"
            print(line)

        def with_and_without_lines(name, text):
            return run_best([[player, applet(name + "_lines", text)],
                             [player, applet(name + "_bare", without_lines(text))]], args.runs)

        lines, bare = with_and_without_lines("lines", LINES)
        print(f"idle event check per line: {(lines[0] - bare[0]) / LINES_PER_RUN * 1e9:.2f} ns wall, "
              f"{(lines[1] - bare[1]) / LINES_PER_RUN * 1e9:.2f} ns cpu "
              f"({lines[0]:.3f} s with line information, {bare[0]:.3f} s without, "
              f"{LINES_PER_RUN // 1_000_000}M lines)")

        fib_lines, fib_bare = with_and_without_lines("fib", FIB)
        print(f"fib(30): {fib_lines[0]:.3f} s wall / {fib_lines[1]:.3f} s cpu with line information, "
              f"{fib_bare[0]:.3f} s / {fib_bare[1]:.3f} s without "
              f"({(fib_lines[0] / fib_bare[0] - 1) * 100:+.1f}% wall, "
              f"{(fib_lines[1] / fib_bare[1] - 1) * 100:+.1f}% cpu)")


if __name__ == "__main__":
    main()
