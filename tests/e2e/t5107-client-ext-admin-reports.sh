#!/bin/bash
# import, admin, history and rdiff through a real OpenSSH server (:ext:):
# each gives on standard output exactly what the same command gives on the
# repository itself, and its effect on the archives is the same.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "chooses its own client root (:ext:)"
. "$(dirname "$0")/ssh_fixture.sh"

start_sshd
REPO=$SCRATCH/repo
EXT=":ext:$(id -un)@127.0.0.1:$REPO"
jol -d "$REPO" init
expect_status 0
: >"$REPO/JOLROOT/history"   # the journal is kept only when it exists

# A vendor tree imported over the connection, then a second release.
mkdir -p "$SCRATCH/v1/sub" && cd "$SCRATCH/v1" || exit 1
printf 'one\ntwo\nthree\n' >a.txt
printf 'in sub\n' >sub/b.c
jol -d "$EXT" import -m "vendor one" vend VENDOR R1
expect_status 0
expect_stdout <<X
N vend/a.txt
N vend/sub/b.c

No conflicts created by this import

X
check "archive with the vendor branch" grep -q "^branch[[:space:]]*1.1.1;" "$REPO/vend/a.txt,v"
printf 'one\nTWO\nthree\n' >a.txt
jol -d "$EXT" -q import -m "vendor two" vend VENDOR R2
expect_status 0

# rdiff and history: the same bytes over the connection as locally.
cd "$SCRATCH" || exit 1
for args in "-s -r R1 -r R2" "-c -r R1 -r R2" "-u -r R1 -r R2"; do
    # shellcheck disable=SC2086
    jol -d "$REPO" rdiff $args vend
    cp "$OUT" "$SCRATCH/local.out"
    # shellcheck disable=SC2086
    jol -d "$EXT" rdiff $args vend
    check "rdiff $args: same output over :ext:" cmp -s "$SCRATCH/local.out" "$OUT"
done
check "the patch changes the line" grep -qx '+TWO' "$SCRATCH/local.out"

# admin through the connection changes the archive as locally.
jol -d "$EXT" -Q checkout vend
expect_status 0
jol -d "$REPO" history -a -e -z UTC
cp "$OUT" "$SCRATCH/local.out"
jol -d "$EXT" history -a -e -z UTC
check "history: same report over :ext:" cmp -s "$SCRATCH/local.out" "$OUT"
check "the report names the checkout" grep -q '^O .* =vend= ' "$OUT"
cd vend || exit 1
jol admin -q -kb a.txt
expect_status 0
check "-kb recorded" grep -q "^expand[[:space:]]*@b@;" "$REPO/vend/a.txt,v"
jol admin -q -o 1.1.1.1 a.txt
expect_status 1
expect_stderr_has "because it has tags"
finish
