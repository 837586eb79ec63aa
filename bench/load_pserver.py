#!/usr/bin/env python3
"""Many clients against one password server under a real super-server.

  load_pserver.py --jol JOL [--clients 32] [--seconds 120] [--kill]
                  [--work DIR] [--shared 4] [--superserver activate|inetd]

Sets up a repository with module "proj" (a few files every client edits
and one file per client), starts `jol pserver` on loopback under
systemd-socket-activate (or openbsd-inetd), logs in, and runs the clients
until the time is up. Each client loops: update, edit its own file and
sometimes a shared one, commit (an up-to-date refusal makes it update,
merge and try again later; a conflict is resolved by rewriting the file),
and now and then tag. With --kill a killer sends SIGKILL to random server
processes (connection parents and command children alike) at random
moments; locks left by a killed process are reported by the next command
that waits on them, and a janitor removes the stale ones as an operator
would, counting them.

Afterwards, with the server stopped: every archive parses (rlog of each
file), every revision a client was told was committed exists with the
content the client committed, no lock, archive lock file or server
temporary directory is left. Prints the figures and exits 1 when anything
is corrupted, lost or left over.
"""
import argparse
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

NEW_REV = re.compile(r"^new revision: ([0-9.]+); previous revision: [0-9.]+$|"
                     r"^initial revision: ([0-9.]+)$")
ARCHIVE_LINE = re.compile(r"^(/\S+),v  <--  (\S+)$")


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.ops = 0
        self.failed_ops = 0
        self.commits_acked = 0
        self.refusals = 0
        self.merges = 0
        self.conflicts = 0
        self.tags = 0
        self.commit_latency = []
        self.acked = []          # (archive path, revision, content)
        self.lock_waits = 0      # "waiting for ...'s lock" reports seen
        self.stale_removed = []
        self.killed_trees = 0    # temporary trees of killed servers

    def add(self, **kw):
        with self.lock:
            for k, v in kw.items():
                setattr(self, k, getattr(self, k) + v)


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_port(port, timeout=10):
    end = time.time() + timeout
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


class Client(threading.Thread):
    def __init__(self, n, args, root, env, stats, deadline):
        super().__init__(daemon=True)
        self.n, self.args, self.root, self.env = n, args, root, env
        self.stats, self.deadline = stats, deadline
        self.rng = random.Random(1000 + n)
        self.dir = os.path.join(args.work, "c%02d" % n)
        self.counter = 0

    def jol(self, *argv, timeout=120):
        start = time.monotonic()
        try:
            p = subprocess.run([self.args.jol, "-d", self.root, *argv], cwd=self.cwd,
                               env=self.env, capture_output=True, text=True,
                               errors="replace", timeout=timeout)
            rc, out, err = p.returncode, p.stdout, p.stderr
        except subprocess.TimeoutExpired as e:
            rc, out, err = -1, (e.stdout or b"").decode(errors="replace") if isinstance(
                e.stdout, bytes) else (e.stdout or ""), ""
        self.stats.add(ops=1, failed_ops=1 if rc != 0 else 0,
                       lock_waits=err.count("'s lock in "))
        return rc, out, err, time.monotonic() - start

    def edit(self, name):
        path = os.path.join(self.dir, name)
        with open(path, "a") as f:
            f.write("client %d change %d\n" % (self.n, self.counter))

    def fix_conflicts(self, out):
        for line in out.splitlines():
            if line.startswith("C "):
                name = line[2:]
                with open(os.path.join(self.dir, name), "w") as f:
                    f.write("resolved by client %d at %d\n" % (self.n, self.counter))
                self.stats.add(conflicts=1)

    def record(self, out):
        """The revisions the server acknowledged, with what was sent: the
        "new revision" line is written before the archive, "done" after."""
        archive = rev = None
        for line in out.splitlines():
            m = ARCHIVE_LINE.match(line)
            if m:
                archive, rev = (m.group(1) + ",v", m.group(2)), None
                continue
            m = NEW_REV.match(line)
            if m and archive:
                rev = m.group(1) or m.group(2)
                continue
            if line == "done" and archive and rev:
                with open(os.path.join(self.dir, archive[1]), "rb") as f:
                    content = f.read()
                with self.stats.lock:
                    self.stats.acked.append((archive[0], rev, content))
                    self.stats.commits_acked += 1
            archive = rev = None

    def run(self):
        self.cwd = self.args.work
        rc = 1
        while rc != 0 and time.time() < self.deadline:
            shutil.rmtree(self.dir, ignore_errors=True)
            rc, _, _, _ = self.jol("-Q", "checkout", "-d", os.path.basename(self.dir), "proj")
        self.cwd = self.dir
        own = "own%02d.txt" % self.n
        while time.time() < self.deadline:
            self.counter += 1
            rc, out, err, _ = self.jol("-q", "update")
            self.fix_conflicts(out)
            if "C " in out:
                self.stats.add(merges=1)
            if not os.path.exists(os.path.join(self.dir, own)):
                # A killed checkout may leave the working copy half made.
                self.cwd = self.args.work
                shutil.rmtree(self.dir, ignore_errors=True)
                self.jol("-Q", "checkout", "-d", os.path.basename(self.dir), "proj")
                self.cwd = self.dir
                continue
            self.edit(own)
            if self.rng.random() < 0.4:
                self.edit("shared%d.txt" % self.rng.randrange(self.args.shared))
            rc, out, err, took = self.jol("commit", "-m", "c%d.%d" % (self.n, self.counter))
            with self.stats.lock:
                self.stats.commit_latency.append(took)
            self.record(out)
            if "Up-to-date check failed" in err:
                self.stats.add(refusals=1)
            if self.rng.random() < 0.1:
                rc, _, _, _ = self.jol("-Q", "tag", "-F", "T%d" % self.n, own)
                if rc == 0:
                    self.stats.add(tags=1)


