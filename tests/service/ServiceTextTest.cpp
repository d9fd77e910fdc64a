#include <gtest/gtest.h>

#include <random>

#include "env/TextConv.h"
#include "launcher/CommandLine.h"
#include "launcher/Limits.h"
#include "service/ServiceText.h"
#include "service/Supervision.h"

namespace pelto {
namespace {

using W = std::vector<std::u16string>;
using namespace std::string_literals;

TEST(ServiceDependencies, CommaListBecomesDoubleNulListWithinItsRoom) {
  struct Case {
    std::u16string text;
    std::size_t room;
    std::u16string list;
    std::size_t dropped;
  } cases[] = {
      {u",,,", TextRoom, u"", 0},
      {u",Tcpip,,Event Log,", TextRoom, u"Tcpip\0Event Log\0\0"s, 0},
      {u"abc,defg", 10, u"abc\0defg\0\0"s, 0},  // exactly the room
      {u"abc,defghijk,x", 10, u"abc\0x\0\0"s, 1},
      {std::u16string(TextRoom - 1, u'n'), TextRoom, u"", 1},
  };
  for (const Case& c : cases) {
    std::size_t dropped = 99;
    EXPECT_EQ(dependencyList(c.text, c.room, &dropped), c.list) << utf16ToUtf8(c.text);
    EXPECT_EQ(dropped, c.dropped) << utf16ToUtf8(c.text);
  }
}

// Every element reaches the child's argument vector exactly, the restart marker
// last, whatever it holds: quotes of both kinds, spaces, tabs, backslashes,
// non-ASCII text, nothing at all.
TEST(ChildCommandLine, TheChildSplitsItBackIntoTheSameElementsOrItIsRefused) {
  std::mt19937 rng(20240611);
  const std::u16string alphabet = u"a \t\"'\\\u00e9\u65e5-";
  auto element = [&] {
    std::u16string e(rng() % 7, u'a');
    for (char16_t& c : e) c = alphabet[rng() % alphabet.size()];
    return e;
  };
  for (int round = 0; round < 3000; ++round) {
    W process(rng() % 3), start(rng() % 4);
    for (auto& e : process) e = element();
    for (auto& e : start) e = element();
    W expected{element(), element()};
    std::u16string line;
    ASSERT_TRUE(buildChildCommandLine(expected[0], expected[1], process, start, ChildCommandRoom, line));
    expected.insert(expected.end(), process.begin(), process.end());
    expected.insert(expected.end(), start.begin(), start.end());
    expected.push_back(RestartMarker);
    W words;
    splitCommandLine(line, words);
    ASSERT_EQ(words, expected) << utf16ToUtf8(line);
  }
  std::u16string line;
  const std::size_t fits = ChildCommandRoom - 1 - u"\"p\" \"S\" \"\" __qvx_restart"s.size();
  EXPECT_TRUE(buildChildCommandLine(u"p", u"S", {}, W{std::u16string(fits, u'x')}, ChildCommandRoom, line));
  EXPECT_FALSE(
      buildChildCommandLine(u"p", u"S", {}, W{std::u16string(fits + 1, u'x')}, ChildCommandRoom, line));
  EXPECT_TRUE(line.empty());
  const std::u16string longest(ServiceNameRoom - 1, u's');
  EXPECT_EQ(serviceNameOfStart(longest, true, ServiceNameRoom), longest);
  EXPECT_EQ(serviceNameOfStart(longest + u"s", true, ServiceNameRoom), u"unknown");
}

// Each row: the control, then whether it sends the stop line, the state and
// checkpoint after it, and whether a child ending with exit code 1 is then
// reported stopped.
TEST(ServiceControl, StopAndShutdownBecomeStopPendingAndAStopLine) {
  struct Case {
    std::uint32_t control;
    bool sendStop;
    std::uint32_t state, checkPoint;
    bool stoppedAfterFailure;
  } cases[] = {
      {ControlStop, true, StateStopPending, 0, true},
      {ControlShutdown, true, StateStopPending, 1, true},
      {ControlPreshutdown, true, StateStopPending, 1, true},
      {4, false, StateRunning, 0, false},  // interrogate: unchanged
      {2, false, StateRunning, 0, false},  // pause is not accepted
  };
  for (const Case& c : cases) {
    ServiceStatusRecord r;
    EXPECT_EQ(applyControl(r, c.control).sendStop, c.sendStop) << c.control;
    EXPECT_EQ(r.currentState, c.state) << c.control;
    EXPECT_EQ(r.checkPoint, c.checkPoint) << c.control;
    bool pending = r.currentState == StateStopPending;
    EXPECT_EQ(childEndReport(1, pending, false, false).reportStopped, c.stoppedAfterFailure) << c.control;
    EXPECT_TRUE(childEndReport(0, pending, false, false).reportStopped);
    EXPECT_EQ(stopLineOwed(r, false), c.sendStop);
    EXPECT_FALSE(stopLineOwed(r, true));
  }
}

// Each case starts a wait at (checkpoint, start) and feeds it (state,
// checkpoint, hint, now) reports in turn, each with whether the wait goes on.
TEST(StopWait, EndsOnLeavingStopPendingOrWhenTheHintPassesWithoutProgress) {
  struct Report {
    std::uint32_t state, checkpoint, hint, now;
    bool goesOn;
  };
  struct Case {
    std::uint32_t checkpoint, start;
    std::vector<Report> reports;
  } cases[] = {
      {0, 1000, {{StateStopPending, 0, 3000, 1500, true}, {StateStopped, 0, 3000, 2000, false}}},
      {1, 0, {{StateStopPending, 2, 1000, 900, true}, {StateStopPending, 2, 1000, 1901, false}}},
      {5, 0, {{StateStopPending, 4, 1000, 1001, false}}},  // a smaller checkpoint is no progress
      {0, 0xFFFFFF00u, {{StateStopPending, 0, 1000, 0x100u, true}}},
  };
  for (const Case& c : cases) {
    StopWait w;
    beginStopWait(w, c.checkpoint, c.start);
    for (const Report& r : c.reports)
      EXPECT_EQ(continueStopWait(w, r.state, r.checkpoint, r.hint, r.now), r.goesOn)
          << c.start << " " << r.now;
  }
}

// A verb's failure names the service and says why before the code; the status of a stopped
// service says how it last stopped only when that was not clean.
TEST(VerbMessages, NameTheServiceAndTheReason) {
  EXPECT_EQ(verbFailureLine("stop", "S", 1060),
            "Could not stop service 'S': the service is not installed (error 1060).\n");
  EXPECT_EQ(verbFailureLine("start", "S", 5),
            "Could not start service 'S': access denied: run from an administrator console (error 5).\n");
  EXPECT_EQ(systemErrorReason(1072).substr(0, 40), "the service is marked for deletion: clos");
  EXPECT_EQ(systemErrorReason(4242), "system error (error 4242)");
  EXPECT_EQ(lastStopLine(0, 0), "");
  EXPECT_EQ(lastStopLine(1077, 0), "");  // never started
  EXPECT_EQ(lastStopLine(1066, 3), "It last stopped with exit code 1066 (service-specific code 3).\n");
  EXPECT_EQ(lastStopLine(1067, 0), "It last stopped with exit code 1067.\n");
}

TEST(ChildPriority, RegistryValueOnlyWhenExactlyFourBytesOfOnePriorityClass) {
  struct Case {
    bool ok;
    std::uint32_t size, value, priority;
  } cases[] = {
      {true, 4, 0x4000, 0x4000}, {true, 4, 0x24, 0x20}, {true, 8, 0x80, 0x20}, {false, 4, 0x80, 0x20}};
  for (const Case& c : cases) EXPECT_EQ(childPriorityClass(c.ok, c.size, c.value), c.priority) << c.value;
}

// The configuration of a running service may need more room than any fixed buffer (a long
// dependency list alone may take 12000 bytes).
TEST(ServiceConfigQuery, AsksForTheRoomTheQueryNeeds) {
  std::vector<std::uint64_t> buffer;
  std::uint32_t needed = 0;
  auto query = [&](std::uint64_t* room, std::uint32_t size, std::uint32_t& need) {
    need = 12345;
    return room && size >= need;
  };
  ASSERT_TRUE(queryWithNeededRoom(query, buffer, needed));
  EXPECT_GE(buffer.size() * 8, 12345u);
}

}  // namespace
}  // namespace pelto
