// Choosing the program's capture back end and listing its devices.
#pragma once

#include "audio/MMWaveInDevice.h"

#include <map>
#include <memory>
#include <ostream>
#include <string>

class EMMBackendError : public EMMError {
public:
    using EMMError::EMMError;
};

// choice: "portaudio", "simulated" or "" (PortAudio when it lists an input
// device, otherwise the simulated one, saying so on `notes`). simInputs maps
// simulated device K (1 ... 12) to its signal description. The simulated back
// end runs on its real-time clock. Throws EMMBackendError for a bad signal.
std::unique_ptr<TMMWaveInDevice> CreateWaveInBackend(const std::string& choice,
                                                     const std::map<int, std::string>& simInputs,
                                                     std::ostream& notes);

// Prints the input and output devices with the ids the setup dialog uses,
// the default device (-1) first.
void PrintDeviceList(TMMWaveInDevice& device, std::ostream& out);
