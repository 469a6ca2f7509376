#include "app/qt/MainLoudness.h"

#include "app/StoreAccess.h"
#include "app/qt/MainAudio.h"
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
    mWindow.setSource(mStore.ReadInt("Loudness Source", 1));
    mWindow.setTarget(mStore.ReadInt("Loudness Target", -23));
    // Never placed before: the window manager places it. A place off every
    // screen (a screen since removed) is not restored either.
    constexpr int kUnset = std::numeric_limits<int>::min();
    const int left = mStore.ReadInt("Loudness Left", kUnset), top = mStore.ReadInt("Loudness Top", kUnset);
    bool onScreen = false;
    if (left != kUnset && top != kUnset)
        for (const QScreen* s : QGuiApplication::screens())
            onScreen = onScreen || s->availableGeometry().contains(left + 40, top + 20);
    if (onScreen) mWindow.move(left, top);
    if (mStore.ReadBool("Loudness Visible", false)) mWindow.show();
}

void TMainLoudness::Save()
{
    mStore.WriteInt("Loudness Left", mWindow.x());
    mStore.WriteInt("Loudness Top", mWindow.y());
    mStore.WriteBool("Loudness Visible", mWindow.isVisible());
    mStore.WriteInt("Loudness Source", mWindow.Source());
    mStore.WriteInt("Loudness Target", mWindow.Target());
}

void TMainLoudness::Show()
{
    mWindow.show();
    mWindow.raise();
    mWindow.activateWindow();
}
