#include "metering/qt/uLoudness.h"

#include "base/TvConstants.h"

#include <QComboBox>
#include <QHideEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

const QColor kOnTarget(0x30, 0xd0, 0x40), kOffTarget(0xf0, 0xc0, 0x20), kUndefined(0x90, 0x90, 0x90);

QLabel* readout(QWidget* parent, int pointSize)
{
    auto* l = new QLabel("---", parent);
    QFont f = l->font();
    f.setPointSize(pointSize);
    f.setBold(true);
    l->setFont(f);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setMinimumWidth(l->fontMetrics().horizontalAdvance("-888.8 LUFS"));
    return l;
}

void colour(QLabel* l, const QColor& c)
{
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, c);
    l->setPalette(p);
}

}  // namespace

// ---------------------------------------------------------------------------

TLoudnessHistoryView::TLoudnessHistoryView(const TMMLoudnessMeter& meter, QWidget* parent)
    : QWidget(parent), mMeter(meter)
{
    setMinimumSize(360, 140);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TLoudnessPlotRange TLoudnessHistoryView::Range() const
{
    return LoudnessPlotRange(mMeter.Target(), mMeter.History());
}

void TLoudnessHistoryView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int w = width(), h = height();
    p.fillRect(rect(), Qt::black);
    const TLoudnessPlotRange range = Range();
    const std::vector<double> lines = LoudnessPlotLines(range);
    const double bottom = range.Bottom, target = mMeter.Target();
    auto y = [&](double lufs) { return LoudnessPlotY(lufs, range, h); };

    // The tolerance band, the target and a line every 6 LU.
    p.fillRect(QRect(0, y(target + kLoudnessTolerance), w, y(target - kLoudnessTolerance) - y(target + kLoudnessTolerance) + 1),
               QColor(0x10, 0x40, 0x18));
    p.setPen(QColor(0x40, 0x40, 0x40));
    for (double l : lines) p.drawLine(0, y(l), w, y(l));
    p.setPen(QPen(kOnTarget, 1, Qt::DashLine));
    p.drawLine(0, y(target + kLoudnessTolerance), w, y(target + kLoudnessTolerance));
    p.drawLine(0, y(target - kLoudnessTolerance), w, y(target - kLoudnessTolerance));
    p.setPen(QPen(kOnTarget, 1));
    p.drawLine(0, y(target), w, y(target));
    // Each line's loudness just above it, the target's with its unit.
    p.setPen(Qt::lightGray);
    const int textHeight = p.fontMetrics().height();
    for (double l : lines)
        p.drawText(QRect(4, y(l) - textHeight, w / 2, textHeight), Qt::AlignLeft | Qt::AlignBottom,
                   l == target ? QString("%1 LUFS").arg(l) : QString::number(l));
    p.drawText(QRect(4, 2, w - 8, textHeight), Qt::AlignRight, "short-term, last 5 minutes");

    // The short-term values, newest at the right edge.
    const std::vector<double>& hist = mMeter.History();
    if (hist.empty()) return;
    const double step = static_cast<double>(w - 1) / (TMMLoudnessMeter::HistoryLength - 1);
    const double x0 = (w - 1) - step * static_cast<double>(hist.size() - 1);
    QPainterPath path;
    bool open = false;
    for (size_t i = 0; i < hist.size(); ++i) {
        if (!std::isfinite(hist[i]) || hist[i] < bottom) {
            open = false;
            continue;
        }
        const QPointF pt(x0 + step * static_cast<double>(i), y(hist[i]));
        if (open)
            path.lineTo(pt);
        else
            path.moveTo(pt);
        open = true;
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 1.5));
    p.drawPath(path);
}

// ---------------------------------------------------------------------------

