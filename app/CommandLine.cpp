#include "app/CommandLine.h"

#include "base/DisplayRate.h"
#include "labels_skins/SkinFile.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include <algorithm>
#include <ostream>

namespace {

int parseInt(const std::string& opt, const std::string& v, int lo, int hi)
{
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || errno != 0 || n < lo || n > hi)
        throw ECommandLineError(opt + ": expected an integer from " + std::to_string(lo) + " to " +
                                std::to_string(hi) + ", got '" + v + "'");
    return static_cast<int>(n);
}

double parseSeconds(const std::string& opt, const std::string& v)
{
    char* end = nullptr;
    const double d = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || !std::isfinite(d) || d <= 0)
        throw ECommandLineError(opt + ": expected a positive number of seconds, got '" + v + "'");
    return d;
}

std::string JoinedWindowNames()
{
    std::string text;
    for (const std::string& n : ScreenshotWindowNames()) text += (text.empty() ? "" : ", ") + n;
    return text;
}

}  // namespace

const std::vector<std::string>& ScreenshotWindowNames()
{
    static const std::vector<std::string> names = {"main",        "input",  "level", "labels",  "log",
                                                   "correlation", "skins",  "info",  "actions", "loudness"};
    return names;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args, std::vector<std::string>* rest)
{
    CommandLine cl;
    bool windowGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const std::string& opt) -> std::string {
            if (i + 1 >= args.size()) throw ECommandLineError(opt + ": missing value");
            return args[++i];
        };
        if (a == "--help" || a == "-h") cl.help = true;
        else if (a == "--version") cl.version = true;
        else if (a == "--list-devices") cl.listDevices = true;
        else if (a == "--demo-chain") cl.demoChain = true;
        else if (a == "--stats") cl.stats = true;
        else if (a == "--audio") {
            cl.audio = value(a);
            if (cl.audio != "portaudio" && cl.audio != "simulated")
                throw ECommandLineError("--audio: expected 'portaudio' or 'simulated', got '" + cl.audio + "'");
        } else if (a == "--sdp") {
            cl.sdpFiles.push_back(value(a));
            if (cl.sdpFiles.back().empty()) throw ECommandLineError("--sdp: expected an SDP file");
        } else if (a == "--net-interface") {
            cl.netInterface = value(a);
            if (cl.netInterface->empty()) throw ECommandLineError("--net-interface: expected an interface name or 'none'");
        } else if (a == "--settings") cl.settingsFile = value(a);
        else if (a == "--set") {
            const std::string v = value(a);
            const auto eq = v.find('=');
            if (eq == std::string::npos || eq == 0)
                throw ECommandLineError("--set: expected NAME=VALUE, got '" + v + "'");
            cl.sets.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        } else if (a == "--sim-input") {
            const std::string v = value(a);
            const auto eq = v.find('=');
            if (eq == std::string::npos)
                throw ECommandLineError("--sim-input: expected K=SIGNAL, got '" + v + "'");
            const int k = parseInt("--sim-input", v.substr(0, eq), 1, 12);
            cl.simInputs[k] = v.substr(eq + 1);
        } else if (a == "--screenshot") cl.screenshot = value(a);
        else if (a == "--screenshot-window") {
            cl.screenshotWindow = value(a);
            const auto& names = ScreenshotWindowNames();
            if (std::find(names.begin(), names.end(), cl.screenshotWindow) == names.end())
                throw ECommandLineError("--screenshot-window: unknown window '" + cl.screenshotWindow +
                                        "' (one of " + JoinedWindowNames() + ")");
            windowGiven = true;
        } else if (a == "--after") cl.screenshotAfterMs = parseInt(a, value(a), 0, 3600000);
        else if (a == "--run-for") cl.runForSeconds = parseSeconds(a, value(a));
        else if (a == "--log-out") cl.logOut = value(a);
        else if (a == "--sim-output-capture") cl.simOutputCapture = value(a);
        else if (a == "--status-port") cl.statusPort = parseInt(a, value(a), 1, 65535);
        else if (a == "--status-bind") {
            cl.statusBind = value(a);
            if (cl.statusBind.empty()) throw ECommandLineError("--status-bind: expected an IP address");
        } else if (a == "--status-token-file") {
            cl.statusTokenFile = value(a);
            if (cl.statusTokenFile.empty()) throw ECommandLineError("--status-token-file: expected a file");
        } else if (a == "--status-cert") cl.statusCert = value(a);
        else if (a == "--status-key") cl.statusKey = value(a);
        else if (a == "--display-rate") {
            const std::string v = value(a);
            cl.displayRate = parseInt(a, v, 1, 1000);
            if (!tv::IsDisplayRate(cl.displayRate))
                throw ECommandLineError("--display-rate: expected 60, 50, 30, 25 or 12, got '" + v + "'");
        } else if (a == "--headless") cl.headless = true;
        else if (a == "--check-skin") {
            cl.checkSkin = value(a);
            if (cl.checkSkin.empty()) throw ECommandLineError("--check-skin: expected a file");
        }
        else if (rest && !a.empty() && a[0] == '-' && a.rfind("--", 0) != 0) {
            rest->push_back(a);  // a Qt option such as -platform offscreen
            if (i + 1 < args.size() && args[i + 1][0] != '-') rest->push_back(args[++i]);
        } else
            throw ECommandLineError("unknown option '" + a + "' (see --help)");
    }
    if (cl.statusCert.empty() != cl.statusKey.empty())
        throw ECommandLineError("--status-cert and --status-key: give both or neither");
    if (windowGiven && cl.screenshot.empty())
        throw ECommandLineError("--screenshot-window: needs --screenshot FILE");
    if (windowGiven && (cl.headless || cl.demoChain))
        throw ECommandLineError(std::string("--screenshot-window: no windows to take with ") +
                                (cl.headless ? "--headless" : "--demo-chain"));
    return cl;
}

