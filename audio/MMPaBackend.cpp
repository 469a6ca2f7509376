#include "audio/MMPaBackend.h"

#include "audio/MMJackCapture.h"

#include <portaudio.h>

#include <chrono>
#include <cmath>

#include <cstdlib>
#include <cstring>

#ifdef TARVOLIN_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif
#ifdef TARVOLIN_HAVE_JACK
#include <jack/jack.h>
#endif

namespace {

#ifdef TARVOLIN_HAVE_ALSA
void alsaQuiet(const char*, int, const char*, int, const char*, ...) {}
#endif
#ifdef TARVOLIN_HAVE_JACK
void jackQuiet(const char*) {}
#endif

}  // namespace

void SilenceAudioLibraryNoise()
{
#ifdef TARVOLIN_HAVE_ALSA
    snd_lib_error_set_handler(alsaQuiet);
#endif
#ifdef TARVOLIN_HAVE_JACK
    jack_set_error_function(jackQuiet);
    jack_set_info_function(jackQuiet);
#endif
    // Never start a JACK server as a side effect of listing devices.
    setenv("JACK_NO_START_SERVER", "1", 0);
}

TMMPaBackend::TMMPaBackend()
{
    SilenceAudioLibraryNoise();
    const PaError err = Pa_Initialize();
    if (err != paNoError) {
        mInitError = Pa_GetErrorText(err);
        return;
    }
    const int n = Pa_GetDeviceCount();
    for (int i = 0; i < n; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info && info->maxOutputChannels > 0) mOutputs.push_back(i);
    }
}

// The device watch's answers, per JACK client name, reused for a second: the
// pairs of one client cost one query (~40 us) of the server a second.
struct TMMPaBackend::TJackWatch {
    struct TAnswer {
        std::string name;
        std::chrono::steady_clock::time_point at;
        int present = 0;
    };
    std::vector<TAnswer> answers;

    // -1: no server to ask, else whether `name` has output ports.
    int HasOutputs(const std::string& name)
    {
        const auto now = std::chrono::steady_clock::now();
        for (const TAnswer& a : answers)
            if (a.name == name && now - a.at < std::chrono::seconds(1)) return a.present;
        const int present = TMMJackCapture::HasOutputs(name);
        for (TAnswer& a : answers)
            if (a.name == name) {
                a = {name, now, present};
                return present;
            }
        answers.push_back({name, now, present});
        return present;
    }
};

TMMPaBackend::~TMMPaBackend() = default;

bool TMMPaBackend::DevicePresent(int pa)
{
#ifdef TARVOLIN_HAVE_JACK
    const PaDeviceInfo* info = pa >= 0 ? Pa_GetDeviceInfo(pa) : nullptr;
    const PaHostApiInfo* api = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    if (!api || api->type != paJACK || !info->name) return true;
    if (!mJack) mJack = std::make_unique<TJackWatch>();
    // No answer from the server: the stream's own stall check decides.
    return mJack->HasOutputs(info->name) != 0;
#else
    (void)pa;
    return true;
#endif
}

int TMMPaBackend::DefaultIndex(bool input)
{
    const PaDeviceIndex d = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
    return d == paNoDevice ? -1 : d;
}

int TMMPaBackend::OutputIndex(int id) const
{
    if (!Initialized()) return -1;
    if (id == -1) return DefaultIndex(false);
    if (id < 0 || id >= static_cast<int>(mOutputs.size())) return -1;
    return mOutputs[static_cast<size_t>(id)];
}

MMRESULT TMMPaBackend::Describe(int pa, bool input, WaveCaps& caps)
{
    const PaDeviceInfo* info = pa >= 0 ? Pa_GetDeviceInfo(pa) : nullptr;
    if (!info) return MMSYSERR_NODRIVER;
    const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
    const int channels = input ? info->maxInputChannels : info->maxOutputChannels;
    caps.szPname = info->name ? info->name : "";
    caps.hostApi = api && api->name ? api->name : "";
    caps.wChannels = static_cast<uint16_t>(channels);
    caps.dwFormats = StandardFormatBits(channels >= 1, channels >= 2, true, true);
    caps.dwSampleRate = info->defaultSampleRate > 0 ? static_cast<uint32_t>(std::lround(info->defaultSampleRate)) : 0;
    return MMSYSERR_NOERROR;
}

MMRESULT TMMPaBackend::CheckOpen(int pa, const WaveFormat& fmt)
{
    if (pa < 0) return MMSYSERR_BADDEVICEID;
    if (fmt.wFormatTag != WAVE_FORMAT_PCM || (fmt.wBitsPerSample != 8 && fmt.wBitsPerSample != 16) ||
        fmt.nChannels == 0 || fmt.nBlockAlign != fmt.nChannels * fmt.wBitsPerSample / 8)
        return WAVERR_BADFORMAT;
    return Pa_GetDeviceInfo(pa) ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

MMRESULT TMMPaBackend::ErrorText(MMRESULT err, std::string& text)
{
    if (err < 0) {
        if (err == paUnanticipatedHostError) {
            const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
            if (host && host->errorText && *host->errorText) {
                text = host->errorText;
                return MMSYSERR_NOERROR;
            }
        }
        const char* t = Pa_GetErrorText(static_cast<PaError>(err));
        if (!t) return MMSYSERR_BADERRNUM;
        text = t;
        return MMSYSERR_NOERROR;
    }
    if (err == kPaDeviceGone) {
        text = "The audio device is no longer available.";
        return MMSYSERR_NOERROR;
    }
    return StandardErrorText(err, text);
}

bool ParseAlsaHwName(const std::string& name, int& card, int& device)
{
    const size_t at = name.rfind("(hw:");
    if (at == std::string::npos || name.back() != ')') return false;
    const std::string inner = name.substr(at + 4, name.size() - at - 5);
    const size_t comma = inner.find(',');
    if (comma == std::string::npos || comma == 0 || comma + 1 == inner.size()) return false;
    for (size_t i = 0; i < inner.size(); ++i)
        if (i != comma && (inner[i] < '0' || inner[i] > '9')) return false;
    if (comma > 3 || inner.size() - comma - 1 > 3) return false;
    card = std::stoi(inner.substr(0, comma));
    device = std::stoi(inner.substr(comma + 1));
    return true;
}

std::string TMMPaBackend::AlsaStableName(const std::string& paName)
{
    int card = 0, device = 0;
    if (!ParseAlsaHwName(paName, card, device)) return {};
#ifdef TARVOLIN_HAVE_ALSA
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, ("hw:" + std::to_string(card)).c_str(), 0) < 0) return {};
    snd_ctl_card_info_t* info = nullptr;
    std::string id;
    if (snd_ctl_card_info_malloc(&info) == 0) {
        if (snd_ctl_card_info(ctl, info) == 0 && snd_ctl_card_info_get_id(info)) id = snd_ctl_card_info_get_id(info);
        snd_ctl_card_info_free(info);
    }
    snd_ctl_close(ctl);
    if (id.empty()) return {};
    return "hw:CARD=" + id + ",DEV=" + std::to_string(device);
#else
    return {};
#endif
}

MMRESULT TMMPaBackend::ClosePa(void* stream)
{
    const PaError err = Pa_CloseStream(stream);
    return err == paNoError ? MMSYSERR_NOERROR : err;
}
