#include "audio/MMDSPObj.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

const char* const kInputProp = "Input";
const char* const kOutputProp = "Output";

// Every live chain component, for link-change broadcasts.
std::mutex& registryLock()
{
    static std::mutex m;
    return m;
}
std::vector<TMMDSPComponent*>& registry()
{
    static std::vector<TMMDSPComponent*> r;
    return r;
}

bool isSound(const TMMDSPComponent* c) { return dynamic_cast<const TMMCustomSoundComponent*>(c) != nullptr; }

}  // namespace

TMMDSPComponent::TMMDSPComponent()
{
    std::lock_guard<std::mutex> g(registryLock());
    registry().push_back(this);
}

TMMDSPComponent::~TMMDSPComponent()
{
    DetachFromChain();
    std::lock_guard<std::mutex> g(registryLock());
    auto& r = registry();
    r.erase(std::remove(r.begin(), r.end(), this), r.end());
}

size_t TMMDSPComponent::LiveComponents()
{
    std::lock_guard<std::mutex> g(registryLock());
    return registry().size();
}

void TMMDSPComponent::DetachFromChain()
{
    if (mDestroying) return;
    mDestroying = true;
    SetInput(nullptr);
    SetOutput(nullptr);
    mFormat.reset();
}

void TMMDSPComponent::Broadcast(TMMDSPComponent* other, bool inputSide, const std::string& propertyName)
{
    std::vector<TMMDSPComponent*> all;
    {
        std::lock_guard<std::mutex> g(registryLock());
        all = registry();
    }
    for (auto* c : all) c->LinkChanged(other, inputSide, propertyName);
}

void TMMDSPComponent::LinkChanged(TMMDSPComponent* other, bool inputSide, const std::string& propertyName)
{
    if (inputSide) {
        if (mInput == other && mInputProp == propertyName) LinkInput(nullptr, "");
    } else {
        if (mOutput == other && mOutputProp == propertyName) LinkOutput(nullptr, "");
    }
}

void TMMDSPComponent::LinkInput(TMMDSPComponent* x, const std::string& propertyName)
{
    mInput = x;
    mInputProp = x ? propertyName.substr(0, 20) : std::string();
}

void TMMDSPComponent::LinkOutput(TMMDSPComponent* x, const std::string& propertyName)
{
    mOutput = x;
    mOutputProp = x ? propertyName.substr(0, 20) : std::string();
}

bool TMMDSPComponent::AcceptsInput(TMMDSPComponent* x) const
{
    if (!x || x == this || !x->PublishesOutput()) return false;
    if (!mOutput) return true;
    return mOutput->AcceptsInput(x);
}

bool TMMDSPComponent::AcceptsOutput(TMMDSPComponent* x) const
{
    if (!x || x == this || !x->PublishesInput()) return false;
    if (!mInput) return true;
    return mInput->AcceptsOutput(x);
}

void TMMDSPComponent::SetInput(TMMDSPComponent* x)
{
    if (x == mInput) return;
    if (x && (!PublishesInput() || !AcceptsInput(x))) return;
    Stopped();
    if (mInput) {
        // The old feeder drops its output link to us.
        Broadcast(this, false, kInputProp);
        LinkInput(nullptr, "");
        InputFormatChanged(nullptr);
    }
    if (!x) return;
    // Whoever was fed by x loses its input.
    Broadcast(x, true, kOutputProp);
    LinkInput(x, kOutputProp);
    x->LinkOutput(this, kInputProp);
    UpdateFormat();
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* x)
{
    if (x == mOutput) return;
    if (x && (!PublishesOutput() || !AcceptsOutput(x))) return;
    Stopped();
    if (mOutput) {
        TMMDSPComponent* old = mOutput;
        Broadcast(this, true, kOutputProp);
        LinkOutput(nullptr, "");
        // The old output has lost its feed and with it its format.
        old->InputFormatChanged(nullptr);
    }
    if (!x) return;
    Broadcast(x, false, kInputProp);
    LinkOutput(x, kInputProp);
    x->LinkInput(this, kOutputProp);
    UpdateFormat();
}

void TMMDSPComponent::UpdateFormat()
{
    if (mLoading || mDestroying) return;
    if (mInput)
        InputFormatChanged(mInput->GetFormat());
    else if (mOutput)
        mOutput->InputFormatChanged(GetFormat());
}

void TMMDSPComponent::SetFormat(const WaveFormat* fmt)
{
    if (fmt != mFormat.get()) {
        if (mStarted) Stopped();
        mFormat = CopyWaveFormat(fmt);
    }
    if (mLoading || mDestroying) return;
    if (mOutput) mOutput->InputFormatChanged(mFormat.get());
}