std::string CommandLineUsage()
{
    return "Usage: tarvolin [options]\n"
           "  --help                 show this text and exit\n"
           "  --version              show the version and exit\n"
           "  --list-devices         list the input and output devices with their ids and exit\n"
           "  --audio portaudio|simulated\n"
           "                         choose the audio back end (default: PortAudio when it has\n"
           "                         an input device, else simulated)\n"
           "  --sdp FILE             meter the network stream (RTP L16/L24) the SDP file describes,\n"
           "                         beside the back end's devices (repeatable; also the setting\n"
           "                         \"SDP Files\", file names separated by ';')\n"
           "  --net-interface NAME   the network interface to receive streams and SAP announcements\n"
           "                         on (default: the setting \"Network Interface\"); without one,\n"
           "                         or with 'none', no announcements are listened for\n"
           "  --sim-input K=SIGNAL   signal of simulated input K (1-12), left/right separated by '/':\n"
           "                         sine:HZ:DBFS[:PHASE_DEG], noise:DBFS[:SEED], silence,\n"
           "                         gated:HZ:DBFS:ON_MS:OFF_MS, file:PATH; a leading '-' inverts\n"
           "                         (sine:997:-6/-sine:997:-6 is left = -right)\n"
           "  --settings FILE        use FILE as the settings store\n"
           "  --set NAME=VALUE       write a setting before start (repeatable)\n"
           "  --screenshot FILE      save the main window (or --screenshot-window) as PNG and exit\n"
           "                         without saving settings\n"
           "  --screenshot-window NAME\n"
           "                         the window --screenshot saves (default main): main, input,\n"
           "                         level, labels, log, correlation, skins, info, actions,\n"
           "                         loudness\n"
           "  --after MS             delay before the screenshot (default 1500)\n"
           "  --run-for SECONDS      exit after that long, saving settings as a normal close\n"
           "  --stats                print run statistics as JSON at exit\n"
           "  --log-out FILE         append every silence log line to FILE as it is written\n"
           "  --sim-output-capture FILE\n"
           "                         at exit, write what the simulated output played (the alarm\n"
           "                         sound) to FILE as a 16-bit WAVE file\n"
           "  --status-port N        serve GET /status (JSON), GET /metrics (Prometheus) and the live\n"
           "                         page (GET /) on port N\n"
           "  --status-bind ADDR     address of the status endpoint (default 127.0.0.1); the live\n"
           "                         page is at http://ADDR:N/; any address but loopback needs\n"
           "                         an access token\n"
           "  --status-token-file FILE\n"
           "                         the access token of the status endpoint and live page: the\n"
           "                         first line of FILE (else the setting \"Status Token\")\n"
           "  --status-cert FILE, --status-key FILE\n"
           "                         serve the status endpoint and live page over TLS only\n"
           "                         (https://, wss://) with this PEM certificate and key\n"
           "  --display-rate N       paint bars, peak marks, scopes and the correlation strip N times\n"
           "                         a second: 60, 50, 30, 25 or 12 (default: the setting\n"
           "                         \"Display Rate\", else 60; never faster than the screen)\n"
           "  --headless             run the meter without a window until SIGINT or SIGTERM\n"
           "  --check-skin FILE      check a skin file (.skn): exit 0 when it can be used, else\n"
           "                         name the line and the fault and exit 1\n"
           "  --demo-chain           show one simulated recorder feeding two bars and two scopes\n";
}

int CheckSkinFile(const std::string& path, std::ostream& out, std::ostream& err)
{
    const TSkinParseResult r = ReadSkinFile(path);
    if (!r.ok) {
        err << "tarvolin: " << SkinFaultMessage(path, r) << "\n";
        return 1;
    }
    out << "skin " << path << ": \"" << r.model.name << "\" can be used\n";
    return 0;
}
