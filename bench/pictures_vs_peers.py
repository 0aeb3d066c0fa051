#!/usr/bin/python3
"""Picture work as users meet it: applets with line information on every
statement, assembled by the built qmasm and run by the built player, against
the peer a user would compare with, in the same run: loading a 4000x3000 PNG
and JPEG as a brush against PIL in a python3 process, and BlurBrush,
QuantizeBrush, ScaleBrush and RotateBrush on a 2000x2000 brush against
ImageMagick's convert held to one thread (the player draws on one); and
the same kernels (rotate, smooth scale down and up, Gaussian blur at 2000 and
8000 pixels a side, 256 colours with Floyd-Steinberg dithering) against
OpenCV, vips and PIL, each on one thread, with peak memory beside the time.

    /usr/bin/python3 bench/pictures_vs_peers.py BUILD_DIR [--runs N]
        [--peers all|convert|kernels] [--before OLD_PLAYER]

--before times an older player binary in the same run, for before/after
ratios of the kernel rows.

The pictures are made here with PIL, in a temporary folder. Every time is a
whole process (start-up, reading the picture, the work), best of N runs;
"net" subtracts a run that does everything but the work: a load-only applet
for the player, a plain copy for convert. Every applet prints GetLastError
and the brush's size, which is checked, with convert's result, before any
timing."""
import argparse
import os
import random
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from applets_vs_python import run_best  # noqa: E402

CONVERT = "/usr/bin/convert"
PYTHON = "/usr/bin/python3"  # the one with PIL and OpenCV
VIPS = "/usr/bin/vips"


