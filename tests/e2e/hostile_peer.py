#!/usr/bin/env python3
"""Hostile peers for `jol server`: a few hundred generated request streams,
malformed or malicious, each sent to a fresh server on a pipe.

  hostile_peer.py JOL REPO WORKDIR [COUNT] [SEED]

REPO is a repository holding module "proj" (files a.txt and sub/b.txt);
WORKDIR is a scratch directory: the servers get WORKDIR/tmp as TMPDIR, and
everything else in WORKDIR (the repository included) is the outside world
they must leave alone. After every session the driver checks that the
server ended within the time bound once its peer was done, that its peak
memory stayed under the bound, that its temporary tree is gone and that
nothing outside it changed (the repository's history journal aside); some
sessions also check the exact refusal. Prints one line per failed session
and a summary; exit status 1 when any failed.
"""
import hashlib
import os
import random
import signal
import subprocess
import sys
import threading
import time
import zlib

TIME_BOUND = 15.0              # seconds from the peer's last byte to the end
MEMORY_BOUND = 96 * 1024       # KiB of peak resident memory
KEEP_OUTPUT = 1 << 20

RESPONSES = ("ok error Valid-requests Checked-in New-entry Checksum Copy-file Updated "
             "Created Update-existing Merged Patched Rcs-diff Mode Mod-time Removed "
             "Remove-entry Set-static-directory Clear-static-directory Set-sticky "
             "Clear-sticky Template Set-checkin-prog Set-update-prog Notified "
             "Module-expansion Wrapper-rcsOption M Mbinary E F MT")
# The commands that write to the repository are left out of the random
# streams: a well-formed one may legitimately change it.
REQUESTS = ["Root", "Valid-responses", "valid-requests", "Directory", "Max-dotdot",
            "Static-directory", "Sticky", "Entry", "Kopt", "Checkin-time", "Modified",
            "Is-modified", "UseUnchanged", "Unchanged", "Questionable", "Case",
            "Argument", "Argumentx", "Global_option", "Gzip-stream",
            "wrapper-sendme-rcsOptions", "Set", "expand-modules", "co", "update",
            "diff", "log", "rlog", "status", "rdiff", "export", "history", "watchers",
            "editors", "annotate", "noop", "version", "gzip-file-contents"]
COMMANDS = ["status", "update", "diff", "log", "noop", "version", "editors", "watchers",
            "annotate", "co", "export", "rdiff", "rlog"]


class Session:
    def __init__(self, name, parts, expect=(), stop_reading=False, plant=None):
        self.name = name
        self.parts = parts            # byte strings; a link is planted between them
        self.expect = expect          # byte strings the responses must hold
        self.stop_reading = stop_reading
        self.plant = plant            # (link name in the tree, target)


def snapshot(top, skip):
    """Every path below `top` but `skip`: type, mode, size and digest."""
    state = {}
    for root, dirs, files in os.walk(top):
        dirs[:] = [d for d in dirs if os.path.join(root, d) != skip]
        for name in dirs + files:
            path = os.path.join(root, name)
            rel = os.path.relpath(path, top)
            if rel.endswith("JOLROOT/history") or rel.endswith("JOLROOT/val-tags"):
                continue
            st = os.lstat(path)
            digest = ""
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    digest = hashlib.md5(f.read()).hexdigest()
            elif os.path.islink(path):
                digest = os.readlink(path)
            state[rel] = (st.st_mode, st.st_size if digest else 0, digest)
    return state


def server_tree(tmp, pid):
    base = os.path.join(tmp, f"jol-serv{pid}")
    for suffix in [""] + [chr(c) for c in range(ord("a"), ord("z") + 1)]:
        if os.path.isdir(base + suffix):
            return base + suffix
    return base


