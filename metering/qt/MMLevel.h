// TMMLevel: the level bar as a widget. A thin shell over TMMCustomLevel:
// the core changes state on every block; the widget repaints at most once
// per display refresh, painting the core's working bitmap. The shared 25 ms
// timer list drives the peak tick, which is posted to and run on the GUI
// thread, so it never races the update step.
#pragma once

#include "audio/MMConectSinks.h"
#include "metering/MMLevel.h"
#include "metering/MMTimerList.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <atomic>

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
        return fCore;
    }
    const TMMCustomLevel& Core() const
    {
        const_cast<TMMLevel*>(this)->syncBounds();
        return fCore;
    }
    // The bar as a connector sees it.
    TMMLevelSink& Sink() { return fSink; }

    // Operations of the connector (GUI thread, once per block).
    void SetWaveFormat(const WaveFormat* format) { Core().SetWaveFormat(format); }
    int BlockBytes() const { return fCore.BlockBytes(); }
    void ProcessBlock(const void* data) { Core().ProcessBlock(data); }
    void ResetData() { Core().ResetData(); }
    int CurrentLevel() const { return fCore.CurrentLevel(); }
    int Value() const { return Core().Value(); }
    void setValue(int v) { Core().setValue(v); }

    void setVisible(bool visible) override;

    // Paints done so far (a paint composes the bar once).
    int PaintCount() const { return fPaints; }
    // Milliseconds between two repaints (the display's refresh period).
    int FrameMs() const { return fFrameMs; }

    QSize sizeHint() const override { return {fCore.Width(), fCore.Height()}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void scheduleRepaint();
    void peakTick();
    void syncBounds()
    {
        if (fCore.Width() != width() || fCore.Height() != height()) fCore.SetBounds(width(), height());
    }

    TMMCustomLevel fCore;
    TMMLevelSinkFor<TMMLevel> fSink{*this};
    TMMTimerList::Handle fTick = 0;
    std::atomic<bool> fTickPosted{false};
    QTimer fFrame;
    QElapsedTimer fSincePaint;
    bool fPending = false;
    int fFrameMs = 16;
    int fPaints = 0;
};
