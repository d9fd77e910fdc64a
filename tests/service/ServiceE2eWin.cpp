// The packed example service end to end under Wine's Service Control Manager: the service
// process starts its child, the child loads a runtime laid out beside it and the JVM double
// records what it was given; the run verbs host the JVM in the launcher's own process.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "service/PackedAppWin.h"

namespace pelto {
namespace {

using test::contains;
using test::LauncherRun;
using test::ServiceLayout;

// An apostrophe in the folder, the service name and a start argument, and a start argument with
// both kinds of quote: each reaches the child exactly, and the child takes its restart route.
// (Wine's manager ends the start arguments at an empty one; the host test covers empty ones.)
TEST(ServiceEndToEnd, StartGivesTheJvmServiceOptionsAndArgumentsAndStopSendsTheStopLine) {
  ServiceLayout svc(L"Pelto'sE2eLifecycle", "stdin 0", L"O'Neil");
  ASSERT_TRUE(svc.ready());
  LauncherRun r = svc.verb(L"/install");
  ASSERT_EQ(r.exitCode, 0u) << r.out;

  r = svc.verb(L"/start", {L"O'Brien", L"second \"argument\""});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.out, "Starting service 'Pelto'sE2eLifecycle'.\n");
  ASSERT_TRUE(svc.waitFor("main")) << svc.record();
  r = svc.verb(L"/status");
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.out, "Running.\n");

  std::vector<std::string> created = svc.events("createJavaVM");
  ASSERT_EQ(created.size(), 1u) << svc.record();
  EXPECT_TRUE(contains(created[0], "\"-Xrs\"")) << created[0];
  EXPECT_TRUE(contains(created[0], "\"-Dpelto.isService=true\"")) << created[0];
  std::string main = svc.events("main")[0];
  // After the launcher class's five fixed arguments (the last one "false" here) comes the service
  // name; the start arguments end the list, in order.
  EXPECT_TRUE(contains(main, "\"false\",\"Pelto'sE2eLifecycle\",")) << main;
  EXPECT_TRUE(main.ends_with(",\"O'Brien\",\"second \\\"argument\\\"\"]}")) << main;
  EXPECT_TRUE(svc.events("stdin").empty()) << svc.record();
  svc.keepRecord(L"service.jsonl");

  r = svc.verb(L"/stop");
  EXPECT_EQ(r.exitCode, 0u) << r.out;
  ASSERT_TRUE(svc.waitFor("stdinDone")) << svc.record();
  std::vector<std::string> read = svc.events("stdin");
  ASSERT_EQ(read.size(), 1u) << svc.record();
  EXPECT_EQ(read[0], "{\"event\":\"stdin\",\"line\":\"0\"}");
  EXPECT_EQ(svc.events("stdinDone")[0], "{\"event\":\"stdinDone\",\"matched\":true}");
  r = svc.waitForStatus(3);
  EXPECT_EQ(r.exitCode, 3u);
  EXPECT_EQ(r.out, "Not running.\n");

  // A restart of the stopped service starts a second child, stopped the same way.
  r = svc.verb(L"/restart", {L"again"});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.out, "Service is already stopped.\nStarting service 'Pelto'sE2eLifecycle'.\n");
  ASSERT_TRUE(svc.waitFor("main", 2)) << svc.record();
  EXPECT_TRUE(svc.events("main")[1].ends_with(",\"again\"]}")) << svc.record();
  r = svc.waitForStatus(0);
  EXPECT_EQ(r.out, "Running.\n");
  r = svc.verb(L"/stop");
  EXPECT_EQ(r.exitCode, 0u) << r.out;
  ASSERT_TRUE(svc.waitFor("stdinDone", 2)) << svc.record();
  EXPECT_EQ(svc.waitForStatus(3).out, "Not running.\n");

  r = svc.verb(L"/uninstall");
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_TRUE(r.out.ends_with("Uninstalled service 'Pelto'sE2eLifecycle'.\n")) << r.out;
  r = svc.verb(L"/status");
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_EQ(r.out, "Could not get status.\n");
}

