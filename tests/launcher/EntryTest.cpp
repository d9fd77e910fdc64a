#include <gtest/gtest.h>

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

EntryDecision decide(W argv) {
  return decideEntry(std::move(argv), Table);
}

TEST(EntryDecision, RestartMarkerLastRunsTheLaunchWithWhateverComesBefore) {
  EntryDecision d = decide({u"prog.exe", u"MySvc", u"/install", u"a", u"__qvx_restart"});
  EXPECT_EQ(d.route, EntryRoute::Restart);
  EXPECT_EQ(d.call.program, u"prog.exe");
  EXPECT_EQ(d.call.args, (W{u"MySvc", u"/install", u"a"}));
  EXPECT_FALSE(d.serviceNameGiven);
  // Not last, or not exact: no restart.
  EXPECT_NE(decide({u"p", u"__qvx_restart", u"x"}).route, EntryRoute::Restart);
  EXPECT_NE(decide({u"p", u"__QVX_RESTART"}).route, EntryRoute::Restart);
  // The program element alone is never the marker.
  EXPECT_EQ(decide({u"__qvx_restart"}).route, EntryRoute::Dispatcher);
}

TEST(EntryDecision, VerbAfterSlashDashOrTwoDashes) {
  for (auto arg : {u"/status", u"-status", u"--status"}) {
    EntryDecision d = decide({u"p", arg});
    EXPECT_EQ(d.route, EntryRoute::Verb);
    EXPECT_EQ(d.verb, u"status");
    EXPECT_EQ(d.handler, &verbB);
    EXPECT_TRUE(d.call.args.empty());
    EXPECT_FALSE(d.serviceNameGiven);
  }
  // Only one further dash is dropped.
  EXPECT_EQ(decide({u"p", u"---status"}).verb, u"-status");
  EXPECT_EQ(decide({u"p", u"/-status"}).verb, u"status");
  EXPECT_EQ(decide({u"p", u"/?"}).handler, &verbA);
}

TEST(EntryDecision, VerbsAreCaseSensitiveAndUnknownOnesGoToTheDispatcher) {
  EntryDecision d = decide({u"p", u"/Install", u"Svc"});
  EXPECT_EQ(d.route, EntryRoute::Dispatcher);
  EXPECT_EQ(d.verb, u"Install");
  // The word after an unknown verb still names the service the dispatcher is called for.
  EXPECT_TRUE(d.serviceNameGiven);
  EXPECT_EQ(d.serviceName, u"Svc");
  EXPECT_EQ(decide({u"p", u"/"}).route, EntryRoute::Dispatcher);
  EXPECT_EQ(decide({u"p", u"--"}).route, EntryRoute::Dispatcher);
}

TEST(EntryDecision, NoVerbLeadsToTheDispatcher) {
  EXPECT_EQ(decide({u"p"}).route, EntryRoute::Dispatcher);
  EXPECT_EQ(decide({}).route, EntryRoute::Dispatcher);
  EntryDecision d = decide({u"p", u"x", u"/install"});
  EXPECT_EQ(d.route, EntryRoute::Dispatcher);
  EXPECT_TRUE(d.verb.empty());
  EXPECT_FALSE(d.serviceNameGiven);
}

TEST(EntryDecision, FirstWordAfterTheVerbNamesTheServiceAndStaysInTheVector) {
  EntryDecision d = decide({u"prog", u"/install", u"MySvc", u"a", u"b"});
  EXPECT_EQ(d.route, EntryRoute::Verb);
  EXPECT_TRUE(d.serviceNameGiven);
  EXPECT_EQ(d.serviceName, u"MySvc");
  EXPECT_EQ(d.call.program, u"prog");
  EXPECT_EQ(d.call.args, (W{u"MySvc", u"a", u"b"}));
}

TEST(EntryDecision, ServiceNameThatDoesNotFitIsRefusedNotCut) {
  std::u16string fits(ServiceNameRoom - 1, u's');
  EntryDecision ok = decide({u"p", u"/status", fits});
  EXPECT_EQ(ok.route, EntryRoute::Verb);
  EXPECT_EQ(ok.serviceName.size(), ServiceNameRoom - 1);

  EntryDecision tooLong = decide({u"p", u"/status", fits + u"s"});
  EXPECT_EQ(tooLong.route, EntryRoute::ServiceNameTooLong);
  EXPECT_FALSE(tooLong.serviceNameGiven);
  EXPECT_EQ(decide({u"p", u"/unknown", fits + u"s"}).route, EntryRoute::ServiceNameTooLong);
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
