// A strip's scale picture (`ima_nordic`n): holds a drawn image and shows it.
// The image is redrawn only when the standard is applied or an alarm fills
// it; resizing shows the old drawing until then. GUI thread only.
#pragma once

#include <QImage>
#include <QWidget>

class TStripPicture : public QWidget {
    Q_OBJECT
public:
    explicit TStripPicture(QWidget* parent = nullptr);

    // Draws standard 0 ... 6 over a new image of the widget's size; false
    // (image unchanged) for the standards that use the scale widget.
    bool DrawStandard(int standard);
    void DrawAlarm();
    const QImage& Picture() const { return mImage; }
    int Redraws() const { return mRedraws; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QImage mImage;
    int mRedraws = 0;
};
