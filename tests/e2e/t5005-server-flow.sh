#!/bin/bash
# Flow control and bounded memory in the server: a 20 MB revision sent to
# a slow client arrives complete while the server parent's resident size
# stays small, the child is told to stop and to go on (visible in a -t
# trace), and the trace lines never cut into a response; a client that
# goes away in the middle of a command leaves the command to finish and no
# temporary tree behind.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "drives the server with raw protocol requests"
HERE=$(cd "$(dirname "$0")" && pwd)

new_project big
python3 - <<'PY'
with open("f.txt", "w") as f:
    for i in range(400000):
        f.write("line %d of a revision far larger than any buffer %d\n" % (i, i * 7919 % 100003))
PY
jol -Q add f.txt
jol -Q commit -m big
expect_status 0
cp f.txt "$SCRATCH/expected.txt"
cd "$SCRATCH"
RESP="ok error Valid-requests Checked-in Updated Merged Removed M E F MT"

cat >"$SCRATCH/slow.py" <<'PY'
import os, sys, time
sys.path.insert(0, sys.argv[1])
from protodrive import Server
jol, repo, resp, out = sys.argv[2:6]
s = Server(jol, args=["-t"])
s.send("Root " + repo, "Valid-responses " + resp, "Argument -p", "Argument big", "co")
time.sleep(2)  # the client does not read: the backlog grows to the mark
peak = 0
with open(out, "w") as data, open(out + ".trace", "w") as trace:
    n = 0
    while True:
        line = s.read_line()
        n += 1
        if line.startswith("M "):
            data.write(line[2:] + "\n")
        elif line.startswith("E S-> flow control"):
            trace.write(line + "\n")
        if n % 40000 == 0:
            status = open(f"/proc/{s.proc.pid}/status").read()
            peak = max(peak, int(status.split("VmHWM:")[1].split()[0]))
            time.sleep(0.5)
        if line == "ok" or line.startswith("error"):
            print(line)
            break
print("peak", peak)
print("exit", s.close()[0])
PY
python3 "$SCRATCH/slow.py" "$HERE" "$JOL" "$REPO" "$RESP" "$SCRATCH/got.txt" >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="co -p big to a slow client"
expect_status 0
expect_stdout_has "ok"
expect_stdout_has "exit 0"
check "the whole revision arrived" cmp -s "$SCRATCH/expected.txt" "$SCRATCH/got.txt"
check "the child was stopped and let go on" \
    sh -c "grep -q 'S (stop)' '$SCRATCH/got.txt.trace' && grep -q 'G (go)' '$SCRATCH/got.txt.trace'"
peak=$(sed -n 's/^peak //p' "$OUT")
echo "server parent peak resident size: ${peak} kB for a 20 MB revision"
check "server parent memory bounded (${peak} kB)" test "${peak:-999999}" -lt 32768

# A client that goes away mid-command: the command finishes, the server
# cleans up after it.
cat >"$SCRATCH/gone.py" <<'PY'
import os, sys, time
sys.path.insert(0, sys.argv[1])
from protodrive import Server
jol, repo, resp = sys.argv[2:5]
s = Server(jol)
s.send("Root " + repo, "Valid-responses " + resp, "Argument -p", "Argument big", "co")
s.read_line()
s.proc.stdout.close()
s.proc.stdin.close()
print("exit", s.proc.wait())
PY
python3 "$SCRATCH/gone.py" "$HERE" "$JOL" "$REPO" "$RESP" >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="client gone in the middle of co -p"
expect_status 0
expect_stdout <<'X'
exit 0
X
check "no temporary tree is left" sh -c "! ls '$TMPDIR' | grep -q '^jol-serv'"
finish
