#!/usr/bin/env bash
# Times a whole disc to MP3, FLAC and Opus: velmora-rip with its default number of
# encoders and with --jobs 1 against the sequential chain "cd-paranoia -r N - | ENCODER"
# for each track in turn (lame; flac -8; opusenc at 160 kbit/s VBR), on one generated
# disc of 6 tracks of 5 minutes, in the same run. Also prints the speed as a multiple of
# real time and the peak memory of the parallel rip.
# usage: bench/parallel/run.sh BUILD_DIR   (BENCH_FORMATS="mp3 flac opus" picks formats,
# BENCH_RUNS=N the number of runs of each, 3 by default)
# velmora-rip runs with --no-accuraterip: every track is read securely, as a disc unknown
# to the database is (more reads than cd-paranoia's). The machine may be shared: the
# three runs of each round follow each other, the rounds repeat, and the medians are
# compared; the load average before each round is printed with it.
# Targets: wall time at most 0.60 of the chain's with the default jobs (2 cores: the
# ideal is 0.5) and at most 1.05 with --jobs 1 (MP3; FLAC and Opus are listed without a
# target: their --jobs 1 still reads and encodes at once); the parallel rip's peak memory
# above the program's own (the peak of a WAV rip of the same disc, which holds no PCM
# for encoders) under the memory cap (256 MB: 248 MB of PCM, the rest for the encoders).
# For FLAC and Opus a fourth run has ReplayGain off (the peers measure no loudness), to
# show the encoders' own share.
# "cpu ratio" is our CPU time over the chain's: with two free cores the wall ratio
# approaches half of it, which is what the work itself allows.
# The window's job is timed in each round too: the real main window on the offscreen
# platform (build/bin/window_rip) ripping the same disc with the same settings, every
# track; its files must equal velmora-rip's byte for byte. Its progress dialog starts the
# job at its timer's first tick, a second after it opens: the window's time is given
# whole and without that second, which must be at most 1.05 of velmora-rip's with the
# default jobs.
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bin=$build/bin
for tool in "$bin/mkdisc" "$bin/velmora-rip" "$bin/window_rip" cd-paranoia lame flac opusenc /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
work=$(mktemp -d /tmp/parallel-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
runs=${BENCH_RUNS:-3}
tracks=6
sectors=${BENCH_SECTORS:-22500} # 5 minutes, 75 sectors a second
audio_seconds=$((tracks * sectors / 75))
cap_kb=$((256 * 1024))

# velmora-rip with a settings file of its own (the defaults: VBR quality 5 with its
# header, 128 to 320 kbit/s, stereo, normal quality, CRC), no sound device, no look-up.
export CDRIP_AUDIO=none
export VELMORA_SETTINGS=$work/velmora-ripper.ini
export XDG_CONFIG_HOME=$work/config
# The same settings for the lame command line; its ReplayGain analysis is switched off.
# (velmora-rip measures ReplayGain on every encoded format; it is left on, so the peers
# are timed with less work to do.)
lame_args=(--quiet -r -s 44.1 --bitwidth 16 --signed --little-endian
    -m s -V 5 -b 128 -B 320 -q 3 -p --noreplaygain)

"$bin/mkdisc" --seed 41 --tracks "$tracks" --sectors "$sectors" "$work/disc.cue" >/dev/null

rip() { # JOBS [SETTINGS_FILE]
    VELMORA_SETTINGS=${2:-$VELMORA_SETTINGS} "$bin/velmora-rip" rip --no-lookup --no-accuraterip --overwrite --jobs "$1" \
        --format "$format" --tracks all --out "$work/out$1${2:+-other}" "$work/disc.cue"
}
# The window's job into a fresh folder (no replace question), as a click would start it,
# with a settings file of its own: no title look-up and no AccurateRip, as velmora-rip's
# --no-lookup --no-accuraterip; nothing reaches a web service either way.
window() {
    rm -rf "$work/outwin"
    VELMORA_SETTINGS=$work/window.ini VELMORA_MUSICBRAINZ_URL=http://127.0.0.1:1 \
        VELMORA_ACCURATERIP_URL=http://127.0.0.1:1 VELMORA_COVERART_URL=http://127.0.0.1:1 \
        "$bin/window_rip" "$work/disc.cue" "$work/outwin" "$format" >"$work/window.out"
}
# Raw PCM from cd-paranoia: 16-bit little-endian stereo at 44100 Hz.
encode() { # TRACK
    case $format in
    mp3) lame "${lame_args[@]}" - "$work/chain$1.mp3" ;;
    flac) flac -8 --silent --force --force-raw-format --endian=little --sign=signed \
        --channels=2 --bps=16 --sample-rate=44100 -o "$work/chain$1.flac" - ;;
    opus) opusenc --quiet --raw --raw-rate 44100 --raw-chan 2 --raw-bits 16 \
        --bitrate 160 --vbr - "$work/chain$1.opus" ;;
    esac
}
chain() {
    local n
    for ((n = 1; n <= tracks; n++)); do
        cd-paranoia -q -d "$work/disc.cue" -r "$n" - 2>/dev/null | encode "$n"
    done
}

