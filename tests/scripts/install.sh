#!/usr/bin/env bash
# The install tree: `cmake --install` into a temporary prefix puts the program,
# tarvolin-meter, skins, manual, desktop entry, icons, metainfo and man pages in
# place; the installed program starts offscreen and finds its skins and manual;
# the man pages name every option of --help; the desktop entry and metainfo pass
# their validators (skipped, exit 77, when a validator is not installed).
# Usage: install.sh BUILD_DIR
set -u
build=${1:?build folder}
[ -f "$build/cmake_install.cmake" ] && [ -x "$build/tarvolin" ] || { echo "no build in $build"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config
chmod 700 "$tmp"
fail() { echo "FAIL: $*"; exit 1; }

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >"$tmp/install.txt" 2>&1 || fail "install failed: $(tail -5 "$tmp/install.txt")"
share=$prefix/share
app=org.tarvolin.Tarvolin

# The files, in the standard places.
for f in bin/tarvolin bin/tarvolin-meter share/tarvolin/manual.html share/tarvolin/skins/iTunes.skn \
         share/applications/$app.desktop share/metainfo/$app.metainfo.xml \
         share/icons/hicolor/scalable/apps/tarvolin.svg share/man/man1/tarvolin.1.gz \
         share/man/man1/tarvolin-meter.1.gz share/doc/tarvolin/copyright; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
[ "$(ls "$share/tarvolin/skins" | wc -l)" -eq 15 ] || fail "skins: $(ls "$share/tarvolin/skins")"
for s in 16 22 24 32 48 64 128 256; do
  png=$share/icons/hicolor/${s}x${s}/apps/tarvolin.png
  [ -f "$png" ] || fail "no ${s}x${s} icon"
  size=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$size" = "${s}x${s}" ] || fail "the ${s}x${s} icon is $size"
done
grep -q '^Icon=tarvolin$' "$share/applications/$app.desktop" || fail "desktop entry names another icon"
grep -q '^Exec=tarvolin$' "$share/applications/$app.desktop" || fail "desktop entry runs another program"

# The program's folder (where bin/tarvolin leads) holds its skins and manual.
real=$(readlink -f "$prefix/bin/tarvolin")
dir=$(dirname "$real")
case "$real" in "$prefix"/*) ;; *) fail "bin/tarvolin leads outside the prefix: $real" ;; esac
[ -f "$dir/skins/iTunes.skn" ] || fail "no skins beside $real"
[ -f "$dir/manual.html" ] || fail "no manual beside $real"
# The manual's pictures, relative to the page the program opens.
for r in $(grep -oE 'src="[^"]+"' "$dir/manual.html" | sed 's/^src="//; s/"$//'); do
  [ -f "$dir/$r" ] || fail "picture $r of the manual is missing beside $real"
done
for l in bin/tarvolin "${dir#"$prefix"/}/skins" "${dir#"$prefix"/}/manual.html" "${dir#"$prefix"/}/manual"; do
  [ -L "$prefix/$l" ] && [ "$(readlink "$prefix/$l" | cut -c1)" != / ] || fail "$l is not a relative link"
done

"$prefix/bin/tarvolin" --version | grep -q '^Tarvolin ' || fail "--version of the installed program"
"$prefix/bin/tarvolin-meter" --help >/dev/null || fail "tarvolin-meter --help"

# Started offscreen, the installed program applies its default skin (the
# skinned menu bar has a gradient); the same binary alone does not.
shot() {  # exe png
  timeout 60 "$1" --audio simulated --settings "$tmp/$(basename "$2").reg" --set "is Sound=1" \
    --screenshot "$2" --after 800 2>"$tmp/err.txt" || fail "$1 exited with $? ($(tail -3 "$tmp/err.txt"))"
  [ "$(head -c 8 "$2" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "no PNG from $1"
}
export PYTHONPATH="$(cd "$(dirname "$0")/../support" && pwd)${PYTHONPATH:+:$PYTHONPATH}"
# Brightness difference of the pixels (3,1) and (3,16) of a PNG.
gradient() {
  python3 - "$1" <<'PY'
import sys, pngread
w, h, pixel = pngread.load(sys.argv[1], 17)
px = lambda y: sum(pixel(3, y)) // 3
print(px(1) - px(16))
PY
}
shot "$prefix/bin/tarvolin" "$tmp/installed.png"
[ "$(gradient "$tmp/installed.png")" -ge 10 ] || fail "the installed program did not apply its default skin"
mkdir "$tmp/alone" && cp "$real" "$tmp/alone/"
shot "$tmp/alone/tarvolin" "$tmp/alone.png"
[ "$(gradient "$tmp/alone.png")" -lt 5 ] || fail "the skin check cannot tell a program without skins"

# Every option of --help is in the man page.
for pair in tarvolin:tarvolin.1 tarvolin-meter:tarvolin-meter.1; do
  exe=${pair%%:*} page=$share/man/man1/${pair#*:}.gz
  text=$(gzip -dc "$page" | sed 's/\\-/-/g')
  for opt in $("$prefix/bin/$exe" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "$opt" <<<"$text" || fail "${pair#*:} lacks $opt"
  done
  if command -v man >/dev/null; then
    warn=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warn" ] || fail "${pair#*:}: $warn"
  fi
done

missing=""
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$share/applications/$app.desktop" 2>&1) || fail "desktop-file-validate: $out"
  [ -z "$out" ] || fail "desktop-file-validate: $out"
else
  missing+=" desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
  out=$(appstreamcli validate --no-net "$share/metainfo/$app.metainfo.xml" 2>&1) || fail "appstreamcli: $out"
else
  missing+=" appstreamcli"
fi
[ -z "$missing" ] || { echo "SKIP: not installed:$missing"; exit 77; }
echo OK
