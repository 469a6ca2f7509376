#include "app/qt/ScaleImagesPaint.h"

#include "metering/qt/MMLevelScale.h"

#include <QPainter>

QFont ScaleImageFont()
{
    InstallScaleFontSubstitutes();
    QFont f("MS Sans Serif");
    f.setPixelSize(11);
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

void PaintScaleImage(QImage& image, const TScaleCanvas& drawing)
{
    if (image.isNull()) return;
    QPainter p(&image);
    PaintScaleOps(p, drawing.Ops(), ScaleImageFont());
}

bool DrawScaleImage(QImage& image, int standard)
{
    TScaleCanvas canvas(image.width(), image.height());
    if (!DrawStandardScale(canvas, standard)) return false;
    PaintScaleImage(image, canvas);
    return true;
}

void DrawAlarmImage(QImage& image)
{
    TScaleCanvas canvas(image.width(), image.height());
    DrawAlarmFill(canvas);
    PaintScaleImage(image, canvas);
}

QImage MakeScaleImage(int width, int height, int standard)
{
    QImage image(qMax(0, width), qMax(0, height), QImage::Format_RGB32);
    image.fill(Qt::black);
    DrawScaleImage(image, standard);
    return image;
}
