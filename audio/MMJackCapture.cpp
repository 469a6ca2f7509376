#include "audio/MMJackCapture.h"

#ifdef TARVOLIN_HAVE_JACK
#include <jack/jack.h>

#include "base/TvConstants.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr size_t kBlockFrames = 256;
constexpr int kMaxCaptures = 64;
constexpr int kMaxChannels = 64;
// Ports registered before the client is activated: all the meter's channels.
constexpr int kFirstPorts = tv::kStrips;

// The process's JACK client and the captures it runs.
//
// Its input ports are registered once and lent to the captures, which only
// connect and disconnect them. libjack's notification thread walks the
// client's port list unlocked (latency recalculation after every graph
// change) while jack_port_register/unregister change that list on the
// calling thread: registering and unregistering at every reopen crashed
// there. The first ports come before jack_activate, when no notification
// runs; more are registered only when captures need over kFirstPorts.
struct TJackHub {
    jack_client_t* client = nullptr;
    uint64_t generation = 0;  // counts the clients opened
    std::atomic<bool> down{false};
    std::array<std::atomic<TMMJackCapture*>, kMaxCaptures> captures{};
    std::atomic<uint64_t> seq{0};  // odd while the process callback runs
    std::vector<jack_port_t*> ports;  // ours, "in_1" ...; GUI thread
    std::vector<bool> lent;

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
        while (static_cast<int>(ports.size()) < kFirstPorts && Register()) {
        }
        if (jack_activate(client) != 0) Drop();
        return client;
    }
    void Drop()
    {
        if (client) jack_client_close(client);
        client = nullptr;
        ports.clear();  // they went with the client
        lent.clear();
        down.store(false);
    }
    bool Register()
    {
        const std::string name = "in_" + std::to_string(ports.size() + 1);
        jack_port_t* p = jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        if (!p) return false;
        ports.push_back(p);
        lent.push_back(false);
        return true;
    }
    // n ports not lent to another capture (registering more when needed), or
    // none when the server refuses more.
    std::vector<jack_port_t*> Lend(int n)
    {
        std::vector<size_t> free;
        for (size_t i = 0; i < ports.size() && static_cast<int>(free.size()) < n; ++i)
            if (!lent[i]) free.push_back(i);
        while (static_cast<int>(free.size()) < n && Register()) free.push_back(ports.size() - 1);
        if (static_cast<int>(free.size()) < n) return {};
        std::vector<jack_port_t*> out;
        for (size_t i : free) {
            lent[i] = true;
            out.push_back(ports[i]);
        }
        return out;
    }
    // Disconnected and free for the next capture.
    void GiveBack(jack_port_t* p)
    {
        const auto it = std::find(ports.begin(), ports.end(), p);
        if (it == ports.end()) return;
        jack_port_disconnect(client, p);
        lent[static_cast<size_t>(it - ports.begin())] = false;
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
    for (jack_port_t* p : h.Lend(channels)) mPorts.push_back(p);
    if (static_cast<int>(mPorts.size()) < channels) r = MMSYSERR_NOMEM;
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
        for (void* p : mPorts) h.GiveBack(static_cast<jack_port_t*>(p));
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
        FloatPlanesTo16(in, n, mChannels, block);
        mCapture->Write(block, n, mChannels);
        done += n;
        for (int ch = 0; ch < mChannels; ++ch) in[ch] += n;
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
