#include <gtest/gtest.h>

#include "launcher/CommandLine.h"
#include "launcher/Limits.h"
#include "service/ServiceText.h"

namespace pelto {
namespace {

using W = std::vector<std::u16string>;
using namespace std::string_literals;

TEST(ServiceDependencies, CommaListBecomesDoubleNulList) {
  struct Case {
    std::u16string text;
    std::u16string list;
  } cases[] = {
      {u"", u""},
      {u",,,", u""},
      {u"Tcpip", u"Tcpip\0\0"s},
      {u"Tcpip,EventLog", u"Tcpip\0EventLog\0\0"s},
      {u",Tcpip,,EventLog,", u"Tcpip\0EventLog\0\0"s},
      {u"a b,c", u"a b\0c\0\0"s},
  };
  for (const Case& c : cases) {
    std::size_t dropped = 99;
    EXPECT_EQ(dependencyList(c.text, TextRoom, &dropped), c.list)
        << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(dropped, 0u);
  }
}

TEST(ServiceDependencies, NamesThatDoNotFitTheRoomAreLeftOutWhole) {
  // Room 10: "abc\0" "defg\0" and the final NUL take exactly 10.
  std::size_t dropped = 0;
  EXPECT_EQ(dependencyList(u"abc,defg", 10, &dropped), u"abc\0defg\0\0"s);
  EXPECT_EQ(dropped, 0u);
  EXPECT_EQ(dependencyList(u"abc,defgh", 10, &dropped), u"abc\0\0"s);
  EXPECT_EQ(dropped, 1u);
  // A later short name still fits after a long one was left out.
  EXPECT_EQ(dependencyList(u"abc,defghijk,x", 10, &dropped), u"abc\0x\0\0"s);
  EXPECT_EQ(dropped, 1u);
  // The longest text the configuration can give as one name.
  std::u16string one(TextRoom - 1, u'n');
  std::u16string list = dependencyList(one, TextRoom, &dropped);
  EXPECT_LE(list.size(), TextRoom);
  EXPECT_EQ(dropped, 1u);
  std::u16string fits(TextRoom - 2, u'n');
  EXPECT_EQ(dependencyList(fits, TextRoom, &dropped).size(), TextRoom);
  EXPECT_EQ(dropped, 0u);
}

TEST(ChildCommandLine, QuotesOnlyWordsWithSpaces) {
  struct Case {
    std::u16string program, name;
    W processArgs, startArgs;
    std::u16string line;
  } cases[] = {
      {u"C:\\svc\\Hello.exe", u"Hello", {}, {}, u"C:\\svc\\Hello.exe Hello __qvx_restart"},
      {u"C:\\Program Files\\Hello.exe",
       u"My Svc",
       {},
       {},
       u"\"C:\\Program Files\\Hello.exe\" \"My Svc\" __qvx_restart"},
      {u"p.exe",
       u"S",
       {u"-x", u"a b"},
       {u"one", u"two words"},
       u"p.exe S -x \"a b\" one \"two words\" __qvx_restart"},
      // Quotes inside a word are not escaped; tabs do not trigger quoting.
      {u"p.exe", u"S", {}, {u"say\"hi", u"t\tab"}, u"p.exe S say\"hi t\tab __qvx_restart"},
      {u"p.exe", u"S", {}, {u""}, u"p.exe S  __qvx_restart"},
  };
  for (const Case& c : cases) {
    std::u16string line;
    ASSERT_TRUE(buildChildCommandLine(c.program, c.name, c.processArgs, c.startArgs, ChildCommandRoom, line));
    EXPECT_EQ(line, c.line);
  }
}

TEST(ChildCommandLine, TheChildSplitsItBackIntoTheSameWords) {
  W process{u"-Jx", u"with space"};
  W start{u"a", u"b c", u"d"};
  std::u16string line;
  ASSERT_TRUE(
      buildChildCommandLine(u"C:\\A Dir\\svc.exe", u"My Service", process, start, ChildCommandRoom, line));
  W words;
  splitCommandLine(line, words);
  EXPECT_EQ(words, (W{u"C:\\A Dir\\svc.exe", u"My Service", u"-Jx", u"with space", u"a", u"b c", u"d",
                      u"__qvx_restart"}));
}

TEST(ChildCommandLine, ALineBeyondItsRoomIsRefusedNotCut) {
  const std::u16string fixed = u"p.exe S  __qvx_restart";  // with one start argument of n characters
  const std::size_t n = ChildCommandRoom - 1 - fixed.size();
  std::u16string line;
  EXPECT_TRUE(buildChildCommandLine(u"p.exe", u"S", {}, W{std::u16string(n, u'x')}, ChildCommandRoom, line));
  EXPECT_EQ(line.size(), ChildCommandRoom - 1);
  EXPECT_FALSE(
      buildChildCommandLine(u"p.exe", u"S", {}, W{std::u16string(n + 1, u'x')}, ChildCommandRoom, line));
  EXPECT_TRUE(line.empty());
  // Quotes count: the same length with a space inside no longer fits.
  std::u16string spaced(n, u'x');
  spaced[1] = u' ';
  EXPECT_FALSE(buildChildCommandLine(u"p.exe", u"S", {}, W{spaced}, ChildCommandRoom, line));
}

TEST(ServiceNameOfStart, FallsBackToUnknown) {
  EXPECT_EQ(serviceNameOfStart(u"Hello", true, ServiceNameRoom), u"Hello");
  EXPECT_EQ(serviceNameOfStart(u"", true, ServiceNameRoom), u"unknown");
  EXPECT_EQ(serviceNameOfStart(u"Hello", false, ServiceNameRoom), u"unknown");
  std::u16string longest(ServiceNameRoom - 1, u's');
  EXPECT_EQ(serviceNameOfStart(longest, true, ServiceNameRoom), longest);
  EXPECT_EQ(serviceNameOfStart(longest + u"s", true, ServiceNameRoom), u"unknown");
}

TEST(ServiceStatusRecord, StartsRunningAndAcceptsStopAndShutdown) {
  ServiceStatusRecord r;
  EXPECT_EQ(r.serviceType, 0x30u);
  EXPECT_EQ(r.currentState, StateRunning);
  EXPECT_EQ(r.controlsAccepted, 5u);
  EXPECT_EQ(r.win32ExitCode, 0u);
  EXPECT_EQ(r.serviceSpecificExitCode, 0u);
  EXPECT_EQ(r.checkPoint, 0u);
  EXPECT_EQ(r.waitHint, 50000u);
}

TEST(ServiceControlDecision, StopAndShutdownBecomeStopPendingAndAStopLine) {
  struct Case {
    std::uint32_t control;
    bool sendStop;
    std::uint32_t state, checkPoint;
    int tag;
  } cases[] = {
      {1, true, StateStopPending, 0, 2},  // stop
      {5, true, StateStopPending, 1, 1},  // shutdown counts the checkpoint
      {4, false, StateRunning, 0, 3},     // interrogate: unchanged
      {2, false, StateRunning, 0, 3},     // pause is not accepted
      {128, false, StateRunning, 0, 3},   // user-defined
  };
  for (const Case& c : cases) {
    ServiceStatusRecord r;
    ControlDecision d = applyControl(r, c.control);
    EXPECT_EQ(d.sendStop, c.sendStop) << c.control;
    EXPECT_EQ(d.reportTag, c.tag) << c.control;
    EXPECT_EQ(r.currentState, c.state) << c.control;
    EXPECT_EQ(r.checkPoint, c.checkPoint) << c.control;
    EXPECT_EQ(r.win32ExitCode, 0u);
  }
}

TEST(ServiceControlDecision, InterrogateDuringStopPendingLeavesTheRecordAsItIs) {
  ServiceStatusRecord r;
  applyControl(r, ControlShutdown);
  applyControl(r, ControlShutdown);
  ServiceStatusRecord before = r;
  applyControl(r, 4);
  EXPECT_EQ(r.currentState, before.currentState);
  EXPECT_EQ(r.checkPoint, 2u);
}

TEST(ServiceChildEnd, StoppedAfterExitZeroOrWhileStopping) {
  struct Case {
    std::uint32_t exitCode;
    bool stopping;
    bool stopped;
  } cases[] = {
      {0, false, true},  {0, true, true}, {1, true, true}, {1, false, false}, {0xC0000005u, false, false},
      {259, true, true},
  };
  for (const Case& c : cases) {
    ServiceStatusRecord r;
    if (c.stopping) applyControl(r, ControlStop);
    EXPECT_EQ(reportStoppedAfterChild(c.exitCode, r), c.stopped) << c.exitCode << " " << c.stopping;
  }
}

TEST(ServiceChildStart, FailureReportsStoppedWithTheServiceSpecificError) {
  ServiceStatusRecord r;
  markChildStartFailure(r);
  EXPECT_EQ(r.currentState, StateStopped);
  EXPECT_EQ(r.win32ExitCode, 1066u);
  EXPECT_EQ(r.serviceSpecificExitCode, 5000u);
}

TEST(ServiceChildStart, AStopBeforeThePipeExistedIsStillOwed) {
  ServiceStatusRecord r;
  EXPECT_FALSE(stopLineOwed(r, false));
  applyControl(r, ControlStop);
  EXPECT_TRUE(stopLineOwed(r, false));
  EXPECT_FALSE(stopLineOwed(r, true));
}

// Each case starts a wait at (checkpoint, start) and feeds it (state, checkpoint, hint, now)
// reports in turn, each with whether the wait goes on.
TEST(StopWait, EndsOnLeavingStopPendingOrWhenTheHintPassesWithoutProgress) {
  struct Report {
    std::uint32_t state, checkpoint, hint, now;
    bool goesOn;
  };
  struct Case {
    const char* what;
    std::uint32_t checkpoint, start;
    std::vector<Report> reports;
  } cases[] = {
      {"stopped", 0, 1000, {{StateStopPending, 0, 3000, 1500, true}, {StateStopped, 0, 3000, 2000, false}}},
      {"running", 0, 1000, {{StateRunning, 0, 3000, 2000, false}}},
      {"exactly the hint", 7, 1000, {{StateStopPending, 7, 2000, 3000, true}}},
      {"beyond the hint", 7, 1000, {{StateStopPending, 7, 2000, 3001, false}}},
      {"progress starts the hint again",
       1,
       0,
       {{StateStopPending, 2, 1000, 900, true},
        {StateStopPending, 2, 1000, 1800, true},
        {StateStopPending, 2, 1000, 1901, false}}},
      {"a smaller checkpoint is no progress", 5, 0, {{StateStopPending, 4, 1000, 1001, false}}},
      {"tick count wrap", 0, 0xFFFFFF00u, {{StateStopPending, 0, 1000, 0x100u, true}}},
      {"after the wrap", 0, 0xFFFFFF00u, {{StateStopPending, 0, 1000, 0x300u, false}}},
  };
  for (const Case& c : cases) {
    StopWait w;
    beginStopWait(w, c.checkpoint, c.start);
    for (const Report& r : c.reports)
      EXPECT_EQ(continueStopWait(w, r.state, r.checkpoint, r.hint, r.now), r.goesOn)
          << c.what << " " << r.now;
  }
}

TEST(ChildPriority, RegistryValueOnlyWhenExactlyFourBytes) {
  EXPECT_EQ(childPriorityClass(true, 4, 0x80), 0x80u);
  EXPECT_EQ(childPriorityClass(true, 4, 0x4000), 0x4000u);
  // Only a priority class: other bits would become creation flags of the child.
  EXPECT_EQ(childPriorityClass(true, 4, 0x12345), NormalPriorityClass);
  EXPECT_EQ(childPriorityClass(true, 4, 0x24), NormalPriorityClass);
  EXPECT_EQ(childPriorityClass(true, 4, 0), NormalPriorityClass);
  EXPECT_EQ(childPriorityClass(true, 8, 0x80), NormalPriorityClass);
  EXPECT_EQ(childPriorityClass(true, 2, 0x80), NormalPriorityClass);
  EXPECT_EQ(childPriorityClass(false, 4, 0x80), NormalPriorityClass);
}

}  // namespace
}  // namespace pelto