TfLoudness::TfLoudness(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName("fLoudness");
    setWindowTitle("Loudness");

    auto* root = new QVBoxLayout(this);
    auto* choices = new QHBoxLayout;
    choices->addWidget(new QLabel("Measure", this));
    mCbSource = new QComboBox(this);
    mCbSource->setObjectName("cb_source");
    mCbSource->addItem("Sum of active pairs");
    for (int k = 1; k <= tv::kPairs; ++k) mCbSource->addItem(QString("Channels %1&%2").arg(2 * k - 1).arg(2 * k));
    choices->addWidget(mCbSource, 1);
    choices->addWidget(new QLabel("Target", this));
    mCbTarget = new QComboBox(this);
    mCbTarget->setObjectName("cb_target");
    for (int t : kLoudnessTargets) mCbTarget->addItem(QString("%1 LUFS").arg(t), t);
    choices->addWidget(mCbTarget);
    root->addLayout(choices);

    auto* grid = new QGridLayout;
    auto row = [&](int r, const char* caption, QLabel*& value, int pointSize) {
        grid->addWidget(new QLabel(caption, this), r, 0);
        value = readout(this, pointSize);
        grid->addWidget(value, r, 1);
    };
    row(0, "Momentary (400 ms)", mLabMomentary, 13);
    row(1, "Short-term (3 s)", mLabShortTerm, 13);
    row(2, "Integrated", mLabIntegrated, 18);
    row(3, "Loudness range", mLabRange, 13);
    row(4, "Maximum true peak", mLabTruePeak, 13);
    root->addLayout(grid);

    mHistory = new TLoudnessHistoryView(mMeter, this);
    root->addWidget(mHistory, 1);

    auto* buttons = new QHBoxLayout;
    mBtnReset = new QPushButton("Reset", this);
    mBtnReset->setObjectName("btnReset");
    mBtnPause = new QPushButton("Pause", this);
    mBtnPause->setObjectName("btnPause");
    buttons->addStretch(1);
    buttons->addWidget(mBtnReset);
    buttons->addWidget(mBtnPause);
    root->addLayout(buttons);

    mCbSource->setCurrentIndex(mSource);
    mCbTarget->setCurrentIndex(0);
    connect(mCbSource, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int i) { setSource(i); });
    connect(mCbTarget, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int i) { setTarget(mCbTarget->itemData(i).toInt()); });
    connect(mBtnReset, &QPushButton::clicked, this, [this] { Reset(); });
    connect(mBtnPause, &QPushButton::clicked, this, [this] { setPaused(!mPaused); });

    mTimer.setInterval(TickMs);
    connect(&mTimer, &QTimer::timeout, this, [this] { Tick(); });
    resize(420, 420);
    showReadouts();
}

TfLoudness::~TfLoudness() = default;

void TfLoudness::setSource(int source)
{
    if (source < SumSource || source > tv::kPairs) source = 1;
    mSource = source;
    mMeter.setPair(source == SumSource ? TMMLoudnessMeter::SumOfPairs : source - 1);
    if (mCbSource->currentIndex() != source) mCbSource->setCurrentIndex(source);
    showReadouts();
}

void TfLoudness::setTarget(int lufs)
{
    mMeter.setTarget(lufs);
    const int item = mCbTarget->findData(mMeter.Target());
    if (item >= 0 && mCbTarget->currentIndex() != item) mCbTarget->setCurrentIndex(item);
    showReadouts();
}

void TfLoudness::setPaused(bool paused)
{
    const bool before = Measuring();
    mPaused = paused;
    mBtnPause->setText(paused ? "Continue" : "Pause");
    measuringMayHaveChanged(before);
}

void TfLoudness::AddPair(int k, const int16_t* frames, size_t count)
{
    if (Measuring() && k >= 1 && k <= tv::kPairs) mMeter.AddPair(k - 1, frames, count);
}

void TfLoudness::setSampleRate(int rate)
{
    if (rate != mMeter.SampleRate()) mMeter.setSampleRate(rate);
}

void TfLoudness::Reset()
{
    mMeter.Reset();
    showReadouts();
}

void TfLoudness::Tick()
{
    if (OnTick) OnTick();
    mMeter.RecordHistory();
    showReadouts();
}

void TfLoudness::showReadouts()
{
    const double m = mMeter.Momentary(), s = mMeter.ShortTerm(), i = mMeter.Integrated();
    mLabMomentary->setText(QString::fromStdString(LoudnessReadout(m, "LUFS")));
    mLabShortTerm->setText(QString::fromStdString(LoudnessReadout(s, "LUFS")));
    mLabIntegrated->setText(QString::fromStdString(LoudnessReadout(i, "LUFS")));
    mLabRange->setText(QString::fromStdString(LoudnessReadout(mMeter.Range(), "LU")));
    mLabTruePeak->setText(QString::fromStdString(LoudnessReadout(mMeter.TruePeak(), "dBTP")));
    auto mark = [this](QLabel* l, double v) {
        colour(l, !std::isfinite(v) ? kUndefined : mMeter.OnTarget(v) ? kOnTarget : kOffTarget);
    };
    mark(mLabShortTerm, s);
    mark(mLabIntegrated, i);
    colour(mLabTruePeak, std::isfinite(mMeter.TruePeak()) && mMeter.TruePeak() > -1.0 ? QColor(0xe0, 0x30, 0x30)
                                                                                      : palette().color(QPalette::WindowText));
    mHistory->update();
}

void TfLoudness::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (e->spontaneous()) return;  // restored from minimised: it never stopped
    const bool before = Measuring();
    mShown = true;
    measuringMayHaveChanged(before);
}

void TfLoudness::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    if (e->spontaneous()) return;  // minimised: it goes on measuring
    const bool before = Measuring();
    mShown = false;
    measuringMayHaveChanged(before);
}

void TfLoudness::measuringMayHaveChanged(bool before)
{
    const bool now = Measuring();
    if (now == before) return;
    if (now)
        mTimer.start();
    else
        mTimer.stop();
    if (OnMeasuringChanged) OnMeasuringChanged(now);
}
