#!/usr/bin/python3
"""Picture codecs as users meet them: whole processes doing the same work on
both sides, the player running applets assembled by the built qmasm (line
information on every statement) against vips (`vips copy`), PIL and OpenCV
(python3-opencv), every one held to one thread, in the same run.

    /usr/bin/python3 bench/codecs_vs_peers.py BUILD_DIR [--runs N] [--player P] [--size WxH]

Every row loads one file and saves it (or only loads it), the same file and
the same format and quality on every side:
  - PNG save of a photograph and of flat graphics (each side's default PNG
    compression; OpenCV's is level 1),
  - PNG decode of the photograph as PIL wrote it (vips: `vips avg`, which
    reads every pixel and writes nothing),
  - JPEG encode at quality 85 from the photograph's PNG, whole and net of
    the same side's load-only run.
The pictures are made here, in a temporary folder: the photograph from
smooth gradients, soft shapes and grain; the graphics from flat shapes,
lines and text in a few colours. PNG outputs are decoded by PIL and must
hold the input's pixels before any timing. For each side: the best wall
and CPU time of N runs (the sides taking turns), and the peak resident
memory of the process (/usr/bin/time); ratios are player / peer. The load
of a shared machine makes single runs vary by a tenth of a second: the net
rows, differences of two bests, are the least certain."""
import argparse
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pictures_vs_peers import Statements, quoted  # noqa: E402

PYTHON = "/usr/bin/python3"  # the one with PIL and OpenCV
VIPS = "/usr/bin/vips"
TIME = "/usr/bin/time"
ONE_THREAD = {"VIPS_CONCURRENCY": "1", "OMP_NUM_THREADS": "1", "OPENBLAS_NUM_THREADS": "1"}


