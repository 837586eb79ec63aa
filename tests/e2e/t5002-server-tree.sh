#!/bin/bash
# The requests that rebuild the client's working directory in the server's
# temporary tree, looked at byte for byte in that tree: Directory with its
# administrative files, entries and their marks, Kopt and Checkin-time,
# Max-dotdot, Static-directory and Sticky, Questionable, Notify, the
# wrapper options and module expansion.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "drives the server with raw protocol requests"

REPO=$SCRATCH/repo
jol -d "$REPO" init
expect_status 0
RESP="ok error Valid-requests Checked-in New-entry Checksum Copy-file Updated Created Update-existing Merged Patched Rcs-diff Mode Mod-time Removed Remove-entry Set-static-directory Clear-static-directory Set-sticky Clear-sticky Template Set-checkin-prog Set-update-prog Notified Module-expansion Wrapper-rcsOption M Mbinary E F MT"
HEAD="Root $REPO
Valid-responses $RESP"
# Every file of the tree with its contents, for "@shell $SHOW".
SHOW='cd $SERVER_TMP && for f in $(find . -type f | sort); do echo "== $f"; cat $f; done'

# Directory: the top gets the root with "/."; a deeper directory gets
# administrative files on every level above it, registered as
# subdirectories; entries are written newest first when the directory
# changes; Unchanged marks once, Is-modified marks or queues an entry with
# the pending Kopt.
serve <<X
$HEAD
Directory .
$REPO
Entry /a/1.1///
Entry /b/1.2/x/-kb/Tt1
Entry /c/1.3///
Unchanged a
Unchanged a
Is-modified b
Kopt -kb
Is-modified new
Is-modified gone
Directory sub/dir
$REPO/sub/dir
Static-directory
Sticky Tbr
Entry /s/1.1///
@shell $SHOW
X
expect_status 0
expect_stdout <<X
ok
== ./JOL/Entries
/gone//D//
/new//D/-kb/
/c/1.3///
/b/1.2/Mx/-kb/Tt1
/a/1.1/=//
== ./JOL/Entries.Log
A D/sub////
== ./JOL/Repository
$REPO/.
== ./sub/JOL/Entries
== ./sub/JOL/Entries.Log
A D/dir////
== ./sub/JOL/Repository
$REPO/JOLROOT/Emptydir
== ./sub/dir/JOL/Entries
/s/1.1///
== ./sub/dir/JOL/Entries.Static
== ./sub/dir/JOL/Repository
$REPO/sub/dir
== ./sub/dir/JOL/Tag
Tbr
X

# Is-modified of a file that has an entry while a Kopt waits.
serve <<X
$HEAD
Directory .
$REPO
Entry /a/1.1///
Kopt -kb
Is-modified a
noop
X
expect_stdout <<'X'
E protocol error: both Kopt and Entry for a
error  
X

# Duplicate and invalid Kopt, duplicate Checkin-time, bad dates: each
# first error reaches the client alone.
for kopt in "-kb
Kopt -ko:E protocol error: duplicate Kopt request: -ko" \
    "-kkvlllllll:E protocol error: invalid Kopt request: -kkvlllllll" \
    "-k;b:E protocol error: invalid Kopt request: -k;b" \
    "-k:E protocol error: invalid Kopt request: -k" \
    "kb:E protocol error: invalid Kopt request: kb"; do
    serve <<X
$HEAD
Kopt ${kopt%%:*}
noop
noop
X
    expect_stdout <<X
