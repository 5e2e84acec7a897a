#!/usr/bin/env bash
# synopsis_check.sh PAGE PROGRAM: the SYNOPSIS of the manual page PAGE (troff source,
# plain or gzip-compressed) holds every usage line of "PROGRAM --help" whole: each
# command, with each of its bracketed arguments in order.
set -euo pipefail
page=$1
program=$2
synopsis=$(zcat -f "$page" | sed -n '/^\.SH SYNOPSIS/,/^\.SH /{/^\.SH/d;p}' |
    sed -E 's/\\f[A-Z]//g; s/\\[,\/]//g; s/\\-/-/g' | tr '\n' ' ' | sed 's/\.br/\n/g' |
    sed -E 's/^ *\.B +//; s/ +/ /g; s/ +$//')
# The usage lines of --help, one command a line: the indented continuation lines that
# start with "[" joined to theirs.
usage=$("$program" --help | awk '
    /^(Usage:|  or:)/ { if (line != "") print line; line = $0; next }
    line != "" && /^ +\[/ { line = line " " $0; next }
    { exit }
    END { if (line != "") print line }' |
    sed -E 's/^(Usage:|  or:) +//; s/ +/ /g; s/ +$//')
[[ -n $usage ]] || { echo "no usage lines in --help" >&2; exit 1; }
status=0
while read -r want; do
    found=0
    while read -r got; do
        [[ $got == "$want" ]] && found=1
    done <<<"$synopsis"
    if [[ $found == 0 ]]; then
        echo "not in the SYNOPSIS: $want" >&2
        status=1
    fi
done <<<"$usage"
if [[ $status != 0 ]]; then
    echo "SYNOPSIS:" >&2
    echo "$synopsis" >&2
fi
exit $status
