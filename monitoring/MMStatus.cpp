#include "monitoring/MMStatus.h"

#include "monitoring/MMActions.h"
#include "monitoring/MMJournal.h"

#include <algorithm>
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

// Seconds with millisecond decimals, from milliseconds; 0 for a negative time.
std::string Millis(int64_t ms)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld.%03lld", static_cast<long long>(std::max<int64_t>(0, ms) / 1000),
                  static_cast<long long>(std::max<int64_t>(0, ms) % 1000));
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

void TMMAlarmTime::Event(TSilenceEventKind kind, int strip, int64_t steadyMs)
{
    if (strip < 1 || strip > tv::kStrips) return;
    TStrip& s = mStrips[static_cast<size_t>(strip - 1)];
    if (kind == TSilenceEventKind::Alarm && s.SinceMs < 0) {
        ++s.Alarms;
        s.SinceMs = steadyMs;
    } else if (kind == TSilenceEventKind::SoundRestored && s.SinceMs >= 0) {
        s.DoneMs += std::max<int64_t>(0, steadyMs - s.SinceMs);
        s.SinceMs = -1;
    }
}

uint64_t TMMAlarmTime::Alarms(int strip) const
{
    return strip >= 1 && strip <= tv::kStrips ? mStrips[static_cast<size_t>(strip - 1)].Alarms : 0;
}

int64_t TMMAlarmTime::AlarmMs(int strip, int64_t steadyMs) const
{
    if (strip < 1 || strip > tv::kStrips) return 0;
    const TStrip& s = mStrips[static_cast<size_t>(strip - 1)];
    return s.DoneMs + (s.SinceMs >= 0 ? std::max<int64_t>(0, steadyMs - s.SinceMs) : 0);
}

const char* RecorderMetricState(const TRecorderStatus& r)
{
    if (r.Running) return "running";
    if (r.NotConnected) return "not_connected";
    return r.Failure.empty() ? "stopped" : "lost";
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
    o << "],\"streams\":" << StreamsJson(s.Streams) << "}";
    return o.str();
}

std::string StreamsJson(const std::vector<TNetStreamStatus>& streams)
{
    std::ostringstream o;
    o << "[";
    for (size_t i = 0; i < streams.size(); ++i) {
        const TNetStreamStatus& n = streams[i];
        const TNetStreamHealth& h = n.health;
        char jitter[32];
        std::snprintf(jitter, sizeof jitter, "%.3f", std::isfinite(h.jitterMs) ? h.jitterMs : 0.0);
        o << (i ? "," : "") << "{\"stream\":" << JsonString(n.name) << ",\"address\":" << JsonString(n.address)
          << ",\"format\":" << JsonString(n.format) << ",\"announced\":" << (n.announced ? "true" : "false")
          << ",\"receiving\":" << (n.receiving ? "true" : "false") << ",\"packets\":" << h.received
          << ",\"lost\":" << h.lost << ",\"late\":" << h.late << ",\"duplicates\":" << h.duplicates
          << ",\"malformed\":" << h.malformed << ",\"jitter_ms\":" << jitter
          << ",\"silent_frames\":" << n.silentFrames << "}";
    }
    o << "]";
    return o.str();
}

