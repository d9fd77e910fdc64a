#include <gtest/gtest.h>

#include "env/TextConv.h"
#include "service/ServiceConfig.h"
#include "service/ServiceInstall.h"
#include "support/ScopedConfig.h"

namespace pelto {
namespace {

using W = std::vector<std::u16string>;

TEST(InstallOptions, ValuesFollowTheirOptionAndTheRestIsLeftForTheStart) {
  struct Case {
    W words;
    std::u16string account, start, display;
    W rest;
    std::string error;  // the start of the refusal; empty: accepted
  } cases[] = {
      {{u"--display-name", u"D x", u"--account", u"virtual", u"--start", u"auto"},
       u"virtual",
       u"auto",
       u"D x",
       {},
       ""},
      {{u"--start", u"auto", u"a", u"--b"}, u"", u"auto", u"", {u"a", u"--b"}, ""},
      {{u"--", u"--account", u"x"}, u"", u"", u"", {u"--account", u"x"}, ""},
      {{u"--acount", u"x"}, u"", u"", u"", {}, "Unknown option \"--acount\""},
      {{u"--account"}, u"", u"", u"", {}, "The option --account needs a value."},
      {{u"--account", u"--start", u"auto"}, u"", u"", u"", {}, "The option --account needs a value."},
      {{u"--display-name", u""}, u"", u"", u"", {}, "The option --display-name needs a value."},
  };
  for (const Case& c : cases) {
    InstallOptions o;
    std::u16string error;
    const std::string what = utf16ToUtf8(c.words.front());
    EXPECT_EQ(parseInstallOptions(c.words, o, error), c.error.empty()) << what;
    EXPECT_EQ(utf16ToUtf8(error).substr(0, c.error.size()), c.error) << what;
    if (!c.error.empty()) continue;
    EXPECT_EQ(o.account, c.account) << what;
    EXPECT_EQ(o.start, c.start) << what;
    EXPECT_EQ(o.displayName, c.display) << what;
    EXPECT_EQ(o.rest, c.rest) << what;
  }
}

// Options win over the verb's own start type, which wins over the packed values.
TEST(InstallPlan, OptionsOverVerbOverPackedValues) {
  const StartChoice demand{DemandStart, false};
  struct Case {
    std::string packedStart, packedAccount;
    std::u16string packedDisplay;
    InstallOptions options;
    const StartChoice* verb;
    long executableType;
    std::uint32_t start;
    bool delayed;
    std::u16string display, objectName;
    bool named;
    std::string error;
  } cases[] = {
      {"", "", u"", {}, nullptr, 4, AutoStart, false, u"Svc", u"", false, ""},
      {"", "", u"", {}, nullptr, 0, DemandStart, false, u"Svc", u"", false, ""},
      {"delayed-auto",
       "NetworkService",
       u"Packed D",
       {},
       nullptr,
       0,
       AutoStart,
       true,
       u"Packed D",
       u"NT AUTHORITY\\NetworkService",
       false,
       ""},
      {"delayed-auto", "", u"", {}, &demand, 4, DemandStart, false, u"Svc", u"", false, ""},
      {"auto",
       "LocalSystem",
       u"Packed D",
       {u"CORP\\bob", u"disabled", u"Opt D", {}},
       &demand,
       4,
       DisabledStart,
       false,
       u"Opt D",
       u"CORP\\bob",
       true,
       ""},
      {"",
       "NetworkService",
       u"",
       {u"virtual", u"", u"", {}},
       nullptr,
       0,
       DemandStart,
       false,
       u"Svc",
       u"NT SERVICE\\Svc",
       false,
       ""},
      {"",
       "localservice",
       u"",
       {},
       nullptr,
       0,
       DemandStart,
       false,
       u"Svc",
       u"NT AUTHORITY\\localservice",
       false,
       ""},
      {"",
       "bob@corp.example",
       u"",
       {},
       nullptr,
       0,
       DemandStart,
       false,
       u"Svc",
       u"bob@corp.example",
       true,
       ""},
      {"", "bob", u"", {}, nullptr, 0, 0, false, u"", u"", false, "Unknown account \"bob\""},
      {"sometimes",
       "",
       u"",
       {},
       nullptr,
       0,
       0,
       false,
       u"",
       u"",
       false,
       "The packed start type \"sometimes\""},
      {"",
       "",
       u"",
       {u"", u"Auto", u"", {}},
       &demand,
       0,
       0,
       false,
       u"",
       u"",
       false,
       "Unknown start type \"Auto\""},
  };
  for (const Case& c : cases) {
    test::ScopedConfig config;
    config.set(ServiceStartId, c.packedStart);
    config.set(ServiceAccountId, c.packedAccount);
    config.set(ServicePasswordEnvId, "SVC_PW");
    config.set(107, std::to_string(c.executableType));
    LauncherConfig.wide[ServiceDisplayNameId] = c.packedDisplay;
    InstallPlan plan;
    std::u16string error;
    const std::string what = c.packedStart + "/" + c.packedAccount + "/" + utf16ToUtf8(c.options.account);
    ASSERT_EQ(planInstall(c.options, c.verb, u"Svc", plan, error), c.error.empty()) << what;
    EXPECT_EQ(utf16ToUtf8(error).substr(0, c.error.size()), c.error) << what;
    if (!c.error.empty()) continue;
    EXPECT_EQ(plan.start.type, c.start) << what;
    EXPECT_EQ(plan.start.delayed, c.delayed) << what;
    EXPECT_EQ(plan.displayName, c.display) << what;
    EXPECT_EQ(plan.account.objectName, c.objectName) << what;
    EXPECT_EQ(plan.account.named, c.named) << what;
    EXPECT_EQ(plan.passwordVariable, c.named ? u"SVC_PW" : u"") << what;
  }
}

// The failure actions the manager is given and the log line that reports them.
TEST(InstallPlan, RestartDelaysBecomeFailureActions) {
  const std::string seventeen = "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17";
  struct Case {
    std::string delays, reset;
    std::vector<std::uint32_t> actions;
    std::uint32_t resetPeriod;
    std::string text;  // the description, or the start of the refusal
  } cases[] = {
      {"", "60", {}, DefaultResetSeconds, ""},
      {"10000,60000,300000",
       "",
       {10000, 60000, 300000},
       86400,
       "restart after 10000 ms, 60000 ms, 300000 ms (the last repeats); failure count reset after 86400 s"},
      {"0,4294967295",
       "0",
       {0, 4294967295u},
       0,
       "restart after 0 ms, 4294967295 ms (the last repeats); failure count reset after 0 s"},
      {seventeen.substr(0, seventeen.size() - 3),
       "1",
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
       1,
       "restart after 1 ms, 2 ms"},
      {seventeen, "", {}, 0, "The packed restart delays"},
      {"4294967296", "", {}, 0, "The packed restart delays"},
      {"10000,,20000", "", {}, 0, "The packed restart delays"},
      {"10000,", "", {}, 0, "The packed restart delays"},
      {" 10000", "", {}, 0, "The packed restart delays"},
      {"10000", "-1", {}, 0, "The packed failure count reset period \"-1\""},
  };
  for (const Case& c : cases) {
    FailureActionsPlan plan;
    std::u16string error;
    const bool accepted = planFailureActions(c.delays, c.reset, plan, error);
    EXPECT_EQ(accepted, !c.actions.empty() || c.delays.empty()) << c.delays;
    std::vector<std::uint32_t> delays;
    for (const FailureAction& a : plan.actions) {
      EXPECT_EQ(a.type, RestartAction);
      delays.push_back(a.delayMs);
    }
    EXPECT_EQ(delays, c.actions) << c.delays;
    if (!accepted) {
      EXPECT_EQ(utf16ToUtf8(error).substr(0, c.text.size()), c.text) << c.delays;
    } else if (!plan.actions.empty()) {
      EXPECT_EQ(plan.resetPeriod, c.resetPeriod) << c.delays;
      EXPECT_EQ(utf16ToUtf8(describeFailureActions(plan)).substr(0, c.text.size()), c.text) << c.delays;
    }
  }
}

TEST(InstallAccount, LogonRightAndLookupName) {
  EXPECT_TRUE(lacksServiceLogonRight(W{}));
  EXPECT_TRUE(lacksServiceLogonRight(W{u"SeBatchLogonRight", u"SeDenyServiceLogonRight"}));
  EXPECT_FALSE(lacksServiceLogonRight(W{u"SeBatchLogonRight", u"seservicelogonright"}));
  EXPECT_EQ(accountLookupName(u".\\bob", u"HOST"), u"HOST\\bob");
  EXPECT_EQ(accountLookupName(u"CORP\\bob", u"HOST"), u"CORP\\bob");
}

}  // namespace
}  // namespace pelto
