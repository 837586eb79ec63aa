#!/bin/bash
# What travels between client and server over :ext: (a real OpenSSH
# server on loopback), read from the client's traffic log: with -z 6 the
# same story gives the same output and files, and everything after
# "Gzip-stream 6" is compressed in both directions; an update after a
# one-line change in a large file travels as an "Rcs-diff" patch with its
# MD5 digest and leaves the file byte-identical.
. "$(dirname "$0")/lib.sh"
remote && skip_remote "chooses its own client roots"
. "$(dirname "$0")/ssh_fixture.sh"
PY=/usr/bin/python3

start_sshd
ROOT=":ext:$(id -un)@127.0.0.1:$SCRATCH/repo"

# story DIR GLOBAL-OPTIONS...: two copies, a commit, a clean merge, a
# conflict, status, diff and log, on a fresh repository; every command's
# output goes to DIR/transcript, with the dates of the log taken out.
story() {
    local top=$1
    shift
    rm -rf "$SCRATCH/repo"
    jol -Q -d "$SCRATCH/repo" init
    mkdir "$SCRATCH/repo/proj"
    mkdir -p "$top"
    cd "$top" || exit 1
    : >transcript
    local n=0
    step() {
        jol "$@"
        n=$((n + 1))
        {
            echo "== step $n -> $status"
            cat "$OUT" "$ERR"
        } | sed -e '/^date: /d' >>"$top/transcript"
    }
    step "$@" -d "$ROOT" checkout -d one proj
    cd one || exit 1
    seq 1 300 >numbers
    printf 'alpha\nbeta\ngamma\ndelta\nepsilon\n' >f.txt
    step "$@" add numbers f.txt
    step "$@" commit -m first
    cd "$top" || exit 1
    step "$@" -d "$ROOT" checkout -d two proj
    cd two || exit 1
    printf 'alpha\nBETA\ngamma\ndelta\nepsilon\n' >f.txt
    seq 1 300 | sed 's/^150$/one hundred fifty/' >numbers
    step "$@" commit -m second
    cd "$top/one" || exit 1
    printf 'alpha\nbeta\ngamma\ndelta\nEPSILON\n' >f.txt
    seq 1 300 | sed 's/^150$/150 here/' >numbers
    step "$@" update
    step "$@" status f.txt numbers
    step "$@" diff f.txt
    step "$@" log f.txt
    cd "$top" || exit 1
    tree_listing "$top/one" | grep -v -e ' \./JOL/Entries$' -e 'JOL/Entries$' >"$top/files"
}

story "$SCRATCH/plain"
story "$SCRATCH/z6" -z 6
check "-z 6: the same output" cmp -s "$SCRATCH/plain/transcript" "$SCRATCH/z6/transcript"
diff "$SCRATCH/plain/transcript" "$SCRATCH/z6/transcript" | sed 's/^/  /' >&2
check "-z 6: the same files" cmp -s "$SCRATCH/plain/files" "$SCRATCH/z6/files"
check "the story merged and conflicted" grep -q "^C numbers" "$SCRATCH/plain/transcript"
check "the story merged cleanly" grep -q "^M f.txt" "$SCRATCH/plain/transcript"

# The traffic log of a compressed update: the requests up to "Gzip-stream
# 6" in clear, then only compressed data, which expands to the rest of
# the requests; the responses after the handshake's are compressed too.
cd "$SCRATCH/z6/two" || exit 1
rm -f "$SCRATCH/log.in" "$SCRATCH/log.out"
JOL_CLIENT_LOG=$SCRATCH/log jol -z 6 update
expect_status 0
# inflate LOG AFTER: the bytes of LOG after the line AFTER, expanded.
inflate() {
    $PY - "$1" "$2" <<'PY'
import sys, zlib
data = open(sys.argv[1], "rb").read()
mark = sys.argv[2].encode() + b"\n"
at = data.find(mark)
if at < 0:
    sys.exit("no line " + sys.argv[2])
rest = data[at + len(mark):]
if b"Directory " in rest or b"Entry /" in rest:
    sys.exit("requests in clear after " + sys.argv[2])
for wbits in (15, -15, 31):
    try:
        d = zlib.decompressobj(wbits)
        sys.stdout.buffer.write(d.decompress(rest))
        sys.exit(0)
    except zlib.error:
        pass
sys.exit("not compressed data")
PY
}
check "requests in clear up to Gzip-stream 6" grep -qa "^Gzip-stream 6$" "$SCRATCH/log.in"
inflate "$SCRATCH/log.in" "Gzip-stream 6" >"$SCRATCH/requests"
check "requests after Gzip-stream 6 are compressed" test $? -eq 0
check "the compressed requests hold the update" grep -qax "update" "$SCRATCH/requests"
check "the compressed requests hold the entries" grep -qa "^Entry /numbers/" "$SCRATCH/requests"
# The handshake's answer ends with "ok"; the update's responses follow it
# compressed.
inflate "$SCRATCH/log.out" "ok" >"$SCRATCH/responses"
check "responses after the handshake are compressed" test $? -eq 0
check "the compressed responses end the update" grep -qax "ok" "$SCRATCH/responses"

# A one-line change in a large file reaches the other copy as a patch.
cd "$SCRATCH/plain/two" || exit 1
seq 1 20000 | sed 's/$/ a line of the large file/' >large
jol -Q add large
jol -Q commit -m large
expect_status 0
cd "$SCRATCH/plain/one" || exit 1
printf 'resolved\n' >numbers
jol -Q commit -m resolved numbers
jol -Q update
expect_status 0
cd "$SCRATCH/plain/two" || exit 1
sed -i 's/^12345 a line/12345 THE line/' large
jol -Q commit -m "one line" large
expect_status 0
cd "$SCRATCH/plain/one" || exit 1
rm -f "$SCRATCH/log.in" "$SCRATCH/log.out"
JOL_CLIENT_LOG=$SCRATCH/log jol update large
expect_status 0
expect_stdout <<'X'
P large
X
check "the file is byte-identical" cmp -s large ../two/large
sum=$(md5sum <large | cut -c1-32)
check "the digest comes before the patch" \
    sh -c "grep -a -A1 '^Checksum $sum\$' '$SCRATCH/log.out' | grep -qa '^Rcs-diff '"
check "the patch changes the one line" grep -qa "^12345 THE line of the large file$" "$SCRATCH/log.out"
size=$(stat -c %s "$SCRATCH/log.out")
check "the patch is small ($size bytes for a file of $(stat -c %s large))" test "$size" -lt 4000
finish
