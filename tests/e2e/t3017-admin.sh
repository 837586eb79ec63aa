#!/bin/bash
# admin on a local repository: every option with its exact output, every
# -o form on the trunk and on a branch, the refusals that leave archives
# byte-identical, and the "joladmin" group rule. GNU rlog and co read every
# archive written.
#
# The group rule needs a group database the test may change: run as root,
# the script gives itself a private mount namespace with a copy of
# /etc/group bound over the real one, so nothing outside it sees the group.
if [ "$(id -u)" -eq 0 ] && [ -z "${JOL_ADMIN_GROUP_FILE:-}" ] && [ -z "${JOL_AS_ROOT:-}" ] &&
    unshare -m true 2>/dev/null; then
    group_copy=$(mktemp /tmp/jol-admin-group.XXXXXX) || exit 1
    cp /etc/group "$group_copy" && chmod 666 "$group_copy"
    JOL_ADMIN_GROUP_FILE=$group_copy unshare -m bash -c \
        'mount --bind "$JOL_ADMIN_GROUP_FILE" /etc/group && bash "$0" "$@"' "$0" "$@"
    rc=$?
    rm -f "$group_copy"
    exit $rc
fi
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/admin_suite.sh"

command -v rlog >/dev/null && command -v co >/dev/null || {
    echo "t3017-admin: GNU rcs (rlog, co) is needed; scripts/install-deps installs it" >&2
    exit 1
}

admin_history
admin_suite "$SCRATCH/setup" "jol admin"

# The administrators' group: members listed in it and users whose primary
# group it is may use admin; others only for -k.
if [ -n "${JOL_ADMIN_GROUP_FILE:-}" ] && [ -w /etc/group ]; then
    cp /etc/group "$SCRATCH/group.orig"
    set_group() { { cat "$SCRATCH/group.orig"; echo "$1"; } >/etc/group; }
    cd "$SCRATCH/setup" || exit 1
    me=$(id -un)
    set_group "joladmin:x:47011:someone"
    jol admin -q -l f.txt
    expect_status 1
    printf 'jol [admin aborted]: usage is restricted to members of the group joladmin\n' | expect_stderr
    unchanged "outside the group"
    jol admin -q -kb f.txt
    expect_status 0
    check "-k outside the group" sh -c "rlog -h '$ARCH' | grep -qx 'keyword substitution: b'"
    restore
    set_group "joladmin:x:47011:someone,$me"
    jol admin -q -l f.txt
    expect_status 0
    check "a listed member locks" sh -c "rlog -h '$ARCH' | grep -q '$me: 1.6'"
    restore
    set_group "joladmin:x:$(id -g):"
    jol admin -q -l f.txt
    expect_status 0
    check "primary group member locks" sh -c "rlog -h '$ARCH' | grep -q '$me: 1.6'"
    restore
    cat "$SCRATCH/group.orig" >/etc/group
else
    echo "t3017-admin: no private group database here; group rule checks skipped" >&2
fi

finish
