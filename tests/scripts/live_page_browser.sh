#!/usr/bin/env bash
# The live page in a real browser (headless Chromium driven by Selenium)
# against the headless program on simulated inputs, bound to 0.0.0.0 with an
# access token and reached over 127.0.0.1: without the token only the login
# prompt shows and /status, /metrics give 401; a wrong token is refused;
# with the right one each strip's level on the page is the program's own
# (/status) within 0.5 dB, a gated strip's alarm shows within 2 s of the
# program's, a label "<b>x</b><script>" shows as text, and a reload keeps
# the token (never in the URL). Keeps a screenshot in the build folder.
# Usage: live_page_browser.sh BUILD_DIR
set -u
build=${1:?build folder}
exe=$build/tarvolin
py=/usr/bin/python3
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
command -v chromium >/dev/null && command -v chromedriver >/dev/null || { echo "chromium, chromium-driver missing"; exit 77; }
"$py" -c 'import selenium' 2>/dev/null || { echo "python3-selenium missing"; exit 77; }
tmp=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }; rm -rf "$tmp"' EXIT
export XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data HOME=$tmp
chmod 700 "$tmp"
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY
fail() { echo "FAIL: $*"; [ -f "$tmp/err.txt" ] && tail -5 "$tmp/err.txt"; exit 1; }

port=$((20000 + $$ % 10000))  # below the ephemeral range
echo "live-page-token-$$-0123" > "$tmp/token"
# Without a token the program refuses 0.0.0.0 and says why.
"$exe" --headless --audio simulated --settings "$tmp/refused.reg" --status-port "$port" --status-bind 0.0.0.0 \
  >/dev/null 2>"$tmp/refused.txt" && fail "started on 0.0.0.0 without a token"
grep -q "needs an access token" "$tmp/refused.txt" || fail "no reason given: $(cat "$tmp/refused.txt")"

"$exe" --headless --audio simulated --settings "$tmp/s.reg" --set "rg Mode=2" --set Samplerate=1 \
  --set multi_1=0 --set multi_2=1 --set multi_3=2 --set multi_4=3 \
  --set "cb detect=1" --set "db_value2=-40" --set "db_value=351" --set "sec_value=2" \
  --set "Edit 1=<b>x</b><script>" \
  --sim-input 1=sine:997:-20 --sim-input 2=sine:997:-6/sine:440:-35 --sim-input 3=gated:997:-6:4000:9000 \
  --status-port "$port" --status-bind 0.0.0.0 --status-token-file "$tmp/token" \
  >"$tmp/out.txt" 2>"$tmp/err.txt" &
pid=$!

"$py" - "$port" "$(cat "$tmp/token")" "$build/live-page.png" <<'PY' || fail "browser checks"
import json, sys, time, urllib.error, urllib.request
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

port, token, shot = int(sys.argv[1]), sys.argv[2], sys.argv[3]
base = f"http://127.0.0.1:{port}"

def get(path, auth=None):
    req = urllib.request.Request(base + path, headers={"Authorization": auth} if auth else {})
    try:
        with urllib.request.urlopen(req, timeout=5) as r:
            return r.status, r.read().decode()
    except urllib.error.HTTPError as e:
        return e.code, ""

deadline = time.time() + 15
while True:
    try:
        code, _ = get("/status")
        break
    except OSError:
        if time.time() > deadline:
            sys.exit("the status endpoint never answered")
        time.sleep(0.2)
for path in ("/status", "/metrics"):
    assert get(path)[0] == 401, path
    assert get(path, "Bearer wrong")[0] == 401, path
    assert get(path, "Bearer " + token)[0] == 200, path

def status():
    return json.loads(get("/status", "Bearer " + token)[1])

opts = webdriver.ChromeOptions()
for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1280,900"):
    opts.add_argument(a)
d = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)
try:
    d.get(base + "/")
    def wait(cond, what, secs=10):
        end = time.time() + secs
        while time.time() < end:
            v = cond()
            if v:
                return v
            time.sleep(0.05)
        sys.exit("timed out: " + what)
    wait(lambda: d.find_element(By.ID, "login").is_displayed(), "login prompt")
    assert not d.find_element(By.ID, "meter").is_displayed()
    assert d.find_elements(By.CSS_SELECTOR, "#strips .strip") == []

    d.find_element(By.ID, "token").send_keys("not-the-token")
    d.find_element(By.CSS_SELECTOR, "#login button").click()
    wait(lambda: "refused" in d.find_element(By.ID, "login-message").text, "wrong token refused")
    assert not d.find_element(By.ID, "meter").is_displayed()

    d.find_element(By.ID, "token").send_keys(token)
    d.find_element(By.CSS_SELECTOR, "#login button").click()
    wait(lambda: d.find_element(By.ID, "meter").is_displayed(), "meter shown")
    wait(lambda: len(d.find_elements(By.CSS_SELECTOR, "#strips .strip[data-level]")) == 8, "8 strips")

    # Levels: page against /status, steady tones on strips 1-4.
    s = status()
    cells = d.find_elements(By.CSS_SELECTOR, "#strips .strip")
    for i in range(4):
        page = float(cells[i].get_attribute("data-level"))
        own = s["strips"][i]["level_dbfs"]
        assert abs(page - own) <= 0.5, (i + 1, page, own)
    assert abs(float(cells[0].get_attribute("data-level")) + 20) <= 0.5

    # The hostile label: the text the program holds, no element made of it.
    label = d.find_element(By.CSS_SELECTOR, '#strips .strip[data-strip="1"] .label').text
    assert label == s["strips"][0]["label"] and label.startswith("<b>"), label
    assert d.find_elements(By.CSS_SELECTOR, "#strips b, #strips script") == []

    # The gated pair: its alarm on the page within 2 s of the program's.
    def alarm_page():
        return d.find_element(By.CSS_SELECTOR, '#strips .strip[data-strip="5"]').get_attribute("data-state") == "alarm"
    def alarm_own():
        return status()["strips"][4]["state"] == "alarm"
    if alarm_own():
        wait(lambda: not alarm_own(), "alarm ends", 15)
    t_own = wait(lambda: alarm_own() and time.time(), "program's alarm", 20)
    t_page = wait(lambda: alarm_page() and time.time(), "page's alarm", 5)
    print(f"alarm on the page {t_page - t_own:+.2f} s after the program")
    assert t_page - t_own <= 2.0
    d.save_screenshot(shot)

    # A reload asks nothing: the token stays in the browser, not in the URL.
    d.refresh()
    wait(lambda: d.find_element(By.ID, "meter").is_displayed(), "meter after reload")
    assert not d.find_element(By.ID, "login").is_displayed()
    assert token not in d.current_url
finally:
    d.quit()
PY
echo "live page in the browser: ok"
