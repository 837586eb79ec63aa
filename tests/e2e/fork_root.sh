#!/bin/bash
# Stands in for the executable when the suite runs against a :fork: root
# (lib.sh, JOL_TEST_ROOT=fork): every local root, given by -d in any
# spelling of the global options or by JOLROOT, becomes ":fork:" plus that
# path, and the real executable (JOL_FORK_REAL) also serves as the server.
# Roots that already name a method, and a working copy's JOL/Root, pass.
real=${JOL_FORK_REAL:?JOL_FORK_REAL must name the jol executable}
export JOL_SERVER="${JOL_SERVER:-$real}"
case ${JOLROOT:-} in /*) export JOLROOT=":fork:$JOLROOT" ;; esac

fork_root() {
    case $1 in /*) printf ':fork:%s' "$1" ;; *) printf '%s' "$1" ;; esac
}

args=()
while [ $# -gt 0 ]; do
    case $1 in
    --allow-root)
        args+=("$1" "${2:-}")
        shift
        [ $# -gt 0 ] && shift
        ;;
    --*=* | --*)
        args+=("$1")
        shift
        ;;
    -?*)
        # A cluster of flags, possibly ending in one option with a value.
        rest=${1#-} flags=-
        shift
        while [ -n "$rest" ]; do
            letter=${rest:0:1} rest=${rest:1}
            case $letter in
            [bTezsd])
                value=$rest
                if [ -z "$value" ] && [ $# -gt 0 ]; then
                    value=$1
                    shift
                fi
                [ "$letter" = d ] && value=$(fork_root "$value")
                [ "$flags" != - ] && args+=("$flags")
                args+=("-$letter" "$value")
                flags=- rest=
                ;;
            *) flags=$flags$letter ;;
            esac
        done
        [ "$flags" != - ] && args+=("$flags")
        ;;
    *) break ;;
    esac
done
exec "$real" "${args[@]}" "$@"
