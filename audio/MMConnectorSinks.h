// The display components a connector feeds, as the connector sees them.
// Level bars and oscilloscopes derive from these (or are wrapped by
// TMMLevelSinkFor / TMMOscopeSinkFor); all calls come on the GUI thread.
#pragma once

#include "audio/MMUtils.h"

#include <cstddef>
#include <vector>

class TMMConnector;

// A sink clears itself out of every connector slot that holds it when it is
// destroyed.
class TMMConnectorSink {
public:
    TMMConnectorSink() = default;
    TMMConnectorSink(const TMMConnectorSink&) = delete;
    TMMConnectorSink& operator=(const TMMConnectorSink&) = delete;
    virtual ~TMMConnectorSink();

private:
    friend class TMMConnector;
    std::vector<TMMConnector*> mHolders;
};

class TMMLevelSink : public TMMConnectorSink {
public:
    // Raises the sink's own error for a format it rejects.
    virtual void SetWaveFormat(const WaveFormat* fmt) = 0;
    // Bytes of one analysis block.
    virtual int BlockBytes() const = 0;
    // At least BlockBytes() bytes are readable at block.
    virtual void ProcessBlock(const void* block) = 0;
    // `count` blocks `stride` bytes apart, in order: what as many
    // ProcessBlock calls do (the connector hands over every due block at once).
    virtual void ProcessBlocks(const char* first, int count, int stride)
    {
        for (int i = 0; i < count; ++i) ProcessBlock(first + static_cast<ptrdiff_t>(i) * stride);
    }
    virtual void ResetData() = 0;
};

class TMMOscopeSink : public TMMConnectorSink {
public:
    virtual void ApplyFormat(const WaveFormat* fmt) = 0;
    virtual int DisplayBytes() const = 0;
    // At least DisplayBytes() bytes are readable at frames.
    virtual void AcceptSamples(const void* frames) = 0;
    virtual void ClearDisplay() = 0;
    virtual bool Scroll() const = 0;
    virtual bool Accelerate() const = 0;
    virtual int FFTLength() const = 0;
    virtual int BitLength() const = 0;
    virtual int Mode() const = 0;
};

// Wraps any level bar class with SetWaveFormat / BlockBytes / ProcessBlock /
// ResetData members. Destroy the wrapper together with the bar.
template <typename Bar>
class TMMLevelSinkFor : public TMMLevelSink {
public:
    explicit TMMLevelSinkFor(Bar& bar) : mBar(bar) {}
    void SetWaveFormat(const WaveFormat* fmt) override { mBar.SetWaveFormat(fmt); }
    int BlockBytes() const override { return mBar.BlockBytes(); }
    void ProcessBlock(const void* block) override { mBar.ProcessBlock(block); }
    void ProcessBlocks(const char* first, int count, int stride) override { mBar.ProcessBlocks(first, count, stride); }
    void ResetData() override { mBar.ResetData(); }
    Bar& bar() const { return mBar; }

private:
    Bar& mBar;
};
