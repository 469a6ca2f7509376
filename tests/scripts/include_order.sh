#!/usr/bin/env bash
# Checks the folder order of the includes: a file in folder F may include only
# headers of F and of the folders before it, and the Qt-free code (F/*.h, F/*.cpp)
# includes neither F/qt/ headers nor Qt's. tools/, tests/, bench/ and fuzz/ are free.
# No view includes another view: the main window (app/qt/uMain*, app/qt/Program*),
# the headless front end (app/qt/Headless*) and the status server
# (monitoring/qt/MMStatusServer*) share what they need through the engine and
# the subsystems below them, never through each other's headers.
#   tests/scripts/include_order.sh [BUILD_DIR]   (the build folder is not used)
set -euo pipefail
cd "$(dirname "$0")/../.."
command -v python3 >/dev/null || { echo "python3 is missing" >&2; exit 77; }
exec python3 - <<'PY'
import os, re, subprocess, sys

ORDER = ["base", "audio", "widgets", "metering", "monitoring", "correlation",
         "labels_skins", "app"]
RANK = {f: i for i, f in enumerate(ORDER)}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r'^(Q[A-Z]\w*|Qt\w*/.*|Qt\w+)$')

files = subprocess.run(["git", "ls-files", "*.h", "*.cpp"], capture_output=True,
                       text=True, check=False).stdout.split()
if not files:  # outside a checkout: every source below the root
    for top in ORDER:
        for d, _, names in os.walk(top):
            files += [os.path.join(d, n) for n in names if n.endswith((".h", ".cpp"))]

VIEWS = {"main window": ("app/qt/uMain", "app/qt/Program"),
         "headless": ("app/qt/Headless",),
         "status server": ("monitoring/qt/MMStatusServer",)}
# Known exceptions, printed and not counted (none: the engine starts the
# status server for every view).
PENDING = set()

def view_of(path):
    for view, prefixes in VIEWS.items():
        if path.startswith(prefixes):
            return view
    return None

faults = []
for path in sorted(files):
    parts = path.split("/")
    if parts[0] not in RANK:
        continue
    folder = parts[0]
    qt_free = len(parts) == 2
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            kind, name = m.groups()
            where = "%s:%d: %s" % (path, number, line.strip())
            if kind == "<":
                if qt_free and QT_HEADER.match(name):
                    faults.append(where + "  (Qt header in Qt-free code)")
                continue
            target = name.split("/")
            if len(target) == 1:  # beside the file: generated moc/ui output or a sibling
                continue
            if target[0] not in RANK:
                continue
            if RANK[target[0]] > RANK[folder]:
                faults.append(where + "  (%s comes after %s)" % (target[0], folder))
            if qt_free and len(target) > 2 and target[1] == "qt":
                faults.append(where + "  (qt/ header in Qt-free code)")
            mine, theirs = view_of(path), view_of(name)
            if mine and theirs and mine != theirs:
                if (path, name) in PENDING:
                    print(where + "  (pending: the %s view includes the %s view)" % (mine, theirs))
                else:
                    faults.append(where + "  (the %s view includes the %s view)" % (mine, theirs))

for fault in faults:
    print(fault)
print("%d include(s) against the folder order or between views" % len(faults))
sys.exit(1 if faults else 0)
PY
