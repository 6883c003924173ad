#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h first: windows.h would bring in the old winsock.h
#include <process.h>
#include <windows.h>

#include "MachineProbe.h"

#include "LookAheadPace.h"
#include "basStringHandler.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <new>
#include <span>
#include <utility>
#include <vector>

namespace quorvix {

namespace {

// The SMB ports a machine is probed on: direct hosting, then NetBIOS.
constexpr std::array<std::uint16_t, 2> kSmbPorts{445, 139};

// The addresses of a name that are tried at most, every port of each.
constexpr std::size_t kMaxAddresses = 4;

// Closes a probe's socket with a reset: a connection closed the usual way
// waits minutes on this side (TIME_WAIT) with its port taken, and a scan of
// thousands of machines makes thousands of probes.
void CloseAtOnce(SOCKET s) {
  const linger now{1, 0};
  setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now), sizeof now);
  closesocket(s);
}

bool WinsockReady() {
  static const bool ready = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

// What the error of a connection attempt says of the machine.
enum class Attempt {
  Pending,
  Answered,   // it took the connection or refused it
  Unreached,  // the network says it cannot be reached
  Failed,     // an error of this machine's (no buffers, no sockets): says nothing
};

Attempt FromError(int error) {
  switch (error) {
    case 0:
    case WSAECONNREFUSED:
    case WSAECONNRESET:
      return Attempt::Answered;
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
    case WSAEALREADY:
      return Attempt::Pending;
    case WSAETIMEDOUT:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
    case WSAEHOSTDOWN:
      return Attempt::Unreached;
    default:
      return Attempt::Failed;
  }
}

// An address of a machine, as the lookup of its name gave it.
struct Address {
  sockaddr_storage to{};
  int length = 0;
};

// What the lookup of a name found.
enum class Found {
  Addresses,
  NoAddress,  // the name has no address here
  Nothing,    // the lookup failed here (no memory, ended): says nothing
};

// Whether a failed lookup says nothing of the name: this computer had no
// memory for it, or it was ended.
bool FailedHere(int error) {
  return error == WSA_NOT_ENOUGH_MEMORY || error == WSAENOBUFS || error == WSANOTINITIALISED ||
         error == WSA_E_CANCELLED;
}

// A lookup of a name by the system's resolver, in the background: a name
// that neither DNS nor the broadcast finds takes seconds, and a look-ahead
// that is ended meanwhile leaves it. The resolver then finishes it; the last
// of the two to let it go frees it. The probe of one machine waits for its
// lookup, so that both look names up by the same call.
class NameLookup {
 public:
  // Starts the lookup of host; null when none could be started.
  static NameLookup* Start(const std::u16string& host) {
    auto* lookup = new (std::nothrow) NameLookup;
    if (lookup == nullptr) return nullptr;
    lookup->finished_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    try {
      lookup->name_ = host;
    } catch (const std::bad_alloc&) {
      lookup->Release();
      return nullptr;
    }
    if (lookup->finished_ == nullptr) {
      lookup->Release();
      return nullptr;
    }
    lookup->overlapped_.lookup = lookup;
    ADDRINFOEXW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    const auto* name = reinterpret_cast<const wchar_t*>(lookup->name_.c_str());
    lookup->holders_ = 2;  // here, and the resolver until it calls Done
    int error =
        GetAddrInfoExW(name, nullptr, NS_ALL, nullptr, &hints, &lookup->result_, nullptr,
                       &lookup->overlapped_.overlapped,
                       reinterpret_cast<LPLOOKUPSERVICE_COMPLETION_ROUTINE>(&Done), nullptr);
    if (error == WSA_IO_PENDING) return lookup;
    lookup->holders_ = 1;  // over at once: the resolver holds nothing
    if (error == WSAEINVAL) {
      // A system that looks up no names in the background (before Windows
      // 8) refuses; the name is looked up here, waited for.
      lookup->result_ = nullptr;
      error = GetAddrInfoExW(name, nullptr, NS_ALL, nullptr, &hints, &lookup->result_, nullptr,
                             nullptr, nullptr, nullptr);
    }
    lookup->error_ = error;
    SetEvent(lookup->finished_);
    return lookup;
  }

  // Set once the lookup is over.
  HANDLE Finished() const { return finished_; }

  // What the lookup found, once it is over: the usable ones among the first
  // kMaxAddresses addresses of the name, into addresses.
  Found Take(std::vector<Address>& addresses) const {
    if (error_ != 0 || result_ == nullptr)
      return error_ != 0 && FailedHere(error_) ? Found::Nothing : Found::NoAddress;
    std::size_t n = 0;
    // mingw-w64 declares ai_next as a pointer to a struct of another
    // spelling; it is the next entry.
    for (const ADDRINFOEXW* ai = result_; ai != nullptr && n < kMaxAddresses;
         ai = reinterpret_cast<const ADDRINFOEXW*>(ai->ai_next), ++n) {
      if (ai->ai_addr == nullptr || ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
      if (ai->ai_addr->sa_family != AF_INET && ai->ai_addr->sa_family != AF_INET6) continue;
      Address a;
      std::memcpy(&a.to, ai->ai_addr, ai->ai_addrlen);
      a.length = static_cast<int>(ai->ai_addrlen);
      addresses.push_back(a);
    }
    return Found::Addresses;
  }

  void Release() {
    if (holders_.fetch_sub(1) == 1) delete this;
  }

 private:
  NameLookup() = default;
  ~NameLookup() {
    if (result_ != nullptr) FreeAddrInfoExW(result_);
    if (finished_ != nullptr) CloseHandle(finished_);
  }

  // The resolver's: called once when a lookup in the background is over.
  static void CALLBACK Done(DWORD error, DWORD, LPWSAOVERLAPPED overlapped) {
    NameLookup* lookup = reinterpret_cast<Overlapped*>(overlapped)->lookup;
    lookup->error_ = static_cast<int>(error);
    SetEvent(lookup->finished_);
    lookup->Release();
  }

  struct Overlapped {
    OVERLAPPED overlapped{};  // first: the resolver hands back its address
    NameLookup* lookup = nullptr;
  };
  Overlapped overlapped_;
  std::u16string name_;
  ADDRINFOEXW* result_ = nullptr;
  int error_ = 0;
  HANDLE finished_ = nullptr;
  std::atomic<int> holders_{1};
};

struct ReleaseLookup {
  void operator()(NameLookup* lookup) const { lookup->Release(); }
};
using LookupHandle = std::unique_ptr<NameLookup, ReleaseLookup>;

// The connection attempts to the ports of machines, one machine or many at
// a time: each machine's to every port of each of its addresses at once,
// for at most the wait from their start. The machines' verdicts follow one
// rule however many are probed together: Answers when an attempt was
// answered; Silent when attempts were made and every one was unreached or
// not answered in time; Unknown when none could be made, or one failed
// here.
class Attempts {
 public:
  // A machine's tag and what its attempts say.
  using Verdict = std::pair<std::size_t, MachineReach>;

  Attempts(std::span<const std::uint16_t> ports, std::chrono::milliseconds wait)
      : ports_(ports.begin(), ports.end()), wait_(wait) {}
  ~Attempts() {
    for (Machine& m : machines_)
      for (SOCKET s : m.pending) CloseAtOnce(s);
  }
  Attempts(const Attempts&) = delete;
  Attempts& operator=(const Attempts&) = delete;

  // The sockets that the attempts on one machine take at most.
  std::size_t MostPerMachine() const { return kMaxAddresses * ports_.size(); }
  // The sockets open.
  std::size_t Sockets() const { return sockets_; }
  bool Idle() const { return machines_.empty(); }

  // Starts the attempts on the machine tagged tag; its verdict goes to
  // settled when they say it at once.
  void Start(std::size_t tag, const std::vector<Address>& addresses,
             std::vector<Verdict>& settled) {
    Machine m;
    m.tag = tag;
    for (std::size_t i = 0; i < addresses.size() && i < kMaxAddresses && !m.answered; ++i) {
      for (std::uint16_t port : ports_) {
        sockaddr_storage to = addresses[i].to;
        if (to.ss_family == AF_INET)
          reinterpret_cast<sockaddr_in&>(to).sin_port = htons(port);
        else
          reinterpret_cast<sockaddr_in6&>(to).sin6_port = htons(port);
        const SOCKET s = socket(to.ss_family, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) {
          // An address of a kind this computer has no network for is not
          // tried (nor can the platform try it); any other error is ours.
          if (WSAGetLastError() != WSAEAFNOSUPPORT) m.failed = true;
          continue;
        }
        u_long nonblocking = 1;
        if (ioctlsocket(s, FIONBIO, &nonblocking) != 0) {
          CloseAtOnce(s);
          m.failed = true;
          continue;
        }
        const int r = connect(s, reinterpret_cast<const sockaddr*>(&to), addresses[i].length);
        const Attempt a = FromError(r == 0 ? 0 : WSAGetLastError());
        if (a == Attempt::Pending) {
          m.pending.push_back(s);
          ++sockets_;
          continue;
        }
        CloseAtOnce(s);
        m.Note(a);
        if (m.answered) break;
      }
    }
    m.end = std::chrono::steady_clock::now() + wait_;
    machines_.push_back(std::move(m));
    Settle(std::chrono::steady_clock::now(), settled);
  }

  // Waits up to slice (less when a machine's wait ends sooner) for attempts
  // to end, and settles the machines that are decided.
  void Wait(std::chrono::milliseconds slice, std::vector<Verdict>& settled) {
    if (machines_.empty()) return;
    auto until = std::chrono::steady_clock::now() + slice;
    for (const Machine& m : machines_) until = std::min(until, m.end);
    // The pending sockets, in sets of FD_SETSIZE at most: the first is
    // waited on, the others only looked at.
    std::vector<std::pair<Machine*, std::size_t>> all;
    all.reserve(sockets_);
    for (Machine& m : machines_)
      for (std::size_t k = 0; k < m.pending.size(); ++k) all.emplace_back(&m, k);
    for (std::size_t first = 0; first < all.size(); first += FD_SETSIZE) {
      const std::size_t count = std::min<std::size_t>(FD_SETSIZE, all.size() - first);
      fd_set written, failed;
      written.fd_count = failed.fd_count = static_cast<u_int>(count);
      for (std::size_t k = 0; k < count; ++k) {
        const auto& [m, index] = all[first + k];
        written.fd_array[k] = failed.fd_array[k] = m->pending[index];
      }
      const auto left = first == 0 ? std::max(std::chrono::ceil<std::chrono::microseconds>(
                                                  until - std::chrono::steady_clock::now()),
                                              std::chrono::microseconds(0))
                                   : std::chrono::microseconds(0);
      timeval tv{static_cast<long>(left.count() / 1000000),
                 static_cast<long>(left.count() % 1000000)};
      const int ready = select(0, nullptr, &written, &failed, &tv);
      for (std::size_t k = 0; k < count && ready != 0; ++k) {
        auto& [m, index] = all[first + k];
        SOCKET& s = m->pending[index];
        Attempt a = Attempt::Failed;  // the wait failed: what it came to is unknown
        if (ready > 0) {
          if (!FD_ISSET(s, &written) && !FD_ISSET(s, &failed)) continue;
          int error = 0;
          int size = sizeof error;
          if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
            error = WSAGetLastError();
          a = FromError(error);
          if (a == Attempt::Pending) continue;
        }
        CloseAtOnce(s);
        s = INVALID_SOCKET;
        --sockets_;
        m->Note(a);
      }
    }
    for (Machine& m : machines_) std::erase(m.pending, INVALID_SOCKET);
    Settle(std::chrono::steady_clock::now(), settled);
  }

 private:
  struct Machine {
    std::size_t tag = 0;
    std::chrono::steady_clock::time_point end;
    std::vector<SOCKET> pending;
    bool answered = false;
    bool unreached = false;
    bool failed = false;
    void Note(Attempt a) {
      answered = answered || a == Attempt::Answered;
      unreached = unreached || a == Attempt::Unreached;
      failed = failed || a == Attempt::Failed;
    }
  };

  // Moves the machines that are decided to settled: one that answered, one
  // with no attempt left, one whose wait is over (its pending attempts were
  // not answered in time).
  void Settle(std::chrono::steady_clock::time_point now, std::vector<Verdict>& settled) {
    std::erase_if(machines_, [&](Machine& m) {
      if (!m.answered && !m.pending.empty() && now < m.end) return false;
      if (!m.answered && !m.pending.empty()) m.unreached = true;
      for (SOCKET s : m.pending) CloseAtOnce(s);
      sockets_ -= m.pending.size();
      MachineReach reach = MachineReach::Unknown;
      if (m.answered)
        reach = MachineReach::Answers;
      else if (m.unreached && !m.failed)
        reach = MachineReach::Silent;
      settled.emplace_back(m.tag, reach);
      return true;
    });
  }

  std::vector<std::uint16_t> ports_;
  std::chrono::milliseconds wait_;
  std::vector<Machine> machines_;
  std::size_t sockets_ = 0;
};

std::u16string Bare(const std::u16string& name) {
  return std::u16string(WithoutBackslashes(name));
}

std::u16string UpperKey(std::u16string host) {
  for (char16_t& c : host)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return host;
}

MachineReach ProbeOn(const std::u16string& host, std::span<const std::uint16_t> ports,
                     std::chrono::milliseconds wait) {
  if (host.empty() || !WinsockReady()) return MachineReach::Unknown;
  const LookupHandle lookup(NameLookup::Start(host));
  if (!lookup) return MachineReach::Unknown;
  WaitForSingleObject(lookup->Finished(), INFINITE);
  std::vector<Address> addresses;
  const Found found = lookup->Take(addresses);
  if (found == Found::NoAddress) return MachineReach::NoAddress;
  if (found == Found::Nothing) return MachineReach::Unknown;
  Attempts attempts(ports, wait);
  std::vector<Attempts::Verdict> settled;
  attempts.Start(0, addresses, settled);
  while (settled.empty()) attempts.Wait(wait, settled);
  return settled.front().second;
}

}  // namespace

bool HasAddress(const std::u16string& host) {
  if (!WinsockReady()) return true;
  ADDRINFOW hints{};
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* list = nullptr;
  const bool found =
      GetAddrInfoW(reinterpret_cast<const wchar_t*>(host.c_str()), nullptr, &hints, &list) == 0;
  if (list != nullptr) FreeAddrInfoW(list);
  return found;
}

MachineReach ProbeMachine(const std::u16string& host, std::initializer_list<std::uint16_t> ports,
                          std::chrono::milliseconds wait) {
  return ProbeOn(host, std::span(ports.begin(), ports.size()), wait);
}

// One look-ahead over a scan's machines, on a thread of its own: names are
// looked up one at a time, in list order, and each machine's attempts start
// once its name is found, as many machines at a time as kMaxSockets allow.
// A machine found silent is probed again, by the same name, once half the
// time its verdict is kept is over, while the scan has not come to it: the
// thread stays while there are such machines ahead of the scan.
class LookAheadRun {
 public:
  LookAheadRun(SilentMachines& owner, const std::vector<std::u16string>& machines)
      : owner_(owner),
        stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        advanced_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    names_.reserve(machines.size());
    keys_.reserve(machines.size());
    for (const std::u16string& machine : machines) {
      names_.push_back(Bare(machine));
      keys_.push_back(UpperKey(names_.back()));
    }
  }
  ~LookAheadRun() {
    End();
    for (HANDLE h : {stop_, advanced_, thread_})
      if (h != nullptr) CloseHandle(h);
  }
  LookAheadRun(const LookAheadRun&) = delete;
  LookAheadRun& operator=(const LookAheadRun&) = delete;

  // Starts the thread; false when there is none to be had.
  bool Start() {
    if (stop_ == nullptr || advanced_ == nullptr) return false;
    thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &RunThread, this, 0, nullptr));
    return thread_ != nullptr;
  }

  // Ends the look-ahead and waits for its thread, which looks whether it is
  // to end at least every kSlice; a lookup of a name under way is left to
  // the resolver.
  void End() {
    if (thread_ != nullptr) {
      SetEvent(stop_);
      WaitForSingleObject(thread_, INFINITE);
    }
    Over();
  }

  bool Running() const {
    return thread_ != nullptr && WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT;
  }

  // The scan begins to ask the machine called key: it has come this far.
  // The machines it asks are looked for a little way from where it was
  // last seen.
  void Passed(const std::u16string& key) {
    std::lock_guard lock(mu_);
    const std::size_t place = ScanPlace(keys_, cursor_, key);
    if (place == cursor_) return;
    cursor_ = place;
    SetEvent(advanced_);
  }

  // Waits while the look-ahead is probing the machine called key: the scan
  // that comes to a machine under way takes the look-ahead's verdict rather
  // than wait for one of its own, which would come no sooner.
  void AwaitVerdict(const std::u16string& key) {
    std::unique_lock lock(mu_);
    changed_.wait(lock, [&] { return over_ || !UnderWay(key); });
  }

  // Waits until every machine of the list is taken (its name looked up,
  // and its verdict remembered or its ports being tried; or passed over),
  // or the look-ahead is over.
  void AwaitTaken() {
    std::unique_lock lock(mu_);
    changed_.wait(lock,
                  [&] { return over_ || (std::max(next_, cursor_) >= keys_.size() && !looking_); });
  }

 private:
  // Sockets in flight at most.
  static constexpr std::size_t kMaxSockets = 256;
  // The longest wait on attempts before the end is looked at.
  static constexpr std::chrono::milliseconds kSlice{50};

  static unsigned __stdcall RunThread(void* self) {
    auto* run = static_cast<LookAheadRun*>(self);
    try {
      run->Run();
    } catch (...) {
      // Out of memory, say: the scan probes its machines itself.
    }
    run->Over();
    return 0;
  }

  bool Ended() const { return WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0; }

  void Run() {
    if (!WinsockReady()) return;
    Attempts attempts(kSmbPorts, owner_.wait_);
    std::vector<Attempts::Verdict> settled;
    // The other names probed, each tagged keys_.size() and on: the name,
    // its key, and the place of the listed machine it reaches.
    struct OtherName {
      std::u16string name;
      std::u16string key;
      std::size_t listed;
    };
    std::vector<OtherName> others;
    auto keyOf = [&](std::size_t tag) -> const std::u16string& {
      return tag < keys_.size() ? keys_[tag] : others[tag - keys_.size()].key;
    };
    auto nameOf = [&](std::size_t tag) -> const std::u16string& {
      return tag < keys_.size() ? names_[tag] : others[tag - keys_.size()].name;
    };
    auto listedOf = [&](std::size_t tag) {
      return tag < keys_.size() ? tag : others[tag - keys_.size()].listed;
    };
    // The machines found silent, by tag, in the order found, with when.
    // Each is probed again (by the same name) once half the time its verdict
    // is kept is over, while the scan has not come to it: a scan slower than
    // the look-ahead still finds a recent verdict there, and a machine
    // switched on meanwhile is taken as on.
    std::deque<std::pair<std::size_t, std::chrono::steady_clock::time_point>> silent;
    const auto again = owner_.keep_ / 2;
    LookupHandle lookup;
    std::size_t looked = 0;  // the tag of the name being looked up
    auto remember = [&] {
      const auto now = std::chrono::steady_clock::now();
      for (const auto& [tag, reach] : settled) {
        owner_.Remember(keyOf(tag), reach);
        if (reach == MachineReach::Silent) silent.emplace_back(tag, now);
        Leave(keyOf(tag));
      }
      settled.clear();
    };
    // Whether another machine's lookup and attempts may begin.
    auto room = [&] {
      return !lookup && attempts.Sockets() + attempts.MostPerMachine() <= kMaxSockets;
    };
    while (!Ended()) {
      if (lookup && WaitForSingleObject(lookup->Finished(), 0) == WAIT_OBJECT_0) {
        std::vector<Address> addresses;
        const Found found = lookup->Take(addresses);
        lookup.reset();
        if (found == Found::Addresses) attempts.Start(looked, addresses, settled);
        if (found == Found::NoAddress) owner_.Remember(keyOf(looked), MachineReach::NoAddress);
        // A listed name without an address: its machine is looked up, and
        // probed, by the name that reaches it, in place of this one. No
        // attempt was started since this lookup began: there is room for
        // the machine's.
        std::u16string other;
        if (found == Found::NoAddress && looked < keys_.size() && owner_.otherName_)
          other = Bare(owner_.otherName_(names_[looked]));
        if (!other.empty() && TakeOther(keys_[looked], UpperKey(other))) {
          others.push_back({other, UpperKey(other), looked});
          looked = keys_.size() + others.size() - 1;
          lookup.reset(NameLookup::Start(other));
          if (!lookup) LookedUp(keyOf(looked), false);
        } else {
          LookedUp(keyOf(looked), found == Found::Addresses);
        }
        remember();
      }
      // The machines found silent whose time has come first, then the next
      // ones of the list.
      const auto now = std::chrono::steady_clock::now();
      const std::size_t passed = Cursor();
      std::erase_if(silent, [&](const auto& s) { return listedOf(s.first) < passed; });
      while (room() && !silent.empty() && now - silent.front().second >= again) {
        const std::size_t tag = silent.front().first;
        silent.pop_front();
        if (!TakeAgain(keyOf(tag), listedOf(tag))) continue;
        lookup.reset(NameLookup::Start(nameOf(tag)));
        looked = tag;
        if (!lookup) LookedUp(keyOf(tag), false);
      }
      std::size_t next = 0;
      while (room() && TakeNext(next)) {
        lookup.reset(NameLookup::Start(names_[next]));
        looked = next;
        if (!lookup) LookedUp(keys_[next], false);
      }
      if (!lookup && attempts.Idle() && silent.empty() && ThroughList()) return;
      if (lookup) {
        // For the lookup, the attempts under way looked at between.
        const HANDLE events[] = {stop_, lookup->Finished()};
        const DWORD ms = attempts.Idle() ? INFINITE : static_cast<DWORD>(kSlice.count());
        WaitForMultipleObjects(2, events, FALSE, ms);
        attempts.Wait(std::chrono::milliseconds(0), settled);
      } else if (!attempts.Idle()) {
        attempts.Wait(kSlice, settled);
      } else {
        // The look-ahead is as far ahead as it may be: for the scan, or
        // until the first machine found silent is to be probed again.
        DWORD ms = INFINITE;
        if (!silent.empty()) {
          const auto left = std::chrono::ceil<std::chrono::milliseconds>(
              silent.front().second + again - std::chrono::steady_clock::now());
          ms = static_cast<DWORD>(std::clamp<long long>(left.count(), 0, INFINITE - 1));
        }
        const HANDLE events[] = {stop_, advanced_};
        WaitForMultipleObjects(2, events, FALSE, ms);
      }
      remember();
    }
  }

  // The next machine to probe, into next, which is then under way: false
  // when there is none, or none while the look-ahead is as far ahead of the
  // scan as it may be. Machines the scan has passed are passed over, and
  // those remembered already, or under way under another entry.
  bool TakeNext(std::size_t& next) {
    std::lock_guard lock(mu_);
    next_ = std::max(next_, cursor_);
    for (; next_ < keys_.size() && next_ < cursor_ + Lead(); ++next_) {
      const std::u16string& key = keys_[next_];
      if (key.empty() || owner_.Knows(key) || UnderWay(key)) continue;
      underWay_.push_back(key);
      looking_ = true;
      next = next_++;
      changed_.notify_all();
      return true;
    }
    changed_.notify_all();
    return false;
  }

  // The machine of the list's place listed, found silent before by the
  // name whose key is key, is to be probed again by that name, which is
  // then under way (the scan that comes to it awaits the new verdict):
  // false when the scan has come to it, or it is under way already.
  bool TakeAgain(const std::u16string& key, std::size_t listed) {
    std::lock_guard lock(mu_);
    if (listed < cursor_ || UnderWay(key)) return false;
    underWay_.push_back(key);
    return true;
  }

  // How many machines of the list the scan has passed.
  std::size_t Cursor() {
    std::lock_guard lock(mu_);
    return cursor_;
  }

  // The name whose key is key is looked up; its machine stays under way
  // while its ports are being tried.
  void LookedUp(const std::u16string& key, bool tried) {
    std::lock_guard lock(mu_);
    looking_ = false;
    if (!tried) Unlist(key);
    changed_.notify_all();
  }

  // The name whose key is key had no address (remembered so); its machine
  // is to be looked up by the name whose key is otherKey, which is then
  // under way in its place, with no moment between when neither is: the
  // scan that finds key done goes on to otherKey. False when otherKey is
  // remembered already or under way.
  bool TakeOther(const std::u16string& key, const std::u16string& otherKey) {
    std::lock_guard lock(mu_);
    if (otherKey == key || owner_.Knows(otherKey) || UnderWay(otherKey)) return false;
    Unlist(key);
    underWay_.push_back(otherKey);
    changed_.notify_all();
    return true;
  }

  // The machine whose key is key is no longer under way (its verdict, if
  // any, is remembered).
  void Leave(const std::u16string& key) {
    std::lock_guard lock(mu_);
    Unlist(key);
    changed_.notify_all();
  }

  void Unlist(const std::u16string& key) {
    const auto it = std::find(underWay_.begin(), underWay_.end(), key);
    if (it != underWay_.end()) underWay_.erase(it);
  }

  void Over() {
    std::lock_guard lock(mu_);
    over_ = true;
    underWay_.clear();
    changed_.notify_all();
  }

  bool ThroughList() {
    std::lock_guard lock(mu_);
    return std::max(next_, cursor_) >= keys_.size();
  }

  bool UnderWay(const std::u16string& key) const {
    return std::find(underWay_.begin(), underWay_.end(), key) != underWay_.end();
  }

  // A verdict is remembered for a while only (a minute): one made long
  // before the scan comes to its machine would be forgotten by then, unless
  // it is made again (as a silent one is).
  std::size_t Lead() const {
    return LookAheadLead(cursor_, std::chrono::steady_clock::now() - started_);
  }

  SilentMachines& owner_;
  std::vector<std::u16string> names_;  // without backslashes
  std::vector<std::u16string> keys_;   // upper case
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  HANDLE stop_;
  HANDLE advanced_;  // set when the scan has come further
  HANDLE thread_ = nullptr;
  std::mutex mu_;
  std::condition_variable changed_;       // a machine done or taken, or the look-ahead over
  std::size_t cursor_ = 0;                // the machines before it the scan has passed
  std::size_t next_ = 0;                  // the machines before it the look-ahead has taken
  std::vector<std::u16string> underWay_;  // keys of the machines being probed
  bool looking_ = false;                  // a name is being looked up
  bool over_ = false;
};

