#include "ProviderFactory.h"

#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <algorithm>

#include "SimDomain.h"
#include "basStringHandler.h"

namespace quorvix {
namespace {

std::u16string LocalComputer(NetApi& api) {
  NetBuffer buf(api);
  if (api.NetWkstaGetInfo(nullptr, 100, buf.out()) != NERR_Success) return u"<failed>";
  return buf.record<WKSTA_INFO_100>().wki100_computername;
}

TEST(ProviderFactory, GivesTheDemoDomainOrAFile) {
  ProviderOptions options;
  if (!HasNativeProvider()) {  // the demo domain stands in for a native provider
    Provider demo = MakeProvider(options);
    ASSERT_NE(demo.api, nullptr);
    EXPECT_TRUE(demo.simulated);
    EXPECT_FALSE(demo.note.empty());  // not asked for: the user is told
    EXPECT_EQ(LocalComputer(*demo.api), sim::DemoDomain().computerName);
  }

  CLI::App app;
  AddProviderOptions(app, options);
  const std::string file = std::string(QUORVIX_TEST_DATA_DIR) + "/domain-small.json";
  std::vector<std::string> args = {"--simulate=" + file};
  std::reverse(args.begin(), args.end());
  app.parse(args);
  EXPECT_TRUE(options.simulate);
  EXPECT_EQ(options.simulateFile, file);
  Provider fromFile = MakeProvider(options);
  EXPECT_TRUE(fromFile.note.empty());
  EXPECT_EQ(LocalComputer(*fromFile.api), u"WS-01");

  options.simulateFile = std::string(QUORVIX_TEST_DATA_DIR) + "/no-such-file.json";
  EXPECT_THROW(MakeProvider(options), sim::DomainFileError);
}

TEST(ProviderFactory, RefusesWhatWouldBeReadOtherwiseThanMeant) {
  auto parse = [](std::vector<std::string> args, ProviderOptions& options) {
    CLI::App app;
    AddProviderOptions(app, options);
    std::reverse(args.begin(), args.end());
    app.parse(args);
  };
  ProviderOptions o;
  EXPECT_THROW(parse({"--host-timeout", "nan"}, o), CLI::ValidationError);
  // Too short for a double, it would read as 0: no limit at all.
  EXPECT_THROW(parse({"--host-timeout", "1e-400"}, o), CLI::ValidationError);
  EXPECT_THROW(parse({"--simulate", "--simulate=other.json"}, o), CLI::ArgumentMismatch);
  {
    CLI::App app;
    AddProviderOptions(app, o);
    const char* const emptyFile[] = {"program", "--simulate="};
    EXPECT_THROW(ParseCommandLine(app, 2, emptyFile), CLI::ValidationError);
  }
  // A limit however short stays a limit; zero is none.
  parse({"--host-timeout", "0.0001"}, o);
  EXPECT_EQ(o.hostTimeout.count(), 1);
  parse({"--host-timeout", "2.5"}, o);
  EXPECT_EQ(o.hostTimeout.count(), 2500);
  parse({"--host-timeout", "0"}, o);
  EXPECT_EQ(o.hostTimeout.count(), 0);

  // A controller or its certificate authority with simulated data is a
  // mistake in the command, as credentials are.
  ProviderOptions sim;
  sim.simulate = true;
  sim.dc = "dc1.example.com";
  EXPECT_THROW(MakeProvider(sim), std::runtime_error);

  // An account is DOMAIN\NAME, never NAME@REALM, on both systems.
  if (HasNativeProvider()) {
    for (const char* user : {"alice", "\\alice", "HQ\\", "alice@HQ.EXAMPLE", "HQ\\alice@HQ"}) {
      ProviderOptions named;
      named.user = user;
      named.passwordFile = "no-such-file";
      try {
        MakeProvider(named);
        ADD_FAILURE() << user << " was taken";
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("--user takes DOMAIN\\NAME", 0), 0u) << e.what();
      }
    }
  }
}

}  // namespace
}  // namespace quorvix