${kopt#*:}
error  
ok
X
done
serve <<X
$HEAD
Checkin-time 1 Jan 2001 00:00:00 -0000
Checkin-time 2 Jan 2001 00:00:00 -0000
noop
X
expect_stdout <<'X'
E protocol error: duplicate Checkin-time request: 2 Jan 2001 00:00:00 -0000
error  
X
serve <<X
$HEAD
Checkin-time the day after never
noop
X
expect_stdout <<'X'
E cannot parse date the day after never
error  
X

# Max-dotdot 2: the tree is two levels deeper, and a directory may climb
# those two levels, not three; an administrative directory is never made
# for a ".." level.
serve <<X
$HEAD
Max-dotdot 2
Directory ../../up
$REPO/up
Directory .
$REPO
@shell cd \$SERVER_TMP && find . | sort
Directory ../../../out
$REPO/out
noop
X
expect_stdout <<'X'
ok
.
./JOL
./JOL/Entries
./JOL/Entries.Log
./JOL/Repository
./d
./d/d
./d/d/JOL
./d/d/JOL/Entries
./d/d/JOL/Repository
./up
./up/JOL
./up/JOL/Entries
./up/JOL/Repository
E protocol error: `../../../out' has too many ..
error  
X
for n in 1001 12x ""; do
    serve <<X
$HEAD
Max-dotdot $n
noop
X
    expect_stdout <<X
E protocol error: invalid Max-dotdot request: $n
error  
X
done
# A negative value is ignored; levels given in several requests add up.
serve <<X
$HEAD
Max-dotdot -3
Max-dotdot 600
Max-dotdot 400
Max-dotdot 1
noop
X
expect_stdout <<'X'
E protocol error: invalid Max-dotdot request: 1
error  
X

# Questionable: "M ?" lines with the directory, ignored names dropped, a
# name with a slash recorded for the next command; before any Directory
# the client is told at once.
serve <<X
$HEAD
Questionable early
Directory .
$REPO
Questionable top.c
Questionable core
Questionable x.o
Directory sub
$REPO/sub
Questionable deep.c
noop
Questionable a/b
Questionable later
noop
X
expect_stdout <<'X'
E Protocol error: 'Directory' missing
M ? top.c
M ? sub/deep.c
ok
M ? sub/later
E protocol error: directory 'a/b' not within current directory
error  
X

# Notify: a well-formed notification is queued and checked, then carried
# out at the next command or noop and answered with "Notified", which lets
# the client drop it from its queue.
TAB=$(printf '\t')
mkdir -p "$REPO/sub"
serve <<X
$HEAD
Directory sub
$REPO/sub
Notify f.c
E${TAB}Mon Jan  1 00:00:00 2001 GMT${TAB}host${TAB}/home/u/w${TAB}EC
Notify g.c
U${TAB}Mon Jan  1 00:00:00 2001 GMT${TAB}host${TAB}/home/u/w${TAB}${TAB}ignored text
noop
noop
X
expect_stdout <<X
Notified sub/
$REPO/sub/f.c
Notified sub/
$REPO/sub/g.c
ok
ok
X
me=$(id -un)
check "the edit is recorded with its temporary watches" test "$(cat "$REPO/sub/JOL/fileattr")" = \
    "Ff.c${TAB}_editors=$me>Mon Jan  1 00:00:00 2001 GMT+host+/home/u/w;_watchers=$me>tedit+tcommit"
rm -rf "$REPO/sub"
# Misformed notifications: too few fields, "+" anywhere, the attribute
# database's separators or control characters in a field, a bad type or
# watch letter.
for line in "E${TAB}time${TAB}host${TAB}/w" \
    "E${TAB}time${TAB}host${TAB}/w${TAB}${TAB}a+b" \
    "E${TAB}time${TAB}ho,st${TAB}/w${TAB}" \
    "E${TAB}time${TAB}host${TAB}/w;x${TAB}" \
    "E${TAB}t=1${TAB}host${TAB}/w${TAB}" \
    "E${TAB}time${TAB}h>st${TAB}/w${TAB}" \
    "E${TAB}time$(printf '\r')${TAB}host${TAB}/w${TAB}" \
    "EU${TAB}time${TAB}host${TAB}/w${TAB}" \
    "e${TAB}time${TAB}host${TAB}/w${TAB}" \
    "E${TAB}time${TAB}host${TAB}/w${TAB}X"; do
    serve <<X
$HEAD
Directory .
$REPO
Notify f
$line
noop
noop
X
    expect_stdout <<'X'
E Protocol error; misformed Notify request
error  
ok
X
done
# The notification line is consumed even when the request is refused.
serve <<X
$HEAD
Notify f
E${TAB}time${TAB}host${TAB}/w${TAB}
noop
X
expect_stdout <<'X'
E Protocol error: 'Directory' missing
error  
X

# The wrappers' keyword options.
chmod u+w "$REPO/JOLROOT/jolwrappers" "$REPO/JOLROOT/modules"
printf '*.gif -k '"'"'b'"'"'\n*.txt -m COPY\n"a b" -k '"'"'o'"'"'\n' >>"$REPO/JOLROOT/jolwrappers"
serve <<X
$HEAD
wrapper-sendme-rcsOptions
X
expect_stdout <<'X'
Wrapper-rcsOption *.gif -k 'b'
Wrapper-rcsOption "a b" -k 'o'
ok
X

# expand-modules: a module stands for where it is checked out (its -d
# target, else its name), an alias for its members, a plain directory for
# itself, a path inside a module for that path below the module; then the
# arguments are gone.
mkdir -p "$REPO/top/sub" "$REPO/plain"
cat >>"$REPO/JOLROOT/modules" <<'X'
mod -d there top
files top/sub a.c b.c
ali -a top plain
X
serve <<X
$HEAD
Argument mod
Argument files
Argument ali
Argument plain
Argument mod/sub
expand-modules
expand-modules
Argument nosuch
expand-modules
X
expect_stdout <<'X'
Module-expansion there
Module-expansion files
Module-expansion top
Module-expansion plain
Module-expansion plain
Module-expansion there/sub
ok
ok
E jol server: cannot find module `nosuch' - ignored
error  
X

check "no temporary tree is left" sh -c "! ls '$TMPDIR' | grep -q '^jol-serv'"
finish
