#!/usr/bin/env bash
# Runs every fuzz target for a bounded time and keeps what it finds.
#   bash fuzz/run_all.sh <build dir>     (FUZZ_SECONDS per target, default 60)
# Corpora live in <build dir>/fuzz-corpus/<target>; every crash, leak,
# timeout or out-of-memory input is copied to fuzz/regressions/<target>/,
# which the regression test replays. Exits 1 when any target found one.
set -uo pipefail

build=${1:?usage: run_all.sh <build dir>}
build=$(cd "$build" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
seconds=${FUZZ_SECONDS:-60}
suite=${GIF_SUITE:-$here/../tests/data/gif-suite/gifs}
work=$build/fuzz-corpus
failed=0

# Seeds that are not files of the project: a few state files and palettes.
make_state_seeds() {
    local dir=$1
    head -c 144 /dev/zero >"$dir/zeros_144"
    head -c 30 /dev/zero >"$dir/zeros_30"
    printf '\001\000\000\000\163\000\000\000\377\377\377\377' >"$dir/mixed_12"
    head -c 144 /dev/urandom >"$dir/random_144"
}

make_palette_seeds() {
    local dir=$1
    head -c 768 /dev/urandom >"$dir/random_768"
    cp "$build"/pal_*.bin "$build"/cmaps_*.bmp "$dir/" 2>/dev/null || true
}

make_gif_seeds() {
    local dir=$1
    cp "$build"/sample_*.gif "$dir/" 2>/dev/null || true
    cp "$suite"/*.gif "$dir/" 2>/dev/null || true
}

# Image data for the LZW target: code size 2, a 2 x 2 image, no
# transparency, then clear 1 2 3 0 end in one sub-block and a trailer; and
# the same with a transparent index and the rows interlaced.
make_lzw_seeds() {
    local dir=$1
    printf '\002\002\002\000\000\003\214\006\005\000\073' >"$dir/two_by_two"
    printf '\002\002\002\003\002\003\214\006\005\000\073' >"$dir/two_by_two_trans"
    head -c 600 /dev/urandom >"$dir/random_600"
}

for name in gif palshift palette lzw; do
    target=fuzz_$name
    binary=$build/fuzz/$target
    if [ ! -x "$binary" ]; then
        echo "missing $binary (configure with -DHUESMITH_FUZZ=ON)"
        failed=1
        continue
    fi
    corpus=$work/$target
    seeds=$work/$target-seeds
    artifacts=$work/$target-artifacts
    kept=$here/regressions/$name
    rm -rf "$seeds" "$artifacts"
    mkdir -p "$corpus" "$seeds" "$artifacts" "$kept"
    case $name in
        gif) make_gif_seeds "$seeds" ;;
        palshift) make_state_seeds "$seeds" ;;
        palette) make_palette_seeds "$seeds" ;;
        lzw) make_lzw_seeds "$seeds" ;;
    esac

    echo "== $target: ${seconds}s"
    # Fork mode keeps fuzzing past a finding, so one run can report several.
    "$binary" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
        -max_total_time="$seconds" -rss_limit_mb=4096 -malloc_limit_mb=4096 \
        -timeout=25 -max_len=65536 -artifact_prefix="$artifacts/" \
        "$corpus" "$seeds" "$kept" >"$work/$target.log" 2>&1
    status=$?
    tail -n 3 "$work/$target.log"

    found=0
    for file in "$artifacts"/*; do
        [ -f "$file" ] || continue
        case $(basename "$file") in
            crash-* | leak-* | timeout-* | oom-*)
                found=1
                cp "$file" "$kept/"
                echo "   found $(basename "$file") -> fuzz/regressions/$name/" ;;
            *)  # slow units: worth a look, not a failure
                echo "   slow input kept in $file" ;;
        esac
    done
    if [ $found = 1 ] || { [ $status != 0 ] && ! grep -q 'INFO: fuzzed for' "$work/$target.log"; }; then
        echo "   $target FAILED (log: $work/$target.log)"
        failed=1
    fi
done
exit $failed
