#!/bin/bash
# Global options, user variables, JOLUMASK, the rc file and the root choice.
. "$(dirname "$0")/lib.sh"

mkdir -p repo/JOLROOT other/JOLROOT
REPO=$SCRATCH/repo

for z in 10 -1 99; do
    jol -z "$z" -d "$REPO" version
    expect_status 1
    expect_stderr <<'T'
jol: gzip compression level must be between 0 and 9
T
done
for z in 0 9; do
    jol -z "$z" -d "$REPO" version
    expect_status 0
done

jol -s 'a-b=1' -d "$REPO" version
expect_status 1
expect_stderr <<'T'
jol: illegal character in user variable name in a-b=1
T
jol -s 'novalue' -d "$REPO" version
expect_status 1
expect_stderr <<'T'
jol: illegal character in user variable name in novalue
T
jol -s '=1' -d "$REPO" version
expect_status 1
expect_stderr <<'T'
jol: empty user variable name in =1
T
jol -s "$(printf 'V=a\nb')" -d "$REPO" version
expect_status 1
expect_stderr <<'T'
jol: linefeed in user variable value in V=a
b
T
jol -s 'GOOD_1=x y' -s GOOD_1=z -d "$REPO" version
expect_status 0

JOLUMASK=027 jol -d "$REPO" version
expect_status 0
for bad in 08 2x; do
    JOLUMASK=$bad jol -d "$REPO" version
    expect_status 1
    expect_stderr <<T
jol [version aborted]: invalid umask value in JOLUMASK ($bad)
T
done

# Root choice: -d beats JOL/Root, which beats JOLROOT.
jol version
expect_status 1
expect_stderr <<'T'
jol version: No JOLROOT specified!  Please use the `-d' option
jol [version aborted]: or set the JOLROOT environment variable.
T
JOLROOT= jol version
expect_status 1
expect_stderr <<'T'
jol version: JOLROOT is set but empty!  Make sure that the
jol version: specification of JOLROOT is legal, either via the
jol version: `-d' option, the JOLROOT environment variable, or the
jol [version aborted]: JOL/Root file (if any).
T
jol -d relative/dir version
expect_status 1
expect_stderr <<'T'
jol [version aborted]: JOLROOT relative/dir must be an absolute pathname
T
jol -d "$SCRATCH/missing" version
expect_status 1
if remote; then
    # The server refuses the root, its error number in an "error" line.
    expect_stderr <<T
Cannot access $SCRATCH/missing/JOLROOT
No such file or directory
T
else
    expect_stderr <<T
jol [version aborted]: $SCRATCH/missing/JOLROOT: No such file or directory
T
fi
# init is the one command that may run without the administrative directory.
jol -d "$SCRATCH/missing" init
expect_status 0
check "init creates the administrative directory" test -f "$SCRATCH/missing/JOLROOT/modules,v"

# Trace shows which root each pass uses, so precedence is visible.
mkdir -p wc/JOL
echo "$SCRATCH/other" > wc/JOL/Root
cd wc
JOLROOT=$REPO jol -t version
expect_stderr_has "notice: main loop with JOLROOT=$SCRATCH/other"
jol -t -d "$REPO" version
expect_stderr_has "notice: main loop with JOLROOT=$(as_root "$REPO")"
# A JOL/Root naming a missing directory is ignored, with a message.
echo "$SCRATCH/gone" > JOL/Root
JOLROOT=$REPO jol -t version
expect_status 0
expect_stderr_has "jol version: in directory .:"
expect_stderr_has "jol version: ignoring JOL/Root because it specifies a non-existent repository $SCRATCH/gone"
expect_stderr_has "notice: main loop with JOLROOT=$(as_root "$REPO")"
echo "relative" > JOL/Root
JOLROOT=$REPO jol version
expect_stderr_has "ignoring JOL/Root because it does not contain an absolute pathname."
# import never reads JOL/Root.
echo "$SCRATCH/other" > JOL/Root
jol -t import
expect_stderr_has "No JOLROOT specified!"
cd ..

# The rc file: a "jol" line adds global options ahead of the typed ones;
# "-f" turns the file off. (Splicing of command lines is unit-tested.)
cat > "$HOME/.jolrc" <<T
# jol -z 99
jolx -z 99
jol -t -d $REPO
jol -z 99
T
jol version
expect_status 0
expect_stderr_has "notice: main loop with JOLROOT=$REPO"
# typed options come after the rc file's and win
jol -d "$SCRATCH/other" version
expect_stderr_has "notice: main loop with JOLROOT=$(as_root "$SCRATCH/other")"
cat > "$HOME/.jolrc" <<T
jol -d $REPO -t
T
jol version
expect_status 0
expect_stderr_has "notice: main loop with JOLROOT=$REPO"
jol -f version
expect_status 1
expect_stderr_has "No JOLROOT specified!"

finish
