#!/bin/bash
# The whole local workflow, step by step, as a new user meets it. Each
# step says what it shows; read it top to bottom as a tutorial.
. "$(dirname "$0")/lib.sh"

# 1. Create a repository. JOLROOT tells every later command where it is
#    (-d on the command line would do the same for one command).
export JOLROOT=$SCRATCH/repository
jol init
expect_status 0
check "the repository has its administrative directory" test -d "$JOLROOT/JOLROOT"

# 2. Make a directory for a project in the repository and check it out.
#    The working copy carries a JOL directory that remembers where it
#    came from.
mkdir "$JOLROOT/hello"
jol checkout hello
expect_status 0
cd hello
check "the working copy knows its repository" grep -qx hello JOL/Repository

# 3. Put files under control: add schedules them, commit stores them.
cat >hello.c <<'EOF'
#include <stdio.h>

int main(void)
{
    printf("hello\n");
    return 0;
}
EOF
printf 'Say hello.\n' >README
jol add hello.c README
expect_status 0
jol commit -m "The first version"
expect_status 0
expect_stdout_has "initial revision: 1.1"

# 4. Edit, then ask what changed: status names the state of each file,
#    diff shows the change itself (exit status 1: there are differences).
sed -i 's/hello\\n/hello, world\\n/' hello.c
jol -Q status hello.c
expect_stdout_has "Status: Locally Modified"
jol -Q diff -u hello.c
expect_status 1
expect_stdout_has '-    printf("hello\n");'
expect_stdout_has '+    printf("hello, world\n");'

# 5. Commit the change; the log lists both revisions with their messages.
jol -Q commit -m "Greet the world"
expect_status 0
jol -Q log hello.c
expect_stdout_has "revision 1.2"
expect_stdout_has "Greet the world"
expect_stdout_has "The first version"

# 6. A colleague works in a second working copy of the same project.
cd "$SCRATCH"
jol -Q checkout -d colleague hello
cd colleague
printf 'Say hello.\nThen say goodbye.\n' >README
jol -Q commit -m "Explain the plan"

# 7. Back in the first copy, update brings the colleague's change in
#    (U: fetched; P from a server: patched) while local edits stay (M: merged or modified).
cd "$SCRATCH/hello"
printf '/* greeting */\n' >>hello.c
jol update
expect_status 0
expect_stdout_has "$FETCHED README"
expect_stdout_has "M hello.c"
jol -Q commit -m "Comment the greeting"

# 8. Mark a release with a tag; later changes do not move it.
jol -Q tag release-1
sed -i 's/return 0;/return 1;/' hello.c
jol -Q commit -m "Fail on purpose"
jol -Q diff -r release-1 hello.c
expect_status 1
expect_stdout_has "<     return 0;"
expect_stdout_has ">     return 1;"

# 9. Fix the release on a branch: tag -b makes one, update -r moves the
#    working copy onto it (a sticky tag), commits then go to the branch.
cd "$SCRATCH"
jol -Q checkout -r release-1 -d maintenance hello
cd maintenance
jol -Q tag -b release-1-fixes
jol -Q update -r release-1-fixes
printf 'Say hello.\nThen say goodbye.\nFixed on the branch.\n' >README
jol -Q commit -m "Document the fix"
expect_status 0
jol -Q status README
expect_stdout_has "Sticky Tag:		release-1-fixes (branch: 1.2.2)"

# 10. Merge the branch into the trunk with update -j, then commit.
cd "$SCRATCH/hello"
jol -Q update -j release-1-fixes
expect_status 0
check "the fix arrived on the trunk" grep -qx "Fixed on the branch." README
jol -Q commit -m "Merge the fixes"
expect_status 0

# 11. Who wrote which line? annotate answers per line.
jol -Q annotate README
expect_stdout_has "Fixed on the branch."
check "the first line goes back to revision 1.1" sh -c "head -1 '$OUT' | grep -q '^1\.1 '"

# 12. Retire a file: remove it, commit, and it is gone from new checkouts
#     (its history stays in the repository's Attic).
rm README
jol -Q remove README
jol -Q commit -m "No README any more"
cd "$SCRATCH"
jol -Q checkout -d fresh hello
check "a new checkout has no README" test ! -e fresh/README
check "the history is kept" test -f "$JOLROOT/hello/Attic/README,v"

# 13. An old release is always one checkout away.
jol -Q checkout -r release-1 -d old hello
check "the release's README is back" test -f old/README
check "the release's program returns 0" grep -q 'return 0;' old/hello.c
finish
