#include "app/qt/WindowShells.h"

#include <QPalette>

TfCorre::TfCorre(TStoreAccess& store, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      mStore(store)
{
    setObjectName("fCorre");
    setWindowTitle("Correlation");
    resize(569, 138);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x31, 0x38, 0x42));
    setPalette(pal);
    setAutoFillBackground(true);
}

void TfCorre::showCorrelation()
{
    Values.Top = mStore.ReadInt("wtop", Values.Top);
    Values.Left = mStore.ReadInt("wleft", Values.Left);
    Values.Speed = mStore.ReadInt("speed", Values.Speed);
    Values.Channel = mStore.ReadInt("Channel", Values.Channel);
    move(Values.Left, Values.Top);
    show();
}
