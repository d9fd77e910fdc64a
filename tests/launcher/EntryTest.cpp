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
const VerbEntry Table[] = {{u"install", verbA}, {u"status", verbB}, {u"?", verbA}};

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
      {{u"p", u"---status"}, EntryRoute::Dispatcher, u"-status", nullptr, u"", {}},
      {{u"p", u"/?"}, EntryRoute::Verb, u"?", verbA, u"", {}},
      {{u"p", u"/status", fits}, EntryRoute::Verb, u"status", verbB, fits, {fits}},
      // Case matters; an unknown verb goes to the dispatcher, still naming the service.
      {{u"p", u"/Install", u"Svc"}, EntryRoute::Dispatcher, u"Install", nullptr, u"Svc", {u"Svc"}},
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

TEST(UsageLine, BaseNameOfTheModuleWithoutDirectoryAndExtension) {
  EXPECT_EQ(usageLine(u"C:\\Apps\\My Service\\HelloService.exe"),
            u"Usage: HelloService.exe /install | /uninstall | /stop | /start | /status | /run | "
            u"/run-redirect\n");
  EXPECT_EQ(moduleBaseName(u"c:/x.y/name.v2.exe"), u"name.v2");
  EXPECT_EQ(moduleBaseName(u"C:plain"), u"plain");
  EXPECT_EQ(moduleBaseName(std::u16string(300, u'n') + u".exe"), std::u16string(255, u'n'));
}

}  // namespace
}  // namespace pelto
