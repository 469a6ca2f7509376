// The program's windows in their order of creation, joined to the main
// window, over one meter engine (which must outlive them). The program, the
// tests and the benchmarks build them here.
// GUI thread only.
#pragma once

#include "app/qt/MainCorrelation.h"
#include "app/qt/SetLevelLink.h"
#include "app/qt/uInfo.h"
#include "app/qt/uMain.h"
#include "app/qt/uMultimode.h"
#include "correlation/qt/uCorre.h"
#include "labels_skins/qt/uLabels.h"
#include "labels_skins/qt/uSkin.h"
#include "metering/qt/uSet_Level.h"
#include "monitoring/qt/uLogFile.h"

class TMeterEngine;

struct TProgramWindows {
    explicit TProgramWindows(TMeterEngine& engine);

    TfMain fMain;
    TfSetLevel fSetLevel;
    TSetLevelSound SetLevelSound;  // fSetLevel's MMAudioPlayer1 and MMWaveOpenDialog1
    TfLabels fLabels;
    Tfmulti fmulti;
    TfSkin fSkin;
    TFrmInfo FrmInfo;
    TfLogFile fLogFile;
    TMainCorrelationHost CorrelationHost;
    TfCorre fCorre;
};