SilentMachines::SilentMachines(std::chrono::milliseconds wait, OtherName otherName,
                               std::chrono::milliseconds keep)
    : wait_(wait),
      otherName_(std::move(otherName)),
      keep_(keep),
      silent_(keep),
      noAddress_(keep),
      answers_(keep) {}

SilentMachines::~SilentMachines() {
  LookAhead({});
}

MachineReach SilentMachines::Probe(const std::u16string& host) {
  const std::u16string key = UpperKey(host);
  std::shared_ptr<LookAheadRun> run;
  {
    std::lock_guard lock(runMu_);
    run = run_;
  }
  // A verdict that holds is taken while the machine is probed again.
  if (run && !Knows(key)) run->AwaitVerdict(key);
  if (silent_.Holds(key)) return MachineReach::Silent;
  if (noAddress_.Holds(key)) return MachineReach::NoAddress;
  if (answers_.Holds(key)) return MachineReach::Answers;
  ++probes_;
  const MachineReach reach = ProbeOn(host, kSmbPorts, wait_);
  Remember(key, reach);
  return reach;
}

void SilentMachines::ScanComesTo(const std::u16string& host) {
  std::shared_ptr<LookAheadRun> run;
  {
    std::lock_guard lock(runMu_);
    run = run_;
  }
  if (run) run->Passed(UpperKey(Bare(host)));
}

