#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/.

Applets, chunks and table files come from the project's own test assembler,
applet writer and player (seed_tables.qas writes the table files through
WriteTable); the rest is built here. Every seed is small (a few KB at most).

    python3 tests/fuzz/make_seeds.py BUILD_DIR
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

here = os.path.dirname(os.path.abspath(__file__))
corpus = os.path.join(here, "corpus")


def put(target, name, data):
    folder = os.path.join(corpus, target)
    os.makedirs(folder, exist_ok=True)
    assert len(data) <= 8192, (target, name, len(data))
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def from_tools(build):
    qmasm = os.path.join(build, "qmasm")
    player = os.path.join(build, "quillmereplayer")
    work = tempfile.mkdtemp()
    try:
        shutil.copy(os.path.join(here, "seed_tables.qas"), work)
        shutil.copy(os.path.join(here, "..", "..", "examples", "sum.qas"), work)
        with open(os.path.join(work, "linked.txt"), "wb") as f:
            f.write(b"linked file contents\n")
        run = lambda *a: subprocess.run(a, cwd=work, check=True)
        run(qmasm, "seed_tables.qas", "--applet", "tables.qma", "--title", "Seed",
            "--link", "data/linked.txt=linked.txt")
        run(qmasm, "seed_tables.qas", "-o", "tables.qmb")
        run(qmasm, "sum.qas", "--applet", "sum.qma")
        run(qmasm, "sum.qas", "-o", "sum.qmb")
        run(player, "tables.qma")
        for name in ("tables.qma", "sum.qma"):
            put("applet_reader", name, open(os.path.join(work, name), "rb").read())
        for name in ("tables.qmb", "sum.qmb"):
            put("vm_load", name, open(os.path.join(work, name), "rb").read())
        for name in ("table-binary.bin", "table-text.txt", "table-text-oneline.txt"):
            put("table_stream", name, open(os.path.join(work, name), "rb").read())
    finally:
        shutil.rmtree(work)


def containers():
    text = b"".join(b"line %d of a packed file\n" % i for i in range(3000))
    put("container_inflate", "text.qmpk", b"QMPK\0\0\0\0" + zlib.compress(text, 9))
    put("container_inflate", "small.qmpk", b"QMPK\0\0\0\0" + zlib.compress(b"hello, container", 6))
    put("container_inflate", "empty.qmpk", b"QMPK\0\0\0\0" + zlib.compress(b""))
    put("container_inflate", "stored.qmpk", b"QMPK\0\0\0\0" + zlib.compress(bytes(range(256)) * 4, 0))


def catalogs():
    records = b""
    for number, text in ((0, b"Select Quillmere applet to run"), (5, b"Cannot read file %s !"),
                         (97, b"Opening script %s"), (1000, b"")):
        body = text + b"\0"
        records += struct.pack(">II", number, len(body)) + body + b"\0" * (-len(body) % 4)
    records += b"\xff\xff\xff\xff"
    fver = b"FVER" + struct.pack(">I", 12) + b"$VER: 6.1\0\0\0"
    strs = b"STRS" + struct.pack(">I", len(records)) + records
    body = b"CTLG" + fver + strs
    put("catalog", "strings.catalog", b"FORM" + struct.pack(">I", len(body)) + body)
    put("catalog", "text.catalog", b"first line\nsecond\\tline\r\nthird\\nline\rfourth\n")


