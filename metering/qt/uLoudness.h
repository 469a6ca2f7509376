// `TfLoudness`: the loudness window. Momentary, short-term and integrated
// loudness (LUFS), loudness range (LU) and maximum true peak (dBTP) of one
// recorder pair or of the sum of the active pairs, a short-term history plot
// with the target and its tolerance, the target choice, reset and pause.
// Thin over TMMLoudnessMeter; GUI thread only. It measures while it is shown
// (minimised counts as shown) and not paused; its readout timer (TickMs)
// runs only then, and the program feeds it only then (OnMeasuringChanged).
#pragma once

#include "metering/MMLoudness.h"
#include "metering/MMLoudnessSettings.h"
#include "metering/MMLoudnessPlot.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

class QComboBox;
class QLabel;
class QPushButton;

// The short-term history: one value per tick over the last five minutes, the
// target line and the tolerance marks either side.
class TLoudnessHistoryView : public QWidget {
public:
    explicit TLoudnessHistoryView(const TMMLoudnessMeter& meter, QWidget* parent = nullptr);
    // The loudness at the top and bottom edges, for the target and the
    // history shown now.
    TLoudnessPlotRange Range() const;
    double TopLufs() const { return Range().Top; }
    double BottomLufs() const { return Range().Bottom; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    const TMMLoudnessMeter& mMeter;
};

class TfLoudness : public QWidget {
public:
    static constexpr int SumSource = 0;  // Source(): 0 the sum of the active pairs, K pair K
    // The readouts and the history advance 4 times a second (the values
    // change every 100 ms of audio).
    static constexpr int TickMs = 250;

    explicit TfLoudness(QWidget* parent = nullptr);
    ~TfLoudness() override;

    TMMLoudnessMeter& Meter() { return mMeter; }

    int Source() const { return mSource; }
    void setSource(int source);  // out of range: pair 1
    int Target() const { return mMeter.Target(); }
    void setTarget(int lufs);    // not one of kLoudnessTargets: -23
    bool Paused() const { return mPaused; }
    void setPaused(bool paused);
    bool Measuring() const { return mShown && !mPaused; }
    // The readout timer runs (only while measuring).
    bool Ticking() const { return mTimer.isActive(); }

    // Recorded frames of pair k (1 ... 12), interleaved 16-bit stereo;
    // ignored unless measuring.
    void AddPair(int k, const int16_t* frames, size_t count);
    void setActivePairs(int n) { mMeter.setActivePairs(n); }
    void setSampleRate(int rate);  // a new rate starts every measurement anew

    // Start anew: every measurement and the history from zero.
    void Reset();
    // One tick: history and readouts.
    void Tick();

    // Called when Measuring() changes: the program attaches or detaches the feed.
    std::function<void(bool measuring)> OnMeasuringChanged;
    // Called on each tick before the readouts (the program updates the
    // active pairs and the rate there).
    std::function<void()> OnTick;

    QComboBox* cbSource() const { return mCbSource; }
    QComboBox* cbTarget() const { return mCbTarget; }
    QLabel* labMomentary() const { return mLabMomentary; }
    QLabel* labShortTerm() const { return mLabShortTerm; }
    QLabel* labIntegrated() const { return mLabIntegrated; }
    QLabel* labRange() const { return mLabRange; }
    QLabel* labTruePeak() const { return mLabTruePeak; }
    QPushButton* btnReset() const { return mBtnReset; }
    QPushButton* btnPause() const { return mBtnPause; }
    TLoudnessHistoryView* History() const { return mHistory; }

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    void measuringMayHaveChanged(bool before);
    void showReadouts();

    TMMLoudnessMeter mMeter;
    int mSource = kLoudnessSource.Default;
    bool mPaused = false, mShown = false;
    QTimer mTimer;
    QComboBox* mCbSource = nullptr;
    QComboBox* mCbTarget = nullptr;
    QLabel* mLabMomentary = nullptr;
    QLabel* mLabShortTerm = nullptr;
    QLabel* mLabIntegrated = nullptr;
    QLabel* mLabRange = nullptr;
    QLabel* mLabTruePeak = nullptr;
    QPushButton* mBtnReset = nullptr;
    QPushButton* mBtnPause = nullptr;
    TLoudnessHistoryView* mHistory = nullptr;
};
