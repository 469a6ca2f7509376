// The live page's two messages parse as JSON and carry the meter's state:
// levels as GET /status gives them, segments clamped to the bar, alarm and
// unwatched strips, recorder states, and hostile labels, device names and
// log lines as literal strings. The scale labels of a drawn picture and of
// the scale widget run top to bottom inside the bar.
#include "app/MainLayout.h"
#include "app/ScaleImages.h"
#include "metering/MMPresets.h"
#include "monitoring/MMLiveFrame.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

QJsonObject Parse(const std::string& json)
{
    QJsonParseError e{};
    const QJsonDocument d = QJsonDocument::fromJson(QByteArray::fromStdString(json), &e);
    EXPECT_EQ(e.error, QJsonParseError::NoError) << e.errorString().toStdString() << " in " << json;
    return d.object();
}

const std::string kHostile = "<b>x</b><script>alert(\"1\")</script>\\ \xC3\xA9\xFF";

}  // namespace

TEST(LiveFrame, CarriesLevelsStatesAndHostileTextLiterally)
{
    TLiveFrame f;
    f.Channels = 4;
    f.Detector = true;
    f.Standard = "Peak dBFS";
    for (int n = 1; n <= 3; ++n) {
        TLiveStrip s;
        s.Status.Strip = n;
        s.Status.Watched = n <= 2;
        s.Segments = 100;
        s.Zone1 = 56, s.Zone2 = 70;
        s.Active[0] = RGBColor(0, 255, 0), s.Active[2] = RGBColor(255, 0, 0);
        f.Strips.push_back(s);
    }
    f.Strips[0].Status.Label = kHostile;
    f.Strips[0].Status.Level = 3277;    // -20.00 dBFS
    f.Strips[0].Bar = 250, f.Strips[0].Peak = 2 * 100 + 3;  // over the top: the whole bar
    f.Strips[1].Status.Level = 32767;   // full scale
    f.Strips[1].Status.State = TSilenceState::Alarm;
    f.Strips[1].Bar = -3;
    f.Strips[2].Status.Level = 0;       // nothing came
    f.Recorders.push_back({1, kHostile, RecorderStateName(false, false, "device lost")});
    f.Recorders.push_back({2, "USB (not connected)", RecorderStateName(false, true, "")});
    f.Recorders.push_back({3, "Line 1", RecorderStateName(true, false, "")});
    f.LogLines = {"Silence on " + kHostile, "line\nwith\tcontrols\x01"};
    f.HasCorrelation = true, f.CorrelationPair = 2, f.Correlation = 1.7;

    const QJsonObject info = Parse(LiveInfoJson(f));
    EXPECT_EQ(info["type"].toString(), "info");
    EXPECT_EQ(info["channels"].toInt(), 4);
    const QString literal = QString::fromUtf8(kHostile.data(), static_cast<int>(kHostile.size() - 1)) + QChar(0xFFFD);
    const QJsonArray strips = info["strips"].toArray();
    ASSERT_EQ(strips.size(), 3);
    EXPECT_EQ(strips[0].toObject()["label"].toString(), literal);
    EXPECT_EQ(strips[0].toObject()["segments"].toInt(), 100);
    EXPECT_EQ(strips[0].toObject()["zones"].toArray(), (QJsonArray{56, 70}));
    EXPECT_EQ(strips[0].toObject()["on"].toArray()[2].toString(), "#ff0000");
    EXPECT_FALSE(strips[2].toObject()["watched"].toBool());
    const QJsonArray recorders = info["recorders"].toArray();
    EXPECT_EQ(recorders[0].toObject()["device"].toString(), literal);
    EXPECT_EQ(recorders[0].toObject()["state"].toString(), "lost");
    EXPECT_EQ(recorders[1].toObject()["state"].toString(), "not connected");
    EXPECT_EQ(recorders[2].toObject()["state"].toString(), "running");
    EXPECT_EQ(info["log"].toArray()[0].toString(), "Silence on " + literal);
    EXPECT_EQ(info["log"].toArray()[1].toString(), "line\nwith\tcontrols\x01");

    const QJsonObject levels = Parse(LiveLevelsJson(f));
    const QJsonArray live = levels["strips"].toArray();
    ASSERT_EQ(live.size(), 3);
    EXPECT_EQ(live[0].toArray(), (QJsonArray{100, 100, -20.0, "sounding"}));
    EXPECT_EQ(live[1].toArray(), (QJsonArray{0, 0, 0.0, "alarm"}));
    EXPECT_TRUE(live[2].toArray()[2].isNull());
    EXPECT_EQ(live[2].toArray()[3].toString(), "unwatched");
    EXPECT_EQ(levels["correlation"].toObject()["value"].toDouble(), 1.0);
    EXPECT_TRUE(levels["loudness"].isNull());

    // Loudness before the gate opens: the readouts not yet measured are null.
    f.HasLoudness = true, f.Momentary = -23.04, f.ShortTerm = -std::numeric_limits<double>::infinity(),
    f.Integrated = std::numeric_limits<double>::quiet_NaN();
    const QJsonObject loud = Parse(LiveLevelsJson(f))["loudness"].toObject();
    EXPECT_EQ(loud["momentary"].toDouble(), -23.0);
    EXPECT_TRUE(loud["short_term"].isNull());
    EXPECT_TRUE(loud["integrated"].isNull());
}

