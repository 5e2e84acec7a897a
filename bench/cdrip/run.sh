#!/usr/bin/env bash
# Times libcdrip against cd-paranoia on the same generated disc image, with paranoia
# on and off, and measures the peak memory of ripping a 1-minute and a 20-minute track.
# usage: bench/cdrip/run.sh BUILD_DIR
# Targets: time ratio (ours / cd-paranoia) at most 1.10 in both modes; peak memory
# that does not grow with the track's length.
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bin=$build/bin
for tool in "$bin/mkdisc" "$bin/cdrip_bench" cd-paranoia /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
work=$(mktemp -d /tmp/cdrip-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export CDRIP_AUDIO=none
runs=${BENCH_RUNS:-3}

# Best wall-clock time of $runs runs of a command, in seconds.
best_time() {
    local best=""
    for _ in $(seq "$runs"); do
        local t
        /usr/bin/time -f "%e" -o "$work/time" "$@" >/dev/null 2>&1 || true
        t=$(tail -n1 "$work/time")
        if [[ -z $best ]] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$t
        fi
    done
    echo "$best"
}

peak_kb() {
    /usr/bin/time -f "%M" -o "$work/mem" "$@" >/dev/null 2>&1 || true
    tail -n1 "$work/mem"
}

# 10 minutes: ten tracks of one minute (4500 sectors each).
"$bin/mkdisc" --seed 11 --tracks 10 --sectors 4500 "$work/ten.cue"
# The same bytes from both, first, so that the timings compare like with like.
"$bin/cdrip_bench" "$work/ten.cue" --all --out "$work/ours.raw" 2>/dev/null
cd-paranoia -q -r -d "$work/ten.cue" "1-" "$work/theirs.raw" 2>/dev/null
if cmp -s "$work/ours.raw" "$work/theirs.raw"; then
    echo "output: identical to cd-paranoia's ($(stat -c %s "$work/ours.raw") bytes)"
else
    echo "output: DIFFERS from cd-paranoia's"
fi
rm -f "$work/ours.raw" "$work/theirs.raw"

printf '%-22s %10s %12s %8s\n' mode "ours (s)" "cd-paranoia" ratio
status=0
for mode in paranoia plain; do
    ours_args=(--all) theirs_args=()
    if [[ $mode == plain ]]; then
        ours_args+=(--no-paranoia)
        theirs_args+=(-Z)
    fi
    ours=$(best_time "$bin/cdrip_bench" "$work/ten.cue" "${ours_args[@]}" --out /dev/null)
    theirs=$(best_time cd-paranoia -q -r "${theirs_args[@]}" -d "$work/ten.cue" "1-" /dev/null)
    ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
    printf '%-22s %10s %12s %8s\n' "10 min, $mode" "$ours" "$theirs" "$ratio"
    awk -v r="$ratio" 'BEGIN { exit !(r > 1.10) }' && status=1
done

"$bin/mkdisc" --seed 12 --tracks 1 --sectors 4500 "$work/one.cue"
"$bin/mkdisc" --seed 13 --tracks 1 --sectors 90000 "$work/twenty.cue"
one=$(peak_kb "$bin/cdrip_bench" "$work/one.cue" --track 1 --out /dev/null)
twenty=$(peak_kb "$bin/cdrip_bench" "$work/twenty.cue" --track 1 --out /dev/null)
one22=$(peak_kb "$bin/cdrip_bench" "$work/one.cue" --track 1 --format 3 --out /dev/null)
twenty22=$(peak_kb "$bin/cdrip_bench" "$work/twenty.cue" --track 1 --format 3 --out /dev/null)
echo "peak memory, STEREO44100 with paranoia: 1-minute track ${one} KB, 20-minute track ${twenty} KB"
echo "peak memory, MONO22050 with paranoia:   1-minute track ${one22} KB, 20-minute track ${twenty22} KB"
# Growth beyond 1 MB between a 1- and a 20-minute track would mean per-track buffering.
if ((twenty - one > 1024 || twenty22 - one22 > 1024)); then
    echo "memory grows with track length"
    status=1
fi
exit $status
