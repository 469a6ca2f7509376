#include "metering/MMLevelMath.h"

#include <cmath>
#include <limits>
#include <mutex>

namespace mmlevel {

namespace {

// k per display-curve code for the -18, -20 and -24 dBFS references.
constexpr long double kRef[8][3] = {
    {2.74765L, 3.372525L, 5.63305L}, {2.1962L, 2.8127L, 4.3246L},
    {2.2023L, 2.71344L, 4.1816L},    {2.71434L, 3.41684L, 5.44348L},
    {0.0L, 0.0L, 0.0L},              {1.16038L, 4.77262L, 4.77262L},
    {2.43756L, 3.0462L, 3.0462L},    {2.9838L, 3.7638L, 3.7638L},
};

long double curve(int std, long double h, long double r, bool integrated)
{
    switch (std) {
    case 0:
        if (r <= 32) return h;
        if (r <= 229) return -7.57611e-6L * h * h + 1.24245L * h + 70.712L;
        return -7.57611e-6L * h * h + 1.24245L * h + 181.712L;
    case 1:
        if (r <= 5819) return 6.2408e-6L * h * h + 0.083969L * h + 4.92065L;
        return 3.3894e-5L * h * h - 0.121814L * h + 359.222L;
    case 2:
        if (r == 0) return h;
        if (integrated) return 3e-5L * h * h + 1.662L * h + 111.2L;
        return 5.3e-5L * h * h + 0.0662L * h + 111.2L;
    case 3:
        if (r == 0) return h;
        if (integrated) return 0.0125575L * std::pow(h, 1.44751L);
        return 0.00451076L * std::pow(h, 1.45118L);
    case 5:
        if (r <= 213) return 3.9908L * std::pow(h, 0.7747L);
        return 1.2406L * std::pow(h, 0.9855L);
    case 6:
        if (r <= 404) return 5.8385L * std::pow(h, 0.7043L);
        return (integrated ? 1.2245L : 1.3245L) * std::pow(h, 0.9647L);
    case 7:
        if (r <= 518) return 6.4599L * std::pow(h, 0.7303L);
        return 1.2774L * std::pow(h, 0.9846L);
    default:
        return h;
    }
}

constexpr long double kIntMax = std::numeric_limits<int32_t>::max();
constexpr long double kIntMin = std::numeric_limits<int32_t>::min();

}  // namespace

long double RefFactor(int meterStandard, TMMRef ref)
{
    if (meterStandard < 0 || meterStandard > 7) return 0.0L;
    return kRef[meterStandard][ref];
}

#if defined(__x86_64__) || defined(__i386__)
// fisttp truncates without switching the x87 control word (SSE3).
#define TV_TRUNC_TARGET __attribute__((target("sse3")))
#else
#define TV_TRUNC_TARGET
#endif

TV_TRUNC_TARGET int32_t TruncSat(long double x)
{
    if (!(x == x)) return 0;  // NaN
    if (x >= kIntMax) return std::numeric_limits<int32_t>::max();
    if (x <= kIntMin) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(static_cast<int64_t>(x));
}

TV_TRUNC_TARGET int32_t RoundEven(long double x)
{
    if (!(x == x)) return 0;
    if (x >= kIntMax) return std::numeric_limits<int32_t>::max();
    if (x <= kIntMin) return std::numeric_limits<int32_t>::min();
    // rint in the default rounding mode: halves to even.
    return static_cast<int32_t>(static_cast<int64_t>(__builtin_rintl(x)));
}

int32_t DisplayCurve(int meterStandard, long double h, int32_t r, bool integrated)
{
    if (meterStandard == 4 || meterStandard < 0 || meterStandard > 7) return r;
    return TruncSat(curve(meterStandard, h, static_cast<long double>(r), integrated));
}

float DecayFactorFor(int decay)
{
    float f = 0.0001f;
    for (int i = 0; i < decay; ++i) f = static_cast<float>(std::sqrt(static_cast<long double>(f)));
    return f;
}

int DecayLengthFor(int decay)
{
    const int n = 2 * (decay - 1);
    return n < 1 ? 1 : (n > DecayRingSize ? DecayRingSize : n);
}

int64_t LevelToSpot(int64_t g, int sensitivity, int numSpots, bool logAmp)
{
    long double x;
    if (logAmp) {
        long double ratio = static_cast<long double>(g) / MaxValue;
        if (ratio < 0.000001L) ratio = 0.000001L;
        const float d = static_cast<float>(20.0L * std::log10(ratio));
        x = (static_cast<long double>(d) - sensitivity) * numSpots / -sensitivity;
    } else {
        const float lo = static_cast<float>(
            MaxValue / std::pow(10.0L, -static_cast<long double>(sensitivity) / 20.0L));
        x = (static_cast<long double>(g) - lo) * numSpots / (MaxValue - static_cast<long double>(lo));
    }
    // Limit before converting; the cap stays an overflow even when halved.
    const long double cap = 2.0L * numSpots + 3;
    if (x > cap) return static_cast<int64_t>(cap);
    const int32_t p = RoundEven(x);
    return p < 0 ? 0 : p;
}

int SpotToPercent(int barSpots, int sensitivity, int numSpots, bool logAmp, int gainScale)
{
    if (barSpots == 0 || numSpots <= 0) return 0;
    if (!logAmp) return RoundEven(static_cast<long double>(barSpots) * 100 / numSpots);
    const long double s = sensitivity;
    const long double db = (s - s * barSpots / numSpots) / 20.0L;
    return RoundEven(std::pow(10.0L, db) * 8 / (gainScale > 0 ? gainScale : 8) * 100);
}

TSpotTable::TSpotTable(int sensitivity, int numSpots, bool logAmp)
    : mSensitivity(sensitivity), mNumSpots(numSpots), mLogAmp(logAmp)
{
    // Bars too tall for 32-bit spots (none on a screen) keep computing each one.
    if (numSpots > (std::numeric_limits<int32_t>::max() - 3) / 2) return;
    mSpots.resize(MaxValue + 1);
    for (int g = 0; g <= MaxValue; ++g)
        mSpots[static_cast<size_t>(g)] = static_cast<int32_t>(LevelToSpot(g, sensitivity, numSpots, logAmp));
}

std::shared_ptr<const TSpotTable> TSpotTable::For(int sensitivity, int numSpots, bool logAmp)
{
    static std::mutex lock;
    static std::vector<std::weak_ptr<const TSpotTable>> tables;
    const std::lock_guard<std::mutex> hold(lock);
    std::shared_ptr<const TSpotTable> found;
    for (auto it = tables.begin(); it != tables.end();) {
        std::shared_ptr<const TSpotTable> t = it->lock();
        if (!t) {
            it = tables.erase(it);
            continue;
        }
        if (t->Fits(sensitivity, numSpots, logAmp)) found = std::move(t);
        ++it;
    }
    if (found) return found;
    found = std::make_shared<const TSpotTable>(sensitivity, numSpots, logAmp);
    tables.push_back(found);
    return found;
}

}  // namespace mmlevel
