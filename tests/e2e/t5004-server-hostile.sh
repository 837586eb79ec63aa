#!/bin/bash
# A hostile client: names that climb out of the tree or into its
# administrative files, repositories outside the root, files before any
# Directory, links planted in the tree, misformed entries and options,
# programs named by the client, lines and sizes out of bounds, a client
# that never reads, newlines smuggled into arguments. Each session must be
# refused with the exact text, and nothing outside the server's temporary
# tree may change: a sentinel tree next to it and the repository are
# compared before and after every session.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "drives the server with raw protocol requests"
HERE=$(cd "$(dirname "$0")" && pwd)

REPO=$SCRATCH/repo
jol -d "$REPO" init
expect_status 0
RESP="ok error Valid-requests Checked-in New-entry Checksum Copy-file Updated Created Update-existing Merged Patched Rcs-diff Mode Mod-time Removed Remove-entry Set-static-directory Clear-static-directory Set-sticky Clear-sticky Template Set-checkin-prog Set-update-prog Notified Module-expansion Wrapper-rcsOption M Mbinary E F MT"
HEAD="Root $REPO
Valid-responses $RESP"
SENT=$SCRATCH/sentinel
mkdir -p "$SENT/dir" "$REPO/proj"
echo keep >"$SENT/file"
echo keep >"$SENT/dir/inner"
chmod u+w "$REPO/JOLROOT/modules"
echo 'prog -i /bin/true -u /bin/true proj' >>"$REPO/JOLROOT/modules"
listing() { tree_listing "$SENT"; tree_listing "$REPO"; }
BEFORE=$(listing)
untouched() {
    check "$1: nothing outside the server's tree changed" test "$BEFORE" = "$(listing)"
}

# P1: arguments climbing out, however the ".." are placed; absolute ones.
for arg in "a/../../x" "../x" "./../../sentinel/file"; do
    serve <<X
$HEAD
Directory .
$REPO
Argument $arg
status
X
    expect_stdout <<X
