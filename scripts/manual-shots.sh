#!/usr/bin/env bash
# Makes the manual's pictures, resources/manual/*.png, with the program's own
# --screenshot offscreen: the simulated inputs play the programme material of a
# machine without input devices, each picture from fresh settings.
# Usage: scripts/manual-shots.sh [BUILD_DIR [OUT_DIR]]   (default build/test, resources/manual)
# MANUAL_SHOTS_ONLY="NAME ..." makes only those pictures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/test}
out=${2:-$root/resources/manual}
exe=$build/tarvolin
[ -x "$exe" ] || { echo "no program at $exe (build the target tarvolin first)" >&2; exit 1; }
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chmod 700 "$tmp"
export QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1 XDG_RUNTIME_DIR=$tmp \
       XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data

# The programme of the fallback to simulated inputs, stated so the pictures do
# not depend on the devices of the machine that makes them.
programme=(
  1=music:-8:101/music:-8:101:drift=48   2=speech:-6:202
  3=music:-10:303/music:-10:303:corr=0.6 4=speech:-8:404:gap=15,60,6
  5=music:-4:505/music:-4:505:corr=0.8   6=speech:-9:606
  7=music:-7:707/music:-7:707:corr=0.3   8=speech:-5:808/speech:-7:809
  9=music:-9:909/music:-9:909:corr=0.9   10=speech:-7:1010
  11=music:-6:1111/music:-6:1111:corr=0.1 12=speech:-8:1212/music:-10:1213
)
sim=(--audio simulated)
for p in "${programme[@]}"; do sim+=(--sim-input "$p"); done

# Labels for the first eight channels.
labels=(--set "Edit 1=PGM" --set "Edit 2=PGM" --set "Edit 3=Mod" --set "Edit 4=Mod" --set "Edit 5=Mus"
        --set "Edit 6=Mus" --set "Edit 7=Vox" --set "Edit 8=Vox")

n=0
only=${MANUAL_SHOTS_ONLY:-}
# shot NAME WINDOW AFTER_MS [OPTION ...]
shot() {
  local name=$1 window=$2 after=$3
  shift 3
  n=$((n + 1))
  case " $only " in "  " | *" $name "*) ;; *) return 0 ;; esac
  local rc=0
  [ -z "${MANUAL_SHOTS_TRACE:-}" ] || echo "$exe ${sim[*]} $*" >&2
  timeout 120 "$exe" "${sim[@]}" --settings "$tmp/$n.reg" --set "is Sound=1" "$@" \
    --screenshot-window "$window" --screenshot "$out/$name.png" --after "$after" 2>"$tmp/err.txt" || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "$name: the program exited with $rc: $(tail -3 "$tmp/err.txt")" >&2
    return 1
  fi
  echo "$out/$name.png"
}

# The main window: eight channels, then in alarm, then 24 channels.
shot main main 5000 "${labels[@]}"
# Pair 4 in digital silence: the detector (on 2 s after the start, 5 s delay)
# is in alarm well before the shot, taken a quarter second after a check (the
# checks come 2 s after the start and then every second; a blink lasts 450 ms). Pair 3 plays louder: its quiet passages
# would reach the -40 dBFS threshold now and then.
silent=(--sim-input 3=music:-4:303/music:-4:303:corr=0.6 --sim-input 4=silence --set "cb detect=1")
# The fill lasts 450 ms of each second; where the shot missed it (the start
# takes a varying time), it is taken again a little later.
export PYTHONPATH="$root/tests/support${PYTHONPATH:+:$PYTHONPATH}"
scale_red() {  # PNG: is strip 8's scale picture filled red?
  python3 - "$1" <<'PY'
import sys, pngread
w, h, pixel = pngread.load(sys.argv[1], 601)
r, g, b = pixel(430, 600)[:3]
sys.exit(0 if r > 200 and g < 60 and b < 60 else 1)
PY
}
for after in 10250 10450 10050 10650 10850; do
  shot alarm main "$after" "${silent[@]}" "${labels[@]}"
  case " $only " in "  " | *" alarm "*) scale_red "$out/alarm.png" && break ;; *) break ;; esac
done
shot main-24 main 9000 --set "rg Mode=4"
# The scale of every standard, on four channels in a lower window.
standards=(n9 din bbc ebu k20 k14 k12 ppm dbfs)
for i in "${!standards[@]}"; do
  shot "scale-${standards[$i]}" main 2500 --set "rg Mode=1" --set "Window height=600" --set "rg Mode Din=$i"
done
# The dialogs and windows.
shot input input 1000
shot level level 1000
shot actions actions 1000 --set "Action Alarm Command=/usr/local/bin/page-on-call --team studio" \
  --set "Action Alarm URL=http://alerts.example:8080/tarvolin" --set "Recovery Seconds=3"
shot labels labels 1000 "${labels[@]}"
shot log log 10000 "${silent[@]}" "${labels[@]}"
shot correlation correlation 6000
shot skins skins 1000
shot info info 1000
# The loudness window, where this build has one.
if ! shot loudness loudness 30000 --set "Loudness Target=-16" 2>"$tmp/loud.txt"; then
  grep -q "has no loudness window" "$tmp/err.txt" || { cat "$tmp/loud.txt" >&2; exit 1; }
  echo "this build has no loudness window; loudness.png not made" >&2
fi
if [ -f "$out/loudness.png" ] && ! grep -q 'src="manual/loudness.png"' "$root/resources/manual.html"; then
  echo "resources/manual.html does not show loudness.png yet: put its <figure> where the loudness" \
       "section's comment says" >&2
fi
du -ch "$out"/*.png | tail -1
