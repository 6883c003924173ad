// Loading a large domain file: the time must grow with the number of
// machines, not faster. Each machine has one logged-on entry and a type list,
// as real files have.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <string>
#include <vector>

#include "SimDomain.h"

namespace {

std::string DomainText(int machines) {
  std::string text =
      R"({"local": {"computerName": "WKS-0000001", "domain": "BENCH"},
"domains": [{"name": "BENCH", "pdc": "WKS-0000000"}],
"machines": [
)";
  for (int i = 0; i < machines; ++i) {
    // Every machine's text is as long as every other's, at every size.
    std::string n = std::to_string(i);
    n.insert(0, 7 - n.size(), '0');
    text += (i == 0 ? "" : ",\n");
    text += R"({"name": "WKS-)" + n +
            R"(", "domain": "BENCH", "type": ["WORKSTATION", "NT"], "sessions": [{"user": "user)" +
            n + R"(", "logonDomain": "BENCH", "logonServer": "WKS-0000000"}]})";
  }
  text += "]}\n";
  return text;
}

void BM_LoadDomainFile(benchmark::State& state) {
  const std::string text = DomainText(static_cast<int>(state.range(0)));
  // One load before the timed ones, so that every timed load finds the memory
  // the program already has, at every size; otherwise the first load's page
  // faults weigh on the large domains, which get fewer loads to average over.
  quorvix::sim::ParseDomainJson(text, "bench.json");
  for (auto _ : state) {
    auto d = std::make_unique<quorvix::sim::SimDomain>(
        quorvix::sim::ParseDomainJson(text, "bench.json"));
    benchmark::DoNotOptimize(d->machines.data());
    // Releasing the domain is not part of loading it.
    state.PauseTiming();
    d.reset();
    state.ResumeTiming();
  }
  state.counters["machines"] = static_cast<double>(state.range(0));
  state.counters["ns_per_machine"] = benchmark::Counter(
      static_cast<double>(state.range(0)),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LoadDomainFile)->Arg(100000)->Arg(400000)->Unit(benchmark::kMillisecond);

// The two sizes loaded in turn: each round loads the small domain four times
// and the large one once, the same work on both sides within a second or two,
// and compares the two; the median round is kept. Two means taken seconds
// apart would measure a machine whose speed drifts by several percent, and
// the fastest of many small loads against the fastest of a few large ones
// would favour the side with more tries.
void BM_LoadRatio(benchmark::State& state) {
  const std::string small = DomainText(100000);
  const std::string large = DomainText(400000);
  auto timed = [](const std::string& text) {
    const auto start = std::chrono::steady_clock::now();
    auto d = std::make_unique<quorvix::sim::SimDomain>(
        quorvix::sim::ParseDomainJson(text, "bench.json"));
    benchmark::DoNotOptimize(d->machines.data());
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    d.reset();
    return s;
  };
  timed(large);  // the memory of the largest load, taken once before any timing
  std::vector<double> smallTimes, largeTimes, ratios;
  for (auto _ : state) {
    double smalls = timed(small) + timed(small);
    const double l = timed(large);
    smalls += timed(small) + timed(small);
    smallTimes.push_back(smalls / 4);
    largeTimes.push_back(l);
    ratios.push_back(l / smallTimes.back());
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  state.counters["small_ms"] = median(smallTimes) * 1e3;
  state.counters["large_ms"] = median(largeTimes) * 1e3;
  state.counters["ratio"] = median(ratios);
}
BENCHMARK(BM_LoadRatio)->Iterations(9)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
  // Freed memory stays with the program for the next iteration at every size.
  // Otherwise only the large domains hand their memory back to the system
  // after each load and fault it in again, which the small ones never do, and
  // the ratio would measure the allocator instead of the loader.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
