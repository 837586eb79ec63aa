# Bash completion for jol: global options, commands and their synonyms,
# each command's options, files from JOL/Entries, tags after -r and -j
# (from "jol log -h" of the current directory, cached for the session),
# module names after checkout, export, rtag and rdiff (from
# "jol checkout -c"), and method prefixes after -d.

_jol_global_opts='-H -Q -q -r -w -l -n -t -v -T -e -d -f -z -a -s -x
--help --version --help-commands --help-synonyms --help-options'

# Full names first, then synonyms, as the command table lists them.
_jol_commands='add admin annotate checkout commit diff edit editors export
history import init log login logout pserver rdiff release remove rtag
server status tag unedit update version watch watchers
ad new adm rcs ann co get ci com di dif exp ex hi his im imp lo rlog
logon lgn patch pa re rel rm delete rt rfreeze st stat ta freeze up upd
ve ver'

_jol_fullname() {
    case $1 in
    ad | new) echo add ;;
    adm | rcs) echo admin ;;
    ann) echo annotate ;;
    co | get) echo checkout ;;
    ci | com) echo commit ;;
    di | dif) echo diff ;;
    exp | ex) echo export ;;
    hi | his) echo history ;;
    im | imp) echo import ;;
    lo | rlog) echo log ;;
    logon | lgn) echo login ;;
    patch | pa) echo rdiff ;;
    re | rel) echo release ;;
    rm | delete) echo remove ;;
    rt | rfreeze) echo rtag ;;
    st | stat) echo status ;;
    ta | freeze) echo tag ;;
    up | upd) echo update ;;
    ve | ver) echo version ;;
    *) echo "$1" ;;
    esac
}

# The options each command accepts (those its usage text lists, and the
# diff program's for diff).
_jol_command_opts() {
    case $1 in
    add) echo '-k -m' ;;
    admin) echo '-a -A -b -c -e -I -k -l -L -m -n -N -o -q -s -t -u -U' ;;
    annotate) echo '-l -R -f -r -D' ;;
    checkout) echo '-A -N -P -R -c -f -l -n -p -s -r -D -d -k -j' ;;
    commit) echo '-n -R -l -f -F -m -r' ;;
    diff) echo '-l -R -D -N -r -k --ifdef= -c -u -b -w -i -B -C -U -p -a -e -n -t' ;;
    edit) echo '-l -R -a' ;;
    editors | watchers | unedit) echo '-l -R' ;;
    export) echo '-N -R -f -l -n -r -D -d -k' ;;
    history) echo '-T -c -o -m -x -e -a -l -w -D -b -f -n -p -r -t -u -z' ;;
    import) echo '-d -k -I -b -m -W' ;;
    log) echo '-l -R -h -t -N -b -r -d -s -w' ;;
    rdiff) echo '-f -l -R -c -u -s -t -D -r -V -k' ;;
    release) echo '-d' ;;
    remove) echo '-f -l -R' ;;
    rtag) echo '-a -f -l -R -n -d -b -r -D -F' ;;
    status) echo '-v -l -R' ;;
    tag) echo '-l -R -d -r -D -f -b -F -c' ;;
    update) echo '-A -P -C -d -f -l -R -p -k -r -D -j -I -W' ;;
    watch) echo '-l -R -a' ;;
    esac
}

# The options that take their argument as the next word.
_jol_arg_opts() {
    case $1 in
    add) echo '-k -m' ;;
    admin) echo '-a -A -c -k -m -n -N -o -s' ;;
    annotate | rtag | tag) echo '-r -D' ;;
    checkout) echo '-r -D -d -k -j' ;;
    commit) echo '-F -m -r' ;;
    diff) echo '-r -D -k -C -U' ;;
    edit | watch) echo '-a' ;;
    export) echo '-r -D -d -k' ;;
    history) echo '-m -x -D -b -f -n -p -r -t -u -z' ;;
    import) echo '-k -I -b -m -W' ;;
    log) echo '-d -s' ;;
    rdiff) echo '-r -D -k -V' ;;
    update) echo '-k -r -D -j -I -W' ;;
    esac
}

