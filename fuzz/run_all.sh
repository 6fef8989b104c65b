#!/usr/bin/env bash
# Runs every fuzz target for FUZZ_SECONDS (default 60) over its corpus in
# <build dir>/fuzz-corpus, the kept inputs and the build's data files and
# samples; keeps each crash, leak, timeout or out-of-memory input in
# fuzz/regressions/<target>/, which the tests replay, and exits 1 when a
# target found one or did not run.     bash fuzz/run_all.sh <build dir>
set -uo pipefail
build=$(cd "${1:?usage: run_all.sh <build dir>}" && pwd)
kept=$(cd "$(dirname "$0")" && pwd)/regressions
failed=0
for name in gif palshift palette lzw; do
    work=$build/fuzz-corpus/$name
    rm -rf "$work-found" && mkdir -p "$work" "$work-found" "$kept/$name"
    echo "== fuzz_$name" && cp "$build"/sample_*.gif "$build"/pal_*.bin "$build"/cmaps_*.bmp \
        "$kept"/../../tests/data/gif-suite/gifs/*.gif "$work/" 2>/dev/null
    # Fork mode goes on past a finding, so one run can report several.
    "$build/fuzz/fuzz_$name" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -timeout=25 -max_len=65536 \
        -max_total_time="${FUZZ_SECONDS:-60}" -rss_limit_mb=4096 -malloc_limit_mb=4096 \
        -artifact_prefix="$work-found/" "$work" "$kept/$name" >"$work.log" 2>&1 || grep -q 'fuzzed for' "$work.log" || failed=1
    tail -n 3 "$work.log"
    for file in "$work-found"/{crash,leak,timeout,oom}-*; do # slow units are no failure
        [ -f "$file" ] && cp "$file" "$kept/$name/" && failed=1 && echo "   kept $file"
    done
done
exit $failed
