#include "monitoring/MMStatus.h"

#include "monitoring/MMActions.h"
#include "monitoring/MMJournal.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

// dBFS of an amplitude (full scale 32768), two decimals; "-Inf" for 0.
std::string Db(int level, const char* minusInf)
{
    if (level <= 0) return minusInf;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", 20.0 * std::log10(level / 32768.0));
    return std::string(buf) == "-0.00" ? "0.00" : buf;
}

std::string Seconds(double s)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", s < 0 || !std::isfinite(s) ? 0.0 : s);
    return buf;
}

// A Prometheus label value: UTF-8 (other bytes become U+FFFD, as a scraper refuses the
// whole page for one bad byte), backslash, double quote and line feed escaped.
std::string PromLabel(const std::string& v)
{
    std::string s;
    const auto* p = reinterpret_cast<const unsigned char*>(v.data());
    for (size_t left = v.size(); left > 0;) {
        const size_t n = Utf8Length(p, left);
        if (n == 0) {
            s += "\xEF\xBF\xBD";
            ++p, --left;
            continue;
        }
        if (*p == '\\') s += "\\\\";
        else if (*p == '"') s += "\\\"";
        else if (*p == '\n') s += "\\n";
        else s.append(reinterpret_cast<const char*>(p), n);
        p += n, left -= n;
    }
    return s;
}

}  // namespace

void FillDetectorStatus(TStripStatus& s, const TMMSilenceDetector& d)
{
    const int n = s.Strip;
    s.State = d.State(n);
    s.Recovering = d.Recovering(n);
    s.SilentMs = s.State != TSilenceState::Sounding ? d.SilentForMs(n) : 0;
    s.Episodes = d.Stats(n).Silences;
    s.AlarmTicks = d.Stats(n).Alarms;
    s.LastAlarmMs = d.LastAlarmMs(n);
}

const char* StripStateName(const TStripStatus& s)
{
    if (!s.Watched) return "unwatched";
    switch (s.State) {
    case TSilenceState::Silent: return "silent";
    case TSilenceState::Alarm: return "alarm";
    case TSilenceState::Sounding: break;
    }
    return "sounding";
}

std::string StatusJson(const TStatusSnapshot& s)
{
    std::ostringstream o;
    o << "{\"time\":" << JsonString(JournalTimestamp(s.TimeMs)) << ",\"uptime_seconds\":" << Seconds(s.UptimeSeconds)
      << ",\"detector\":" << (s.Detector ? "true" : "false") << ",\"channels\":" << s.Channels << ",\"strips\":[";
    for (size_t i = 0; i < s.Strips.size(); ++i) {
        const TStripStatus& t = s.Strips[i];
        o << (i ? "," : "") << "{\"strip\":" << t.Strip << ",\"label\":" << JsonString(t.Label)
          << ",\"watched\":" << (t.Watched ? "true" : "false") << ",\"level_dbfs\":" << Db(t.Level, "null")
          << ",\"peak_dbfs\":" << Db(t.Peak, "null") << ",\"state\":\"" << StripStateName(t) << "\""
          << ",\"recovering\":" << (t.Recovering ? "true" : "false")
          << ",\"silent_seconds\":" << Seconds(t.SilentMs / 1000.0) << ",\"episodes\":" << t.Episodes
          << ",\"alarm_ticks\":" << t.AlarmTicks << ",\"last_alarm\":"
          << (t.LastAlarmMs >= 0 ? JsonString(JournalTimestamp(t.LastAlarmMs)) : std::string("null")) << "}";
    }
    o << "],\"recorders\":[";
    for (size_t i = 0; i < s.Recorders.size(); ++i) {
        const TRecorderStatus& r = s.Recorders[i];
        o << (i ? "," : "") << "{\"recorder\":" << r.Recorder << ",\"device\":" << JsonString(r.Device)
          << ",\"running\":" << (r.Running ? "true" : "false") << ",\"reopens\":" << r.Reopens
          << ",\"buffers\":" << r.Buffers
          << ",\"failure\":" << (r.Failure.empty() ? std::string("null") : JsonString(r.Failure)) << "}";
    }
    o << "]}";
    return o.str();
}