def photo_like(width, height, seed):
    """A picture with what photographs have: smooth shading, edges and fine
    detail, and grain, so that neither codec finds it unusually easy."""
    from PIL import Image, ImageDraw, ImageFilter
    red = Image.radial_gradient("L").resize((width, height), Image.BILINEAR)
    green = Image.linear_gradient("L").rotate(35, resample=Image.BILINEAR).resize((width, height), Image.BILINEAR)
    blue = Image.effect_mandelbrot((width, height), (-2.1, -1.2, 0.9, 1.2), 90)
    picture = Image.merge("RGB", (red, green, blue))
    draw = ImageDraw.Draw(picture)
    rng = random.Random(seed)
    for _ in range(60):
        x, y = rng.randrange(width), rng.randrange(height)
        r = rng.randrange(width // 40, width // 8)
        draw.ellipse((x - r, y - r, x + r, y + r), fill=tuple(rng.randrange(256) for _ in range(3)))
    picture = picture.filter(ImageFilter.GaussianBlur(3))
    grain = Image.frombytes("L", (width, height), rng.randbytes(width * height)).convert("RGB")
    return Image.blend(picture, grain, 0.12)


def picture_size(path):
    from PIL import Image
    with Image.open(path) as im:
        return im.size


class Statements:
    """Assembly text with a .line before each statement, as a compiler
    writes them."""

    def __init__(self):
        self.lines = []

    def add(self, text):
        self.lines.append(f".line {len(self.lines) + 1}\n{text}")

    def call(self, name, *operands):
        """The global command `name` with operands in r1 on: assembly
        constants, or a dict for a table of constants."""
        text = f'    GETGLOBAL r0, "{name}"\n'
        for i, o in enumerate(operands, 1):
            if isinstance(o, dict):
                text += f"    NEWTABLE r{i}, 0, {len(o)}\n"
                text += "".join(f'    SETTABLE r{i}, "{k}", {v}\n' for k, v in o.items())
            else:
                text += f"    LOADK r{i}, {o}\n"
        self.add(text + f"    CALL r0, {len(operands) + 1}, 1\n")

    def text(self):
        return "".join(self.lines) + "    RETURN r0, 1\n"


def quoted(path):
    return '"' + path.replace("\\", "\\\\").replace('"', '\\"') + '"'


def brush_applet(picture, command=None, operands=(), repeat=0):
    """Loads `picture` as brush 1, has `command` work on it, and prints
    "<GetLastError> <width> <height>"; errors come back, they end nothing.
    With `repeat`, loads it as brushes 1..repeat, has the command work on
    each, and first prints the milliseconds the commands took."""
    s = Statements()
    s.call("exitonerror", "#0")
    for i in range(1, max(repeat, 1) + 1):
        s.call("loadbrush", f"#{i}", quoted(picture))
    if repeat:
        s.call("starttimer", "#1")
        for i in range(1, repeat + 1):
            s.call(command, f"#{i}", *operands)
        s.add('    GETGLOBAL r0, "debugprint"\n    GETGLOBAL r1, "gettimer"\n    LOADK r2, #1\n'
              "    CALL r1, 2, 2\n    CALL r0, 2, 1\n")
    elif command:
        s.call(command, "#1", *operands)
    size = "".join(f'    GETGLOBAL r{r}, "getattribute"\n    LOADK r{r + 1}, #3\n    LOADK r{r + 2}, #1\n'
                   f"    LOADK r{r + 3}, #{attribute}\n    CALL r{r}, 4, 2\n"
                   for r, attribute in ((2, 0), (3, 1)))
    s.add('    GETGLOBAL r0, "debugprint"\n    GETGLOBAL r1, "getlasterror"\n    CALL r1, 1, 2\n'
          + size + "    CALL r0, 4, 1\n")
    return s.text()


PIL_LOAD = "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\nim.load()\nprint(0, *im.size)\n"


# ---------------------------------------------------------------------------
# The kernels against OpenCV, vips and PIL, each held to one thread.

PEER_SCRIPT = r'''
import sys
import time
what, op, src, repeat = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
args = [float(a) for a in sys.argv[5:]]
if what == "cv2":
    import cv2
    cv2.setNumThreads(1)
    # Four bytes a pixel, as the player's brushes hold them.
    im = cv2.cvtColor(cv2.imread(src, cv2.IMREAD_COLOR), cv2.COLOR_BGR2BGRA)
    h, w = im.shape[:2]
else:
    from PIL import Image, ImageFilter
    im = Image.open(src).convert("RGB")
    im.load()
    w, h = im.size
# Each round works on a copy made beforehand, and its result takes the
# copy's place (im = op(im)), as a brush command leaves its result in place
# of the brush: what freeing the old picture costs counts on both sides.
copies = [im.copy() for _ in range(repeat)]
del im
t0, c0 = time.perf_counter(), time.process_time()
for _ in range(repeat):
    im = copies.pop()
    if what == "cv2":
        if op == "rotate":
            W, H = int(args[1]), int(args[2])
            m = cv2.getRotationMatrix2D((w / 2, h / 2), args[0], 1.0)
            m[0, 2] += W / 2 - w / 2
            m[1, 2] += H / 2 - h / 2
            im = cv2.warpAffine(im, m, (W, H), flags=cv2.INTER_LINEAR, borderMode=cv2.BORDER_CONSTANT)
        elif op in ("linear", "area"):
            im = cv2.resize(im, (int(args[0]), int(args[1])),
                            interpolation=cv2.INTER_LINEAR if op == "linear" else cv2.INTER_AREA)
        elif op == "blur":
            k = 2 * int(args[0]) + 1
            im = cv2.GaussianBlur(im, (k, k), args[1], borderType=cv2.BORDER_REPLICATE)
    else:
        if op == "rotate":
            im = im.rotate(args[0], resample=Image.BILINEAR, expand=True)
        elif op == "linear":
            im = im.resize((int(args[0]), int(args[1])), Image.BILINEAR)
        elif op == "blur":
            im = im.filter(ImageFilter.GaussianBlur(args[1]))
        elif op == "quantize":
            palette = im.quantize(int(args[0]), method=Image.Quantize.FASTOCTREE)
            im = im.quantize(palette=palette, dither=Image.Dither.FLOYDSTEINBERG)
# The work alone, as timed in here, and the result's size.
print((time.perf_counter() - t0) / repeat, (time.process_time() - c0) / repeat)
print(0, *(im.shape[1::-1] if what == "cv2" else im.size))
'''


def make_pictures(folder):
    """The kernel rows' pictures, made in a process of their own so that
    the bench stays small: a child's peak memory starts from its parent's.
    Each as a 24-bit BMP (the player, OpenCV, PIL) and a four-band vips
    file, so that every side reads it quickly and works on four bytes a
    pixel."""
    from PIL import Image
    small = photo_like(2000, 2000, 2)
    pictures = {"2000": small, "4000x3000": photo_like(4000, 3000, 1)}
    rng = random.Random(3)
    grain = Image.frombytes("L", (8000, 8000), rng.randbytes(64000000)).convert("RGB")
    pictures["8000"] = Image.blend(small.resize((8000, 8000), Image.BICUBIC), grain, 0.05)
    for name, im in pictures.items():
        bmp = os.path.join(folder, name + ".bmp")
        im.save(bmp)
        subprocess.run([VIPS, "bandjoin_const", bmp, os.path.join(folder, name + ".v"), "255"], check=True)


class RusagePopen(subprocess.Popen):
    """Popen that keeps the child's own CPU time and peak memory from wait4."""

    def _try_wait(self, wait_flags):
        try:
            pid, status, usage = os.wait4(self.pid, wait_flags)
        except ChildProcessError:
            pid, status = self.pid, 0
            usage = None
        if pid == self.pid and usage is not None:
            self.rusage = (usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0)
        return pid, status


def measured(command, runs, env=None, inner=None):
    """Best wall and CPU time of `runs` runs, the peak resident memory (MB)
    of the last, its output, and the best of the seconds inner(output)
    gives for the work alone (None without `inner`)."""
    best_wall = best_cpu = best_inner = None
    for _ in range(runs):
        t0 = time.perf_counter()
        p = RusagePopen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
        out, err = p.communicate()
        wall = time.perf_counter() - t0
        if p.returncode != 0:
            sys.exit(f"{' '.join(command)} failed ({p.returncode}): {err.strip()}")
        cpu, peak = p.rusage
        best_wall = wall if best_wall is None else min(best_wall, wall)
        best_cpu = cpu if best_cpu is None else min(best_cpu, cpu)
        if inner:
            t = inner(out)
            best_inner = t if best_inner is None else min(best_inner, t)
    return best_wall, best_cpu, peak, out, best_inner


def kernel_rows(args):
    build = os.path.abspath(args.build)
    qmasm = os.path.join(build, "qmasm")
    players = [("player", os.path.join(build, "quillmereplayer"))]
    if args.before:
        players.insert(0, ("before", os.path.abspath(args.before)))
    one = dict(os.environ, VIPS_CONCURRENCY="1", OMP_NUM_THREADS="1", OPENCV_FOR_THREADS_NUM="1")
    cv_version = subprocess.run([PYTHON, "-c", "import cv2; print(cv2.__version__)"],
                                stdout=subprocess.PIPE, text=True).stdout.strip()
    vips_version = subprocess.run([VIPS, "--version"], stdout=subprocess.PIPE, text=True).stdout.strip()
    pil_version = subprocess.run([PYTHON, "-c", "import PIL; print(PIL.__version__)"],
                                 stdout=subprocess.PIPE, text=True).stdout.strip()

    with tempfile.TemporaryDirectory(prefix="qm-kernels-") as tmp:
        def path(name):
            return os.path.join(tmp, name)

        with open(path("peer.py"), "w") as f:
            f.write(PEER_SCRIPT)
        subprocess.run([PYTHON, os.path.abspath(__file__), "--make-pictures", tmp], check=True)

        def applet(name, text):
            with open(path(name + ".qas"), "w") as f:
                f.write(text)
            subprocess.run([qmasm, path(name + ".qas"), "--applet", path(name + ".qma")], check=True)
            return path(name + ".qma")

        def size_of(out):
            words = out.split()
            if len(words) < 3 or words[-3] != "0":
                sys.exit(f"unexpected output {out!r}")
            return tuple(map(int, words[-2:]))

        # (row, picture, repeat, player command and operands, peers: (name, kind, op, operands)); a
        # vips op is its argument list. Short work is repeated (on copies, on both sides) so that
        # the player's millisecond timer resolves it.
        rotated = (2732, 2732)
        vips_blur = ["gaussblur", "@in", "@out", "10", "--min-ampl", "0.01"]
        work = [
            ("rotate 2000x2000 30 deg bilinear", "2000", 4, ("rotatebrush", ["#30", "#1", "#1", "#1"]),
             [("OpenCV warpAffine", "cv2", "rotate", [30, *rotated]),
              ("vips rotate", "vips", ["rotate", "@in", "@out", "30"], None),
              ("PIL rotate expand", "pil", "rotate", [30])]),
            ("smooth 4:1 down 4000x3000 -> 1000x750", "4000x3000", 8, ("scalebrush", ["#1000", "#750", "#1"]),
             [("OpenCV INTER_LINEAR", "cv2", "linear", [1000, 750]),
              ("OpenCV INTER_AREA", "cv2", "area", [1000, 750]),
              ("vips affine bilinear", "vips", ["affine", "@in", "@out", "0.25 0 0 0.25"], None),
              ("PIL BILINEAR (antialiased)", "pil", "linear", [1000, 750])]),
            ("smooth 2x up 2000x2000 -> 4000x4000", "2000", 4, ("scalebrush", ["#4000", "#4000", "#1"]),
             [("OpenCV INTER_LINEAR", "cv2", "linear", [4000, 4000]),
              ("vips affine bilinear", "vips", ["affine", "@in", "@out", "2 0 0 2"], None),
              ("PIL BILINEAR", "pil", "linear", [4000, 4000])]),
            ("Gaussian sigma 10 (61 taps) 2000x2000", "2000", 2, ("blurbrush", ["#30", "#10"]),
             [("OpenCV GaussianBlur 61", "cv2", "blur", [30, 10]),
              ("vips gaussblur 10", "vips", vips_blur, None)]),
            ("Gaussian sigma 10 (61 taps) 8000x8000", "8000", 1, ("blurbrush", ["#30", "#10"]),
             [("OpenCV GaussianBlur 61", "cv2", "blur", [30, 10]),
              ("vips gaussblur 10", "vips", vips_blur, None),
              ("PIL GaussianBlur (box passes)", "pil", "blur", [30, 10])]),
            ("256 colours Floyd-Steinberg 2000x2000", "2000", 2, ("quantizebrush", ["#256", "#1"]),
             [("PIL octree + dithered remap", "pil", "quantize", [256])]),
        ]

        def peer_command(kind, op, operands, picture, repeat):
            if kind == "vips":
                vips_args = [a.replace("@in", path(picture + ".v")).replace("@out", path("out.v"))
                             for a in (op if op else ["avg", "@in"])]
                return [VIPS] + vips_args
            return [PYTHON, path("peer.py"), kind, op, path(picture + ".bmp"), str(repeat)] + \
                [str(a) for a in operands]

        def peer_seconds(out):
            return float(out.split("\n")[0].split()[0])

        results = []
        for row, picture, repeat, (command, operands), peers in work:
            source = path(picture + ".bmp")
            for who, binary in players:
                load = measured([binary, applet(f"load_{who}_{picture}", brush_applet(source))], 1, one)
                # One run as a user would make it, for its size, its peak and its whole time...
                once = [binary, applet(f"{command}_{who}_{picture}", brush_applet(source, command, operands))]
                whole = measured(once, args.runs, one)
                size_of(whole[3])
                # ...and the work alone, timed inside the applet.
                timed = [binary, applet(f"{command}_{who}_{picture}_timed",
                                        brush_applet(source, command, operands, repeat))]
                net = measured(timed, args.runs, one, lambda out: int(out.split()[0]) / 1000.0 / repeat)[4]
                results.append((row, who, whole[0], net, whole[2]))
                results.append((row, f"  {who}: load only", load[0], None, load[2]))
            for name, kind, op, operands in peers:
                if kind == "vips":
                    # Less a run that reads the picture and writes nothing.
                    read = measured(peer_command(kind, None, [], picture, 1), args.runs, one)
                    theirs = measured(peer_command(kind, op, operands, picture, 1), args.runs, one)
                    net = theirs[0] - read[0]
                else:
                    theirs = measured(peer_command(kind, op, operands, picture, repeat), args.runs, one,
                                      peer_seconds)
                    size_of(theirs[3])
                    net = theirs[4]
                    theirs = measured(peer_command(kind, op, operands, picture, 1), args.runs, one)
                results.append((row, name, theirs[0], net, theirs[2]))

    print(f"\nKernels against OpenCV {cv_version}, {vips_version} and PIL {pil_version}, one thread each "
          f"(VIPS_CONCURRENCY=1, cv2.setNumThreads(1)),\nbest of {args.runs}. 'whole' is the whole process doing "
          f"the work once; 'work' is the work alone, in wall seconds:\nthe player's as its own timer measures it "
          f"around the command, OpenCV's and PIL's around the call, vips's as\nits run less 'vips avg' of the "
          f"input (a read that writes nothing). Every side works on four bytes a\npixel and writes nothing but "
          f"vips (its result, a .v file). Each side's result takes the place\nof its input, as a brush command's "
          f"does (OpenCV and PIL: im = op(im) on a copy made beforehand).\nRatios are "
          f"'work', the player's over the peer's (before, after); peak is each run's\nresident peak.")
    print(f"{'row':40s} {'side':30s} {'whole s':>8s} {'work s':>7s} {'peak MB':>8s}  ratio")
    by_row = {}
    for row, who, wall, net, peak in results:
        by_row.setdefault(row, []).append((who, wall, net, peak))
    for row, sides in by_row.items():
        mine = {who: net for who, _, net, _ in sides if who in ("player", "before")}
        for who, wall, net, peak in sides:
            ratio = ""
            if who not in mine and net and net > 0:
                ratio = " ".join(f"{mine[k] / net:6.2f}" for k in ("before", "player") if k in mine)
            work_text = f"{net:7.4f}" if net is not None else f"{'':7s}"
            print(f"{row:40s} {who:30s} {wall:8.3f} {work_text} {peak:8.0f} {ratio}")
            row = ""


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--make-pictures":
        make_pictures(sys.argv[2])
        return
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--peers", choices=("all", "convert", "kernels"), default="all",
                    help="convert: the ImageMagick rows; kernels: OpenCV, vips and PIL")
    ap.add_argument("--before", help="an older player binary, timed in the same run (kernels rows)")
    args = ap.parse_args()
    if args.peers in ("all", "kernels"):
        kernel_rows(args)
    if args.peers == "kernels":
        return
    build = os.path.abspath(args.build)
    qmasm = os.path.join(build, "qmasm")
    player = os.path.join(build, "quillmereplayer")
    version = subprocess.run([CONVERT, "-version"], stdout=subprocess.PIPE, text=True).stdout.split("\n")[0]
    version = version.replace("Version: ", "").split(" http")[0]
    convert = [CONVERT, "-limit", "thread", "1"]

    with tempfile.TemporaryDirectory(prefix="qm-pictures-") as tmp:
        def path(name):
            return os.path.join(tmp, name)

        big = photo_like(4000, 3000, 1)
        big.save(path("big.png"))
        big.save(path("big.jpg"), quality=90)
        del big
        photo_like(2000, 2000, 2).save(path("in.png"))

        def applet(name, text):
            with open(path(name + ".qas"), "w") as f:
                f.write(text)
            subprocess.run([qmasm, path(name + ".qas"), "--applet", path(name + ".qma")], check=True)
            return [player, path(name + ".qma")]

        def checked(command, want, what):
            """Runs `command` once; its printed "error width height" must
            be `want` (a size), or for None merely error 0."""
            out = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            words = out.stdout.split()
            if out.returncode != 0 or len(words) < 3 or words[-3] != "0" or \
                    (want and tuple(map(int, words[-2:])) != want):
                sys.exit(f"{what}: {' '.join(command)} printed {out.stdout.strip()!r} "
                         f"(status {out.returncode}, {out.stderr.strip()!r}), expected 0 {want}")
            return tuple(map(int, words[-2:]))

        def best(command):
            return run_best([command], args.runs)[0][:2]

        with open(path("load.py"), "w") as f:
            f.write(PIL_LOAD)
        empty = applet("empty", Statements().text())
        rows = []

        # Start-up alone: an applet that does nothing, python3 importing PIL.
        checked([PYTHON, path("load.py"), path("in.png")], (2000, 2000), "PIL")
        rows.append(("start-up: empty applet / import PIL", best(empty),
                     best([PYTHON, "-c", "from PIL import Image"])))

        # 1, 2: loading as a brush against PIL's open and load.
        for kind, name in (("PNG", "big.png"), ("JPEG", "big.jpg")):
            load = applet("load_" + kind, brush_applet(path(name)))
            pil = [PYTHON, path("load.py"), path(name)]
            checked(load, checked(pil, (4000, 3000), "PIL"), "LoadBrush " + kind)
            rows.append((f"load 4000x3000 {kind} (with start-up)", best(load), best(pil)))

        # 3-5: the work on the 2000x2000 brush against convert. Convert's
        # raw run writes out.png; its net run writes to null: and subtracts
        # a copy to null:, so that encoding a larger (scale, rotate) or
        # paletted (quantize) result does not count as the work.
        source = path("in.png")
        load_only = applet("load_only", brush_applet(source))
        checked(load_only, (2000, 2000), "LoadBrush")
        player_base = best(load_only)
        copy_base = best(convert + [source, "null:"])
        rows.append(("load 2000x2000 PNG / convert in.png null:", player_base, copy_base))
        work = [
            # BlurBrush's radius 10 leaves sigma to the kernel (radius / 3):
            # convert is given the same kernel. For sigma 10 each side is
            # asked as its users would: 3 sigma, and convert's own radius.
            ("BlurBrush radius 10 / -blur 10x3.33", "blurbrush", ["#10"], ["-blur", "10x3.333333"]),
            ("BlurBrush 30, sigma 10 / -blur 0x10", "blurbrush", ["#30", "#10"], ["-blur", "0x10"]),
            ("QuantizeBrush 256 dither / -colors 256", "quantizebrush", ["#256", "#1"], ["-colors", "256"]),
            ("ScaleBrush 4000x4000 smooth / -resize", "scalebrush", ["#4000", "#4000", "#1"],
             ["-filter", "Triangle", "-resize", "4000x4000!"]),
            ("RotateBrush 30 smooth / -rotate 30", "rotatebrush", ["#30", "#1", "#1", "#1"], ["-rotate", "30"]),
        ]
        for i, (name, command, operands, options) in enumerate(work):
            run = applet(f"work{i}", brush_applet(source, command, operands))
            peer = convert + [source] + options + [path("out.png")]
            if subprocess.run(peer).returncode != 0:
                sys.exit("convert failed: " + " ".join(peer))
            got = checked(run, None, command)
            want = picture_size(path("out.png"))
            # Rotated sizes may round apart by a pixel or two.
            if max(abs(g - w) for g, w in zip(got, want)) > 2:
                sys.exit(f"{command}: the brush is {got}, convert's result {want}")
            mine, theirs = best(run), best(peer)
            net_peer = best(convert + [source] + options + ["null:"])
            rows.append((name, mine, theirs))
            rows.append(("  net of load / copy",
                         tuple(a - b for a, b in zip(mine, player_base)),
                         tuple(a - b for a, b in zip(net_peer, copy_base))))

    print(f"player {player} against PIL ({PYTHON}) and {version} (-limit thread 1),\n"
          f"best of {args.runs}; whole processes, start-up included. Convert's rows write out.png\n"
          f"(its PNG encoder counts); 'net' rows subtract a load-only applet from the player's\n"
          f"time, and from convert's work written to null: a copy to null:. Ratios are player / peer.")
    print(f"{'workload':44s} {'player':>15s} {'peer':>15s} {'ratio':>6s} {'ratio':>6s}")
    print(f"{'':44s} {'wall s':>7s} {'cpu s':>7s} {'wall s':>7s} {'cpu s':>7s} {'wall':>6s} {'cpu':>6s}")
    for name, (p_wall, p_cpu), (q_wall, q_cpu) in rows:
        def ratio(a, b):
            return f"{a / b:6.2f}" if b > 0 else f"{'-':>6s}"
        print(f"{name:44s} {p_wall:7.3f} {p_cpu:7.3f} {q_wall:7.3f} {q_cpu:7.3f} "
              f"{ratio(p_wall, q_wall)} {ratio(p_cpu, q_cpu)}")


if __name__ == "__main__":
    main()
