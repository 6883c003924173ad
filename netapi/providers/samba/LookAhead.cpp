#include "LookAhead.h"

#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <new>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "LookAheadPace.h"
#include "Sockets.h"

namespace quorvix::samba {

namespace {

using Clock = std::chrono::steady_clock;

// Connections being made at once, each a socket: at most a quarter of the
// descriptors the program may open (256 of the usual 1,024), so that the
// scan's own connections always find theirs.
std::size_t MaxSockets() {
  rlimit files{};
  const std::size_t allowed =
      getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
          ? static_cast<std::size_t>(files.rlim_cur)
          : 1024;
  return std::min<std::size_t>(256, allowed / 4);
}
// Addresses of one name at most (AddressesOf), each tried on every port.
constexpr std::size_t kMostAddresses = 8;
// Machines begun per tenth of a second, at most: an intrusion alarm takes a
// burst of thousands of new connections for an attack.
constexpr std::size_t kBegunPerRound = 48;
constexpr std::chrono::milliseconds kRound{100};
// A machine that takes no connection within this is taken for off, as a
// scan's own connection to it would be.
constexpr auto kUnreachableAfter = kConnectGrace + kConnectCheck;
// Names looked up at once, each on a thread of its own, and machines whose
// lookup is asked or whose addresses wait for sockets, at most.
constexpr std::size_t kLookupThreads = 16;
constexpr std::size_t kMostLooking = 64;

std::string Key(std::string host) {
  for (char& c : host)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return host;
}

// What a failed connection says of the machine: that it is not there (or
// not listening), or nothing, when the failure is this computer's own.
bool SaysUnreachable(int error) {
  switch (error) {
    case ECONNREFUSED:
    case ECONNRESET:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
      return true;
    default:
      return false;
  }
}

}  // namespace

struct LookAhead::Look {
  std::atomic<bool> stop{false};
  std::vector<std::string> keys;  // of the machines, in order; set before the thread starts
  const Clock::time_point started = Clock::now();
  std::mutex mu;
  // By key, when each machine was found unreachable; guarded by mu.
  std::unordered_map<std::string, Clock::time_point> unreachable;
  std::size_t passed = 0;  // the machines before it the scan has come to; guarded by mu
  bool over = false;       // guarded by mu
};

namespace {

// One machine being looked at: its connection attempts not yet ended (those
// not yet made among them), and whether one failed in a way that says
// nothing.
struct Machine {
  std::size_t index;  // in the look's machines
  std::string key;
  Clock::time_point start;
  std::size_t open = 0;
  bool undecided = false;
  bool done = false;
};

void Run(const std::shared_ptr<LookAhead::Look>& look, const std::vector<std::string>& hosts,
         const LookAhead::OtherName& otherName, const LookAhead::Settings& settings);

// The addresses a machine is tried at: those of its own name, or when that
// has none, those of the name that reaches it.
std::vector<std::string> AddressesToTry(const std::string& host,
                                        const LookAhead::Addresses& addressesOf,
                                        const LookAhead::OtherName& otherName) {
  auto [v4, v6] = addressesOf(host);
  if (v4.empty() && v6.empty() && otherName) {
    if (const std::string other = otherName(host); !other.empty())
      std::tie(v4, v6) = addressesOf(other);
  }
  return v4.empty() ? std::move(v6) : std::move(v4);
}

// The machines' names are looked up on threads of their own: a lookup that
// takes long (a name no server knows, a DNS server that does not answer,
// a NetBIOS broadcast) holds its thread, not the look, which goes on with
// the machines whose addresses came. The threads end once the look has
// ended and their lookup is over.
class Lookups {
 public:
  struct Answer {
    std::size_t index = 0;
    std::vector<std::string> addresses;
    std::exception_ptr failed;  // the lookup threw (no memory, say)
  };

  Lookups(LookAhead::Addresses addressesOf, LookAhead::OtherName otherName)
      : shared_(std::make_shared<Shared>(std::move(addressesOf), std::move(otherName))) {}
  ~Lookups() {
    {
      std::lock_guard lock(shared_->mu);
      shared_->ended = true;
    }
    shared_->asked.notify_all();
  }
  Lookups(const Lookups&) = delete;
  Lookups& operator=(const Lookups&) = delete;

  // Wakes a poll when an answer comes; -1: none to be had.
  int WakeFd() const { return shared_->wake; }

