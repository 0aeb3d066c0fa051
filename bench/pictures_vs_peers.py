#!/usr/bin/python3
"""Picture work as users meet it: applets with line information on every
statement, assembled by the built qmasm and run by the built player, against
the peer a user would compare with, in the same run: loading a 4000x3000 PNG
and JPEG as a brush against PIL in a python3 process, and BlurBrush,
QuantizeBrush, ScaleBrush and RotateBrush on a 2000x2000 brush against
ImageMagick's convert held to one thread (the player draws on one).

    /usr/bin/python3 bench/pictures_vs_peers.py BUILD_DIR [--runs N]

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

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from applets_vs_python import run_best  # noqa: E402

CONVERT = "/usr/bin/convert"
PYTHON = "/usr/bin/python3"  # the one with PIL


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


def brush_applet(picture, command=None, operands=()):
    """Loads `picture` as brush 1, has `command` work on it, and prints
    "<GetLastError> <width> <height>"; errors come back, they end nothing."""
    s = Statements()
    s.call("exitonerror", "#0")
    s.call("loadbrush", "#1", quoted(picture))
    if command:
        s.call(command, "#1", *operands)
    size = "".join(f'    GETGLOBAL r{r}, "getattribute"\n    LOADK r{r + 1}, #3\n    LOADK r{r + 2}, #1\n'
                   f"    LOADK r{r + 3}, #{attribute}\n    CALL r{r}, 4, 2\n"
                   for r, attribute in ((2, 0), (3, 1)))
    s.add('    GETGLOBAL r0, "debugprint"\n    GETGLOBAL r1, "getlasterror"\n    CALL r1, 1, 2\n'
          + size + "    CALL r0, 4, 1\n")
    return s.text()


PIL_LOAD = "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\nim.load()\nprint(0, *im.size)\n"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
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
            return run_best(command, args.runs)[:2]

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
