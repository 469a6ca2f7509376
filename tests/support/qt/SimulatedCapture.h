// Test environment of the main-window tests: the recorders capture from a
// manually clocked simulated device, and connector cycles run on the Qt loop.
#pragma once

#include "app/qt/MainAudio.h"
#include "audio/MMSimWaveIn.h"
#include "audio/qt/MMConnectorLoop.h"

#include <gtest/gtest.h>

#include <memory>

class TSimulatedCapture : public ::testing::Environment {
public:
    static TMMSimulatedWaveIn* Device() { return mDevice; }

    void SetUp() override
    {
        mSim = std::make_unique<TMMSimulatedWaveIn>(TMMSimulatedWaveIn::Clock::Manual);
        mDevice = mSim.get();
        SetMainCaptureDevice(mSim.get());
        mLoop = std::make_unique<TMMConnectorQtLoop>();
    }
    void TearDown() override
    {
        SetMainCaptureDevice(nullptr);
        mLoop.reset();
        mDevice = nullptr;
        mSim.reset();
    }

private:
    static inline TMMSimulatedWaveIn* mDevice = nullptr;
    std::unique_ptr<TMMSimulatedWaveIn> mSim;
    std::unique_ptr<TMMConnectorQtLoop> mLoop;
};
