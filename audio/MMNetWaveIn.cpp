#include "audio/MMNetWaveIn.h"

#include "base/SteadyClock.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

namespace {

constexpr int64_t kAbsentUs = 1000000;  // no packet for a second: the stream is absent
constexpr int64_t kGraceUs = 2000000;   // a pipeline just started has not heard one yet
constexpr uint16_t kSapPort = 9875;
const char* const kSapGroups[] = {"239.255.255.255", "224.2.127.254"};

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool gstReady(std::string* why)
{
    static std::once_flag once;
    static std::string failure;
    std::call_once(once, [] {
        GError* err = nullptr;
        if (!gst_init_check(nullptr, nullptr, &err)) {
            failure = std::string("GStreamer did not start: ") + (err ? err->message : "unknown error");
            if (err) g_error_free(err);
            return;
        }
        for (const char* name : {"udpsrc", "rtpjitterbuffer", "appsink"}) {
            GstElementFactory* f = gst_element_factory_find(name);
            if (!f) {
                failure = std::string("the GStreamer element ") + name + " is missing (gstreamer1.0-plugins-good, -base)";
                return;
            }
            gst_object_unref(f);
        }
    });
    if (why) *why = failure;
    return failure.empty();
}

}  // namespace

// One network stream: its description, receiver pipeline and shared capture.
struct TMMNetWaveIn::Net {
    TNetStreamDesc desc;
    bool announced = false;  // heard over SAP now
    bool fromFile = false;
    std::unique_ptr<TRtpHealthCounter> health;
    std::unique_ptr<TRtpAudioReader> reader;
    TMMSharedCapture capture;
    GstElement* pipeline = nullptr;
    int64_t startedUs = 0;
    std::atomic<int64_t> lastPacketUs{-1};
    std::mutex errorLock;
    std::string error;  // the pipeline's last error

    bool Listed() const { return announced || fromFile; }
    void Describe(const TNetStreamDesc& d)
    {
        desc = d;
        health = std::make_unique<TRtpHealthCounter>(d);
        reader = std::make_unique<TRtpAudioReader>(d, &Net::Write, this);
    }
    // Appsink's streaming thread.
    static void Write(void* user, const int16_t* frames, size_t count)
    {
        auto* n = static_cast<Net*>(user);
        n->capture.Write(frames, count, n->desc.channels);
    }
    bool Present(int64_t now) const
    {
        if (!Listed()) return false;
        if (!pipeline || now - startedUs < kGraceUs) return true;
        const int64_t last = lastPacketUs.load(std::memory_order_relaxed);
        return last >= 0 && now - last < kAbsentUs;
    }
};

struct TMMNetWaveIn::Stream {
    TMMPairTap tap;
    TMMCaptureQueue& queue = tap.queue;
    Net* net = nullptr;
    std::atomic<bool> used{false};
    bool IsOpen() const { return used.load(); }
    int id = 0;
};

namespace {

// Behind the socket: every packet is counted as it arrives; malformed ones go no further.
GstPadProbeReturn arrivalProbe(GstPad*, GstPadProbeInfo* info, gpointer user)
{
    auto* n = static_cast<TMMNetWaveIn::Net*>(user);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ)) return GST_PAD_PROBE_DROP;
    const int64_t now = nowUs();
    const bool ok = n->health->Packet(map.data, map.size, now);
    gst_buffer_unmap(buffer, &map);
    if (!ok) return GST_PAD_PROBE_DROP;
    n->lastPacketUs.store(now, std::memory_order_relaxed);
    return GST_PAD_PROBE_OK;
}

GstFlowReturn newSample(GstAppSink* sink, gpointer user)
{
    auto* n = static_cast<TMMNetWaveIn::Net*>(user);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) return GST_FLOW_EOS;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        n->reader->Packet(map.data, map.size);
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

