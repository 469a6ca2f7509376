// `TfSkin` / `fSkin`: the skin choice dialog. Without a skinning engine it
// only offers the entries; choosing one is completed with the skin support.
#pragma once

#include <QDialog>

class TfSkin : public QDialog {
    Q_OBJECT
public:
    explicit TfSkin(QWidget* parent = nullptr);
};