TEST(ServiceEndToEnd, AChildEndingWithZeroLeavesTheServiceStopped) {
  ServiceLayout svc(L"PeltoE2eEndsZero", "return");
  ASSERT_TRUE(svc.ready());
  LauncherRun installed = svc.verb(L"/install");
  ASSERT_EQ(installed.exitCode, 0u) << installed.out;
  LauncherRun r = svc.verb(L"/start");
  EXPECT_EQ(r.exitCode, 0u) << r.out;
  ASSERT_TRUE(svc.waitFor("destroyJavaVM")) << svc.record();
  r = svc.waitForStatus(3);
  EXPECT_EQ(r.exitCode, 3u);
  EXPECT_EQ(r.out, "Not running.\n");
  EXPECT_TRUE(svc.events("stdin").empty()) << svc.record();
}

std::string utf8(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
  return out;
}

TEST(RunEndToEnd, RunHandsTheOptionsAndNonAnsiArgumentsToTheJvmAndExitsZero) {
  ServiceLayout app(L"PeltoE2eRun", "return");
  ASSERT_TRUE(app.ready());
  const std::wstring first = L"gr\u00fc\u00df", second = L"\u65e5\u672c \u0436";
  LauncherRun r = app.run({L"/run", first, second});
  EXPECT_EQ(r.exitCode, 0u) << r.out << app.record();
  std::vector<std::string> created = app.events("createJavaVM");
  ASSERT_EQ(created.size(), 1u) << app.record();
  const std::string& options = created[0];
  EXPECT_TRUE(contains(options, "\"-Dquorvanex.noRedir=true\"")) << options;
  EXPECT_TRUE(contains(options, "\"-Xmx256m\"")) << options;
  EXPECT_FALSE(contains(options, "\"-Xrs\"")) << options;
  EXPECT_FALSE(contains(options, "pelto.isService")) << options;
  // The included runtime library is extracted and on the class path.
  EXPECT_TRUE(contains(options, "pelto-runtime.jar")) << options;
  std::vector<std::string> main = app.events("main");
  ASSERT_EQ(main.size(), 1u) << app.record();
  EXPECT_TRUE(contains(main[0], "\"com.example.hello.HelloService\"")) << main[0];
  EXPECT_TRUE(main[0].ends_with(",\"" + utf8(first) + "\",\"" + utf8(second) + "\"]}")) << main[0];
  EXPECT_EQ(app.events("destroyJavaVM").size(), 1u) << app.record();
  EXPECT_TRUE(app.events("error").empty()) << app.record();
  app.keepRecord(L"run.jsonl");
  // A launch that ends normally keeps its folder for the application.
  std::string folder = app.launchFolder();
  EXPECT_NE(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES) << folder;

  r = app.run({L"/run-redirect", L"x"});
  EXPECT_EQ(r.exitCode, 0u) << r.out;
  created = app.events("createJavaVM");
  ASSERT_EQ(created.size(), 2u) << app.record();
  EXPECT_FALSE(contains(created[1], "noRedir")) << created[1];
}

TEST(RunEndToEnd, FailedLaunchesShowTheirMessageExitOneAndRemoveTheirFolder) {
  ServiceLayout app(L"PeltoE2eRunFails", "throw java.lang.IllegalStateException: boom");
  ASSERT_TRUE(app.ready());
  LauncherRun r = app.run({L"/run"});
  EXPECT_EQ(r.exitCode, 1u) << r.out << app.record();
  EXPECT_EQ(app.events("exceptionDescribe").size(), 1u) << app.record();
  EXPECT_TRUE(app.events("error").empty()) << app.record();
  std::string folder = app.launchFolder();
  ASSERT_FALSE(folder.empty()) << app.record();
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES) << folder;

  // No launcher class: the configured "main class not found" message.
  app.writeModel("main return\n");
  r = app.run({L"/run"});
  EXPECT_EQ(r.exitCode, 1u) << r.out;
  EXPECT_TRUE(contains(r.out, "The launcher class was not found.")) << r.out;
  EXPECT_TRUE(app.events("error").empty()) << app.record();

  // A mandatory class path entry missing: message 1006 names it, and the folder is gone too.
  app.writeModel("method com/pelto/runtime/WinLauncher main ([Ljava/lang/String;)V\nmain return\n");
  app.removeAppJar();
  r = app.run({L"/run"});
  EXPECT_EQ(r.exitCode, 1u) << r.out;
  EXPECT_TRUE(contains(r.out, "hello-service.jar")) << r.out;

  // No runtime at all: the example's own message 1016, its "{0}" replaced by "64".
  app.removeRuntime();
  r = app.run({L"/run"});
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_TRUE(contains(r.out, "HelloService needs a 64-bit Java runtime, version 11 to 21.")) << r.out;
}

}  // namespace
}  // namespace pelto