def http():
    put("http_response", "length.http",
        b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 12\r\n\r\nhello world\n")
    put("http_response", "chunked.http",
        b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n7;ext=1\r\n, world\r\n0\r\n"
        b"Trailer: x\r\n\r\n")
    put("http_response", "close.http", b"HTTP/1.0 200 OK\r\nConnection: close\r\n\r\nuntil the peer closes")
    put("http_response", "notfound.http", b"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found")
    put("http_response", "redirect.http",
        b"HTTP/1.1 301 Moved Permanently\r\nLocation: http://127.0.0.1:1/x\r\nContent-Length: 0\r\n\r\n")
    put("http_response", "continue.http",
        b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")


def texts():
    for name, out, text, arg in (("plain", 64, b"Cannot read file %s !", b"/tmp/x"),
                                 ("number", 40, b"Could not find file handle %ld!", b""),
                                 ("short", 8, b"%s and %s and %ld", b"a long argument"),
                                 ("percent", 200, b"100%% %d %x %", b"arg")):
        put("message_text", name, bytes([out]) + text + b"\0" + arg)
    for name, pattern, subject in (("captures", b"(%a+)=(%d+)", b"key=42, other=7"),
                                   ("classes", b"[%w_]+%s*[^%s]-$", b"name_1   tail"),
                                   ("balanced", b"%b()%f[%w]%w+", b"(a(b)c)word"),
                                   ("anchored", b"^(.-)%.(%x*)$", b"file.c0ffee"),
                                   ("position", b"()ll()", b"hello all")):
        put("patterns", name, bytes([len(pattern)]) + pattern + subject)


def runs_gif(screen, frames, side, interlaced=False):
    """frames frames of side x side indices 0: LZW codes for ever longer
    runs, then the longest again and again (a large frame in few bytes)."""
    g = b"GIF89a" + struct.pack("<HH", *screen) + bytes([0x80, 0, 0, 255, 0, 0, 0, 0, 255])
    for _ in range(frames):
        g += b"," + struct.pack("<HHHH", 0, 0, side, side) + bytes([0x40 if interlaced else 0, 2])
        out, acc, held = bytearray(), 0, 0

        def put(code, bits):
            nonlocal acc, held
            acc |= code << held
            held += bits
            while held >= 8:
                out.append(acc & 255)
                acc >>= 8
                held -= 8
        bits, nxt, produced, length = 3, 6, 1, 1
        put(4, bits)
        put(0, bits)
        while produced < side * side and nxt < 4096:
            put(nxt, bits)
            length += 1
            produced += length
            nxt += 1
            if nxt == 1 << bits and bits < 12:
                bits += 1
        while produced < side * side:
            put(4095, 12)
            produced += length
        put(5, 12)
        if held:
            out.append(acc & 255)
        for at in range(0, len(out), 255):
            g += bytes([len(out[at:at + 255])]) + out[at:at + 255]
        g += b"\0"
    return g + b";"


def png(width, height, depth, colour_type, rows, plte=b"", trns=b""):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0))
    if plte:
        out += chunk(b"PLTE", plte)
    if trns:
        out += chunk(b"tRNS", trns)
    return out + chunk(b"IDAT", zlib.compress(b"".join(b"\0" + r for r in rows), 9)) + chunk(b"IEND", b"")


def crc8(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = ((crc << 1) ^ 0x07 if crc & 0x80 else crc << 1) & 0xFF
    return crc


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x8005 if crc & 0x8000 else crc << 1) & 0xFFFF
    return crc


def silent_flac(declared, held, rate, channels):
    """16-bit silence in constant subframes, declaring `declared` frames."""
    info = struct.pack(">HH", min(held, 65535) or 16, 65535) + bytes(6)
    info += ((rate << 44) | ((channels - 1) << 41) | (15 << 36) | declared).to_bytes(8, "big") + bytes(16)
    out = b"fLaC" + bytes([0x80, 0, 0, 34]) + info
    number = 0
    while held:
        n = min(held, 65535)
        held -= n
        assert number < 0x80
        frame = bytes([0xFF, 0xF8, 0x70, ((channels - 1) << 4) | 0x08, number]) + struct.pack(">H", n - 1)
        frame += bytes([crc8(frame)]) + bytes(3 * channels)
        out += frame + struct.pack(">H", crc16(frame))
        number += 1
    return out


def hostile_media():
    """Frames far larger than their screen, packed PNG rows, FLAC lengths
    that say more than the files hold or that cannot be believed."""
    put("gif_anim_decoder", "offscreen.gif", runs_gif((1, 1), 3, 1024))
    put("gif_anim_decoder", "below-interlaced.gif", runs_gif((1024, 2), 2, 1024, True))
    put("gif_decoder", "offscreen.gif", runs_gif((1, 1), 1, 1024))
    put("png_decoder", "grey1.png", png(1024, 1024, 1, 0, [bytes(128)] * 1024))
    put("png_decoder", "pal2-trns.png", png(13, 5, 2, 3, [bytes([0x1B, 0x6C, 0xE4, 0x39])] * 5,
                                            bytes([10, 20, 30, 40, 50, 60, 70, 80, 90]), bytes([0, 128])))
    put("sample_decoder", "declares-more.flac", silent_flac(1 << 28, 1000, 8000, 2))
    put("sample_decoder", "cut-frame.flac", silent_flac(100, 100, 8000, 1)[:-1])
    put("music_decoder", "declares-more.flac", silent_flac(1 << 28, 1000, 8000, 2))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    from_tools(os.path.abspath(sys.argv[1]))
    containers()
    catalogs()
    http()
    texts()
    hostile_media()


if __name__ == "__main__":
    main()