# One run: "WALL CPU PEAK_KB" (CPU = user + system of all processes; the peak is of the
# largest single process).
one_run() {
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
    tail -n1 "$work/time" | awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }'
}
median() { # VALUES...
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
        if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN { exit !(r <= t) }' && echo ok || echo "OVER TARGET"; }

bench_format() {
    # $runs rounds, each the three runs one after the other, so that they meet the same
    # load; the medians are compared.
    local pw=() pc=() ow=() oc=() cw=() cc=() nw=() nc=() ww=() wc=() wt=() loads=() w c m
    par_peak=0 one_peak=0 win_peak=0
    for _ in $(seq "$runs"); do
        loads+=("$(cut -d' ' -f1 /proc/loadavg)")
        read -r w c m < <(one_run bash -c "rip $cores")
        pw+=("$w") pc+=("$c")
        ((m > par_peak)) && par_peak=$m
        read -r w c m < <(one_run bash -c "rip 1")
        ow+=("$w") oc+=("$c")
        ((m > one_peak)) && one_peak=$m
        read -r w c m < <(one_run bash -c window)
        ww+=("$w") wc+=("$c")
        ((m > win_peak)) && win_peak=$m
        # "waited 1.00 s, job 16.20 s": the wall time less the wait for the first tick.
        wt+=("$(awk -v w="$w" '/^waited/ { printf "%.2f", w - $2 }' "$work/window.out")")
        read -r w c m < <(one_run bash -c "lame_args=(\$lame_args_text); chain")
        cw+=("$w") cc+=("$c")
        if [[ $format != mp3 ]]; then
            read -r w c m < <(one_run bash -c "rip $cores $work/no-gain.ini")
            nw+=("$w") nc+=("$c")
        fi
    done
    par_wall=$(median "${pw[@]}") par_cpu=$(median "${pc[@]}")
    one_wall=$(median "${ow[@]}") one_cpu=$(median "${oc[@]}")
    chain_wall=$(median "${cw[@]}") chain_cpu=$(median "${cc[@]}")
    win_wall=$(median "${ww[@]}") win_cpu=$(median "${wc[@]}") win_ticked=$(median "${wt[@]}")

    # The files: every track written, the two velmora-rip runs alike byte for byte.
    for ((n = 1; n <= tracks; n++)); do
        f=$(printf 'Track%02d.%s' "$n" "$format")
        if ! cmp -s "$work/out$cores/$f" "$work/out1/$f"; then
            echo "$f: --jobs $cores and --jobs 1 DIFFER"
            status=1
        fi
        if ! cmp -s "$work/out$cores/$f" "$work/outwin/$f"; then
            echo "$f: the window's and velmora-rip's DIFFER (or the window wrote none)"
            status=1
        fi
    done

    echo
    echo "disc: $tracks tracks of $((sectors / 75)) s ($audio_seconds s of audio) to $format, $cores cores, median of $runs"
    echo "runs (wall s, ours --jobs $cores / ours --jobs 1 / chain): $(for i in "${!pw[@]}"; do
        printf '%s/%s/%s@load %s  ' "${pw[$i]}" "${ow[$i]}" "${cw[$i]}" "${loads[$i]}"
    done)"
    printf '%-26s %8s %8s %9s %7s %7s %9s  %s\n' run wall cpu "x real" ratio target "cpu ratio" ""
    row() { # NAME WALL CPU TARGET
        local r v x
        r=$(ratio "$2" "$chain_wall")
        x=$(awk -v a="$audio_seconds" -v w="$2" 'BEGIN { printf "%.1f", (w > 0 ? a / w : 0) }')
        if [[ -n $4 ]]; then
            v=$(verdict "$r" "$4")
            [[ $v == ok ]] || status=1
        else
            v=""
        fi
        printf '%-26s %8s %8s %9s %7s %7s %9s  %s\n' "$1" "$2" "$3" "$x" "$r" "$4" \
            "$(ratio "$3" "$chain_cpu")" "$v"
    }
    row "velmora-rip --jobs $cores" "$par_wall" "$par_cpu" 0.60
    row "velmora-rip --jobs 1" "$one_wall" "$one_cpu" "$([[ $format == mp3 ]] && echo 1.05)"
    if [[ $format != mp3 ]]; then
        row "  the same, no ReplayGain" "$(median "${nw[@]}")" "$(median "${nc[@]}")" ""
    fi
    row "window (offscreen)" "$win_wall" "$win_cpu" ""
    row "cd-paranoia | $peer" "$chain_wall" "$chain_cpu" ""
    r=$(ratio "$win_ticked" "$par_wall")
    v=$(verdict "$r" 1.05)
    [[ $v == ok ]] || status=1
    echo "window / velmora-rip --jobs $cores: ${win_ticked} s without the dialog's first second," \
        "$r, target 1.05 $v; whole $(ratio "$win_wall" "$par_wall"), cpu" \
        "$(ratio "$win_cpu" "$par_cpu"); window runs (wall s): ${ww[*]}; peak ${win_peak} kB"
    # The cap bounds what the parallel rip adds to the program's own size: the PCM held
    # for the encoders and the encoders' state.
    extra=$((par_peak - own_peak))
    v=$( ((extra < cap_kb)) && echo ok || echo "OVER TARGET")
    [[ $v == ok ]] || status=1
    echo "peak memory: --jobs $cores ${par_peak} kB, --jobs 1 ${one_peak} kB, the program" \
        "alone (WAV) ${own_peak} kB; the parallel rip adds ${extra} kB, cap $cap_kb kB $v"
    echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
}

cores=$(nproc)
export -f rip chain encode window
export bin work tracks
export lame_args_text="${lame_args[*]}"
status=0
printf '[System]\nReplayGain=0\n' >"$work/no-gain.ini"
# The window's settings: velmora-rip's defaults (a file without the VBR keys would turn
# VBR off), no look-up, no AccurateRip.
printf '[System]\nLookup=0\nAccurateRip=0\n[MP3]\nEnableVBR=1\nWriteVBRHeader=1\nVBRQuality=5\n' \
    >"$work/window.ini"
# The program's own peak: a WAV rip is read and written by the ripper, no PCM held.
format=wav
export format
read -r _ _ own_peak < <(one_run bash -c "rip $cores")
for format in ${BENCH_FORMATS:-mp3 flac opus}; do
    case $format in mp3) peer=lame ;; flac) peer="flac -8" ;; opus) peer=opusenc ;; esac
    export format
    bench_format
done
exit $status
