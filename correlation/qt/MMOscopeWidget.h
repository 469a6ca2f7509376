// The oscilloscope control: a thin QWidget over TMMOscope. Data taking and
// the ColumnValues recording happen when the connector delivers a slice;
// the pixels are drawn at the next paint (coalesced to the display refresh).
#pragma once

#include "correlation/MMOscope.h"

#include <QImage>
#include <QPoint>
#include <QWidget>

class TMMOscopeWidget : public QWidget, public TMMOscopeView {
    Q_OBJECT
public:
    explicit TMMOscopeWidget(QWidget* parent = nullptr);
    ~TMMOscopeWidget() override;

    TMMOscope& Scope() { return mScope; }
    const TMMOscope& Scope() const { return mScope; }
    const TMMBevel& Bevel() const { return mScope.Bevel(); }
    void setBevel(const TMMBevel& b) { mScope.setBevel(b); }

    bool IsShown() const override;
    bool CanDraw() const override;
    void Invalidate() override { update(); }

    // Text of the pointer readout at a plot position.
    QString ReadoutText(int column, int row) const;

    QSize sizeHint() const override { return QSize(194, 90); }

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    QPoint ClampToPlot(const QPoint& p) const;

    TMMOscope mScope;
    QImage mSurface;
    QPoint mPointer;
    // CanDraw as last worked out; -1: to work out again. The scope asks on
    // every slice; the answer changes only with the geometry or visibility of
    // the scope or its parent, whose events clear it.
    mutable int mCanDraw = -1;
};
