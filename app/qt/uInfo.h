// `TFrmInfo` / `FrmInfo`: the program information window: version, build and
// the licences of the libraries the program is built on.
#pragma once

#include <QDialog>

class TFrmInfo : public QDialog {
    Q_OBJECT
public:
    explicit TFrmInfo(QWidget* parent = nullptr);
    QString Text() const;

private:
    QString mText;
};
