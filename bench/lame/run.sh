#!/bin/bash
# Times liblame_enc (through its be... calls, driven by lame_bench) against the lame
# command on the same 5 minutes of generated 44100 Hz stereo PCM, with the same
# settings: 128 kbit/s CBR, and the program's default MP3 settings (VBR quality 5,
# 128 to 320 kbit/s, VBR header). Both use stereo mode, CRC, no original bit and LAME's default
# algorithm quality (3); lame runs without ReplayGain analysis, which our library does not
# do either. Prints the ratios of CPU time (user + system) and of wall time, ours over
# lame's (target <= 1.05), and how many output bytes differ (0: the same encoding work).
#
# usage: bench/lame/run.sh <builddir> [seconds of PCM, default 300] [runs, default 3]
set -euo pipefail
build=${1:?usage: run.sh <builddir> [seconds] [runs]}
seconds=${2:-300}
runs=${3:-3}
bench=$build/bin/lame_bench
command -v lame >/dev/null || { echo "the lame command is missing (Debian package lame)"; exit 1; }
[ -x "$bench" ] || { echo "$bench is missing: build the target lame_bench"; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$bench" gen "$tmp/in.wav" "$seconds"

# "wall cpu" seconds of one command; cpu is user plus system time, which other work on a
# busy machine disturbs far less than the wall clock.
elapsed() {
    local TIMEFORMAT='%R %U %S' times
    times=$({ time "$@" >/dev/null 2>&1; } 2>&1)
    awk '{ printf "%.3f %.3f", $1, $2 + $3 }' <<<"$times"
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

compare() {
    local name=$1 mode=$2
    shift 2
    local oursWall="" oursCpu="" lameWall="" lameCpu="" t
    # Alternate the two so that a busy moment on the machine hits both alike; keep the best.
    for ((i = 0; i < runs; i++)); do
        read -r wall cpu <<<"$(elapsed "$bench" encode "$tmp/in.wav" "$tmp/ours.mp3" "$mode")"
        oursWall=$(min "$wall" "$oursWall")
        oursCpu=$(min "$cpu" "$oursCpu")
        read -r wall cpu <<<"$(elapsed lame --quiet "$@" "$tmp/in.wav" "$tmp/lame.mp3")"
        lameWall=$(min "$wall" "$lameWall")
        lameCpu=$(min "$cpu" "$lameCpu")
    done
    local differing
    differing=$(cmp -l "$tmp/ours.mp3" "$tmp/lame.mp3" 2>/dev/null | wc -l || true)
    awk -v n="$name" -v ow="$oursWall" -v oc="$oursCpu" -v lw="$lameWall" -v lc="$lameCpu" \
        -v d="$differing" -v so="$(stat -c %s "$tmp/ours.mp3")" \
        -v sl="$(stat -c %s "$tmp/lame.mp3")" 'BEGIN {
        printf "%s\n", n
        printf "  cpu   liblame_enc %7.3f s  lame %7.3f s  ratio %.3f (target <= 1.05)\n", oc, lc, oc / lc
        printf "  wall  liblame_enc %7.3f s  lame %7.3f s  ratio %.3f\n", ow, lw, ow / lw
        printf "  output %d and %d bytes, %d bytes differ\n", so, sl, d
    }'
}

echo "liblame_enc against $(lame --version | head -1), ${seconds} s of PCM, best of $runs runs"
compare "128 kbit/s CBR" cbr -m s -p -o -b 128 --cbr -t --noreplaygain
compare "default VBR (-V 5, 128-320)" vbr -m s -p -o -V 5 -b 128 -B 320 --noreplaygain