def server_pids(jol, repo):
    """The processes running this run's server: connection parents and
    command children alike."""
    pids = []
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % d, "rb") as f:
                argv = f.read().split(b"\0")
        except OSError:
            continue
        if argv and argv[0] == jol.encode() and b"pserver" in argv and \
                ("--allow-root=" + repo).encode() in argv:
            pids.append(int(d))
    return pids


def peak_memory(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def pid_alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def lock_state(repo):
    """Lock files and directories, and archive lock files, below repo."""
    found = []
    for root, dirs, files in os.walk(repo):
        for name in dirs + files:
            if name.startswith("#jol.") or (name.startswith(",") and name.endswith(",")):
                found.append(os.path.join(root, name))
    return sorted(found)


def janitor(repo, stats, stop):
    """Removes locks whose owners are gone, as an operator would: a lock
    state that stays the same for 5 s with every named process dead."""
    seen = {}
    while not stop.is_set():
        time.sleep(1)
        now = time.time()
        by_dir = {}
        for path in lock_state(repo):
            by_dir.setdefault(os.path.dirname(path), []).append(path)
        for d, paths in by_dir.items():
            key = tuple(paths)
            if seen.get(d, (None,))[0] != key:
                seen[d] = (key, now)
                continue
            if now - seen[d][1] < 5:
                continue
            pids = [int(p.rsplit(".", 1)[1]) for p in paths
                    if re.search(r"#jol\.[rw]fl\..*\.\d+$", p)]
            if any(pid_alive(p) for p in pids):
                continue
            for p in paths:
                if os.path.isdir(p):
                    shutil.rmtree(p, ignore_errors=True)
                else:
                    try:
                        os.unlink(p)
                    except OSError:
                        pass
                with stats.lock:
                    stats.stale_removed.append(p)
            seen.pop(d, None)


def killer(jol, repo, stop, rng, kills):
    while not stop.is_set():
        time.sleep(rng.uniform(0.05, 0.5))
        pids = server_pids(jol, repo)
        if pids:
            pid = rng.choice(pids)
            try:
                os.kill(pid, signal.SIGKILL)
                kills.append(pid)
            except OSError:
                pass


def sampler(jol, repo, peaks, stop):
    while not stop.is_set():
        for pid in server_pids(jol, repo):
            peaks[pid] = max(peaks.get(pid, 0), peak_memory(pid))
        time.sleep(0.2)


def setup(args, env):
    repo = os.path.join(args.work, "repo")
    jol = args.jol
    subprocess.run([jol, "-Q", "-d", repo, "init"], check=True, env=env)
    os.mkdir(os.path.join(repo, "proj"))
    seed = os.path.join(args.work, "seed")
    subprocess.run([jol, "-Q", "-d", repo, "checkout", "-d", seed, "proj"], check=True,
                   env=env, cwd=args.work)
    names = ["shared%d.txt" % i for i in range(args.shared)] + \
        ["own%02d.txt" % i for i in range(args.clients)]
    for name in names:
        with open(os.path.join(seed, name), "w") as f:
            f.write("first line of %s\n" % name)
    subprocess.run([jol, "-Q", "add", *names], check=True, env=env, cwd=seed,
                   capture_output=True)
    subprocess.run([jol, "-Q", "commit", "-m", "start"], check=True, env=env, cwd=seed,
                   capture_output=True)
    me = subprocess.run(["id", "-un"], capture_output=True, text=True).stdout.strip()
    crypt = subprocess.run(["openssl", "passwd", "-6", "load"], capture_output=True,
                           text=True, check=True).stdout.strip()
    with open(os.path.join(repo, "JOLROOT", "passwd"), "w") as f:
        f.write("load:%s:%s\n" % (crypt, me))
    return repo


def start_superserver(args, repo, env):
    port = free_port()
    log = open(os.path.join(args.work, "superserver.log"), "w")
    if args.superserver == "inetd":
        conf = os.path.join(args.work, "inetd.conf")
        me = subprocess.run(["id", "-un"], capture_output=True, text=True).stdout.strip()
        with open(conf, "w") as f:
            f.write("127.0.0.1:%d stream tcp nowait.100000 %s %s jol -f --allow-root=%s "
                    "pserver\n" % (port, me, args.jol, repo))
        proc = subprocess.Popen(["/usr/sbin/inetd", "-d", conf], stderr=log, env=env)
    else:
        proc = subprocess.Popen(["systemd-socket-activate", "-l", "127.0.0.1:%d" % port,
                                 "--inetd", "-a", "-E", "HOME", "-E", "TMPDIR", "-E", "PATH",
                                 args.jol, "-f", "--allow-root=" + repo, "pserver"],
                                stderr=log, env=env)
    if not wait_port(port):
        proc.kill()
        sys.exit("the super-server did not start")
    return proc, port


def verify(args, repo, env, stats, killed):
    """The invariants; the counts of what is wrong."""
    jol = args.jol
    bad = {"corrupted": 0, "lost": 0, "leftovers": 0}
    archives = []
    for root, dirs, files in os.walk(repo):
        dirs[:] = [d for d in dirs if d != "JOLROOT"]
        archives += [os.path.join(root, f) for f in files if f.endswith(",v")]
    check = os.path.join(args.work, "verify")
    os.makedirs(check, exist_ok=True)
    # Every archive is read whole: its head checked out, then its log.
    # A lock left behind would make these wait for ever.
    subprocess.run([jol, "-Q", "-d", repo, "checkout", "-d", "all", "proj"],
                   capture_output=True, env=env, cwd=check, timeout=120)
    for a in archives:
        rel = os.path.relpath(a, os.path.join(repo, "proj"))[:-2].replace("Attic/", "")
        p = subprocess.run([jol, "log", rel], capture_output=True, env=env,
                           cwd=os.path.join(check, "all"), timeout=60)
        if p.returncode != 0 or b"revision 1.1\n" not in p.stdout:
            bad["corrupted"] += 1
            print("corrupted: %s: %s" % (a, p.stderr.decode(errors="replace").strip()))
    # And byte for byte against the layout the writer produces, when the
    # strict checker of the end-to-end tests lies beside this script.
    grammar = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e",
                           "archive_grammar.py")
    if os.path.exists(grammar):
        p = subprocess.run([sys.executable, grammar, "--tree", os.path.join(repo, "proj")],
                           capture_output=True, text=True)
        faults = {line.split(":", 1)[0] for line in p.stdout.splitlines()
                  if ": offset " in line}
        for f in sorted(faults):
            print("corrupted (grammar): %s" % f)
        bad["corrupted"] += len(faults) if p.returncode else 0
    for archive, rev, content in stats.acked:
        rel = os.path.relpath(archive, repo)[:-2].replace("/Attic/", "/")
        p = subprocess.run([jol, "-d", repo, "-Q", "checkout", "-p", "-r", rev, rel],
                           capture_output=True, env=env, cwd=check, timeout=60)
        if p.returncode != 0 or p.stdout != content:
            bad["lost"] += 1
            print("lost: %s %s" % (rel, rev))
    locks = lock_state(repo)
    temps = []
    for x in os.listdir(env["TMPDIR"]):
        m = re.match(r"jol-serv(\d+)[a-z]?$", x)
        if m and int(m.group(1)) in killed:
            # SIGKILL leaves no chance to clean up; only these may stay.
            stats.killed_trees += 1
            shutil.rmtree(os.path.join(env["TMPDIR"], x), ignore_errors=True)
        else:
            temps.append(x)
    for x in locks + temps:
        print("left over: %s" % x)
    bad["leftovers"] = len(locks) + len(temps)
    return len(archives), bad


