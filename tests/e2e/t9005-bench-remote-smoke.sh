#!/bin/bash
# The remote modes of the workflow benchmark on a tiny history, one run of
# every operation: the servers start on loopback (the password server with
# a login, sshd, and svnserve and git daemon when those tools are
# installed), every remote copy of the replayed history checks out equal to
# the generated trees through its connection, every timed command
# succeeds, and the remote tables report times and the bytes counted by the
# relays.
BENCH=$(cd "$(dirname "$0")/../../bench" && pwd)
. "$(dirname "$0")/lib.sh"
remote && skip_remote "starts its own servers and chooses its own roots"
for p in /usr/sbin/sshd systemd-socket-activate ssh openssl; do
    command -v "$p" >/dev/null || { echo "$TEST_NAME: skipped ($p missing)"; exit 77; }
done

PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3
WL=$SCRATCH/wl
"$PY" "$BENCH/workload" --out "$WL" --files 20 --dirs 4 --commits 10 2>/dev/null

tools=jol
command -v svnserve >/dev/null && tools=$tools,svn
command -v git >/dev/null && tools=$tools,git
"$PY" "$BENCH/compare" --remote --reps 1 --workload "$WL" --work "$SCRATCH/work" \
    --jol "$JOL" --tools "$tools" >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="compare --remote --reps 1 --tools $tools"
expect_status 0
remotes="jol-pserver jol-pserver-z6 jol-ext"
case $tools in *svn*) remotes="$remotes svn-serve svn-ssh" ;; esac
case $tools in *git*) remotes="$remotes git-daemon git-ssh" ;; esac
for t in $remotes; do
    expect_stderr_has "$t: head matches the generated tree"
    expect_stderr_has "$t: tag REL_1 matches the generated tree"
done
check "no timed command failed" sh -c "! grep -q 'timed commands failed' '$OUT'"
expect_stdout_has "Remote, password server"
expect_stdout_has "Remote, the same, jol with -z 6"
expect_stdout_has "Remote, ssh"

# Each remote table row: label, times, ratios, then "out/in" KB per tool,
# jol's first. An update of an unchanged copy still talks to the server, a
# checkout receives more than it sends, and the compressed one less.
row() { sed -n "/^Remote, $1/,/^\$/p" "$OUT" | grep "^$2"; }
tools_in() { row "$1" 'operation' | grep -o 'KB out/in' | wc -l; }
jol_kb() { # TABLE LABEL: jol's "out/in" field
    local n; n=$(tools_in "$1")
    row "$1" "$2" | awk -v n="$n" '{ print $(NF - n + 1) }'
}
for table in "password server" "the same, jol with -z 6" "ssh"; do
    upd=$(jol_kb "$table" "update, unchanged copy")
    check "$table: update of an unchanged copy has traffic ($upd)" \
        sh -c "case '$upd' in */0.0|0.0/*|'') exit 1;; esac"
done
plain=$(jol_kb "password server" "checkout of the head" | cut -d/ -f2)
packed=$(jol_kb "the same, jol with -z 6" "checkout of the head" | cut -d/ -f2)
check "a checkout receives the files ($plain KB)" awk "BEGIN { exit !($plain > 100) }"
check "-z 6 receives less ($packed KB < $plain KB)" awk "BEGIN { exit !($packed < $plain) }"
finish
