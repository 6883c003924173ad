#include "AuditScan.h"

#ifdef _WIN32
#include <windows.h>
// windows.h must precede the other platform headers.
#include <process.h>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "LastLogon.h"
#include "ScanSummary.h"
#include "basMain.h"
#include "basNetAPI.h"
#include "basStringHandler.h"
#include "classNetAPI.h"

namespace quorvix {

namespace {

using Clock = std::chrono::steady_clock;

// One scan at a time in the process. The program has one user-interface
// thread; a start during a scan's yield must not mix two runs' rows. (Atomic
// only so that a scan started from another thread is refused, not a race.)
std::atomic<bool> g_scanRunning{false};

class RunningGuard {
 public:
  RunningGuard() : acquired_(!g_scanRunning.exchange(true)) {}
  ~RunningGuard() {
    if (acquired_) g_scanRunning.store(false);
  }
  RunningGuard(const RunningGuard&) = delete;
  RunningGuard& operator=(const RunningGuard&) = delete;
  bool acquired() const { return acquired_; }

 private:
  bool acquired_;
};

// Worker threads alive in the process, across scans.
std::mutex g_workersMu;
std::condition_variable g_workersIdle;
std::size_t g_workers = 0;
#ifndef _WIN32
// Threads started and not yet ended, under g_workersMu: those counted in
// g_workers, and those counted out that still let go of what they held.
std::size_t g_living = 0;
#endif

std::u16string EnumerationFailureText(int32_t status) {
  std::u16string text = GetNetErrorText(status);
  if (text.find_first_not_of(u" \t\r\n") == std::u16string::npos) {
    const std::string number = std::to_string(static_cast<uint32_t>(status));
    text = u"The machines of the domain could not be listed: network status " +
           std::u16string(number.begin(), number.end()) + u".";
  }
  return text;
}

// A status's message as one line.
std::u16string OneLineMessage(int32_t status) {
  std::u16string text = GetNetErrorText(status);
  for (char16_t& c : text)
    if (c == u'\r' || c == u'\n' || c == u'\t') c = u' ';
  const auto last = text.find_last_not_of(u' ');
  text.erase(last == std::u16string::npos ? 0 : last + 1);
  const auto first = text.find_first_not_of(u' ');
  return first == std::u16string::npos ? std::u16string() : text.substr(first);
}

struct MachineWork {
  std::vector<ReportRow> rows;
  MachineOutcome outcome;
};

struct LogonAnswer {
  int32_t status = 0;
  uint32_t seconds = 0;
};

struct ControllerAnswer {
  int32_t status = 0;
  std::u16string name;
  std::u16string dnsName;  // the name it is asked by
};

enum class SlotState { Waiting, Running, Finished, GivenUp };

struct Slot {
  SlotState state = SlotState::Waiting;
  Clock::time_point started;
  // The machine's rows as far as they were had by its deadline, once its
  // entries are listed: a logon server that is slow to give last logons
  // then costs those, not the machine's rows.
  std::optional<MachineWork> listed;

  // The rows had so far, once the entries came; none are kept after.
  std::optional<MachineWork> TakeListed() { return std::exchange(listed, std::nullopt); }
};

// Answers asked once per key in a scan: threads that need the same key wait
// for the one call. An answer that keep refuses is asked again by the next
// thread that needs it.
template <typename Key, typename Value>
class AskedOnce {
 public:
  template <typename Ask, typename Keep>
  Value Get(const Key& key, Ask ask, Keep keep) {
    std::promise<Value> mine;
    std::shared_future<Value> answer;
    bool asking = false;
    {
      std::lock_guard lock(mu_);
      auto [it, inserted] = answers_.try_emplace(key);
      if (inserted) {
        it->second = mine.get_future().share();
        asking = true;
      }
      answer = it->second;
    }
    if (asking) {
      Value v;
      try {
        v = ask();
      } catch (...) {
        {
          std::lock_guard lock(mu_);
          answers_.erase(key);  // the next thread asks again
        }
        mine.set_exception(std::current_exception());
        throw;
      }
      if (!keep(v)) {
        std::lock_guard lock(mu_);
        answers_.erase(key);
      }
      mine.set_value(v);
    }
    return answer.get();
  }

