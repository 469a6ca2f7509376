// Windows created at start whose behaviour is completed by their own units:
// the log window. GUI thread only.
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
