#include "metering/qt/uSet_LevelControls.h"

#include "base/qt/MMBevelPaint.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QGridLayout>
#include <QPainter>
#include <QRadioButton>

TSetLevelRadioGroup::TSetLevelRadioGroup(const QString& caption, const QStringList& items,
                                         int columns, QWidget* parent)
    : QGroupBox(caption, parent), mGroup(new QButtonGroup(this))
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    columns = qMax(1, columns);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        mGroup->addButton(b, i);
        grid->addWidget(b, i / columns, i % columns);
        mButtons.push_back(b);
    }
    connect(mGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (id == mIndex) return;
        mIndex = id;
        if (OnClick) OnClick(id);
    });
}

QRadioButton* TSetLevelRadioGroup::Button(int index) const
{
    return index >= 0 && index < Count() ? mButtons[static_cast<size_t>(index)] : nullptr;
}

void TSetLevelRadioGroup::setItemIndex(int index)
{
    if (mButtons.empty()) return;
    index = qBound(0, index, Count() - 1);
    mIndex = index;
    mButtons[static_cast<size_t>(index)]->setChecked(true);
}

TMMColorButton::TMMColorButton(QWidget* parent) : QPushButton(parent)
{
    setFixedSize(32, 20);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QPushButton::clicked, this, &TMMColorButton::choose);
}

void TMMColorButton::setColor(TColor c)
{
    if (c == mColor) return;
    mColor = c;
    update();
}

void TMMColorButton::choose()
{
    const QColor picked = QColorDialog::getColor(ToQColor(mColor), this);
    if (!picked.isValid()) return;  // cancelled
    const TColor c = FromQColor(picked);
    if (c == mColor) return;
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
    p.fillRect(inner.adjusted(1, 1, -1, -1), ToQColor(mColor));
}
