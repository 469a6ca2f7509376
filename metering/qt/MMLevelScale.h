// The level scale widget: dB labels (and an optional tick row) beside a
// level bar. It draws what TMMCustomLevelScale records; GUI thread only.
#pragma once

#include "metering/MMScale.h"

#include <QFont>
#include <QFontMetrics>
#include <QWidget>

#include <vector>

class QPainter;

// Text measure over a Qt font: width is the advance, height the cell height.
class TQtTextMeasure : public IScaleTextMeasure {
public:
    explicit TQtTextMeasure(const QFont& font) : mMetrics(font) {}
    int TextWidth(const std::string& text) const override;
    int TextHeight(const std::string& text) const override;

private:
    QFontMetrics mMetrics;
};

// Maps the design fonts of the scales to installed ones ("Small Fonts",
// "MS Sans Serif" and "Tahoma" to Liberation Sans); idempotent.
void InstallScaleFontSubstitutes();

// The level scale's default label font: "Small Fonts" 6, drawn as Liberation
// Sans with a 10-pixel em (cell height 11), without antialiasing.
QFont DefaultScaleLabelFont();

// Renders recorded operations with QPainter at their exact pixels. Text cells
// are as wide as the text's advance and as high as the font's height; the
// text's top-left corner lies on the operation's point.
void PaintScaleOps(QPainter& p, const std::vector<TScaleOp>& ops, const QFont& font);

class TMMLevelScale : public QWidget {
    Q_OBJECT
public:
    explicit TMMLevelScale(QWidget* parent = nullptr);

    int ScaleTicks() const { return mCore.ScaleTicks(); }
    void setScaleTicks(int v) { mCore.setScaleTicks(v); }
    int Sensitivy() const { return mCore.Sensitivy(); }
    void setSensitivy(int v) { mCore.setSensitivy(v); }
    bool LogAmp() const { return mCore.LogAmp(); }
    void setLogAmp(bool v) { mCore.setLogAmp(v); }
    int Point1() const { return mCore.Point1(); }
    void setPoint1(int v) { mCore.setPoint1(v); }
    int Point2() const { return mCore.Point2(); }
    void setPoint2(int v) { mCore.setPoint2(v); }
    TColor Scale1Color() const { return mCore.Scale1Color(); }
    void setScale1Color(TColor c) { mCore.setScale1Color(c); }
    TColor Scale2Color() const { return mCore.Scale2Color(); }
    void setScale2Color(TColor c) { mCore.setScale2Color(c); }
    TColor Scale3Color() const { return mCore.Scale3Color(); }
    void setScale3Color(TColor c) { mCore.setScale3Color(c); }
    TMMLevelKind Kind() const { return mCore.Kind(); }
    void setKind(TMMLevelKind k);
    TMMLevelDirection Direction() const { return mCore.Direction(); }
    void setDirection(TMMLevelDirection d) { mCore.setDirection(d); }
    TMMScalePos ScalePos() const { return mCore.ScalePos(); }
    void setScalePos(TMMScalePos p) { mCore.setScalePos(p); }
    TColor Color() const { return mCore.Color(); }
    void setColor(TColor c) { mCore.setColor(c); }
    QFont Font() const { return font(); }
    void setFont(const QFont& f);
    int Width() const { return width(); }
    void setWidth(int v) { resize(qMax(0, v), height()); }
    int Height() const { return height(); }
    void setHeight(int v) { resize(width(), qMax(0, v)); }

    TMMLevScale& Scale() { return mCore.Scale(); }
    void setScale(const TMMCustomScale& src) { mCore.setScale(src); }

    TMMCustomLevelScale& Core() { return mCore; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void SyncBounds();

    TMMCustomLevelScale mCore;
};
