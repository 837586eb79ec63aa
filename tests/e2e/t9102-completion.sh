#!/bin/bash
# Bash completion of jol on a real repository and working copy: TAB in an
# interactive bash under a pseudo-terminal completes command names, tags
# after -r and module names; the completion function called directly
# offers each command's options (at least those of its usage text), the
# files of JOL/Entries, watch actions and the methods of -d.
. "$(dirname "$0")/doc_fixture.sh"
. "$(dirname "$0")/lib.sh"
remote && skip_remote "documentation"

COMP=$JOL_DOCS/contrib/completion/jol.bash
mkdir -p "$SCRATCH/bin"
ln -s "$JOL" "$SCRATCH/bin/jol"
export PATH="$SCRATCH/bin:$PATH"

# A project with a file, a subdirectory, a release tag, a branch, and two
# modules.
new_project proj work
echo one >a.txt
mkdir sub
echo two >sub/b.txt
jol -Q add a.txt sub
jol -Q add sub/b.txt
jol -Q commit -m first
expect_status 0
jol -Q tag rel-1-0
jol -Q tag -b rel-1-0-fixes
expect_status 0
(
    cd "$SCRATCH" && "$JOL" -Q checkout JOLROOT && cd JOLROOT &&
        printf 'mymod proj\nsubmod -d s proj/sub\n' >>modules &&
        "$JOL" -Q commit -m "two modules" modules
) >/dev/null 2>&1
check "the modules were committed" grep -q '^submod' "$REPO/JOLROOT/modules"
echo more >>a.txt

# candidates WORD...: what the completion function offers for the last word
candidates() {
    bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _jol
        printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$COMP" "$@"
}
lines() { printf '%s\n' "$@" | sort; }

# --- in an interactive bash, TAB itself
cat >"$SCRATCH/tab_session.py" <<'PY'
import os, pty, select, sys, time
comp = sys.argv[1]
pid, fd = pty.fork()
if pid == 0:
    os.execvp('bash', ['bash', '--norc', '--noprofile', '-i'])
out = b''
def read_until(want, timeout=15):
    global out
    end = time.time() + timeout
    while time.time() < end:
        r, _, _ = select.select([fd], [], [], 0.2)
        if r:
            try:
                data = os.read(fd, 4096)
            except OSError:
                break
            out += data
            if all(w.encode() in out for w in want):
                return True
    return False
def send(s):
    os.write(fd, s.encode())
send("PS1='READY> '; . %s; bind 'set show-all-if-ambiguous on'; "
     "bind 'set bell-style none'; echo SOURCED$((6*7))\n" % comp)
ok = read_until(['SOURCED42', 'READY> '])
results = []
for typed, want in [('jol up\t', ['jol update ']),
                    ('jol update -r \t', ['rel-1-0-fixes', 'rel-1-0 ']),
                    ('jol co \t', ['mymod', 'submod'])]:
    out = b''
    send(typed)
    results.append((typed, read_until(want)))
    send('\x15')  # drop the line
    read_until(['READY> '], 2)
send('exit\n')
for typed, good in results:
    print('%s %r' % ('ok' if good and ok else 'FAILED', typed))
PY
python3 "$SCRATCH/tab_session.py" "$COMP" >"$SCRATCH/tab.out" 2>&1
check "jol up<TAB> completes update" grep -qx "ok 'jol up\\\\t'" "$SCRATCH/tab.out"
check "jol update -r <TAB> lists the tags" grep -qx "ok 'jol update -r \\\\t'" "$SCRATCH/tab.out"
check "jol co <TAB> lists the modules" grep -qx "ok 'jol co \\\\t'" "$SCRATCH/tab.out"
grep -q FAILED "$SCRATCH/tab.out" && sed 's/^/  /' "$SCRATCH/tab.out" >&2

# --- the function itself
check "commands: a full name first" test "$(candidates jol up)" = update
check "synonyms when no full name matches" test "$(candidates jol rf)" = rfreeze
check "update's options" test "$(candidates jol update -)" = \
    "$(lines -A -C -D -I -P -R -W -d -f -j -k -l -p -r)"
check "the same after a synonym and global options" \
    test "$(candidates jol -q -d "$REPO" up -)" = "$(candidates jol update -)"
check "global options before the command" \
    test "$(candidates jol --help-)" = "$(lines --help-commands --help-options --help-synonyms)"
check "tags after -r" test "$(candidates jol update -r '')" = "$(lines rel-1-0 rel-1-0-fixes)"
check "and after -j, by prefix" test "$(candidates jol update -j rel-1-0-)" = rel-1-0-fixes
check "modules after checkout" test "$(candidates jol checkout '')" = "$(lines mymod submod)"
check "modules after rdiff's options" \
    test "$(candidates jol rdiff -s -r rel-1-0 s)" = submod
check "rtag's first word is a tag, then modules" \
    test "$(candidates jol rtag rel)$(candidates jol rtag newtag m)" = "$(lines rel-1-0 rel-1-0-fixes)mymod"
check "files from JOL/Entries for commit" test "$(candidates jol commit '')" = "$(lines a.txt sub/)"
check "and inside a subdirectory" test "$(candidates jol diff sub/)" = sub/b.txt
touch stray.txt
check "files not under version control are not offered" \
    test "$(candidates jol status s)" = sub/
check "but add offers them" test "$(candidates jol add st)" = stray.txt
check "watch's actions after -a" test "$(candidates jol watch add -a ed)" = edit
check "keyword modes after -k" test "$(candidates jol update -k kv)" = "$(lines kv kvl)"
check "methods after -d" test "$(candidates jol -d :p)" = :pserver:

# Every option a command's usage text lists is offered for it.
for cmd in $("$JOL" --help-commands 2>&1 | awk '/^ / { print $1 }'); do
    want=$("$JOL" -H "$cmd" 2>&1 | tail -n +2 | grep -oE '^[[:space:]]*(--[a-z-]+|-[A-Za-z])' |
        tr -d ' \t' | sort -u)
    have=$(candidates jol "$cmd" -)
    missing=$(comm -23 <(echo "$want") <(echo "$have" | sed 's/=$//') | grep . | tr '\n' ' ')
    check "$cmd: every option of the usage text is offered (missing: ${missing:-none})" \
        test -z "$missing"
done

finish
