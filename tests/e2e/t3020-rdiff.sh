#!/bin/bash
# rdiff: summaries and context or unified patches between two releases
# named by tags or dates, each file's last change with -t, files removed
# between the releases, binary files that differ, what the options refuse;
# and the patch as a round trip: applied to the first release it gives
# exactly the second.
. "$(dirname "$0")/lib.sh"

# The time stamps of diff headers vary from run to run.
normalize() {
    sed -E 's/\t[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}$/\tDATE/' "$OUT" >"$OUT.n"
    mv "$OUT.n" "$OUT"
}

new_project mod wc
mkdir sub
printf 'a\nb\nc\n' >a.txt
printf 'going\n' >gone.txt
printf 'same\n' >same.txt
printf 'one\n' >sub/s.txt
jol -Q add sub
jol -Q add a.txt gone.txt same.txt sub/s.txt
jol -Q commit -m first
expect_status 0
jol -Q tag R1
sleep 1
between=$(date -u '+%Y-%m-%d %H:%M:%S UTC')
sleep 1
printf 'a\nB\nc\n' >a.txt
printf 'two\n' >sub/s.txt
printf 'fresh\n' >'new file.txt'
jol -Q add 'new file.txt'
jol -Q rm -f gone.txt
jol -Q commit -m second
expect_status 0
jol -Q tag R2
sleep 1
after=$(date -u '+%Y-%m-%d %H:%M:%S UTC')
cd "$SCRATCH"
diffing="jol $(served rdiff): Diffing mod
jol $(served rdiff): Diffing mod/sub"

# Summaries: one line per changed, new or removed file; nothing for the
# unchanged one.
jol rdiff -s -r R1 -r R2 mod
expect_status 0
expect_stdout <<'X'
File mod/a.txt changed from revision 1.1 to 1.2
File mod/gone.txt is removed; not included in release tag R2
File mod/new file.txt is new; current revision 1.1
File mod/sub/s.txt changed from revision 1.1 to 1.2
X
expect_stderr <<<"$diffing"
# Against the head, a removed file is missing from the current release.
jol -Q rdiff -s -r R1 mod/gone.txt
expect_status 0
expect_stdout <<'X'
File mod/gone.txt is removed; not included in current release
X

# Context diffs (the default), with headers rewritten to name the file and
# its revisions; the removed file is deleted by the patch.
jol -Q rdiff -r R1 -r R2 mod
expect_status 0
normalize
cp "$OUT" "$SCRATCH/r1r2.patch"
expect_stdout <<'X'
Index: mod/a.txt
diff -c mod/a.txt:1.1 mod/a.txt:1.2
*** mod/a.txt:1.1	DATE
--- mod/a.txt	DATE
***************
*** 1,3 ****
  a
! b
  c
--- 1,3 ----
  a
! B
  c
Index: mod/gone.txt
diff -c mod/gone.txt:1.1 mod/gone.txt:removed
*** mod/gone.txt:1.1	DATE
--- mod/gone.txt	DATE
***************
*** 1 ****
- going
--- 0 ----
Index: mod/new file.txt
diff -c /dev/null mod/new file.txt:1.1
*** /dev/null	DATE
--- mod/new file.txt	DATE
***************
*** 0 ****
--- 1 ----
+ fresh
Index: mod/sub/s.txt
diff -c mod/sub/s.txt:1.1 mod/sub/s.txt:1.2
*** mod/sub/s.txt:1.1	DATE
--- mod/sub/s.txt	DATE
***************
*** 1 ****
! one
--- 1 ----
! two
X

# Unified diffs, -l keeping to the module's own directory.
jol -Q rdiff -u -l -r R1 -r R2 mod
expect_status 0
normalize
expect_stdout <<'X'
Index: mod/a.txt
diff -u mod/a.txt:1.1 mod/a.txt:1.2
--- mod/a.txt:1.1	DATE
+++ mod/a.txt	DATE
@@ -1,3 +1,3 @@
 a
-b
+B
 c
Index: mod/gone.txt
diff -u mod/gone.txt:1.1 mod/gone.txt:removed
--- mod/gone.txt:1.1	DATE
+++ mod/gone.txt	DATE
@@ -1 +0,0 @@
-going
Index: mod/new file.txt
diff -u /dev/null mod/new file.txt:1.1
--- /dev/null	DATE
+++ mod/new file.txt	DATE
@@ -0,0 +1 @@
+fresh
X
# Each header carries its revision's date.
cd wc
jol -Q log -r1.2 a.txt
when=$(sed -nE 's|^date: ([0-9/]+) ([0-9:]+);.*|\1 \2|p' "$OUT" | tr / -)
cd "$SCRATCH"
stamp=$(date -d "$when UTC" '+%a %b %e %H:%M:%S %Y')
jol -Q rdiff -u -r R1 -r R2 mod/a.txt
check "header date is the revision's date" grep -qxF "+++ mod/a.txt	$stamp" "$OUT"

