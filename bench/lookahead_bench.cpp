// The look ahead at machines that take no connection: how long it takes to
// find a few hundred switched-off machines (listeners on loopback whose full
// backlog drops every further attempt, as an off machine or a dropping
// firewall does). Each such machine asked by the scan itself holds one of
// the machines asked at once for 7 s.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "LookAhead.h"

namespace {

void BM_FindSwitchedOffMachines(benchmark::State& state) {
  const int machines = static_cast<int>(state.range(0));
  std::vector<int> fds;
  std::vector<std::string> hosts;
  uint16_t port = 0;
  for (int i = 0; i < machines; ++i) {
    const std::string address = "127.0.1." + std::to_string(i + 1);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &at.sin_addr);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    fds.push_back(fd);
    if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(fd, 0) != 0) {
      state.SkipWithError("no listener");
      break;
    }
    socklen_t len = sizeof at;
    getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len);
    port = ntohs(at.sin_port);
    for (int k = 0; k < 2; ++k) {  // a backlog of 0 holds one: then SYNs are dropped
      fds.push_back(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
      connect(fds.back(), reinterpret_cast<sockaddr*>(&at), sizeof at);
    }
    hosts.push_back(address);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::size_t found = 0;
  for (auto _ : state) {
    quorvix::samba::LookAhead look({}, {.ports = {std::to_string(port)}, .addressesOf = {}});
    look.Start(hosts);
    while (!look.Over()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    found = 0;
    for (const std::string& h : hosts) found += look.FoundUnreachable(h) ? 1 : 0;
  }
  for (int fd : fds) close(fd);
  state.counters["machines"] = machines;
  state.counters["found_off"] = static_cast<double>(found);
  // What the scan's own connections would wait on them, 16 machines at a time.
  state.counters["asked_16_at_once_s"] = machines * 7.0 / 16;
}
BENCHMARK(BM_FindSwitchedOffMachines)
    ->Arg(250)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
