// Input setup and labels dialogs, offscreen.
#include "base/TvConstants.h"
#include "app/MainLayout.h"
#include "app/qt/uMultimode.h"
#include "labels_skins/qt/uLabels.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

namespace {

struct FakeHost : TMultiHost {
    int maxWidth = 1400, width = 1382, channels = 0, inputs = 2, outputs = 1;
    std::array<int, tv::kPairs> rates{}, devices{};
    std::array<std::string, tv::kPairs> missing;
    bool recordersOpen = false;
    void SetMainWidths(const TModeWindowWidth& w) override
    {
        maxWidth = w.maxWidth;
        width = w.width;
    }
    void SetActiveChannelCount(int c) override { channels = c; }
    void SetRecorderSampleRate(int k, int r) override
    {
        if (recordersOpen && k == 1) throw std::runtime_error("Change to property while device was open");
        rates[k - 1] = r;
    }
    void SetRecorderDevice(int k, int id) override { devices[k - 1] = id; }
    void SetRecorderNotConnected(int k, const std::string& name) override { missing[k - 1] = name; }
    int InputDeviceCount() override { return inputs; }
    std::string InputDeviceName(int id) override { return id < 0 ? "mapper" : "in" + std::to_string(id); }
    int OutputDeviceCount() override { return outputs; }
    std::string OutputDeviceName(int id) override { return id < 0 ? "out mapper" : "out" + std::to_string(id); }
};

TEST(InputSetup, ListsMapperFirstAndStoredChoices)
{
    FakeHost host;
    TMemoryStore store;
    store.WriteInt("multi_2", 1);
    store.WriteInt("multi_3", 5);  // beyond the list: no selection
    store.WriteText("SDP Files", "/srv/a.sdp;/srv/b.sdp");
    Tfmulti dlg(host, store);
    dlg.fillLists();
    dlg.fillLists();  // refilling never duplicates
    EXPECT_EQ(dlg.inputList(1)->count(), 3);
    EXPECT_EQ(dlg.inputList(1)->itemText(0), "mapper");
    EXPECT_EQ(dlg.inputList(1)->itemText(2), "in1");
    EXPECT_EQ(dlg.inputList(1)->currentIndex(), 1);  // stored 0 -> device 0
    EXPECT_EQ(dlg.inputList(2)->currentIndex(), 2);
    EXPECT_EQ(dlg.inputList(3)->currentIndex(), -1);
    EXPECT_EQ(dlg.outputList()->count(), 2);
    EXPECT_TRUE(dlg.inputList(8)->isEnabled());
    EXPECT_FALSE(dlg.inputList(9)->isEnabled());

    dlg.okButton()->click();
    EXPECT_EQ(store.ReadInt("multi_1", 99), 0);
    EXPECT_EQ(store.ReadInt("multi_2", 99), 1);
    EXPECT_EQ(store.ReadInt("multi_3", 99), -2);
    EXPECT_EQ(host.devices[2], -2);
    EXPECT_EQ(store.ReadInt("out", 99), 0);
    EXPECT_EQ(store.ReadInt("Samplerate", 99), 0);
    EXPECT_TRUE(store.ReadBool("is Sound", false));
    // The network settings are kept as they were.
    EXPECT_EQ(store.ReadText("SDP Files", ""), "/srv/a.sdp;/srv/b.sdp");
    EXPECT_EQ(store.ReadText("Network Interface", "?"), "");
    // Position, name and rank of 12 inputs and the output; pair 3, with no
    // choice, only its position; the two network settings.
    EXPECT_EQ(store.Writes(), 3 + 13 * 3 - 2 + 1 + 1 + 2);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

// A remembered device found at another position is chosen there; one that is
// missing is offered as "NAME (not connected)", chosen, and OK keeps it.
TEST(InputSetup, RemembersDevicesByName)
{
    FakeHost host;
    host.inputs = 3;  // in0, in1, in2
    TMemoryStore store;
    store.WriteInt("multi_1", 0);
    store.WriteText("multi_1 name", "in2");  // moved from 0 to 2
    store.WriteInt("multi_2", 1);
    store.WriteText("multi_2 name", "USB Mic");  // not connected
    store.WriteInt("multi_3", 1);
    store.WriteText("multi_3 name", "Gone too");
    Tfmulti dlg(host, store);
    dlg.fillLists();
    EXPECT_EQ(dlg.inputList(1)->currentIndex(), 3);
    QComboBox* two = dlg.inputList(2);
    EXPECT_EQ(two->count(), 5);
    EXPECT_EQ(two->currentText(), "USB Mic (not connected)");
    EXPECT_EQ(dlg.inputList(1)->count(), 4) << "the missing device is offered only to its own pair";
    dlg.inputList(3)->setCurrentIndex(1);  // pair 3 gets in0 instead
    dlg.okButton()->click();
    EXPECT_EQ(store.ReadInt("multi_1", 99), 2);
    EXPECT_EQ(store.ReadText("multi_1 name", ""), "in2");
    EXPECT_EQ(store.ReadInt("multi_2", 99), 1);
    EXPECT_EQ(store.ReadText("multi_2 name", ""), "USB Mic");
    EXPECT_EQ(host.missing[1], "USB Mic");
    EXPECT_EQ(host.devices[1], 0) << "no device given to the pair whose device is missing";
    EXPECT_EQ(store.ReadText("multi_3 name", ""), "in0");
    EXPECT_EQ(host.devices[2], 0);
    EXPECT_EQ(host.missing[2], "");
}

// The alarm output's remembered device, unplugged: shown, chosen, kept on OK;
// choosing the default output instead replaces it.
TEST(InputSetup, RemembersTheAlarmOutputByName)
{
    FakeHost host;
    host.outputs = 2;  // out0, out1
    TMemoryStore store;
    store.WriteInt("out", 1);
    store.WriteText("out name", "USB Speaker");
    Tfmulti dlg(host, store);
    dlg.fillLists();
    QComboBox* out = dlg.outputList();
    EXPECT_EQ(out->count(), 4);
    EXPECT_EQ(out->currentText(), "USB Speaker (not connected)");
    dlg.okButton()->click();
    EXPECT_EQ(store.ReadInt("out", 99), 1);
    EXPECT_EQ(store.ReadText("out name", ""), "USB Speaker");
    dlg.fillLists();
    EXPECT_EQ(dlg.outputList()->count(), 4) << "refilling never duplicates";
    dlg.outputList()->setCurrentIndex(0);
    dlg.okButton()->click();
    EXPECT_EQ(store.ReadInt("out", 99), -1);
    EXPECT_EQ(store.ReadText("out name", "x"), "");
}

TEST(InputSetup, NoInputDeviceLeavesListsEmptyAndOkStoresInvalid)
{
    FakeHost host;
    host.inputs = 0;
    TMemoryStore store;
    Tfmulti dlg(host, store);
    dlg.fillLists();
    EXPECT_EQ(dlg.inputList(1)->count(), 0);
    EXPECT_EQ(dlg.outputList()->count(), 0);
    dlg.okButton()->click();
    for (int k = 1; k <= tv::kPairs; ++k) EXPECT_EQ(host.devices[k - 1], -2);
    EXPECT_EQ(store.ReadInt("out", 0), -2);
}

// Confirmed while no device is listed (a sound server not up yet): the
// remembered names survive, so the devices are found when they are back.
TEST(InputSetup, NoInputDeviceKeepsTheRememberedNames)
{
    FakeHost host;
    host.inputs = 0;
    host.outputs = 0;
    TMemoryStore store;
    store.WriteInt("multi_1", 3);
    store.WriteText("multi_1 name", "in3");
    store.WriteInt("multi_1 rank", 0);
    store.WriteText("out name", "Speakers");
    Tfmulti dlg(host, store);
    dlg.fillLists();
    dlg.okButton()->click();
    EXPECT_EQ(store.ReadInt("multi_1", 0), -2);
    EXPECT_EQ(store.ReadText("multi_1 name", ""), "in3");
    EXPECT_EQ(store.ReadText("out name", ""), "Speakers");
    host.inputs = 4;
    host.outputs = 1;
    dlg.fillLists();
    EXPECT_EQ(dlg.inputList(1)->currentText(), "in3");
}

TEST(InputSetup, ModeAndRateTakeEffectAtOnceOnlyOnChange)
{
    FakeHost host;
    TMemoryStore store;
    Tfmulti dlg(host, store);
    dlg.setMode(2);  // already the choice: nothing runs
    EXPECT_EQ(host.channels, 0);
    dlg.setMode(1);
    EXPECT_EQ(host.width, 4 * StripWidth);
    EXPECT_EQ(host.channels, 4);
    EXPECT_TRUE(dlg.inputList(2)->isEnabled());
    EXPECT_FALSE(dlg.inputList(3)->isEnabled());
    dlg.setMode(4);
    EXPECT_EQ(host.maxWidth, 1400);
    EXPECT_EQ(host.channels, 24);
    EXPECT_TRUE(dlg.inputList(12)->isEnabled());
    dlg.setMode(2, true);
    EXPECT_EQ(host.width, 8 * StripWidth);

    host.recordersOpen = true;  // an open recorder refuses; the others change
    dlg.setSampleRateIndex(1);
    EXPECT_EQ(host.rates[0], 0);
    EXPECT_EQ(host.rates[11], 48000);
    EXPECT_EQ(store.Writes(), 0);  // only OK stores
}

TEST(Labels, OpeningShowsStoredOrNumbersAndOkayStoresExactly)
{
    std::map<std::string, std::string> store;
    std::map<int, std::string> strips;
    TfLabels dlg;
    dlg.ReadText = [&](const std::string& n, const std::string& d) {
        auto it = store.find(n);
        return it == store.end() ? d : it->second;
    };
    dlg.WriteText = [&](const std::string& n, const std::string& v) { store[n] = v; };
    dlg.SetStripLabel = [&](int n, const std::string& t) { strips[n] = t; };

    QTimer::singleShot(0, &dlg, [&] {
        EXPECT_EQ(strips[1], "1");
        EXPECT_EQ(strips[24], "24");
        EXPECT_EQ(store["Edit 24"], "24");
        dlg.edit(2)->setText(" V ");  // not trimmed
        dlg.edit(3)->setText("VOX L");  // an edit takes the three letters a strip shows
        dlg.edit(4)->clear();
        dlg.okay();
    });
    dlg.exec();
    EXPECT_EQ(store["Edit 2"], " V ");
    EXPECT_EQ(store["Edit 3"], "VOX");
    EXPECT_EQ(strips[3], "VOX");
    EXPECT_EQ(store["Edit 4"], "");
    EXPECT_EQ(store.size(), 24u);

    // Typed but closed without "Okay": the next opening shows the stored text.
    dlg.edit(5)->setText("xyz");
    QTimer::singleShot(0, &dlg, [&] {
        EXPECT_EQ(dlg.edit(5)->text(), "5");
        dlg.reject();
    });
    dlg.exec();
}

}  // namespace
