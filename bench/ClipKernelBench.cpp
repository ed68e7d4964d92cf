// The clip kernel alone against memcpy of the same buffer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "distortion/ClipSample.h"

namespace {

constexpr std::size_t Samples = 16384;  // one run of the distortion pass

std::vector<int16_t> RandomSamples() {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<int16_t> out(Samples);
    for (auto& s : out) s = static_cast<int16_t>(sample(random));
    return out;
}

void Clip(benchmark::State& state) {
    // Clipped in place again and again: the kernel has no branches on the data,
    // so a run costs the same whatever it holds (random at first, so a branchy
    // kernel could not hide behind prediction).
    std::vector<int16_t> work = RandomSamples();
    const auto threshold = static_cast<int16_t>(state.range(0));
    for (auto _ : state) {
        velorik::ClipRun(work.data(), Samples, threshold);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Samples));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Samples * 2));
}

void Memcpy(benchmark::State& state) {
    const auto source = RandomSamples();
    std::vector<int16_t> work(Samples);
    for (auto _ : state) {
        std::memcpy(work.data(), source.data(), Samples * 2);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * Samples));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Samples * 2));
}

BENCHMARK(Clip)->Arg(8000)->Arg(-8000)->Arg(0)->Arg(-32768);
BENCHMARK(Memcpy);

}  // namespace

BENCHMARK_MAIN();
