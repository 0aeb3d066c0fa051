#!/usr/bin/python3
"""DownloadFile against curl over loopback, in the same run: 64 MiB from nginx
(HTTP with a length, and chunked through a server-side include; to a file and
to a string) and from pyftpdlib (FTP, to a file and to a string). Each transfer runs as an applet in the player binary, so the
player's start-up is part of its time, as curl's start-up is part of curl's.

    /usr/bin/python3 bench/transfer_vs_curl.py BUILD_DIR [--size MiB] [--runs N]

Prints the best wall and CPU time of N runs of each, its peak memory (also
as a multiple of the body) and the ratios to curl's times."""
import argparse
import hashlib
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def start_nginx(root, work):
    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    if not os.path.exists(nginx):
        sys.exit("nginx is not installed (nginx-light)")
    port = free_port()
    os.makedirs(os.path.join(work, "logs"), exist_ok=True)
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as f:
        f.write(f"""worker_processes 1;
error_log {work}/logs/error.log;
pid {work}/nginx.pid;
events {{ worker_connections 64; }}
http {{
    access_log off;
    client_body_temp_path {work};
    proxy_temp_path {work};
    fastcgi_temp_path {work};
    uwsgi_temp_path {work};
    scgi_temp_path {work};
    types {{ text/html shtml; }}
    server {{
        listen 127.0.0.1:{port};
        root {root};
        # A page that only includes the file comes out chunked.
        location ~ \\.shtml$ {{ ssi on; }}
    }}
}}
""")
    proc = subprocess.Popen([nginx, "-p", work, "-c", conf, "-g", "daemon off;"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not wait_for_port(port):
        proc.kill()
        sys.exit("nginx did not start")
    return proc, port


def start_ftp(root):
    port = free_port()
    code = ("from pyftpdlib.authorizers import DummyAuthorizer\n"
            "from pyftpdlib.handlers import FTPHandler\n"
            "from pyftpdlib.servers import FTPServer\n"
            "a = DummyAuthorizer(); a.add_anonymous(%r)\n"
            "h = FTPHandler; h.authorizer = a\n"
            "FTPServer(('127.0.0.1', %d), h).serve_forever()\n" % (root, port))
    proc = subprocess.Popen(["/usr/bin/python3", "-c", code],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not wait_for_port(port):
        proc.kill()
        sys.exit("pyftpdlib did not start")
    return proc, port


def applet(build, work, name, url, target):
    """An applet that downloads `url` into the file `target`, or into a
    string when target is None, and prints the size it got."""
    options = '    NEWTABLE r2, 0, 1\n    SETTABLE r2, "file", "%s"\n' % target if target else \
              '    NEWTABLE r2, 0, 0\n'
    source = (".chunk lines=auto\n"
              '    GETGLOBAL r0, "downloadfile"\n'
              '    LOADK r1, "%s"\n' % url + options +
              "    CALL r0, 3, 3\n"
              '    GETGLOBAL r3, "debugprint"\n'
              "    MOVE r4, r1\n"
              "    CALL r3, 2, 1\n"
              "    RETURN r0, 1\n")
    qas = os.path.join(work, name + ".qas")
    qma = os.path.join(work, name + ".qma")
    with open(qas, "w") as f:
        f.write(source)
    subprocess.run([os.path.join(build, "qmasm"), qas, "--applet", qma], check=True)
    return qma


def timed(command, check):
    """Wall time, CPU time and peak resident memory (KiB) of one run. GNU
    time reports the peak: the child's own rusage would count the memory of
    this script, which it shares until it starts the program."""
    t = time.perf_counter()
    out = subprocess.run(["/usr/bin/time", "-f", "peak %M %U %S"] + command,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - t
    if out.returncode != 0:
        sys.exit("%s failed: %s" % (command[0], out.stderr.decode(errors="replace")))
    check(out.stdout)
    peak = cpu = 0
    for line in out.stderr.decode(errors="replace").splitlines():
        if line.startswith("peak "):
            fields = line.split()
            peak, cpu = int(fields[1]), float(fields[2]) + float(fields[3])
    return elapsed, cpu, peak


def best_of(runs, commands):
    """The best wall and CPU time and the largest peak memory of each
    (command, check) pair; the pairs take turns, so that a change in the
    machine's load touches them alike."""
    best = [[float("inf"), float("inf"), 0] for _ in commands]
    for _ in range(runs):
        for i, (command, check) in enumerate(commands):
            wall, cpu, peak = timed(command, check)
            best[i] = [min(best[i][0], wall), min(best[i][1], cpu), max(best[i][2], peak)]
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--size", type=int, default=64)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--baseline", help="another build whose player runs in the same turns, "
                                           "for a before/after comparison")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    size = args.size << 20

    work = tempfile.mkdtemp(prefix="qm-transfer-")
    root = os.path.join(work, "www")
    os.makedirs(root)
    data = os.urandom(size)
    digest = hashlib.md5(data).hexdigest()
    with open(os.path.join(root, "big.bin"), "wb") as f:
        f.write(data)
    del data
    with open(os.path.join(root, "big.shtml"), "w") as f:
        f.write('<!--# include virtual="/big.bin" -->')
    out_file = os.path.join(work, "out.bin")

    def file_ok(_):
        with open(out_file, "rb") as f:
            if hashlib.md5(f.read()).hexdigest() != digest:
                sys.exit("the downloaded file differs from the served one")
        os.remove(out_file)

    def size_ok(stdout):
        if stdout.split() and stdout.split()[-1] != str(size).encode():
            sys.exit("the downloaded string has the wrong size: %r" % stdout[-200:])

    nginx, http_port = start_nginx(root, work)
    ftp, ftp_port = start_ftp(root)
    try:
        http = "http://127.0.0.1:%d/big.bin" % http_port
        chunked = "http://127.0.0.1:%d/big.shtml" % http_port
        ftp_url = "ftp://127.0.0.1:%d/big.bin" % ftp_port
        builds = [("", build)] + ([("base ", os.path.abspath(args.baseline))] if args.baseline else [])
        rows = []
        for proto, url in (("HTTP", http), ("chunked", chunked), ("FTP", ftp_url)):
            file_applet = applet(build, work, proto + "file", url, out_file)
            string_applet = applet(build, work, proto + "string", url, None)
            commands = [(["curl", "-s", "-o", out_file, url], file_ok)]
            for _, b in builds:
                player = os.path.join(b, "quillmereplayer")
                commands += [([player, file_applet], file_ok), ([player, string_applet], size_ok)]
            results = best_of(args.runs, commands)
            names = ["curl file"] + [prefix + kind for prefix, _ in builds for kind in ("to file", "to string")]
            rows.append((proto, list(zip(names, results))))
        print("%d MiB over loopback, best of %d runs, one thread each (player whole process); "
              "ratio = time / curl's time, peak = largest resident set" % (args.size, args.runs))
        print("%-7s %-14s %9s %8s %8s %8s %8s %8s" % ("", "", "wall ms", "cpu ms", "peak MB", "x body",
                                                     "ratio", "cpu rat."))
        for proto, results in rows:
            curl = results[0][1]
            for name, (wall, cpu, peak) in results:
                print("%-7s %-14s %9.1f %8.1f %8.1f %8.2f %8.2f %8.2f" % (
                    proto, name, wall * 1000, cpu * 1000, peak / 1024, peak * 1024.0 / size,
                    wall / curl[0], cpu / curl[1] if curl[1] else float("nan")))
    finally:
        nginx.terminate()
        ftp.terminate()
        nginx.wait()
        ftp.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