 private:
  std::mutex mu_;
  std::map<Key, std::shared_future<Value>> answers_;
};

// A server's or domain's name as names compare: without leading
// backslashes, case folded.
std::u16string NameKey(std::u16string_view name) {
  std::u16string key(WithoutBackslashes(name));
  for (char16_t& c : key) c = static_cast<char16_t>(FoldCase(c));
  return key;
}

// What the window's thread and the workers share. Workers hold it as long as
// they run, so a worker whose machine was given up can finish its call and
// drop the answer here; it never reaches the window.
struct ScanState {
  ScanState(NetApi& a, const std::u16string& d, std::vector<std::u16string> m, std::u16string c,
            std::chrono::milliseconds timeout)
      : api(a),
        domainKey(NameKey(d)),
        machines(std::move(m)),
        controller(std::move(c)),
        hostTimeout(timeout),
        slots(machines.size()) {
    known.reserve(machines.size() + 1);
    auto add = [this](const std::u16string& name) {
      if (std::u16string key = NameKey(name); !key.empty()) known.emplace(std::move(key), name);
    };
    add(controller);  // first: its name is the platform's
    for (const auto& name : machines) add(name);
  }

  NetApi& api;
  const std::u16string domainKey;
  const std::vector<std::u16string> machines;  // slot 0 unused
  const std::u16string controller;
  // The domain's controller and its machines, by NameKey: the servers the
  // scan asks of its own accord, under the names it has for them.
  std::unordered_map<std::u16string, std::u16string> known;
  const std::chrono::milliseconds hostTimeout;  // zero: none

  // Whether the machine of slot is past its deadline at now.
  bool PastDeadline(const Slot& slot, Clock::time_point now) const {
    return hostTimeout.count() > 0 && now - slot.started >= hostTimeout;
  }

  std::mutex mu;
  std::condition_variable finishedReady;
  std::size_t next = 1;     // the next machine to hand out
  bool closed = false;      // no further machine is handed out
  std::size_t workers = 0;  // this scan's worker threads still running
  std::size_t asking = 0;   // workers inside a machine's calls
  std::vector<Slot> slots;
  std::deque<std::pair<std::size_t, MachineWork>> finished;

