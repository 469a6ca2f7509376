// `TMeterView`: what a view of the meter engine shows and keeps of its own.
// The engine owns the metering state; a view presents it (strips, labels,
// the alarm's red fill, message boxes) and keeps what only a window has (its
// place, the correlation window, the alarm sound's file and device, the
// input setup dialog). Every call runs on the GUI thread; each default does
// nothing, so a view implements only what it has. Qt-free.
#pragma once

#include "app/MainValues.h"
#include "base/MMTypes.h"
#include "monitoring/MMSilence.h"

#include <string>

class TMMMeterWindow;

class TMeterView {
public:
    virtual ~TMeterView() = default;

    // The strips' pictures, scales, heights and caption as the level settings
    // place them; null: the view has none.
    virtual TMMMeterWindow* StripDisplay() { return nullptr; }
    virtual void ShowLabelText(int, const std::string&) {}
    virtual void ShowLEDColor(int, TColor) {}
    virtual void ShowInputMode(int) {}
    virtual void ShowSampleRate(int) {}

    // Every event of the silence detector (its log lines among them).
    virtual void SilenceEvent(const TSilenceEvent&) {}
    // A line for the operator (a device lost or back, a journal, command or
    // webhook failure, monitoring paused); stderr has it already, except the
    // pause lines.
    virtual void OperatorLine(const std::string&) {}

    // The silence detector's display.
    virtual void SetLabelInactiveColor(int, TColor) {}
    virtual void SetLabelVisible(int, bool) {}
    virtual void SetLabelEnabled(int, bool) {}
    virtual void DrawAlarm(int) {}
    virtual void ReapplyStandard() {}
    // True when the view showed the failure to the operator.
    virtual bool ReportError(const std::string&) { return false; }

    // Stored values that belong to a window: false leaves them as stored.
    virtual bool Placement(TWindowPlacement&) { return false; }
    virtual void ApplyPlacement(const TWindowPlacement&) {}
    virtual bool CorreValues(TCorreValues&) { return false; }
    virtual void ShowCorrelation() {}
    // First start: a view with an input setup asks for the inputs before any
    // recorder starts.
    virtual bool HasInputSetup() const { return false; }
    virtual void ShowInputSetupModal() {}
    // The stored alarm sound file and output; false: the file could not be loaded.
    virtual bool HasAlarmSound() const { return false; }
    virtual bool RestoreAlarmFile(const std::string&) { return true; }
    virtual void SetAlarmOutDevice(int) {}
};
