#include "audio/MMJackCapture.h"

#ifdef TARVOLIN_HAVE_JACK
#include <jack/jack.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

namespace {

constexpr size_t kBlockFrames = 256;
constexpr int kMaxCaptures = 64;
constexpr int kMaxChannels = 64;

// The process's JACK client and the captures it runs.
struct TJackHub {
    jack_client_t* client = nullptr;
    uint64_t generation = 0;  // counts the clients opened
    std::atomic<bool> down{false};
    std::array<std::atomic<TMMJackCapture*>, kMaxCaptures> captures{};
    std::atomic<uint64_t> seq{0};  // odd while the process callback runs

    // GUI thread: the live client, opened when needed; nullptr without server.
    jack_client_t* Client()
    {
        if (down.load()) Drop();
        if (client) return client;
        jack_status_t status;
        client = jack_client_open("tarvolin", JackNoStartServer, &status);
        if (!client) return nullptr;
        ++generation;
        jack_set_process_callback(client, Process, this);
        // Only an active client hears of the server's death.
        jack_on_shutdown(client, Shutdown, this);
        if (jack_activate(client) != 0) Drop();
        return client;
    }
    void Drop()
    {
        if (client) jack_client_close(client);
        client = nullptr;
        down.store(false);
    }
    int Attach(TMMJackCapture* c)
    {
        for (int i = 0; i < kMaxCaptures; ++i) {
            TMMJackCapture* none = nullptr;
            if (captures[static_cast<size_t>(i)].compare_exchange_strong(none, c)) return i;
        }
        return -1;
    }
    // The capture is not delivered to any more when this returns.
    void Detach(int slot)
    {
        captures[static_cast<size_t>(slot)].store(nullptr);
        const uint64_t s = seq.load();
        if (!(s & 1)) return;
        while (seq.load() == s && !down.load()) std::this_thread::yield();
    }

    static int Process(jack_nframes_t frames, void* arg)
    {
        auto* hub = static_cast<TJackHub*>(arg);
        hub->seq.fetch_add(1);
        for (auto& slot : hub->captures)
            if (TMMJackCapture* c = slot.load()) c->Deliver(frames);
        hub->seq.fetch_add(1);
        return 0;
    }
    // On the client's thread, which also runs Process: never during it.
    static void Shutdown(void* arg)
    {
        auto* hub = static_cast<TJackHub*>(arg);
        hub->down.store(true);
        for (auto& slot : hub->captures)
            if (TMMJackCapture* c = slot.load()) c->Lose();
    }
};

TJackHub& hub()
{
    static auto* h = new TJackHub;  // never destroyed: CloseClient ends it
    return *h;
}

// "^NAME:" with NAME's regular-expression characters escaped.
std::string portPattern(const std::string& client)
{
    std::string pattern = "^";
    for (char c : client) {
        if (std::strchr("\\^$.|?*+()[]{}", c)) pattern += '\\';
        pattern += c;
    }
    return pattern + ":";
}

}  // namespace

bool TMMJackCapture::Available() { return true; }

uint32_t TMMJackCapture::ServerRate()
{
    jack_client_t* c = hub().Client();
    return c ? jack_get_sample_rate(c) : 0;
}

