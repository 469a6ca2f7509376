#include "audio/MMNetWaveIn.h"

#include "base/SteadyClock.h"

#include <gst/gst.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/time.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <mutex>

namespace {

constexpr int64_t kAbsentUs = 1000000;  // no packet for a second: the stream is absent
constexpr int64_t kGraceUs = 2000000;   // a socket just opened has not heard one yet
// After a packet wakes the receiver it waits this long for more: every stream is
// drained about 200 times a second, however many packets it sends (latency: at
// most this, plus a packet time).
constexpr int64_t kBatchUs = 5000;
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
        }
    });
    if (why) *why = failure;
    return failure.empty();
}

}  // namespace

// One network stream: its description, socket, counters and shared capture.
struct TMMNetWaveIn::Net {
    TNetStreamDesc desc;
    bool announced = false;  // heard over SAP now
    bool fromFile = false;
    std::unique_ptr<TRtpHealthCounter> health;
    std::unique_ptr<TRtpAudioReader> reader;
    TMMSharedCapture capture;
    int fd = -1;  // the socket while received
    int64_t startedUs = 0;
    std::atomic<int64_t> lastPacketUs{-1};

    bool Listed() const { return announced || fromFile; }
    void Describe(const TNetStreamDesc& d)
    {
        desc = d;
        health = std::make_unique<TRtpHealthCounter>(d);
        reader = std::make_unique<TRtpAudioReader>(d, &Net::Write, this);
    }
    // The receiver thread.
    static void Write(void* user, const int16_t* frames, size_t count)
    {
        auto* n = static_cast<Net*>(user);
        n->capture.Write(frames, count, n->desc.channels);
    }
    bool Present(int64_t now) const
    {
        if (!Listed()) return false;
        if (fd < 0 || now - startedUs < kGraceUs) return true;
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

bool TMMNetWaveIn::Available(std::string* why) { return gstReady(why); }

TMMNetWaveIn::Stream* TMMNetWaveIn::Find(HWAVEIN h) { return mStreams.Find(h); }

TMMNetWaveIn::TMMNetWaveIn(const TOptions& options) : mOptions(options), mStreams(FirstHandle)
{
    mNets.reserve(MaxStreams);
    mReceiverWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    for (const std::string& file : options.sdpFiles) {
        const TNetStreamDesc d = ReadStreamSdpFile(file);
        AddStream(d, false);
    }
    if (!options.discover) return;
    mWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    mHeardSince = SteadyNowMs();
    mListener = std::thread([this] { Listen(); });
}

TMMNetWaveIn::~TMMNetWaveIn()
{
    for (auto& s : mStreams)
        if (s->IsOpen() && s->net) s->net->capture.Detach(&s->tap);
    mStop.store(true);
    const uint64_t one = 1;
    if (mWake >= 0) (void)!write(mWake, &one, sizeof one);
    WakeReceiver();
    if (mListener.joinable()) mListener.join();
    if (mReceiver.joinable()) mReceiver.join();
    for (auto& n : mNets)
        if (n->fd >= 0) close(n->fd);
    if (mWake >= 0) close(mWake);
    if (mReceiverWake >= 0) close(mReceiverWake);
}

int TMMNetWaveIn::AddStream(const TNetStreamDesc& desc, bool announced)
{
    std::lock_guard<std::mutex> g(mLock);
    for (size_t k = 0; k < mNets.size(); ++k) {
        Net& n = *mNets[k];
        if (n.desc.Key() != desc.Key()) continue;
        const bool changed = !(n.desc == desc);
        // A running receiver keeps the description it was started with.
        if (changed && n.fd < 0) n.Describe(desc);
        if (announced ? !n.announced : !n.fromFile) {
            (announced ? n.announced : n.fromFile) = true;
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
    n->fromFile = !announced;
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

// Starts receiving the stream unless it is received (GUI thread): a socket
// bound to its group and port, joined on the chosen interface, handed to the
// receiver thread.
MMRESULT TMMNetWaveIn::Run(Net& n)
{
    if (n.fd >= 0) return MMSYSERR_NOERROR;
    const TNetStreamDesc& d = n.desc;
    in_addr group{};
    if (inet_pton(AF_INET, d.address.c_str(), &group) != 1) return MMSYSERR_BADDEVICEID;
    const bool multicast = IN_MULTICAST(ntohl(group.s_addr));
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return MMSYSERR_NOMEM;
    const int on = 1, window = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);  // arrival times for the jitter
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(d.port);
    a.sin_addr = multicast ? group : in_addr{htonl(INADDR_ANY)};
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    const unsigned ifindex = mOptions.interfaceName.empty() ? 0 : if_nametoindex(mOptions.interfaceName.c_str());
    if (ok && multicast) {
        if (d.sourceFilter.empty()) {
            ip_mreqn m{};
            m.imr_multiaddr = group;
            m.imr_ifindex = static_cast<int>(ifindex);
            ok = setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) == 0;
        } else {
            // Source-specific: the interface by its address (0: the system's choice).
            ip_mreq_source m{};
            m.imr_multiaddr = group;
            inet_pton(AF_INET, d.sourceFilter.c_str(), &m.imr_sourceaddr);
            m.imr_interface.s_addr = htonl(INADDR_ANY);
            ok = setsockopt(fd, IPPROTO_IP, IP_ADD_SOURCE_MEMBERSHIP, &m, sizeof m) == 0;
        }
    }
    if (!ok) {
        close(fd);
        return kNoPackets;
    }
    n.reader->Restart();
    n.capture.Restart();
    n.lastPacketUs.store(-1);
    n.startedUs = nowUs();
    {
        std::lock_guard<std::mutex> g(mLock);
        n.fd = fd;
        ++mActiveChange;
    }
    if (!mReceiver.joinable()) mReceiver = std::thread([this] { Receive(); });
    WakeReceiver();
    return MMSYSERR_NOERROR;
}

void TMMNetWaveIn::WakeReceiver()
{
    const uint64_t one = 1;
    (void)!write(mReceiverWake, &one, sizeof one);
}

// Stops receiving; the receiver thread no longer touches the stream when this returns.
void TMMNetWaveIn::Halt(Net& n)
{
    std::unique_lock<std::mutex> g(mLock);
    if (n.fd < 0) return;
    const int fd = n.fd;
    n.fd = -1;
    const uint64_t change = ++mActiveChange;
    g.unlock();
    WakeReceiver();
    g.lock();
    mActiveTaken.wait(g, [&] { return !mReceiver.joinable() || mReceiverSeen >= change; });
    g.unlock();
    close(fd);
}

// The receiver thread: every received stream's socket. After a wake-up by a
// packet it waits kBatchUs more, so that each stream is drained in batches
// (recvmmsg) about 200 times a second rather than once per packet. Each
// packet is counted as it arrived (its kernel timestamp); a batch goes to
// the audio reader in sequence order, which puts packets reordered within
// it back in place.
void TMMNetWaveIn::Receive()
{
    constexpr int kBatch = 64;
    constexpr size_t kPacketBytes = 9216;  // a jumbo frame; longer packets arrive cut and count as malformed
    std::vector<uint8_t> storage(kBatch * kPacketBytes);
    std::array<mmsghdr, kBatch> msgs{};
    std::array<iovec, kBatch> iov{};
    std::array<std::array<char, CMSG_SPACE(sizeof(timespec))>, kBatch> control{};
    std::array<int, kBatch> order{};
    std::array<int64_t, kBatch> rank{};
    std::array<pollfd, MaxStreams + 1> fds{};
    std::array<Net*, MaxStreams> nets{};
    int count = 0;
    uint64_t seen = ~uint64_t{0};
    while (!mStop.load()) {
        {
            std::lock_guard<std::mutex> g(mLock);
            if (mActiveChange != seen) {
                seen = mActiveChange;
                count = 0;
                for (auto& n : mNets)
                    if (n->fd >= 0 && count < MaxStreams) {
                        nets[static_cast<size_t>(count)] = n.get();
                        fds[static_cast<size_t>(count)] = {n->fd, POLLIN, 0};
                        ++count;
                    }
                mReceiverSeen = seen;
                mActiveTaken.notify_all();
            }
        }
        fds[static_cast<size_t>(count)] = {mReceiverWake, POLLIN, 0};
        if (poll(fds.data(), static_cast<nfds_t>(count + 1), 1000) <= 0) continue;
        if (fds[static_cast<size_t>(count)].revents & POLLIN) {
            uint64_t v;
            (void)!read(mReceiverWake, &v, sizeof v);
            continue;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(kBatchUs));
        for (int k = 0; k < count; ++k) {
            Net& n = *nets[static_cast<size_t>(k)];
            for (;;) {
                for (int i = 0; i < kBatch; ++i) {
                    iov[i] = {storage.data() + static_cast<size_t>(i) * kPacketBytes, kPacketBytes};
                    msgs[i].msg_hdr = {};
                    msgs[i].msg_hdr.msg_iov = &iov[i];
                    msgs[i].msg_hdr.msg_iovlen = 1;
                    msgs[i].msg_hdr.msg_control = control[i].data();
                    msgs[i].msg_hdr.msg_controllen = control[i].size();
                }
                const int got = recvmmsg(n.fd, msgs.data(), kBatch, MSG_DONTWAIT, nullptr);
                if (got <= 0) break;
                const int64_t now = nowUs();
                int kept = 0;
                for (int i = 0; i < got; ++i) {
                    const uint8_t* data = static_cast<const uint8_t*>(iov[i].iov_base);
                    size_t size = msgs[i].msg_len;
                    if (msgs[i].msg_hdr.msg_flags & MSG_TRUNC) size = 0;  // malformed
                    int64_t arrival = now;
                    for (cmsghdr* c = CMSG_FIRSTHDR(&msgs[i].msg_hdr); c; c = CMSG_NXTHDR(&msgs[i].msg_hdr, c))
                        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                            timespec ts;
                            std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                            arrival = static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
                        }
                    if (!n.health->Packet(data, size, arrival)) continue;
                    order[static_cast<size_t>(kept)] = i;
                    rank[static_cast<size_t>(kept)] = data[2] << 8 | data[3];
                    ++kept;
                }
                // Sequence order, counted from the batch's first packet (wraps included).
                const uint16_t first = static_cast<uint16_t>(rank[0]);
                for (int q = 0; q < kept; ++q)
                    rank[static_cast<size_t>(q)] =
                        static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint16_t>(rank[static_cast<size_t>(q)]) - first));
                for (int q = 1; q < kept; ++q)
                    for (int j = q; j > 0 && rank[static_cast<size_t>(j - 1)] > rank[static_cast<size_t>(j)]; --j) {
                        std::swap(rank[static_cast<size_t>(j - 1)], rank[static_cast<size_t>(j)]);
                        std::swap(order[static_cast<size_t>(j - 1)], order[static_cast<size_t>(j)]);
                    }
                if (kept > 0) n.lastPacketUs.store(now, std::memory_order_relaxed);
                for (int q = 0; q < kept; ++q) {
                    const int i = order[static_cast<size_t>(q)];
                    n.reader->Packet(static_cast<const uint8_t*>(iov[i].iov_base), msgs[i].msg_len);
                }
                if (got < kBatch) break;
            }
        }
    }
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
        if (!n->Listed() && n->fd < 0 && n->health->Health().received == 0) continue;
        TNetStreamStatus s;
        s.name = n->desc.DeviceName();
        s.address = n->desc.address + ":" + std::to_string(n->desc.port);
        s.format = (n->desc.bits == 24 ? "L24/" : "L16/") + std::to_string(n->desc.rate) + "/" +
                   std::to_string(n->desc.channels);
        s.announced = n->announced;
        const int64_t last = n->lastPacketUs.load(std::memory_order_relaxed);
        s.receiving = n->fd >= 0 && last >= 0 && now - last < kAbsentUs;
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
