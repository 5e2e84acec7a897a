#!/usr/bin/env bash
# font_check.sh MKSKIN ROW: runs mkskin with a fontconfig set-up that holds only some
# fonts and checks that it draws the artwork when DejaVu Sans and its bold are there, and
# fails, saying which font is missing and writing nothing, in every other case.
set -euo pipefail
mkskin=$1
row=$2
dejavu=/usr/share/fonts/truetype/dejavu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/fonts" "$work/cache" "$work/out"
case $row in
sans_and_bold)
    fonts=(DejaVuSans.ttf DejaVuSans-Bold.ttf)
    want_rc=0 want_text="" ;;
mono_only) # the fall-back a machine without fonts-dejavu-core gave
    fonts=(DejaVuSansMono.ttf DejaVuSansMono-Bold.ttf)
    want_rc=1 want_text="mkskin: the font DejaVu Sans is not installed (got DejaVu Sans Mono)" ;;
no_bold)
    fonts=(DejaVuSans.ttf)
    want_rc=1 want_text="mkskin: the font DejaVu Sans Bold is not installed" ;;
no_fonts)
    fonts=()
    want_rc=1 want_text="mkskin: the font DejaVu Sans is not installed (got no font)" ;;
*)
    echo "unknown row $row" >&2
    exit 2 ;;
esac
for f in "${fonts[@]}"; do
    ln -s "$dejavu/$f" "$work/fonts/$f"
done
cat >"$work/fonts.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <dir>$work/fonts</dir>
  <cachedir>$work/cache</cachedir>
</fontconfig>
CONF
rc=0
FONTCONFIG_FILE=$work/fonts.conf QT_QPA_PLATFORM=offscreen "$mkskin" "$work/out" \
    2>"$work/err" || rc=$?
fail() {
    echo "row $row: $*" >&2
    cat "$work/err" >&2
    exit 1
}
[[ $rc == "$want_rc" ]] || fail "exit status $rc, expected $want_rc"
if [[ $want_rc == 0 ]]; then
    [[ -s $work/out/background.jpg && -s $work/out/imgToMP3.jpg ]] || fail "no artwork"
else
    grep -qxF -- "$want_text" "$work/err" ||
        fail "no line '$want_text'"
    [[ -z $(ls -A "$work/out") ]] || fail "artwork written: $(ls "$work/out")"
fi
echo "row $row: ok"
