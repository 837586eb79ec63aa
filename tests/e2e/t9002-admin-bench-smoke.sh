#!/bin/bash
# The outdating benchmark on a short history: every form runs and leaves
# the kept revisions' texts as generated.
BENCH=$(cd "$(dirname "$0")/../../bench" && pwd)
. "$(dirname "$0")/lib.sh"

tests_run=$((tests_run + 1))
bash "$BENCH/admin_outdate_bench.sh" "$JOL" 60 >"$OUT" 2>"$ERR" || {
    fail "admin_outdate_bench.sh failed"
    sed 's/^/  /' "$ERR" >&2
}
check "six forms timed" test "$(grep -c '^-o ' "$OUT")" -eq 6
check "1.2:1.59 keeps two revisions" grep -q '^-o 1.2:1.59 .* 2$' "$OUT"
finish
