#!/usr/bin/python3
"""A scripted server for client tests, run by the client as its JOL_SERVER
(with the single argument "server") over :fork:.

  FAKE_SERVER_SCRIPT  the session to play: lines "> NAME" wait until the
                      client sends a request line that is NAME or begins
                      with NAME and a space; the lines after one (up to the
                      next "> " line) are then sent as they stand. Counted
                      data is written as its lines, so a size line counts
                      the bytes of the lines that follow it.
  FAKE_SERVER_LOG     every byte the client sent is appended here; the
                      number of steps played so far is kept in the file
                      of that name with ".step" added, so that a command
                      that connects again goes on with the next step.

"valid-requests" is answered by itself, offering every request a client
may need, before the script starts.
"""
import os
import sys

REQUESTS = (
    "Root Valid-responses valid-requests Repository Directory Max-dotdot "
    "Static-directory Sticky Checkin-prog Update-prog Entry Kopt Checkin-time "
    "Modified Is-modified Unchanged Notify Questionable Argument Argumentx "
    "Global_option Gzip-stream wrapper-sendme-rcsOptions Set expand-modules "
    "ci co update diff log add remove status tag rtag admin export init "
    "annotate noop version"
)


def parse_script(path):
    steps = []
    with open(path, "rb") as f:
        for line in f:
            if line.startswith(b"> "):
                steps.append((line[2:].rstrip(b"\n"), []))
            elif steps:
                steps[-1][1].append(line)
    return steps


def main():
    steps = parse_script(os.environ["FAKE_SERVER_SCRIPT"])
    log = open(os.environ["FAKE_SERVER_LOG"], "ab", buffering=0)
    inp = sys.stdin.buffer
    out = sys.stdout.buffer
    step_file = os.environ["FAKE_SERVER_LOG"] + ".step"
    try:
        with open(step_file) as f:
            step = int(f.read() or 0)
    except FileNotFoundError:
        step = 0
    while True:
        line = inp.readline()
        if not line:
            return
        log.write(line)
        request = line.rstrip(b"\n")
        if request == b"valid-requests":
            out.write(b"Valid-requests " + REQUESTS.encode() + b"\nok\n")
            out.flush()
            continue
        name = request.split(b" ", 1)[0]
        if name == b"Modified":
            # A mode line, a size line ("z" for compressed), the data.
            mode = inp.readline()
            size = inp.readline()
            log.write(mode + size)
            log.write(inp.read(int(size.strip().lstrip(b"z") or b"0")))
            continue
        if step < len(steps) and (request == steps[step][0] or
                                  request.startswith(steps[step][0] + b" ")):
            out.write(b"".join(steps[step][1]))
            out.flush()
            step += 1
            with open(step_file, "w") as f:
                f.write(str(step))


if __name__ == "__main__":
    main()
