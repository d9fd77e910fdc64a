#include <gtest/gtest.h>

#include "env/TextConv.h"
#include "launcher/CommandLine.h"
#include "launcher/Entry.h"

namespace pelto {
namespace {

using W = std::vector<std::u16string>;

int verbA(VerbCall&) {
  return 11;
}
int verbB(VerbCall&) {
  return 22;
}
const VerbEntry Table[] = {{u"install", verbA, true, u"[NAME] [OPTIONS]", u"install it"},
                           {u"status", verbB, false, u"[NAME]", u"say how it is"},
                           {u"?", verbA, false, u"", u""}};

TEST(EntryDecision, RouteVerbServiceNameAndArguments) {
  const std::u16string fits(ServiceNameRoom - 1, u's');
  struct Case {
    W argv;
    EntryRoute route;
    std::u16string verb;
    VerbHandler handler;
    std::u16string serviceName;  // empty: none given
    W args;
  } cases[] = {
      // The restart marker last runs the launch whatever comes before; not last or not exact: no.
      {{u"p", u"MySvc", u"/install", u"a", u"__qvx_restart"},
       EntryRoute::Restart,
       u"",
       nullptr,
       u"",
       {u"MySvc", u"/install", u"a"}},
      {{u"p", u"__qvx_restart", u"x"}, EntryRoute::Dispatcher, u"", nullptr, u"", {u"__qvx_restart", u"x"}},
      {{u"p", u"__QVX_RESTART"}, EntryRoute::Dispatcher, u"", nullptr, u"", {u"__QVX_RESTART"}},
      {{u"__qvx_restart"}, EntryRoute::Dispatcher, u"", nullptr, u"", {}},
      // A verb after "/", "-" or "--" (one further dash only); the word after it names the service.
      {{u"p", u"/status"}, EntryRoute::Verb, u"status", verbB, u"", {}},
      {{u"p", u"-status"}, EntryRoute::Verb, u"status", verbB, u"", {}},
      {{u"p", u"--status", u"S", u"a"}, EntryRoute::Verb, u"status", verbB, u"S", {u"S", u"a"}},
      {{u"p", u"---status"}, EntryRoute::UnknownVerb, u"-status", nullptr, u"", {}},
      {{u"p", u"/?"}, EntryRoute::Verb, u"?", verbA, u"", {}},
      {{u"p", u"/status", fits}, EntryRoute::Verb, u"status", verbB, fits, {fits}},
      // A verb with options: a first word starting with "--" is an option, never the service name.
      {{u"p", u"/install", u"--start", u"S"}, EntryRoute::Verb, u"install", verbA, u"", {u"--start", u"S"}},
      {{u"p", u"/install", u"S", u"--start"}, EntryRoute::Verb, u"install", verbA, u"S", {u"S", u"--start"}},
      {{u"p", u"/status", u"--S"}, EntryRoute::Verb, u"status", verbB, u"--S", {u"--S"}},
      // Case matters; an unknown verb never reaches the dispatcher. No verb: the service process.
      {{u"p", u"/Install", u"Svc"}, EntryRoute::UnknownVerb, u"Install", nullptr, u"Svc", {u"Svc"}},
      {{u"p", u"-"}, EntryRoute::UnknownVerb, u"", nullptr, u"", {}},
      {{u"p", u"x", u"/install"}, EntryRoute::Dispatcher, u"", nullptr, u"", {u"x", u"/install"}},
      {{}, EntryRoute::Dispatcher, u"", nullptr, u"", {}},
      // A service name beyond its room is refused, not cut.
      {{u"p", u"/status", fits + u"s"},
       EntryRoute::ServiceNameTooLong,
       u"status",
       nullptr,
       u"",
       {fits + u"s"}},
  };
  for (const Case& c : cases) {
    EntryDecision d = decideEntry(c.argv, Table);
    const std::string what = c.argv.size() > 1 ? utf16ToUtf8(c.argv[1]).substr(0, 20) : "";
    EXPECT_EQ(d.route, c.route) << what;
    EXPECT_EQ(d.verb, c.verb) << what;
    EXPECT_EQ(d.handler, c.handler) << what;
    EXPECT_EQ(d.serviceNameGiven, !c.serviceName.empty()) << what;
    EXPECT_EQ(d.serviceNameGiven ? d.serviceName : u"", c.serviceName) << what;
    EXPECT_EQ(d.call.args, c.args) << what;
    EXPECT_EQ(d.call.program, c.argv.empty() ? u"" : c.argv[0]) << what;
  }
}

// The message of a mistyped verb names the nearest verb when one is close; the help lists each
// verb that has a line (not the aliases) and the exit codes.
TEST(EntryUsage, NearestVerbAndHelp) {
  const std::pair<const char16_t*, const char*> words[] = {
      {u"/INSTALL", "Unknown verb \"/INSTALL\": did you mean /install?\nUsage: Svc.exe /install | /status\n"},
      {u"--instal", "Unknown verb \"--instal\": did you mean /install?\n"},
      {u"-stats", "Unknown verb \"-stats\": did you mean /status?\n"},
      {u"/frobnicate", "Unknown verb \"/frobnicate\"\nUsage: "},
      {u"/st", "Unknown verb \"/st\"\n"},
      {u"/?x", "Unknown verb \"/?x\"\n"},
  };
  for (auto [word, start] : words)
    EXPECT_EQ(
        utf16ToUtf8(unknownVerbText(word, u"C:\\x\\Svc.exe", Table)).substr(0, std::string(start).size()),
        start);
  const std::string help = utf16ToUtf8(usageText(u"Svc.exe", Table, true));
  EXPECT_NE(help.find("\n  /install [NAME] [OPTIONS]"), std::string::npos) << help;
  EXPECT_NE(help.find("install it\n  /status [NAME]"), std::string::npos) << help;
  EXPECT_EQ(help.find("/?"), std::string::npos) << help;
  EXPECT_NE(help.find("--display-name"), std::string::npos) << help;
  EXPECT_NE(help.find("2 wrong command line, 3 (/status) not running"), std::string::npos) << help;
}

}  // namespace
}  // namespace pelto