// Messages are not queued (nobody runs a main loop); errors are kept.
GstBusSyncReply busMessage(GstBus*, GstMessage* msg, gpointer user)
{
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
        auto* n = static_cast<TMMNetWaveIn::Net*>(user);
        GError* err = nullptr;
        gst_message_parse_error(msg, &err, nullptr);
        std::lock_guard<std::mutex> g(n->errorLock);
        n->error = err ? err->message : "pipeline error";
        if (err) g_error_free(err);
    }
    return GST_BUS_DROP;
}

}  // namespace

bool TMMNetWaveIn::Available(std::string* why) { return gstReady(why); }

TMMNetWaveIn::Stream* TMMNetWaveIn::Find(HWAVEIN h) { return mStreams.Find(h); }

TMMNetWaveIn::TMMNetWaveIn(const TOptions& options) : mOptions(options), mStreams(FirstHandle)
{
    mNets.reserve(MaxStreams);
    for (const std::string& file : options.sdpFiles) {
        const TNetStreamDesc d = ReadStreamSdpFile(file);
        const int k = AddStream(d, false);
        if (k >= 0) mNets[static_cast<size_t>(k)]->fromFile = true;
    }
    if (!options.discover) return;
    mWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    mHeardSince = SteadyNowMs();
    mListener = std::thread([this] { Listen(); });
}

TMMNetWaveIn::~TMMNetWaveIn()
{
    mStop.store(true);
    if (mWake >= 0) {
        const uint64_t one = 1;
        (void)!write(mWake, &one, sizeof one);
    }
    if (mListener.joinable()) mListener.join();
    if (mWake >= 0) close(mWake);
    for (auto& s : mStreams)
        if (s->IsOpen() && s->net) s->net->capture.Detach(&s->tap);
    for (auto& n : mNets) Halt(*n);
}

int TMMNetWaveIn::AddStream(const TNetStreamDesc& desc, bool announced)
{
    std::lock_guard<std::mutex> g(mLock);
    for (size_t k = 0; k < mNets.size(); ++k) {
        Net& n = *mNets[k];
        if (n.desc.Key() != desc.Key()) continue;
        const bool changed = !(n.desc == desc);
        // A running receiver keeps the description it was started with.
        if (changed && !n.pipeline) n.Describe(desc);
        if (announced && !n.announced) {
            n.announced = true;
            mGeneration.fetch_add(1);
        } else if (changed) {
            mGeneration.fetch_add(1);
        }
        return static_cast<int>(k);
    }
    if (mNets.size() >= static_cast<size_t>(MaxStreams)) return -1;
    auto n = std::make_unique<Net>();
    n->Describe(desc);
    n->announced = announced;
    mNets.push_back(std::move(n));
    mGeneration.fetch_add(1);
    return static_cast<int>(mNets.size() - 1);
}

TMMNetWaveIn::Net* TMMNetWaveIn::NetOf(int id, int* pair)
{
    if (id < 0) return nullptr;
    std::lock_guard<std::mutex> g(mLock);
    const size_t k = static_cast<size_t>(id / IdsPerStream);
    if (k >= mNets.size()) return nullptr;
    Net* n = mNets[k].get();
    const int sub = id % IdsPerStream;
    if (!n->Listed() || (sub > 0 && sub > PairCount(n->desc.channels))) return nullptr;
    *pair = sub - 1;
    return n;
}