  // Looks up host, the look's machine at index. Throws when no thread for
  // lookups can be had at all.
  void Ask(std::size_t index, const std::string& host) {
    std::lock_guard lock(shared_->mu);
    shared_->questions.emplace_back(index, host);
    // A thread for each question that no idle one will take, up to the most.
    if (shared_->idle < shared_->questions.size() && shared_->threads < kLookupThreads) {
      try {
        std::thread([shared = shared_] { Answering(*shared); }).detach();
        ++shared_->threads;
        ++shared_->idle;
      } catch (const std::exception&) {
        if (shared_->threads == 0) throw;  // those there are take the question
      }
    }
    shared_->asked.notify_one();
  }

  // The answers that came since the last call.
  std::deque<Answer> Take() {
    if (shared_->wake >= 0) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = read(shared_->wake, &count, sizeof count);
    }
    std::lock_guard lock(shared_->mu);
    if (shared_->lost) throw std::bad_alloc();
    return std::exchange(shared_->answers, {});
  }

 private:
  struct Shared {
    Shared(LookAhead::Addresses a, LookAhead::OtherName o)
        : addressesOf(std::move(a)), otherName(std::move(o)) {}
    ~Shared() {
      if (wake >= 0) close(wake);
    }
    const LookAhead::Addresses addressesOf;
    const LookAhead::OtherName otherName;
    const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::mutex mu;
    std::condition_variable asked;
    std::deque<std::pair<std::size_t, std::string>> questions;  // guarded by mu
    std::deque<Answer> answers;                                 // guarded by mu
    std::size_t threads = 0;                                    // guarded by mu
    std::size_t idle = 0;  // threads waiting for a question; guarded by mu
    bool ended = false;    // guarded by mu
    bool lost = false;     // an answer found no memory; guarded by mu
  };

  static void Answering(Shared& s) {
    std::unique_lock lock(s.mu);
    for (;;) {
      s.asked.wait(lock, [&s] { return s.ended || !s.questions.empty(); });
      if (s.ended) break;
      auto [index, host] = std::move(s.questions.front());
      s.questions.pop_front();
      --s.idle;
      lock.unlock();
      Answer answer;
      answer.index = index;
      try {
        answer.addresses = AddressesToTry(host, s.addressesOf, s.otherName);
      } catch (...) {
        answer.failed = std::current_exception();
      }
      lock.lock();
      ++s.idle;
      if (s.ended) break;
      try {
        s.answers.push_back(std::move(answer));
      } catch (...) {
        s.lost = true;  // no memory: the look ends
      }
      if (s.wake >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(s.wake, &one, sizeof one);
      }
    }
    --s.threads;
  }

  std::shared_ptr<Shared> shared_;
};

// How many machines the scan has come to.
std::size_t Passed(LookAhead::Look& look) {
  std::lock_guard lock(look.mu);
  return look.passed;
}

// Whether the machine at next may be begun, within the lead of the scan;
// next is first moved past the machines the scan has come to, which need no
// look any more.
bool MayBegin(LookAhead::Look& look, std::size_t& next) {
  std::lock_guard lock(look.mu);
  next = std::max(next, look.passed);
  // What is found holds for a while only (Settings::kept), and is found
  // again while the scan has not come to its machine.
  return next < look.keys.size() &&
         next < look.passed + LookAheadLead(look.passed, Clock::now() - look.started);
}

}  // namespace

LookAhead::LookAhead(OtherName otherName) : LookAhead(std::move(otherName), Settings{}) {}

LookAhead::LookAhead(OtherName otherName, Settings settings)
    : otherName_(std::move(otherName)), settings_(std::move(settings)) {}

LookAhead::~LookAhead() {
  Start({});
}

void LookAhead::Start(std::vector<std::string> hosts) {
  std::shared_ptr<Look> next;
  try {
    if (!hosts.empty()) {
      next = std::make_shared<Look>();
      next->keys.reserve(hosts.size());
      for (const std::string& host : hosts) next->keys.push_back(Key(host));
    }
  } catch (const std::bad_alloc&) {
    next = nullptr;  // no memory: the scan asks every machine itself
  }
  {
    std::lock_guard lock(mu_);
    if (current_) current_->stop = true;
    current_ = next;
  }
  if (!next) return;
  try {
    std::thread([next, hosts = std::move(hosts), otherName = otherName_, settings = settings_] {
      try {
        Run(next, hosts, otherName, settings);
      } catch (...) {
        // No memory, say: the scan asks the machines left itself.
      }
      std::lock_guard lock(next->mu);
      next->over = true;
    }).detach();
  } catch (const std::exception&) {
    // No thread to be had: the scan asks every machine itself.
    std::lock_guard lock(next->mu);
    next->over = true;
  }
}