E jol server: protocol error: \`$arg' contains more leading ..
E jol [server aborted]: than the 0 which Max-dotdot specified
error  
X
done
serve <<X
$HEAD
Directory .
$REPO
Argument $SENT/file
status
X
expect_stdout <<X
E jol [server aborted]: absolute pathname \`$SENT/file' illegal for server
error  
X
untouched "arguments climbing out"

# Directory names: absolute, climbing out, into JOL, with empty or "."
# components, ".." in the middle, a trailing slash.
dir_refused() {
    # $1: directory name, $2: the expected first line
    serve <<X
$HEAD
Directory $1
$REPO
Modified Repository
u=rw
5
/etc
noop
X
    expect_stdout <<X
$2
error  
X
}
dir_refused "$SENT" "E absolute pathname \`$SENT' illegal for server"
dir_refused "../../sentinel" "E protocol error: \`../../sentinel' has too many .."
dir_refused "a/../../../sentinel" "E protocol error: \`a/../../../sentinel' has too many .."
for d in sub/JOL JOL sub/JOL/x ./sub sub/./x sub//x sub/ "" a/../b; do
    dir_refused "$d" "E protocol error: invalid directory syntax in $d"
done
printf '%s\nDirectory a\0b\n%s\nnoop\n' "$HEAD" "$REPO" | serve
expect_stdout <<'X'
E protocol error: invalid directory syntax in a?b
error  
X
untouched "directory names"

# P2: file names that are not plain names of the current directory.
for req in "Modified JOL" "Modified ." "Modified .." "Modified" "Unchanged JOL" \
    "Is-modified .." "Questionable JOL" "Notify ."; do
    name=${req#* }
    [ "$name" = "$req" ] && name=
    case $req in
    Modified*) data="u=rw
5
noop
" ;;
    Notify*) data="E	t	h	/w	
" ;;
    *) data= ;;
    esac
    serve <<X
$HEAD
Directory .
$REPO
$req
${data}noop
noop
X
    expect_stdout <<X
E protocol error: invalid file name \`$name'
error  
ok
X
done
# With "Case", any spelling of the administrative directory is refused.
serve <<X
$HEAD
Case
Directory jol/x
$REPO
Directory .
$REPO
Modified Jol
u=rw
0
noop
X
expect_stdout <<'X'
E protocol error: invalid directory syntax in jol/x
error  
X
untouched "file names"

# P3: the repository line must be the root or below it, textually.
for repos in "$REPO/../sentinel" "$REPO/proj/../../sentinel" "$REPO//proj" "$REPO/./proj" \
    "$REPO/proj/" "$REPO/proj/." "${REPO}x" "$SENT"; do
    serve <<X
$HEAD
Directory .
$repos
noop
X
    expect_stdout <<X
E protocol error: directory '$repos' not within root '$REPO'
error  
X
done
serve <<X
$HEAD
Directory .
proj
noop
X
expect_stdout <<'X'
E protocol error: proj is not absolute
error  
X
untouched "repositories outside the root"

# P4: requests that write into the current directory, before any
# Directory, write nothing (the data is still consumed).
for req in "Entry /f/1.1///" "Static-directory" "Sticky Tx" "Checkin-prog /bin/true" \
    "Update-prog /bin/true" "Unchanged f" "Is-modified f"; do
    serve <<X
$HEAD
$req
@shell cd \$SERVER_TMP && find .
noop
X
    expect_stdout <<'X'
E Protocol error: 'Directory' missing
error  
.
ok
X
done
untouched "requests before Directory"

# P5: the tree is private (mode 0700), and links planted in it are never
# followed: not by a file received, not by an administrative file, not by
# a directory, not by the final removal of the tree.
serve <<X
$HEAD
Directory .
$REPO
@shell cd \$SERVER_TMP && stat -c %a . && ln -s $SENT/file f && ln -s $SENT/file JOL/Tag && ln -s $SENT/dir sub && ln -s $SENT keep
Modified f
u=rw
5
evil
noop
Sticky Tevil
noop
Directory sub/x
$REPO/proj
noop
Directory sub
$REPO/proj
noop
X
sed -i "s|$TMPDIR/jol-serv[0-9]*|TMP|" "$OUT"
expect_stdout <<'X'
ok
700
E cannot open f
error  Too many levels of symbolic links
E cannot open JOL/Tag
error  Too many levels of symbolic links
E cannot mkdir TMP/sub/x
error  Too many levels of symbolic links
E cannot mkdir TMP/sub
error  Too many levels of symbolic links
X
untouched "links planted in the tree"
serve <<X
$HEAD
Directory .
$REPO
@shell ln -s $SENT/dir \$SERVER_TMP/sub
Directory sub/x
$REPO/proj
noop
X
sed -i "s|$TMPDIR/jol-serv[0-9]*|TMP|" "$OUT"
expect_stdout <<'X'
ok
E cannot mkdir TMP/sub/x
error  Too many levels of symbolic links
X
untouched "a link on the way to a directory"

# P6: entries lines are checked when they arrive.
for e in "/a/1.1//" "/a/1.1////x" "a/1.1///" "D/sub////" "/../1.1///" "/JOL/1.1///" \
    "//1.1///" "/./1.1///"; do
    serve <<X
$HEAD
Directory .
$REPO
Entry $e
noop
X
    expect_stdout <<X
E protocol error: invalid Entry request: $e
error  
X
done
printf '%s\nDirectory .\n%s\nEntry /a\0b/1.1///\nnoop\n' "$HEAD" "$REPO" | serve
expect_stdout <<'X'
E protocol error: invalid Entry request: /a?b/1.1///
error  
X

# P7: a Kopt that would reach into the entries line.
serve <<X
$HEAD
Directory .
$REPO
Kopt -kb/Tx
Is-modified f
noop
X
expect_stdout <<'X'
E protocol error: invalid Kopt request: -kb/Tx
error  
X
untouched "entries and options"

# P8: a program named by the client is kept only when the modules file
# names it for that purpose.
serve <<X
$HEAD
Directory .
$REPO
Checkin-prog sh -c 'touch $SENT/pwned'
Update-prog sh -c 'touch $SENT/pwned'
Checkin-prog /bin/true
Update-prog /bin/true
@shell cd \$SERVER_TMP && cat JOL/Checkin.prog JOL/Update.prog
X
expect_stdout <<X
E jol server: warning: Checkin-prog \`sh -c 'touch $SENT/pwned'' is not a program of the modules file; ignored
E jol server: warning: Update-prog \`sh -c 'touch $SENT/pwned'' is not a program of the modules file; ignored
ok
/bin/true
/bin/true
X
untouched "programs named by the client"

# P18: a data line over the request limit, and a flood of entries held in
# bounded memory are covered by the unit tests; here the data line.
python3 -c "import sys; sys.stdout.write('Root $REPO\nValid-responses $RESP\nDirectory .\n' + '/' * (1 << 20) + 'x\nnoop\n')" >long.session
serve <long.session
expect_status 1
expect_stdout <<'X'
E Protocol error: mode line too long for .
error  
X

# P20: a client that sends many Questionable requests before it reads
# anything: the "M ?" answers are queued, not written in a blocking way,
# so both sides go on.
cat >"$SCRATCH/flood.py" <<'PY'
import signal, subprocess, sys
jol, repo, resp = sys.argv[1:4]
signal.alarm(60)
p = subprocess.Popen([jol, "server"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
n = 20000
p.stdin.write(f"Root {repo}\nValid-responses {resp}\nDirectory .\n{repo}\n".encode())
for i in range(n):
    p.stdin.write(f"Questionable file-{i:05d}-{'x' * 150}\n".encode())
p.stdin.write(b"noop\n")
p.stdin.close()
lines = p.stdout.read().decode().splitlines()
print(len(lines) == n + 1 and lines[-1] == "ok" and lines[n - 1].startswith("M ? file-19999"))
print(p.wait())
PY
python3 "$SCRATCH/flood.py" "$JOL" "$REPO" "$RESP" >"$OUT" 2>"$ERR"
status=$?
LAST_CMD="server under a flood of Questionable"
expect_status 0
expect_stdout <<'X'
True
0
X

# P26: Argumentx with no argument to continue is ignored.
serve <<X
$HEAD
Argumentx evil
noop
Argument proj
expand-modules
X
expect_stdout <<'X'
ok
Module-expansion proj
ok
X

# P28: a newline smuggled into an argument reaches no history record, no
# trace line and no file name.
serve -t <<X
$HEAD
Directory .
$REPO
Argument a
Argumentx b
status
X
expect_stdout <<'X'
E jol [server aborted]: protocol error: file name `a?b' contains a newline
error  
X
serve -t <<X
$HEAD
Argument t1
Argument pr
Argumentx |oj
rtag
Argument pr
Argumentx x
expand-modules
X
check "no record with a newline in the history" \
    test "$(grep -c '^T' "$REPO/JOLROOT/history")" = "$(wc -l <"$REPO/JOLROOT/history")"
check "the trace line stays one line" grep -qxF 'E S-> do_module (pr?|oj, Tagging, , t1)' "$OUT"
expect_stdout_has "E jol server: protocol error: module name \`pr?x' contains a newline or NUL byte"

check "no temporary tree is left" sh -c "! ls '$TMPDIR' | grep -q '^jol-serv'"
finish
