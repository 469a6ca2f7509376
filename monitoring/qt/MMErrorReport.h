// The program's standard error report: one line on stderr and a non-modal
// critical message box, so a timer or button handler never blocks or ends
// the run. GUI thread only.
#pragma once

#include <QString>

class QWidget;

void ShowErrorReport(QWidget* parent, const QString& text);
