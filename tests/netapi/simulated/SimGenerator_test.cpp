#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "SimDomain.h"
#include "SimulatedNetApi.h"
#include "basStringHandler.h"

namespace quorvix::sim {
namespace {

bool SameDomain(const SimDomain& a, const SimDomain& b) {
  if (a.computerName != b.computerName || a.machines.size() != b.machines.size()) return false;
  for (std::size_t i = 0; i < a.machines.size(); ++i) {
    const SimMachine& x = a.machines[i];
    const SimMachine& y = b.machines[i];
    if (x.name != y.name || x.type != y.type || x.sessions.size() != y.sessions.size() ||
        x.users.size() != y.users.size())
      return false;
    for (std::size_t k = 0; k < x.sessions.size(); ++k)
      if (x.sessions[k].user != y.sessions[k].user) return false;
    for (std::size_t k = 0; k < x.users.size(); ++k)
      if (x.users[k].lastLogon != y.users[k].lastLogon) return false;
  }
  return true;
}

TEST(DomainGenerator, SeededDomainsOfTheAskedSize) {
  GeneratorOptions options;
  options.machines = 200;
  options.entriesPerMachine = 4;
  options.seed = 7;
  const SimDomain a = GenerateDomain(options);
  EXPECT_TRUE(SameDomain(a, GenerateDomain(options)));
  options.seed = 8;
  EXPECT_FALSE(SameDomain(a, GenerateDomain(options)));

  ASSERT_EQ(a.machines.size(), 200u);
  ASSERT_EQ(a.domains.size(), 1u);
  EXPECT_EQ(a.localDomain, a.domains[0].name);
  std::set<std::u16string> names;
  std::size_t pdcs = 0;
  for (const auto& m : a.machines) {
    names.insert(FoldName(m.name));
    EXPECT_EQ(m.sessions.size(), 4u);
    if (m.type & SV_TYPE_DOMAIN_CTRL) ++pdcs;
  }
  EXPECT_EQ(names.size(), 200u);  // no duplicates
  EXPECT_EQ(pdcs, 1u);
  EXPECT_TRUE(a.latencyMicros.empty());

  // The controller knows every user logged on anywhere, with a time in 2002.
  SimulatedNetApi api(a);
  std::size_t asked = 0;
  for (const auto& m : a.machines) {
    for (const auto& e : m.sessions) {
      LPBYTE buf = nullptr;
      ASSERT_EQ(api.NetUserGetInfo(e.logonServer.c_str(), e.user.c_str(), 2, &buf), NERR_Success)
          << ToUtf8(e.user);
      const DWORD t = reinterpret_cast<const USER_INFO_2*>(buf)->usri2_last_logon;
      EXPECT_GE(t, 1009843200u);
      EXPECT_LT(t, 1041379200u);
      api.NetApiBufferFree(buf);
      ++asked;
    }
  }
  EXPECT_EQ(asked, 800u);

  // The generated text survives the same checks as a domain file: every
  // machine listed under the controller's domain.
  LPBYTE buf = nullptr;
  DWORD read = 0, total = 0;
  ASSERT_EQ(api.NetServerEnum(nullptr, 101, &buf, MAX_PREFERRED_LENGTH, &read, &total, SV_TYPE_ALL,
                              nullptr, nullptr),
            NERR_Success);
  EXPECT_EQ(read, 200u);
  api.NetApiBufferFree(buf);

  options.latencyMicros = 250;
  options.machines = 0;
  const SimDomain tiny = GenerateDomain(options);
  EXPECT_EQ(tiny.machines.size(), 1u);
  EXPECT_EQ(tiny.latencyMicros.at("*"), 250u);
}

TEST(DomainGenerator, SharesOfDeadMachinesArePickedBySeed) {
  GeneratorOptions o;
  o.machines = 202;
  o.unreachableShare = 0.1;
  o.unreachableMicros = 7;
  o.silentShare = 0.02;
  o.silentMicros = 9;
  auto dead = [](const SimDomain& d) {
    std::vector<std::size_t> off, silent;
    for (std::size_t i = 0; i < d.machines.size(); ++i) {
      if (d.machines[i].unreachableStatus) off.push_back(i);
      if (d.machines[i].silentMicros == 9) silent.push_back(i);
    }
    return std::make_pair(off, silent);
  };
  const SimDomain a = GenerateDomain(o);
  const auto [off, silent] = dead(a);
  EXPECT_EQ(off.size(), 20u);
  EXPECT_EQ(silent.size(), 4u);
  for (std::size_t i : off) {  // never the controller or the local machine
    EXPECT_GT(i, 0u);
    EXPECT_NE(a.machines[i].name, a.computerName);
  }
  for (std::size_t i : silent) EXPECT_NE(a.machines[i].name, a.computerName);
  EXPECT_EQ(*a.machines[off[0]].unreachableStatus, ERROR_BAD_NETPATH);
  EXPECT_EQ(dead(GenerateDomain(o)), dead(a));  // the same seed, the same machines
  o.seed = 2;
  EXPECT_NE(dead(GenerateDomain(o)).first, off);
}

TEST(SimulatedNetApi, CallsFromSeveralThreads) {
  GeneratorOptions options;
  options.machines = 50;
  options.entriesPerMachine = 6;
  SimulatedNetApi api(GenerateDomain(options));
  std::vector<std::u16string> machines;
  for (const auto& m : api.Domain().machines) machines.push_back(m.name);

  std::atomic<std::size_t> entries{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (const auto& name : machines) {
        DWORD resume = 0;
        NET_API_STATUS st;
        do {
          LPBYTE buf = nullptr;
          DWORD read = 0, total = 0;
          st = api.NetWkstaUserEnum(name.c_str(), 1, &buf, 128, &read, &total, &resume);
          entries += read;
          if (api.NetApiBufferFree(buf) != NERR_Success) ++failures;
        } while (st == ERROR_MORE_DATA);
        if (st != NERR_Success) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(entries.load(), 4u * 50u * 6u);
  EXPECT_EQ(api.OutstandingBuffers(), 0u);
  EXPECT_EQ(api.RefusedFrees(), 0u);
}

}  // namespace
}  // namespace quorvix::sim
