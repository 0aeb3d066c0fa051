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


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    from_tools(os.path.abspath(sys.argv[1]))
    containers()
    catalogs()
    http()
    texts()


if __name__ == "__main__":
    main()
