#include "app/RunStats.h"

#include "monitoring/MMStatus.h"

#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

std::string Number(double v)
{
    if (!std::isfinite(v)) return "0";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

template <size_t N>
std::string Array(const std::array<uint64_t, N>& a)
{
    std::string s = "[";
    for (size_t i = 0; i < N; ++i) {
        if (i) s += ",";
        s += std::to_string(a[i]);
    }
    return s + "]";
}

template <size_t N>
std::string Array(const std::array<double, N>& a)
{
    std::string s = "[";
    for (size_t i = 0; i < N; ++i) {
        if (i) s += ",";
        s += Number(a[i]);
    }
    return s + "]";
}

template <size_t N>
std::string DbfsArray(const std::array<int, N>& a)
{
    std::string s = "[";
    for (size_t i = 0; i < N; ++i) {
        if (i) s += ",";
        s += a[i] > 0 ? Number(20.0 * std::log10(a[i] / 32768.0)) : "null";
    }
    return s + "]";
}

}  // namespace

std::string RunStatsJson(const TRunStats& s)
{
    std::ostringstream o;
    o << "{\"seconds\":" << Number(s.seconds) << ",\"cpu_seconds\":" << Number(s.cpu_seconds)
      << ",\"sample_rate\":" << s.sample_rate << ",\"recorders_running\":" << s.recorders_running
      << ",\"buffers\":" << Array(s.buffers) << ",\"reopens\":" << Array(s.reopens)
      << ",\"seconds_lost\":" << Array(s.seconds_lost) << ",\"failed_opens\":" << Array(s.failed_opens)
      << ",\"blocks\":" << Array(s.blocks)
      << ",\"paints\":" << Array(s.paints)
      << ",\"level_dbfs\":" << DbfsArray(s.levels) << ",\"alarms\":" << Array(s.alarms) << ",\"silences\":" << Array(s.silences)
      << ",\"log_lines\":" << s.log_lines << ",\"trigger_cycles\":" << s.trigger_cycles
      << ",\"dropped_buffers\":" << s.dropped_buffers << ",\"max_rss_kb\":" << s.max_rss_kb
      << ",\"correlation\":{\"pair\":" << s.correlation.pair << ",\"steps\":" << s.correlation.steps
      << ",\"mean\":" << Number(s.correlation.mean) << ",\"min\":" << Number(s.correlation.min)
      << ",\"max\":" << Number(s.correlation.max) << ",\"positive_percent\":" << s.correlation.positive_percent
      << "},\"streams\":" << StreamsJson(s.streams) << "}";
    return o.str();
}

double ProcessCpuSeconds()
{
    rusage ru{};
    if (getrusage(RUSAGE_SELF, &ru) != 0) return 0;
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long ProcessMaxRssKb()
{
    rusage ru{};
    if (getrusage(RUSAGE_SELF, &ru) != 0) return 0;
    return ru.ru_maxrss;
}
