// Program entry.
#include "app/CommandLine.h"
#include "app/SettingsCommandLine.h"
#include "app/qt/DemoChain.h"
#include "app/qt/Program.h"
#include "audio/MMAudioBackend.h"
#include "audio/MMWavIn.h"
#include "audio/qt/MMQtPoster.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <iostream>

static bool haveDisplay()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return true;
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> qtArgs;
    CommandLine cl;
    try {
        cl = ParseCommandLine(args, &qtArgs);
    } catch (const ECommandLineError& e) {
        std::cerr << "tarvolin: " << e.what() << "\n";
        return 2;
    }
    if (cl.help) {
        std::cout << CommandLineUsage();
        return 0;
    }
    if (cl.version) {
        std::cout << "Tarvolin " << TARVOLIN_VERSION << "\n";
        return 0;
    }
    // The store file and the --set values, before any window reads a setting.
    if (!ApplySettingsOptions(cl, std::cerr)) return 2;
    // Without a display Qt would abort: say so in one line, before anything else is said.
    if (!cl.listDevices && !haveDisplay()) {
        std::cerr << "tarvolin: no display found (DISPLAY and WAYLAND_DISPLAY are unset); "
                     "to run without one, start it as: QT_QPA_PLATFORM=offscreen tarvolin\n";
        return 1;
    }
    // The capture back end, before any recorder exists.
    std::unique_ptr<TMMWaveInDevice> audio;
    try {
        audio = CreateWaveInBackend(cl.audio, cl.simInputs, std::cerr);
    } catch (const EMMError& e) {
        std::cerr << "tarvolin: " << e.what() << "\n";
        return 2;
    }
    SetWaveInDevice(audio.get());
    if (cl.listDevices) {
        PrintDeviceList(*audio, std::cout);
        return 0;
    }
    QApplication app(argc, argv);
    TMMQtPoster poster;  // device buffers reach the GUI thread through it
    poster.Install();
    if (cl.demoChain) return RunDemoChain(app, cl);
    return RunProgram(app, cl);
}
