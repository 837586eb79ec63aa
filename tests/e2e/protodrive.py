#!/usr/bin/env python3
"""A raw-protocol driver for `jol server`: speaks request lines to a real
server on a pipe and checks its responses byte for byte.

Used by the t5xxx scripts in two ways:

  protodrive.py run JOL [ARGS...] < session
      Runs `JOL [ARGS...] server` (ARGS are global options) with the
      session on standard input and copies the server's standard output,
      unchanged, to standard output, and its exit status. A session line
      "@file NAME" is replaced by the bytes of NAME (for file data after a
      "Modified" size line); every other line is sent as it stands.

  As a module: Server(jol, args) gives send(), send_bytes(), read_line(),
  read_until_status() and close() for interactive tests (a slow reader,
  a client that goes away).
"""
import os
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


def session_bytes(text):
    out = bytearray()
    for line in text.split(b"\n")[:-1] if text.endswith(b"\n") else text.split(b"\n"):
        if line.startswith(b"@file "):
            with open(line[6:].decode(), "rb") as f:
                out += f.read()
        else:
            out += line + b"\n"
    return bytes(out)


def main():
    if len(sys.argv) < 3 or sys.argv[1] != "run":
        sys.stderr.write(__doc__)
        return 2
    data = session_bytes(sys.stdin.buffer.read())
    proc = subprocess.run([*sys.argv[2:], "server"], input=data, stdout=subprocess.PIPE)
    sys.stdout.buffer.write(proc.stdout)
    return proc.returncode


if __name__ == "__main__":
    sys.exit(main())
