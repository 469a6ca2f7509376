#include "app/qt/MainLoudness.h"

#include "app/StoreAccess.h"
#include "app/qt/MainAudio.h"
#include "metering/MMLoudnessSettings.h"
#include "metering/qt/uLoudness.h"

#include <QGuiApplication>
#include <QScreen>

#include <limits>

TMainLoudness::TMainLoudness(TfLoudness& window, TMainAudio& audio, TSettingsAccess& store,
                             std::function<int()> activePairs)
    : mWindow(window), mAudio(audio), mStore(store), mActivePairs(std::move(activePairs))
{
    auto follow = [this] {
        mWindow.setActivePairs(mActivePairs ? mActivePairs() : 1);
        if (mAudio.SampleRate() > 0) mWindow.setSampleRate(mAudio.SampleRate());
    };
    mWindow.OnTick = follow;
    // The recorders' buffers reach the meter only while it measures.
    mWindow.OnMeasuringChanged = [this, follow](bool measuring) {
        if (measuring) {
            follow();
            mAudio.SetBufferTap([this](int k, const int16_t* frames, size_t count) { mWindow.AddPair(k, frames, count); });
        } else {
            mAudio.SetBufferTap(nullptr);
        }
    };
}

TMainLoudness::~TMainLoudness()
{
    mAudio.SetBufferTap(nullptr);
    mWindow.OnMeasuringChanged = nullptr;
    mWindow.OnTick = nullptr;
}

void TMainLoudness::Restore()
{
    mWindow.setSource(kLoudnessSource.Read(mStore));
    mWindow.setTarget(kLoudnessTarget.Read(mStore));
    // Never placed before: the window manager places it. A place off every
    // screen (a screen since removed) is not restored either.
    constexpr int kUnset = std::numeric_limits<int>::min();
    const int left = kLoudnessLeft.Read(mStore, kUnset), top = kLoudnessTop.Read(mStore, kUnset);
    bool onScreen = false;
    if (left != kUnset && top != kUnset)
        for (const QScreen* s : QGuiApplication::screens())
            onScreen = onScreen || s->availableGeometry().contains(left + 40, top + 20);
    if (onScreen) mWindow.move(left, top);
    if (kLoudnessVisible.Read(mStore)) mWindow.show();
}

void TMainLoudness::Save()
{
    kLoudnessLeft.Write(mStore, mWindow.x());
    kLoudnessTop.Write(mStore, mWindow.y());
    kLoudnessVisible.Write(mStore, mWindow.isVisible());
    kLoudnessSource.Write(mStore, mWindow.Source());
    kLoudnessTarget.Write(mStore, mWindow.Target());
}

void TMainLoudness::Show()
{
    mWindow.show();
    mWindow.raise();
    mWindow.activateWindow();
}
