#!/bin/bash
# File contents sent with "Modified": plain and gzip data, the mode line,
# Checkin-time, Kopt, data that must be consumed although the request is
# refused, strict size lines, broken and cut-short data, and large files
# received in bounded memory.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "drives the server with raw protocol requests"
HERE=$(cd "$(dirname "$0")" && pwd)

REPO=$SCRATCH/repo
jol -d "$REPO" init
expect_status 0
RESP="ok error Valid-requests Checked-in New-entry Checksum Copy-file Updated Created Update-existing Merged Patched Rcs-diff Mode Mod-time Removed Remove-entry Set-static-directory Clear-static-directory Set-sticky Clear-sticky Template Set-checkin-prog Set-update-prog Notified Module-expansion Wrapper-rcsOption M Mbinary E F MT"
HEAD="Root $REPO
Valid-responses $RESP"

printf 'first line\nsecond line\n' >plain.txt
seq 1 2000 >numbers.txt
gzip -c numbers.txt >numbers.gz
size() { wc -c <"$1" | tr -d ' '; }

# Contents, permissions from the mode line (no umask), the check-in time
# for the next file only, and a Kopt that gives a new file its entry.
serve <<X
$HEAD
Directory .
$REPO
Checkin-time 1 Jan 2001 00:00:00 -0000
Modified plain.txt
u=rwx,g=rx,o=
$(size plain.txt)
@file plain.txt
Kopt -kb
Modified numbers.txt
a=r,u=rw
z$(size numbers.gz)
@file numbers.gz
Modified empty
u=rw,g=,o=
0
@shell cd \$SERVER_TMP && stat -c '%n %a %s' plain.txt numbers.txt empty && cmp plain.txt $SCRATCH/plain.txt && cmp numbers.txt $SCRATCH/numbers.txt && date -u -r plain.txt +%Y-%m-%dT%H:%M && test \$(date -r numbers.txt +%Y) -gt 2001 && cat JOL/Entries
X
expect_status 0
expect_stdout <<'X'
ok
plain.txt 750 23
numbers.txt 644 8893
empty 600 0
2001-01-01T00:00
/numbers.txt//D/-kb/
X

# A refused Modified still consumes its data (here the text of a request
# that must not run), writes nothing, and its error waits for the next
# command.
serve <<X
$HEAD
Modified early
u=rw,g=r,o=r
5
noop
@shell cd \$SERVER_TMP && find .
noop
X
expect_stdout <<'X'
E Protocol error: 'Directory' missing
error  
.
ok
X
serve <<X
$HEAD
Directory .
$REPO
Modified sub/f
u=rw,g=r,o=r
5
noop
@shell cd \$SERVER_TMP && find . -name f
noop
X
expect_stdout <<'X'
E protocol error: directory 'sub/f' not within current directory
error  
ok
X
serve <<X
$HEAD
Directory .
$REPO
Modified f
u=rwxs,g=r,o=r
5
noop
@shell cd \$SERVER_TMP && find . -name f
X
expect_stdout <<'X'
E protocol error: invalid mode u=rwxs,g=r,o=r for f
error  
X

# A size line is decimal digits and nothing else; anything else leaves the
# stream out of step, so the connection ends.
for bad in "5 " "+5" "-1" "0x5" "z" "" "z-5" "99999999999999999999"; do
    serve <<X
$HEAD
Directory .
$REPO
Modified f
u=rw,g=r,o=r
$bad
noop
noop
X
    expect_status 1
    expect_stdout <<X
E Protocol error: invalid size \`$bad' for f
error  
X
done

# Damaged gzip data: the file is not taken, the rest of the data is read,
# the next request is in step.
serve <<X
$HEAD
Directory .
$REPO
Modified f
u=rw,g=r,o=r
z5
noop
noop
noop
X
expect_stdout <<'X'
E jol server: gzipped data does not start with gzip identification
E aborting due to compression error, file f
error  
ok
X
head -c 100 numbers.gz >cut.gz
serve <<X
$HEAD
Directory .
$REPO
Modified f
u=rw,g=r,o=r
z100
@file cut.gz
noop
X
expect_stdout <<'X'
E jol server: invalid length uncompressing f
E aborting due to compression error, file f
error  
X

# The client goes away in the middle of the data.
printf 'Root %s\nValid-responses %s\nDirectory .\n%s\nModified f\nu=rw\n100\nonly a few bytes' \
    "$REPO" "$RESP" "$REPO" | "$JOL" server >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="server with data cut short"
expect_status 0
expect_stdout </dev/null

# Large files, plain and compressed, are written as they arrive: the
# server's memory stays far below their size.
head -c $((40 << 20)) /dev/urandom >big
gzip -1 -c big >big.gz
cat >"$SCRATCH/big.py" <<'PY'
import os, resource, signal, subprocess, sys, glob
jol, repo, resp, scratch = sys.argv[1:5]
signal.alarm(120)
# The resident size of a server that receives next to nothing, to compare.
subprocess.run([jol, "server"], input=f"Root {repo}\nValid-responses {resp}\nnoop\n".encode(),
               stdout=subprocess.DEVNULL)
base_mb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024
p = subprocess.Popen([jol, "server"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
def send(b): p.stdin.write(b)
send(f"Root {repo}\nValid-responses {resp}\nDirectory .\n{repo}\n".encode())
for name, data, z in (("plain", "big", ""), ("packed", "big.gz", "z")):
    path = os.path.join(scratch, data)
    send(f"Modified {name}\nu=rw\n{z}{os.path.getsize(path)}\n".encode())
    with open(path, "rb") as f:
        while chunk := f.read(1 << 20):
            send(chunk)
send(b"noop\n")
p.stdin.flush()
print(p.stdout.readline().decode(), end="")
tree = glob.glob(os.path.join(os.environ["TMPDIR"], f"jol-serv{p.pid}*"))[0]
big = open(os.path.join(scratch, "big"), "rb").read()
for name in ("plain", "packed"):
    print(name, open(os.path.join(tree, name), "rb").read() == big)
p.stdin.close()
p.wait()
growth_mb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024 - base_mb
print("bounded" if growth_mb < 16 else f"grew by {growth_mb} MB")
print(f"resident {base_mb} MB, grew by {growth_mb} MB", file=sys.stderr)
PY
python3 "$SCRATCH/big.py" "$JOL" "$REPO" "$RESP" "$SCRATCH" >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="server receiving 40 MB files"
expect_status 0
expect_stdout <<'X'
ok
plain True
packed True
bounded
X
cat "$ERR" >&2

check "no temporary tree is left" sh -c "! ls '$TMPDIR' | grep -q '^jol-serv'"
finish
