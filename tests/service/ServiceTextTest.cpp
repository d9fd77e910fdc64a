#include <gtest/gtest.h>

#include <random>

#include "env/TextConv.h"
#include "launcher/CommandLine.h"
#include "launcher/Limits.h"
#include "service/ServiceText.h"

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

// Every element reaches the child's argument vector exactly, the restart marker last, whatever
// it holds: quotes of both kinds, spaces, tabs, backslashes, non-ASCII text, nothing at all.
TEST(ChildCommandLine, TheChildSplitsItBackIntoTheSameElements) {
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
    const std::u16string program = element(), name = element();
    std::u16string line;
    ASSERT_TRUE(buildChildCommandLine(program, name, process, start, ChildCommandRoom, line));
    W expected{program, name};
    expected.insert(expected.end(), process.begin(), process.end());
    expected.insert(expected.end(), start.begin(), start.end());
    expected.push_back(RestartMarker);
    W words;
    splitCommandLine(line, words);
    ASSERT_EQ(words, expected) << utf16ToUtf8(line);
  }
}

TEST(ChildCommandLine, ALineBeyondItsRoomIsRefusedNotCut) {
  std::u16string line;
  ASSERT_TRUE(buildChildCommandLine(u"p", u"S", {}, W{u""}, ChildCommandRoom, line));
  const std::size_t fits = ChildCommandRoom - 1 - line.size();
  EXPECT_TRUE(buildChildCommandLine(u"p", u"S", {}, W{std::u16string(fits, u'x')}, ChildCommandRoom, line));
  EXPECT_EQ(line.size(), ChildCommandRoom - 1);
  EXPECT_FALSE(
      buildChildCommandLine(u"p", u"S", {}, W{std::u16string(fits + 1, u'x')}, ChildCommandRoom, line));
  EXPECT_TRUE(line.empty());
}

TEST(ServiceNameOfStart, FallsBackToUnknown) {
  const std::u16string longest(ServiceNameRoom - 1, u's');
  EXPECT_EQ(serviceNameOfStart(longest, true, ServiceNameRoom), longest);
  EXPECT_EQ(serviceNameOfStart(longest + u"s", true, ServiceNameRoom), u"unknown");
  EXPECT_EQ(serviceNameOfStart(u"", true, ServiceNameRoom), u"unknown");
  EXPECT_EQ(serviceNameOfStart(u"Hello", false, ServiceNameRoom), u"unknown");
}

// Each row: the control, then whether it sends the stop line, the state and checkpoint after
// it, its report's log tag, and whether a child ending with exit code 1 is then reported stopped.
TEST(ServiceControl, StopAndShutdownBecomeStopPendingAndAStopLine) {
  struct Case {
    std::uint32_t control;
    bool sendStop;
    std::uint32_t state, checkPoint;
    int tag;
    bool stoppedAfterFailure;
  } cases[] = {
      {ControlStop, true, StateStopPending, 0, 2, true},
      {ControlShutdown, true, StateStopPending, 1, 1, true},
      {4, false, StateRunning, 0, 3, false},  // interrogate: unchanged
      {2, false, StateRunning, 0, 3, false},  // pause is not accepted
  };
  for (const Case& c : cases) {
    ServiceStatusRecord r;
    ControlDecision d = applyControl(r, c.control);
    EXPECT_EQ(d.sendStop, c.sendStop) << c.control;
    EXPECT_EQ(d.reportTag, c.tag) << c.control;
    EXPECT_EQ(r.currentState, c.state) << c.control;
    EXPECT_EQ(r.checkPoint, c.checkPoint) << c.control;
    EXPECT_EQ(reportStoppedAfterChild(1, r), c.stoppedAfterFailure) << c.control;
    EXPECT_TRUE(reportStoppedAfterChild(0, r));
    EXPECT_EQ(stopLineOwed(r, false), c.sendStop);
    EXPECT_FALSE(stopLineOwed(r, true));
  }
  ServiceStatusRecord r;
  markChildStartFailure(r);
  EXPECT_EQ(r.currentState, StateStopped);
  EXPECT_EQ(r.win32ExitCode, 1066u);
  EXPECT_EQ(r.serviceSpecificExitCode, 5000u);
}

// Each case starts a wait at (checkpoint, start) and feeds it (state, checkpoint, hint, now)
// reports in turn, each with whether the wait goes on.
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
      {7, 1000, {{StateStopPending, 7, 2000, 3000, true}, {StateStopPending, 7, 2000, 3001, false}}},
      {1, 0, {{StateStopPending, 2, 1000, 900, true}, {StateStopPending, 2, 1000, 1901, false}}},
      {5, 0, {{StateStopPending, 4, 1000, 1001, false}}},  // a smaller checkpoint is no progress
      {0,
       0xFFFFFF00u,
       {{StateStopPending, 0, 1000, 0x100u, true}, {StateStopPending, 0, 1000, 0x300u, false}}},
  };
  for (const Case& c : cases) {
    StopWait w;
    beginStopWait(w, c.checkpoint, c.start);
    for (const Report& r : c.reports)
      EXPECT_EQ(continueStopWait(w, r.state, r.checkpoint, r.hint, r.now), r.goesOn)
          << c.start << " " << r.now;
  }
}

TEST(ChildPriority, RegistryValueOnlyWhenExactlyFourBytesOfOnePriorityClass) {
  struct Case {
    bool ok;
    std::uint32_t size, value, priority;
  } cases[] = {
      {true, 4, 0x80, 0x80}, {true, 4, 0x4000, 0x4000}, {true, 4, 0x24, 0x20},
      {true, 4, 0, 0x20},    {true, 8, 0x80, 0x20},     {false, 4, 0x80, 0x20},
  };
  for (const Case& c : cases) EXPECT_EQ(childPriorityClass(c.ok, c.size, c.value), c.priority) << c.value;
}

// The configuration query of /status: a record beyond any fixed room is still read whole.
TEST(ServiceConfigQuery, AsksForTheRoomTheQueryNeeds) {
  std::vector<std::uint64_t> buffer;
  std::uint32_t needed = 0;
  int calls = 0;
  auto query = [&](std::uint64_t* room, std::uint32_t size, std::uint32_t& need) {
    ++calls;
    need = 12345;
    if (!room || size < need) return false;
    room[0] = 42;
    return true;
  };
  ASSERT_TRUE(queryWithNeededRoom(query, buffer, needed));
  EXPECT_GE(buffer.size() * 8, 12345u);
  EXPECT_EQ(buffer[0], 42u);
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace pelto
