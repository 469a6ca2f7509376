#include "app/qt/WindowShells.h"

TfLogFile::TfLogFile(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName("fLogFile");
    setWindowTitle("Logfile");
    resize(438, 460);
    move(167, 162);
}