  // Last logons of this scan, one call per (server, user), and the
  // controllers of the users' logon domains (by NameKey), one call each.
  AskedOnce<std::pair<std::u16string, std::u16string>, LogonAnswer> logons;
  AskedOnce<std::u16string, ControllerAnswer> logonDomainControllers;
};

LogonAnswer LastLogon(ScanState& s, const std::u16string& server, const std::u16string& user) {
  return s.logons.Get(
      {server, user},
      [&] {
        LogonAnswer a;
        a.status = classNetAPI(s.api).GetLastLogon(server, user, a.seconds);
        return a;
      },
      // A server too busy to be asked in time gave no answer: the next
      // machine with that user asks again.
      [](const LogonAnswer& a) { return a.status != static_cast<int32_t>(ERROR_NETWORK_BUSY); });
}

// Whether name can be a domain's NetBIOS name, as a machine reports a logon
// domain.
bool NetBiosDomainName(std::u16string_view name) {
  return !name.empty() && name.size() <= 15 &&
         std::none_of(name.begin(), name.end(), [](char16_t c) {
           return c < 0x20 ||
                  std::u16string_view(u".\\/:*?\"<>|").find(c) != std::u16string_view::npos;
         });
}

// The server to ask for the last logon of row's entry, under the name the
// scan has for it; empty: none is asked. An entry that names no logon server
// is asked of the domain's controller. A server the entry names is asked only
// when the scan knows it: one of the domain's machines or its controller, a
// controller the provider knows (the forest's, from the directory; asked by
// its DNS name), or the controller of the entry's logon domain as the
// domain's controller gives it (which it does only for domains it trusts;
// asked by the DNS name the controller locates for it, and not at all where
// it locates none).
// The machine that lists the entry may be hostile: asking a server of its
// choosing, or by its spelling of a name, would log on there with the scan's
// credentials.
std::u16string QueryServer(ScanState& s, const ReportRow& row) {
  const std::u16string key = NameKey(row.logonServer);
  if (key.empty()) return s.controller;
  if (const auto it = s.known.find(key); it != s.known.end()) return it->second;
  if (std::u16string name = s.api.ControllerDnsName(row.logonServer); !name.empty()) return name;
  const std::u16string domain = NameKey(row.domain);
  if (s.controller.empty() || !NetBiosDomainName(row.domain) || domain == s.domainKey) return {};
  const ControllerAnswer controller = s.logonDomainControllers.Get(
      domain,
      [&] {
        ControllerAnswer a;
        a.status = classNetAPI(s.api).fnGetPDCName(s.controller, row.domain, a.name);
        if (a.status == 0)
          a.status = static_cast<int32_t>(
              s.api.PrimaryControllerDnsName(s.controller, row.domain, a.dnsName));
        return a;
      },
      // A failure that may pass (a busy network, say) is asked again.
      [](const ControllerAnswer& a) {
        return a.status == 0 || a.status == static_cast<int32_t>(NERR_DCNotFound) ||
               a.status == static_cast<int32_t>(ERROR_NO_SUCH_DOMAIN) ||
               a.status == static_cast<int32_t>(ERROR_NOT_SUPPORTED);
      });
  return controller.status == 0 && NameKey(controller.name) == key ? controller.dnsName
                                                                   : std::u16string();
}

// Whether machine i's answer is no longer wanted: it is past its deadline
// or given up, or the scan is closed.
bool NoLongerWanted(ScanState& s, std::size_t i) {
  std::lock_guard lock(s.mu);
  const Slot& slot = s.slots[i];
  return s.closed || slot.state != SlotState::Running || s.PastDeadline(slot, Clock::now());
}

// The row of machine i's entry j, before its role and last logon are known.
ReportRow EntryRow(std::size_t i, const std::u16string& machine, const LoggedOnUser& entry,
                   std::size_t j) {
  ReportRow row;
  row.user = entry.UserName;
  row.machine = machine;
  row.workstation = machine;
  row.domain = entry.LogonDomain;
  row.logonServer = entry.LogonServer;
  row.sequence = (static_cast<uint64_t>(i) << 32) | static_cast<uint64_t>(j);
  return row;
}

// Everything the scan asks about machine i: its entries, its role (once),
// each entry's last logon. Runs on a worker thread. A machine may list many
// entries, in many batches, each naming a logon server to ask: once its
// answer is no longer wanted, neither a further batch nor a further server is
// asked for it.
MachineWork AskMachine(ScanState& s, std::size_t i) {
  const std::u16string& machine = s.machines[i];
  MachineWork work;
  work.outcome.machine = machine;
  // A list entry without a name would ask this computer instead.
  if (machine.find_first_not_of(u'\\') == std::u16string::npos) {
    work.outcome.state = MachineState::NotAsked;
    work.outcome.status = static_cast<int32_t>(ERROR_INVALID_NAME);
    work.outcome.message = OneLineMessage(work.outcome.status);
    return work;
  }

  // Whether an answer came in time (under s.mu): only what came by the
  // deadline counts, however late the scan looks.
  auto inTime = [&s, i] {
    const Slot& slot = s.slots[i];
    return slot.state == SlotState::Running && !s.PastDeadline(slot, Clock::now());
  };
  // Entries that came in time are the scan's at once: a machine whose
  // listing is long (a terminal server, in many batches) and not over by its
  // deadline keeps them, as partly listed.
  std::size_t held = 0;
  auto stopped = [&](const std::vector<LoggedOnUser>& arrived) {
    std::lock_guard lock(s.mu);
    if (s.closed || !inTime()) return true;
    Slot& slot = s.slots[i];
    if (!slot.listed) {
      slot.listed.emplace();
      slot.listed->outcome.machine = machine;
      slot.listed->outcome.state = MachineState::PartlyListed;
      slot.listed->outcome.status = static_cast<int32_t>(ERROR_MORE_DATA);
      slot.listed->outcome.message = OneLineMessage(ERROR_MORE_DATA);
    }
    for (; held + 1 < arrived.size(); ++held)
      slot.listed->rows.push_back(EntryRow(i, machine, arrived[held + 1], held + 1));
    slot.listed->outcome.entries = held;
    return false;
  };
  std::vector<LoggedOnUser> entries;
  const int32_t status = fnNetWkstaUserEnum(s.api, machine, entries, stopped);
  const std::size_t count = entries.empty() ? 0 : entries.size() - 1;
  if (status != 0 && count == 0) {
    work.outcome.state = MachineState::NotAsked;
    work.outcome.status = status;
    work.outcome.message = OneLineMessage(status);
    return work;
  }

  work.outcome.entries = count;
  if (status == 0) {
    work.outcome.state = MachineState::Listed;
  } else {
    work.outcome.state = MachineState::PartlyListed;
    work.outcome.status = status;
    work.outcome.message = OneLineMessage(status);
  }
  work.rows.reserve(count);
  for (std::size_t j = 1; j <= count; ++j) work.rows.push_back(EntryRow(i, machine, entries[j], j));
  // The entries came in time: they are the scan's from here on, whatever
  // the role and last logons that follow.
  {
    std::lock_guard lock(s.mu);
    if (inTime()) s.slots[i].listed = work;
  }

  std::u16string type;
  if (count > 0) classNetAPI(s.api).GetServerType(machine, type);
  if (!type.empty()) {
    auto withRole = [&machine, &type](MachineWork& w) {
      w.outcome.role = type;
      for (ReportRow& row : w.rows) {
        row.role = type;
        row.workstation = machine + u" (" + type + u")";
      }
    };
    withRole(work);
    std::lock_guard lock(s.mu);
    if (inTime() && s.slots[i].listed) withRole(*s.slots[i].listed);
  }

  for (std::size_t j = 0; j < work.rows.size(); ++j) {
    if (NoLongerWanted(s, i)) break;
    ReportRow& row = work.rows[j];
    // Without a server to ask the last logon stays unknown (the empty name
    // would ask this computer, whose accounts are not the domain's).
    const std::u16string server = QueryServer(s, row);
    if (server.empty()) continue;
    const LogonAnswer logon = LastLogon(s, server, row.user);
    if (logon.status != 0) continue;
    row.lastLogon = logon.seconds;
    row.lastLogonText = FormatLastLogon(logon.seconds);
    std::lock_guard lock(s.mu);
    if (inTime() && s.slots[i].listed) s.slots[i].listed->rows[j] = row;
  }
  return work;
}

// Takes machines in list order until none is left or the scan is closed
// (with once, one machine at most). A worker whose machine was given up
// leaves: another took its place.
void Work(const std::shared_ptr<ScanState>& s, bool once = false) {
  for (bool first = true; first || !once; first = false) {
    std::size_t i = 0;
    {
      std::lock_guard lock(s->mu);
      if (s->closed || s->next >= s->machines.size()) return;
      i = s->next++;
      s->slots[i].state = SlotState::Running;
      ++s->asking;
      s->slots[i].started = Clock::now();
    }
    MachineWork work;
    try {
      work = AskMachine(*s, i);
    } catch (const std::exception&) {
      work = MachineWork{};
      work.outcome.machine = s->machines[i];
      work.outcome.state = MachineState::NotAsked;
      work.outcome.status = static_cast<int32_t>(ERROR_NOT_ENOUGH_MEMORY);
      work.outcome.message = OneLineMessage(work.outcome.status);
    }
    {
      std::lock_guard lock(s->mu);
      --s->asking;
      if (s->slots[i].state != SlotState::Running) return;  // given up: the answer is dropped
      // An answer that came after the deadline counts as none, however soon
      // the scan looked.
      std::optional<MachineWork> listed = s->slots[i].TakeListed();
      if (s->PastDeadline(s->slots[i], Clock::now())) {
        if (listed) {
          work = std::move(*listed);
        } else {
          work = MachineWork{};
          work.outcome.machine = s->machines[i];
          work.outcome.state = MachineState::TimedOut;
        }
      }
      s->slots[i].state = SlotState::Finished;
      s->finished.emplace_back(i, std::move(work));
    }
    s->finishedReady.notify_one();
  }
}

// Counts the calling thread out of BusyScanWorkers().
void CountOut() {
  std::lock_guard lock(g_workersMu);
  if (--g_workers == 0) g_workersIdle.notify_all();
}

// What a thread runs: body while it is counted, done once it is not.
struct ThreadStart {
  std::function<void()> body;
  std::function<void()> done;
#ifdef _WIN32
  HANDLE self = nullptr;
#endif
};

#ifdef _WIN32
// Threads are started by the system's own call, not std::thread: with the
// threads library of the mingw runtime, about one program run in 120 had a
// thread started and detached at once that never ran its routine (the scan
// then waited for its worker for ever) or one that ran a routine already run
// and freed (a crash on a null scan state).
//
// Threads counted out but perhaps still ending, under g_workersMu. The
// process must not end while one is: under Wine, a thread still ending when
// the process ends crashes it now and then.
std::vector<HANDLE> g_ending;
#endif

void RunThread(ThreadStart& start) {
  start.body();
#ifdef _WIN32
  {
    std::lock_guard lock(g_workersMu);
    g_ending.push_back(start.self);
  }
#endif
  CountOut();
  if (start.done) start.done();
}

#ifdef _WIN32
unsigned __stdcall RunThreadStart(void* p) {
  const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(p));
  RunThread(*start);
  return 0;
}
#endif

// Waits for the threads counted out so far to end: they only tidy up (the
// last to let go of a scan's state frees it).
void WaitForEndingThreads() {
#ifndef _WIN32
  std::unique_lock lock(g_workersMu);
  g_workersIdle.wait(lock, [] { return g_living == g_workers; });
#else
  for (;;) {
    HANDLE thread = nullptr;
    {
      std::lock_guard lock(g_workersMu);
      if (g_ending.empty()) return;
      thread = g_ending.back();
      g_ending.pop_back();  // keeps the room that running threads count on
    }
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
  }
#endif
}

// Runs body on a thread of its own, counted by BusyScanWorkers() while it
// runs, then done once it is no longer counted; false (and nothing run) when
// the system has no thread to give.
bool StartThread(std::function<void()> body, std::function<void()> done = {}) {
  auto start = std::make_unique<ThreadStart>(ThreadStart{std::move(body), std::move(done)});
  {
    std::lock_guard lock(g_workersMu);
#ifdef _WIN32
    // Room for the handle of every running thread: one that ends needs no memory.
    g_ending.reserve(g_ending.size() + g_workers + 1);
#endif
    ++g_workers;
#ifndef _WIN32
    ++g_living;
#endif
  }
#ifdef _WIN32
  const uintptr_t thread =
      _beginthreadex(nullptr, 0, RunThreadStart, start.get(), CREATE_SUSPENDED, nullptr);
  if (thread == 0) {
    CountOut();
    return false;
  }
  start->self = reinterpret_cast<HANDLE>(thread);
  start.release();
  ResumeThread(reinterpret_cast<HANDLE>(thread));
  return true;
#else
  try {
    std::thread([start = std::move(start)]() mutable {
      RunThread(*start);
      start.reset();  // what the thread's work held, before it counts as ended
      std::lock_guard lock(g_workersMu);
      --g_living;
      g_workersIdle.notify_all();
    }).detach();
    return true;
  } catch (const std::exception&) {  // no thread to give, or no memory for its start
    {
      std::lock_guard lock(g_workersMu);
      --g_living;
    }
    CountOut();
    return false;
  }
#endif
}

// Starts one worker of the scan; false when the system has no thread to give.
bool StartWorker(const std::shared_ptr<ScanState>& s) {
  {
    std::lock_guard lock(s->mu);
    ++s->workers;
  }
  auto leave = [s] {
    {
      std::lock_guard lock(s->mu);
      --s->workers;
    }
    s->finishedReady.notify_all();
  };
  // Counted out of the process first, so that once the scan sees its workers
  // gone, BusyScanWorkers() no longer counts them either.
  if (StartThread([s] { Work(s); }, leave)) return true;
  leave();
  return false;
}

// Whether none of the scan's workers will take another machine: each is
// inside the call of a machine given up, and leaves when it returns.
bool NoWorkerTakesMachines(const ScanState& s, std::size_t firstOpen) {
  std::size_t running = 0;
  for (std::size_t i = firstOpen; i < s.next; ++i)
    running += s.slots[i].state == SlotState::Running ? 1 : 0;
  return s.workers <= s.asking - running;
}

// Once the scan is closed: waits for the workers that are not stuck inside a
// given-up machine, which leave at once.
void WaitForFreeWorkers(ScanState& s) {
  std::unique_lock lock(s.mu);
  s.closed = true;
  s.finishedReady.wait(lock, [&s] { return s.workers <= s.asking; });
}

// Longest the window's thread waits for finished work before it yields.
constexpr auto kWaitSlice = std::chrono::milliseconds(16);

// The controller and the machine list, asked off the window's thread.
struct Listing {
  std::mutex mu;
  std::condition_variable ready;
  bool done = false;
  bool left = false;  // the scan was stopped, or its window closed, while it ran
  std::u16string controller;
  std::vector<std::u16string> machines;
  int32_t status = 0;
};

}  // namespace

