// Settings store: the exit save (every value written when the main window closes, each write
// self-contained: lock, read, merge, write) and the start's reads, on a real file.
#include "app/SettingNames.h"
#include "app/Settings.h"
#include "app/SettingsFile.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string tempStore()
{
    char dir[] = "/tmp/tv_settings_bench_XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    return std::string(dir) + "/settings.reg";
}

void removeStore(const std::string& file)
{
    for (const char* suffix : {"", ".lock", ".tmp"}) ::unlink((file + suffix).c_str());
    ::rmdir(file.substr(0, file.rfind('/')).c_str());
}

TSettingValue exitValue(const TSettingEntry& e, int generation)
{
    if (e.type == TSettingType::Text) return TSettingValue("/home/user/alarm-" + std::to_string(generation) + ".wav");
    if (e.type == TSettingType::Boolean) return TSettingValue(generation % 2 == 0);
    return TSettingValue(e.intDefault + generation);
}

// Every value changes on every save: each of the writes really stores.
void BM_ExitSaveAllChanged(benchmark::State& state)
{
    const std::string file = tempStore();
    TSettingsFile store(file);
    const auto entries = ExitSaveEntries();
    int generation = 0;
    for (auto _ : state) {
        ++generation;
        for (const TSettingEntry& e : entries)
            WriteSetting(store, TSettingsRoot::CurrentUser, kTarvolinKey, e.writeName, exitValue(e, generation));
    }
    state.counters["writes"] = static_cast<double>(entries.size());
    state.counters["rewrites/save"] = static_cast<double>(store.Rewrites()) / static_cast<double>(state.iterations());
    removeStore(file);
}
BENCHMARK(BM_ExitSaveAllChanged)->Unit(benchmark::kMillisecond);

// The first save: the file does not exist yet.
void BM_ExitSaveFirst(benchmark::State& state)
{
    const auto entries = ExitSaveEntries();
    for (auto _ : state) {
        state.PauseTiming();
        const std::string file = tempStore();
        TSettingsFile store(file);
        state.ResumeTiming();
        for (const TSettingEntry& e : entries)
            WriteSetting(store, TSettingsRoot::CurrentUser, kTarvolinKey, e.writeName, exitValue(e, 1));
        state.PauseTiming();
        removeStore(file);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ExitSaveFirst)->Unit(benchmark::kMillisecond);

// The usual save: nothing changed since start.
void BM_ExitSaveUnchanged(benchmark::State& state)
{
    const std::string file = tempStore();
    TSettingsFile store(file);
    const auto entries = ExitSaveEntries();
    for (const TSettingEntry& e : entries)
        WriteSetting(store, TSettingsRoot::CurrentUser, kTarvolinKey, e.writeName, exitValue(e, 1));
    for (auto _ : state)
        for (const TSettingEntry& e : entries)
            WriteSetting(store, TSettingsRoot::CurrentUser, kTarvolinKey, e.writeName, exitValue(e, 1));
    removeStore(file);
}
BENCHMARK(BM_ExitSaveUnchanged)->Unit(benchmark::kMillisecond);

// The start: every value read once from a full file.
void BM_StartReads(benchmark::State& state)
{
    const std::string file = tempStore();
    TSettingsFile store(file);
    for (const TSettingEntry& e : AllSettingEntries())
        WriteSetting(store, TSettingsRoot::CurrentUser, kTarvolinKey, e.writeName, exitValue(e, 1));
    const auto& all = AllSettingEntries();
    for (auto _ : state)
        for (const TSettingEntry& e : all) {
            const TSettingValue def = e.type == TSettingType::Text      ? TSettingValue(e.textDefault)
                                      : e.type == TSettingType::Boolean ? TSettingValue(e.intDefault != 0)
                                                                        : TSettingValue(e.intDefault);
            benchmark::DoNotOptimize(ReadSetting(store, TSettingsRoot::CurrentUser, kTarvolinKey, e.readName, def));
        }
    state.counters["reads"] = static_cast<double>(all.size());
    removeStore(file);
}
BENCHMARK(BM_StartReads)->Unit(benchmark::kMillisecond);

}  // namespace
