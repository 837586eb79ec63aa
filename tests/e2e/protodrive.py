#!/usr/bin/env python3
"""A raw-protocol driver for `jol server`: speaks request lines to a real
server on a pipe and checks its responses byte for byte.

Used by the t5xxx scripts in two ways:

  protodrive.py run JOL [ARGS...] < session
      Runs `JOL [ARGS...] server` (ARGS are global options) with the
      session on standard input and copies the server's standard output,
      unchanged, to standard output, and its exit status. A session line
      "@file NAME" is replaced by the bytes of NAME (for file data after a
      "Modified" size line); every other line is sent as it stands. A
      line "@shell COMMAND" sends "noop", copies the responses up to its
      "ok" or "error", then runs COMMAND with $SERVER_TMP naming the
      server's temporary tree (to look at it, or to change it behind the
      server's back) while the server waits for the rest of the session.

  protodrive.py connect PORT < session
      Connects to 127.0.0.1:PORT (a password server under a super-server),
      sends the session (with "@file NAME" lines as above; "@hex HEX"
      sends raw bytes), ends its sending side and copies everything the
      server sends until it closes the connection; 3 when that takes
      longer than JOL_CONNECT_TIMEOUT seconds (default 30).

  As a module: Server(jol, args) gives send(), send_bytes(), read_line(),
  read_until_status() and close() for interactive tests (a slow reader,
  a client that goes away).
"""
import os
import socket
import subprocess
import sys


class Server:
    def __init__(self, jol, args=(), env=None, cwd=None):
        self.proc = subprocess.Popen([jol, *args, "server"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     env=env, cwd=cwd, bufsize=0)

    def send(self, *lines):
        for line in lines:
            self.proc.stdin.write(line.encode() + b"\n")
        self.proc.stdin.flush()

    def send_bytes(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def read_line(self):
        line = self.proc.stdout.readline()
        if not line:
            raise EOFError("server closed its output")
        return line.decode(errors="replace").rstrip("\n")

    def read_until_status(self):
        """Lines up to and including the first "ok" or "error ..." line."""
        lines = []
        while True:
            line = self.read_line()
            lines.append(line)
            if line == "ok" or line.startswith("error"):
                return lines

    def close(self):
        self.proc.stdin.close()
        out = self.proc.stdout.read()
        err = self.proc.stderr.read()
        return self.proc.wait(), out, err


def session_parts(text):
    """The session as pieces of bytes to send, with b"" between them where
    an "@shell" line stands (its command in the list that comes second)."""
    parts, shells = [bytearray()], []
    for line in text.split(b"\n")[:-1] if text.endswith(b"\n") else text.split(b"\n"):
        if line.startswith(b"@file "):
            with open(line[6:].decode(), "rb") as f:
                parts[-1] += f.read()
        elif line.startswith(b"@hex "):
            parts[-1] += bytes.fromhex(line[5:].decode())
        elif line.startswith(b"@shell "):
            shells.append(line[7:].decode())
            parts.append(bytearray())
        else:
            parts[-1] += line + b"\n"
    return [bytes(p) for p in parts], shells


def server_tmp(pid):
    tmp = os.environ.get("TMPDIR", "/tmp")
    base = os.path.join(tmp, f"jol-serv{pid}")
    for suffix in ["", *"abcdefghijklmnopqrstuvwxyz"]:
        if os.path.isdir(base + suffix):
            return base + suffix
    return base


def run_interactive(cmd, parts, shells):
    out = sys.stdout.buffer
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
    for part, shell in zip(parts, shells):
        proc.stdin.write(part + b"noop\n")
        proc.stdin.flush()
        while True:
            line = proc.stdout.readline()
            out.write(line)
            if not line or line == b"ok\n" or line.startswith(b"error"):
                break
        out.flush()
        subprocess.run(["sh", "-c", shell], env=dict(os.environ, SERVER_TMP=server_tmp(proc.pid)))
    proc.stdin.write(parts[-1])
    proc.stdin.close()
    out.write(proc.stdout.read())
    return proc.wait()


def connect(port, data):
    timeout = float(os.environ.get("JOL_CONNECT_TIMEOUT", "30"))
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        try:
            s.sendall(data)
            s.shutdown(socket.SHUT_WR)
        except OSError:
            pass  # the server may close early; what it said is still there
        try:
            while True:
                piece = s.recv(65536)
                if not piece:
                    return 0
                sys.stdout.buffer.write(piece)
                sys.stdout.buffer.flush()
        except socket.timeout:
            return 3
        except ConnectionResetError:
            return 0


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("run", "connect"):
        sys.stderr.write(__doc__)
        return 2
    parts, shells = session_parts(sys.stdin.buffer.read())
    if sys.argv[1] == "connect":
        return connect(int(sys.argv[2]), b"".join(parts))
    cmd = [*sys.argv[2:], "server"]
    if shells:
        return run_interactive(cmd, parts, shells)
    proc = subprocess.run(cmd, input=parts[0], stdout=subprocess.PIPE)
    sys.stdout.buffer.write(proc.stdout)
    return proc.returncode


if __name__ == "__main__":
    sys.exit(main())