int32_t TMMDSPComponent::GetBufferSize() const { return mOpened ? mWorkingSize : mBufferSize; }

void TMMDSPComponent::SetBufferSize(int32_t size)
{
    if (size == mBufferSize) return;
    if (mStarted) Stopped();
    mBufferSize = size;
}

void TMMDSPComponent::Opened()
{
    if (mOpened) return;
    mWorkingSize = RealBufferSize(mBufferSize, mFormat.get());
    mOpened = true;
    mStarted = false;
    mPaused = false;
}

void TMMDSPComponent::Closed() { mOpened = false; }

void TMMDSPComponent::Started()
{
    if (mOpened && !mStarted) mStarted = true;
}

void TMMDSPComponent::Paused() { mPaused = true; }

void TMMDSPComponent::Restarted() { mPaused = false; }

void TMMDSPComponent::Stopped()
{
    if (mStarted) {
        mStarted = false;
        mPaused = false;
    }
}

void TMMDSPComponent::Reset() {}

void TMMDSPComponent::BufferReady(PWaveHdr lpWaveHdr)
{
    if (OnBufferReady) OnBufferReady(this, lpWaveHdr);
    if (mOutput) mOutput->BufferReady(lpWaveHdr);
}

void TMMDSPComponent::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers)
{
    if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
    if (mInput) mInput->BufferLoad(lpWaveHdr, MoreBuffers);
}

// ---------------------------------------------------------------------------

void TMMCustomSoundComponent::BaseNote(Note note)
{
    switch (note) {
    case Note::Opened: TMMDSPComponent::Opened(); break;
    case Note::Closed: TMMDSPComponent::Closed(); break;
    case Note::Started: TMMDSPComponent::Started(); break;
    case Note::Paused: TMMDSPComponent::Paused(); break;
    case Note::Restarted: TMMDSPComponent::Restarted(); break;
    case Note::Stopped: TMMDSPComponent::Stopped(); break;
    case Note::Reset: TMMDSPComponent::Reset(); break;
    }
}

static void send(TMMDSPComponent* c, TMMCustomSoundComponent::Note note, int32_t bufferSize)
{
    using N = TMMCustomSoundComponent::Note;
    switch (note) {
    case N::Opened:
        c->SetBufferSize(bufferSize);
        c->Opened();
        break;
    case N::Closed: c->Closed(); break;
    case N::Started: c->Started(); break;
    case N::Paused: c->Paused(); break;
    case N::Restarted: c->Restarted(); break;
    case N::Stopped: c->Stopped(); break;
    case N::Reset: c->Reset(); break;
    }
}

TMMDSPComponent* TMMCustomSoundComponent::StartPoint(bool recordFeed)
{
    TMMDSPComponent* head = this;
    // Bounded walk: links are kept acyclic by AcceptsInput/AcceptsOutput.
    for (TMMDSPComponent* up = GetInput(); up; up = up->GetInput()) {
        if (isSound(up)) {
            if (recordFeed) mFedByDevice = true;
            return this;
        }
        head = up;
    }
    return head;
}

void TMMCustomSoundComponent::Propagate(Note note)
{
    const bool down = note == Note::Stopped || note == Note::Closed;
    const int32_t size = GetBufferSize();
    if (down) {
        // A downstream device hears it first.
        for (TMMDSPComponent* c = GetOutput(); c; c = c->GetOutput())
            if (isSound(c)) {
                send(c, note, size);
                break;
            }
    }
    if (note == Note::Opened) mFedByDevice = false;
    TMMDSPComponent* start = StartPoint(note == Note::Opened);
    for (TMMDSPComponent* c = start; c; c = c->GetOutput()) {
        if (c == this) continue;
        if (isSound(c)) {
            if (!down) send(c, note, size);
            break;
        }
        send(c, note, size);
    }
    BaseNote(note);
}

void TMMCustomSoundComponent::Opened() { Propagate(Note::Opened); }
void TMMCustomSoundComponent::Closed() { Propagate(Note::Closed); }
void TMMCustomSoundComponent::Started() { Propagate(Note::Started); }
void TMMCustomSoundComponent::Paused() { Propagate(Note::Paused); }
void TMMCustomSoundComponent::Restarted() { Propagate(Note::Restarted); }
void TMMCustomSoundComponent::Stopped() { Propagate(Note::Stopped); }
void TMMCustomSoundComponent::Reset() { Propagate(Note::Reset); }
