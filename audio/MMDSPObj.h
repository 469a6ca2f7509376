// The component chain: Input/Output links, format push-down, working buffer
// size, lifecycle notifications and buffer push (BufferReady) / pull
// (BufferLoad). Linking, format changes and lifecycle notifications run on
// the GUI thread; BufferReady runs wherever the source delivers buffers.
#pragma once

#include "audio/MMUtils.h"

#include <cstdint>
#include <functional>
#include <string>

class TMMCustomDSPComponent;

using TMMNotifyEvent = std::function<void(TMMCustomDSPComponent* Sender)>;
using TMMBufferEvent = std::function<void(TMMCustomDSPComponent* Sender, PWaveHdr lpWaveHdr)>;
using TMMBufferLoadEvent =
    std::function<void(TMMCustomDSPComponent* Sender, PWaveHdr lpWaveHdr, bool& MoreBuffers)>;

// Abstract root of every chain component.
class TMMCustomDSPComponent {
public:
    virtual ~TMMCustomDSPComponent() = default;
};

class TMMDSPComponent : public TMMCustomDSPComponent {
public:
    static constexpr int32_t DefaultBufferSize = 2048;

    TMMDSPComponent();
    ~TMMDSPComponent() override;
    TMMDSPComponent(const TMMDSPComponent&) = delete;
    TMMDSPComponent& operator=(const TMMDSPComponent&) = delete;

    // Published properties.
    TMMDSPComponent* Input() const { return GetInput(); }
    void setInput(TMMDSPComponent* x) { SetInput(x); }
    TMMDSPComponent* Output() const { return GetOutput(); }
    void setOutput(TMMDSPComponent* x) { SetOutput(x); }
    int32_t BufferSize() const { return GetBufferSize(); }
    void setBufferSize(int32_t size) { SetBufferSize(size); }

    TMMBufferEvent OnBufferReady;
    TMMBufferLoadEvent OnBufferLoad;

    // Whether the class publishes the Input / Output property. A source (the
    // recorder) publishes only Output and so can never be fed.
    virtual bool PublishesInput() const { return true; }
    virtual bool PublishesOutput() const { return true; }

    virtual void UpdateFormat();
    // Broadcast receiver: drop the link on the given side if it runs to
    // `other` through `propertyName`.
    virtual void LinkChanged(TMMDSPComponent* other, bool inputSide, const std::string& propertyName);
    virtual void SetInput(TMMDSPComponent* x);
    virtual TMMDSPComponent* GetInput() const { return mInput; }
    virtual void SetOutput(TMMDSPComponent* x);
    virtual TMMDSPComponent* GetOutput() const { return mOutput; }
    // Keeps its own copy of `fmt` (null clears it) and pushes it downstream.
    virtual void SetFormat(const WaveFormat* fmt);
    virtual const WaveFormat* GetFormat() const { return mFormat.get(); }
    // The working size while opened, else the nominal size.
    virtual int32_t GetBufferSize() const;
    virtual void SetBufferSize(int32_t size);
    virtual void InputFormatChanged(const WaveFormat* fmt) { SetFormat(fmt); }

    virtual void Opened();
    virtual void Closed();
    virtual void Started();
    virtual void Paused();
    virtual void Restarted();
    virtual void Stopped();
    virtual void Reset();

    // Push: fires OnBufferReady, then hands the header to Output.
    virtual void BufferReady(PWaveHdr lpWaveHdr);
    // Pull: fires OnBufferLoad, then lets Input fill the header.
    virtual void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers);

    virtual void LinkInput(TMMDSPComponent* x, const std::string& propertyName);
    virtual void LinkOutput(TMMDSPComponent* x, const std::string& propertyName);
    virtual bool AcceptsInput(TMMDSPComponent* x) const;
    virtual bool AcceptsOutput(TMMDSPComponent* x) const;

    bool IsOpened() const { return mOpened; }
    bool IsStarted() const { return mStarted; }
    bool IsPaused() const { return mPaused; }
    const std::string& InputPropertyName() const { return mInputProp; }
    const std::string& OutputPropertyName() const { return mOutputProp; }

    // Number of live chain components (the broadcast registry).
    static size_t LiveComponents();

protected:
    // Unlinks both sides and drops the format; derived destructors may call
    // it early so that the unlinking still sees their overrides.
    void DetachFromChain();
    bool Destroying() const { return mDestroying; }
    int32_t NominalBufferSize() const { return mBufferSize; }
    // True while loading from a stored description: no format pushes.
    bool mLoading = false;

private:
    static void Broadcast(TMMDSPComponent* other, bool inputSide, const std::string& propertyName);

    TMMDSPComponent* mInput = nullptr;
    TMMDSPComponent* mOutput = nullptr;
    std::string mInputProp;
    std::string mOutputProp;
    WaveFormatPtr mFormat;
    int32_t mBufferSize = DefaultBufferSize;
    int32_t mWorkingSize = DefaultBufferSize;
    bool mOpened = false;
    bool mStarted = false;
    bool mPaused = false;
    bool mDestroying = false;
};

// A chain member that owns a device. Its lifecycle notifications travel along
// the chain: processing components first when starting, a downstream device
// first when stopping or closing.
class TMMCustomSoundComponent : public TMMDSPComponent {
public:
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    void Reset() override;

    // Set when the opened notification found another device upstream.
    bool FedByDevice() const { return mFedByDevice; }

    enum class Note { Opened, Closed, Started, Paused, Restarted, Stopped, Reset };

protected:
    void Propagate(Note note);
    // Runs the base notification of TMMDSPComponent on this component.
    void BaseNote(Note note);

private:
    TMMDSPComponent* StartPoint(bool recordFeed);
    bool mFedByDevice = false;
};

// Thread class of the sound components: holds the component it serves.
class TMMDSPThread {
public:
    explicit TMMDSPThread(TMMDSPComponent* owner) : mOwner(owner) {}
    virtual ~TMMDSPThread() = default;
    TMMDSPComponent* Owner() const { return mOwner; }

private:
    TMMDSPComponent* mOwner;
};
