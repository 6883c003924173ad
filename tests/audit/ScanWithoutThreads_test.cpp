// A scan on a system that stops giving threads part way: it still asks every
// machine and ends. Replaces pthread_create, so it is built without the
// sanitizers (which replace it themselves).
#include <dlfcn.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>

#include "AuditScan.h"
#include "SimulatedNetApi.h"

namespace {

std::atomic<int> g_threadsLeft{INT_MAX};

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr,
                              void* (*routine)(void*), void* arg) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  if (g_threadsLeft.fetch_sub(1) <= 0) return EAGAIN;
  return real(thread, attr, routine, arg);
}

namespace quorvix {
namespace {

class Window : public ReportWindow {
 public:
  void SetStatusText(const std::u16string&) override {}
  void ClearRows() override {}
  void AppendRow(const ReportRow&) override { ++rows; }
  void SetMousePointer(MousePointer) override {}
  std::u16string DomainText() override { return u"HQ"; }
  void ShowMessage(const std::u16string&) override {}
  bool DoEvents() override { return true; }
  void SetMachineOutcomes(const std::vector<MachineOutcome>& o) override { outcomes = o; }
  int rows = 0;
  std::vector<MachineOutcome> outcomes;
};

sim::SimMachine Machine(std::u16string name, uint32_t silentMicros) {
  sim::SimMachine m;
  m.name = std::move(name);
  m.domain = u"HQ";
  m.type = SV_TYPE_WORKSTATION;
  m.sessions = {{u"alice", u"HQ", u"", u""}};
  m.silentMicros = silentMicros;
  return m;
}

// The one worker the system gave is held by a machine given up; no thread
// is had for its replacement, and the machines left are asked all the same.
TEST(ScanWithoutThreads, MachinesLeftAreAskedWhenNoWorkerCanBeStarted) {
  sim::SimDomain d;
  d.computerName = u"PC2";
  d.localDomain = u"HQ";
  d.domains = {{u"HQ", u"PC2"}};
  d.machines = {Machine(u"PC1", 400'000), Machine(u"PC2", 0), Machine(u"PC3", 0)};
  sim::SimulatedNetApi net(d);
  Window w;
  g_threadsLeft = 2;  // the listing's thread and one worker
  const ScanOutcome outcome = RunAuditScan(net, w, ScanSettings{1, std::chrono::milliseconds(100)});
  g_threadsLeft = INT_MAX;
  ASSERT_EQ(outcome, ScanOutcome::Done);
  ASSERT_EQ(w.outcomes.size(), 3u);
  EXPECT_EQ(w.outcomes[0].state, MachineState::TimedOut);
  EXPECT_EQ(w.outcomes[1].state, MachineState::Listed);
  EXPECT_EQ(w.outcomes[2].state, MachineState::Listed);
  EXPECT_EQ(w.rows, 2);
  ASSERT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));
}

}  // namespace
}  // namespace quorvix
