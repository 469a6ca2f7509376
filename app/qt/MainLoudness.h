// The loudness window joined to the program: fed with the recorders' buffers
// while it measures, and its place and choices kept in the settings
// ("Loudness Left", "Loudness Top", "Loudness Visible", "Loudness Source",
// "Loudness Target"). GUI thread only.
#pragma once

#include <functional>

class TfLoudness;
class TMainAudio;
class TSettingsAccess;

class TMainLoudness {
public:
    // `activePairs` tells how many recorder pairs run (the sum's pairs).
    TMainLoudness(TfLoudness& window, TMainAudio& audio, TSettingsAccess& store, std::function<int()> activePairs);
    ~TMainLoudness();
    TMainLoudness(const TMainLoudness&) = delete;
    TMainLoudness& operator=(const TMainLoudness&) = delete;

    // Place, source and target as stored; shown again when it was shown at
    // the last close.
    void Restore();
    void Save();
    // The menu entry: shows and raises the window.
    void Show();

private:
    TfLoudness& mWindow;
    TMainAudio& mAudio;
    TSettingsAccess& mStore;
    std::function<int()> mActivePairs;
};
