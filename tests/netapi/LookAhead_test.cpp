// The look ahead at machines that take no connection, on loopback.
#include "LookAhead.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace quorvix::samba {
namespace {

// A socket bound to address and port (0: any), listening with backlog
// unless it is negative; closed at the end of the test.
struct Bound {
  Bound(const char* address, uint16_t wanted, int backlog) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(wanted);
    inet_pton(AF_INET, address, &at.sin_addr);
    socklen_t len = sizeof at;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
        (backlog < 0 || listen(fd, backlog) == 0) &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len) == 0)
      port = ntohs(at.sin_port);
  }
  ~Bound() { close(fd); }
  Bound(const Bound&) = delete;
  Bound& operator=(const Bound&) = delete;

  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  uint16_t port = 0;  // 0: not bound
};

// Waits (up to 30 s) until the look is over.
bool Over(const LookAhead& look) {
  for (int i = 0; i < 300 && !look.Over(); ++i) usleep(100000);
  return look.Over();
}

// A look that tries machines on port alone.
LookAhead::Settings OnPort(uint16_t port) {
  LookAhead::Settings settings;
  settings.ports = {std::to_string(port)};
  return settings;
}

// A look ahead finds the machines that take no connection (a full backlog
// drops further attempts, as a switched-off machine does, and a closed port
// refuses them), and only those: not one that takes it, nor a name without
// an address (unless another name reaches it). A new look forgets what the
// last one found.
TEST(SambaLookAhead, FindsOnlyMachinesThatTakeNoConnection) {
  const Bound open("127.0.0.211", 0, 16);
  const uint16_t port = open.port;
  ASSERT_NE(port, 0);
  const Bound full("127.0.0.212", port, 0);
  ASSERT_EQ(full.port, port);
  std::vector<int> fds;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.212", &to.sin_addr);
  for (int i = 0; i < 2; ++i) {  // a backlog of 0 holds one: then SYNs are dropped
    fds.push_back(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    connect(fds.back(), reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  usleep(200000);

  LookAhead look(
      [](const std::string& host) { return host == "pc-without-address" ? "127.0.0.213" : ""; },
      OnPort(port));
  look.Start({"127.0.0.211", "127.0.0.212", "127.0.0.213", "no-such-machine.invalid",
              "pc-without-address"});
  ASSERT_TRUE(Over(look));
  EXPECT_FALSE(look.FoundUnreachable("127.0.0.211"));
  EXPECT_TRUE(look.FoundUnreachable("127.0.0.212"));
  EXPECT_TRUE(look.FoundUnreachable("127.0.0.213"));
  EXPECT_FALSE(look.FoundUnreachable("no-such-machine.invalid"));
  EXPECT_TRUE(look.FoundUnreachable("PC-without-address"));  // by the name that reaches it

  look.Start({"LocalHost"});  // nothing listens on 127.0.0.1's port
  ASSERT_TRUE(Over(look));
  EXPECT_FALSE(look.FoundUnreachable("127.0.0.212"));
  EXPECT_TRUE(look.FoundUnreachable("localhost"));
  look.Start({});
  EXPECT_FALSE(look.FoundUnreachable("localhost"));
  for (int fd : fds) close(fd);
}

// A machine is judged on every address it has: the first failing at once
// (a group address, which no network takes a connection at) does not make
// one that takes the connection at its second address unreachable.
TEST(SambaLookAhead, JudgesAMachineOnlyOnceEveryAddressIsTried) {
  const Bound listening("127.0.0.214", 0, 16);
  ASSERT_NE(listening.port, 0);

  LookAhead::Settings settings = OnPort(listening.port);
  settings.addressesOf = [](const std::string&) {
    return std::pair<std::vector<std::string>, std::vector<std::string>>{
        {"224.0.0.1", "127.0.0.214"}, {}};
  };
  LookAhead look({}, settings);
  look.Start({"two-addresses"});
  ASSERT_TRUE(Over(look));
  EXPECT_FALSE(look.FoundUnreachable("two-addresses"));
}

// What a look found holds for its time only: a machine found unreachable a
// while ago may have been switched on since. One the scan has come to (asked
// again later as a logon server, say) is then asked.
TEST(SambaLookAhead, ForgetsWhatItFoundOnceItsTimeIsOver) {
  const Bound closed("127.0.0.215", 0, -1);  // bound, not listening
  ASSERT_NE(closed.port, 0);

  LookAhead keeps({}, OnPort(closed.port));
  LookAhead::Settings briefly = OnPort(closed.port);
  briefly.kept = std::chrono::milliseconds(100);
  LookAhead forgets({}, briefly);
  keeps.Start({"127.0.0.215"});
  forgets.Start({"127.0.0.215"});
  ASSERT_TRUE(Over(keeps) && Over(forgets));
  forgets.ScanComesTo("127.0.0.215");
  usleep(300000);
  EXPECT_TRUE(keeps.FoundUnreachable("127.0.0.215"));
  EXPECT_FALSE(forgets.FoundUnreachable("127.0.0.215"));
}

// Machines the scan has not come to are looked at again while their finding
// holds: a scan slower than the look still finds a recent finding there, and
// a machine switched on meanwhile is no longer taken for off. A machine
// asked as a logon server is not where the scan has come.
TEST(SambaLookAhead, FindsAgainWhatTheScanHasNotComeTo) {
  Bound switchedOn("127.0.0.218", 0, -1);  // bound, not listening yet
  ASSERT_NE(switchedOn.port, 0);
  const Bound off("127.0.0.219", switchedOn.port, -1);
  ASSERT_EQ(off.port, switchedOn.port);

  LookAhead::Settings settings = OnPort(off.port);
  settings.kept = std::chrono::seconds(4);  // found again after 2 s
  LookAhead look({}, settings);
  look.Start({"127.0.0.218", "127.0.0.219"});
  ASSERT_TRUE(Over(look));
  EXPECT_TRUE(look.FoundUnreachable("127.0.0.219"));  // asked as a logon server
  ASSERT_EQ(listen(switchedOn.fd, 16), 0);
  sleep(3);  // its first finding still holds; the second says it takes connections
  EXPECT_FALSE(look.FoundUnreachable("127.0.0.218"));
  sleep(2);  // the other's first finding is over; a second one holds
  EXPECT_TRUE(look.FoundUnreachable("127.0.0.219"));
}

// A look keeps a few hundred machines ahead of the scan, and goes on as
// the scan comes further: here to the last of 300 machines, once the scan
// has come to the 101st.
TEST(SambaLookAhead, GoesOnAsTheScanComesFurther) {
  const Bound closed("127.0.0.216", 0, -1);  // its port: nothing listens
  ASSERT_NE(closed.port, 0);
  std::vector<std::string> hosts;
  for (int i = 0; i < 300; ++i)
    hosts.push_back("127.0." + std::to_string(2 + i / 250) + "." + std::to_string(1 + i % 250));

  LookAhead look({}, OnPort(closed.port));
  look.Start(hosts);
  look.ScanComesTo(hosts[100]);
  ASSERT_TRUE(Over(look));
  EXPECT_TRUE(look.FoundUnreachable(hosts[299]));
}

// Names are looked up many at once: a lookup that takes long (no DNS server
// answers) holds the others up no more than its own machine. Here each
// lookup waits until four are under way.
TEST(SambaLookAhead, LooksUpManyNamesAtOnce) {
  const Bound closed("127.0.0.220", 0, -1);  // its port: nothing listens
  ASSERT_NE(closed.port, 0);
  // Shared with the lookups, which may outlive a failed test.
  struct Counts {
    std::mutex mu;
    std::condition_variable changed;
    int under = 0, most = 0;
  };
  const auto counts = std::make_shared<Counts>();
  LookAhead::Settings settings = OnPort(closed.port);
  settings.addressesOf = [counts](const std::string&) {
    std::unique_lock lock(counts->mu);
    counts->most = std::max(counts->most, ++counts->under);
    counts->changed.notify_all();
    counts->changed.wait_for(lock, std::chrono::seconds(5), [&] { return counts->most >= 4; });
    --counts->under;
    return std::pair<std::vector<std::string>, std::vector<std::string>>{{"127.0.0.220"}, {}};
  };
  LookAhead look({}, settings);
  const std::vector<std::string> hosts = {"slow-1", "slow-2", "slow-3", "slow-4"};
  look.Start(hosts);
  ASSERT_TRUE(Over(look));
  EXPECT_GE(counts->most, 4);
  for (const auto& host : hosts) EXPECT_TRUE(look.FoundUnreachable(host)) << host;
}

// No memory on the look's thread ends the look (the scan asks the machines
// itself), not the program.
TEST(SambaLookAhead, NoMemoryEndsTheLookOnly) {
  LookAhead::Settings settings;
  settings.addressesOf =
      [](const std::string&) -> std::pair<std::vector<std::string>, std::vector<std::string>> {
    throw std::bad_alloc();
  };
  LookAhead look({}, settings);
  look.Start({"127.0.0.217"});
  EXPECT_TRUE(Over(look));
  EXPECT_FALSE(look.FoundUnreachable("127.0.0.217"));
}

}  // namespace
}  // namespace quorvix::samba