bool SilentMachines::HasAddress(const std::u16string& host) {
  const std::u16string key = UpperKey(host);
  if (noAddress_.Holds(key)) return false;
  if (quorvix::HasAddress(host)) return true;
  Remember(key, MachineReach::NoAddress);
  return false;
}

void SilentMachines::LookAhead(const std::vector<std::u16string>& machines) {
  std::lock_guard control(control_);
  std::shared_ptr<LookAheadRun> earlier;
  {
    std::lock_guard lock(runMu_);
    earlier = std::move(run_);
  }
  if (earlier) earlier->End();
  if (machines.empty()) return;
  std::shared_ptr<LookAheadRun> run;
  try {
    run = std::make_shared<LookAheadRun>(*this, machines);
  } catch (const std::bad_alloc&) {
    return;  // the scan probes its machines itself
  }
  if (!run->Start()) return;
  std::lock_guard lock(runMu_);
  run_ = std::move(run);
}

void SilentMachines::WaitForLookAhead() {
  std::shared_ptr<LookAheadRun> run;
  {
    std::lock_guard lock(runMu_);
    run = run_;
  }
  if (run) run->AwaitTaken();
}

bool SilentMachines::LookingAhead() {
  std::lock_guard lock(runMu_);
  return run_ && run_->Running();
}

void SilentMachines::Remember(const std::u16string& key, MachineReach reach) {
  if (reach == MachineReach::Unknown) return;
  // Probe asks the kinds in turn: an older verdict of another kind left
  // beside this one could be taken over it. The new one is kept first, so
  // that a Probe meanwhile finds one of them.
  RecentHosts<std::u16string>* kinds[] = {&silent_, &noAddress_, &answers_};
  RecentHosts<std::u16string>& kept = reach == MachineReach::Silent      ? silent_
                                      : reach == MachineReach::NoAddress ? noAddress_
                                                                         : answers_;
  kept.Remember(key);
  for (RecentHosts<std::u16string>* other : kinds)
    if (other != &kept) other->Forget(key);
}

bool SilentMachines::Knows(const std::u16string& key) {
  return silent_.Holds(key) || noAddress_.Holds(key) || answers_.Holds(key);
}

}  // namespace quorvix
