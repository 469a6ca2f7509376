// `TfLabels` / `fLabels`: the modal dialog that edits the 24 channel labels,
// shows them on the strips and stores them. GUI thread only.
#pragma once

#include "labels_skins/Labels.h"

#include <QDialog>

#include <array>
#include <functional>

class QLineEdit;

class TfLabels : public QDialog {
    Q_OBJECT
public:
    explicit TfLabels(QWidget* parent = nullptr);

    // Stored texts ("Edit " + n) and the strips' labels; set by the main window.
    TReadText ReadText;
    TWriteText WriteText;
    std::function<void(int n, const std::string& text)> SetStripLabel;

    QLineEdit* edit(int n) const { return mEdits[n - 1]; }
    TLabelTexts texts() const;

    // "Okay": apply to the strips, store, close.
    void okay();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void applyAndStore();

    std::array<QLineEdit*, LabelCount> mEdits{};
};