MMRESULT TMMNetWaveIn::GetDevCaps(int id, WaveInCaps& caps)
{
    int pair = -1;
    Net* n = NetOf(id, &pair);
    if (!n) return MMSYSERR_BADDEVICEID;
    const std::string name = n->desc.DeviceName();
    caps.szPname = pair < 0 ? name : PairName(name, n->desc.channels, pair);
    caps.hostApi = "AES67";
    caps.wChannels = static_cast<uint16_t>(pair < 0 ? n->desc.channels : PairWidth(n->desc.channels, pair));
    caps.dwSampleRate = n->desc.rate;
    caps.dwFormats = StandardFormatBits(true, true, false, true);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMNetWaveIn::GetErrorText(MMRESULT err, std::string& text)
{
    if (err == kNoPackets) {
        text = "No packets from the network stream.";
        return MMSYSERR_NOERROR;
    }
    return StandardErrorText(err, text);
}

std::vector<TMMDeviceInfo> TMMNetWaveIn::InputDevices()
{
    std::vector<TMMDeviceInfo> list;
    size_t count = 0;
    {
        std::lock_guard<std::mutex> g(mLock);
        count = mNets.size();
    }
    for (size_t k = 0; k < count; ++k)
        for (int sub = 0; sub < IdsPerStream; ++sub) {
            WaveCaps caps;
            const int id = static_cast<int>(k) * IdsPerStream + sub;
            if (GetDevCaps(id, caps) != MMSYSERR_NOERROR) {
                if (sub == 0) break;
                continue;
            }
            list.push_back({id, caps.szPname, caps.hostApi, caps.wChannels});
        }
    return list;
}

bool TMMNetWaveIn::DevicePresent(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s || !s->net) return true;
    std::lock_guard<std::mutex> g(mLock);
    return s->net->Present(nowUs());
}

// Starts the stream's receiver unless it runs (GUI thread).
MMRESULT TMMNetWaveIn::Run(Net& n)
{
    if (n.pipeline) return MMSYSERR_NOERROR;
    if (!gstReady(nullptr)) return MMSYSERR_NODRIVER;
    const TNetStreamDesc& d = n.desc;
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* src = gst_element_factory_make("udpsrc", nullptr);
    GstElement* jitter = gst_element_factory_make("rtpjitterbuffer", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!pipeline || !src || !jitter || !sink) {
        for (GstElement* e : {pipeline, src, jitter, sink})
            if (e) gst_object_unref(e);
        return MMSYSERR_NODRIVER;
    }
    GstCaps* caps = gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "audio", "clock-rate", G_TYPE_INT,
                                        static_cast<int>(d.rate), "encoding-name", G_TYPE_STRING,
                                        d.bits == 24 ? "L24" : "L16", "channels", G_TYPE_INT, d.channels, "payload",
                                        G_TYPE_INT, d.payloadType, nullptr);
    g_object_set(src, "address", d.address.c_str(), "port", static_cast<int>(d.port), "caps", caps, "reuse", TRUE,
                 nullptr);
    gst_caps_unref(caps);
    if (!mOptions.interfaceName.empty()) g_object_set(src, "multicast-iface", mOptions.interfaceName.c_str(), nullptr);
    if (!d.sourceFilter.empty())
        g_object_set(src, "multicast-source", ("+" + d.sourceFilter).c_str(), nullptr);
    // Packets in order, duplicates out; a missing one is waited for 20 ms.
    // Its timestamps are not used: no clock to follow, no PTP lock to wait for.
    g_object_set(jitter, "latency", 20u, nullptr);
    gst_util_set_object_arg(G_OBJECT(jitter), "mode", "none");
    g_object_set(sink, "sync", FALSE, "max-buffers", 200u, "drop", TRUE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = newSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, &n, nullptr);
    gst_bin_add_many(GST_BIN(pipeline), src, jitter, sink, nullptr);
    if (!gst_element_link_many(src, jitter, sink, nullptr)) {
        gst_object_unref(pipeline);
        return MMSYSERR_NODRIVER;
    }
    GstPad* pad = gst_element_get_static_pad(src, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, arrivalProbe, &n, nullptr);
    gst_object_unref(pad);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, busMessage, &n, nullptr);
    gst_object_unref(bus);
    n.reader->Restart();
    n.capture.Restart();
    n.lastPacketUs.store(-1);
    n.startedUs = nowUs();
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        return kNoPackets;
    }
    std::lock_guard<std::mutex> g(mLock);
    n.pipeline = pipeline;
    return MMSYSERR_NOERROR;
}

