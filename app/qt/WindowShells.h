// Windows created at start whose behaviour is completed by their own units:
// the log window and the correlation window. The correlation window holds
// the values the main window saves. GUI thread only.
#pragma once

#include "app/MainValues.h"
#include "app/StoreAccess.h"

#include <QDialog>

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
    TfCorre(TSettingsAccess& store, QWidget* parent = nullptr);
    TCorreValues Values;
    void showCorrelation();

private:
    TSettingsAccess& mStore;
};
