#include "app/qt/ProgramWindows.h"

#include "app/qt/MeterEngine.h"

TProgramWindows::TProgramWindows(TMeterEngine& engine)
    : fMain(engine.Store(), engine),
      fSetLevel(&fMain),
      SetLevelSound(fSetLevel),
      fLabels(&fMain),
      fmulti(fMain, engine.Store(), &fMain),
      fSkin(&fMain),
      FrmInfo(&fMain),
      fLogFile(&fMain),
      CorrelationHost(engine.Store(), engine.Audio()),
      fCorre(CorrelationHost, &fMain)
{
    fMain.SetWindows({&fSetLevel, &fLabels, &fmulti, &fSkin, &FrmInfo, &fLogFile, &fCorre, &SetLevelSound});
}
