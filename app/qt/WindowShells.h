// Windows created at start whose behaviour is completed by their own units:
// the level settings dialog, the log window and the correlation window. Each
// holds the values the main window restores and saves. GUI thread only.
#pragma once

#include "app/MainValues.h"
#include "app/StoreAccess.h"

#include <QDialog>

// `TfSetLevel` / `fSetLevel`: "Level settings".
class TfSetLevel : public QDialog {
    Q_OBJECT
public:
    explicit TfSetLevel(QWidget* parent = nullptr);
    TLevelSetValues Values;  // the dialog's controls
};

// `TfLogFile` / `fLogFile`: "Logfile".
class TfLogFile : public QDialog {
    Q_OBJECT
public:
    explicit TfLogFile(QWidget* parent = nullptr);
};

// `TfCorre` / `fCorre`: "Correlation". Reads its position, speed and pair
// when shown.
class TfCorre : public QDialog {
    Q_OBJECT
public:
    TfCorre(TStoreAccess& store, QWidget* parent = nullptr);
    TCorreValues Values;
    void showCorrelation();

private:
    TStoreAccess& mStore;
};