def percentile(values, p):
    if not values:
        return 0.0
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p))]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--jol", required=True)
    ap.add_argument("--clients", type=int, default=32)
    ap.add_argument("--seconds", type=float, default=120)
    ap.add_argument("--shared", type=int, default=4)
    ap.add_argument("--kill", action="store_true")
    ap.add_argument("--work")
    ap.add_argument("--superserver", choices=["activate", "inetd"], default="activate")
    ap.add_argument("--memory-bound", type=int, default=256 * 1024,
                    help="KiB of peak resident memory per server process")
    args = ap.parse_args()
    args.jol = os.path.abspath(args.jol)
    own_work = not args.work
    args.work = os.path.abspath(args.work or tempfile.mkdtemp(prefix="jol-load."))
    env = dict(os.environ, TMPDIR=os.path.join(args.work, "tmp"),
               HOME=os.path.join(args.work, "home"),
               JOL_PASSFILE=os.path.join(args.work, "jolpass"))
    env.pop("JOLROOT", None)
    os.makedirs(env["TMPDIR"], exist_ok=True)
    os.makedirs(env["HOME"], exist_ok=True)
    repo = setup(args, env)
    ss, port = start_superserver(args, repo, env)
    root = ":pserver;port=%d:load@127.0.0.1:%s" % (port, repo)
    subprocess.run([args.jol, "-d", root, "login"], input=b"load\n", check=True, env=env,
                   capture_output=True, start_new_session=True)
    stats = Stats()
    stop = threading.Event()
    peaks, kills = {}, []
    helpers = [threading.Thread(target=sampler, args=(args.jol, repo, peaks, stop), daemon=True)]
    if args.kill:
        helpers.append(threading.Thread(target=killer, daemon=True,
                                        args=(args.jol, repo, stop, random.Random(7), kills)))
        helpers.append(threading.Thread(target=janitor, args=(repo, stats, stop), daemon=True))
    for h in helpers:
        h.start()
    started = time.time()
    clients = [Client(i, args, root, env, stats, started + args.seconds)
               for i in range(args.clients)]
    for c in clients:
        c.start()
    for c in clients:
        c.join()
    elapsed = time.time() - started
    stop.set()
    for h in helpers:
        h.join(10)
    ss.terminate()
    ss.wait()
    # Command children of killed parents may still be finishing.
    end = time.time() + 30
    while server_pids(args.jol, repo) and time.time() < end:
        time.sleep(0.2)
    if args.kill:
        # What the killer left: the next command that wants the lock
        # reports it in its waiting message; then the operator removes it.
        left = lock_state(repo)
        if left:
            p = subprocess.run(["timeout", "5", args.jol, "-d", repo, "rtag", "-F", "probe",
                                "proj"], capture_output=True, text=True, env=env,
                               cwd=args.work, errors="replace")
            for line in p.stderr.splitlines():
                if "'s lock in " in line or "lock file" in line:
                    print("next command: %s" % line)
                    stats.lock_waits += 1
                    break
        for path in left:
            owner = re.search(r"\.(\d+)$", path)
            if owner and int(owner.group(1)) not in kills:
                continue
            stats.stale_removed.append(path)
            shutil.rmtree(path, ignore_errors=True) if os.path.isdir(path) else os.unlink(path)
    archives, bad = verify(args, repo, env, stats, set(kills))
    peak = max(peaks.values()) if peaks else 0
    if peak > args.memory_bound:
        print("server memory: peak %d KiB over the bound" % peak)
    found = stats.commits_acked - bad["lost"]
    print("clients %d, %.0f s, operations %d (%.1f/s, %d failed), commits acknowledged %d, "
          "commits found %d, up-to-date refusals %d, conflicts %d, tags %d" % (
              args.clients, elapsed, stats.ops, stats.ops / elapsed, stats.failed_ops,
              stats.commits_acked, found, stats.refusals, stats.conflicts, stats.tags))
    lat = stats.commit_latency
    print("commit latency: p50 %.3f s, p95 %.3f s, p99 %.3f s, max %.3f s" % (
        percentile(lat, .5), percentile(lat, .95), percentile(lat, .99),
        max(lat) if lat else 0))
    print("server processes seen %d, peak memory of one %d KiB" % (len(peaks), peak))
    if args.kill:
        print("processes killed %d, lock waits reported %d, stale locks removed %d, "
              "trees of killed servers %d" % (len(kills), stats.lock_waits,
                                              len(stats.stale_removed), stats.killed_trees))
    print("archives checked %d, corrupted %d, lost %d, leftovers %d" % (
        archives, bad["corrupted"], bad["lost"], bad["leftovers"]))
    ok = not any(bad.values()) and peak <= args.memory_bound and stats.commits_acked > 0
    if own_work and ok:
        shutil.rmtree(args.work, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
