#!/usr/bin/env bash
# Whole program, offscreen: the silence threshold is dBFS in every standard.
# 24 channels of simulated tones at -21 ... -37.5 dBFS (and a 60 Hz tone),
# one pair digitally silent, one at -45 dBFS; detector on at -40 dBFS with a
# 2 s delay; once per standard, and with reference level -18 dBFS, 300 ms
# integration and the standard instrument. Only the silent and the -45 dBFS
# pairs alarm; their log lines read "-Inf" and -45 dB; every steady 997 Hz
# tone's level at exit reads its own dBFS.
# Usage: silence_threshold.sh BUILD_DIR
set -u
build=${1:?build folder}
exe=$build/tarvolin
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
command -v python3 >/dev/null || { echo "python3 missing"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data
chmod 700 "$tmp"

inputs=(
  1=sine:997:-21/sine:997:-22.5 2=sine:997:-24/sine:997:-25.5 3=sine:997:-27/sine:997:-28.5
  4=sine:997:-30/sine:997:-31.5 5=sine:997:-33/sine:997:-34.5 6=sine:997:-36/sine:997:-37.5
  7=silence 8=sine:997:-45 9=sine:60:-30/sine:60:-37.5 10=sine:5000:-37.5/sine:200:-37.5
  11=sine:997:-25 12=sine:997:-25)
# name and the settings that make it
runs=(
  "n9:rg Mode Din=0" "din:rg Mode Din=1" "bbc:rg Mode Din=2" "ebu:rg Mode Din=3" "k20:rg Mode Din=4"
  "k14:rg Mode Din=5" "k12:rg Mode Din=6" "dppm:rg Mode Din=7" "peak:rg Mode Din=8"
  "din-ref18-300ms:rg Mode Din=1,rg Integral=1,rg Integral ms=5" "n9-ref18:rg Mode Din=0,rg Integral=1"
  "ebu-instrument:rg Mode Din=3,Ballistics=1")

run() {  # name settings
  local name=$1 sets=() s
  IFS=, read -ra s <<<"$2"
  for x in "${s[@]}"; do sets+=(--set "$x"); done
  local args=(--audio simulated --settings "$tmp/$name.reg" --set "is Sound=1" --set "rg Mode=4"
    --set "cb detect=1" --set "db_value2=-40" --set "db_value=351" --set "sec_value=2")
  for k in $(seq 1 12); do args+=(--set "multi_$k=$((k - 1))"); done
  for i in "${inputs[@]}"; do args+=(--sim-input "$i"); done
  timeout 120 "$exe" "${args[@]}" "${sets[@]}" --log-out "$tmp/$name.log" --run-for 9 --stats \
    >"$tmp/$name.json" 2>"$tmp/$name.err" || echo "exit $?" >>"$tmp/$name.err"
}

# Three runs at a time; two under the sanitizers, which slow the start-up.
at_once=3
[ -n "${ASAN_OPTIONS:-}" ] && at_once=2
i=0
for r in "${runs[@]}"; do
  run "${r%%:*}" "${r#*:}" &
  i=$((i + 1))
  [ $((i % at_once)) -eq 0 ] && wait
done
wait

python3 - "$tmp" "${runs[@]}" <<'PY'
import json, re, sys
tmp, runs = sys.argv[1], [r.split(":")[0] for r in sys.argv[2:]]
nominal = {1: -21, 2: -22.5, 3: -24, 4: -25.5, 5: -27, 6: -28.5, 7: -30, 8: -31.5, 9: -33, 10: -34.5,
           11: -36, 12: -37.5, 21: -25, 22: -25, 23: -25, 24: -25, 15: -45, 16: -45}
alarming = {13, 14, 15, 16}
bad = []
for name in runs:
    err = open(f"{tmp}/{name}.err").read()
    try:
        s = json.loads(open(f"{tmp}/{name}.json").read().strip().splitlines()[-1])
    except Exception:
        bad.append(f"{name}: no statistics ({err.strip()[-300:]})")
        continue
    if "exit " in err:
        bad.append(f"{name}: {err.strip()[-300:]}")
    alarmed = {n + 1 for n, a in enumerate(s["alarms"]) if a > 0}
    if alarmed != alarming:
        bad.append(f"{name}: strips in alarm {sorted(alarmed)}, expected {sorted(alarming)}")
    for n, db in nominal.items():
        got = s["level_dbfs"][n - 1]
        if got is None or abs(got - db) > 0.5:
            bad.append(f"{name}: strip {n} reads {got} dBFS, sent {db}")
    lines = {}
    for line in open(f"{tmp}/{name}.log"):
        m = re.match(r"Level (\d+) : - .*-   (-Inf|-?\d+\.\d\d) dB  --> Time: ", line)
        if not m:
            bad.append(f"{name}: malformed log line {line!r}")
            continue
        lines.setdefault(int(m.group(1)), []).append(m.group(2))
    for n in (13, 14):
        if lines.get(n) != ["-Inf"]:
            bad.append(f"{name}: strip {n} log lines {lines.get(n)}, expected ['-Inf']")
    for n in (15, 16):
        got = lines.get(n, [])
        if len(got) != 1 or got[0] == "-Inf" or abs(float(got[0]) + 45) > 0.5:
            bad.append(f"{name}: strip {n} log lines {got}, expected one at -45 dB")
    extra = set(lines) - alarming
    if extra:
        bad.append(f"{name}: log lines for strips {sorted(extra)}")
    print(f"{name}: alarms on {sorted(alarmed)}, strip 1 {s['level_dbfs'][0]} dBFS, strip 15 {lines.get(15)}")
for b in bad:
    print("FAIL:", b)
sys.exit(1 if bad else 0)
PY
