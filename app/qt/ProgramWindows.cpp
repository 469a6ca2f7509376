#include "app/qt/ProgramWindows.h"

TProgramWindows::TProgramWindows(TSettingsAccess& store, TMainAudio& audio)
    : fMain(store, audio),
      fSetLevel(&fMain),
      fLabels(&fMain),
      fmulti(fMain, store, &fMain),
      fSkin(&fMain),
      FrmInfo(&fMain),
      fLogFile(&fMain),
      CorrelationHost(store, audio),
      fCorre(CorrelationHost, &fMain)
{
    fMain.SetWindows({&fSetLevel, &fLabels, &fmulti, &fSkin, &FrmInfo, &fLogFile, &fCorre});
}
