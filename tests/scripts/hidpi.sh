#!/usr/bin/env bash
# The main window at device pixel ratio 1 and 2 (QT_SCALE_FACTOR=2), offscreen,
# 24 channels: the picture doubles exactly, every strip frame sits at twice its
# place (nothing laid out anew), and text Qt draws (the standard's title) uses
# the full resolution instead of doubled pixels. TARVOLIN_SHOT_DIR, when set,
# keeps both screenshots.
# Usage: hidpi.sh BUILD_DIR
set -u
build=${1:?build folder}
exe=$build/tarvolin
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config
chmod 700 "$tmp"
fail() { echo "FAIL: $*"; exit 1; }

for s in 1 2; do
  QT_SCALE_FACTOR=$s timeout 60 "$exe" --audio simulated --settings "$tmp/s$s.reg" --set "is Sound=1" \
    --set "rg Mode=4" --screenshot "$tmp/x$s.png" --after 1500 2>"$tmp/err$s.txt" \
    || fail "scale $s exited with $? ($(tail -3 "$tmp/err$s.txt"))"
done
if [ -n "${TARVOLIN_SHOT_DIR:-}" ]; then cp "$tmp/x1.png" "$TARVOLIN_SHOT_DIR/main-1x.png"; cp "$tmp/x2.png" "$TARVOLIN_SHOT_DIR/main-2x.png"; fi

export PYTHONPATH="$(cd "$(dirname "$0")/../support" && pwd)${PYTHONPATH:+:$PYTHONPATH}"
python3 - "$tmp/x1.png" "$tmp/x2.png" <<'PY' || exit 1
import sys
from pngread import load

def fail(msg):
    print('FAIL: ' + msg)
    sys.exit(1)

w1, h1, p1 = load(sys.argv[1])
w2, h2, p2 = load(sys.argv[2])
if (w2, h2) != (2 * w1, 2 * h1):
    fail('%dx%d at ratio 2 is not twice %dx%d' % (w2, h2, w1, h1))

# Strip frames: the bright columns across the middle of the bars.
def frames(w, p, y):
    return [x for x in range(w) if sum(p(x, y)) > 600]
f1 = frames(w1, p1, h1 // 2)
f2 = frames(w2, p2, h2 // 2)
if len(f1) < 24:
    fail('only %d strip frame columns at ratio 1' % len(f1))
expect = sorted({2 * x + d for x in f1 for d in (0, 1)})
if f2 != expect:
    fail('strip frames at ratio 2 are not at twice their place: %s ... vs %s ...' % (f2[:12], expect[:12]))

# The title band (the standard's name, drawn by Qt) below the menu bar: at
# ratio 2 its glyph edges fall inside 2x2 blocks, doubled pixels would not.
def band_rows(h, p, w):
    white = b'\xff\xff\xff'
    rows = []
    for y in range(h // 8):
        line = [p(x, y) for x in range(0, w, 2)]
        if line.count(white) > 0.6 * len(line) and len(set(line)) > 1:
            rows.append(y)
    return rows
rows2 = band_rows(h2, p2, w2)
if not rows2:
    fail('no title text found at ratio 2')
blocks = mixed = 0
for y in range(rows2[0] - rows2[0] % 2, rows2[-1], 2):
    for x in range(0, w2 - 1, 2):
        q = {p2(x, y), p2(x + 1, y), p2(x, y + 1), p2(x + 1, y + 1)}
        if q != {b'\xff\xff\xff'}:
            blocks += 1
            mixed += len(q) > 1
if blocks == 0 or mixed / blocks < 0.2:
    fail('the title at ratio 2 is drawn with doubled pixels (%d of %d glyph blocks mixed)' % (mixed, blocks))
print('frames %d, title glyph blocks %d, %d mixed' % (len(f1), blocks, mixed))
PY
echo OK