# By dates: the same releases as the tags.
jol -Q rdiff -s -D "$between" -D "$after" mod
expect_status 0
check "dates select the releases" grep -qx 'File mod/a.txt changed from revision 1.1 to 1.2' "$OUT"
check "removed by date names the release date" \
    grep -qE '^File mod/gone.txt is removed; not included in release date [0-9]{4}\.[0-9]{2}\.' "$OUT"
check "four files by date" test "$(wc -l <"$OUT")" -eq 4
jol -Q rdiff -s -r R1 -D "$between" mod
expect_status 0
expect_stdout </dev/null
# A tag the files do not have: none unless -f takes the head.
jol -Q rdiff -s -r 1.2 mod/same.txt
expect_status 0
expect_stdout <<'X'
File mod/same.txt is new; current revision 1.1
X
jol -Q rdiff -s -f -r 1.2 mod/same.txt
expect_status 0
expect_stdout </dev/null

# -t: each file's last change, which here is the step from R1 to R2 (the
# context patch above) except for the new file, whose single revision
# shows nothing.
jol -Q rdiff -t mod
expect_status 0
normalize
expect_stdout < <(sed '/^Index: mod\/new file.txt$/,/^+ fresh$/d' "$SCRATCH/r1r2.patch")

# -t on a vendor branch (the default line): the previous revision on the
# branch; for the branch's first revision, the revision it starts from.
mkdir "$SCRATCH/vendor"
cd "$SCRATCH/vendor"
printf 'v1\n' >v.txt
printf 'once\n' >once.txt
jol -Q import -m one vend V v1
expect_status 0
rm once.txt
printf 'v2\n' >v.txt
jol -Q import -m two vend V v2
expect_status 0
cd "$SCRATCH"
jol -Q rdiff -u -t vend
expect_status 0
normalize
expect_stdout <<'X'
Index: vend/v.txt
diff -u vend/v.txt:1.1.1.1 vend/v.txt:1.1.1.2
--- vend/v.txt:1.1.1.1	DATE
+++ vend/v.txt	DATE
@@ -1 +1 @@
-v1
+v2
X

# -k applies to both texts.
cd wc
printf 'id $''Revision''$\n' >kw.txt
jol -Q add kw.txt
jol -Q commit -m kw
printf 'id $''Revision''$\nmore\n' >kw.txt
jol -Q commit -m kw2
cd "$SCRATCH"
jol -Q rdiff -u -t -kk mod/kw.txt
expect_status 0
normalize
expect_stdout <<'X'
Index: mod/kw.txt
diff -u mod/kw.txt:1.1 mod/kw.txt:1.2
--- mod/kw.txt:1.1	DATE
+++ mod/kw.txt	DATE
@@ -1 +1,2 @@
 id $Revision$
+more
X

# A binary file that differs cannot be in the patch: it is named, with a
# warning, and counts as an error; unchanged it is not mentioned.
cd wc
printf 'GIF\0one' >pic.gif
jol -Q add -kb pic.gif
jol -Q commit -m pic
jol -Q tag B1
printf 'GIF\0two' >pic.gif
jol -Q commit -m pic2
jol -Q tag B2
cd "$SCRATCH"
jol -Q rdiff -r B1 -r B2 mod
expect_status 1
expect_stdout <<'X'
Index: mod/pic.gif
Binary files mod/pic.gif:1.1 and mod/pic.gif:1.2 differ
X
expect_stderr <<X
jol $(served rdiff): warning: binary file mod/pic.gif differs; its change is not in the patch$ERROR_TAIL
X
jol -Q rdiff -s -r B1 -r B2 mod
expect_status 0
expect_stdout <<'X'
File mod/pic.gif changed from revision 1.1 to 1.2
X
jol -Q rdiff -r R2 -r B1 mod/pic.gif
expect_status 1
expect_stdout <<'X'
Index: mod/pic.gif
Binary files /dev/null and mod/pic.gif:1.1 differ
X

# What the options refuse.
refused() {
    jol "$@"
    expect_status 1
    expect_stderr
}
refused rdiff -s -t mod <<'X'
jol [rdiff aborted]: -t and -s options are mutually exclusive
X
refused rdiff -t -r R1 mod <<'X'
jol [rdiff aborted]: must not specify revisions/dates with -t option!
X
refused rdiff mod <<'X'
jol [rdiff aborted]: must specify at least one revision/date!
X
refused rdiff -r R1 -r R2 -D now mod <<'X'
jol [rdiff aborted]: no more than two revisions/dates can be specified
X
refused rdiff -D "$after" -D "$between" mod <<'X'
jol [rdiff aborted]: second date must come after first date!
X
refused rdiff -V 4 -r R1 mod <<'X'
jol [rdiff aborted]: the -V option is obsolete and should not be used
X
refused rdiff -q -r R1 mod <<'X'
jol [rdiff aborted]: -q or -Q must be specified before "rdiff"
X
jol rdiff -r R1
expect_status 1
expect_stderr_has "Usage: jol rdiff [-flR] [-c|-u] [-s|-t] [-V %d]"
jol -Q rdiff -r NOSUCH mod
expect_status 1
expect_stderr_has "no such tag NOSUCH"
jol -Q rdiff -s -r R1 nomod
expect_status 1
expect_stderr_has "cannot find module \`nomod' - ignored"

