#!/usr/bin/env bash
# Whole-program measurement under Xvfb, 24 strips at 48 kHz, all visible.
#   scripts/measure.sh [--sim] [--jack] [--peer] [--floor] [--headless] [--headless-sim]
#                      [--rate N[,N...]] [--runs N] [--settle S] [BUILD_DIR] [SECONDS] [SIGNAL]
# Modes (several may be given; each run measures every chosen mode in turn):
#   --sim   twelve simulated recorders (the default mode). SIGNAL, when given,
#           drives all twelve inputs (e.g. noise:-6 or gated:997:-6:300:200, see
#           audio/MMSimSignal.h); default: each device's tone.
#   --jack  the real-input path: a private JACK dummy server (48 kHz, 512-frame
#           periods) with tv-jack-source (24 ports, moving levels), recorded as
#           twelve pairs "tv_source (1-2)" ... "tv_source (23-24)" through
#           PortAudio's JACK host API.
#   --peer  Debian's `meterbridge -t dpm` on the same 24 ports, for the ratio.
#   --floor tv-paint-floor: a bare Qt Widgets program that only paints 24 bars
#           of the main window's shape (each moving in 60 % of the frames, as
#           the meter's bars do on the moving source) and a second small
#           window at the display rate (no audio, no analysis): what painting
#           alone costs; with --jack or --peer it also loads PortAudio as the
#           meter does.
#   --headless      `tarvolin --headless` on the JACK source's twelve pairs
#                   (no window, no X server), detector on.
#   --headless-sim  the same on the twelve simulated recorders.
#   --rate N[,N...] the meter (--display-rate N) and the floor (--fps N) at each
#           of these frames per second, one after another in every run
#           (default 60). meterbridge keeps its own rate (about 12 frames/s);
#           the summary compares it with the meter at the rate nearest it.
# Each run: a fresh Xvfb, the meter, SETTLE s (default 3) to start, then SECONDS
# (default 20) measured from /proc: CPU of the meter and of its X server (% of
# one core), context switches/s (all threads and the main thread), resident
# size at the end: VmRSS, and VmRSS less the JACK server's port graph that
# libjack maps into every client (with its anonymous part). Tarvolin's own
# --stats add blocks/s and paints/s per bar and dropped buffers. With
# --runs N > 1 the summary gives the median of each figure.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v python3 >/dev/null || { echo "python3 is not installed" >&2; exit 1; }
exec python3 - "$@" <<'PY'
import json, os, re, shutil, signal, socket, statistics, subprocess, sys, tempfile, time

HZ = os.sysconf("SC_CLK_TCK")
PORTS = 24


def die(msg):
    print(msg, file=sys.stderr)
    sys.exit(1)


RATES = (60, 50, 30, 25, 12)
PEER_FPS = 12  # meterbridge paints about 12 frames a second


def parse(argv):
    opts = {"modes": [], "runs": 1, "settle": 3.0, "rates": [60], "rate_given": False}
    pos = []
    it = iter(argv)
    for a in it:
        if a in ("--sim", "--jack", "--peer", "--floor", "--headless", "--headless-sim"):
            opts["modes"].append(a[2:])
        elif a == "--rate":
            v = next(it, None) or ""
            try:
                opts["rates"] = list(dict.fromkeys(int(x) for x in v.split(",")))
            except ValueError:
                die("--rate needs frames per second: %s" % ", ".join(map(str, RATES)))
            if not opts["rates"] or any(r not in RATES for r in opts["rates"]):
                die("--rate: each rate one of %s, got %s" % (", ".join(map(str, RATES)), v))
            opts["rate_given"] = True
        elif a in ("--runs", "--settle"):
            v = next(it, None)
            try:
                opts[a[2:]] = int(v) if a == "--runs" else float(v)
            except (TypeError, ValueError):
                die("%s needs a number" % a)
        elif a in ("-h", "--help"):
            print(open(os.path.abspath("scripts/measure.sh")).read().split("set -euo")[0])
            sys.exit(0)
        elif a.startswith("--"):
            die("unknown option %s" % a)
        else:
            pos.append(a)
    if len(pos) > 3:
        die("too many arguments: %s" % " ".join(pos))
    opts["build"] = pos[0] if len(pos) > 0 else "build/test"
    try:
        opts["seconds"] = float(pos[1]) if len(pos) > 1 else 20.0
    except ValueError:
        die("SECONDS must be a number: %s" % pos[1])
    opts["signal"] = pos[2] if len(pos) > 2 else ""
    if opts["runs"] < 1 or opts["seconds"] <= 0 or opts["settle"] < 0:
        die("runs and seconds must be positive")
    opts["modes"] = list(dict.fromkeys(opts["modes"] or ["sim"]))
    return opts