std::size_t BusyScanWorkers() {
  std::lock_guard lock(g_workersMu);
  return g_workers;
}

bool WaitForScanWorkers(std::chrono::milliseconds limit) {
  {
    std::unique_lock lock(g_workersMu);
    if (!g_workersIdle.wait_for(lock, limit, [] { return g_workers == 0; })) return false;
  }
  WaitForEndingThreads();
  return true;
}

ScanOutcome RunAuditScan(NetApi& api, ReportWindow& window) {
  return RunAuditScan(api, window, ScanSettings{});
}

ScanOutcome RunAuditScan(NetApi& api, ReportWindow& window, const ScanSettings& settings,
                         const ScanHooks& hooks) {
  RunningGuard guard;
  if (!guard.acquired()) return ScanOutcome::Ignored;
  // On every way out, the threads that are done have ended too: only those
  // of machines given up may still run.
  struct EndingThreads {
    ~EndingThreads() { WaitForEndingThreads(); }
  } ending;

  window.SetStatusText(u"Status: Working...");
  window.ClearRows();
  window.SetMousePointer(MousePointer::Hourglass);
  const std::u16string domain = window.DomainText();

  // The controller and the machine list are asked on a thread of their own:
  // on a real network they take a while, and the window stays serviced.
  auto listing = std::make_shared<Listing>();
  auto list = [listing, &api, domain] {
    Listing result;
    try {
      // One query object for the lookups, released on every way out.
      classNetAPI net(api);
      // A failed lookup leaves the controller name empty and is not reported.
      net.fnGetPDCName(u"", domain, result.controller);
      // A scan stopped meanwhile lists nothing: its listing, ending after
      // the next scan's has begun, would only stand in that one's way.
      {
        std::lock_guard lock(listing->mu);
        if (listing->left) return;
      }
      result.status = net.fnNetServerEnum(domain, -1, result.machines, false);
    } catch (const std::exception&) {
      result.status = static_cast<int32_t>(ERROR_NOT_ENOUGH_MEMORY);
    }
    std::lock_guard lock(listing->mu);
    listing->controller = std::move(result.controller);
    listing->machines = std::move(result.machines);
    listing->status = result.status;
  };
  // Done once the thread is no longer counted among the busy ones.
  auto done = [listing] {
    {
      std::lock_guard lock(listing->mu);
      listing->done = true;
    }
    listing->ready.notify_all();
  };
  if (!StartThread(list, done)) {
    list();
    done();
  }
  auto leave = [&listing] {
    std::lock_guard lock(listing->mu);
    listing->left = true;
  };
  for (;;) {
    {
      std::unique_lock lock(listing->mu);
      if (listing->ready.wait_for(lock, kWaitSlice, [&] { return listing->done; })) break;
    }
    if (!window.DoEvents()) {
      leave();
      return ScanOutcome::Abandoned;
    }
    if (window.StopRequested()) {
      leave();
      window.SetMousePointer(MousePointer::Default);
      window.SetMachineOutcomes({});
      window.SetStatusText(EndStatusText(ScanOutcome::Stopped, {}));
      return ScanOutcome::Stopped;
    }
  }
  std::u16string controller = std::move(listing->controller);
  std::vector<std::u16string> machines = std::move(listing->machines);
  if (listing->status != 0) {
    const int32_t status = listing->status;
    if (hooks.enumerationFailed) hooks.enumerationFailed(status);
    window.ShowMessage(EnumerationFailureText(status));
    window.SetMousePointer(MousePointer::Default);
    window.SetStatusText(u"Status: Failed");
    return ScanOutcome::Failed;
  }
  if (machines.empty()) machines.emplace_back();  // slot 0
  const std::size_t total = machines.size() - 1;

  auto state = std::make_shared<ScanState>(api, domain, std::move(machines), std::move(controller),
                                           settings.hostTimeout);
  std::vector<MachineOutcome> outcomes(total);
  for (std::size_t i = 0; i < total; ++i) outcomes[i].machine = state->machines[i + 1];

  // The provider may look ahead at the machines until the scan is over.
  struct LookingAhead {
    NetApi& api;
    ~LookingAhead() { api.LookAhead({}); }
  } lookingAhead{api};
  api.LookAhead({state->machines.begin() + 1, state->machines.end()});

  // The workers close the scan on every way out, so that none asks another
  // machine once the window's thread has left.
  struct Closer {
    ScanState& s;
    ~Closer() {
      std::lock_guard lock(s.mu);
      s.closed = true;
    }
  } closer{*state};

  // The provider's room for calls is shared with the workers of earlier
  // scans still inside the calls of machines they gave up.
  const unsigned callLimit = std::max(1u, api.MaxConcurrentCalls());
  auto room = [callLimit] {
    const std::size_t busy = BusyScanWorkers();
    return busy < callLimit ? callLimit - busy : std::size_t{0};
  };
  const unsigned jobs =
      static_cast<unsigned>(std::min<std::size_t>({std::max(1u, std::min(settings.jobs, kMaxJobs)),
                                                   callLimit, std::max<std::size_t>(total, 1)}));
  // Workers owed: those that found no room at the start, and one for each
  // machine given up (its worker stays in its call until the call ends).
  // They start once the provider has room, while machines remain.
  std::size_t owed = 0;
  if (total > 0) {
    const std::size_t now = std::min<std::size_t>(jobs, room());
    unsigned started = 0;
    for (std::size_t k = 0; k < now; ++k) started += StartWorker(state) ? 1 : 0;
    if (now > 0 && started == 0) Work(state);  // no thread to be had: ask here
    owed = jobs - std::min<std::size_t>(jobs, now);
  }

  ScanProgress progress{0, total, 0};
  window.SetStatusText(WorkingStatusText(0, total));
  ScanOutcome outcome = ScanOutcome::Done;
  std::size_t firstOpen = 1;  // machines before it are all finished or given up

  // Takes finished machines' outcomes and rows into the window; false when
  // the program is ending.
  auto take = [&](std::deque<std::pair<std::size_t, MachineWork>>& finished) {
    bool yielded = false;
    for (auto& [i, work] : finished) {
      outcomes[i - 1] = std::move(work.outcome);
      ++progress.done;
      for (const ReportRow& row : work.rows) {
        window.AppendRow(row);
        ++progress.rows;
        // The program is ending: stop at once, the window may be gone.
        if (!window.DoEvents()) return false;
        yielded = true;
      }
      window.SetStatusText(WorkingStatusText(progress.done, total));
      if (hooks.progress) hooks.progress(progress);
    }
    return yielded || window.DoEvents();
  };

  while (progress.done < total) {
    std::deque<std::pair<std::size_t, MachineWork>> finished;
    std::size_t givenUp = 0;
    std::size_t replacements = 0;
    const std::size_t roomNow = room();
    {
      std::unique_lock lock(state->mu);
      state->finishedReady.wait_for(lock, kWaitSlice, [&] { return !state->finished.empty(); });
      finished.swap(state->finished);

      // Machines past their deadline are given up; a new worker takes the
      // place of each one's worker while machines remain, once there is room.
      if (settings.hostTimeout.count() > 0) {
        const auto now = Clock::now();
        for (std::size_t i = firstOpen; i < state->next; ++i) {
          Slot& slot = state->slots[i];
          if (slot.state != SlotState::Running || !state->PastDeadline(slot, now)) continue;
          slot.state = SlotState::GivenUp;
          ++givenUp;                              // its worker is held: another takes its place
          if (auto listed = slot.TakeListed()) {  // listed in time: its rows stay
            finished.emplace_back(i, std::move(*listed));
            continue;
          }
          outcomes[i - 1].state = MachineState::TimedOut;
          ++progress.done;
        }
      }
      while (firstOpen < state->next && (state->slots[firstOpen].state == SlotState::Finished ||
                                         state->slots[firstOpen].state == SlotState::GivenUp))
        ++firstOpen;
      owed = state->next < state->machines.size() ? owed + givenUp : 0;
      replacements = std::min(owed, roomNow);
      owed -= replacements;
    }
    std::size_t notStarted = 0;
    for (std::size_t k = 0; k < replacements; ++k) notStarted += StartWorker(state) ? 0 : 1;
    if (notStarted > 0) {
      // No thread to be had: tried again on the next pass. When no worker
      // will take another machine, the next one is asked here meanwhile, so
      // that the scan goes on.
      bool askHere = false;
      {
        std::lock_guard lock(state->mu);
        owed += notStarted;
        askHere = state->next < state->machines.size() && NoWorkerTakesMachines(*state, firstOpen);
      }
      if (askHere) Work(state, true);
    }

    // Each machine given up counts as done at once.
    if (givenUp > 0) {
      window.SetStatusText(WorkingStatusText(progress.done, total));
      if (hooks.progress) hooks.progress(progress);
    }
    if (!take(finished)) return ScanOutcome::Abandoned;
    if (window.StopRequested() && progress.done < total) {
      outcome = ScanOutcome::Stopped;
      break;
    }
  }

  if (outcome == ScanOutcome::Stopped) {
    // No new machine is asked; machines still being asked are given up.
    // Those that answered before keep their rows.
    std::deque<std::pair<std::size_t, MachineWork>> finished;
    {
      std::lock_guard lock(state->mu);
      state->closed = true;
      finished.swap(state->finished);
      for (std::size_t i = 1; i < state->slots.size(); ++i) {
        Slot& slot = state->slots[i];
        if (slot.state == SlotState::Waiting || slot.state == SlotState::Running) {
          slot.state = SlotState::GivenUp;
          if (auto listed = slot.TakeListed()) {  // its entries came: its rows stay
            finished.emplace_back(i, std::move(*listed));
          } else {
            outcomes[i - 1].state = MachineState::Stopped;
          }
        }
      }
    }
    if (!take(finished)) return ScanOutcome::Abandoned;
  }

  WaitForFreeWorkers(*state);
  window.SetMousePointer(MousePointer::Default);
  window.SetMachineOutcomes(outcomes);
  window.SetStatusText(EndStatusText(outcome, outcomes));
  return outcome;
}

}  // namespace quorvix
