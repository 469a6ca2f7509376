#include "monitoring/qt/MMWaveOpenDialog.h"

#include "audio/MMWaveOutBackend.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kColumns = 512;
constexpr uint64_t kMaxPreviewBytes = 64u << 20;  // larger files show no waveform

}  // namespace

QString WaveFormatName(const WaveFormat& f)
{
    switch (f.wFormatTag) {
    case 1: return "PCM";
    case 2: return "Microsoft ADPCM";
    case 3: return "IEEE Float";
    case 6: return "A-Law";
    case 7: return "u-Law";
    case 0x11: return "IMA ADPCM";
    case 0x55: return "MPEG Layer-3";
    default: return QString("Format %1").arg(f.wFormatTag);
    }
}

QString WaveFormatDetails(const WaveFormat& f)
{
    const QString ch = f.nChannels == 1 ? "Mono" : f.nChannels == 2 ? "Stereo" : QString("%1 Channels").arg(f.nChannels);
    return QString("%1 Hz, %2 Bit, %3").arg(f.nSamplesPerSec).arg(f.wBitsPerSample).arg(ch);
}

// ---------------------------------------------------------------------------

TMMWaveView::TMMWaveView(QWidget* parent) : QWidget(parent) { setMinimumSize(200, 60); }

void TMMWaveView::SetWave(const std::vector<uint8_t>& pcm, const WaveFormat& f)
{
    mMin.assign(kColumns, 0.0f);
    mMax.assign(kColumns, 0.0f);
    const size_t align = f.nBlockAlign ? f.nBlockAlign : 1;
    const size_t frames = pcm.size() / align;
    if (frames == 0) {
        ClearWave();
        return;
    }
    for (size_t i = 0; i < frames; ++i) {
        const size_t col = i * kColumns / frames;
        for (size_t c = 0; c < f.nChannels; ++c) {
            float v;
            if (f.wBitsPerSample == 16) {
                int16_t s;
                std::memcpy(&s, pcm.data() + i * align + 2 * c, 2);
                v = s / 32768.0f;
            } else {
                v = (int(pcm[i * align + c]) - 128) / 128.0f;
            }
            mMin[col] = std::min(mMin[col], v);
            mMax[col] = std::max(mMax[col], v);
        }
    }
    update();
}

void TMMWaveView::ClearWave()
{
    mMin.clear();
    mMax.clear();
    mLocator = -1;
    update();
}

void TMMWaveView::SetLocator(double fraction)
{
    mLocator = fraction;
    update();
}

void TMMWaveView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), mBack);
    if (mMin.empty()) return;
    const int w = width(), h = height();
    p.setPen(mFore);
    for (int x = 0; x < w; ++x) {
        const size_t col = static_cast<size_t>(x) * mMin.size() / static_cast<size_t>(w);
        const int y0 = static_cast<int>((1 - mMax[col]) * (h - 1) / 2);
        const int y1 = static_cast<int>((1 - mMin[col]) * (h - 1) / 2);
        p.drawLine(x, y0, x, y1);
    }
    if (mLocator >= 0) {
        // Drawn by inverting, so it shows on the wave and on the background.
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.setPen(mLocatorColor);
        const int x = static_cast<int>(std::clamp(mLocator, 0.0, 1.0) * (w - 1));
        p.drawLine(x, 0, x, h - 1);
    }
}

// ---------------------------------------------------------------------------

TMMWaveOpenDialog::TMMWaveOpenDialog(QWidget* parent, TMMWaveOutDevice* device)
    : QFileDialog(parent), mDevice(device ? *device : WaveOutDevice())
{
    setOption(QFileDialog::DontUseNativeDialog, true);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);

    auto* panel = new QWidget(this);
    panel->setObjectName("WavePreviewPanel");
    auto* row = new QHBoxLayout;
    mPlay = new QPushButton("Play", panel);
    mPlay->setEnabled(false);
    mPreview = new QCheckBox("Preview", panel);
    mAutoPlay = new QCheckBox("Auto Play", panel);
    row->addWidget(mPlay);
    row->addWidget(mPreview);
    row->addWidget(mAutoPlay);
    row->addStretch(1);
    mView = new TMMWaveView(panel);
    mInfo = new QLabel("Unknown", panel);
    auto* col = new QVBoxLayout(panel);
    col->setContentsMargins(0, 0, 0, 0);
    col->addLayout(row);
    col->addWidget(mView, 1);
    col->addWidget(mInfo);
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) grid->addWidget(panel, grid->rowCount(), 0, 1, -1);

    mLocatorTimer = new QTimer(this);
    mLocatorTimer->setInterval(50);
    mDetailsTimer = new QTimer(this);
    mDetailsTimer->setSingleShot(true);
    mDetailsTimer->setInterval(50);
    connect(mLocatorTimer, &QTimer::timeout, this, [this] { UpdateLocator(); });
    connect(mDetailsTimer, &QTimer::timeout, this, [this] { ShowDetails(); });
    connect(mPlay, &QPushButton::clicked, this, [this] { PlayOrStop(); });
    connect(mPreview, &QCheckBox::toggled, this, [this] { mDetailsTimer->start(); });
    connect(this, &QFileDialog::currentChanged, this, [this](const QString& p) { SelectionChanged(p); });

    ShowMessage = [this](const QString& text) { QMessageBox::critical(this, windowTitle(), text, QMessageBox::Ok); };

    mFile = std::make_unique<TMMAudioFile>();
    mOut = std::make_unique<TMMWaveOut>(mDevice);
    mOut->setBufferSize(32768);
    mOut->setNumBuffers(10);
    mOut->setTimeFormat(tfSample);
    mFile->setOutput(mOut.get());
    mOut->OnStop = [this](TMMCustomDSPComponent*) { mOut->Close(); };
    mOut->OnClose = [this](TMMCustomDSPComponent*) {
        mLocatorTimer->stop();
        mPlay->setText("Play");
        mView->SetLocator(-1);
    };
}