int TMMJackCapture::HasOutputs(const std::string& name)
{
    jack_client_t* c = hub().Client();
    if (!c) return -1;
    const char** ports = jack_get_ports(c, portPattern(name).c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    const bool any = ports && ports[0];
    if (ports) jack_free(ports);
    return any ? 1 : 0;
}

void TMMJackCapture::CloseClient() { hub().Drop(); }

MMRESULT TMMJackCapture::Open(const std::string& source, int channels, uint32_t rate, TMMSharedCapture* capture,
                              std::atomic<bool>* dead)
{
    Close();
    if (channels <= 0 || channels > kMaxChannels) return WAVERR_BADFORMAT;
    TJackHub& h = hub();
    jack_client_t* c = h.Client();
    if (!c) return MMSYSERR_NODRIVER;
    if (jack_get_sample_rate(c) != rate) return WAVERR_BADFORMAT;
    const char** from = jack_get_ports(c, portPattern(source).c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    int found = 0;
    while (from && from[found]) ++found;
    if (found < channels) {
        if (from) jack_free(from);
        return MMSYSERR_NODRIVER;
    }
    mGeneration = h.generation;
    mChannels = channels;
    mCapture = capture;
    mDead = dead;
    mBlock.assign(kBlockFrames * static_cast<size_t>(channels), 0);
    MMRESULT r = MMSYSERR_NOERROR;
    for (int i = 0; i < channels && r == MMSYSERR_NOERROR; ++i) {
        // Unique among our ports: the first free name of the form in_N.
        jack_port_t* p = nullptr;
        for (int n = 1; !p && n < 100000; ++n) {
            const std::string name = "in_" + std::to_string(n);
            if (!jack_port_by_name(c, (std::string(jack_get_client_name(c)) + ":" + name).c_str()))
                p = jack_port_register(c, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        }
        if (p)
            mPorts.push_back(p);
        else
            r = MMSYSERR_NOMEM;
    }
    if (r == MMSYSERR_NOERROR) {
        mSlot = h.Attach(this);
        if (mSlot < 0) r = MMSYSERR_ALLOCATED;
    }
    if (r != MMSYSERR_NOERROR) {
        jack_free(from);
        Close();
        return r;
    }
    for (int i = 0; i < channels; ++i)
        jack_connect(c, from[i], jack_port_name(static_cast<jack_port_t*>(mPorts[static_cast<size_t>(i)])));
    jack_free(from);
    return MMSYSERR_NOERROR;
}

void TMMJackCapture::Close()
{
    TJackHub& h = hub();
    if (mSlot >= 0) h.Detach(mSlot);
    mSlot = -1;
    // Ports of a client that died went with it.
    if (h.client && !h.down.load() && h.generation == mGeneration)
        for (void* p : mPorts) jack_port_unregister(h.client, static_cast<jack_port_t*>(p));
    mPorts.clear();
    mChannels = 0;
}

void TMMJackCapture::Deliver(uint32_t frames)
{
    const float* in[kMaxChannels];
    for (int ch = 0; ch < mChannels; ++ch)
        in[ch] = static_cast<const float*>(
            jack_port_get_buffer(static_cast<jack_port_t*>(mPorts[static_cast<size_t>(ch)]), frames));
    int16_t* block = mBlock.data();
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min<uint32_t>(frames - done, kBlockFrames);
        int16_t* out = block;
        for (uint32_t f = done; f < done + n; ++f)
            for (int ch = 0; ch < mChannels; ++ch) {
                const float v = in[ch][f] * 32767.0f;
                *out++ = v >= 32767.0f ? int16_t{32767} : v <= -32768.0f ? int16_t{-32768}
                         : v == v                         ? static_cast<int16_t>(v)
                                                          : int16_t{0};
            }
        mCapture->Write(block, n, mChannels);
        done += n;
    }
}

void TMMJackCapture::Lose()
{
    if (mDead) mDead->store(true);
    if (mCapture) mCapture->Lose();
}

#else

bool TMMJackCapture::Available() { return false; }
uint32_t TMMJackCapture::ServerRate() { return 0; }
int TMMJackCapture::HasOutputs(const std::string&) { return -1; }
void TMMJackCapture::CloseClient() {}
MMRESULT TMMJackCapture::Open(const std::string&, int, uint32_t, TMMSharedCapture*, std::atomic<bool>*)
{
    return MMSYSERR_NODRIVER;
}
void TMMJackCapture::Close() {}
void TMMJackCapture::Deliver(uint32_t) {}
void TMMJackCapture::Lose() {}

#endif
