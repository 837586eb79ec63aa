#!/bin/bash
# Update and commit over raw protocol lines, with the exact responses: an
# update that finds a local modification, an unchanged file brought up to
# date (whole or as a patch), a merge with a conflict, a commit of one
# file, and its removal.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "drives the server with raw protocol requests"

REPO=$SCRATCH/repo
jol -d "$REPO" init
expect_status 0
mkdir "$REPO/mod"
RESP="ok error Valid-requests Checked-in New-entry Checksum Copy-file Updated Created Update-existing Merged Patched Rcs-diff Mode Mod-time Removed Remove-entry Set-static-directory Clear-static-directory Set-sticky Clear-sticky Template Set-checkin-prog Set-update-prog Notified Module-expansion Wrapper-rcsOption M Mbinary E F"
HEAD="Root $REPO
Valid-responses $RESP
Directory .
$REPO/mod"

# f.c: "a b c" at 1.1, "a B c" at the head 1.2, both of fixed dates.
{
    printf 'head\t1.2;\naccess;\nsymbols;\nlocks; strict;\ncomment\t@# @;\n\n\n'
    printf '1.2\ndate\t2023.01.02.03.04.05;\tauthor joltest;\tstate Exp;\nbranches;\nnext\t1.1;\n\n'
    printf '1.1\ndate\t2023.01.01.03.04.05;\tauthor joltest;\tstate Exp;\nbranches;\nnext\t;\n\n\n'
    printf 'desc\n@@\n\n\n1.2\nlog\n@second\n@\ntext\n@a\nB\nc\n@\n\n\n'
    printf '1.1\nlog\n@first\n@\ntext\n@d2 1\na2 1\nb\n@\n'
} >"$REPO/mod/f.c,v"
chmod 444 "$REPO/mod/f.c,v"
printf 'a\nB\nc\nmine\n' >mine.c
printf 'a\nX\nc\n' >conflict.c
printf 'a\nb\nc\n' >old.c
size() { wc -c <"$1" | tr -d ' '; }

# A current file the client changed: only its letter comes back.
serve <<X
$HEAD
Entry /f.c/1.2///
Modified f.c
u=rw,g=r,o=r
$(size mine.c)
@file mine.c
Argument f.c
update
X
expect_status 0
expect_stdout <<'X'
M M f.c
ok
X

# An unchanged old revision: the whole new one, from memory.
serve <<X
$HEAD
Entry /f.c/1.1///
Unchanged f.c
update
X
expect_status 0
expect_stdout <<X
E jol server: Updating .
M U f.c
Update-existing ./
$REPO/mod/f.c
/f.c/1.2///
u=rw,g=rw,o=rw
6
a
B
c
ok
X

# The same as a patch, with the new revision's checksum: a context diff,
# or the archive's own diff form for a client that takes it.
serve <<X
Root $REPO
Valid-responses ${RESP/ Rcs-diff / }
Directory .
$REPO/mod
Entry /f.c/1.1///
Unchanged f.c
Argument -u
update
X
expect_status 0
SUM=$(printf 'a\nB\nc\n' | md5sum | cut -c1-32)
python3 - "$OUT" "$SCRATCH/p.diff" >"$SCRATCH/head.out" <<'PY'
import sys
# The eight lines up to the size line, then what follows the patch data.
lines = open(sys.argv[1], "rb").read().split(b"\n")
size = int(lines[7])
sys.stdout.write(b"\n".join(lines[:8]).decode() + "\n")
data = b"\n".join(lines[8:]).rstrip(b"\n")
open(sys.argv[2], "wb").write(data[:size])
sys.stdout.write(data[size:].decode() + "\n")
PY
OUT_SAVED=$OUT
OUT=$SCRATCH/head.out
expect_stdout <<X
E jol server: Updating .
M P f.c
Checksum $SUM
Patched ./
$REPO/mod/f.c
/f.c/1.2///
u=rw,g=r,o=r
$(size "$SCRATCH/p.diff")
ok
X
OUT=$OUT_SAVED
check "the context diff turns the old revision into the new one" sh -c \
    "cp old.c p.c && patch -s p.c <'$SCRATCH/p.diff' && printf 'a\nB\nc\n' | cmp -s - p.c"
serve <<X
$HEAD
Entry /f.c/1.1///
Unchanged f.c
Argument -u
update
X
expect_status 0
expect_stdout <<X
E jol server: Updating .
M P f.c
Checksum $SUM
Rcs-diff ./
$REPO/mod/f.c
/f.c/1.2///
u=rw,g=r,o=r
12
d2 1
a2 1
B
ok
X

# A merge with a conflict: the client backs its copy up, then takes the
# merged file with the conflict mark in its entry.
serve <<X
$HEAD
Entry /f.c/1.1///
Modified f.c
u=rw,g=r,o=r
$(size conflict.c)
@file conflict.c
Argument f.c
update
X
expect_status 0
expect_stdout <<END
M RCS file: $REPO/mod/f.c,v
M retrieving revision 1.1
M retrieving revision 1.2
M Merging differences between 1.1 and 1.2 into f.c
E rcsmerge: warning: conflicts during merge
Copy-file ./
$REPO/mod/f.c
.#f.c.1.1
Merged ./
$REPO/mod/f.c
/f.c/1.2/+=//
u=rw,g=r,o=r
40
a
<<<<<<< f.c
X
=======
B
>>>>>>> 1.2
c
E jol server: conflicts found in f.c
M C f.c
ok
END

# A commit of one file: the new entry comes back with Checked-in.
serve <<X
$HEAD
Entry /f.c/1.2///
Modified f.c
u=rw,g=r,o=r
$(size mine.c)
@file mine.c
Argument -m
Argument third
Argument f.c
ci
X
expect_status 0
expect_stdout <<X
M Checking in f.c;
M $REPO/mod/f.c,v  <--  f.c
M new revision: 1.3; previous revision: 1.2
M done
Mode u=rw,g=r,o=r
Checked-in ./
$REPO/mod/f.c
/f.c/1.3///
ok
X
jol -d "$REPO" -Q co -p mod/f.c
expect_stdout <mine.c

# Removing it: the entry comes back marked, and the commit of the
# removal drops it at the client.
serve <<X
$HEAD
Entry /f.c/1.3///
Argument f.c
remove
X
expect_status 0
expect_stdout <<X
E jol server: scheduling \`f.c' for removal
Checked-in ./
$REPO/mod/f.c
/f.c/-1.3///
E jol server: use 'jol commit' to remove this file permanently
ok
X
serve <<X
$HEAD
Entry /f.c/-1.3///
Argument -m
Argument gone
Argument f.c
ci
X
expect_status 0
expect_stdout <<X
M Removing f.c;
M $REPO/mod/f.c,v  <--  f.c
M new revision: delete; previous revision: 1.3
M done
Remove-entry ./
$REPO/mod/f.c
ok
X
check "the archive went to the Attic" test -f "$REPO/mod/Attic/f.c,v"

check "no temporary tree is left" sh -c "! ls '$TMPDIR' | grep -q '^jol-serv'"
finish