TMMWaveOpenDialog::~TMMWaveOpenDialog()
{
    mOut->OnClose = nullptr;
    mOut->OnStop = nullptr;
    mOut->Close();
    mFile->setOutput(nullptr);
}

void TMMWaveOpenDialog::setFilter(const QString& f)
{
    mFilter = f;
    const QStringList parts = f.split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        pattern.replace(';', ' ');
        // A description that shows its pattern already is taken as it stands.
        filters << (parts[i].contains('(') ? parts[i] : QString("%1 (%2)").arg(parts[i], pattern));
    }
    setNameFilters(filters);
    setFilterIndex(mFilterIndex);
}

void TMMWaveOpenDialog::setFilterIndex(int i)
{
    mFilterIndex = i;
    const QStringList filters = nameFilters();
    if (filters.isEmpty()) return;
    selectNameFilter(filters.value(i >= 1 && i <= filters.size() ? i - 1 : 0));
}

bool TMMWaveOpenDialog::Preview() const { return mPreview->isChecked(); }
void TMMWaveOpenDialog::setPreview(bool b) { mPreview->setChecked(b); }
bool TMMWaveOpenDialog::AutoPlay() const { return mAutoPlay->isChecked(); }
void TMMWaveOpenDialog::setAutoPlay(bool b) { mAutoPlay->setChecked(b); }

void TMMWaveOpenDialog::setColor(const QColor& c)
{
    mView->mBack = c;
    mView->update();
}

void TMMWaveOpenDialog::setForeColor(const QColor& c)
{
    mView->mFore = c;
    mView->update();
}

void TMMWaveOpenDialog::Unload()
{
    mOut->Close();
    mFile->SetReader(nullptr);
    mLoaded.clear();
    mInfoData = TMMWaveInfo();
    mView->ClearWave();
    mPlay->setEnabled(false);
    mPlay->setText("Play");
}

bool TMMWaveOpenDialog::DeviceAccepts() const
{
    const WaveFormat* f = mFile->GetFormat();
    return f && mFile->Convertible() && mInfoData.DataLength > 0 &&
           mDevice.Open(nullptr, mDeviceID, *f, nullptr, nullptr, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

void TMMWaveOpenDialog::SelectionChanged(const QString& path)
{
    if (path == mLoaded && !path.isEmpty()) return;
    Unload();
    const std::string name = path.toStdString();
    try {
        mInfoData = ParseWaveFile(name);
        mFile->SetReader(AudioReaderClasses().back().open(name));
        mLoaded = path;
    } catch (const EMMError&) {
        Unload();
    }
    mDetailsTimer->start();
    if (mLoaded.isEmpty()) return;
    mOut->setDeviceID(mDeviceID);
    mPlay->setEnabled(DeviceAccepts());
    if (AutoPlay() && mPlay->isEnabled()) PlayOrStop();
}

void TMMWaveOpenDialog::ShowDetails()
{
    if (mLoaded.isEmpty()) {
        mInfo->setText("Unknown");
        mView->ClearWave();
        return;
    }
    const WaveFormat& f = mInfoData.Format;
    mInfo->setText(QString("%1; %2; %3 KB")
                       .arg(WaveFormatName(f), WaveFormatDetails(f))
                       .arg((mInfoData.FileLength + 1023) / 1024));
    const bool showWave = Preview() && f.wFormatTag == WAVE_FORMAT_PCM && mInfoData.DataLength > 0 &&
                          f.nChannels <= 2 && mInfoData.DataLength <= kMaxPreviewBytes;
    if (!showWave) {
        mView->ClearWave();
        return;
    }
    try {
        TMMWaveFileReader r;
        r.Open(mLoaded.toStdString());
        std::vector<uint8_t> pcm(static_cast<size_t>(r.Info().DataLength));
        pcm.resize(r.Read(pcm.data(), pcm.size()));
        mView->SetWave(pcm, r.Info().Format);
    } catch (const EMMError&) {
        mView->ClearWave();
    }
}

void TMMWaveOpenDialog::PlayOrStop()
{
    if (mOut->Playing()) {
        mOut->Stop();
        return;
    }
    if (mLoaded.isEmpty()) return;
    if (mFile->PositionFrames() >= mFile->LengthFrames()) mFile->SeekFrames(0);
    try {
        mOut->Start();
    } catch (const EMMError& e) {
        ShowMessage(QString::fromStdString(e.what()));
        return;
    }
    mPlay->setText("Stop");
    mLocatorTimer->start();
}

void TMMWaveOpenDialog::UpdateLocator()
{
    if (!mOut->Playing()) return;
    const uint64_t len = mFile->LengthFrames();
    mView->SetLocator(len ? double(mOut->Position()) / double(len) : -1);
}

void TMMWaveOpenDialog::accept()
{
    const QStringList files = selectedFiles();
    const QString path = files.value(0);
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        try {
            ParseWaveFile(path.toStdString());
        } catch (const EMMError&) {
            ShowMessage("Invalid WaveFile...");
            return;
        }
    }
    mFileName = path;
    QFileDialog::accept();
}

void TMMWaveOpenDialog::done(int r)
{
    mOut->Close();
    QFileDialog::done(r);
}

bool TMMWaveOpenDialog::Execute()
{
    mFileName.clear();
    return exec() == QDialog::Accepted && !mFileName.isEmpty();
}
