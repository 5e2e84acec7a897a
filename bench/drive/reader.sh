#!/usr/bin/env bash
# The secure reader's cost on the emulated drive: velmora-rip (WAV, no AccurateRip)
# and cd-paranoia on the same clean 13,500-sector disc (three tracks of 4,500), on a
# drive of 40x with an 8 MB read cache (3,567 sectors). Prints, for each, the sectors
# the drive was asked for, the reads per sector of the disc, the sectors it answered
# from its cache, and the virtual seconds of the drive's clock (seeks and transfers,
# counted, not slept). Then the same for a steady disc (three tracks of 4,500 sectors:
# a 1 kHz tone, then digital silence from the second track on), where no proven sectors
# pin a read and the secure reader votes on every sector.
# usage: bench/drive/reader.sh BUILD_DIR [CACHE_SECTORS]
set -euo pipefail
build=$(cd "${1:?usage: reader.sh BUILD_DIR [CACHE_SECTORS]}" && pwd)
cache=${2:-3567}
bin=$build/bin
for tool in "$bin/mkdisc" "$bin/velmora-rip" "$bin/emudrive-run" cd-paranoia python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
work=$(mktemp -d /tmp/reader-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export CDRIP_AUDIO=none VELMORA_SETTINGS=$work/velmora-ripper.ini XDG_CONFIG_HOME=$work/config
"$bin/mkdisc" --tracks 3 --sectors 4500 "$work/disc.cue" >/dev/null
sectors=13500

report() { # NAME STATS_FILE (the disc: $sectors sectors)
    python3 - "$1" "$2" "$sectors" <<'PY'
import json, sys
name, path, sectors = sys.argv[1], sys.argv[2], int(sys.argv[3])
rows = [json.loads(l) for l in open(path) if l.strip()]
read = sum(r["sectors_read"] for r in rows)
cached = sum(r["sectors_from_cache"] for r in rows)
clock = sum(r["clock_seconds"] for r in rows)
print(f"{name:14} sectors read {read:8d}  reads/sector {read / sectors:6.2f}  "
      f"from cache {cached:7d}  virtual s {clock:8.1f}")
PY
}

mkdir -p "$work/out"
"$bin/emudrive-run" "cue=$work/disc.cue" "cache=$cache" --stats "$work/ours.json" -- \
    "$bin/velmora-rip" rip --format wav --no-accuraterip --offset 0 --jobs 1 --out "$work/out" \
    >/dev/null 2>&1 || echo "velmora-rip exited with $?"
report velmora-rip "$work/ours.json"
"$bin/emudrive-run" "cue=$work/disc.cue" "cache=$cache" --stats "$work/peer.json" -- \
    cd-paranoia -q -d /dev/sr0 -r 1-3 "$work/peer.wav" >/dev/null 2>&1 ||
    echo "cd-paranoia exited with $?"
report cd-paranoia "$work/peer.json"

"$bin/mkdisc" --tone 1000 --tracks 3 --sectors 4500 "$work/steady.cue" >/dev/null
python3 - "$work/steady.bin" <<'EOF2'
import os, sys
with open(sys.argv[1], "r+b") as f:
    f.seek(4500 * 2352)
    f.write(bytes(os.path.getsize(sys.argv[1]) - 4500 * 2352))
EOF2
rm -rf "$work/out" && mkdir -p "$work/out"
"$bin/emudrive-run" "cue=$work/steady.cue" "cache=$cache" --stats "$work/steady.json" -- \
    "$bin/velmora-rip" rip --format wav --no-accuraterip --offset 0 --jobs 1 --out "$work/out" \
    >/dev/null 2>&1 || echo "velmora-rip exited with $?"
report "steady (ours)" "$work/steady.json"
"$bin/emudrive-run" "cue=$work/steady.cue" "cache=$cache" --stats "$work/steady-peer.json" -- \
    cd-paranoia -q -d /dev/sr0 -r 1-3 "$work/peer.wav" >/dev/null 2>&1 ||
    echo "cd-paranoia exited with $?"
report "steady (peer)" "$work/steady-peer.json"
