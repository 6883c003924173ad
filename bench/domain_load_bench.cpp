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

// The two sizes loaded in turn, four small loads for each large one, and
// the fastest load of each kept: the ratio then compares the loader with
// itself under the same conditions, instead of two runs a few seconds apart
// on a machine whose speed drifts by several percent.
void BM_LoadRatio(benchmark::State& state) {
  const std::string small = DomainText(100000);
  const std::string large = DomainText(400000);
  auto timed = [](const std::string& text) {
    const auto start = std::chrono::steady_clock::now();
    auto d = std::make_unique<quorvix::sim::SimDomain>(
        quorvix::sim::ParseDomainJson(text, "bench.json"));
    benchmark::DoNotOptimize(d->machines.data());
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    d.reset();
    return s;
  };
  timed(large);  // the memory of the largest load, taken once before any timing
  double fastestSmall = 1e9;
  double fastestLarge = 1e9;
  for (auto _ : state) {
    for (int i = 0; i < 4; ++i) fastestSmall = std::min(fastestSmall, timed(small));
    fastestLarge = std::min(fastestLarge, timed(large));
  }
  state.counters["small_ms"] = fastestSmall * 1e3;
  state.counters["large_ms"] = fastestLarge * 1e3;
  state.counters["ratio"] = fastestLarge / fastestSmall;
}
BENCHMARK(BM_LoadRatio)->Iterations(8)->Unit(benchmark::kMillisecond);

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