def photo_like(width, height, seed):
    """Smooth gradients with soft shapes and grain: what a photograph gives
    a codec, neither unusually easy nor pure noise."""
    import numpy as np
    from PIL import Image, ImageDraw, ImageFilter
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width].astype(np.float32)
    x /= width
    y /= height
    channels = []
    for c in range(3):
        a, b, p = rng.uniform(1, 4, 3)
        v = 128 + 70 * np.sin(a * x * 3.1 + p) * np.cos(b * y * 2.3 - p) + 40 * (x - y) * (c - 1)
        channels.append(v)
    base = np.clip(np.stack(channels, axis=2), 0, 255).astype(np.uint8)
    picture = Image.fromarray(base, "RGB")
    draw = ImageDraw.Draw(picture)
    for _ in range(40):
        cx, cy = rng.integers(0, width), rng.integers(0, height)
        r = int(rng.integers(width // 40, width // 10))
        draw.ellipse((cx - r, cy - r, cx + r, cy + r), fill=tuple(int(v) for v in rng.integers(0, 256, 3)))
    picture = picture.filter(ImageFilter.GaussianBlur(4))
    grain = rng.normal(0, 5, (height, width, 1)).astype(np.float32)
    pixels = np.clip(np.asarray(picture, dtype=np.float32) + grain, 0, 255).astype(np.uint8)
    return Image.fromarray(pixels, "RGB")


def flat_graphics(width, height, seed):
    """A screenshot-like picture: flat boxes, lines and text in a handful of
    colours, no antialiasing noise."""
    import random
    from PIL import Image, ImageDraw
    rng = random.Random(seed)
    colours = [(240, 240, 240), (30, 30, 30), (0, 120, 215), (220, 60, 40), (90, 180, 90), (255, 200, 0)]
    picture = Image.new("RGB", (width, height), colours[0])
    draw = ImageDraw.Draw(picture)
    for _ in range(300):
        x, y = rng.randrange(width), rng.randrange(height)
        w, h = rng.randrange(20, width // 6), rng.randrange(10, height // 8)
        draw.rectangle((x, y, x + w, y + h), fill=rng.choice(colours), outline=colours[1])
    for _ in range(200):
        draw.line((rng.randrange(width), rng.randrange(height), rng.randrange(width), rng.randrange(height)),
                  fill=rng.choice(colours), width=rng.randrange(1, 4))
    for row in range(0, height, 40):
        draw.text((20 + row % 200, row), "The quick brown fox jumps over the lazy dog 0123456789 " * 6,
                  fill=colours[1])
    return picture


def run_measured(command, env, report):
    """Wall and CPU seconds and peak resident set (MiB) of one run.
    /usr/bin/time measures the process on its own: a child forked from this
    (large) interpreter would inherit its peak."""
    t0 = time.perf_counter()
    p = subprocess.run([TIME, "-o", report, "-f", "%U %S %M"] + command, env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - t0
    if p.returncode != 0:
        sys.exit(f"{' '.join(command)} failed ({p.returncode}): {p.stderr.decode().strip()}")
    with open(report) as f:
        user, system, kib = f.read().split()[-3:]
    return wall, float(user) + float(system), int(kib) / 1024


PIL_SCRIPT = """import sys
from PIL import Image
im = Image.open(sys.argv[1])
im.load()
if len(sys.argv) > 2:
    im.save(sys.argv[2], quality=int(sys.argv[3])) if sys.argv[2].endswith(".jpg") else im.save(sys.argv[2])
"""

CV_SCRIPT = """import sys
import cv2
cv2.setNumThreads(1)
im = cv2.imread(sys.argv[1], cv2.IMREAD_UNCHANGED)
assert im is not None
if len(sys.argv) > 2:
    params = [cv2.IMWRITE_JPEG_QUALITY, int(sys.argv[3])] if sys.argv[2].endswith(".jpg") else []
    assert cv2.imwrite(sys.argv[2], im, params)
"""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--player", help="another player binary to time (the build's qmasm still assembles)")
    ap.add_argument("--size", default="4000x3000")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    qmasm = os.path.join(build, "qmasm")
    player = os.path.abspath(args.player) if args.player else os.path.join(build, "quillmereplayer")
    width, height = map(int, args.size.split("x"))
    env = dict(os.environ, **ONE_THREAD)
    from PIL import Image
    import numpy as np

    with tempfile.TemporaryDirectory(prefix="qm-codecs-") as tmp:
        def path(name):
            return os.path.join(tmp, name)

        photo_like(width, height, 1).save(path("photo.png"))
        flat_graphics(width, height, 2).save(path("flat.png"))
        for name, text in (("pil.py", PIL_SCRIPT), ("cv.py", CV_SCRIPT)):
            with open(path(name), "w") as f:
                f.write(text)

        def applet(name, source, output=None, quality=None):
            s = Statements()
            s.call("exitonerror", "#0")
            s.call("loadbrush", "#1", quoted(source))
            if output:
                operands = ["#1", quoted(output), "#IMGFMT_JPEG" if output.endswith(".jpg") else "#IMGFMT_PNG"]
                if quality:
                    operands.append(f"#{quality}")
                s.call("savebrush", *operands)
            s.add('    GETGLOBAL r0, "debugprint"\n    GETGLOBAL r1, "getlasterror"\n    CALL r1, 1, 2\n'
                  "    CALL r0, 2, 1\n")
            with open(path(name + ".qas"), "w") as f:
                f.write(s.text())
            subprocess.run([qmasm, path(name + ".qas"), "--applet", path(name + ".qma")], check=True)
            return [player, path(name + ".qma")]

        def sides(source, output=None, quality=None, tag=""):
            """The four commands doing the same work, by side."""
            def out(side):
                return [path(f"{side}{tag}.{output}")] if output else []
            q = [str(quality)] if quality else []
            commands = {
                "player": applet("applet" + tag, source, out("player")[0] if output else None, quality),
                "vips": [VIPS, "copy", source, out("vips")[0] + (f"[Q={quality}]" if quality else "")]
                if output else [VIPS, "avg", source],
                "PIL": [PYTHON, path("pil.py"), source] + out("pil") + q,
                "OpenCV": [PYTHON, path("cv.py"), source] + out("cv") + q,
            }
            names = {"player": "player", "vips": "vips", "PIL": "pil", "OpenCV": "cv"}
            files = {side: out(names[side])[0] if output else None for side in commands}
            return commands, files

        def check(source, files, lossless):
            want = np.asarray(Image.open(source).convert("RGB"))
            for side, file in files.items():
                if not file:
                    continue
                with Image.open(file) as im:
                    got = np.asarray(im.convert("RGB"))
                if got.shape != want.shape:
                    sys.exit(f"{side}: {file} is {got.shape}, the input {want.shape}")
                if lossless and not np.array_equal(got, want):
                    sys.exit(f"{side}: {file} does not hold the input's pixels")

        rows = []  # (label, {side: (wall, cpu, peak, size)})

        def row(label, commands, files=None, lossless=False, source=None):
            results = {}
            for side, command in commands.items():
                subprocess.run(command, env=env, check=True, stdout=subprocess.DEVNULL)
            if files:
                check(source, files, lossless)
            # The sides take turns, so that a change in the machine's load
            # falls on all of them; each keeps its best times and its
            # largest peak.
            best = {side: (float("inf"), float("inf"), 0.0) for side in commands}
            for _ in range(args.runs):
                for side, command in commands.items():
                    wall, cpu, peak = run_measured(command, env, path("time.txt"))
                    w, c, p = best[side]
                    best[side] = (min(w, wall), min(c, cpu), max(p, peak))
            for side in commands:
                size = os.path.getsize(files[side]) if files and files[side] else None
                results[side] = best[side] + (size,)
            rows.append((label, results))
            return results

        def net(saves, loads):
            rows.append(("  net of the load-only run", {
                side: tuple(a - b for a, b in zip(saves[side][:2], loads[side][:2])) + (None, None)
                for side in saves}))

        size = f"{width}x{height}"
        loads = {}
        for kind in ("photo", "flat"):
            loads[kind] = row(f"PNG decode {size} {kind} (PIL-written)", sides(path(kind + ".png"))[0])
        for kind in ("photo", "flat"):
            source = path(kind + ".png")
            commands, files = sides(source, "png", tag="_" + kind)
            net(row(f"PNG save {size} {kind}", commands, files, True, source), loads[kind])
        commands, files = sides(path("photo.png"), "jpg", 85, tag="_q85")
        net(row(f"JPEG encode q85 {size} photo", commands, files, False, path("photo.png")), loads["photo"])

    sides_order = ("player", "vips", "PIL", "OpenCV")
    print(f"player {player}; peers: {subprocess.run([VIPS, '--version'], stdout=subprocess.PIPE, text=True).stdout.strip()}"
          f" (VIPS_CONCURRENCY=1), PIL and OpenCV under {PYTHON} (one thread);\n"
          f"whole processes, best of {args.runs}; peak = maximum resident set of the process; ratio = player / peer (CPU).")
    print(f"{'work':38s} {'side':7s} {'wall s':>7s} {'cpu s':>7s} {'ratio':>6s} {'peak MiB':>9s} {'file KiB':>9s}")
    for label, results in rows:
        mine = results["player"][1]
        for side in sides_order:
            wall, cpu, peak, size = results[side]
            ratio = f"{mine / cpu:6.2f}" if side != "player" and cpu > 0 and mine > 0 else f"{'':6s}"
            peak_text = f"{peak:9.1f}" if peak else f"{'':9s}"
            size_text = f"{size / 1024:9.0f}" if size else f"{'':9s}"
            print(f"{label if side == 'player' else '':38s} {side:7s} {wall:7.3f} {cpu:7.3f} {ratio} "
                  f"{peak_text} {size_text}")


if __name__ == "__main__":
    main()
