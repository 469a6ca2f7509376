#include "base/TvConstants.h"
#include "app/qt/uMultimode.h"

#include "app/DeviceNames.h"
#include "app/InputModes.h"
#include "app/SettingNames.h"
#include "audio/MMAudioBackend.h"
#include "audio/MMWavIn.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char* const kGroupCaptions[tv::kPairs] = {
    " Input Device 1&&2 ",   " Input Device 3&&4 ",   " Input Device 5&&6 ",   " Input Device 7&&8 ",
    " Input Device 9&&10 ",  " Input Device 11&&12",  " Input Device 13&&14 ", " Input Device 15&&16",
    " Input Device 17&&18",  " Input Device 19&&20 ", " Input Device 21&&22 ", " Input Device 23&&24 "};


}  // namespace

Tfmulti::Tfmulti(TMultiHost& host, TSettingsAccess& store, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      mHost(host),
      mStore(store)
{
    setObjectName("fmulti");
    setWindowTitle("Multi Mode Input Setup");
    setFixedSize(1020, 557);

    auto* root = new QVBoxLayout(this);

    auto* rgMode = new QGroupBox(" Select the input mode ", this);
    rgMode->setObjectName("rg_mode");
    auto* modeRow = new QHBoxLayout(rgMode);
    mModeGroup = new QButtonGroup(this);
    const char* modes[5] = {"2 Channels", "4 Channels", "8 Channels", "16 Channels", "24 Channels"};
    for (int i = 0; i < 5; ++i) {
        auto* b = new QRadioButton(modes[i], rgMode);
        mModeGroup->addButton(b, i);
        modeRow->addWidget(b);
    }
    mModeGroup->button(mMode)->setChecked(true);
    connect(mModeGroup, &QButtonGroup::idClicked, this, [this](int i) { setMode(i); });
    root->addWidget(rgMode);

    auto* grid = new QGridLayout;
    for (int k = 1; k <= tv::kPairs; ++k) {
        auto* box = new QGroupBox(kGroupCaptions[k - 1], this);
        auto* v = new QVBoxLayout(box);
        v->addWidget(new QLabel("Select audio device to use for input ", box));
        auto* cb = new QComboBox(box);
        cb->setObjectName(QString("cb_%1").arg(k));
        cb->setEnabled(k <= 8);
        v->addWidget(cb);
        mInputs[k - 1] = cb;
        grid->addWidget(box, (k - 1) % 4, (k - 1) / 4);
    }
    root->addLayout(grid);

    auto* bottom = new QHBoxLayout;
    auto* rgSample = new QGroupBox("  Samplerate  for all devices   ", this);
    rgSample->setObjectName("rg_sample");
    rgSample->setProperty("tag", 99);  // drawn by the program under every skin
    auto* rateRow = new QHBoxLayout(rgSample);
    mRateGroup = new QButtonGroup(this);
    for (int i = 0; i < 2; ++i) {
        auto* b = new QRadioButton(i == 0 ? "44100 Hz" : "48000 Hz", rgSample);
        mRateGroup->addButton(b, i);
        rateRow->addWidget(b);
    }
    mRateGroup->button(0)->setChecked(true);
    connect(mRateGroup, &QButtonGroup::idClicked, this, [this](int i) { setSampleRateIndex(i); });
    bottom->addWidget(rgSample);

    auto* gbPlayback = new QGroupBox(" Output Device ", this);
    gbPlayback->setObjectName("gb_playback");
    auto* pv = new QVBoxLayout(gbPlayback);
    pv->addWidget(new QLabel("Select audio device to use for output", gbPlayback));
    mOut = new QComboBox(gbPlayback);
    mOut->setObjectName("cb_out");
    pv->addWidget(mOut);
    bottom->addWidget(gbPlayback);

    // Network streams: read at the next start (the back ends are made then).
    auto* gbNet = new QGroupBox(" Network Streams (AES67; used from the next start) ", this);
    gbNet->setObjectName("gb_network");
    auto* nv = new QHBoxLayout(gbNet);
    nv->addWidget(new QLabel("Interface:", gbNet));
    mNetInterface = new QLineEdit(gbNet);
    mNetInterface->setObjectName("le_net_interface");
    mNetInterface->setPlaceholderText("e.g. eth1; empty: none");
    mNetInterface->setFixedWidth(230);
    nv->addWidget(mNetInterface);
    nv->addWidget(new QLabel("SDP files:", gbNet));
    mSdpFiles = new QLineEdit(gbNet);
    mSdpFiles->setObjectName("le_sdp_files");
    mSdpFiles->setPlaceholderText("streams not announced: FILE.sdp;FILE.sdp");
    nv->addWidget(mSdpFiles, 1);
    root->addWidget(gbNet);

    mOk = new QPushButton("OK", this);
    mOk->setObjectName("btnOk");
    mOk->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("btnCancel");
    connect(mOk, &QPushButton::clicked, this, [this] { okClicked(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    bottom->addWidget(mOk);
    bottom->addWidget(cancel);
    root->addLayout(bottom);
}

void Tfmulti::setMode(int index, bool force)
{
    index = ClampInputMode(index);
    if (index == mMode && !force) return;
    mMode = index;
    if (auto* b = mModeGroup->button(index)) b->setChecked(true);
    modeClicked(index);
}

void Tfmulti::modeClicked(int index)
{
    for (int k = 2; k <= tv::kPairs; ++k) mInputs[k - 1]->setEnabled(InputListEnabled(index, k));
    mHost.SetMainWidths(WindowWidthForMode(index));
    mHost.SetActiveChannelCount(ChannelsForMode(index));
}

void Tfmulti::setSampleRateIndex(int index, bool force)
{
    index = std::clamp(index, 0, 1);
    if (index == mRate && !force) return;
    mRate = index;
    if (auto* b = mRateGroup->button(index)) b->setChecked(true);
    sampleRateClicked(index);
}

void Tfmulti::sampleRateClicked(int index)
{
    for (int k = 1; k <= tv::kPairs; ++k) {
        try {
            mHost.SetRecorderSampleRate(k, SampleRateForIndex(index));
        } catch (...) {
            // an open recorder refuses the change; it keeps its rate
        }
    }
}

void Tfmulti::showEvent(QShowEvent* e)
{
    fillLists();
    QDialog::showEvent(e);
}

void Tfmulti::fillLists()
{
    for (QComboBox* cb : mInputs) cb->clear();
    mOut->clear();
    for (std::string& m : mMissing) m.clear();
    mMissingOut.clear();
    mInputNames.clear();
    mOutputNames.clear();
    const int inputs = mHost.InputDeviceCount();
    if (inputs <= 0) return;
    const QString mapper = QString::fromStdString(mHost.InputDeviceName(-1));
    for (QComboBox* cb : mInputs) cb->addItem(mapper);
    mOut->addItem(QString::fromStdString(mHost.OutputDeviceName(-1)));
    for (int i = 0; i < mHost.OutputDeviceCount(); ++i) {
        mOutputNames.push_back(mHost.OutputDeviceName(i));
        mOut->addItem(QString::fromStdString(mOutputNames.back()));
    }
    for (int i = 0; i < inputs; ++i) {
        mInputNames.push_back(mHost.InputDeviceName(i));
        const QString name = QString::fromStdString(mInputNames.back());
        for (QComboBox* cb : mInputs) cb->addItem(name);
    }
    auto select = [](QComboBox* cb, int id) {
        const int item = id + 1;
        cb->setCurrentIndex(item >= 0 && item < cb->count() ? item : -1);
    };
    // A remembered device is chosen by its name; one that is missing is
    // offered as "NAME (not connected)" and stays chosen.
    for (int k = 1; k <= tv::kPairs; ++k) {
        const int fallback = DefaultRecorderDevice(WaveInDevice(), k);
        const TDeviceChoice c = StoredRecorderDevice(mStore, k, fallback < inputs ? fallback : 0, mInputNames);
        QComboBox* cb = mInputs[k - 1];
        if (c.Missing) {
            mMissing[k - 1] = StoredRecorderName(mStore, k);
            cb->addItem(QString::fromStdString(NotConnectedCaption(mMissing[k - 1])));
            cb->setCurrentIndex(cb->count() - 1);
        } else {
            select(cb, c.Id);
        }
    }
    mNetInterface->setText(QString::fromStdString(kNetInterfaceSetting.Read(mStore)));
    mSdpFiles->setText(QString::fromStdString(kSdpFilesSetting.Read(mStore)));
    // The alarm plays on the default output meanwhile; the dialog still
    // shows the remembered one, so OK does not forget it.
    if (StoredOutDevice(mStore, mOutputNames).Missing) {
        mMissingOut = mStore.ReadText(kOutNameSetting, "");
        mOut->addItem(QString::fromStdString(NotConnectedCaption(mMissingOut)));
        mOut->setCurrentIndex(mOut->count() - 1);
    } else {
        select(mOut, StoredOutDevice(mStore, mOutputNames).Id);
    }
}

void Tfmulti::okClicked()
{
    auto missingChosen = [this](int k) {
        return !mMissing[k - 1].empty() && mInputs[k - 1]->currentIndex() == mInputs[k - 1]->count() - 1;
    };
    // A device left "not connected" keeps what is stored for it.
    for (int k = 1; k <= tv::kPairs; ++k)
        if (!missingChosen(k)) WriteRecorderDevice(mStore, k, mInputs[k - 1]->currentIndex() - 1, mInputNames);
    if (mMissingOut.empty() || mOut->currentIndex() != mOut->count() - 1)
        WriteOutDevice(mStore, mOut->currentIndex() - 1, mOutputNames);
    kSampleRateSetting.Write(mStore, mRate);
    kNetInterfaceSetting.Write(mStore, mNetInterface->text().trimmed().toStdString());
    kSdpFilesSetting.Write(mStore, mSdpFiles->text().trimmed().toStdString());
    for (int k = 1; k <= tv::kPairs; ++k) {
        try {
            if (missingChosen(k))
                mHost.SetRecorderNotConnected(k, mMissing[k - 1]);
            else
                mHost.SetRecorderDevice(k, mInputs[k - 1]->currentIndex() - 1);
        } catch (...) {
            // refused while open; the recorders are closed while the dialog shows
        }
    }
    kIsSoundSetting.Write(mStore, true);
    accept();
}
