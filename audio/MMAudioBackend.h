// Choosing the program's capture back end and listing its devices.
#pragma once

#include "audio/MMNetWaveIn.h"
#include "audio/MMWaveInDevice.h"

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class EMMBackendError : public EMMError {
public:
    using EMMError::EMMError;
};

// choice: "portaudio", "simulated" or "" (PortAudio when it lists an input
// device, otherwise the simulated one, saying so on `notes`). simInputs maps
// simulated device K (1 ... 12) to its signal description. The simulated back
// end runs on its real-time clock. Chosen explicitly it plays the steady test
// tones (DefaultSimSignalText); as the fallback for a machine without input
// devices it plays programme-like material (ProgrammeSimSignalText) on every
// input simInputs leaves out. Throws EMMBackendError for a bad signal.
// With `net`, the network streams come beside that back end's devices
// (TMMCombinedWaveIn): those of its SDP files, and those announced on its
// interface (interface "none": no listening); with neither, none. Without
// GStreamer they are left out with a note, unless SDP files ask for them
// (EMMBackendError).
std::unique_ptr<TMMWaveInDevice> CreateWaveInBackend(const std::string& choice,
                                                     const std::map<int, std::string>& simInputs,
                                                     std::ostream& notes,
                                                     const TMMNetWaveIn::TOptions* net = nullptr);
// The network streams of a back end CreateWaveInBackend made, or null.
TMMNetWaveIn* NetworkStreams(TMMWaveInDevice& device);

// The device recorder k (1 ... 12) records while no choice is stored: on the
// simulated back end simulated input k, so every pair shows its own signal;
// otherwise device 0.
int DefaultRecorderDevice(const TMMWaveInDevice& device, int k);
// Names of the input (output) devices 0 ... n-1 in id order, the default device left out.
std::vector<std::string> InputDeviceNames(TMMWaveInDevice& device);
std::vector<std::string> OutputDeviceNames(TMMWaveInDevice& device);

// Prints the input and output devices with the ids the setup dialog uses,
// the default device (-1) first.
void PrintDeviceList(TMMWaveInDevice& device, std::ostream& out);
