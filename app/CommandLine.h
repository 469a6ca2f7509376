// The program's command line, parsed without Qt so tests can drive it.
#pragma once

#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct CommandLine {
    bool help = false;
    bool version = false;
    bool listDevices = false;
    bool demoChain = false;
    bool stats = false;
    std::string audio;                     // "", "portaudio" or "simulated"
    std::vector<std::string> sdpFiles;     // --sdp FILE (repeatable)
    std::optional<std::string> netInterface;  // --net-interface NAME ("none": no SAP listening)
    std::string settingsFile;              // --settings FILE
    std::vector<std::pair<std::string, std::string>> sets;  // --set NAME=VALUE, in order
    std::map<int, std::string> simInputs;  // --sim-input K=SIGNAL, K = 1 ... 12
    std::string screenshot;                // --screenshot FILE
    std::string screenshotWindow = "main"; // --screenshot-window NAME: the window --screenshot takes
    int screenshotAfterMs = 1500;          // --after MS
    std::optional<double> runForSeconds;   // --run-for SECONDS
    std::string logOut;                    // --log-out FILE: silence log lines appended
    std::string simOutputCapture;          // --sim-output-capture FILE: WAVE written at exit
    int statusPort = 0;                    // --status-port N: the status endpoint (0: none)
    std::string statusBind = "127.0.0.1";  // --status-bind ADDR
    std::string statusTokenFile;           // --status-token-file FILE: the access token (first line)
    std::string statusCert, statusKey;     // --status-cert FILE, --status-key FILE: TLS (PEM)
    int displayRate = 0;                   // --display-rate N: frames per second (0: the setting)
    bool headless = false;                 // --headless: no window, until SIGINT/SIGTERM
    std::string checkSkin;                 // --check-skin FILE: check a skin file and exit
};

class ECommandLineError : public std::exception {
public:
    explicit ECommandLineError(std::string text) : mText(std::move(text)) {}
    const char* what() const noexcept override { return mText.c_str(); }

private:
    std::string mText;
};

// Parses argv[1 ...]; throws ECommandLineError with a one-line message.
// Options Qt itself understands (-platform, -style ...) are left in `rest`.
CommandLine ParseCommandLine(const std::vector<std::string>& args, std::vector<std::string>* rest = nullptr);

std::string CommandLineUsage();

// --check-skin FILE: parses the skin file; a line naming the skin on `out`
// and 0 when it can be used, else "tarvolin: skin FILE: line N: what" on
// `err` and 1.
int CheckSkinFile(const std::string& path, std::ostream& out, std::ostream& err);

// The windows --screenshot-window can take, in the order of the usage text:
// main, input, level, labels, log, correlation, skins, info, actions, loudness.
const std::vector<std::string>& ScreenshotWindowNames();
