#include "metering/qt/uSet_LevelControls.h"

#include "base/qt/MMBevelPaint.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QGridLayout>
#include <QPainter>
#include <QRadioButton>

TSetLevelRadioGroup::TSetLevelRadioGroup(const QString& caption, const QStringList& items,
                                         int columns, QWidget* parent)
    : QGroupBox(caption, parent), FGroup(new QButtonGroup(this))
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    columns = qMax(1, columns);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        FGroup->addButton(b, i);
        grid->addWidget(b, i / columns, i % columns);
        FButtons.push_back(b);
    }
    connect(FGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (id == FIndex) return;
        FIndex = id;
        if (OnClick) OnClick(id);
    });
}

QRadioButton* TSetLevelRadioGroup::Button(int index) const
{
    return index >= 0 && index < Count() ? FButtons[static_cast<size_t>(index)] : nullptr;
}

void TSetLevelRadioGroup::setItemIndex(int index)
{
    if (FButtons.empty()) return;
    index = qBound(0, index, Count() - 1);
    FIndex = index;
    FButtons[static_cast<size_t>(index)]->setChecked(true);
}

TMMColorButton::TMMColorButton(QWidget* parent) : QPushButton(parent)
{
    setFixedSize(32, 20);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QPushButton::clicked, this, &TMMColorButton::choose);
}

void TMMColorButton::setColor(TColor c)
{
    if (c == FColor) return;
    FColor = c;
    update();
}

void TMMColorButton::choose()
{
    const QColor picked = QColorDialog::getColor(ToQColor(FColor), this);
    if (!picked.isValid()) return;  // cancelled
    const TColor c = FromQColor(picked);
    if (c == FColor) return;
    setColor(c);
    if (OnChange) OnChange(c);
}

void TMMColorButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    TMMBevel bevel;
    bevel.BevelOuter = isDown() ? bvLowered : bvRaised;
    bevel.BorderLine = true;
    const QRect inner = PaintBevel(p, rect(), bevel);
    p.fillRect(inner.adjusted(1, 1, -1, -1), ToQColor(FColor));
}
