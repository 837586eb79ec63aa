#!/bin/bash
# The repository's administrative directory: what init creates (and that a
# second init changes nothing), the config switches and their messages,
# info-file matching and variables, and the modules database: aliases, -d,
# "&" references, "!" exclusions, module paths, listings and cycles.
. "$(dirname "$0")/lib.sh"

REPO=$SCRATCH/repo
export JOLROOT=$REPO
jol init
expect_status 0
adm=$REPO/JOLROOT
for f in loginfo rcsinfo editinfo verifymsg commitinfo taginfo checkoutlist jolwrappers \
    notify modules config; do
    check "init made $f,v" test -f "$adm/$f,v"
    check "init made the checked-out $f" test -f "$adm/$f"
done
for f in history val-tags; do
    check "init made an empty $f" test -f "$adm/$f" -a ! -s "$adm/$f"
done
check "Emptydir" test -d "$adm/Emptydir"
snapshot() { (cd "$adm" && find . -type f -exec md5sum {} + | sort); }
before=$(snapshot)
jol init
expect_status 0
check "a second init changes nothing" test "$before" = "$(snapshot)"

# Administrative files are edited in a checkout of JOLROOT and committed.
jol -Q checkout JOLROOT
expect_status 0
edit_admin() {
    # $1: file name; stdin: new contents
    cat >"$SCRATCH/JOLROOT/$1"
    (cd "$SCRATCH/JOLROOT" && "$JOL" -Q commit -m "set $1" "$1") >"$OUT" 2>"$ERR"
    status=$?
}

# config: unknown keys and values are reported and stop the command.
edit_admin config <<EOF
# comment lines and blank lines are fine

SystemAuth = no
EOF
expect_status 0
check "the checked-out config was rebuilt" grep -q 'SystemAuth = no' "$adm/config"
jol -Q log -h "$adm/config,v"
expect_stderr_has "$adm/config: unrecognized keyword 'SystemAuth '"
rm -f "$adm/config"
printf 'TopLevelAdmin=maybe\n' >"$adm/config"
jol -Q log -h "$adm/config,v"
expect_stderr_has "unrecognized value 'maybe' for TopLevelAdmin"
rm -f "$adm/config"
printf 'SystemAuth\n' >"$adm/config"
jol -Q log -h "$adm/config,v"
expect_stderr_has "syntax error in $adm/config: line 'SystemAuth' is missing '='"
rm -f "$adm/config"
printf 'PreservePermissions=yes\nSystemAuth=no\n' >"$adm/config"
jol -Q log -h "$adm/config,v"
expect_stderr_has "warning: this JOL does not support PreservePermissions"

# A project to run info files and modules against.
mkdir -p "$REPO/proj/sub" "$REPO/proj/subway" "$REPO/other"
cd "$SCRATCH"
jol -Q checkout proj
cd proj
printf 'a\n' >a.c
printf 's\n' >sub/s.c
printf 'w\n' >subway/w.c
jol -Q add a.c sub/s.c subway/w.c
jol -Q commit -m first
expect_status 0
cd "$SCRATCH"
jol -Q checkout other
printf 'o\n' >other/o.c
(cd other && "$JOL" -Q add o.c && "$JOL" -Q commit -m first) >/dev/null 2>&1

# Info files: the first matching expression wins, DEFAULT when none does,
# and every ALL line runs as well; ${=VAR} is a user variable from -s.
cat >"$SCRATCH/record" <<EOF
#!/bin/sh
echo "\$*" >>"$SCRATCH/calls"
EOF
chmod +x "$SCRATCH/record"
edit_admin commitinfo <<EOF
^proj/sub $SCRATCH/record sub \${=TAGME}
^proj $SCRATCH/record proj
DEFAULT $SCRATCH/record default
ALL $SCRATCH/record all \$USER
EOF
expect_status 0
cd "$SCRATCH/proj"
printf 'b\n' >>sub/s.c
jol -Q -s TAGME=x commit -m two sub/s.c
expect_status 0
check "first match and ALL ran" sh -c "grep -qx 'sub x $REPO/proj/sub s.c' '$SCRATCH/calls' && grep -qx 'all $(id -un) $REPO/proj/sub s.c' '$SCRATCH/calls'"
check "later matches did not run" sh -c "! grep -q '^proj ' '$SCRATCH/calls' && ! grep -q '^default ' '$SCRATCH/calls'"
rm -f "$SCRATCH/calls"
printf 'c\n' >>sub/s.c
jol -Q commit -m three sub/s.c
expect_status 1
expect_stderr_has "commitinfo:1: no such user variable \${TAGME}"
cd "$SCRATCH/other"
printf 'p\n' >>o.c
jol -Q commit -m two
check "DEFAULT ran for an unmatched directory" grep -qx "default $REPO/other o.c" "$SCRATCH/calls"
edit_admin commitinfo </dev/null

# Modules: aliases, -d, "&" references, "!" exclusions, a file of a
# module, and a two-name alias cycle that ends with an error.
edit_admin modules <<EOF
alias -a proj/sub other
moved -d elsewhere proj/sub
combo &proj &other
noway -a !proj/sub proj
ring1 -a ring2
ring2 -a ring1
one proj a.c
EOF
expect_status 0
cd "$SCRATCH"
jol -Q checkout alias
expect_status 0
check "alias: first target" test -f proj/sub/s.c
check "alias: second target" test -f other/o.c
rm -rf proj other
jol -Q checkout moved
check "-d places the module elsewhere" test -f elsewhere/s.c
jol -Q checkout combo
check "references: both modules inside combo" test -f combo/proj/a.c -a -f combo/other/o.c
jol -Q checkout noway
check "exclusion: the excluded directory is left out" test ! -e proj/sub/s.c
check "exclusion: mod/subway is not mod/sub" test -f proj/subway/w.c
check "exclusion: the rest is there" test -f proj/a.c
rm -rf proj
jol -Q checkout one
check "a module of one file" test -f one/a.c -a ! -e one/sub
jol -Q checkout ring1
expect_status 1
expect_stderr_has "module \`ring1' in modules file contains infinite loop"
jol -Q checkout nosuchmodule
expect_status 1
expect_stderr_has "cannot find module \`nosuchmodule' - ignored"
jol -Q checkout ../escape
expect_status 1
jol -Q checkout -c
expect_status 0
expect_stdout_has "alias        -a proj/sub other"
expect_stdout_has "moved        -d elsewhere proj/sub"
finish
