#!/usr/bin/env bash
# Whole program, offscreen: the skins folder beside the program, the default
# skin at first start, a stored skin applied again at the next start, a stored
# path that no longer exists (the same file beside the program), a faulty skin
# (built-in look, the fault on stderr) and --check-skin.
# Usage: skins.sh BUILD_DIR
set -u
build=${1:?build folder}
exe=$build/tarvolin
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config
chmod 700 "$tmp"
fail() { echo "FAIL: $*"; exit 1; }

for f in iTunes.SKN iTunes.skn mxskin20.skn mxskin15.skn mxskin60.skn mxskin24.skn mxskin28.skn mxskin29.SKN \
         mxskin30.skn mxskin35.skn mxskin40.skn mxskin47.skn mxskin56.skn mxskin59.skn mxskin67.skn; do
  [ -r "$build/skins/$f" ] || fail "skins/$f is not beside the program"
done

export PYTHONPATH="$(cd "$(dirname "$0")/../support" && pwd)${PYTHONPATH:+:$PYTHONPATH}"
# Brightness (0-255) of the pixel at x,y of a PNG written by the program.
brightness() {
  python3 - "$1" "$2" "$3" <<'PY'
import sys, pngread
x, y = int(sys.argv[2]), int(sys.argv[3])
w, h, pixel = pngread.load(sys.argv[1], y + 1)
print(sum(pixel(x, y)) // 3)
PY
}

settings=$tmp/run.reg
base=(--audio simulated --settings "$settings" --set "is Sound=1" --set "rg Mode=0" --set "multi_1=0")

# First start: the default skin (light menu bar).
timeout 60 "$exe" "${base[@]}" --screenshot "$tmp/first.png" --after 800 2>"$tmp/err1.txt" \
  || fail "first start exited with $? ($(tail -3 "$tmp/err1.txt"))"
[ "$(brightness "$tmp/first.png" 3 3)" -gt 170 ] || fail "first start not in the default skin"

# A stored "Skin5" path: applied at start (dark menu bar) and kept in the store.
timeout 60 "$exe" "${base[@]}" --set "skin=$build/skins/mxskin24.skn" --run-for 1 2>"$tmp/err2.txt" \
  || fail "run with a stored skin exited with $?"
grep -q 'skins/mxskin24.skn' "$settings" || fail "the skin path was not kept: $(grep -i skin "$settings")"
timeout 60 "$exe" --audio simulated --settings "$settings" --screenshot "$tmp/next.png" --after 800 \
  2>"$tmp/err3.txt" || fail "next start exited with $?"
[ "$(brightness "$tmp/next.png" 3 3)" -lt 80 ] || fail "the stored skin was not applied at the next start"

# A stored path that no longer exists (a build folder since removed): the skin
# of the same name beside the program, without a word.
timeout 60 "$exe" "${base[@]}" --set "skin=$tmp/gone/skins/mxskin24.skn" --screenshot "$tmp/gone.png" \
  --after 800 2>"$tmp/err4.txt" || fail "start with a missing skin exited with $?"
! grep -qi skin "$tmp/err4.txt" || fail "a message about the moved skin: $(cat "$tmp/err4.txt")"
[ "$(brightness "$tmp/gone.png" 3 3)" -lt 80 ] || fail "the moved skin was not found beside the program"

# A skin with a fault: the built-in look, and stderr names the file, the line
# and the fault; --check-skin says the same and exits 1.
printf '[skin]\nname = Mine\n[palette]\nwindow = #12345\n' >"$tmp/bad.skn"
timeout 60 "$exe" "${base[@]}" --set "skin=$tmp/bad.skn" --screenshot "$tmp/bad.png" \
  --after 800 2>"$tmp/err5.txt" || fail "start with a faulty skin exited with $?"
grep -q "skin $tmp/bad.skn: line 4: bad colour '#12345'" "$tmp/err5.txt" || fail "no fault on stderr: $(cat "$tmp/err5.txt")"
[ "$(brightness "$tmp/bad.png" 3 3)" -gt 150 ] || fail "a faulty skin not in the built-in look"
"$exe" --check-skin "$tmp/bad.skn" >"$tmp/check.out" 2>"$tmp/check.err"
rc=$?
[ "$rc" -eq 1 ] || fail "--check-skin on a faulty skin exited with $rc"
grep -q "line 4: bad colour" "$tmp/check.err" || fail "--check-skin said: $(cat "$tmp/check.err")"
"$exe" --check-skin "$tmp/none.skn" 2>"$tmp/check.err" && fail "--check-skin accepted a missing file"
grep -q "none.skn: cannot open" "$tmp/check.err" || fail "--check-skin on a missing file said: $(cat "$tmp/check.err")"
for f in "$build"/skins/*.[sS][kK][nN]; do
  "$exe" --check-skin "$f" >/dev/null 2>"$tmp/check.err" || fail "--check-skin refused $f: $(cat "$tmp/check.err")"
done
echo OK