std::string StatusPrometheus(const TStatusSnapshot& s)
{
    std::string o;
    o.reserve(32768);
    auto head = [&o](const char* name, const char* type, const char* help) {
        ((((o += "# HELP ") += name) += ' ') += help) += "\n# TYPE ";
        (((o += name) += ' ') += type) += '\n';
    };
    auto sample = [&o](const char* name, const std::string& labels, const std::string& value) {
        o += name;
        if (!labels.empty()) ((o += '{') += labels) += '}';
        ((o += ' ') += value) += '\n';
    };
    auto metric = [&](const char* name, const char* type, const char* help, const std::string& value) {
        head(name, type, help);
        sample(name, {}, value);
    };
    std::vector<std::string> stripLabels, recorderLabels;
    for (const TStripStatus& t : s.Strips)
        stripLabels.push_back(t.Watched ? "strip=\"" + std::to_string(t.Strip) + "\",label=\"" + PromLabel(t.Label) + "\""
                                        : std::string());
    for (const TRecorderStatus& r : s.Recorders)
        recorderLabels.push_back("recorder=\"" + std::to_string(r.Recorder) + "\",device=\"" + PromLabel(r.Device) + "\"");
    auto strips = [&](const char* name, const char* type, const char* help, auto value) {
        head(name, type, help);
        for (size_t i = 0; i < s.Strips.size(); ++i)
            if (s.Strips[i].Watched) sample(name, stripLabels[i], value(s.Strips[i]));
    };
    auto recorders = [&](const char* name, const char* type, const char* help, auto value) {
        head(name, type, help);
        for (size_t i = 0; i < s.Recorders.size(); ++i) sample(name, recorderLabels[i], value(s.Recorders[i]));
    };
    auto num = [](auto v) { return std::to_string(v); };

    metric("tarvolin_up", "gauge", "1 while the meter runs.", "1");
    head("tarvolin_build_info", "gauge", "The meter's version, always 1.");
    sample("tarvolin_build_info", "version=\"" + PromLabel(TARVOLIN_VERSION) + "\"", "1");
    metric("tarvolin_start_time_seconds", "gauge", "Start of the meter, seconds since the epoch.",
           Millis(s.StartMs));
    metric("tarvolin_uptime_seconds", "gauge", "Seconds since the meter started.", Seconds(s.UptimeSeconds));
    metric("tarvolin_detector_enabled", "gauge", "1 while the silence check runs.", s.Detector ? "1" : "0");
    metric("tarvolin_channels", "gauge", "Active channel count of the input mode.", num(s.Channels));

    strips("tarvolin_level_dbfs", "gauge", "Level the silence detector compares, in dBFS.",
           [](const TStripStatus& t) { return Db(t.Level, "-Inf"); });
    strips("tarvolin_peak_dbfs", "gauge", "Sample peak of the last block, in dBFS.",
           [](const TStripStatus& t) { return Db(t.Peak, "-Inf"); });
    strips("tarvolin_peak_since_scrape_dbfs", "gauge", "Highest sample peak since the previous scrape, in dBFS.",
           [](const TStripStatus& t) { return Db(t.PeakHeld >= 0 ? t.PeakHeld : t.Peak, "-Inf"); });
    strips("tarvolin_silence_state", "gauge", "0 sounding, 1 silent, 2 alarm.",
           [&](const TStripStatus& t) { return num(static_cast<int>(t.State)); });
    strips("tarvolin_alarm", "gauge", "1 while the silence detector holds the strip in alarm.",
           [](const TStripStatus& t) { return std::string(t.State == TSilenceState::Alarm ? "1" : "0"); });
    strips("tarvolin_silent_seconds", "gauge", "Length of the current silence.",
           [](const TStripStatus& t) { return Seconds(t.SilentMs / 1000.0); });
    strips("tarvolin_silence_episodes_total", "counter", "Silence episodes since start.",
           [&](const TStripStatus& t) { return num(t.Episodes); });
    strips("tarvolin_alarms_total", "counter", "Silences that reached their alarm, since start.",
           [&](const TStripStatus& t) { return num(t.AlarmEpisodes); });
    strips("tarvolin_alarm_seconds_total", "counter", "Time spent in alarm since start.",
           [](const TStripStatus& t) { return Millis(t.AlarmMs); });
    strips("tarvolin_last_alarm_timestamp_seconds", "gauge", "Time of the last alarm, 0 for none.",
           [&](const TStripStatus& t) { return num(t.LastAlarmMs >= 0 ? t.LastAlarmMs / 1000 : 0); });

    recorders("tarvolin_recorder_running", "gauge", "1 while the recorder runs.",
              [](const TRecorderStatus& r) { return std::string(r.Running ? "1" : "0"); });
    head("tarvolin_recorder_state", "gauge",
         "1 for the state of each recorder the input mode uses: running, stopped, lost, not_connected.");
    for (size_t i = 0; i < s.Recorders.size(); ++i) {
        if (!s.Recorders[i].Used) continue;
        const std::string state = RecorderMetricState(s.Recorders[i]);
        for (const char* st : {"running", "stopped", "lost", "not_connected"})
            sample("tarvolin_recorder_state", recorderLabels[i] + ",state=\"" + st + "\"", state == st ? "1" : "0");
    }
    recorders("tarvolin_recorder_reopens_total", "counter", "Times the recorder's device was reopened.",
              [&](const TRecorderStatus& r) { return num(r.Reopens); });
    recorders("tarvolin_recorder_lost_seconds_total", "counter", "Time the recorder's device was gone.",
              [](const TRecorderStatus& r) { return Seconds(r.SecondsLost); });
    recorders("tarvolin_recorder_buffers_total", "counter", "Buffers the recorder delivered.",
              [&](const TRecorderStatus& r) { return num(r.Buffers); });
    metric("tarvolin_dropped_buffers_total", "counter", "Buffers of audio lost because none was queued.",
           num(s.DroppedBuffers));

    // Network streams: at most 64, labelled by device name.
    auto streams = [&](const char* name, const char* type, const char* help, auto value) {
        head(name, type, help);
        for (const TNetStreamStatus& n : s.Streams) sample(name, "stream=\"" + PromLabel(n.name) + "\"", value(n));
    };
    streams("tarvolin_stream_receiving", "gauge", "1 while packets of the network stream arrive.",
            [](const TNetStreamStatus& n) { return std::string(n.receiving ? "1" : "0"); });
    streams("tarvolin_stream_packets_total", "counter", "Packets of the network stream received.",
            [&](const TNetStreamStatus& n) { return num(n.health.received); });
    streams("tarvolin_stream_packets_lost_total", "counter", "Packets of the network stream never received.",
            [&](const TNetStreamStatus& n) { return num(n.health.lost); });
    streams("tarvolin_stream_packets_late_total", "counter", "Packets that arrived after a later one.",
            [&](const TNetStreamStatus& n) { return num(n.health.late); });
    streams("tarvolin_stream_packets_duplicate_total", "counter", "Packets received more than once.",
            [&](const TNetStreamStatus& n) { return num(n.health.duplicates); });
    streams("tarvolin_stream_packets_malformed_total", "counter", "Packets dropped as malformed.",
            [&](const TNetStreamStatus& n) { return num(n.health.malformed); });
    streams("tarvolin_stream_jitter_seconds", "gauge", "Interarrival jitter of the network stream.",
            [](const TNetStreamStatus& n) {
                char v[32];
                std::snprintf(v, sizeof v, "%.6f", std::isfinite(n.health.jitterMs) ? n.health.jitterMs / 1000.0 : 0.0);
                return std::string(v);
            });

    const TMonitorCounters& m = s.Monitor;
    metric("tarvolin_journal_lines_total", "counter", "Journal lines written.", num(m.JournalLines));
    metric("tarvolin_journal_write_errors_total", "counter", "Journal lines that could not be written.",
           num(m.JournalErrors));
    metric("tarvolin_journal_dropped_lines_total", "counter", "Journal lines dropped by a full queue.",
           num(m.JournalDropped));
    metric("tarvolin_action_commands_total", "counter", "Alarm and restore commands started.", num(m.Commands));
    metric("tarvolin_action_command_failures_total", "counter",
           "Commands that could not start, failed or were stopped at their time limit.", num(m.CommandFailures));
    metric("tarvolin_action_commands_skipped_total", "counter",
           "Commands not started because the previous one of the strip and event still ran.",
           num(m.CommandsSkipped));
    metric("tarvolin_webhook_deliveries_total", "counter", "Webhook events delivered.", num(m.WebhookDelivered));
    metric("tarvolin_webhook_failures_total", "counter", "Webhook events given up after their last retry.",
           num(m.WebhookFailed));
    metric("tarvolin_webhook_dropped_total", "counter", "Webhook events dropped by a full queue.",
           num(m.WebhookDropped));
    return o;
}
