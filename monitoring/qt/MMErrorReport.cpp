#include "monitoring/qt/MMErrorReport.h"

#include <QMessageBox>

#include <iostream>

void ShowErrorReport(QWidget* parent, const QString& text)
{
    std::cerr << "tarvolin: " << text.toStdString() << std::endl;
    auto* box = new QMessageBox(QMessageBox::Critical, "Tarvolin", text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
