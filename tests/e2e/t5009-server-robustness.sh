#!/bin/bash
# The server when its client goes away, and when a hook leaves a program
# running: a client killed after the first file of a 200-file commit was
# checked in leaves the commit to finish on the server, every archive
# readable, no lock behind and the revisions log shows; a loginfo filter
# that leaves a background process holding the command's output open does
# not hold the command's end.
GRAMMAR="python3 $(cd "$(dirname "$0")" && pwd)/archive_grammar.py"
. "$(dirname "$0")/lib.sh"
remote && skip_remote "drives the server with raw protocol requests"
export JOL_SERVER=$JOL

REPO=$SCRATCH/repo
jol -Q -d "$REPO" init
mkdir "$REPO/proj"
ROOT=":fork:$REPO"
jol -Q -d "$ROOT" checkout proj
cd proj
for i in $(seq -w 1 200); do printf 'file %s\n' "$i" >"f$i.txt"; done
jol -Q add f*.txt
jol -Q commit -m first
expect_status 0
for i in $(seq -w 1 200); do printf 'file %s, second\n' "$i" >>"f$i.txt"; done

# The client dies as soon as the server reports its first check-in.
cat >"$SCRATCH/kill-client.py" <<'PY'
import os, signal, subprocess, sys
jol = sys.argv[1]
p = subprocess.Popen([jol, "commit", "-m", "second"], stdout=subprocess.PIPE,
                     stderr=subprocess.DEVNULL, start_new_session=True)
for line in p.stdout:
    if line.startswith(b"new revision:"):
        os.kill(p.pid, signal.SIGKILL)
        break
p.wait()
print("killed" if p.returncode == -signal.SIGKILL else "not killed: %d" % p.returncode)
PY
python3 "$SCRATCH/kill-client.py" "$JOL" >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="commit with its client killed"
expect_stdout <<'X'
killed
X
# The server goes on alone; wait for it to finish and clean up.
for _ in $(seq 1 600); do
    ls "$TMPDIR" | grep -q '^jol-serv' || break
    sleep 0.1
done
check "the server finished and removed its tree" sh -c "! ls '$TMPDIR' | grep -q '^jol-serv'"
check "no repository lock left" sh -c "! find '$REPO' -name '#jol.*' | grep -q ."
check "no archive lock left" sh -c "! find '$REPO' -name ',*,' | grep -q ."
$GRAMMAR --tree "$REPO" >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="archive_grammar --tree repo"
expect_status 0
committed=$(grep -l '^1\.2$' "$REPO"/proj/f*.txt,v | wc -l)
echo "files committed after the client died: $committed of 200"
jol -Q log -h
expect_status 0
check "log shows every revision the archives hold" \
    test "$(grep -c '^head: 1.2$' "$OUT")" -eq "$committed"
check "the commit was carried through" test "$committed" -eq 200

# A loginfo filter that leaves a program running with the output open.
cd "$SCRATCH"
jol -Q -d "$ROOT" checkout -d hookwc JOLROOT
cd hookwc
echo 'ALL (sleep 30; echo late) &' >>loginfo
jol -Q commit -m "background hook"
expect_status 0
cd "$SCRATCH/proj"
echo more >>f001.txt
start=$(date +%s)
jol -Q commit -m "hook leaves a process" f001.txt
expect_status 0
took=$(($(date +%s) - start))
check "the command ended without waiting for the hook's process (${took}s)" test "$took" -lt 15
pkill -u "$(id -un)" -f 'sleep 30' 2>/dev/null
finish
