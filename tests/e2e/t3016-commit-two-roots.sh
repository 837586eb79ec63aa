#!/bin/bash
# A working copy holding a directory from a second repository commits in
# two runs, one per root, in one process: each run starts from its own
# options and message, so -F works for both and the second run's editor
# does not start from the message written for the first.
. "$(dirname "$0")/lib.sh"

R1=$SCRATCH/r1
R2=$SCRATCH/r2
jol -d "$R1" -Q init
expect_status 0
jol -d "$R2" -Q init
expect_status 0
mkdir "$R1/top" "$R2/sub"
jol -d "$R1" -Q checkout top
expect_status 0
cd top
jol -d "$R2" -Q checkout sub
expect_status 0
echo one >a.txt
echo two >sub/b.txt
jol -Q add a.txt
expect_status 0
(cd sub && jol -Q add b.txt)
expect_status 0

# -F: the file's text is the message in both repositories.
printf 'from the log file\n' >"$SCRATCH/msg"
jol commit -F "$SCRATCH/msg"
expect_status 0
expect_stdout_has "$R1/top/a.txt,v  <--  a.txt"
expect_stdout_has "$R2/sub/b.txt,v  <--  b.txt"
jol log a.txt
expect_stdout_has "from the log file"
jol log sub/b.txt
expect_stdout_has "from the log file"

# The editor: one session per root, each with a message of its own.
cat >"$SCRATCH/ed.sh" <<EOF
#!/bin/sh
n=\$(cat "$SCRATCH/ed.count" 2>/dev/null || echo 0)
n=\$((n + 1))
echo \$n >"$SCRATCH/ed.count"
grep -v '^JOL:' "\$1" >"$SCRATCH/ed.start.\$n"
printf 'edited in session %s\n' \$n >"\$1"
EOF
chmod +x "$SCRATCH/ed.sh"
echo more >>a.txt
echo more >>sub/b.txt
jol -e "$SCRATCH/ed.sh" commit
expect_status 0
check "one editor session per root" test "$(cat "$SCRATCH/ed.count")" = 2
check "the second session starts without the first one's message" \
    sh -c "! grep -q 'session 1' '$SCRATCH/ed.start.2'"
jol log -r1.2 a.txt
expect_stdout_has "edited in session 1"
jol log -r1.2 sub/b.txt
expect_stdout_has "edited in session 2"

finish
