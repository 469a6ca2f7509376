// The program's command line, parsed without Qt so tests can drive it.
#pragma once

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
    std::string settingsFile;              // --settings FILE
    std::vector<std::pair<std::string, std::string>> sets;  // --set NAME=VALUE, in order
    std::map<int, std::string> simInputs;  // --sim-input K=SIGNAL, K = 1 ... 12
    std::string screenshot;                // --screenshot FILE
    int screenshotAfterMs = 1500;          // --after MS
    std::optional<double> runForSeconds;   // --run-for SECONDS
    std::string logOut;                    // --log-out FILE: silence log lines appended
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
