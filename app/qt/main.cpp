// Program entry.
#include "app/CommandLine.h"
#include "app/SettingNames.h"
#include "app/SettingsCommandLine.h"
#include "app/StoreRegistry.h"
#include "app/qt/DemoChain.h"
#include "app/qt/Headless.h"
#include "app/qt/Program.h"
#include "audio/MMAudioBackend.h"
#include "audio/MMSimWaveOut.h"
#include "audio/MMWaveOutBackend.h"
#include "audio/MMWavIn.h"
#include "audio/qt/MMQtPoster.h"
#include "base/qt/MMXTransfer.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <sstream>

// How long --list-devices listens for SAP announcements.
constexpr int kListenForAnnouncementsMs = 2000;

static bool haveDisplay()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return true;
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

// --sim-output-capture: what the simulated output played, as a WAVE file.
// Of the two simulated devices the one that played the most is written.
static void writeOutputCapture(TMMWaveOutDevice* output, const std::string& path)
{
    const auto* sim = dynamic_cast<const TMMSimulatedWaveOut*>(output);
    if (!sim) {
        std::cerr << "tarvolin: --sim-output-capture: the output back end is not the simulated one; "
                  << path << " not written\n";
        return;
    }
    int device = 0;
    for (int d = 1; d < TMMSimulatedWaveOut::DeviceCount; ++d)
        if (sim->Played(d).size() > sim->Played(device).size()) device = d;
    std::string error;
    if (!WriteSimOutputCapture(*sim, device, path, error))
        std::cerr << "tarvolin: --sim-output-capture: " << error << "\n";
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
    if (!cl.checkSkin.empty()) return CheckSkinFile(cl.checkSkin, std::cout, std::cerr);
    // The store file and the --set values, before any window reads a setting.
    if (!ApplySettingsOptions(cl, std::cerr)) return 2;
    // Without a display Qt would abort: say so in one line, before anything else is said.
    if (!cl.listDevices && !cl.headless && !haveDisplay()) {
        std::cerr << "tarvolin: no display found (DISPLAY and WAYLAND_DISPLAY are unset); "
                     "to run without one, start it as: QT_QPA_PLATFORM=offscreen tarvolin\n";
        return 1;
    }
    // The capture back end, before any recorder exists.
    std::unique_ptr<TMMWaveInDevice> audio;
    try {
        TRegistryStore store;
        const TMMNetWaveIn::TOptions net = NetworkOptions(cl, store);
        audio = CreateWaveInBackend(cl.audio, cl.simInputs, std::cerr, &net);
    } catch (const EMMError& e) {
        std::cerr << "tarvolin: " << e.what() << "\n";
        return 2;
    }
    SetWaveInDevice(audio.get());
    // The output back end of the alarm sound follows the capture one.
    std::unique_ptr<TMMWaveOutDevice> output;
    try {
        output = CreateWaveOutBackend(*audio);
    } catch (const EMMError& e) {
        std::cerr << "tarvolin: " << e.what() << "\n";
        return 2;
    }
    SetWaveOutDevice(output.get());
    if (cl.listDevices) {
        // The inputs as the capture back end lists them; the outputs are
        // those of the output back end the alarm sound plays on.
        std::ostringstream list;
        // Announcements come every few seconds or more: listen a while first.
        if (TMMNetWaveIn* streams = NetworkStreams(*audio)) streams->AwaitAnnouncements(kListenForAnnouncementsMs);
        PrintDeviceList(*audio, list);
        const std::string text = list.str();
        std::cout << text.substr(0, text.find("Output devices ("));
        std::cout << "Output devices (" << output->BackendName() << "):\n";
        const auto outputs = output->OutputDevices();
        if (outputs.empty()) std::cout << "  (none)\n";
        for (const TMMDeviceInfo& d : outputs)
            std::cout << std::setw(4) << d.id << "  " << d.name << (d.id < 0 ? "  (default)" : "") << "\n";
        return 0;
    }
    if (cl.headless) {
        QCoreApplication app(argc, argv);
        TMMQtPoster poster;
        poster.Install();
        return RunHeadless(app, cl);
    }
    const bool xChoice = ChooseXTransfer();
    QApplication app(argc, argv);
    EndXTransferChoice(xChoice);
    TMMQtPoster poster;  // device buffers reach the GUI thread through it
    poster.Install();
    if (cl.demoChain) return RunDemoChain(app, cl);
    const int rc = RunProgram(app, cl);
    if (!cl.simOutputCapture.empty()) writeOutputCapture(output.get(), cl.simOutputCapture);
    return rc;
}
