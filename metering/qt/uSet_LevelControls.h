// Small controls of the level settings dialog: a radio group with an item
// index and columns, and a colour button that opens the desktop's colour
// dialog. GUI thread only.
#pragma once

#include "base/MMTypes.h"

#include <QGroupBox>
#include <QPushButton>

#include <functional>
#include <vector>

class QButtonGroup;
class QRadioButton;

// A titled group of radio buttons laid out in `columns` columns, row by row.
// OnClick fires when the user picks another item; setItemIndex from code
// fires nothing (the owner runs the handler it wants).
class TSetLevelRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TSetLevelRadioGroup(const QString& caption, const QStringList& items, int columns,
                        QWidget* parent = nullptr);

    int ItemIndex() const { return mIndex; }
    void setItemIndex(int index);  // clamped to the items
    int Count() const { return static_cast<int>(mButtons.size()); }
    QRadioButton* Button(int index) const;

    std::function<void(int)> OnClick;

private:
    QButtonGroup* mGroup;
    std::vector<QRadioButton*> mButtons;
    int mIndex = -1;
};

// A flat button filled with its colour. A click opens the colour dialog;
// a confirmed choice that differs fires OnChange.
class TMMColorButton : public QPushButton {
    Q_OBJECT
public:
    explicit TMMColorButton(QWidget* parent = nullptr);

    TColor Color() const { return mColor; }
    void setColor(TColor c);  // from code: no OnChange

    std::function<void(TColor)> OnChange;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void choose();
    TColor mColor = clBlack;
};
