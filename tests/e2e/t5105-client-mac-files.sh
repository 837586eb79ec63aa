#!/bin/bash
# Macintosh files through the client over :fork: (Finder information and
# resource forks kept as the extended attributes a Mac volume exports):
# a file with a resource fork travels packed (BinHex, or AppleSingle when
# asked for) and comes back with the same data, fork, type and creator in
# a fresh checkout; a changed fork reaches the other copy by update; a
# binary file without a fork travels as its bytes and gets its type from
# its name; a text file is plain text. A file system without user
# attributes skips the test.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "chooses its own client roots"

PY=/usr/bin/python3
if ! $PY -c "import os,sys; open('x','w').close(); os.setxattr('x', 'user.jol.probe', b'1')" \
    2>/dev/null; then
    echo "$TEST_NAME: skipped, no user extended attributes under $SCRATCH"
    exit 77
fi
rm -f x

# mac_set FILE TYPE CREATOR FLAGS FORK-FILE: gives FILE Finder information
# (type, creator, Finder flags in hexadecimal) and the resource fork held
# in FORK-FILE (none when empty).
mac_set() {
    $PY - "$@" <<'PY'
import os, sys
f, typ, creator, flags, fork = sys.argv[1:]
info = typ.encode() + creator.encode() + int(flags, 16).to_bytes(2, "big") + bytes(22)
os.setxattr(f, "user.com.apple.FinderInfo", info)
if fork:
    os.setxattr(f, "user.com.apple.ResourceFork", open(fork, "rb").read())
PY
}

# mac_show FILE: type, creator, Finder flags and the digest of the data
# and of the resource fork, one line.
mac_show() {
    $PY - "$1" <<'PY'
import hashlib, os, sys
f = sys.argv[1]
def attr(name):
    try:
        return os.getxattr(f, name)
    except OSError:
        return b""
info = attr("user.com.apple.FinderInfo") or bytes(32)
fork = attr("user.com.apple.ResourceFork")
data = open(f, "rb").read()
show = lambda b: b.decode("latin-1").replace("\0", ".")
print(show(info[0:4]), show(info[4:8]), info[8:10].hex(),
      hashlib.md5(data).hexdigest(), len(fork), hashlib.md5(fork).hexdigest())
PY
}

export JOL_SERVER=$JOL
REPO=$SCRATCH/repo
jol -Q -d "$REPO" init
expect_status 0
mkdir "$REPO/proj"
ROOT=":fork:$REPO"
jol -Q -d "$ROOT" checkout -d one proj
expect_status 0
cd one || exit 1

# A resource fork with every byte value and runs the BinHex coder packs.
$PY -c "import sys; sys.stdout.buffer.write(bytes(range(256)) * 3 + b'\x90' * 40 + b'A' * 300)" \
    >"$SCRATCH/fork1"
printf 'data fork\n\0\1\2 and more\n' >app.bin
mac_set app.bin APPL abcd 0400 "$SCRATCH/fork1"
printf 'single data\n' >single.bin
mac_set single.bin rsrc wxyz 0000 "$SCRATCH/fork1"
printf '\377\330\377 jpeg bytes\n' >photo.jpg
mac_set photo.jpg JPEG prvw 0000 ""
printf 'plain text\n' >doc.txt
mac_set doc.txt TEXT ttxt 0000 ""
app_before=$(mac_show app.bin)
single_before=$(mac_show single.bin)

jol -Q add -kb app.bin single.bin photo.jpg
expect_status 0
jol -Q add doc.txt
expect_status 0
# single.bin is the one packed as AppleSingle.
jol -Q commit -m "first" app.bin photo.jpg doc.txt
expect_status 0
MAC_DEFAULT_RESOURCE_ENCODING=AppleSingle jol -Q commit -m "first" single.bin
expect_status 0
check "the repository holds app.bin as BinHex" \
    grep -q "(This file must be converted with BinHex 4.0)" "$REPO/proj/app.bin,v"
check "the repository holds single.bin as AppleSingle" \
    $PY -c "import sys; sys.exit(b'\x00\x05\x16\x00\x00\x02\x00\x00' not in open('$REPO/proj/single.bin,v','rb').read())"
check "the repository holds photo.jpg as its bytes" grep -q "jpeg bytes" "$REPO/proj/photo.jpg,v"
check "the repository holds doc.txt as its text" grep -q "plain text" "$REPO/proj/doc.txt,v"
check "no temporary file left" sh -c "! ls -a | grep -q JOLBFCTMP"

# A fresh checkout gives back the data, the forks, the types and creators.
cd "$SCRATCH" || exit 1
jol -Q -d "$ROOT" checkout -d two proj
expect_status 0
cd two || exit 1
check "app.bin: data, fork, type, creator and flags" test "$(mac_show app.bin)" = "$app_before"
check "single.bin: data, fork, type and creator" test "$(mac_show single.bin)" = "$single_before"
check "photo.jpg: its bytes" cmp -s photo.jpg ../one/photo.jpg
check "photo.jpg: type and creator from its name" \
    test "$(mac_show photo.jpg | cut -d' ' -f1-2)" = "JPEG prvw"
check "doc.txt: its text" cmp -s doc.txt ../one/doc.txt
check "no temporary file left" sh -c "! ls -a | grep -q '^\\.new\\.'"

# A new resource fork reaches the other copy by update; a status of the
# unchanged copy sends nothing to convert.
cd "$SCRATCH/one" || exit 1
$PY -c "import sys; sys.stdout.buffer.write(b'new fork ' * 50)" >"$SCRATCH/fork2"
sleep 1
printf 'data fork, second\n' >app.bin
mac_set app.bin APPL abcd 0400 "$SCRATCH/fork2"
app_second=$(mac_show app.bin)
jol -Q commit -m "second" app.bin
expect_status 0
cd "$SCRATCH/two" || exit 1
jol -Q update
expect_status 0
check "app.bin updated: data, fork, type and creator" test "$(mac_show app.bin)" = "$app_second"
jol -Q status app.bin
expect_stdout_has "Status: Up-to-date"
finish