def ticks(pid, task=None):
    path = "/proc/%d/task/%d/stat" % (pid, task) if task else "/proc/%d/stat" % pid
    try:
        s = open(path).read()
    except OSError:
        return None
    f = s[s.rindex(")") + 2:].split()
    return int(f[11]) + int(f[12])


def switches(pid):
    """Context switches of all live threads, and of the main thread."""
    total = main = 0
    try:
        tasks = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return None
    for t in tasks:
        try:
            txt = open("/proc/%d/task/%s/status" % (pid, t)).read()
        except OSError:
            continue
        n = sum(int(m) for m in re.findall(r"^(?:non)?voluntary_ctxt_switches:\s+(\d+)", txt, re.M))
        total += n
        if int(t) == pid:
            main = n
    return total, main


def memory(pid):
    d = {}
    try:
        for line in open("/proc/%d/status" % pid):
            k, _, v = line.partition(":")
            if k in ("VmRSS", "RssAnon", "RssFile", "RssShmem"):
                d[k] = int(v.split()[0])
    except OSError:
        pass
    # libjack maps the server's whole port graph (about 100 MB, every page
    # touched); it is the server's memory, counted in each client's RSS.
    d["JackShm"] = 0
    try:
        shm = False
        for line in open("/proc/%d/smaps" % pid):
            if re.match(r"^[0-9a-f]+-[0-9a-f]+ ", line):
                shm = "/dev/shm/jack" in line
            elif shm and line.startswith("Rss:"):
                d["JackShm"] += int(line.split()[1])
    except OSError:
        pass
    return d


