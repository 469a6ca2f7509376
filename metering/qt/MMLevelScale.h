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
    explicit TQtTextMeasure(const QFont& font) : FMetrics(font) {}
    int TextWidth(const std::string& text) const override;
    int TextHeight(const std::string& text) const override;

private:
    QFontMetrics FMetrics;
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

    int ScaleTicks() const { return FCore.ScaleTicks(); }
    void setScaleTicks(int v) { FCore.setScaleTicks(v); }
    int Sensitivy() const { return FCore.Sensitivy(); }
    void setSensitivy(int v) { FCore.setSensitivy(v); }
    bool LogAmp() const { return FCore.LogAmp(); }
    void setLogAmp(bool v) { FCore.setLogAmp(v); }
    int Point1() const { return FCore.Point1(); }
    void setPoint1(int v) { FCore.setPoint1(v); }
    int Point2() const { return FCore.Point2(); }
    void setPoint2(int v) { FCore.setPoint2(v); }
    TColor Scale1Color() const { return FCore.Scale1Color(); }
    void setScale1Color(TColor c) { FCore.setScale1Color(c); }
    TColor Scale2Color() const { return FCore.Scale2Color(); }
    void setScale2Color(TColor c) { FCore.setScale2Color(c); }
    TColor Scale3Color() const { return FCore.Scale3Color(); }
    void setScale3Color(TColor c) { FCore.setScale3Color(c); }
    TMMLevelKind Kind() const { return FCore.Kind(); }
    void setKind(TMMLevelKind k);
    TMMLevelDirection Direction() const { return FCore.Direction(); }
    void setDirection(TMMLevelDirection d) { FCore.setDirection(d); }
    TMMScalePos ScalePos() const { return FCore.ScalePos(); }
    void setScalePos(TMMScalePos p) { FCore.setScalePos(p); }
    TColor Color() const { return FCore.Color(); }
    void setColor(TColor c) { FCore.setColor(c); }
    QFont Font() const { return font(); }
    void setFont(const QFont& f);
    int Width() const { return width(); }
    void setWidth(int v) { resize(qMax(0, v), height()); }
    int Height() const { return height(); }
    void setHeight(int v) { resize(width(), qMax(0, v)); }

    TMMLevScale& Scale() { return FCore.Scale(); }
    void setScale(const TMMCustomScale& src) { FCore.setScale(src); }

    TMMCustomLevelScale& Core() { return FCore; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void SyncBounds();

    TMMCustomLevelScale FCore;
};
