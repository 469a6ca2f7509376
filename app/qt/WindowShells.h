// The correlation window, created at start; its behaviour is completed by
// its own unit. It holds the values the main window saves. GUI thread only.
#pragma once

#include "app/MainValues.h"
#include "app/StoreAccess.h"

#include <QDialog>

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