class Xvfb:
    """A fresh X server; -displayfd tells its display once it accepts clients."""

    def __init__(self, tmp):
        r, w = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1600x1200x24", "-nolisten", "tcp"],
                                     pass_fds=(w,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as f:
            n = f.readline().strip()
        if not n.isdigit():
            stop(self.proc)
            die("Xvfb did not start")
        self.display = ":" + n

    def stop(self):
        stop(self.proc)


def stop(p, timeout=5):
    if p and p.poll() is None:
        p.send_signal(signal.SIGTERM)
        try:
            p.wait(timeout)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


class Jack:
    """A private dummy server and the moving 24-port source."""

    def __init__(self, tmp, build, env):
        self.name = "tvmeasure_%d" % os.getpid()
        env.update(JACK_DEFAULT_SERVER=self.name, JACK_NO_AUDIO_RESERVATION="1", JACK_NO_START_SERVER="1")
        self.env = env
        self.log = os.path.join(tmp, "jackd.log")
        self.server = subprocess.Popen(["jackd", "-n", self.name, "-d", "dummy", "-r", "48000", "-p", "512",
                                        "-C", "2", "-P", "2"], env=env, stdin=subprocess.DEVNULL,
                                       stdout=open(self.log, "w"), stderr=subprocess.STDOUT)
        self.source = None
        for _ in range(100):
            if self.ports():
                break
            if self.server.poll() is not None:
                die("the JACK server did not start:\n" + open(self.log).read())
            time.sleep(0.05)
        self.source = subprocess.Popen([os.path.join(build, "tv-jack-source"), "-m"], env=env,
                                       stdin=subprocess.DEVNULL, stderr=open(os.path.join(tmp, "source.log"), "w"))
        for _ in range(100):
            if "tv_source:out_%d" % PORTS in self.ports():
                return
            if self.source.poll() is not None:
                die("tv-jack-source did not start:\n" + open(os.path.join(tmp, "source.log")).read())
            time.sleep(0.05)
        die("tv-jack-source registered no ports")

    def ports(self):
        r = subprocess.run(["jack_lsp"], env=self.env, capture_output=True, text=True)
        return r.stdout.split("\n") if r.returncode == 0 else []

    def xruns(self):
        try:
            return sum(1 for line in open(self.log) if "xrun" in line.lower())
        except OSError:
            return 0

    def stop(self):
        stop(self.source)
        stop(self.server)


def pair_devices(exe, env):
    r = subprocess.run([exe, "--audio", "portaudio", "--list-devices"], env=env, capture_output=True, text=True)
    inputs = r.stdout.split("Output devices")[0]
    found = {}
    for m in re.finditer(r"^\s*(\d+)\s+tv_source \((\d+)-(\d+)\)", inputs, re.M):
        found[int(m.group(2))] = int(m.group(1))
    ids = [found.get(2 * k + 1) for k in range(PORTS // 2)]
    if None in ids:
        die("PortAudio lists no pairs of tv_source:\n" + r.stdout + r.stderr)
    return ids


def measure(proc, xvfb, settle, secs, jack):
    """CPU, switches and memory of proc over secs after settle."""
    time.sleep(settle)
    if proc.poll() is not None:
        return None
    pid = proc.pid
    t0 = time.monotonic()
    xpid = xvfb.proc.pid if xvfb else None
    c0, x0, s0 = ticks(pid), ticks(xpid) if xpid else 0, switches(pid)
    j0 = jack.xruns() if jack else 0
    time.sleep(secs)
    dt = time.monotonic() - t0
    c1, x1, s1 = ticks(pid), ticks(xpid) if xpid else 0, switches(pid)
    mem = memory(pid)
    if None in (c0, c1, s0, s1):
        return None
    return {"cpu": 100.0 * (c1 - c0) / HZ / dt, "x_cpu": 100.0 * (x1 - x0) / HZ / dt,
            "cs": (s1[0] - s0[0]) / dt, "cs_main": (s1[1] - s0[1]) / dt,
            "rss_mb": mem.get("VmRSS", 0) / 1024.0, "anon_mb": mem.get("RssAnon", 0) / 1024.0,
            "own_mb": (mem.get("VmRSS", 0) - mem["JackShm"]) / 1024.0,
            "xruns": (jack.xruns() - j0) if jack else 0}


def free_port():
    with socket.socket() as so:
        so.bind(("127.0.0.1", 0))
        return so.getsockname()[1]


def run_tarvolin(o, mode, tmp, env, devices, jack, rate):
    headless = mode.startswith("headless")
    sim = mode in ("sim", "headless-sim")
    xv = None if headless else Xvfb(tmp)
    reg = os.path.join(tmp, "measure.reg")
    if os.path.exists(reg):
        os.remove(reg)
    argv = [os.path.join(o["build"], "tarvolin"), "--audio", "simulated" if sim else "portaudio",
            "--settings", reg, "--set", "is Sound=1", "--set", "rg Mode=4", "--set", "Samplerate=1"]
    if headless:
        # A monitor: the silence detector and the status server on.
        argv += ["--headless", "--set", "cb detect=1", "--status-port", str(free_port())]
    elif o["rate_given"]:
        # Without --rate the meter runs at its default (a build from before the
        # option is measured so, too).
        argv += ["--display-rate", str(rate)]
    for k, d in enumerate(devices, 1):
        argv += ["--set", "multi_%d=%d" % (k, d)]
        if sim and o["signal"]:
            argv += ["--sim-input", "%d=%s" % (k, o["signal"])]
    # Ends itself a second after the window, so its statistics cover the whole run.
    argv += ["--run-for", "%g" % (o["settle"] + o["seconds"] + 1), "--stats"]
    err = os.path.join(tmp, "tarvolin.err")
    penv = dict(env, QT_QPA_PLATFORM="offscreen") if headless else {**env, "DISPLAY": xv.display}
    p = subprocess.Popen(argv, env=penv, stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=open(err, "w"), text=True)
    try:
        r = measure(p, xv, o["settle"], o["seconds"], jack)
        out, _ = p.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        stop(p)
        out = ""
    finally:
        if xv:
            xv.stop()
    if r is None or p.returncode != 0 or not out.strip():
        die("tarvolin failed (exit %s):\n%s" % (p.returncode, open(err).read()))
    try:
        j = json.loads(out.strip().split("\n")[-1])
        s = float(j["seconds"])
        blocks = [b / s for b in j["blocks"]]
        paints = [q / s for q in j["paints"]]
        r.update(blocks_min=min(blocks), blocks_max=max(blocks), paints_max=max(paints),
                 paints_mean=sum(paints) / len(paints), dropped=int(j["dropped_buffers"]),
                 recorders=int(j["recorders_running"]), json=j)
    except (ValueError, KeyError, TypeError, ZeroDivisionError) as e:
        die("unreadable statistics (%s): %s" % (e, out))
    return r


def run_plain(o, tmp, env, argv, log, jack):
    """Another program on a fresh Xvfb, measured as the meter is; None if it ended early."""
    xv = Xvfb(tmp)
    p = subprocess.Popen(argv, env={**env, "DISPLAY": xv.display}, stdin=subprocess.DEVNULL,
                         stdout=open(log, "w"), stderr=subprocess.STDOUT)
    try:
        return measure(p, xv, o["settle"], o["seconds"], jack)
    finally:
        stop(p)
        xv.stop()


def run_peer(o, tmp, env, jack):
    argv = ["meterbridge", "-n", "mb_dpm", "-t", "dpm"] + ["tv_source:out_%d" % k for k in range(1, PORTS + 1)]
    log = os.path.join(tmp, "meterbridge.log")
    # SDL now and then fails to open a just-started Xvfb; a fresh one is tried then.
    for attempt in range(3):
        r = run_plain(o, tmp, env, argv, log, jack)
        if r is not None:
            return r
        if "Couldn't open X11 display" not in open(log).read():
            break
    die("meterbridge failed:\n" + open(log).read())


def run_floor(o, tmp, env, jack, rate):
    # Each bar moves in 60 % of the frames: about the meter's mean paints per
    # bar on the moving JACK source (36/s at 60 Hz). With a JACK server up the
    # audio library is loaded as the meter loads it.
    argv = [os.path.join(o["build"], "tv-paint-floor"), "--windows", "2", "--moving", "60", "--fps", str(rate)]
    if jack:
        argv.append("--portaudio")
    log = os.path.join(tmp, "floor.log")
    r = run_plain(o, tmp, env, argv, log, None)
    if r is None:
        die("tv-paint-floor failed:\n" + open(log).read())
    return r


def fmt(v, pattern):
    return "-" if v is None else pattern % v


def main():
    o = parse(sys.argv[1:])
    exe = os.path.join(o["build"], "tarvolin")
    if not os.access(exe, os.X_OK):
        die("build %s first" % exe)
    if not shutil.which("Xvfb"):
        die("Xvfb is not installed (apt-get install xvfb)")
    needs_jack = any(m in o["modes"] for m in ("jack", "peer", "headless"))
    if needs_jack:
        for tool in ("jackd", "jack_lsp"):
            if not shutil.which(tool):
                die("%s is not installed (apt-get install jackd2)" % tool)
        if not os.access(os.path.join(o["build"], "tv-jack-source"), os.X_OK):
            die("build %s/tv-jack-source first" % o["build"])
    if "floor" in o["modes"] and not os.access(os.path.join(o["build"], "tv-paint-floor"), os.X_OK):
        die("build %s/tv-paint-floor first" % o["build"])
    if "peer" in o["modes"] and not shutil.which("meterbridge"):
        die("meterbridge is not installed (apt-get install meterbridge)")

    # What is measured at each display rate, and what once per run.
    painted = ("sim", "jack", "floor")
    jobs = [(m, r) for m in o["modes"] for r in (o["rates"] if m in painted else [None])]
    tmp = tempfile.mkdtemp(prefix="tvmeasure.")
    os.chmod(tmp, 0o700)
    env = {k: v for k, v in os.environ.items() if k != "QT_QPA_PLATFORM"}
    env.update(XDG_RUNTIME_DIR=tmp, XDG_CONFIG_HOME=os.path.join(tmp, "config"), XDG_DATA_HOME=os.path.join(tmp, "data"))
    jack = None
    results = {j: [] for j in jobs}
    try:
        if needs_jack:
            jack = Jack(tmp, o["build"], env)
        pairs = pair_devices(exe, env) if "jack" in o["modes"] or "headless" in o["modes"] else None
        sims = list(range(PORTS // 2))
        for rep in range(1, o["runs"] + 1):
            for m, rate in jobs:
                if m == "peer":
                    r = run_peer(o, tmp, env, jack)
                elif m == "floor":
                    r = run_floor(o, tmp, env, jack, rate)
                else:
                    on_jack = m in ("jack", "headless")
                    r = run_tarvolin(o, m, tmp, env, pairs if on_jack else sims, jack if on_jack else None, rate)
                results[(m, rate)].append(r)
                if "json" in r:
                    print(json.dumps(r.pop("json")))
                print("run %d %-12s: meter %.2f %%, X %.2f %%, %.0f switches/s (main %.0f), RSS %.1f MB (%.1f without JACK's graph)"
                      % (rep, label(m, rate), r["cpu"], r["x_cpu"], r["cs"], r["cs_main"], r["rss_mb"], r["own_mb"]),
                      flush=True)
    finally:
        if jack:
            jack.stop()
        shutil.rmtree(tmp, ignore_errors=True)
    summarize(o, jobs, results, jack)


def label(m, rate):
    return m if rate is None else "%s@%d" % (m, rate)


NAMES = {"sim": "Tarvolin, simulated inputs", "jack": "Tarvolin, PortAudio JACK input",
         "peer": "meterbridge -t dpm", "floor": "Qt Widgets painting floor (tv-paint-floor)",
         "headless": "Tarvolin --headless, JACK input", "headless-sim": "Tarvolin --headless, simulated inputs"}
PLAIN = ("peer", "floor")


def summarize(o, jobs, results, jack):
    med = lambda rs, k: statistics.median(r[k] for r in rs) if rs and k in rs[0] else None
    both = lambda j: med(results[j], "cpu") + med(results[j], "x_cpu")

    def name(j):
        m, rate = j
        if m == "peer":
            return "%s (its own ~%d frames/s)" % (NAMES[m], PEER_FPS)
        return NAMES[m] + ("" if rate is None else " at %d frames/s" % rate)

    print()
    print("%d s window, %s of %d run(s); CPU in %% of one core" % (o["seconds"], "median" if o["runs"] > 1 else "figures", o["runs"]))
    print("| meter | meter CPU | X server | together | context switches/s (main thread) | paints/s per bar (max) "
          "| blocks/s per bar (min-max) | dropped buffers | RSS MB | RSS without JACK's graph (anon) MB |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for j in jobs:
        m, rs = j[0], results[j]
        dropped = None if m in PLAIN else max(r["dropped"] for r in rs)
        print("| %s | %.2f | %.2f | **%.2f** | %.0f (%.0f) | %s | %s | %s | %.1f | %.1f (%.1f) |" % (
            name(j), med(rs, "cpu"), med(rs, "x_cpu"), both(j), med(rs, "cs"), med(rs, "cs_main"),
            fmt(med(rs, "paints_max"), "%.1f") + ("" if m in PLAIN else " (mean %.1f)" % med(rs, "paints_mean")),
            "-" if m in PLAIN else "%.1f-%.1f" % (med(rs, "blocks_min"), med(rs, "blocks_max")),
            fmt(dropped, "%d"), med(rs, "rss_mb"), med(rs, "own_mb"), med(rs, "anon_mb")))
    if jack:
        print("JACK server xruns during the windows: %d" % sum(r["xruns"] for rs in results.values() for r in rs))
    # Ratios within one run hold better than the percentages, which follow
    # the machine's speed of the moment: each meter against the floor at its
    # own rate, and against meterbridge at the rate nearest meterbridge's.
    meters = [j for j in jobs if j[0] in ("sim", "jack")]
    nearest = min(o["rates"], key=lambda r: abs(r - PEER_FPS))
    for j in meters:
        f = ("floor", j[1])
        if f in results and both(f) > 0:
            print("%s / the floor at %d frames/s (program + X): %.2f" % (name(j), j[1], both(j) / both(f)))
        if ("peer", None) in results and j[1] == nearest and both(("peer", None)) > 0:
            print("%s / %s (program + X): %.2f" % (name(j), name(("peer", None)), both(j) / both(("peer", None))))
    # The targets: at meterbridge's rate no more than meterbridge; at 60
    # frames/s no more than 1.2 x the floor; resident size (less JACK's
    # graph) within the floor's + 10 MB; headless within 0.5 % and 20 MB.
    verdict = lambda ok: "met" if ok else "NOT met"
    for j in meters:
        if j[0] != "jack":
            continue
        if j[1] == PEER_FPS and ("peer", None) in results:
            print("target at %d frames/s, meter + X <= meterbridge + X: %s" % (PEER_FPS, verdict(both(j) <= both(("peer", None)))))
        f = ("floor", j[1])
        if f in results:
            if j[1] == 60:
                print("target at 60 frames/s, meter + X <= 1.2 x floor + X: %s (%.2f)" % (verdict(both(j) <= 1.2 * both(f)), both(j) / both(f)))
            own, fown = med(results[j], "own_mb"), med(results[f], "own_mb")
            print("target at %d frames/s, RSS without JACK's graph <= floor + 10 MB: %s (%.1f MB against %.1f MB)"
                  % (j[1], verdict(own <= fown + 10), own, fown))
    for j in jobs:
        if j[0] == "headless":
            cpu, own = med(results[j], "cpu"), med(results[j], "own_mb")
            print("target headless on JACK: CPU <= 0.5 %%: %s (%.2f %%); RSS without JACK's graph <= 20 MB: %s (%.1f MB)"
                  % (verdict(cpu <= 0.5), cpu, verdict(own <= 20), own))
    bad = [label(*j) for j in jobs if j[0] not in PLAIN and any(
        r["dropped"] or r["blocks_min"] < 928.1 or r["blocks_max"] > 946.9 for r in results[j])]
    if bad:
        print("NOT met (937.5 +- 1 %% blocks/s per bar, no dropped buffer): %s" % ", ".join(bad))

main()
PY
