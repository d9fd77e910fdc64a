#include <gtest/gtest.h>

#include "env/TextConv.h"
#include "service/ServiceConfig.h"
#include "service/ServiceText.h"
#include "service/Supervision.h"
#include "support/ScopedConfig.h"

namespace pelto {
namespace {

using W = std::vector<std::u16string>;
using namespace std::string_literals;

TEST(SupervisionSettings, NumbersAreDigitsOnlyAndBounded) {
  struct Case {
    std::string timeout, maxSize, keep;
    std::uint32_t timeoutMs;
    std::uint64_t size;
    unsigned kept;
  } cases[] = {
      {"2000", "10485760", "5", 2000, 10485760, 5},
      {"", "", "", 0, 0, 0},
      {"-5", "1e6", "x", 0, 0, 0},
      {"99999999999", "99999999999999999999999", "4000000000", 0xFFFFFFFEu, UINT64_MAX, MaxKeptLogFiles},
  };
  for (const Case& c : cases) {
    test::ScopedConfig config;
    config.set(StopTimeoutId, c.timeout);
    config.set(ServiceLogMaxSizeId, c.maxSize);
    config.set(ServiceLogKeepId, c.keep);
    SupervisionSettings s = readSupervisionSettings();
    EXPECT_EQ(s.stopTimeoutMs, c.timeoutMs) << c.timeout;
    EXPECT_EQ(s.maxSize, c.size) << c.maxSize;
    EXPECT_EQ(s.keep, c.kept) << c.keep;
    EXPECT_FALSE(s.recovery);
  }
  test::ScopedConfig config;
  config.set(RecoveryRestartDelaysId, "10000");
  config.set(ServiceEnvironmentCountId, "2000000");
  EXPECT_TRUE(readSupervisionSettings().recovery);
  EXPECT_EQ(readSupervisionSettings().environment.size(), static_cast<std::size_t>(MaxEnvironmentEntries));
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

// A course of events once the child has ended: the final status and the event-log entries.
TEST(ChildEnd, FinalStatusAndEventsFollowTheCourse) {
  struct Case {
    std::uint32_t exitCode;
    bool stopPending, timedOut, recovery;
    ChildEndReport report;
    std::vector<EventEntry> events;
  } cases[] = {
      {0,
       false,
       false,
       false,
       {true, 0, 0},
       {{EventInformation, 3, u"The child process ended with exit code 0."},
        {EventInformation, 2, u"The service stopped."}}},
      {1,
       true,
       false,
       true,
       {true, 0, 0},
       {{EventInformation, 3, u"The child process ended with exit code 1."},
        {EventInformation, 2, u"The service stopped."}}},
      {1, false, false, false, {}, {{EventError, 3, u"The child process ended with exit code 1."}}},
      {3,
       false,
       false,
       true,
       {true, 1066, 3},
       {{EventError, 3, u"The child process ended with exit code 3."},
        {EventError, 2, u"The service stopped with service-specific error 3."}}},
      {StopTimeoutCode,
       true,
       true,
       true,
       {true, 1066, 5001},
       {{EventWarning, 5,
         u"The child process did not end within 2000 ms of the stop request; it was ended with every process "
         u"it "
         u"started."},
        {EventError, 2, u"The service stopped with service-specific error 5001."}}},
  };
  for (const Case& c : cases) {
    ChildEndReport r = childEndReport(c.exitCode, c.stopPending, c.timedOut, c.recovery);
    EXPECT_EQ(r.reportStopped, c.report.reportStopped) << c.exitCode;
    EXPECT_EQ(r.win32ExitCode, c.report.win32ExitCode) << c.exitCode;
    EXPECT_EQ(r.serviceSpecificExitCode, c.report.serviceSpecificExitCode) << c.exitCode;
    EXPECT_EQ(childEndEvents(c.exitCode, c.stopPending, c.timedOut, 2000, r), c.events) << c.exitCode;
  }
  EXPECT_EQ(serviceEventEntry(ServiceEvent::Started, u"C:\\jre\\bin\\.., version 17.0.2"),
            (EventEntry{EventInformation, 1,
                        u"The service started with the Java runtime C:\\jre\\bin\\.., version 17.0.2."}));
  EXPECT_EQ(
      serviceEventEntry(ServiceEvent::ChildStartFailed, u"CreateProcess failed (error 2)"),
      (EventEntry{EventError, 4, u"The child process could not be started: CreateProcess failed (error 2)"}));
  EXPECT_EQ(serviceEventEntry(ServiceEvent::NoJavaRuntime).type, EventError);
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
  EXPECT_EQ(rolledLogName(u"logs\\service.log", 1), u"logs\\service.1.log");
  EXPECT_EQ(rolledLogName(u"logs.d\\service", 12), u"logs.d\\service.12");
  EXPECT_EQ(rolledLogName(u"logs\\.hidden", 2), u"logs\\.hidden.2");
  auto steps = [](unsigned keep) {
    std::vector<std::u16string> out;
    for (const RollStep& s : rollSteps(u"s.log", keep)) out.push_back(s.from + u">" + s.to);
    return out;
  };
  EXPECT_EQ(steps(0), W{u"s.log>"});
  EXPECT_EQ(steps(1), (W{u"s.1.log>", u"s.log>s.1.log"}));
  EXPECT_EQ(steps(3), (W{u"s.3.log>", u"s.2.log>s.3.log", u"s.1.log>s.2.log", u"s.log>s.1.log"}));

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

TEST(ChildStatus, IdAndRunningTime) {
  EXPECT_EQ(childStatusLine(1234, 7), "Child process 1234, running for 00:00:07.\n");
  EXPECT_EQ(childStatusLine(8, 86400 + 2 * 3600 + 3 * 60 + 4), "Child process 8, running for 1d 02:03:04.\n");
  EXPECT_EQ(childStatusLine(8, 86399), "Child process 8, running for 23:59:59.\n");
}

}  // namespace
}  // namespace pelto
