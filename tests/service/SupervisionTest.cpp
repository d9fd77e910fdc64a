#include <gtest/gtest.h>

#include "env/TextConv.h"
#include "launcher/ConfigIds.h"
#include "service/ServiceText.h"
#include "service/Supervision.h"
#include "support/ScopedConfig.h"

namespace pelto {
namespace {

using W = std::vector<std::u16string>;
using namespace std::string_literals;

TEST(SupervisionSettings, NumbersAreDigitsOnlyAndBounded) {
  test::ScopedConfig config;
  for (auto [id, text] : {std::pair{config_id::StopTimeout, "99999999999"},
                          {config_id::ServiceLogMaxSize, "1e6"},
                          {config_id::ServiceLogKeep, "4000000000"},
                          {config_id::ServiceEnvironmentCount, "2000000"}})
    config.set(id, text);
  SupervisionSettings s = readSupervisionSettings();
  EXPECT_EQ(s.stopTimeoutMs, 0xFFFFFFFEu);
  EXPECT_EQ(s.maxSize, 0u);
  EXPECT_EQ(s.keep, MaxKeptLogFiles);
  EXPECT_EQ(s.environment.size(), static_cast<std::size_t>(MaxEnvironmentEntries));
  EXPECT_FALSE(s.recovery);
  EXPECT_EQ(configNumber("-5", 100), 0u);
}

TEST(StopTimeout, CountsFromTheStopRequestAcrossATickWrap) {
  struct Case {
    std::uint32_t timeout, stop, now;
    bool up;
  } cases[] = {
      {0, 0, 0xFFFFFFFFu, false},         {2000, 1000, 2999, false},         {2000, 1000, 3000, true},
      {2000, 0xFFFFFF00u, 0x600u, false}, {2000, 0xFFFFFF00u, 0x700u, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(stopTimeIsUp(c.timeout, c.stop, c.now), c.up) << c.stop << " " << c.now;
}

// A course of events once the child has ended: the final status ("-" none, else Win32 and
// service-specific code) and the event-log entries (type letter and id, then the last text).
std::string render(const ChildEndReport& r, const std::vector<EventEntry>& events) {
  std::string out = r.reportStopped
                        ? std::to_string(r.win32ExitCode) + "/" + std::to_string(r.serviceSpecificExitCode)
                        : "-";
  for (const EventEntry& e : events) out += std::string(" ") + "EW-I"[e.type - 1] + std::to_string(e.id);
  return out + " " + utf16ToUtf8(events.back().text);
}

TEST(ChildEnd, FinalStatusAndEventsFollowTheCourse) {
  struct Case {
    std::uint32_t exitCode;
    bool stopPending, timedOut, recovery;
    std::string outcome;
  } cases[] = {
      {0, false, false, false, "0/0 I3 I2 The service stopped."},
      {1, true, false, true, "0/0 I3 I2 The service stopped."},
      {1, false, false, false, "- E3 The child process ended with exit code 1."},
      {3, false, false, true, "1066/3 E3 E2 The service stopped with service-specific error 3."},
      // Ended after the stop timeout: the operator asked for the stop, so no error for recovery.
      {9, true, true, true, "0/0 W5 I2 The service stopped."},
  };
  for (const Case& c : cases) {
    ChildEndReport r = childEndReport(c.exitCode, c.stopPending, c.timedOut, c.recovery);
    EXPECT_EQ(render(r, childEndEvents(c.exitCode, c.stopPending, c.timedOut, 2000, r)), c.outcome);
  }
  EXPECT_EQ(
      serviceEventEntry(ServiceEvent::StopTimedOut, {}, 2000).text,
      u"The child process did not end within 2000 ms of the stop request; it was ended with every process it "
      u"started.");
  EXPECT_EQ(serviceEventEntry(ServiceEvent::Started, u"C:\\jre\\bin\\.., version 17").text,
            u"The service started with the Java runtime C:\\jre\\bin\\.., version 17.");
  EXPECT_EQ(serviceEventEntry(ServiceEvent::ChildStartFailed, u"why").text,
            u"The child process could not be started: why");
}

// The status verb's child: parent, creation time and image must all fit; a job the
// configuration counts on is required.
TEST(ChildEnd, TheStatusFindsTheChildAndAJobIsRequiredWhenCountedOn) {
  const ProcessFacts processes[] = {
      {10, 7, 50, true},    // older than the service process: its id's earlier owner started it
      {11, 8, 200, true},   // another parent
      {12, 7, 300, false},  // not this executable
      {7, 7, 300, true},    // the service process itself
      {13, 7, 100, true},   // the child, started when the service process was
      {14, 7, 400, true},
  };
  EXPECT_EQ(serviceChildOf(processes, 7, 100), 13u);
  EXPECT_EQ(serviceChildOf(std::span(processes).first(4), 7, 100), 0u);
  EXPECT_EQ(serviceChildOf(processes, 0, 0), 0u);
  SupervisionSettings s;
  EXPECT_FALSE(childNeedsJob(s));
  s.stopTimeoutMs = 1;
  EXPECT_TRUE(childNeedsJob(s));
  s = {};
  s.killOnSupervisorExit = true;
  EXPECT_TRUE(childNeedsJob(s));
}

TEST(ChildEnvironment, AdditionsOverrideByNameAndTheBlockIsSorted) {
  struct Case {
    W current, additions;
    std::u16string block;
    std::size_t skipped;
  } cases[] = {
      {{u"=C:=C:\\x", u"Path=p", u"b=2"}, {u"PATH=q", u"a=1"}, u"=C:=C:\\x\0a=1\0b=2\0PATH=q\0\0"s, 0},
      {{u"Z=z"}, {u"=bad", u"noequals", u"_x=", u"Y=a=b"}, u"Y=a=b\0Z=z\0_x=\0\0"s, 2},  // "_" after "Z"
      {{}, {}, u"\0\0"s, 0},
  };
  for (const Case& c : cases) {
    std::size_t skipped = 99;
    EXPECT_EQ(environmentBlock(c.current, c.additions, &skipped), c.block) << utf16ToUtf8(c.block);
    EXPECT_EQ(skipped, c.skipped);
  }
}

TEST(CapturedOutput, RollsToNumberedNamesKeepingTheConfiguredCount) {
  EXPECT_EQ(rolledLogName(u"logs.d\\service", 12), u"logs.d\\service.12");
  auto steps = [](unsigned keep) {
    std::vector<std::u16string> out;
    for (const RollStep& s : rollSteps(u"a\\s.log", keep)) out.push_back(s.from + u">" + s.to);
    return out;
  };
  EXPECT_EQ(steps(0), W{u"a\\s.log>"});
  // The live file moves before anything kept is touched.
  EXPECT_EQ(steps(2), (W{u"a\\s.log>a\\s.log.rolling", u"a\\s.2.log>", u"a\\s.1.log>a\\s.2.log",
                         u"a\\s.log.rolling>a\\s.1.log"}));
  EXPECT_TRUE(rollAttemptDue(false, 0, 0));
  EXPECT_FALSE(rollAttemptDue(true, 0xFFFFFF00u, 0xFFFFFF00u + RollRetryMs - 1));
  EXPECT_TRUE(rollAttemptDue(true, 0xFFFFFF00u, 0xFFFFFF00u + RollRetryMs));  // across the wrap
  struct Case {
    std::uint64_t size;
    std::size_t pending;
    std::uint64_t max;
    std::size_t take;
    bool roll;
  } cases[] = {
      {0, 6000, 0, 6000, false},    {900, 50, 1000, 50, false},     {900, 500, 1000, 100, false},
      {1000, 500, 1000, 500, true}, {1000, 5000, 1000, 1000, true}, {5000, 10, 1000, 10, true},
  };
  for (const Case& c : cases) {
    bool roll = !c.roll;
    EXPECT_EQ(nextOutputWrite(c.size, c.pending, c.max, roll), c.take) << c.size << " " << c.pending;
    EXPECT_EQ(roll, c.roll) << c.size << " " << c.pending;
  }
}

TEST(CapturedOutput, StaysBelowTheExecutablesFolder) {
  struct Case {
    std::u16string_view configured, expected;  // empty: refused
  } cases[] = {
      {u"logs/{service}.log", u"C:\\app\\logs\\My Svc.log"},
      {u"logs//{service}/{service}.log", u"C:\\app\\logs\\My Svc\\My Svc.log"},
      {u"..\\x.log", u""},
      {u"logs/../../x.log", u""},
      {u"logs/. ./x.log", u""},
      {u"logs/.../x.log", u""},
      {u"./x.log", u""},
      {u"/x.log", u""},
      {u"C:x.log", u""},
      {u"x.log:stream", u""},
      {u"logs/", u""},
      {u"", u""},
      {u"logs/..x.log", u"C:\\app\\logs\\..x.log"},
  };
  for (const Case& c : cases) {
    const char* why = nullptr;
    EXPECT_EQ(capturedOutputPath(c.configured, u"My Svc", u"C:\\app\\", why), c.expected)
        << utf16ToUtf8(c.configured);
    EXPECT_EQ(why == nullptr, !c.expected.empty()) << utf16ToUtf8(c.configured);
  }
  // A name given to the service cannot climb either.
  const char* why = nullptr;
  EXPECT_EQ(capturedOutputPath(u"{service}/x.log", u"..", u"C:\\app\\", why), u"");
}

TEST(ChildStatus, IdAndRunningTime) {
  EXPECT_EQ(childStatusLine(1234, 7), "Child process 1234, running for 00:00:07.\n");
  EXPECT_EQ(childStatusLine(8, 86400 + 2 * 3600 + 3 * 60 + 4), "Child process 8, running for 1d 02:03:04.\n");
}

}  // namespace
}  // namespace pelto
