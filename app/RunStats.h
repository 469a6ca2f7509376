// Statistics of one run of the program, printed as one JSON object at exit.
#pragma once

#include "audio/MMNetRtp.h"
#include "base/TvConstants.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct TRunStats {
    double seconds = 0;
    double cpu_seconds = 0;
    int sample_rate = 0;
    int recorders_running = 0;
    std::array<uint64_t, tv::kPairs> buffers{};  // buffers delivered per recorder
    std::array<uint64_t, tv::kPairs> reopens{};  // times a lost device came back, per recorder
    std::array<double, tv::kPairs> seconds_lost{};  // time its device was gone, per recorder
    std::array<uint64_t, tv::kPairs> failed_opens{};  // starts that failed, per recorder
    std::array<uint64_t, tv::kStrips> blocks{};   // ProcessBlock calls per bar
    std::array<uint64_t, tv::kStrips> paints{};   // paint events per bar
    std::array<uint64_t, tv::kStrips> alarms{};   // silence alarm ticks per strip
    std::array<uint64_t, tv::kStrips> silences{}; // silence episodes per strip
    // Each strip's level as the silence detector sees it at exit, full scale
    // 32768 ("level_dbfs": dBFS, null for digital silence).
    std::array<int, tv::kStrips> levels{};
    uint64_t log_lines = 0;              // silence log lines written
    uint64_t trigger_cycles = 0;
    uint64_t dropped_buffers = 0;
    long max_rss_kb = 0;
    std::vector<TNetStreamStatus> streams;  // network streams: counters at exit
    // The correlation window: the pair it taps (1 ... 6, 0 for none), its
    // steps, the averaged correlation and its extremes, the share of
    // non-negative 200 ms ticks in percent.
    struct {
        int pair = 0;
        uint64_t steps = 0;
        double mean = 0, min = 0, max = 0;
        int positive_percent = 0;
    } correlation;
};

std::string RunStatsJson(const TRunStats& s);

// CPU seconds used by this process so far and its peak resident size.
double ProcessCpuSeconds();
long ProcessMaxRssKb();