// Stops the receiver; its streaming threads have ended when this returns.
void TMMNetWaveIn::Halt(Net& n)
{
    GstElement* pipeline = nullptr;
    {
        std::lock_guard<std::mutex> g(mLock);
        std::swap(pipeline, n.pipeline);
    }
    if (!pipeline) return;
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
}

MMRESULT TMMNetWaveIn::Open(HWAVEIN* h, int id, const WaveFormat& fmt, TWaveInNotify cb, void* instance,
                            uint32_t flags)
{
    int pair = -1;
    Net* n = NetOf(id, &pair);
    if (!n) return MMSYSERR_BADDEVICEID;
    if (fmt.wFormatTag != WAVE_FORMAT_PCM || fmt.wBitsPerSample != 16 || (fmt.nChannels != 1 && fmt.nChannels != 2) ||
        fmt.nBlockAlign != fmt.nChannels * 2 || fmt.nSamplesPerSec != n->desc.rate)
        return WAVERR_BADFORMAT;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    if (!h || !cb) return MMSYSERR_INVALPARAM;
    if (const MMRESULT r = Run(*n)) return r;
    {
        std::lock_guard<std::mutex> g(mLock);
        if (!n->Present(nowUs())) return kNoPackets;
    }
    Stream* s = mStreams.FreeSlot();
    if (!s) return MMSYSERR_ALLOCATED;
    s->queue.Clear();
    s->tap.first = pair < 0 ? 0 : PairFirstChannel(pair);
    s->tap.width = pair < 0 ? std::min(n->desc.channels, 2) : PairWidth(n->desc.channels, pair);
    s->tap.outChannels = fmt.nChannels;
    s->tap.gridFrames = 1;
    s->tap.gone.store(false);
    s->tap.frames.store(0);
    if (!n->capture.Attach(&s->tap)) return MMSYSERR_ALLOCATED;
    s->net = n;
    s->id = id;
    const HWAVEIN handle = mStreams.NextHandle();
    s->queue.Bind(handle, cb, instance);
    s->used.store(true);
    *h = handle;
    s->queue.Confirm(WIM_OPEN);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMNetWaveIn::Close(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    Net* n = s->net;
    n->capture.Detach(&s->tap);
    s->net = nullptr;
    s->queue.Clear();
    s->used.store(false);
    s->queue.Confirm(WIM_CLOSE);
    // The receiver goes on (its counters too) while the stream is listed.
    bool listed = true;
    {
        std::lock_guard<std::mutex> g(mLock);
        listed = n->Listed();
    }
    if (!listed && n->capture.Taps() == 0) Halt(*n);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMNetWaveIn::AddBuffer(HWAVEIN h, PWaveHdr hdr)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (s->tap.gone.load()) return kNoPackets;
    if (!hdr || !(hdr->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    return s->queue.Add(hdr) ? MMSYSERR_NOERROR : MMSYSERR_NOMEM;
}

MMRESULT TMMNetWaveIn::Start(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    if (PWaveHdr first = s->queue.Current())
        s->tap.gridFrames = std::max<uint32_t>(1, first->dwBufferLength / static_cast<uint32_t>(s->tap.FrameBytes()));
    s->net->capture.Arm(&s->tap);
    return MMSYSERR_NOERROR;
}

MMRESULT TMMNetWaveIn::Stop(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    s->net->capture.Halt(&s->tap);
    s->queue.ReturnPartial();
    return MMSYSERR_NOERROR;
}

MMRESULT TMMNetWaveIn::Reset(HWAVEIN h)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    s->net->capture.Halt(&s->tap);
    s->queue.ReturnAll();
    s->tap.frames.store(0);
    return MMSYSERR_NOERROR;
}

int64_t TMMNetWaveIn::StreamFrames(uintptr_t h)
{
    const Stream* s = Find(h);
    return s ? static_cast<int64_t>(s->tap.frames.load(std::memory_order_relaxed)) : -1;
}

MMRESULT TMMNetWaveIn::GetID(HWAVEIN h, int& id)
{
    Stream* s = Find(h);
    if (!s) return MMSYSERR_INVALHANDLE;
    id = s->id;
    return MMSYSERR_NOERROR;
}

int64_t TMMNetWaveIn::LostBytes(HWAVEIN h)
{
    Stream* s = Find(h);
    return s ? static_cast<int64_t>(s->queue.Overrun()) : -1;
}

std::vector<TNetStreamStatus> TMMNetWaveIn::Streams()
{
    std::vector<TNetStreamStatus> list;
    std::lock_guard<std::mutex> g(mLock);
    const int64_t now = nowUs();
    for (const auto& n : mNets) {
        // A stream no longer listed keeps its counters once it was received.
        if (!n->Listed() && !n->pipeline && n->health->Health().received == 0) continue;
        TNetStreamStatus s;
        s.name = n->desc.DeviceName();
        s.address = n->desc.address + ":" + std::to_string(n->desc.port);
        s.format = (n->desc.bits == 24 ? "L24/" : "L16/") + std::to_string(n->desc.rate) + "/" +
                   std::to_string(n->desc.channels);
        s.announced = n->announced;
        const int64_t last = n->lastPacketUs.load(std::memory_order_relaxed);
        s.receiving = n->pipeline && last >= 0 && now - last < kAbsentUs;
        s.health = n->health->Health();
        s.silentFrames = n->reader->SilentFrames();
        list.push_back(std::move(s));
    }
    return list;
}

void TMMNetWaveIn::AwaitAnnouncements(int ms)
{
    if (!mListener.joinable()) return;
    const int64_t until = mHeardSince.load() + ms;
    for (int64_t now = SteadyNowMs(); now < until; now = SteadyNowMs())
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(50, until - now)));
}

