#!/usr/bin/env bash
# Times velmora-rip against cd-paranoia (with lame for MP3) on the same generated
# 10-minute track, and measures velmora-rip's peak memory on a 1-minute and a
# 20-minute track.
# usage: bench/rip/run.sh BUILD_DIR
# Targets: time ratio (velmora-rip / peer) at most 1.05 for MP3 and 1.10 for WAV; peak
# memory of the two tracks within 10% of each other.
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bin=$build/bin
for tool in "$bin/mkdisc" "$bin/velmora-rip" cd-paranoia lame /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
work=$(mktemp -d /tmp/rip-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
runs=${BENCH_RUNS:-5}

# velmora-rip with a settings file of its own (the defaults: VBR quality 5 with its
# header, 128 to 320 kbit/s, stereo, normal quality, CRC) and no sound device.
export CDRIP_AUDIO=none
export VELMORA_SETTINGS=$work/velmora-ripper.ini
export XDG_CONFIG_HOME=$work/config
# The same settings for the lame command line. ReplayGain analysis, which the
# command line does by default and the program does not, is switched off.
lame_args=(--quiet -r -s 44.1 --bitwidth 16 --signed --little-endian
    -m s -V 5 -b 128 -B 320 -q 3 -p --noreplaygain)

# One run of a command: "WALL CPU" in seconds (CPU = user + system, all processes).
one_time() {
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>&1 || true
    tail -n1 "$work/time" | awk '{ printf "%s %.2f\n", $1, $2 + $3 }'
}

# The smaller of two figures.
least() {
    if [[ -z $1 ]] || awk -v a="$2" -v b="$1" 'BEGIN { exit !(a < b) }'; then echo "$2"; else echo "$1"; fi
}

peak_kb() {
    /usr/bin/time -f "%M" -o "$work/mem" "$@" >/dev/null 2>&1 || true
    tail -n1 "$work/mem"
}

ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'
}

verdict() { # ratio target
    awk -v r="$1" -v t="$2" 'BEGIN { exit !(r <= t) }' && echo ok || echo "OVER TARGET"
}

# 10 minutes: one track of 45000 sectors (75 a second).
"$bin/mkdisc" --seed 21 --tracks 1 --sectors 45000 "$work/ten.cue" >/dev/null

# The same PCM from both, first, so that the timings compare like with like.
"$bin/velmora-rip" rip --no-lookup --no-accuraterip --format wav --out "$work/out" \
    "$work/ten.cue" >/dev/null
cd-paranoia -q -w -d "$work/ten.cue" 1 "$work/theirs.wav" 2>/dev/null
if cmp -s <(tail -c +45 "$work/out/Track01.wav") <(tail -c +45 "$work/theirs.wav"); then
    echo "WAV data: identical to cd-paranoia's ($(stat -c %s "$work/out/Track01.wav") bytes)"
else
    echo "WAV data: DIFFERS from cd-paranoia's"
fi
rm -f "$work/theirs.wav"

# No look-ups: the peers ask no web service either.
rip_mp3() {
    "$bin/velmora-rip" rip --no-lookup --no-accuraterip --overwrite --format mp3 \
        --out "$work/out" "$work/ten.cue"
}
peer_mp3() {
    cd-paranoia -q -d "$work/ten.cue" -r 1 - 2>/dev/null | lame "${lame_args[@]}" - "$work/peer.mp3"
}
rip_wav() {
    "$bin/velmora-rip" rip --no-lookup --no-accuraterip --overwrite --format wav \
        --out "$work/out" "$work/ten.cue"
}
peer_wav() { cd-paranoia -q -w -d "$work/ten.cue" 1 "$work/peer.wav"; }
export -f rip_mp3 peer_mp3 rip_wav peer_wav
export bin work
export lame_args_text="${lame_args[*]}"

printf '%-22s %12s %10s %7s %8s  %s\n' job "velmora-rip" peer ratio target ""
status=0
for job in mp3 wav; do
    # Best of $runs runs each, taken in turns so that both meet the same machine load.
    # On a busy machine the CPU time is the steadier figure; the peer's pipeline may
    # also spread its wall time over two cores.
    ours_wall="" ours_cpu="" peer_wall="" peer_cpu=""
    for _ in $(seq "$runs"); do
        read -r w c < <(one_time bash -c "rip_$job")
        ours_wall=$(least "$ours_wall" "$w") ours_cpu=$(least "$ours_cpu" "$c")
        read -r w c < <(one_time bash -c "lame_args=(\$lame_args_text); peer_$job")
        peer_wall=$(least "$peer_wall" "$w") peer_cpu=$(least "$peer_cpu" "$c")
    done
    target=1.10
    [[ $job == mp3 ]] && target=1.05
    for kind in wall cpu; do
        if [[ $kind == wall ]]; then ours=$ours_wall theirs=$peer_wall; else ours=$ours_cpu theirs=$peer_cpu; fi
        r=$(ratio "$ours" "$theirs")
        v=$(verdict "$r" "$target")
        [[ $v == ok ]] || status=1
        printf '%-22s %12s %10s %7s %8s  %s\n' "10 min to $job, $kind" "$ours" "$theirs" "$r" \
            "$target" "$v"
    done
done
ls -l "$work/out/Track01.mp3" "$work/peer.mp3" | awk '{ print "size: " $5 "  " $NF }'

# Peak memory: a 1-minute and a 20-minute track to MP3, one track after the other
# (--jobs 1). The parallel rip holds read PCM up to its cap by design; bench/parallel
# measures that.
"$bin/mkdisc" --seed 22 --tracks 1 --sectors 4500 "$work/one.cue" >/dev/null
"$bin/mkdisc" --seed 23 --tracks 1 --sectors 90000 "$work/twenty.cue" >/dev/null
quiet=(--no-lookup --no-accuraterip --jobs 1)
one=$(peak_kb "$bin/velmora-rip" rip "${quiet[@]}" --out "$work/mem1" "$work/one.cue")
twenty=$(peak_kb "$bin/velmora-rip" rip "${quiet[@]}" --out "$work/mem20" "$work/twenty.cue")
growth=$(awk -v a="$twenty" -v b="$one" 'BEGIN { printf "%.1f", (b > 0 ? (a - b) * 100 / b : 0) }')
v=$(awk -v g="$growth" 'BEGIN { exit !(g <= 10 && g >= -10) }' && echo ok || echo "OVER TARGET")
[[ $v == ok ]] || status=1
echo "peak memory, MP3: 1 min ${one} kB, 20 min ${twenty} kB (${growth}% apart, target 10%) $v"
exit $status
