#!/bin/bash
# Runs one fuzz target for a while, niced, on a working copy of its seed
# corpus with its dictionary, and prints executions and coverage.
#   bench/fuzz_run.sh [--cpu] TARGET SECONDS [BUILD-DIR]
# SECONDS is wall-clock time, or with --cpu the fuzzer's own CPU time
# (user + system), so that a run sharing the machine still gets its share.
# The target's stdout and stderr are closed (libFuzzer and the sanitizers
# keep reporting on a copy), so a target that prints per input cannot
# fill the disk with its log.
# TARGET is one of server_fuzz client_fuzz date_fuzz admin_fuzz rcs_fuzz
# diff_fuzz. BUILD-DIR (default build-fuzz) is configured with
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DJOL_FUZZ=ON
# and the target is built there first. New corpus entries stay in
# BUILD-DIR/corpus-TARGET; crashes, leaks and timeouts are written to
# BUILD-DIR/artifacts-TARGET/ (keep each as a regression seed once fixed).
set -eu
cpu=0
if [ "${1:-}" = --cpu ]; then cpu=1; shift; fi
target=$1
seconds=$2
SRC=$(cd "$(dirname "$0")/.." && pwd)
build=${3:-$SRC/build-fuzz}
case $target in
server_fuzz) dir=src/server/fuzz ;;
client_fuzz) dir=src/client/fuzz ;;
date_fuzz) dir=src/base/fuzz ;;
admin_fuzz) dir=src/repo/fuzz ;;
rcs_fuzz) dir=src/rcs/fuzz ;;
diff_fuzz) dir=diff/fuzz ;;
*) echo "unknown target $target" >&2; exit 2 ;;
esac
cmake --build "$build" -j2 --target "$target" >/dev/null
bin=$(find "$build" -name "$target" -type f -perm -u+x | head -1)
corpus=$build/corpus-$target
artifacts=$build/artifacts-$target
mkdir -p "$corpus" "$artifacts"
seeds=()
[ -d "$SRC/$dir/corpus" ] && seeds=("$SRC/$dir/corpus")
dict=()
[ -f "$SRC/$dir/$target.dict" ] && dict=("-dict=$SRC/$dir/$target.dict")
log=$build/$target.log
wall=$seconds
[ $cpu = 1 ] && wall=$((seconds * 20))
set +e
nice -n 10 "$bin" "$corpus" "${seeds[@]}" "${dict[@]}" -max_total_time="$wall" \
    -rss_limit_mb=2048 -timeout=25 -max_len=65536 -print_final_stats=1 \
    -close_fd_mask=3 -artifact_prefix="$artifacts/" >"$log" 2>&1 &
pid=$!
if [ $cpu = 1 ]; then
    # utime and stime are fields 14 and 15 of /proc/PID/stat, in clock
    # ticks; the command name (field 2) holds no spaces for these targets.
    hz=$(getconf CLK_TCK)
    while kill -0 $pid 2>/dev/null; do
        used=$(awk '{print int(($14 + $15) / '"$hz"')}' /proc/$pid/stat 2>/dev/null || echo 0)
        if [ "${used:-0}" -ge "$seconds" ]; then
            # SIGUSR1 asks libFuzzer to stop after the current input and
            # print its final statistics. SIGINT would not do: the server
            # target's own signal handlers take it.
            kill -USR1 $pid
            break
        fi
        sleep 5
    done
fi
wait $pid
rc=$?
set -e
grep -aE '^#[0-9]+.*INITED' "$log" | tail -1
grep -aE '^#[0-9]+.*cov:' "$log" | tail -1
grep -aE '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log"
found=$(ls "$artifacts" | wc -l)
echo "$target: exit $rc, $found artifact(s) in $artifacts, log $log"
exit $rc