// The SAP listener: one socket on port 9875 in both groups.
void TMMNetWaveIn::Listen()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kSapPort);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return;
    }
    // An interface not up yet (a meter started at boot) is waited for.
    unsigned ifindex = 0;
    while (!mStop.load() && (ifindex = if_nametoindex(mOptions.interfaceName.c_str())) == 0) {
        pollfd w{mWake, POLLIN, 0};
        poll(&w, 1, 1000);
    }
    for (const char* group : kSapGroups) {
        ip_mreqn m{};
        inet_pton(AF_INET, group, &m.imr_multiaddr);
        m.imr_ifindex = static_cast<int>(ifindex);
        setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m);
    }
    TSapDirectory directory;
    std::vector<std::string> announced;  // keys
    std::vector<uint8_t> buffer(65536);
    while (!mStop.load()) {
        pollfd p[2] = {{fd, POLLIN, 0}, {mWake, POLLIN, 0}};
        poll(p, 2, 500);
        bool changed = false;
        const int64_t now = SteadyNowMs();
        if (p[0].revents & POLLIN) {
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n > 0) {
                const auto change = directory.Heard(buffer.data(), static_cast<size_t>(n), now);
                changed = change == TSapDirectory::TChange::Added || change == TSapDirectory::TChange::Updated ||
                          change == TSapDirectory::TChange::Removed;
                mRefused.store(directory.Refused());
            }
        }
        changed = directory.Expire(now) || changed;
        if (!changed) continue;
        const std::vector<TNetStreamDesc> now_listed = directory.Streams();
        std::vector<std::string> keys;
        for (const TNetStreamDesc& d : now_listed) {
            AddStream(d, true);
            keys.push_back(d.Key());
        }
        std::lock_guard<std::mutex> g(mLock);
        for (auto& n : mNets)
            if (n->announced && std::find(keys.begin(), keys.end(), n->desc.Key()) == keys.end()) {
                n->announced = false;
                mGeneration.fetch_add(1);
            }
    }
    close(fd);
}
