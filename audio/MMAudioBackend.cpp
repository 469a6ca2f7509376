#include "audio/MMAudioBackend.h"

#include "audio/MMCombinedWaveIn.h"
#include "audio/MMPaWaveIn.h"
#include "audio/MMSimWaveIn.h"

#include <algorithm>
#include <iomanip>

namespace {

std::unique_ptr<TMMWaveInDevice> simulated(const std::map<int, std::string>& simInputs, bool programme)
{
    auto sim = std::make_unique<TMMSimulatedWaveIn>(TMMSimulatedWaveIn::Clock::RealTime);
    if (programme)
        for (int k = 1; k <= TMMSimulatedWaveIn::DeviceCount; ++k) sim->SetSignal(k - 1, ProgrammeSimSignalText(k));
    for (const auto& [k, text] : simInputs) {
        if (k < 1 || k > TMMSimulatedWaveIn::DeviceCount)
            throw EMMBackendError("--sim-input: there is no simulated input " + std::to_string(k) + " (1 ... 12)");
        try {
            sim->SetSignal(k - 1, text);
        } catch (const ESimSignalError& e) {
            throw EMMBackendError("--sim-input " + std::to_string(k) + ": " + e.what());
        }
    }
    return sim;
}

}  // namespace

namespace {

std::unique_ptr<TMMWaveInDevice> firstBackend(const std::string& choice, const std::map<int, std::string>& simInputs,
                                              std::ostream& notes)
{
    if (choice == "simulated") return simulated(simInputs, false);
    if (choice != "" && choice != "portaudio")
        throw EMMBackendError("unknown audio back end '" + choice + "' (portaudio or simulated)");
    auto pa = std::make_unique<TMMPortAudioWaveIn>();
    if (choice == "portaudio") {
        if (!pa->Initialized()) notes << "tarvolin: PortAudio did not start: " << pa->InitError() << "\n";
        if (!simInputs.empty()) notes << "tarvolin: --sim-input has no effect on the PortAudio inputs\n";
        return pa;
    }
    if (pa->Initialized() && pa->GetNumDevs() > 0) {
        if (!simInputs.empty()) notes << "tarvolin: --sim-input has no effect on the PortAudio inputs\n";
        return pa;
    }
    notes << "tarvolin: PortAudio lists no input device; using the simulated inputs\n";
    pa.reset();
    return simulated(simInputs, true);
}

}  // namespace

std::unique_ptr<TMMWaveInDevice> CreateWaveInBackend(const std::string& choice,
                                                     const std::map<int, std::string>& simInputs,
                                                     std::ostream& notes, const TMMNetWaveIn::TOptions* net)
{
    auto first = firstBackend(choice, simInputs, notes);
    // Nothing to receive (no SDP file, no interface to hear announcements
    // on): no receiver, no GStreamer.
    if (!net || (!net->discover && net->sdpFiles.empty())) return first;
    std::string why;
    if (!TMMNetWaveIn::Available(&why)) {
        if (!net->sdpFiles.empty()) throw EMMBackendError("--sdp: network streams cannot be received: " + why);
        notes << "tarvolin: no network streams: " << why << "\n";
        return first;
    }
    std::unique_ptr<TMMNetWaveIn> streams;
    try {
        streams = std::make_unique<TMMNetWaveIn>(*net);
    } catch (const ENetStreamError& e) {
        throw EMMBackendError(std::string("--sdp: ") + e.what());
    }
    return std::make_unique<TMMCombinedWaveIn>(std::move(first), std::move(streams));
}

TMMNetWaveIn* NetworkStreams(TMMWaveInDevice& device)
{
    auto* combined = dynamic_cast<TMMCombinedWaveIn*>(&device);
    return combined ? &combined->Net() : nullptr;
}

int DefaultRecorderDevice(const TMMWaveInDevice& device, int k)
{
    if (device.BackendName() == "simulated" && k >= 1 && k <= TMMSimulatedWaveIn::DeviceCount) return k - 1;
    return 0;
}

namespace {

std::vector<std::string> NamesOf(const std::vector<TMMDeviceInfo>& list)
{
    std::vector<std::string> names;
    for (const TMMDeviceInfo& d : list)
        if (d.id >= 0) {
            names.resize(std::max(names.size(), static_cast<size_t>(d.id) + 1));
            names[static_cast<size_t>(d.id)] = d.name;
        }
    return names;
}

}  // namespace

std::vector<std::string> InputDeviceNames(TMMWaveInDevice& device) { return NamesOf(device.InputDevices()); }
std::vector<std::string> OutputDeviceNames(TMMWaveInDevice& device) { return NamesOf(device.BackendOutputDevices()); }

void PrintDeviceList(TMMWaveInDevice& device, std::ostream& out)
{
    auto line = [&](const TMMDeviceInfo& d, const std::string& extra) {
        out << std::setw(4) << d.id << "  " << d.name;
        if (!d.hostApi.empty()) out << "  [" << d.hostApi << ", " << d.channels << " ch]";
        if (d.id < 0) out << "  (default)";
        if (!extra.empty()) out << "  " << extra;
        out << "\n";
    };
    auto* combined = dynamic_cast<TMMCombinedWaveIn*>(&device);
    auto* sim = dynamic_cast<TMMSimulatedWaveIn*>(combined ? &combined->First() : &device);
    out << "Input devices (" << device.BackendName() << "):\n";
    const auto inputs = device.InputDevices();
    if (inputs.empty()) out << "  (none)\n";
    for (const auto& d : inputs)
        line(d, sim && d.id >= 0 && d.id < TMMSimulatedWaveIn::DeviceCount ? sim->Signal(d.id) : "");
    out << "Output devices (" << device.BackendName() << "):\n";
    const auto outputs = device.BackendOutputDevices();
    if (outputs.empty()) out << "  (none)\n";
    for (const auto& d : outputs) line(d, "");
}