TEST(LiveFrame, ScaleLabelsRunTopToBottomInsideTheBar)
{
    const int height = StripGeometryFor(DesignClientHeight).imageHeight;
    for (int standard = spN9; standard <= spK12; ++standard) {
        TScaleCanvas picture(ScaleImageWidth, height);
        ASSERT_TRUE(DrawStandardScale(picture, standard));
        const auto labels = ScaleLabelsOfPicture(picture);
        ASSERT_GE(labels.size(), 5u) << "standard " << standard;
        for (const auto& l : labels) {
            EXPECT_GE(l.Y, 0.0);
            EXPECT_LE(l.Y, 1.0);
            EXPECT_FALSE(l.Text.empty());
            EXPECT_NE(l.Text.front(), ' ') << "standard " << standard;
            EXPECT_NE(l.Text.find_first_not_of("- "), std::string::npos);
        }
    }
    const auto widget = ScaleWidgetLabels(-72, StripScaleTicks);
    ASSERT_FALSE(widget.empty());
    EXPECT_EQ(widget.front().Text, "0");
    EXPECT_EQ(widget.front().Y, 0.0);
    EXPECT_EQ(widget.back().Text, "-72");
    EXPECT_EQ(widget.back().Y, 1.0);
    for (size_t i = 1; i < widget.size(); ++i) {
        EXPECT_GT(widget[i].Y, widget[i - 1].Y);
        EXPECT_NE(widget[i].Text, "--");
    }
}

// The pair's correlation: in phase +1, inverted -1, a quarter period apart 0,
// one side silent none; a new signal takes over within a few time constants.
TEST(LiveFrame, CorrelationFollowsThePair)
{
    constexpr int kRate = 48000, kBlock = 48;
    auto feed = [](TLiveCorrelation& c, double phase, double rightGain, double seconds) {
        static int t = 0;
        std::vector<int16_t> block(2 * kBlock);
        for (int b = 0; b < seconds * kRate / kBlock; ++b) {
            for (int i = 0; i < kBlock; ++i, ++t) {
                const double w = 2 * 3.14159265358979 * 997.0 * t / kRate;
                block[2 * i] = static_cast<int16_t>(std::lround(32767 * std::sin(w)));
                block[2 * i + 1] = static_cast<int16_t>(std::lround(32767 * rightGain * std::sin(w + phase)));
            }
            c.Add(block.data(), kBlock, kRate);
        }
    };
    TLiveCorrelation c;
    EXPECT_TRUE(std::isnan(c.Value()));
    feed(c, 0, 1.0, 1.0);
    EXPECT_NEAR(c.Value(), 1.0, 1e-3);
    feed(c, 3.14159265358979, 1.0, 1.0);  // inverted: -1 after 1 s (6.7 time constants)
    EXPECT_NEAR(c.Value(), -1.0, 0.01);
    feed(c, 3.14159265358979 / 2, 0.25, 1.0);
    EXPECT_NEAR(c.Value(), 0.0, 0.02);
    feed(c, 0, 0.0, 3.0);                 // right side silent
    EXPECT_TRUE(std::isnan(c.Value()));
    c.Reset();
    EXPECT_TRUE(std::isnan(c.Value()));
}
