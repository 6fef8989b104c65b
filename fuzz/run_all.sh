#!/usr/bin/env bash
# bash fuzz/run_all.sh <build dir>: every fuzz target for FUZZ_SECONDS (60),
# in fork mode, over its corpus in <build dir>/fuzz-corpus, the kept inputs,
# the data files and the suite; each crash, leak, timeout or out-of-memory
# input is kept in fuzz/regressions/<target>/ for the tests: the run fails.
set -uo pipefail
build=$(cd "${1:?usage: run_all.sh <build dir>}" && pwd)
kept=$(cd "$(dirname "$0")" && pwd)/regressions
for name in gif palette lzw; do
    work=$build/fuzz-corpus/$name
    rm -rf "$work-found" && mkdir -p "$work" "$work-found" "$kept/$name"
    echo "== fuzz_$name" && cp "$build"/sample_*.gif "$build"/pal_*.bin "$build"/cmaps_*.bmp \
        "$kept"/../../tests/data/gif-suite/gifs/*.gif "$work/" 2>/dev/null
    TIMEFORMAT='%R %U %S' # the run's and its jobs' time: the pace on a shared machine
    options=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -timeout=25
             -max_len=65536 -max_total_time="${FUZZ_SECONDS:-60}" -rss_limit_mb=4096
             -malloc_limit_mb=4096 -artifact_prefix="$work-found/")
    { time "$build/fuzz/fuzz_$name" "${options[@]}" "$work" "$kept/$name" >"$work.log" 2>&1 ||
        grep -q 'fuzzed for' "$work.log" || failed=1; } 2>"$work.time"
    tail -n 3 "$work.log"
    read -r wall user sys <"$work.time"
    inputs=$(grep -o '^#[0-9]*' "$work.log" | tail -n 1 | tr -d '#')
    awk -v t="fuzz_$name" -v n="$inputs" -v w="$wall" -v c="$user" -v s="$sys" 'BEGIN {
        c += s
        printf "   %s: %d inputs, %.0f/s of wall time, %.0f/s of CPU time\n",
               t, n, (w > 0 ? n / w : 0), (c > 0 ? n / c : 0) }'
    for file in "$work-found"/{crash,leak,timeout,oom}-*; do # slow units are no failure
        [ -f "$file" ] && cp "$file" "$kept/$name/" && failed=1 && echo "   kept $file"
    done
done
exit ${failed:-0}