# Symbolic names of the files of the current directory, once per
# directory and repository in a session.
declare -gA _jol_tag_cache 2>/dev/null || declare -A _jol_tag_cache
_jol_tags() {
    [ -d JOL ] || return 0
    local key
    key="$PWD|$(cat JOL/Root JOL/Repository 2>/dev/null)"
    if [ -z "${_jol_tag_cache[$key]+set}" ]; then
        _jol_tag_cache[$key]=$("${_jol_prog:-jol}" -Q log -h 2>/dev/null |
            awk '/^symbolic names:/ { s = 1; next }
                 s && /^\t/ { sub(/^\t/, ""); sub(/:.*/, ""); print; next }
                 { s = 0 }' | sort -u)
    fi
    printf '%s\n' "${_jol_tag_cache[$key]}"
}

# Module names from the modules database of the root in use.
_jol_modules() {
    "${_jol_prog:-jol}" ${_jol_root:+-d "$_jol_root"} -Q checkout -c 2>/dev/null |
        awk '/^[^ \t]/ { print $1 }'
}

# Files and subdirectories that JOL/Entries of the directory of $1 lists.
_jol_entries() {
    local dir= base
    case $1 in */*) dir=${1%/*}/ ;; esac
    [ -f "${dir}JOL/Entries" ] || return 0
    while IFS=/ read -r kind name rest; do
        case $kind in
        D) [ -n "$name" ] && echo "$dir$name/" ;;
        '') [ -n "$name" ] && echo "$dir$name" ;;
        esac
    done <"${dir}JOL/Entries"
    if [ -f "${dir}JOL/Entries.Log" ]; then
        while read -r op line; do
            case $op in A) base=${line#D/}; base=${base%%/*}; [ -n "$base" ] && echo "$dir$base/" ;; esac
        done <"${dir}JOL/Entries.Log"
    fi
}

_jol_reply() {
    local IFS=$'\n'
    COMPREPLY=($(compgen -W "$1" -- "$2"))
}

_jol() {
    local cur prev i cmd= cmdi=0 word
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    _jol_prog=${COMP_WORDS[0]}
    _jol_root=
    COMPREPLY=()

    # Find the command word, noting a -d given before it.
    i=1
    while [ $i -lt $COMP_CWORD ]; do
        word=${COMP_WORDS[i]}
        case $word in
        -d) _jol_root=${COMP_WORDS[i + 1]}; i=$((i + 2)); continue ;;
        -T | -e | -z | -s) i=$((i + 2)); continue ;;
        -*) ;;
        *) cmd=$(_jol_fullname "$word"); cmdi=$i; break ;;
        esac
        i=$((i + 1))
    done

    if [ -z "$cmd" ]; then
        case $prev in
        -d)
            _jol_reply ":local:"$'\n'":fork:"$'\n'":ext:"$'\n'":pserver:"$'\n'":gserver:" "$cur"
            case $cur in :*) ;; *) COMPREPLY+=($(compgen -d -- "$cur")) ;; esac
            compopt -o nospace 2>/dev/null
            return ;;
        -T) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        -e) COMPREPLY=($(compgen -c -- "$cur")); return ;;
        -z) _jol_reply "$(seq 0 9)" "$cur"; return ;;
        -s) return ;;
        esac
        case $cur in
        -*) _jol_reply "$(printf '%s\n' $_jol_global_opts)" "$cur" ;;
        *)
            # Full names first; synonyms only when no full name fits.
            _jol_reply "$(printf '%s\n' $_jol_commands | sed -n '1,/^watchers$/p')" "$cur"
            [ ${#COMPREPLY[@]} -eq 0 ] && _jol_reply "$(printf '%s\n' $_jol_commands)" "$cur" ;;
        esac
        return
    fi

    # An option's argument.
    if [ $COMP_CWORD -gt $((cmdi + 1)) ] && [[ " $(_jol_arg_opts "$cmd") " == *" $prev "* ]]; then
        case $cmd$prev in
        history-r | history-t) ;;
        *-r | *-j) _jol_reply "$(_jol_tags)" "$cur" ;;
        *-k) _jol_reply "kv"$'\n'"kvl"$'\n'"k"$'\n'"o"$'\n'"b"$'\n'"v" "$cur" ;;
        edit-a | watch-a)
            _jol_reply "edit"$'\n'"unedit"$'\n'"commit"$'\n'"all"$'\n'"none" "$cur" ;;
        checkout-d | export-d) COMPREPLY=($(compgen -d -- "$cur")) ;;
        commit-F | history-f) COMPREPLY=($(compgen -f -- "$cur")) ;;
        history-m | history-n) _jol_reply "$(_jol_modules)" "$cur" ;;
        esac
        return
    fi

    if [ "$cmd" = watch ] && [ $COMP_CWORD -eq $((cmdi + 1)) ] && [[ $cur != -* ]]; then
        _jol_reply "on"$'\n'"off"$'\n'"add"$'\n'"remove" "$cur"
        return
    fi

    case $cur in
    -*) _jol_reply "$(printf '%s\n' $(_jol_command_opts "$cmd"))" "$cur"; return ;;
    esac

    case $cmd in
    checkout | export | rtag | rdiff)
        if [ "$cmd" = rtag ]; then
            # The first argument is the tag.
            local n=0
            for ((i = cmdi + 1; i < COMP_CWORD; i++)); do
                case ${COMP_WORDS[i]} in -r | -D) i=$((i + 1)) ;; -*) ;; *) n=$((n + 1)) ;; esac
            done
            [ $n -eq 0 ] && { _jol_reply "$(_jol_tags)" "$cur"; return; }
        fi
        _jol_reply "$(_jol_modules)" "$cur" ;;
    admin | annotate | commit | diff | edit | editors | log | remove | status | tag | \
        unedit | update | watch | watchers)
        _jol_reply "$(_jol_entries "$cur")" "$cur"
        compopt -o filenames 2>/dev/null
        case "${COMPREPLY[*]}" in */) compopt -o nospace 2>/dev/null ;; esac ;;
    add) COMPREPLY=($(compgen -f -- "$cur")); compopt -o filenames 2>/dev/null ;;
    release | import) COMPREPLY=($(compgen -d -- "$cur")); compopt -o filenames 2>/dev/null ;;
    esac
}

complete -F _jol jol