# Round trip: for generated modules (files added, removed and changed,
# texts without a final newline, names with blanks), the unified patch
# between two releases turns an export of the first into the second.
cat >"$SCRATCH/gen.py" <<'PY'
import os, random, sys
mode, seed = sys.argv[1], int(sys.argv[2])
rng = random.Random(seed * 7919 + (mode == "change"))
names = ["plain.c", "a b.txt", "two  blanks", "d 1/inner file", "d 1/x.h",
         "d2/deep/y z", "d2/w", "last one", "n.txt", "d 1/more stuff"]

def text():
    lines = [rng.choice("abcdefgh") * rng.randint(1, 3) for _ in range(rng.randint(1, 12))]
    body = "\n".join(lines)
    return body if rng.random() < 0.3 else body + "\n"

def write(name, data):
    os.makedirs(os.path.dirname(name) or ".", exist_ok=True)
    with open(name, "w") as f:
        f.write(data)

def edit(data):
    lines = data.split("\n")
    for _ in range(rng.randint(1, 3)):
        i = rng.randrange(len(lines))
        op = rng.random()
        if op < 0.4:
            lines[i] = rng.choice("xyz") * 2
        elif op < 0.7:
            lines.insert(i, rng.choice("pq"))
        elif len(lines) > 2:
            del lines[i]
    out = "\n".join(lines)
    if rng.random() < 0.3:  # gain or lose the final newline
        out = out[:-1] if out.endswith("\n") else out + "\n"
    return out if out.strip("\n") else "kept\n"

if mode == "init":
    chosen = [n for n in names if rng.random() < 0.7] or names[:1]
    for n in chosen:
        write(n, text())
    dirs = sorted({os.path.dirname(n) for n in chosen} - {""})
    dirs = sorted({"/".join(d.split("/")[:i + 1]) for d in dirs for i in range(d.count("/") + 1)})
    for d in dirs:
        sys.stdout.write("D%s\0" % d)
    for n in chosen:
        sys.stdout.write("A%s\0" % n)
else:
    present = sorted(n for n in names if os.path.isfile(n))
    for n in present:
        r = rng.random()
        if r < 0.25:
            os.remove(n)
            sys.stdout.write("R%s\0" % n)
        elif r < 0.75:
            with open(n) as f:
                write(n, edit(f.read()))
    for n in names:
        if n not in present and rng.random() < 0.5:
            d = os.path.dirname(n)
            if d and not os.path.isdir(d):
                parts = d.split("/")
                for i in range(len(parts)):
                    if not os.path.isdir("/".join(parts[:i + 1])):
                        sys.stdout.write("D%s\0" % "/".join(parts[:i + 1]))
            write(n, text())
            sys.stdout.write("A%s\0" % n)
PY

# apply_changes: the directories and files gen.py reports, in order.
apply_changes() {
    local item
    while IFS= read -r -d '' item; do
        case $item in
        D*) jol -Q add "${item#D}" ;;
        A*) jol -Q add "${item#A}" ;;
        R*) jol -Q rm "${item#R}" ;;
        esac
        expect_status 0
    done
}

files_of() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 md5sum); }

for seed in 1 2 3; do
    cd "$SCRATCH"
    mkdir "$REPO/rt$seed"
    jol -Q checkout -d "rtw$seed" "rt$seed"
    cd "rtw$seed"
    apply_changes < <(/usr/bin/python3 "$SCRATCH/gen.py" init "$seed")
    jol -Q commit -m one
    expect_status 0
    jol -Q tag R1
    apply_changes < <(/usr/bin/python3 "$SCRATCH/gen.py" change "$seed")
    jol -Q commit -m two
    expect_status 0
    jol -Q tag R2
    cd "$SCRATCH"
    mkdir "e1-$seed" "e2-$seed"
    for r in 1 2; do
        (cd "e$r-$seed" && "$JOL" -Q export -r "R$r" "rt$seed") || fail "export R$r of rt$seed"
    done
    jol -Q rdiff -u -r R1 -r R2 "rt$seed"
    expect_status 0
    check "seed $seed: the patch applies" \
        sh -c "cd e1-$seed && patch -s -p0 -E <'$OUT' >/dev/null"
    check "seed $seed: the patched release equals the second" \
        cmp -s <(files_of "e1-$seed/rt$seed") <(files_of "e2-$seed/rt$seed")
    cat "$OUT" >>"$SCRATCH/all.patch"
done
# The generated releases exercise every kind of change.
for kind in '^diff -u /dev/null .* ' ' [^ ]*:removed$' '^\\ No newline at end of file' \
    '^Index: rt[0-9]/.* ' '^@@ '; do
    check "the round trips include '$kind'" grep -q -- "$kind" "$SCRATCH/all.patch"
done

finish
