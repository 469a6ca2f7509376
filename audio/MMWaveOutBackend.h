// Choosing the program's output back end (it follows the capture back end)
// and listing its devices.
#pragma once

#include "audio/MMWaveInDevice.h"
#include "audio/MMWaveOutDevice.h"

#include <memory>
#include <vector>

// Simulated outputs when the capture back end is the simulated one,
// otherwise PortAudio's outputs.
std::unique_ptr<TMMWaveOutDevice> CreateWaveOutBackend(const TMMWaveInDevice& capture);

// The process-wide output back end used by players created without one; the
// caller keeps ownership. Until one is set, simulated outputs are used.
void SetWaveOutDevice(TMMWaveOutDevice* device);
TMMWaveOutDevice& WaveOutDevice();

// The items of an output list: item 0 the mapper (id -1), item i device i-1.
std::vector<TMMDeviceInfo> ListWaveOutDevices(TMMWaveOutDevice& device);
