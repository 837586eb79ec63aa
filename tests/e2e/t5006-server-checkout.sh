#!/bin/bash
# A checkout over raw protocol lines: the file responses byte for byte
# (Mod-time, Created or Updated, entries lines, modes), per-file compression
# above 100 bytes, responses left out for a client that lacks them, and the
# sticky tag of a non-branch tag.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "drives the server with raw protocol requests"

REPO=$SCRATCH/repo
jol -d "$REPO" init
expect_status 0
mkdir "$REPO/mod"
RESP="ok error Valid-requests Checked-in New-entry Checksum Copy-file Updated Created Update-existing Merged Patched Rcs-diff Mode Mod-time Removed Remove-entry Set-static-directory Clear-static-directory Set-sticky Clear-sticky Template Set-checkin-prog Set-update-prog Notified Module-expansion Wrapper-rcsOption M Mbinary E F MT"

# archive NAME TEXT: one revision of fixed date, tagged rel1, with branch br.
archive() {
    {
        printf 'head\t1.1;\naccess;\nsymbols\n\tbr:1.1.0.2\n\trel1:1.1;\nlocks; strict;\n'
        printf 'comment\t@# @;\n\n\n1.1\ndate\t2023.01.02.03.04.05;\tauthor joltest;\tstate Exp;\n'
        printf 'branches;\nnext\t;\n\n\ndesc\n@@\n\n\n1.1\nlog\n@first\n@\ntext\n@%s@\n' "$2"
    } >"$REPO/mod/$1,v"
    chmod 444 "$REPO/mod/$1,v"
}
HUNDRED=$(printf 'a%.0s' $(seq 99))
BIG=$(printf 'b%.0s' $(seq 100))
archive a.txt 'hello
'
archive hundred.txt "$HUNDRED
"
archive big.txt "$BIG
"

# File responses for a client that takes everything; the revisions come
# from memory with the archive's mode made writable.
serve <<X
Root $REPO
Valid-responses $RESP
Argument mod
co
X
expect_status 0
expect_stdout <<X
Clear-sticky mod/
$REPO/mod/
Clear-static-directory mod/
$REPO/mod/
E jol server: Updating mod
Mod-time 2 Jan 2023 03:04:05 -0000
MT +updated
MT text U 
MT fname mod/a.txt
MT newline
MT -updated
Created mod/
$REPO/mod/a.txt
/a.txt/1.1///
u=rw,g=rw,o=rw
6
hello
Mod-time 2 Jan 2023 03:04:05 -0000
MT +updated
MT text U 
MT fname mod/big.txt
MT newline
MT -updated
Created mod/
$REPO/mod/big.txt
/big.txt/1.1///
u=rw,g=rw,o=rw
101
$BIG
Mod-time 2 Jan 2023 03:04:05 -0000
MT +updated
MT text U 
MT fname mod/hundred.txt
MT newline
MT -updated
Created mod/
$REPO/mod/hundred.txt
/hundred.txt/1.1///
u=rw,g=rw,o=rw
100
$HUNDRED
ok
X

# A client without Update-existing, Mod-time, MT and the directory
# responses: plain Updated, status letters as text, nothing else.
serve <<X
Root $REPO
Valid-responses ok error Valid-requests Checked-in New-entry Updated Created Merged Remove-entry Removed M E
Argument mod/a.txt
co
X
expect_status 0
expect_stdout <<X
M U mod/a.txt
Updated mod/
$REPO/mod/a.txt
/a.txt/1.1///
u=rw,g=rw,o=rw
6
hello
ok
X

# Per-file compression: 100 bytes go plain, 101 bytes as gzip data.
serve <<X
Root $REPO
Valid-responses ok error Valid-requests Checked-in New-entry Updated Created Update-existing Merged Remove-entry Removed M E
gzip-file-contents 6
Argument -d
Argument here
Argument mod
co
X
expect_status 0
python3 - "$OUT" "$REPO" >"$SCRATCH/z.out" <<'PY'
import gzip, sys
data = open(sys.argv[1], "rb").read()
repo = sys.argv[2].encode()
for name in (b"hundred.txt", b"big.txt"):
    head = b"Created here/\n" + repo + b"/mod/" + name + b"\n/" + name + b"/1.1///\n"
    at = data.index(head) + len(head)
    mode, size, rest = data[at:].split(b"\n", 2)
    if size.startswith(b"z"):
        body = gzip.decompress(rest[:int(size[1:])])
    else:
        body = rest[:int(size)]
    print(name.decode(), mode.decode(), size[:1].decode() if size.startswith(b"z") else size.decode(),
          len(body), body.rstrip(b"\n")[:1].decode())
PY
status=$?
LAST_CMD="the compressed transfers"
OUT_SAVED=$OUT
OUT=$SCRATCH/z.out
expect_stdout <<'X'
hundred.txt u=rw,g=r,o=r 100 100 a
big.txt u=rw,g=r,o=r z 101 b
X
OUT=$OUT_SAVED

# Tags: a single file carries its tag in its entry, its directory is
# static; a whole directory gets the sticky tag, sent again with "N" once
# its files showed that the tag is no branch, while a branch keeps "T".
serve <<X
Root $REPO
Valid-responses $RESP
Argument -r
Argument rel1
Argument mod/a.txt
co
X
expect_status 0
expect_stdout <<X
Clear-sticky mod/
$REPO/mod/
Set-static-directory mod/
$REPO/mod/
Mod-time 2 Jan 2023 03:04:05 -0000
MT +updated
MT text U 
MT fname mod/a.txt
MT newline
MT -updated
Created mod/
$REPO/mod/a.txt
/a.txt/1.1///Trel1
u=rw,g=rw,o=rw
6
hello
ok
X
serve <<X
Root $REPO
Valid-responses $RESP
Argument -r
Argument rel1
Argument -l
Argument mod
co
X
expect_stdout_has "Set-sticky mod/
$REPO/mod/
Trel1
Clear-static-directory mod/"
expect_stdout_has "Set-sticky mod/
$REPO/mod/
Nrel1
ok"
serve <<X
Root $REPO
Valid-responses $RESP
Argument -r
Argument br
Argument -l
Argument mod
co
X
expect_stdout_has "Set-sticky mod/
$REPO/mod/
Tbr
ok"

check "no temporary tree is left" sh -c "! ls '$TMPDIR' | grep -q '^jol-serv'"
finish
