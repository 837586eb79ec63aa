#!/bin/bash
# The manual pages: their generated parts agree with the usage texts the
# executable prints, each command's page lists exactly the options of its
# usage text (and the check notices when one does not), mandoc finds
# nothing above style level, cross-references lead to pages that exist,
# and man renders a page.
. "$(dirname "$0")/doc_fixture.sh"
. "$(dirname "$0")/lib.sh"
remote && skip_remote "documentation"

DOC=$JOL_DOCS/doc
GEN=$JOL_DOCS/tools/gen_manpages

# compare_options DOCDIR: for every command (and jol.1 for the global
# options), the options its usage text names against the terms of the
# OPTIONS section of its page; prints each difference.
cat >"$SCRATCH/compare_options.py" <<'PY'
import os, re, subprocess, sys
jol, doc = sys.argv[1], sys.argv[2]
def usage(*args):
    r = subprocess.run([jol, '-f', *args], capture_output=True, text=True)
    return r.stderr.splitlines()
def usage_options(lines):
    found = set()
    for l in lines[1:]:
        m = re.match(r'^\s*(--[a-z][a-z-]*|-[A-Za-z])', l)
        if m and not l.lstrip().startswith('-r rev|-D date'):
            found.add(m.group(1))
    return found
def page_options(path, section):
    text = open(path).read().split('\n.SH ')
    body = [s for s in text if s.startswith(section)]
    if not body:
        return None
    found = set()
    lines = body[0].splitlines()
    for prev, l in zip(lines, lines[1:]):
        m = re.match(r'^\\fB\\-(\\-[a-z][a-z-]*|[A-Za-z])', l)
        if prev == '.TP' and m:
            found.add('-' + m.group(1).replace('\\-', '-'))
    return found
cmds = [l.split()[0] for l in usage('--help-commands')[1:] if l.startswith(' ')] + ['version']
pages = [(c, os.path.join(doc, 'jol-%s.%s' % (c, 8 if c == 'pserver' else 1)),
          usage('-H', c), 'OPTIONS') for c in cmds]
pages.append(('jol', os.path.join(doc, 'jol.1'), usage('--help-options'), 'GLOBAL OPTIONS'))
bad = 0
for name, path, text, section in pages:
    if not os.path.exists(path):
        print('%s: no page %s' % (name, path)); bad += 1; continue
    want, have = usage_options(text), page_options(path, section)
    if have is None:
        print('%s: no %s section' % (path, section)); bad += 1; continue
    for o in sorted(want - have):
        print('%s: %s is in the usage text, not in the page' % (path, o)); bad += 1
    for o in sorted(have - want):
        print('%s: %s is in the page, not in the usage text' % (path, o)); bad += 1
print('%d pages compared' % len(pages))
sys.exit(1 if bad else 0)
PY

# --- generated parts and option lists agree with the usage texts
python3 "$GEN" "$JOL" "$DOC" --check >"$SCRATCH/gen.out" 2>&1
rc=$?
check "generated parts of the pages are up to date" test $rc -eq 0
[ $rc -eq 0 ] || head -40 "$SCRATCH/gen.out" >&2
python3 "$SCRATCH/compare_options.py" "$JOL" "$DOC" >"$SCRATCH/cmp.out" 2>&1
rc=$?
check "every page lists the options of its usage text" test $rc -eq 0
[ $rc -eq 0 ] || cat "$SCRATCH/cmp.out" >&2
check "the 28 commands and the global options were compared" \
    grep -qx '29 pages compared' "$SCRATCH/cmp.out"

# --- both checks catch a page that drifted: an option dropped from one
# page, another one's description changed
cp -R "$DOC" "$SCRATCH/drift"
sed -i '/^\\fB\\-C\\fR$/,+1d' "$SCRATCH/drift/jol-update.1"
sed -i 's/^Prune empty directories\.$/Prune directories./' "$SCRATCH/drift/jol-checkout.1"
python3 "$SCRATCH/compare_options.py" "$JOL" "$SCRATCH/drift" >"$SCRATCH/cmp.out" 2>&1
check "the option comparison fails on a dropped option" test $? -eq 1
check "and names it" grep -q 'jol-update.1: -C is in the usage text, not in the page' \
    "$SCRATCH/cmp.out"
python3 "$GEN" "$JOL" "$SCRATCH/drift" --check >"$SCRATCH/gen.out" 2>&1
check "the generator's check fails on both drifted pages" \
    grep -q '^2 manual page(s) differ' "$SCRATCH/gen.out"
python3 "$GEN" "$JOL" "$SCRATCH/drift" >/dev/null 2>&1
check "regenerating puts them right" diff -r "$DOC" "$SCRATCH/drift"

# --- mandoc: nothing above style level, for every page
pages=$(ls "$DOC"/*.[158])
mandoc -T lint -W warning $pages >"$SCRATCH/lint.out" 2>&1
check "mandoc -T lint -W warning is silent" test ! -s "$SCRATCH/lint.out"
sed 's/^/  /' "$SCRATCH/lint.out" | head -20 >&2
check "there is a page per command, plus jol.1, jol-admin-files.5 and jol-pserver.8" \
    test "$(echo "$pages" | wc -l)" -eq 30

# --- every jol page a SEE ALSO or the text refers to exists
missing=$(grep -ho '^\.BR jol\\-[a-z\\-]* ([158])' $pages | sort -u |
    sed 's/^\.BR \(.*\) (\(.\))$/\1.\2/; s/\\-/-/g' |
    while read -r p; do [ -f "$DOC/$p" ] || echo "$p"; done)
check "cross-references lead to existing pages (missing: ${missing:-none})" test -z "$missing"

# --- man renders a page
MANPAGER=cat MANWIDTH=80 man -l "$DOC/jol-update.1" >"$SCRATCH/man.out" 2>"$SCRATCH/man.err"
check "man -l renders jol-update.1" test $? -eq 0
check "with its options" grep -q 'Overwrite locally modified files with clean repository' \
    "$SCRATCH/man.out"
check "and its examples" grep -q 'jol update -j rel-1-0 -j rel-1-0-fixes' "$SCRATCH/man.out"

finish
