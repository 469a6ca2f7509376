#include "monitoring/MMLiveFrame.h"

#include "monitoring/MMActions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

// A number with `decimals` decimals; null when not finite.
std::string Number(double v, int decimals)
{
    if (!std::isfinite(v)) return "null";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string s = buf;
    if (s.size() > 1 && s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);  // "-0.0"
    return s;
}

// dBFS of an amplitude (full scale 32768) as GET /status gives it; null for 0.
std::string LevelDb(int level) { return level > 0 ? Number(20.0 * std::log10(level / 32768.0), 2) : "null"; }

std::string Colour(TColor c)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", ColorRed(c), ColorGreen(c), ColorBlue(c));
    return std::string("\"") + buf + "\"";
}

std::string Colours(const TColor (&c)[3]) { return "[" + Colour(c[0]) + "," + Colour(c[1]) + "," + Colour(c[2]) + "]"; }

std::string Trimmed(const std::string& s)
{
    const auto a = s.find_first_not_of(' ');
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// Nominal half height of a picture's text cell when the canvas measures nothing.
constexpr int kHalfCell = 7;

}  // namespace

void TLiveCorrelation::Add(const int16_t* frames, size_t count, int rate)
{
    if (count == 0 || rate <= 0) return;
    double lr = 0, ll = 0, rr = 0;
    for (size_t i = 0; i < count; ++i) {
        const double l = frames[2 * i], r = frames[2 * i + 1];
        lr += l * r, ll += l * l, rr += r * r;
    }
    const double n = static_cast<double>(count);
    const double a = 1.0 - std::exp(-n / (kTimeConstantSeconds * rate));
    mLR += a * (lr / n - mLR);
    mLL += a * (ll / n - mLL);
    mRR += a * (rr / n - mRR);
    ++mBlocks;
}

double TLiveCorrelation::Value() const
{
    constexpr double kSilent = 1.0;  // mean square of about -90 dBFS
    if (mLL < kSilent || mRR < kSilent) return std::numeric_limits<double>::quiet_NaN();
    return std::clamp(mLR / std::sqrt(mLL * mRR), -1.0, 1.0);
}

const char* RecorderStateName(bool running, bool notConnected, const std::string& failure)
{
    if (running) return "running";
    if (notConnected) return "not connected";
    return failure.empty() ? "stopped" : "lost";
}

std::vector<TLiveScaleLabel> ScaleLabelsOfPicture(const TScaleCanvas& picture)
{
    std::vector<TLiveScaleLabel> labels;
    if (picture.Height() <= 0) return labels;
    for (const TScaleOp& op : picture.Ops()) {
        if (op.Kind != TScaleOpKind::Text) continue;
        const std::string text = Trimmed(op.Text);
        if (text.find_first_not_of("- ") == std::string::npos) continue;
        const int half = picture.TextHeight(op.Text) > 0 ? picture.TextHeight(op.Text) / 2 : kHalfCell;
        labels.push_back({text, std::clamp((op.Y1 + half) / static_cast<double>(picture.Height()), 0.0, 1.0)});
    }
    return labels;
}

std::vector<TLiveScaleLabel> ScaleWidgetLabels(int sensitivity, int ticks)
{
    std::vector<TLiveScaleLabel> labels;
    for (int m = 0; m <= ticks; ++m) {
        const std::string text =
            TMMCustomLevelScale::LabelText(TMMCustomLevelScale::LabelValue(m, ticks, sensitivity, true), true);
        if (text != "--") labels.push_back({text, ticks > 0 ? m / static_cast<double>(ticks) : 0.0});
    }
    return labels;
}

std::string LiveInfoJson(const TLiveFrame& f)
{
    std::string o = "{\"type\":\"info\",\"channels\":" + std::to_string(f.Channels) +
                    ",\"detector\":" + (f.Detector ? "true" : "false") + ",\"standard\":" + JsonString(f.Standard) +
                    ",\"scale\":[";
    for (size_t i = 0; i < f.Scale.size(); ++i)
        o += (i ? ",[" : "[") + JsonString(f.Scale[i].Text) + "," + Number(f.Scale[i].Y, 4) + "]";
    o += "],\"strips\":[";
    for (size_t i = 0; i < f.Strips.size(); ++i) {
        const TLiveStrip& s = f.Strips[i];
        o += (i ? ",{" : "{") + std::string("\"strip\":") + std::to_string(s.Status.Strip) +
             ",\"label\":" + JsonString(s.Status.Label) + ",\"watched\":" + (s.Status.Watched ? "true" : "false") +
             ",\"segments\":" + std::to_string(s.Segments) + ",\"zones\":[" + std::to_string(s.Zone1) + "," +
             std::to_string(s.Zone2) + "],\"on\":" + Colours(s.Active) + ",\"off\":" + Colours(s.Inactive) +
             ",\"label_colour\":" + Colour(s.LabelColor) + "}";
    }
    o += "],\"recorders\":[";
    for (size_t i = 0; i < f.Recorders.size(); ++i) {
        const TLiveRecorder& r = f.Recorders[i];
        o += (i ? ",{" : "{") + std::string("\"recorder\":") + std::to_string(r.Recorder) +
             ",\"device\":" + JsonString(r.Device) + ",\"state\":" + JsonString(r.State) + "}";
    }
    o += "],\"log\":[";
    for (size_t i = 0; i < f.LogLines.size(); ++i) o += (i ? "," : "") + JsonString(f.LogLines[i]);
    return o + "]}";
}

std::string LiveLevelsJson(const TLiveFrame& f)
{
    // Each strip: [lit segments, peak segment, level dBFS or null, silence state].
    std::string o = "{\"type\":\"levels\",\"strips\":[";
    for (size_t i = 0; i < f.Strips.size(); ++i) {
        const TLiveStrip& s = f.Strips[i];
        const int bar = std::clamp(s.Bar, 0, s.Segments), peak = std::clamp(s.Peak, 0, s.Segments);
        o += (i ? ",[" : "[") + std::to_string(bar) + "," + std::to_string(peak) + "," + LevelDb(s.Status.Level) +
             ",\"" + StripStateName(s.Status) + "\"]";
    }
    o += "],\"correlation\":";
    o += f.HasCorrelation ? "{\"pair\":" + std::to_string(f.CorrelationPair) +
                                ",\"value\":" + Number(std::clamp(f.Correlation, -1.0, 1.0), 2) + "}"
                          : "null";
    o += ",\"loudness\":";
    o += f.HasLoudness ? "{\"momentary\":" + Number(f.Momentary, 1) + ",\"short_term\":" + Number(f.ShortTerm, 1) +
                             ",\"integrated\":" + Number(f.Integrated, 1) +
                             ",\"range\":" + Number(f.LoudnessRange, 1) + "}"
                       : "null";
    return o + "}";
}