std::shared_ptr<LookAhead::Look> LookAhead::Current() const {
  std::lock_guard lock(mu_);
  return current_;
}

bool LookAhead::Over() const {
  const std::shared_ptr<Look> look = Current();
  if (!look) return true;
  std::lock_guard lock(look->mu);
  return look->over;
}

void LookAhead::ScanComesTo(const std::string& host) {
  const std::shared_ptr<Look> look = Current();
  if (!look) return;
  const std::string key = Key(host);
  std::lock_guard lock(look->mu);
  look->passed = ScanPlace(look->keys, look->passed, key);
}

bool LookAhead::FoundUnreachable(const std::string& host) const {
  const std::shared_ptr<Look> look = Current();
  if (!look) return false;
  const std::string key = Key(host);
  std::lock_guard lock(look->mu);
  const auto found = look->unreachable.find(key);
  return found != look->unreachable.end() && Clock::now() - found->second < settings_.kept;
}

namespace {

void Run(const std::shared_ptr<LookAhead::Look>& look, const std::vector<std::string>& hosts,
         const LookAhead::OtherName& otherName, const LookAhead::Settings& settings) {
  const std::vector<std::string>& ports = settings.ports;
  const LookAhead::Addresses addressesOf =
      settings.addressesOf ? settings.addressesOf : LookAhead::Addresses(AddressesOf);
  const std::size_t mostPerMachine = kMostAddresses * ports.size();
  const std::size_t maxSockets = std::max(MaxSockets(), mostPerMachine);
  std::vector<Machine> machines;   // those with attempts open, and those before them
  std::vector<pollfd> waits;       // the attempts open
  std::vector<std::size_t> owner;  // of each attempt, its machine
  std::vector<std::size_t> moved;  // where each machine went as the finished ones are dropped
  std::size_t next = 0;
  // The machines found unreachable, by place, in the order found. A finding
  // is made again once half its time is over while the scan has not come to
  // its machine: a scan slower than the lead keeps finding recent ones, and
  // a machine switched on meanwhile is asked.
  std::deque<std::pair<std::size_t, Clock::time_point>> found;
  // However the look ends, its attempts are closed; an attempt made is
  // always kept (room for all is taken first).
  struct Closer {
    std::vector<pollfd>& waits;
    ~Closer() {
      for (const pollfd& w : waits)
        if (w.fd >= 0) CloseAtOnce(w.fd);
    }
  } closer{waits};
  waits.reserve(maxSockets + 1);
  owner.reserve(maxSockets);

  // m is found unreachable, or found to take a connection (which ends what
  // was found of it before), or neither.
  auto decide = [&](Machine& m, bool unreachable, bool connected) {
    m.done = true;
    if (!unreachable && !connected) return;
    const auto now = Clock::now();
    if (unreachable) found.emplace_back(m.index, now);
    std::lock_guard lock(look->mu);
    if (unreachable)
      look->unreachable[m.key] = now;
    else
      look->unreachable.erase(m.key);
  };
  // An attempt of m ended with error (0: it connected).
  auto ended = [&](Machine& m, int error) {
    --m.open;
    if (m.done) return;
    if (error == 0) return decide(m, false, true);
    if (!SaysUnreachable(error)) m.undecided = true;
    if (m.open == 0) decide(m, !m.undecided, false);
  };
  // Tries the machine at index on every port of each address it would be
  // asked at (Lookups).
  auto attempt = [&](std::size_t index, const std::vector<std::string>& addresses) {
    const std::size_t attempts = std::min(addresses.size(), kMostAddresses) * ports.size();
    if (attempts == 0) return;  // not reached by any name: nothing to try
    // Every attempt counts as open until it ends, so that the machine is
    // judged once all of them are made and ended, not on those made first.
    machines.push_back({index, look->keys[index], Clock::now(), attempts});
    const std::size_t at = machines.size() - 1;
    Machine& m = machines.back();
    for (std::size_t k = 0; k < attempts && !m.done; ++k) {
      addrinfo hints{};
      hints.ai_socktype = SOCK_STREAM;
      hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
      addrinfo* ai = nullptr;
      if (getaddrinfo(addresses[k / ports.size()].c_str(), ports[k % ports.size()].c_str(), &hints,
                      &ai) != 0 ||
          ai == nullptr) {
        ended(m, EINVAL);  // says nothing of the machine
        continue;
      }
      const int fd = socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      const int error =
          fd < 0 ? EMFILE : (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0 ? 0 : errno);
      freeaddrinfo(ai);
      if (error == EINPROGRESS) {
        waits.push_back({fd, POLLOUT, 0});
        owner.push_back(at);
        continue;
      }
      if (fd >= 0) CloseAtOnce(fd);
      ended(m, error);
    }
  };

  Lookups lookups(addressesOf, otherName);
  std::size_t looking = 0;                // machines asked of lookups whose attempts are not made
  std::deque<Lookups::Answer> addressed;  // looked up, waiting for sockets
  auto begin = [&](std::size_t index) {
    lookups.Ask(index, hosts[index]);
    ++looking;
  };

  auto round = Clock::now();
  std::size_t begun = 0;  // machines tried in this round
  while (!look->stop) {
    auto now = Clock::now();
    if (now - round >= kRound) {
      round = now;
      begun = 0;
    }
    for (Lookups::Answer& answer : lookups.Take()) {
      if (answer.failed) std::rethrow_exception(answer.failed);
      addressed.push_back(std::move(answer));
    }
    // The machines whose addresses came are tried as the round and the
    // sockets allow; those the scan has come to meanwhile need it no more.
    const std::size_t passed = Passed(*look);
    while (!addressed.empty() && begun < kBegunPerRound &&
           waits.size() + mostPerMachine <= maxSockets) {
      if (addressed.front().index >= passed) {
        attempt(addressed.front().index, addressed.front().addresses);
        ++begun;
      }
      addressed.pop_front();
      --looking;
    }
    auto room = [&] { return looking < kMostLooking && !look->stop; };
    while (!found.empty() && room()) {
      const auto [index, when] = found.front();
      const bool ahead = index >= Passed(*look);
      if (ahead && now - when < settings.kept / 2) break;
      found.pop_front();
      if (ahead) begin(index);
    }
    while (room() && MayBegin(*look, next)) begin(next++);
    if (waits.empty() && looking == 0 && next >= hosts.size()) {
      {
        std::lock_guard lock(look->mu);
        look->over = true;
      }
      if (found.empty()) break;
    }

    // Until an attempt ends, the first one's time is up, an answer comes,
    // the next round may try machines, or a tenth of a second (to see a
    // stop, or the scan come further).
    now = Clock::now();
    auto until = now + kRound;
    if (!addressed.empty() && begun >= kBegunPerRound) until = std::min(until, round + kRound);
    for (std::size_t w : owner) until = std::min(until, machines[w].start + kUnreachableAfter);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
    // The lookups' answers wake the wait too (room for it was kept).
    if (lookups.WakeFd() >= 0) waits.push_back({lookups.WakeFd(), POLLIN, 0});
    const int polled =
        poll(waits.data(), waits.size(), static_cast<int>(std::max<long long>(wait.count(), 0)));
    if (lookups.WakeFd() >= 0) waits.pop_back();
    if (polled < 0 && errno != EINTR) break;

    now = Clock::now();
    for (std::size_t k = 0; k < waits.size(); ++k) {
      Machine& m = machines[owner[k]];
      int error = ETIMEDOUT;
      if (waits[k].revents != 0) {
        socklen_t len = sizeof error;
        if (getsockopt(waits[k].fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
      } else if (!m.done && now < m.start + kUnreachableAfter) {
        continue;  // still being made
      }
      CloseAtOnce(waits[k].fd);
      waits[k].fd = -1;
      ended(m, error);
    }
    std::size_t kept = 0;
    for (std::size_t k = 0; k < waits.size(); ++k) {
      if (waits[k].fd < 0) continue;
      waits[kept] = waits[k];
      owner[kept++] = owner[k];
    }
    waits.resize(kept);
    owner.resize(kept);
    // Only the machines with attempts open are kept: a long look begins
    // machines again and again.
    moved.assign(machines.size(), 0);
    std::size_t live = 0;
    for (std::size_t i = 0; i < machines.size(); ++i) {
      if (machines[i].open == 0) continue;
      if (i != live) machines[live] = std::move(machines[i]);
      moved[i] = live++;
    }
    machines.erase(machines.begin() + static_cast<std::ptrdiff_t>(live), machines.end());
    for (std::size_t& o : owner) o = moved[o];
  }
}

}  // namespace

}  // namespace quorvix::samba
