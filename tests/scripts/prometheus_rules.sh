#!/usr/bin/env bash
# The shipped Prometheus and Alertmanager files (packaging/prometheus/): the
# alert rules pass `promtool check rules` and their unit tests
# (`promtool test rules`), the example scrape configuration with its
# file-based discovery list passes `promtool check config`, the example route
# `amtool check-config`. Skipped (77) without Debian's prometheus and
# prometheus-alertmanager.
# Usage: prometheus_rules.sh BUILD_DIR
set -u
dir=$(cd "$(dirname "$0")/../../packaging/prometheus" && pwd)
command -v promtool >/dev/null && command -v amtool >/dev/null || { echo "promtool, amtool missing"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; cat "$tmp/out.txt"; exit 1; }

promtool check rules "$dir/tarvolin-rules.yml" >"$tmp/out.txt" 2>&1 || fail "check rules"
(cd "$dir" && promtool test rules tarvolin-rules.test.yml) >"$tmp/out.txt" 2>&1 || fail "test rules"
# Every alert carries a severity and the three annotations.
awk '/^ *- alert:/{n++} /^ *severity: (critical|warning)$/{s++} /^ *summary:/{a++} /^ *description:/{d++}
     /^ *runbook_url:/{r++} END{exit !(n>0 && s==n && a==n && d==n && r==n)}' "$dir/tarvolin-rules.yml" ||
  fail "an alert without severity or annotations"
# The example configuration, with its discovery glob pointed at the example list.
cp "$dir/tarvolin-rules.yml" "$tmp/"
sed "s#/etc/prometheus/tarvolin/\*.yml#$dir/tarvolin-targets.yml#" "$dir/prometheus.yml" >"$tmp/prometheus.yml"
promtool check config "$tmp/prometheus.yml" >"$tmp/out.txt" 2>&1 || fail "check config"
python3 - "$dir/tarvolin-targets.yml" >"$tmp/out.txt" 2>&1 <<'PY' || fail "targets list"
import re, sys
text = open(sys.argv[1]).read()
targets = re.findall(r"'([^']+)'", "".join(re.findall(r"targets: \[([^\]]*)\]", text)))
assert targets and all(re.fullmatch(r"[a-z0-9.-]+:\d+", t) for t in targets), targets
PY
amtool check-config "$dir/alertmanager.yml" >"$tmp/out.txt" 2>&1 || fail "amtool check-config"
echo PASS
