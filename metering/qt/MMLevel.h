// TMMLevel: the level bar as a widget. A thin shell over TMMCustomLevel:
// the core changes state on every block; at each wake-up of the GUI thread's
// one clock (the connectors' loop, once per display frame) all changed bars
// are composed, only the rows of the core's bitmap that differ from the last
// frame are converted into a kept 32-bit image and just that span is
// invalidated. A bar whose pixels did not change asks for no repaint. The
// 25 ms peak ticks are counted on the same clock and run on the GUI thread
// while some bar holds a peak, so they never race the update step.
#pragma once

#include "audio/MMConnectorSinks.h"
#include "metering/MMLevel.h"
#include "audio/MMTimerList.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <vector>

class TMMLevel : public QWidget {
    Q_OBJECT
public:
    explicit TMMLevel(QWidget* parent = nullptr);
    ~TMMLevel() override;

    // All published properties and state live in the core. (Qt delivers
    // resize events of hidden widgets late; the core is brought to the
    // widget's size whenever it is handed out.)
    TMMCustomLevel& Core()
    {
        syncBounds();
        return *mCore;
    }
    const TMMCustomLevel& Core() const
    {
        const_cast<TMMLevel*>(this)->syncBounds();
        return *mCore;
    }
    // Shows `core` instead of the bar's own (null: its own again). The core
    // outlives the widget's use of it; it takes the widget's size and
    // visibility, and its changes repaint this widget only.
    void setCore(TMMCustomLevel* core);

    // The bar as a connector sees it.
    TMMLevelSink& Sink() { return mSink; }

    // Operations of the connector (GUI thread, once per block).
    void SetWaveFormat(const WaveFormat* format) { Core().SetWaveFormat(format); }
    int BlockBytes() const { return mCore->BlockBytes(); }
    void ProcessBlock(const void* data) { Core().ProcessBlock(data); }
    void ProcessBlocks(const void* first, int count, int stride) { Core().ProcessBlocks(first, count, stride); }
    void ResetData() { Core().ResetData(); }
    int CurrentLevel() const { return mCore->CurrentLevel(); }
    int Value() const { return Core().Value(); }
    void setValue(int v) { Core().setValue(v); }

    void setVisible(bool visible) override;

    // Paints done so far (each repaints the changed span of the bar).
    int PaintCount() const { return mPaints; }
    // Milliseconds between two repaints (the display's refresh period).
    int FrameMs() const { return mFrameMs; }

    QSize sizeHint() const override { return {mCore->Width(), mCore->Height()}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class TMMLevelClock;
    void scheduleRepaint();
    // The clock's frame (GUI thread): composes and invalidates the changed
    // span; a hidden bar stays dirty until it is painted.
    void refreshFrame();
    // Composes the core's bitmap and brings mImage up to date; returns the
    // changed span in widget coordinates.
    QRect compose();
    void peakTick();
    void syncBounds()
    {
        if (mCore->Width() != width() || mCore->Height() != height()) mCore->SetBounds(width(), height());
    }

    void bindCore();
    void unbindCore();

    TMMCustomLevel mOwnCore;
    TMMCustomLevel* mCore = &mOwnCore;
    TMMLevelSinkFor<TMMLevel> mSink{*this};
    QImage mImage;               // the drawing area as last composed (RGB32)
    int mInset = -1, mShownBits = 0;  // the frame and canvas depth mImage was made for
    bool mDirty = true;   // the core changed since the last compose
    bool mQueued = false;  // waiting for the clock's next frame
    int mFrameMs = 16;
    int mPaints = 0;
};
