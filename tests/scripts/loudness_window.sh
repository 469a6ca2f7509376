#!/usr/bin/env bash
# The loudness window's place and choices through whole runs of the program
# (offscreen, simulated inputs): open at close is stored as open and reopened
# at the next start, the chosen source and target are kept, and damaged
# values read as the defaults (pair 1, -23 LUFS).
# Usage: loudness_window.sh BUILD_DIR
set -u
build=${1:?build folder}
exe=$build/tarvolin
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config
chmod 700 "$tmp"
fail() { echo "FAIL: $*"; exit 1; }

# run FILE ARGS...: 2 s of the program on FILE.
run() {
  local reg=$1; shift
  timeout 60 "$exe" --audio simulated --settings "$reg" --set "is Sound=1" --set "rg Mode=2" \
    --run-for 2 "$@" >"$tmp/out.txt" 2>"$tmp/err.txt" || fail "exited with $? ($(tail -3 "$tmp/err.txt"))"
}
# has FILE NAME DWORD
has() { grep -qi "^\"$2\"=dword:$3" "$1" || fail "$2 not $3: $(grep -i "\"$2\"" "$1")"; }

# Nothing stored: closed, pair 1, -23 LUFS.
run "$tmp/a.reg"
has "$tmp/a.reg" "Loudness Visible" 00000000
has "$tmp/a.reg" "Loudness Source" 00000001
has "$tmp/a.reg" "Loudness Target" ffffffe9

# Open at start, the sum of the active pairs at -16 LUFS: still open at close.
run "$tmp/b.reg" --set "Loudness Visible=1" --set "Loudness Source=0" --set "Loudness Target=-16"
has "$tmp/b.reg" "Loudness Visible" 00000001
has "$tmp/b.reg" "Loudness Source" 00000000
has "$tmp/b.reg" "Loudness Target" fffffff0
# ... and kept over the next run.
run "$tmp/b.reg"
has "$tmp/b.reg" "Loudness Visible" 00000001
has "$tmp/b.reg" "Loudness Target" fffffff0

# A text where a number belongs, a pair beyond 12, a target not offered.
sed -e 's/^"Loudness Source"=.*/"Loudness Source"="sum"/' -e 's/^"Loudness Target"=.*/"Loudness Target"=dword:ffffffec/' \
  "$tmp/b.reg" >"$tmp/c.reg"
run "$tmp/c.reg"
has "$tmp/c.reg" "Loudness Source" 00000001
has "$tmp/c.reg" "Loudness Target" ffffffe9
sed -i 's/^"Loudness Source"=.*/"Loudness Source"=dword:00000063/' "$tmp/c.reg"
run "$tmp/c.reg"
has "$tmp/c.reg" "Loudness Source" 00000001
echo OK
