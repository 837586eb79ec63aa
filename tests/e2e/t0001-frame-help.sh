#!/bin/bash
# Usage texts, listings, the version banner and command lookup.
. "$(dirname "$0")/lib.sh"

general_usage() {
    cat <<'T'
Usage: jol [jol-options] command [command-options-and-arguments]
  where jol-options are -q, -n, etc.
    (specify --help-options for a list of options)
  where command is add, admin, etc.
    (specify --help-commands for a list of commands
     or --help-synonyms for a list of command synonyms)
  where command-options-and-arguments depend on the specific command
    (specify -H followed by a command name for command-specific help)
  Specify --help to receive this message

T
}

command_listing() {
    cat <<'T'
JOL commands are:
        add          Add a new file/directory to the repository
        admin        Administration front end for rcs
        annotate     Show last revision where each line was modified
        checkout     Checkout sources for editing
        commit       Check files into the repository
        diff         Show differences between revisions
        edit         Get ready to edit a watched file
        editors      See who is editing a watched file
        export       Export sources from JOL, similar to checkout
        history      Show repository access history
        import       Import sources into JOL, using vendor branches
        init         Create a JOL repository if it doesn't exist
        log          Print out history information for files
        login        Prompt for password for authenticating server
        logout       Removes entry in .jolpass for remote repository
        pserver      Password server mode
        rdiff        Create 'patch' format diffs between releases
        release      Indicate that a Module is no longer in use
        remove       Remove an entry from the repository
        rtag         Add a symbolic tag to a module
        server       Server mode
        status       Display status information on checked out files
        tag          Add a symbolic tag to checked out version of files
        unedit       Undo an edit command
        update       Bring work tree in sync with repository
        watch        Set watches
        watchers     See who is watching a file
(Specify the --help option for a list of other help options)
T
}

# The general usage: no arguments, only -q, -H alone, --help.
for args in "" "-q" "-H" "--help" "-Q -q"; do
    # shellcheck disable=SC2086
    jol $args
    expect_status 1
    check "general usage for '$args'" test "$(head -n 10 "$ERR")" = "$(general_usage)"
    check "four closing lines for '$args'" test "$(wc -l <"$ERR")" -eq 14
    expect_stdout </dev/null
done

jol --help-commands
expect_status 1
command_listing | expect_stderr
expect_stdout </dev/null

jol --help-synonyms
expect_status 1
expect_stderr <<'T'
JOL command synonyms are:
        add          ad new
        admin        adm rcs
        annotate     ann 
        checkout     co get
        commit       ci com
        diff         di dif
        export       exp ex
        history      hi his
        import       im imp
        log          lo rlog
        login        logon lgn
        rdiff        patch pa
        release      re rel
        remove       rm delete
        rtag         rt rfreeze
        status       st stat
        tag          ta freeze
        update       up upd
        version      ve ver
(Specify the --help option for a list of other help options)
T

jol --help-options
expect_status 1
check "option listing heading" test "$(head -n 1 "$ERR")" = \
    "JOL global options (specified before the command name) are:"
expect_stderr_has "    -s VAR=VAL   Set JOL user variable."
expect_stderr_has "    -d JOL_root  Overrides \$JOLROOT as the root of the JOL tree."
check "option listing ends with the help hint" test "$(tail -n 1 "$ERR")" = \
    "(Specify the --help option for a list of other help options)"

for v in -v --version; do
    jol $v
    expect_status 0
    check "$v banner starts with a blank line" test "$(head -n 1 "$OUT")" = ""
    check "$v version line" test "$(sed -n 2p "$OUT")" = "Jointly Owned Lines (JOL) 1.11 (client/server)"
    check "$v last line" test "$(tail -n 1 "$OUT")" = \
        "Specify the --help option for further information about JOL"
    expect_stderr </dev/null
done

jol foo
expect_status 1
{ printf "Unknown command: \`foo'\n\n"; command_listing; } | expect_stderr

# Unknown options and missing option arguments end in the general usage.
jol -k update
expect_status 1
expect_stderr_has "Usage: jol [jol-options] command"
jol -d
expect_status 1
expect_stderr_has "Usage: jol [jol-options] command"
jol -jolguix update
expect_status 1
expect_stderr_has "Usage: jol [jol-options] command"

# Synonyms: rlog warns twice and runs log; lo does not warn.
jol -d /nonexistent-root rlog
expect_status 1
check "rlog first warning" test "$(sed -n 1p "$ERR")" = "jol log: warning: the rlog command is deprecated"
check "rlog second warning" test "$(sed -n 2p "$ERR")" = "jol log: use the synonymous log command instead"
jol -d /nonexistent-root lo
check "lo does not warn" sh -c "! grep -q deprecated '$ERR'"

# Command help before any root is needed.
jol -H version
expect_status 1
expect_stderr <<'T'
Usage: jol version
T
jol -H ve
expect_status 1
expect_stderr <<'T'
Usage: jol version
T

finish
