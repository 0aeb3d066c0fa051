#!/usr/bin/env python3
"""The work of bench/string.cpp done by Python's str/bytes and re modules,
timed on the same machine: run both and compare the per-iteration times."""
import re
import time

PARAGRAPH = (
    b"Lorem ipsum dolor sit amet, consectetur adipiscing elit 2024, sed do eiusmod tempor\n"
    b"incididunt ut labore et dolore magna aliqua 17.  Ut enim ad minim veniam, quis nostrud\n"
    b"exercitation ullamco laboris nisi ut aliquip ex ea commodo consequat 9000. Duis aute\n"
    b"irure dolor in reprehenderit in voluptate velit esse cillum dolore eu fugiat nulla\t\n"
    b"pariatur. Excepteur sint occaecat cupidatat non proident, sunt in culpa qui officia\n"
    b"deserunt mollit anim id est laborum lorem 42.\n"
)
TEXT = PARAGRAPH * (10 * 1024 * 1024 // len(PARAGRAPH) + 1)


def timed(name, fn, extra=""):
    fn()
    best = float("inf")
    for _ in range(5):
        t = time.perf_counter()
        r = fn()
        best = min(best, time.perf_counter() - t)
    print(f"{name:28s} {best * 1000:9.2f} ms  {extra}{r if isinstance(r, int) else ''}")


timed("ReplaceStr", lambda: len(TEXT.replace(b"dolor", b"DOLOR!")) and 0)
no_case = re.compile(rb"(?i)dolor")
timed("ReplaceStrNoCase", lambda: len(no_case.sub(b"x", TEXT)) and 0)
numbers = re.compile(rb"[0-9]+")
timed("PatternFindNumbers", lambda: len(numbers.findall(TEXT)), "matches=")
pair = re.compile(rb"ex([A-Za-z\xc0-\xf6\xf8-\xff]+) ([A-Za-z\xc0-\xf6\xf8-\xff]+)")
timed("PatternFindWordPair", lambda: len(pair.findall(TEXT)), "matches=")
blanks = re.compile(rb"[ \t\n\v\f\r]+")
timed("PatternReplaceBlanks", lambda: blanks.subn(b" ", TEXT)[1], "replacements=")
