#!/bin/bash
# admin through a server (:fork:): the same checks as the local script,
# with the server's messages, and the description's lines sent as
# "Argumentx" continuations.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/admin_suite.sh"
remote && skip_remote "chooses its own client root"

export JOL_SERVER=$JOL
command -v rlog >/dev/null && command -v co >/dev/null || {
    echo "t5106-client-admin: GNU rcs (rlog, co) is needed; scripts/install-deps installs it" >&2
    exit 1
}

admin_history
jol -Q -d ":fork:$REPO" checkout -d remote proj
expect_status 0
admin_suite "$SCRATCH/remote" "jol server"

# The description travels as one argument over three request lines.
cd "$SCRATCH/remote" || exit 1
rm -f "$SCRATCH/log.in" "$SCRATCH/log.out"
JOL_CLIENT_LOG=$SCRATCH/log jol admin -q "-t-one
two
" f.txt
expect_status 0
printf 'Argument -t-one\nArgumentx two\nArgumentx \n' >"$SCRATCH/want"
check "description sent with Argumentx" \
    sh -c "grep -a -A2 '^Argument -t-one\$' '$SCRATCH/log.in' | cmp -s - '$SCRATCH/want'"
check "description arrived" sh -c "rlog -t '$ARCH' | sed -n '/^description:/,\$p' | sed -n 2,3p | grep -c . | grep -qx 2"

# -I has no use through a server.
jol admin -I f.txt
expect_status 1
printf 'jol [admin aborted]: -I option not useful with client/server\n' | expect_stderr

finish
