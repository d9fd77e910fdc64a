#include <gtest/gtest.h>

#include "env/TextConv.h"
#include "launcher/CommandLine.h"
#include "launcher/ConfigIds.h"
#include "service/ServiceInstall.h"
#include "support/ScopedConfig.h"

namespace pelto {
namespace {

using W = std::vector<std::u16string>;

// The words after the service name and the packed values give the plan the service is created
// with, summed up as "start type[d for delayed]|display name|account[ named]" and the words
// left for the start; or the start of the refusal.
TEST(InstallPlan, OptionsWinOverTheVerbWhichWinsOverThePackedValues) {
  const StartChoice demand{DemandStart, false};
  struct Case {
    std::u16string words;
    const char *start, *account;
    const char16_t* display;
    const StartChoice* verb;
    long executableType;
    std::string expected;
  } cases[] = {
      {u"", "", "", u"", nullptr, 4, "2|Svc|"},
      {u"", "", "", u"", nullptr, 0, "3|Svc|"},
      {u"", "delayed-auto", "NetworkService", u"P D", nullptr, 0, "2d|P D|NT AUTHORITY\\NetworkService"},
      {u"", "delayed-auto", "localservice", u"", &demand, 4, "3|Svc|NT AUTHORITY\\LocalService"},
      {u"--account CORP\\bob --start disabled --display-name \"O D\"", "auto", "LocalSystem", u"P D", &demand,
       4, "4|O D|CORP\\bob named"},
      {u"--account virtual a --b", "", "NetworkService", u"", nullptr, 0, "3|Svc|NT SERVICE\\Svc +a +--b"},
      {u"-- --account x", "", "bob@corp.example", u"", nullptr, 0,
       "3|Svc|bob@corp.example named +--account +x"},
      {u"", "", "bob", u"", nullptr, 0, "Unknown account \"bob\": use LocalSystem,"},
      // Built-in and virtual accounts typed in full, and a group managed service account: no password.
      {u"--account \"nt authority\\localservice\"", "", "", u"", nullptr, 0,
       "3|Svc|NT AUTHORITY\\LocalService"},
      {u"", "", "NT AUTHORITY\\NETWORKSERVICE", u"", nullptr, 0, "3|Svc|NT AUTHORITY\\NetworkService"},
      {u"", "", "nt authority\\LocalSystem", u"", nullptr, 0, "3|Svc|"},
      {u"", "", "NT AUTHORITY\\bob", u"", nullptr, 0, "Unknown account \"bob\""},
      {u"", "", "nt service\\Other", u"", nullptr, 0, "3|Svc|NT SERVICE\\Other"},
      {u"", "", "CORP\\web$", u"", nullptr, 0, "3|Svc|CORP\\web$ managed"},
      {u"", "sometimes", "", u"", nullptr, 0,
       "The packed start type \"sometimes\" is not valid: use demand,"},
      {u"--start Auto", "", "", u"", &demand, 0, "Unknown start type \"Auto\""},
      // Text glued before an opening quote belongs to the quoted word.
      {u"--display-name x=\"a b\"", "", "", u"", nullptr, 0, "3|x=a b|"},
      {u"--acount x", "", "", u"", nullptr, 0, "Unknown option \"--acount\" (options: --account,"},
      {u"--account", "", "", u"", nullptr, 0, "The option --account needs a value."},
      {u"--account --start auto", "", "", u"", nullptr, 0, "The option --account needs a value."},
      {u"--display-name \"\"", "", "", u"", nullptr, 0, "The option --display-name needs a value."},
  };
  for (const Case& c : cases) {
    test::ScopedConfig config;
    config.set(config_id::ServiceStartType, c.start);
    config.set(config_id::ServiceAccount, c.account);
    config.set(config_id::ServicePasswordEnv, "SVC_PW");
    config.set(107, std::to_string(c.executableType));
    LauncherConfig.wide[config_id::ServiceDisplayName] = c.display;
    InstallOptions options;
    W words;
    splitCommandLine(c.words, words);
    InstallPlan plan;
    std::u16string error;
    const bool ok =
        parseInstallOptions(words, options, error) && planInstall(options, c.verb, u"Svc", plan, error);
    std::u16string got = error;
    if (ok) {
      got = utf8ToUtf16(std::to_string(plan.start.type)) + (plan.start.delayed ? u"d|" : u"|") +
            plan.displayName + u"|" + plan.account.objectName + (plan.account.named ? u" named" : u"") +
            (plan.account.managed ? u" managed" : u"");
      for (const std::u16string& word : options.rest) got += u" +" + word;
    }
    EXPECT_EQ(utf16ToUtf8(got).substr(0, c.expected.size()), c.expected);
    EXPECT_TRUE(!ok || utf16ToUtf8(got).size() == c.expected.size()) << utf16ToUtf8(got);
    EXPECT_EQ(plan.passwordVariable, plan.account.named ? u"SVC_PW" : u"") << c.expected;
  }
}

// The failure actions the manager is given, as the log line reports them; or the refusal.
TEST(InstallPlan, RestartDelaysBecomeFailureActions) {
  const std::string sixteen = "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16";
  struct Case {
    std::string delays, reset, expected;
  } cases[] = {
      {"", "60", ""},
      {"10000,60000,300000", "",
       "restart after 10000 ms, 60000 ms, 300000 ms (the last repeats); failure count reset after 86400 s"},
      {"0,4294967295", "0",
       "restart after 0 ms, 4294967295 ms (the last repeats); failure count reset after 0 s"},
      {sixteen, "1",
       "restart after 1 ms, 2 ms, 3 ms, 4 ms, 5 ms, 6 ms, 7 ms, 8 ms, 9 ms, 10 ms, 11 ms, 12 ms"},
      {sixteen + ",17", "", "The packed restart delays \"1,2,3"},
      {"4294967296", "", "The packed restart delays \"4294967296\" are not up to 16 numbers of milliseconds"},
      {" 10000", "", "The packed restart delays"},
      {"10000,,20000", "", "The packed restart delays"},
      {"10000", "-1", "The packed failure count reset period \"-1\" is not a number of seconds."},
  };
  for (const Case& c : cases) {
    FailureActionsPlan plan;
    std::u16string error;
    const bool ok = planFailureActions(c.delays, c.reset, plan, error);
    const std::string got = utf16ToUtf8(!ok                    ? error
                                        : plan.actions.empty() ? u""
                                                               : describeFailureActions(plan));
    EXPECT_EQ(got.substr(0, c.expected.size()), c.expected);
    EXPECT_EQ(ok, c.expected.starts_with("restart") || c.delays.empty()) << c.delays;
    for (const FailureAction& a : plan.actions) EXPECT_EQ(a.type, RestartAction);
  }
}

TEST(InstallAccount, LogonRightAndLookupName) {
  EXPECT_TRUE(lacksServiceLogonRight(W{}));
  EXPECT_TRUE(lacksServiceLogonRight(W{u"SeBatchLogonRight", u"SeDenyServiceLogonRight"}));
  EXPECT_FALSE(lacksServiceLogonRight(W{u"SeBatchLogonRight", u"seservicelogonright"}));
  EXPECT_EQ(accountLookupName(u".\\bob", u"HOST"), u"HOST\\bob");
  // Only a user account gets the right: a group would hand it to each of its members.
  EXPECT_EQ(logonRightRefusal(1), u"");
  EXPECT_EQ(logonRightRefusal(2), u"it is a group, not a user account");
  EXPECT_EQ(logonRightRefusal(5), u"it is a well-known group, not a user account");
  EXPECT_EQ(logonRightRefusal(99), u"it is of an unknown kind, not a user account");
  EXPECT_EQ(accountLookupName(u"CORP\\bob", u"HOST"), u"CORP\\bob");
}

}  // namespace
}  // namespace pelto
