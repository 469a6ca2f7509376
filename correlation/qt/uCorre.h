// `TfCorre` / `fCorre`: the correlation window "Correlation". Its connector
// `mConnectCore` hangs behind the chosen pair's connector and feeds the two
// hidden scopes `os_l` / `os_r`; after every trigger cycle the correlation
// step (TMMCorrelation) averages the Pearson coefficient of their column
// tables and draws the strip `Image4`. GUI thread only.
#pragma once

#include "audio/MMConnector.h"
#include "correlation/MMCorrelation.h"
#include "correlation/MMCorrelationPair.h"
#include "correlation/qt/MMOscopeWidget.h"

#include <QDialog>
#include <QGroupBox>
#include <QImage>

#include <functional>
#include <string>
#include <vector>

class QButtonGroup;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;

// A titled group of radio buttons in `columns` columns, row by row. A
// change of item, by the user or by setItemIndex, runs OnClick; choosing the
// item already chosen runs nothing.
class TCorreRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TCorreRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent);
    int ItemIndex() const { return mIndex; }
    void setItemIndex(int index);  // limited to the items
    QRadioButton* Button(int index) const;
    std::function<void()> OnClick;

private:
    QButtonGroup* mGroup;
    std::vector<QRadioButton*> mButtons;
    int mIndex = -1;
};

// A picture control: paints itself with `Painter`, a click runs OnClick.
class TCorrePicture : public QWidget {
    Q_OBJECT
public:
    using TPainter = std::function<void(QPainter&, const QSize&)>;
    TCorrePicture(TPainter painter, QWidget* parent);
    std::function<void()> OnClick;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    TPainter mPainter;
};

// `Image4`: shows the strip picture. The correlation steps of one wake-up of
// the connectors' loop (once per display frame) share one repaint.
class TCorreStripView : public QWidget {
    Q_OBJECT
public:
    TCorreStripView(const TMMCorrelationStrip& strip, QWidget* parent);
    // The picture changed.
    void Changed();
    uint64_t Paints() const { return mPaints; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    const TMMCorrelationStrip& mStrip;
    QImage mImage;
    uint64_t mPaints = 0;
};

// A scope whose one visible row is its frame: data changes need no repaint.
class TCorreScope : public TMMOscopeWidget {
    Q_OBJECT
public:
    using TMMOscopeWidget::TMMOscopeWidget;
    void Invalidate() override {}
};

class TfCorre : public QDialog {
    Q_OBJECT
public:
    // Outer heights of the window with and without the setup area; the
    // client area is the outer size less the frame.
    static constexpr int kFrameWidth = 8, kFrameHeight = 35;
    static constexpr int kWidth = 569, kHeight = 138, kSetHeight = 275, kNoSetHeight = 133;

    // Creates the controls and links `mConnectCore` behind `MMConnector1`.
    // Starts `t_corre` (200 ms) and `Timer1` (1000 ms, once).
    explicit TfCorre(TCorrelationHost& host, QWidget* parent = nullptr);
    ~TfCorre() override;

    // Shows the window; its first showing restores position and speed. With
    // no stored position it opens beside its parent main window.
    void showCorrelation() { show(); }

    // --- controls ---
    TCorrePicture* Image1() const { return mImage1; }
    TCorrePicture* Image2() const { return mImage2; }
    TCorrePicture* Image3() const { return mImage3; }
    TCorreStripView* Image4() const { return mImage4; }
    TCorrePicture* Image5() const { return mImage5; }
    QLabel* Lab_Min() const { return mLabMin; }
    QLabel* Lab_Max() const { return mLabMax; }
    QLabel* lab_cor_p() const { return mLabCorP; }
    QLabel* lab_cor_p2() const { return mLabCorP2; }
    TMMOscopeWidget* os_l() const { return mOsL; }
    TMMOscopeWidget* os_r() const { return mOsR; }
    QPushButton* Button1() const { return mButton1; }
    TCorreRadioGroup* rg_channel() const { return mRgChannel; }
    TCorreRadioGroup* rg_correlation() const { return mRgCorrelation; }
    QTimer* t_corre() const { return mTCorre; }
    QTimer* Timer1() const { return mTimer1; }
    TMMConnector& ConnectCore() { return mConnectCore; }

    const TMMCorrelation& Correlation() const { return mCorr; }
    const TMMCorrelationStrip& Strip() const { return mStrip; }

    // --- handlers ---
    void FormShow();
    void rg_correlationClick();
    void rg_channelClick();
    void mConnectCoreTrigger();
    void t_correTimer();
    void Image1Click();
    void Timer1Timer();
    void Button1Click();
    // A click on either percentage resets the tick counters.
    void PercentClick();
    // Another pair: averaging, extremes and percentages start again.
    void RestartReadings();

    int OuterHeight() const { return height() + kFrameHeight; }
    void setOuterHeight(int h);

    // Values the main window stores at exit.
    int SpeedIndex() const { return mRgCorrelation->ItemIndex(); }  // kCorreSpeed
    int ChannelIndex() const { return mRgChannel->ItemIndex(); }    // kCorreChannel
    int WindowTop() const { return y(); }                           // kCorreTop
    int WindowLeft() const { return x(); }                          // kCorreLeft

    // The pair whose connector feeds mConnectCore (1 ... 6), 0 for none.
    int TappedPair() const;

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void ShowError(const std::exception& e);
    QPoint StartPlace();
    QPoint PlaceBesideMain() const;

    TCorrelationHost& mHost;
    TMMConnector mConnectCore;
    TMMCorrelation mCorr;
    TMMCorrelationStrip mStrip;
    bool mPlaced = false;
    std::string mMinText = "0", mMaxText = "0", mPercentText = "100 %", mPercent2Text = "0 %";

    TCorrePicture* mImage1 = nullptr;
    TCorrePicture* mImage2 = nullptr;
    TCorrePicture* mImage3 = nullptr;
    TCorreStripView* mImage4 = nullptr;
    TCorrePicture* mImage5 = nullptr;
    QLabel* mLabMin = nullptr;
    QLabel* mLabMax = nullptr;
    QLabel* mLabCorP = nullptr;
    QLabel* mLabCorP2 = nullptr;
    TCorreScope* mOsL = nullptr;
    TCorreScope* mOsR = nullptr;
    QPushButton* mButton1 = nullptr;
    TCorreRadioGroup* mRgChannel = nullptr;
    TCorreRadioGroup* mRgCorrelation = nullptr;
    QTimer* mTCorre = nullptr;
    QTimer* mTimer1 = nullptr;
};
