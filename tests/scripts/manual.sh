#!/usr/bin/env bash
# The manual and the program's own pictures of it, offscreen:
# - every window --screenshot-window names (the list comes from the program's
#   refusal of an unknown name) gives a PNG of its own size, also at a first
#   start; an unknown name and an unwritable file fail with a message;
# - the manual names every option of `tarvolin --help` and `tarvolin-meter --help`;
# - every picture and anchor it refers to exists, beside the source and beside
#   the built program (where Help > "Help File" opens it), and no picture in
#   resources/manual/ is left unused.
# Usage: manual.sh BUILD_DIR
set -u
build=${1:?build folder}
exe=$build/tarvolin
meter=$build/tarvolin-meter
[ -x "$exe" ] && [ -x "$meter" ] || { echo "no $exe or $meter"; exit 77; }
src=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data
chmod 700 "$tmp"
fail() { echo "FAIL: $*"; exit 1; }
pngsize() { od -An -tu1 -j16 -N8 "$1" | awk '{print $3*256+$4 "x" $7*256+$8}'; }
ispng() { [ "$(head -c 8 "$1" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]; }

run() {  # settings-name option ...: the program on simulated inputs, no first-start dialog
  timeout 60 "$exe" --audio simulated --settings "$tmp/$1.reg" --set "is Sound=1" --set "rg Mode=0" "${@:2}"
}

# An unknown name: exit 2, the list of names, no picture.
run bad --screenshot "$tmp/bad.png" --screenshot-window mixer 2>"$tmp/bad.txt"
rc=$?
[ "$rc" -eq 2 ] || fail "an unknown window name exited with $rc"
[ ! -e "$tmp/bad.png" ] || fail "a picture for an unknown window"
names=$(sed -n "s/.*unknown window 'mixer' (one of \(.*\))$/\1/p" "$tmp/bad.txt" | tr -d ',')
[ -n "$names" ] || fail "no list of windows in: $(cat "$tmp/bad.txt")"

# The loudness window is required once the program has its menu entry.
has_loudness=0
grep -rqE 'addAction\(.*"Loudness meter"' "$src"/*/qt 2>/dev/null && has_loudness=1

declare -A size
for name in $names; do
  png=$tmp/$name.png
  run "$name" --screenshot-window "$name" --screenshot "$png" --after 400 2>"$tmp/$name.txt"
  rc=$?
  if [ "$name" = loudness ] && [ "$has_loudness" -eq 0 ] && [ "$rc" -eq 2 ] &&
     grep -q "has no loudness window" "$tmp/$name.txt"; then
    echo "no loudness window in this build"
    continue
  fi
  [ "$rc" -eq 0 ] || fail "--screenshot-window $name exited with $rc ($(tail -2 "$tmp/$name.txt"))"
  ispng "$png" || fail "$name: no PNG"
  size[$name]=$(pngsize "$png")
  case ${size[$name]} in 0x* | *x0) fail "$name: an empty picture" ;; esac
done
# Each window is itself, not the main window again.
for name in "${!size[@]}"; do
  [ "$name" = main ] || [ "${size[$name]}" != "${size[main]}" ] || fail "$name has the main window's size ${size[main]}"
done
[ "${size[level]}" != "${size[input]}" ] || fail "the level and input pictures have one size"

# At a first start the input setup is shown modally before the restore ends;
# the window asked for is taken all the same.
timeout 60 "$exe" --audio simulated --settings "$tmp/first.reg" --screenshot-window level \
  --screenshot "$tmp/first.png" --after 400 2>"$tmp/first.txt" || fail "first start: exit $? ($(tail -2 "$tmp/first.txt"))"
[ "$(pngsize "$tmp/first.png")" = "${size[level]}" ] || fail "first start: $(pngsize "$tmp/first.png") is not the level dialog"

# A picture that cannot be written is a failure.
run nowrite --screenshot-window info --screenshot "$tmp/no/such/folder/info.png" --after 200 2>"$tmp/nowrite.txt"
rc=$?
[ "$rc" -eq 1 ] || fail "an unwritable screenshot exited with $rc"
grep -q "cannot write the screenshot" "$tmp/nowrite.txt" || fail "no message for an unwritable screenshot"

# The manual names every option of both programs.
manual=$src/resources/manual.html
[ -f "$manual" ] || fail "no $manual"
text=$(sed 's/&#8209;/-/g; s/&minus;/-/g' "$manual")
for prog in "$exe" "$meter"; do
  opts=$("$prog" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
  [ -n "$opts" ] || fail "no options from $prog --help"
  for opt in $opts; do
    grep -qF -- "$opt" <<<"$text" || fail "the manual lacks $(basename "$prog") $opt"
  done
done

# Pictures and anchors it refers to.
cmp -s "$manual" "$build/manual.html" || fail "the manual beside the program differs from resources/manual.html"
refs=$(grep -oE 'src="[^"]+"' "$manual" | sed 's/^src="//; s/"$//' | sort -u)
[ -n "$refs" ] || fail "the manual shows no picture"
for r in $refs; do
  case $r in /* | *://* | *..*) fail "picture $r is not relative to the manual" ;; esac
  for dir in "$src/resources" "$build"; do
    ispng "$dir/$r" || fail "picture $r missing beside $dir/manual.html"
  done
done
for f in "$src"/resources/manual/*; do
  grep -qxF "manual/$(basename "$f")" <<<"$refs" || fail "resources/manual/$(basename "$f") is not used"
done
total=$(du -cb "$src"/resources/manual/* | tail -1 | cut -f1)
[ "$total" -lt 4000000 ] || fail "the pictures take $total bytes"
for a in $(grep -oE 'href="#[^"]+"' "$manual" | sed 's/^href="#//; s/"$//' | sort -u); do
  grep -qE "id=\"$a\"" "$manual" || fail "link to #$a, which does not exist"
done
echo OK
