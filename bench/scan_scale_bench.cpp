// The scan on a network of slow, switched-off and silent machines: a
// generated domain of 2,000 machines where every call takes 20 ms, 10 %
// answer 53 after 3 s and 1 % do not answer for 600 s; 5 entries on each
// live machine.
//
// ScaleAt32Jobs: the whole scan with --jobs 32 --host-timeout 10. Counters:
// seconds; ideal, the time the machines need when 32 are asked at once (the
// per-machine times, silent ones capped at the deadline, summed and divided
// by 32, plus the machine list); ratio = seconds / ideal.
//
// SpeedUpOnASlice: a 200-machine domain of the same make but without silent
// machines (one silent machine alone holds --jobs 16 for the whole deadline,
// which caps the speed-up at t1 / 10 s), scanned with --jobs 1 and then
// --jobs 16 in one run; speedup = t1 / t16. /0: live machines only; /1: 10 %
// of them off (20 machines of 3 s among 16 jobs: some job takes two of them,
// so no order of asking beats about 6 s, a speed-up of about 13).
//
// WindowInputGap: the same 2,000-machine scan in the desktop window;
// input_gap_ms is the longest stretch in which the window took no input
// (a 1 ms timer that fires only when the window is serviced), gap_at_s when
// it began. Run with QT_QPA_PLATFORM=offscreen on an idle machine.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <chrono>
#include <set>
#include <string>

#include "AuditScan.h"
#include "SimulatedNetApi.h"
#include "frmMain.h"

namespace {

using namespace quorvix;
using Seconds = std::chrono::duration<double>;

constexpr uint32_t kCallMicros = 20'000;
constexpr auto kDeadline = std::chrono::seconds(10);

sim::GeneratorOptions Network(uint32_t machines) {
  sim::GeneratorOptions o;
  o.machines = machines;
  o.entriesPerMachine = 5;
  o.latencyMicros = kCallMicros;
  o.unreachableShare = 0.10;
  o.unreachableStatus = 53;
  o.unreachableMicros = 3'000'000;
  o.silentShare = 0.01;
  o.silentMicros = 600'000'000;
  return o;
}

// A window that takes the rows and nothing else.
class Sink : public ReportWindow {
 public:
  void SetStatusText(const std::u16string&) override {}
  void ClearRows() override { rows = 0; }
  void AppendRow(const ReportRow&) override { ++rows; }
  void SetMousePointer(MousePointer) override {}
  std::u16string DomainText() override { return u"BENCH"; }
  void ShowMessage(const std::u16string&) override {}
  bool DoEvents() override { return true; }
  std::size_t rows = 0;
};

// What the machines need when `jobs` are asked at once: every call that was
// answered in its 20 ms, each machine that is off its 3 s, each silent one
// the deadline; the machine list on its own.
double IdealSeconds(const sim::SimulatedNetApi& api, unsigned jobs) {
  std::set<std::u16string> dead;
  std::size_t silent = 0, off = 0;
  for (const auto& m : api.Domain().machines) {
    if (m.unreachableStatus) {
      dead.insert(m.name);
      ++off;
    } else if (m.silentMicros > 0) {
      dead.insert(m.name);
      ++silent;
    }
  }
  double listing = 0, work = 0;
  for (const auto& c : api.Calls()) {
    if (c.call == "NetServerEnum" || c.call == "NetGetDCName")
      listing += kCallMicros / 1e6;
    else if (c.names.empty() || !dead.count(c.names[0]))
      work += kCallMicros / 1e6;
  }
  work += double(off) * 3.0 + double(silent) * Seconds(kDeadline).count();
  return listing + work / jobs;
}

// Silent machines' workers sleep past the run inside the provider: each
// network lives as long as the program.
sim::SimulatedNetApi& NewNetwork(const sim::GeneratorOptions& options) {
  return *new sim::SimulatedNetApi(sim::GenerateDomain(options));
}

double Scan(sim::SimulatedNetApi& api, unsigned jobs, std::size_t* rows = nullptr) {
  Sink sink;
  const auto start = std::chrono::steady_clock::now();
  RunAuditScan(api, sink, ScanSettings{jobs, kDeadline});
  if (rows != nullptr) *rows = sink.rows;
  return Seconds(std::chrono::steady_clock::now() - start).count();
}

void ScaleAt32Jobs(benchmark::State& state) {
  for (auto _ : state) {
    sim::SimulatedNetApi& api = NewNetwork(Network(2000));
    std::size_t rows = 0;
    const double seconds = Scan(api, 32, &rows);
    const double ideal = IdealSeconds(api, 32);
    state.counters["seconds"] = seconds;
    state.counters["ideal"] = ideal;
    state.counters["ratio"] = seconds / ideal;
    state.counters["rows"] = double(rows);
  }
}

void SpeedUpOnASlice(benchmark::State& state) {
  for (auto _ : state) {
    sim::GeneratorOptions slice = Network(200);
    slice.silentShare = 0;
    if (state.range(0) == 0) slice.unreachableShare = 0;
    sim::SimulatedNetApi& one = NewNetwork(slice);
    sim::SimulatedNetApi& sixteen = NewNetwork(slice);
    const double t1 = Scan(one, 1);
    const double t16 = Scan(sixteen, 16);
    state.counters["t1"] = t1;
    state.counters["t16"] = t16;
    state.counters["speedup"] = t1 / t16;
  }
}

void WindowInputGap(benchmark::State& state) {
  for (auto _ : state) {
    sim::SimulatedNetApi& api = NewNetwork(Network(2000));
    api.SetLogging(false);
    frmMain w(api, true);
    w.SetScanSettings({32, kDeadline});
    w.ShowWindow();
    QElapsedTimer clock;
    qint64 last = 0, longest = 0, longestAt = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      if (now - last > longest) {
        longest = now - last;
        longestAt = last;
      }
      last = now;
    });
    // The press itself starts the scan; the meter starts with it.
    QTimer::singleShot(0, &w, [&] {
      clock.start();
      tick.start();
      w.findChild<QToolButton*>(QStringLiteral("asxPowerButton1"))->click();
      tick.stop();
      QApplication::quit();
    });
    QApplication::exec();
    state.counters["input_gap_ms"] = double(longest) / 1e6;
    state.counters["gap_at_s"] = double(longestAt) / 1e9;
  }
}

BENCHMARK(ScaleAt32Jobs)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(SpeedUpOnASlice)->Arg(0)->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(WindowInputGap)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // Silent machines are still inside their calls; the program ends with them.
  std::_Exit(0);
}
