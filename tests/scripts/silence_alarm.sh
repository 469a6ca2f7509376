#!/usr/bin/env bash
# Whole program, offscreen: the silence detector on simulated inputs. Input 3
# (strips 5 and 6) is gated 4 s on / 9 s off, every other input a steady
# tone; threshold -40 dBFS, alarm delay 2 s, 8 channels, 26 s: two silence
# episodes with one log line each on strips 5 and 6, nothing elsewhere.
# Usage: silence_alarm.sh BUILD_DIR
set -u
build=${1:?build folder}
exe=$build/tarvolin
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config
chmod 700 "$tmp"
fail() { echo "FAIL: $*"; exit 1; }

log=$tmp/log.txt
timeout 90 "$exe" --audio simulated --settings "$tmp/s.reg" --set "is Sound=1" --set "rg Mode=2" \
  --set multi_1=0 --set multi_2=1 --set multi_3=2 --set multi_4=3 \
  --set "cb detect=1" --set "db_value2=-40" --set "db_value=351" --set "sec_value=2" \
  --sim-input 3=gated:997:-6:4000:9000 --log-out "$log" --run-for 26 --stats \
  >"$tmp/stats.json" 2>"$tmp/err.txt" || fail "run exited with $? ($(tail -3 "$tmp/err.txt"))"
json=$(tail -1 "$tmp/stats.json")
echo "$json"
array() { sed "s/.*\"$1\":\[\([^]]*\)\].*/\1/" <<<"$json"; }
silences=$(array silences)
alarms=$(array alarms)
[ "$silences" = "0,0,0,0,2,2$(printf ',0%.0s' {1..18})" ] || fail "silence episodes per strip: $silences"
n=0
for a in ${alarms//,/ }; do
  n=$((n + 1))
  if [ $n -eq 5 ] || [ $n -eq 6 ]; then [ "$a" -gt 0 ] || fail "strip $n never alarmed: $alarms"
  else [ "$a" -eq 0 ] || fail "strip $n alarmed: $alarms"; fi
done
grep -q '"log_lines":4' <<<"$json" || fail "expected 4 log lines"
[ "$(wc -l <"$log")" -eq 4 ] || fail "--log-out holds $(wc -l <"$log") lines"
[ "$(grep -cE '^Level [56] : - .*-   -?[0-9]+\.[0-9]{2} dB  --> Time: .+' "$log")" -eq 4 ] \
  || fail "log lines malformed: $(cat "$log")"
[ "$(grep -c '^Level 5 ' "$log")" -eq 2 ] || fail "strip 5 lines: $(cat "$log")"
echo OK
