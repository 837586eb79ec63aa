#!/bin/bash
# A checkout of a module made of "&" references over raw protocol lines:
# the referenced module's responses are placed below the referring module's
# directory, and every new directory gets the rcsinfo template.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "drives the server with raw protocol requests"

REPO=$SCRATCH/repo
jol -d "$REPO" init
expect_status 0
mkdir "$REPO/mod"
{
    printf 'head\t1.1;\naccess;\nsymbols;\nlocks; strict;\ncomment\t@# @;\n\n\n1.1\n'
    printf 'date\t2023.01.02.03.04.05;\tauthor joltest;\tstate Exp;\nbranches;\nnext\t;\n\n\n'
    printf 'desc\n@@\n\n\n1.1\nlog\n@first\n@\ntext\n@hello\n@\n'
} >"$REPO/mod/a.txt,v"
chmod u+w "$REPO/JOLROOT/modules" "$REPO/JOLROOT/rcsinfo"
printf 'combo &mod\n' >"$REPO/JOLROOT/modules"
printf 'ALL %s\n' "$SCRATCH/template" >"$REPO/JOLROOT/rcsinfo"
printf 'Describe:\n' >"$SCRATCH/template"
RESP="ok error Valid-requests Checked-in New-entry Checksum Copy-file Updated Created Update-existing Merged Patched Rcs-diff Mode Mod-time Removed Remove-entry Set-static-directory Clear-static-directory Set-sticky Clear-sticky Template Set-checkin-prog Set-update-prog Notified Module-expansion Wrapper-rcsOption M Mbinary E F"

serve <<X
Root $REPO
Valid-responses $RESP
Argument combo
co
X
expect_status 0
expect_stdout <<X
Clear-sticky combo/
$REPO/JOLROOT/Emptydir/
Template combo/
$REPO/JOLROOT/Emptydir/
10
Describe:
Set-static-directory combo/
$REPO/JOLROOT/Emptydir/
Clear-sticky combo/mod/
$REPO/mod/
Template combo/mod/
$REPO/mod/
10
Describe:
Clear-static-directory combo/mod/
$REPO/mod/
E jol server: Updating mod
Mod-time 2 Jan 2023 03:04:05 -0000
M U mod/a.txt
Created combo/mod/
$REPO/mod/a.txt
/a.txt/1.1///
u=rw,g=rw,o=rw
6
hello
ok
X

# A client without Template gets no template; an unreadable template is
# reported and the checkout goes on.
chmod 000 "$SCRATCH/template"
serve <<X
Root $REPO
Valid-responses $RESP
Argument mod
co
X
expect_status 0
expect_stdout_has "E jol server: Couldn't open rcsinfo template file $SCRATCH/template: Permission denied"
expect_stdout_has "Created mod/"
serve <<X
Root $REPO
Valid-responses ${RESP/ Template / }
Argument mod
co
X
expect_status 0
check "no Template response" sh -c "! grep -q '^Template' '$OUT'"
expect_stdout_has "Created mod/"

check "no temporary tree is left" sh -c "! ls '$TMPDIR' | grep -q '^jol-serv'"
finish
