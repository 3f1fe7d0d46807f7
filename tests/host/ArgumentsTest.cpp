// The command line: what is accepted, and that everything else gives the usage and exit status 2.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "host/Arguments.h"
#include "host/Commands.h"

namespace kx7host {
namespace {

TEST(HostArguments, AcceptsEachCommandWithItsOptions) {
  ParsedArguments parsed = ParseArguments({"register", "NORVA-KX-7-ASIO-x64.dll"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.command.kind, CommandKind::kRegister);
  EXPECT_EQ(parsed.command.library, "NORVA-KX-7-ASIO-x64.dll");

  parsed = ParseArguments({"unregister", "lib.so"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.command.kind, CommandKind::kUnregister);

  parsed = ParseArguments({"list"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.command.kind, CommandKind::kList);

  parsed = ParseArguments({"probe"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.command.kind, CommandKind::kProbe);
  EXPECT_EQ(parsed.command.driverName, "");
  EXPECT_FALSE(parsed.command.json);

  parsed = ParseArguments({"probe", "--json", "--driver", "NORVA KX-7 ASIO Driver"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_TRUE(parsed.command.json);
  EXPECT_EQ(parsed.command.driverName, "NORVA KX-7 ASIO Driver");

  parsed = ParseArguments({"probe", "--driver=Other Driver"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.command.driverName, "Other Driver");
}

TEST(HostArguments, BadArgumentsGiveTheUsageAndExitStatus2) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"register"},
      {"register", ""},
      {"unregister", "a.so", "b.so"},
      {"list", "--json"},
      {"probe", "--driver"},
      {"probe", "--driver="},
      {"probe", "--driver", "A", "--driver", "B"},
      {"probe", "--jsn"},
      {"probe", "extra"},
      {"help", "me"},
      {"--json", "probe"},
  };
  for (const std::vector<std::string>& args : bad) {
    std::string joined;
    for (const std::string& arg : args) joined += "[" + arg + "]";
    EXPECT_FALSE(ParseArguments(args).ok) << joined;

    std::ostringstream out, err;
    EXPECT_EQ(RunHost(args, out, err), kExitUsage) << joined;
    EXPECT_EQ(out.str(), "") << joined;
    EXPECT_NE(err.str().find("usage: kx7-host"), std::string::npos) << joined;
    // The first line says what was wrong before the usage follows.
    EXPECT_EQ(err.str().rfind("kx7-host: ", 0), 0u) << joined << err.str();
  }
}

TEST(HostArguments, HelpPrintsTheUsageAndSucceeds) {
  for (const char* help : {"help", "--help", "-h"}) {
    std::ostringstream out, err;
    EXPECT_EQ(RunHost({help}, out, err), kExitOk);
    EXPECT_EQ(out.str(), UsageText());
    EXPECT_EQ(err.str(), "");
  }
}

}  // namespace
}  // namespace kx7host
