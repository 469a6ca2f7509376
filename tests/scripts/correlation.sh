#!/usr/bin/env bash
# Whole program, offscreen, simulated inputs: the correlation window's mean
# after 3 s for identical, opposite and independent channels, and a stored
# "Channel" 3 that moves the tap to input 4.
# Usage: correlation.sh BUILD_DIR
set -u
build=${1:?build folder}
exe=$build/tarvolin
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config
chmod 700 "$tmp"
fail() { echo "FAIL: $*"; exit 1; }

# run NAME ARGS...: 3 s with stats; prints the correlation object.
run() {
  local name=$1; shift
  timeout 60 "$exe" --audio simulated --settings "$tmp/$name.reg" --set "is Sound=1" --set "rg Mode=2" \
    --run-for 3 --stats "$@" >"$tmp/$name.json" 2>"$tmp/$name.err" \
    || fail "$name exited with $? ($(tail -3 "$tmp/$name.err"))"
  sed -n 's/.*"correlation":{\([^}]*\)}.*/\1/p' "$tmp/$name.json" | tail -1
}
field() { sed -n "s/.*\"$2\":\([-0-9.]*\).*/\1/p" <<<"$1"; }
# within VALUE LOW HIGH
within() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

c=$(run same --sim-input "1=sine:997:-6/sine:997:-6")
echo "same: $c"
within "$(field "$c" mean)" 0.995 1 || fail "identical channels: $c"
[ "$(field "$c" pair)" = 1 ] || fail "not on pair 1: $c"
[ "$(field "$c" positive_percent)" = 100 ] || fail "identical channels not 100 % positive: $c"
[ "$(field "$c" steps)" -gt 1000 ] || fail "too few steps: $c"

c=$(run opposite --sim-input "1=sine:997:-6/-sine:997:-6")
echo "opposite: $c"
within "$(field "$c" mean)" -1 -0.995 || fail "left = -right: $c"
within "$(field "$c" min)" -1 -0.995 || fail "left = -right minimum: $c"

c=$(run phase --sim-input "1=sine:997:-6/sine:997:-6:180")
echo "phase 180: $c"
within "$(field "$c" mean)" -1 -0.99 || fail "180 degrees: $c"

c=$(run noise --sim-input "1=noise:-6/noise:-6")
echo "noise: $c"
within "$(field "$c" mean)" -0.2 0.2 || fail "independent noise: $c"

# The stored pair is tapped one second after start (recorder 4 records simulated input 4).
c=$(run pair --set "Channel=3" --set "multi_4=3" --sim-input "1=sine:997:-6/sine:997:-6" --sim-input "4=sine:440:-12/-sine:440:-12")
echo "pair 4: $c"
[ "$(field "$c" pair)" = 4 ] || fail "stored Channel 3 not tapped: $c"
within "$(field "$c" mean)" -1 -0.99 || fail "pair 4 is left = -right: $c"
grep -qi '"Channel"=dword:00000003' "$tmp/pair.reg" || fail "Channel not saved: $(grep -i channel "$tmp/pair.reg")"
grep -qi '"speed"=dword:00000001' "$tmp/pair.reg" || fail "speed not saved"
echo OK
