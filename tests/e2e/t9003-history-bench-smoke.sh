#!/bin/bash
# The history benchmark on a short journal: it runs, and every record of a
# reported type comes out.
BENCH=$(cd "$(dirname "$0")/../../bench" && pwd)
. "$(dirname "$0")/lib.sh"

tests_run=$((tests_run + 1))
bash "$BENCH/history_bench.sh" "$JOL" 3000 >"$OUT" 2>"$ERR" || {
    fail "history_bench.sh failed"
    sed 's/^/  /' "$ERR" >&2
}
check "all records but the P ones reported" grep -qx 'report lines 2750' "$OUT"
finish