def run(jol, tmp, session):
    """Runs one session; a list of what went wrong."""
    env = dict(os.environ, TMPDIR=tmp)
    proc = subprocess.Popen([jol, "server"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=env, cwd=tmp, bufsize=0)
    out = bytearray()
    got_line = threading.Event()
    peer_done = [None]

    def reader():
        while True:
            chunk = proc.stdout.read1(65536) if hasattr(proc.stdout, "read1") \
                else os.read(proc.stdout.fileno(), 65536)
            if not chunk:
                break
            if len(out) < KEEP_OUTPUT:
                out.extend(chunk)
            if b"ok\n" in out or b"error" in out:
                got_line.set()
        got_line.set()

    def writer():
        try:
            for i, part in enumerate(session.parts):
                if i > 0 and session.plant:
                    # Let the server build its tree, then plant the link.
                    got_line.wait(TIME_BOUND)
                    link, target = session.plant
                    try:
                        os.symlink(target, os.path.join(server_tree(tmp, proc.pid), link))
                    except OSError:
                        pass
                for chunk in (part() if callable(part) else [part]):
                    proc.stdin.write(chunk)
            proc.stdin.close()
        except (BrokenPipeError, ValueError, OSError):
            pass
        peer_done[0] = time.monotonic()

    threads = [threading.Thread(target=writer, daemon=True)]
    if not session.stop_reading:
        threads.append(threading.Thread(target=reader, daemon=True))
    for t in threads:
        t.start()
    problems = []
    start = time.monotonic()
    if session.stop_reading:
        # A peer that sends and never reads, then goes away.
        threads[0].join(1.0)
        time.sleep(0.2)
        proc.stdout.close()
        try:
            proc.stdin.close()
        except (BrokenPipeError, OSError):
            pass
        peer_done[0] = peer_done[0] or time.monotonic()
    rusage = None
    while True:
        pid, status, rusage = os.wait4(proc.pid, os.WNOHANG)
        if pid:
            proc.returncode = status
            break
        done = peer_done[0]
        if time.monotonic() - (done if done else start) > TIME_BOUND:
            problems.append("did not end within %.0f s of its peer" % TIME_BOUND)
            os.kill(proc.pid, signal.SIGKILL)
            pid, status, rusage = os.wait4(proc.pid, 0)
            proc.returncode = status
            break
        time.sleep(0.005)
    for t in threads:
        t.join(2.0)
    if rusage.ru_maxrss > MEMORY_BOUND:
        problems.append("peak memory %d KiB" % rusage.ru_maxrss)
    if os.WIFSIGNALED(proc.returncode) and not problems:
        problems.append("killed by signal %d" % os.WTERMSIG(proc.returncode))
    for want in session.expect:
        if want not in out:
            problems.append("responses lack %r" % want)
    # A command child still running would change things behind our back.
    left = os.listdir(tmp)
    if left:
        problems.append("left in TMPDIR: %s" % " ".join(sorted(left)))
        subprocess.run(["rm", "-rf", *[os.path.join(tmp, x) for x in left]])
    return problems, rusage.ru_maxrss


def deflate(piece, times, wbits):
    """`piece` repeated `times` times, compressed (zlib or, with wbits 31,
    gzip format) without holding the whole text."""
    z = zlib.compressobj(9, zlib.DEFLATED, wbits)
    out = [z.compress(piece) for _ in range(times)]
    out.append(z.flush())
    return b"".join(out)


def head(repo):
    return f"Root {repo}\nValid-responses {RESPONSES}\n".encode()


def generate(repo, outside, rng, count):
    """The sessions: fixed cases that check exact refusals, then random ones."""
    h = head(repo)
    sessions = []

    def add(name, *parts, **kw):
        sessions.append(Session(name, [p.encode() if isinstance(p, str) else p for p in parts],
                                **kw))

    def long_line(prefix, byte, size, suffix):
        # Made as it is sent: the driver's own peak memory is inherited by
        # the server's count, so it must stay small.
        def chunks():
            yield prefix
            piece = byte * (1 << 20)
            for _ in range(size >> 20):
                yield piece
            yield suffix
        return chunks

    # Request lines: a line past the limit ends the connection at once.
    add("line of 2 MiB", long_line(h + b"Argument ", b"a", 2 << 20, b"\nnoop\n"),
        expect=[b"E Protocol error: request line too long\n"])
    add("line of 64 MiB without newline", long_line(h + b"Argument ", b"b", 64 << 20, b""),
        expect=[b"E Protocol error: request line too long\n"])
    add("Entry line of 3 MiB", long_line(h + b"Directory .\n" + f"{repo}/proj\n".encode() +
                                         b"Entry /", b"c", 3 << 20, b"/1.1///\nnoop\n"),
        expect=[b"line too long"])
    # Directory names that climb out of the tree, then a file written there.
    for d in ["..", "../..", "../x", "a/../..", "./../../x", "a/b/../../..", "../tmp/x",
              "x/../../sentinel"]:
        add("Directory " + d,
            h + f"Directory {d}\n{repo}/proj\nModified evil\nu=rw\n4\nevilnoop\n".encode(),
            expect=[b"error"])
    for d in ["/abs", outside, outside + "/dir", "JOL", "a/JOL", "a/JOL/b", "", "a\x00b"]:
        add("Directory %r" % d,
            h + f"Directory {d}\n{repo}/proj\nModified evil\nu=rw\n4\nevilnoop\n".encode(),
            expect=[b"error"])
    # Repository lines outside the root.
    for r in ["/etc", f"{repo}/../x", f"{repo}/proj/../../x", "relative", f"{repo}x"]:
        add("repository " + r, h + f"Directory .\n{r}\nnoop\n".encode(), expect=[b"error"])
    # Max-dotdot in all its forms.
    for m in ["-1", "1001", "99999", "1x", "", "2"]:
        add("Max-dotdot " + m, h + f"Max-dotdot {m}\nDirectory ../..\n{repo}/proj\n"
            f"Modified evil\nu=rw\n4\nevilnoop\n".encode(), expect=[b"error"])
    # User variables: a bad name is a pending error, not the end.
    for s in ["=y", "a b=c", "novalue", "a-b=c", "\x01=x", "a.b=c"]:
        add("Set " + repr(s), h + f"Set {s}\nnoop\nnoop\n".encode(),
            expect=[b"E Protocol error: bad Set request", b"\nok\n"])
    # Links planted in the tree are never followed, by a directory made
    # through them or by a file written into them.
    dir_head = h + f"Directory .\n{repo}/proj\n".encode()
    add("link to a directory, mkdir through it",
        dir_head + b"noop\n",
        f"Directory sub/x\n{repo}/proj/sub/x\nModified evil\nu=rw\n4\nevilnoop\n",
        plant=("sub", outside + "/dir"), expect=[b"Too many levels of symbolic links"])
    add("link to a directory, entered",
        dir_head + b"noop\n",
        f"Directory sub\n{repo}/proj/sub\nModified evil\nu=rw\n4\nevilnoop\n",
        plant=("sub", outside + "/dir"), expect=[b"Too many levels of symbolic links"])
    add("link to a file, written",
        dir_head + b"noop\n", "Modified f\nu=rw\n4\nevilnoop\n",
        plant=("f", outside + "/file"), expect=[b"Too many levels of symbolic links"])
    add("link as JOL, Sticky",
        dir_head + b"noop\n", "Sticky Tevil\nEntry /x/1.1///\nnoop\n",
        plant=("JOL", outside + "/dir"))
    # Sizes: huge, negative, not numbers, larger than what follows.
    for size in ["-1", "-9999999999", "99999999999999999999", "1e9", "0x10", " 4", "4 ",
                 "z-1", "z99999999999999", "z", "", "18446744073709551615",
                 str(1 << 40), "9223372036854775807"]:
        add("Modified size %r" % size,
            dir_head + f"Modified f\nu=rw\n{size}\nabcd\nnoop\nnoop\n".encode())
    add("Modified with less data than its size", dir_head + b"Modified f\nu=rw\n100000\nab")
    # Names with NUL, newline, slashes and the administrative directory.
    for name in ["a\x00b", "../f", "/etc/passwd", "a/b", "JOL", ".", "..", ""]:
        for req in ["Modified {n}\nu=rw\n1\nx", "Is-modified {n}\n", "Unchanged {n}\n",
                    "Questionable {n}\n", "Entry /{n}/1.1///\n",
                    "Notify {n}\nE\tThu Jan  1 00:00:00 2009 GMT\thost\t/dir\tEUC\n"]:
            add("%s %r" % (req.split(" ")[0], name),
                dir_head + req.format(n=name).encode() + b"status\nnoop\n")
    # Arguments climbing out or naming absolute paths, to every command.
    for cmd in COMMANDS:
        for arg in ["../x", "/etc/passwd", "a/../../x", outside + "/file"]:
            add(f"{cmd} {arg}", dir_head + f"Argument {arg}\n{cmd}\nnoop\n".encode())
    # Requests after an error: one "error" per command, nothing run.
    for i in range(20):
        reqs = [rng.choice(["Directory ../x\n" + repo + "/proj\n", "Max-dotdot -5\n",
                            "Global_option -z\n", "Set 9=9\n", "Kopt -kx\n",
                            "Entry bad\n", "Root relative\n"])]
        for _ in range(rng.randint(1, 12)):
            reqs.append(rng.choice(["noop\n", "status\n", "Argument a.txt\n", "valid-requests\n",
                                    "Directory .\n" + repo + "/proj\n", "update\n",
                                    "Is-modified a.txt\n", "version\n"]))
        add("after an error %d" % i, dir_head + "".join(reqs).encode())
    # Compression: bombs, garbage, a stream started twice.
    bomb = deflate(b"a" * (1 << 20), 256, 15)
    add("Gzip-stream bomb without newline", h + b"Gzip-stream 9\n" + bomb)
    lines = deflate(b"noop\n" * (1 << 18), 16, 15)
    add("Gzip-stream of 4 Mi noops, never read", h + b"Gzip-stream 9\n" + lines,
        stop_reading=True)
    add("Gzip-stream garbage", h + b"Gzip-stream 6\n" + bytes(rng.randrange(256)
                                                            for _ in range(4096)))
    add("Gzip-stream twice", h + b"Gzip-stream 6\n" + zlib.compress(b"Gzip-stream 6\nnoop\n"))
    for level in ["", "10", "-1", "x", "99"]:
        add("Gzip-stream level %r" % level, h + f"Gzip-stream {level}\nnoop\n".encode(),
            expect=[b"error"])
    fbomb = deflate(b"\0" * (1 << 20), 64, 31)
    add("compressed file bomb", dir_head + b"gzip-file-contents 9\nModified f\nu=rw\nz" +
        str(len(fbomb)).encode() + b"\n" + fbomb + b"noop\n")
    add("compressed file with a lying size", dir_head + b"Modified f\nu=rw\nz10\n" +
        deflate(b"x" * 100000, 1, 31)[:10] + b"noop\n")
    # Peers that stop reading while the server has much to say.
    add("never reads the version list", h + b"valid-requests\n" * 20000, stop_reading=True)
    add("never reads a long log", dir_head + b"Argument -l\n" + b"log\n" * 2000,
        stop_reading=True)
    add("never reads error text", h + b"Directory ../x\n" + repo.encode() + b"\n" +
        (b"Argument " + b"q" * 60000 + b"\n") * 100 + b"noop\n" * 100, stop_reading=True)
    # Truncated sessions: a well-formed one cut at every kind of place.
    good = (dir_head + b"Entry /a.txt/1.1///\nModified a.txt\nu=rw,g=r,o=r\n6\nhello\n"
            b"Argument a.txt\nstatus\nDirectory sub\n" + f"{repo}/proj/sub\n".encode() +
            b"Unchanged b.txt\nupdate\n")
    for _ in range(25):
        add("truncated", good[:rng.randrange(len(good))])
    # Random request streams.
    while len(sessions) < count:
        lines = [h.decode()] if rng.random() < 0.8 else []
        for _ in range(rng.randint(1, 30)):
            req = rng.choice(REQUESTS)
            arg = rng.choice(["", ".", "..", "a.txt", "../a", "/x", "sub/", "-1", "999999999",
                              "x" * rng.randint(0, 300), "\x00", "u=rw", f"{repo}/proj",
                              "/a.txt/1.1///", "T1.1", "a\x00b"])
            lines.append(f"{req} {arg}\n" if arg or rng.random() < 0.5 else f"{req}\n")
            if rng.random() < 0.1:
                lines.append(str(rng.choice([0, 1, 5, -3, 10**12])) + "\n")
        data = "".join(lines).encode()
        if rng.random() < 0.3:
            data = bytearray(data)
            for _ in range(rng.randint(1, 8)):
                data[rng.randrange(len(data))] = rng.randrange(256)
            data = bytes(data)
        add("random %d" % len(sessions), data, stop_reading=rng.random() < 0.01)
    return sessions


def main():
    jol, repo, work = sys.argv[1:4]
    count = int(sys.argv[4]) if len(sys.argv) > 4 else 300
    rng = random.Random(int(sys.argv[5]) if len(sys.argv) > 5 else 23)
    tmp = os.path.join(work, "tmp")
    outside = os.path.join(work, "sentinel")
    os.makedirs(tmp, exist_ok=True)
    os.makedirs(outside + "/dir", exist_ok=True)
    with open(outside + "/file", "w") as f:
        f.write("keep\n")
    with open(outside + "/dir/inner", "w") as f:
        f.write("keep\n")
    before = snapshot(work, tmp)
    failed = 0
    peak = 0
    sessions = generate(repo, outside, rng, count)
    started = time.monotonic()
    for s in sessions:
        problems, rss = run(jol, tmp, s)
        peak = max(peak, rss)
        after = snapshot(work, tmp)
        if after != before:
            changed = sorted(k for k in set(before) | set(after) if before.get(k) != after.get(k))
            problems.append("changed outside the tree: " + " ".join(changed[:5]))
            before = after
        if problems:
            failed += 1
            print("FAIL %s: %s" % (s.name, "; ".join(problems)))
    print("%d sessions, %d failed, %.1f s, largest peak memory %d KiB" % (
        len(sessions), failed, time.monotonic() - started, peak))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
