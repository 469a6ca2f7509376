#!/usr/bin/env bash
# Whole program, offscreen, simulated inputs: screenshot, timed run with
# statistics and saved settings, first start without stored settings, no display.
# Usage: main_window.sh BUILD_DIR
set -u
build=${1:?build folder}
exe=$build/tarvolin
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config
chmod 700 "$tmp"
fail() { echo "FAIL: $*"; exit 1; }

# Timed run: 24 channels at 48 kHz, saved at exit like a normal close.
settings=$tmp/run.reg
timeout 60 "$exe" --audio simulated --settings "$settings" --set "is Sound=1" --set "rg Mode=4" \
  --set "Samplerate=1" --set "multi_1=0" --run-for 3 --stats >"$tmp/stats.json" 2>"$tmp/err.txt" \
  || fail "run-for exited with $? ($(tail -3 "$tmp/err.txt"))"
json=$(tail -1 "$tmp/stats.json")
echo "$json"
for key in seconds cpu_seconds sample_rate recorders_running buffers blocks paints trigger_cycles \
           dropped_buffers max_rss_kb; do
  grep -q "\"$key\":" <<<"$json" || fail "stats lack $key"
done
grep -q '"sample_rate":48000' <<<"$json" || fail "not at 48 kHz"
grep -q '"recorders_running":12' <<<"$json" || fail "not all recorders running"
blocks=$(sed 's/.*"blocks":\[\([^]]*\)\].*/\1/' <<<"$json")
for b in ${blocks//,/ }; do [ "$b" -gt 0 ] || fail "a bar got no blocks: $blocks"; done
grep -qi '"Window Top"' "$settings" || fail "settings not saved at exit"
grep -qi '"Level Decay24"' "$settings" || fail "strip values not saved at exit"

# Screenshot: written, and nothing saved.
shot=$tmp/shot.png
before=$(md5sum "$settings")
timeout 60 "$exe" --audio simulated --settings "$settings" --screenshot "$shot" --after 1200 \
  2>"$tmp/err2.txt" || fail "screenshot exited with $?"
[ "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "no PNG written"
[ "$(md5sum "$settings")" = "$before" ] || fail "screenshot changed the settings"

# No display: one line that says how to run offscreen.
out=$(env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY "$exe" 2>&1); rc=$?
[ $rc -ne 0 ] || fail "ran without a display"
[ "$(wc -l <<<"$out")" -eq 1 ] || fail "more than one line without a display: $out"
grep -q offscreen <<<"$out" || fail "no hint at offscreen: $out"
echo OK