std::string StatusPrometheus(const TStatusSnapshot& s)
{
    std::ostringstream o;
    auto head = [&o](const char* name, const char* type, const char* help) {
        o << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
    };
    auto strips = [&](const char* name, auto value) {
        for (const TStripStatus& t : s.Strips)
            if (t.Watched)
                o << name << "{strip=\"" << t.Strip << "\",label=\"" << PromLabel(t.Label) << "\"} " << value(t)
                  << "\n";
    };
    auto recorders = [&](const char* name, auto value) {
        for (const TRecorderStatus& r : s.Recorders)
            o << name << "{recorder=\"" << r.Recorder << "\",device=\"" << PromLabel(r.Device) << "\"} " << value(r)
              << "\n";
    };

    head("tarvolin_up", "gauge", "1 while the meter runs.");
    o << "tarvolin_up 1\n";
    head("tarvolin_uptime_seconds", "gauge", "Seconds since the meter started.");
    o << "tarvolin_uptime_seconds " << Seconds(s.UptimeSeconds) << "\n";
    head("tarvolin_detector_enabled", "gauge", "1 while the silence check runs.");
    o << "tarvolin_detector_enabled " << (s.Detector ? 1 : 0) << "\n";
    head("tarvolin_channels", "gauge", "Active channel count of the input mode.");
    o << "tarvolin_channels " << s.Channels << "\n";
    head("tarvolin_level_dbfs", "gauge", "Level the silence detector compares, in dBFS.");
    strips("tarvolin_level_dbfs", [](const TStripStatus& t) { return Db(t.Level, "-Inf"); });
    head("tarvolin_peak_dbfs", "gauge", "Sample peak of the last block, in dBFS.");
    strips("tarvolin_peak_dbfs", [](const TStripStatus& t) { return Db(t.Peak, "-Inf"); });
    head("tarvolin_silence_state", "gauge", "0 sounding, 1 silent, 2 alarm.");
    strips("tarvolin_silence_state", [](const TStripStatus& t) { return static_cast<int>(t.State); });
    head("tarvolin_alarm", "gauge", "1 while the strip is in alarm.");
    strips("tarvolin_alarm", [](const TStripStatus& t) { return t.State == TSilenceState::Alarm ? 1 : 0; });
    head("tarvolin_silent_seconds", "gauge", "Length of the current silence.");
    strips("tarvolin_silent_seconds", [](const TStripStatus& t) { return Seconds(t.SilentMs / 1000.0); });
    head("tarvolin_silence_episodes_total", "counter", "Silence episodes since start.");
    strips("tarvolin_silence_episodes_total", [](const TStripStatus& t) { return t.Episodes; });
    head("tarvolin_last_alarm_timestamp_seconds", "gauge", "Time of the last alarm, 0 for none.");
    strips("tarvolin_last_alarm_timestamp_seconds",
           [](const TStripStatus& t) { return t.LastAlarmMs >= 0 ? t.LastAlarmMs / 1000 : 0; });
    head("tarvolin_recorder_running", "gauge", "1 while the recorder runs.");
    recorders("tarvolin_recorder_running", [](const TRecorderStatus& r) { return r.Running ? 1 : 0; });
    head("tarvolin_recorder_reopens_total", "counter", "Times the recorder's device was reopened.");
    recorders("tarvolin_recorder_reopens_total", [](const TRecorderStatus& r) { return r.Reopens; });
    head("tarvolin_recorder_buffers_total", "counter", "Buffers the recorder delivered.");
    recorders("tarvolin_recorder_buffers_total", [](const TRecorderStatus& r) { return r.Buffers; });
    return o.str();
}
