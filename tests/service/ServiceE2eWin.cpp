// The packed example service end to end under Wine's Service Control Manager: the service
// process starts its child, the child loads a runtime laid out beside it (the java.exe and
// jvm.dll doubles) and the JVM double records what it was given. A service does not inherit
// the test's environment, so the doubles find their model and record file beside them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "jre/RuntimeLayoutWin.h"
#include "launcher/ChildProcessWin.h"
#include "service/LauncherRunWin.h"
#include "support/DoublesWin.h"

namespace pelto {
namespace {

const std::wstring PackedExe = PELTO_SERVICE_E2E_EXE;

using test::LauncherRun;
using test::runLauncher;

std::string narrow(const std::wstring& w) {
  return std::string(w.begin(), w.end());
}

// One packed service in a folder of its own with a runtime beside it; stopped, uninstalled and
// removed again however the test ends.
class ServiceLayout {
 public:
  ServiceLayout(std::wstring name, const std::string& mainAction) : name_(std::move(name)) {
    dir_ = test::uniqueDir(L"svcapp");
    exe_ = dir_ + L"\\HelloService.exe";
    record_ = dir_ + L"\\jvm-record.jsonl";
    test::makeDirs(dir_);
    copied_ = CopyFileW(PackedExe.c_str(), exe_.c_str(), FALSE) != 0;
    test::writeText(dir_ + L"\\lib\\hello-service.jar", "placeholder");
    const std::wstring bin = dir_ + L"\\jre\\bin\\";
    copied_ = test::copyDouble(L"java", L"java.exe", bin + L"java.exe") && copied_;
    copied_ = test::copyDouble(L"jvm", L"jvm.dll", bin + L"server\\jvm.dll") && copied_;
    test::writeText(bin + L"java-double.txt", "0\nopenjdk version \"17.0.2\" 2022-01-18\n");
    std::string model = "method com/pelto/runtime/WinLauncher main ([Ljava/lang/String;)V\n";
    model += "main " + mainAction + "\n";
    model += "record " + narrow(record_) + "\n";
    test::writeText(bin + L"server\\jvm-double.txt", model);
    runLauncher(exe_, {L"/uninstall", name_});  // a leftover of an earlier, aborted run
  }
  ~ServiceLayout() {
    runLauncher(exe_, {L"/stop", name_});
    runLauncher(exe_, {L"/uninstall", name_});
    std::string java = narrow(dir_ + L"\\jre\\bin\\java.exe");
    CharLowerBuffA(java.data(), static_cast<DWORD>(java.size()));
    test::deleteKeyTree(HKEY_CURRENT_USER, versionCacheKey(java));
    // A child that ends normally leaves its launch's temporary folder in place by design.
    for (const std::string& line : events("createJavaVM")) {
      const std::string tag = "\"-Dpelto.tempDir=";
      std::size_t at = line.find(tag);
      if (at == std::string::npos) continue;
      at += tag.size();
      std::string dir = line.substr(at, line.find('"', at) - at);
      std::string plain;
      for (std::size_t i = 0; i < dir.size(); ++i) {
        if (dir[i] == '\\' && i + 1 < dir.size()) ++i;  // JSON escapes of the backslashes
        plain += dir[i];
      }
      if (plain.find(".tmp_dir") != std::string::npos) test::removeTreeA(plain);
    }
    // The child may take a moment to let go of its files after a stop.
    for (int i = 0; i < 20; ++i) {
      test::removeTreeA(narrow(dir_));
      if (GetFileAttributesW(dir_.c_str()) == INVALID_FILE_ATTRIBUTES) break;
      Sleep(250);
    }
  }
  ServiceLayout(const ServiceLayout&) = delete;
  ServiceLayout& operator=(const ServiceLayout&) = delete;

  bool ready() const { return copied_; }
  // The packed executable run with these words, as from a console.
  LauncherRun run(const std::vector<std::wstring>& words) const { return runLauncher(exe_, words); }
  void removeAppJar() const { DeleteFileW((dir_ + L"\\lib\\hello-service.jar").c_str()); }
  void removeRuntime() const { test::removeTreeA(narrow(dir_ + L"\\jre")); }
  void writeModel(const std::string& model) const {
    test::writeText(dir_ + L"\\jre\\bin\\server\\jvm-double.txt", model + "record " + narrow(record_) + "\n");
  }
  // The per-launch folder the JVM was told of (JSON escapes undone), or "".
  std::string launchFolder() const {
    for (const std::string& line : events("createJavaVM")) {
      const std::string tag = "\"-Dpelto.tempDir=";
      std::size_t at = line.find(tag);
      if (at == std::string::npos) continue;
      at += tag.size();
      std::string plain;
      for (std::size_t i = at; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        plain += line[i];
      }
      return plain;
    }
    return {};
  }
  LauncherRun verb(const wchar_t* verb, std::vector<std::wstring> more = {}) const {
    more.insert(more.begin(), {verb, name_});
    return runLauncher(exe_, more);
  }
  std::string record() const { return test::readWhole(record_); }
  // Keeps the record for the Java contract test, which replays it on a real JVM.
  void keepRecord(const wchar_t* name) const {
    CopyFileW(record_.c_str(), (std::wstring(PELTO_JVM_RECORDS_DIR) + L"\\" + name).c_str(), FALSE);
  }
  // The record's lines holding `event`.
  std::vector<std::string> events(const std::string& event) const {
    std::vector<std::string> lines;
    std::string all = record();
    std::string tag = "{\"event\":\"" + event + "\"";
    std::size_t pos = 0;
    while (pos < all.size()) {
      std::size_t end = all.find('\n', pos);
      if (end == std::string::npos) end = all.size();
      std::string line = all.substr(pos, end - pos);
      if (line.rfind(tag, 0) == 0) lines.push_back(line);
      pos = end + 1;
    }
    return lines;
  }
  // Waits until the record holds `count` lines of `event`.
  bool waitFor(const std::string& event, std::size_t count = 1, int ms = 30000) const {
    for (int waited = 0; waited < ms; waited += 100) {
      if (events(event).size() >= count) return true;
      Sleep(100);
    }
    return false;
  }
  // The process the manager names for the service (0 when it names none).
  DWORD processId() const {
    DWORD pid = 0;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, name_.c_str(), SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (service && QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                        sizeof status, &needed))
      pid = status.dwProcessId;
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return pid;
  }
  // Waits until /status gives `exitCode`.
  LauncherRun waitForStatus(DWORD exitCode, int ms = 30000) const {
    LauncherRun r;
    for (int waited = 0; waited < ms; waited += 250) {
      r = verb(L"/status");
      if (r.exitCode == exitCode) break;
      Sleep(250);
    }
    return r;
  }

 private:
  std::wstring name_, dir_, exe_, record_;
  bool copied_ = false;
};

// Whether process `pid` is gone within `ms`.
bool processEnds(DWORD pid, DWORD ms) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process any more
  bool ended = WaitForSingleObject(process, ms) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(ServiceEndToEnd, StartGivesTheJvmServiceOptionsAndArgumentsAndStopSendsTheStopLine) {
  ServiceLayout svc(L"PeltoE2eLifecycle", "stdin 0");
  ASSERT_TRUE(svc.ready());
  LauncherRun r = svc.verb(L"/install");
  ASSERT_EQ(r.exitCode, 0u) << r.out;

  r = svc.verb(L"/start", {L"first", L"second argument"});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.out, "Starting service 'PeltoE2eLifecycle'.\n");
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
  EXPECT_TRUE(contains(main, "\"false\",\"PeltoE2eLifecycle\",")) << main;
  EXPECT_TRUE(main.ends_with(",\"first\",\"second argument\"]}")) << main;
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
  EXPECT_EQ(r.out, "Service is already stopped.\nStarting service 'PeltoE2eLifecycle'.\n");
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
  EXPECT_TRUE(r.out.ends_with("Uninstalled service 'PeltoE2eLifecycle'.\n")) << r.out;
  r = svc.verb(L"/status");
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_EQ(r.out, "Could not get status.\n");
}

TEST(ServiceEndToEnd, AChildEndingWithZeroLeavesTheServiceStopped) {
  ServiceLayout svc(L"PeltoE2eEndsZero", "return");
  ASSERT_TRUE(svc.ready());
  ASSERT_EQ(svc.verb(L"/install").exitCode, 0u);
  LauncherRun r = svc.verb(L"/start");
  EXPECT_EQ(r.exitCode, 0u) << r.out;
  ASSERT_TRUE(svc.waitFor("destroyJavaVM")) << svc.record();
  r = svc.waitForStatus(3);
  EXPECT_EQ(r.exitCode, 3u);
  EXPECT_EQ(r.out, "Not running.\n");
  EXPECT_TRUE(svc.events("stdin").empty()) << svc.record();
}

TEST(ServiceEndToEnd, AChildEndingWithOneGetsNoStoppedReport) {
  ServiceLayout svc(L"PeltoE2eEndsOne", "exit 1");
  ASSERT_TRUE(svc.ready());
  ASSERT_EQ(svc.verb(L"/install").exitCode, 0u);
  LauncherRun r = svc.verb(L"/start");
  EXPECT_EQ(r.exitCode, 0u) << r.out;
  ASSERT_TRUE(svc.waitFor("exit")) << svc.record();
  EXPECT_EQ(svc.events("exit")[0], "{\"event\":\"exit\",\"code\":1}");
  // The service process ends without reporting stopped; the manager keeps it running with a
  // dead process, so stopping it fails while starting it again works.
  DWORD pid = svc.processId();
  ASSERT_NE(pid, 0u);
  EXPECT_TRUE(processEnds(pid, 20000)) << pid;
  r = svc.verb(L"/status");
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.out, "Running.\n");
  r = svc.verb(L"/stop");
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_EQ(r.out, "Could not stop service.\n");
  r = svc.verb(L"/start");
  EXPECT_EQ(r.exitCode, 0u) << r.out;
  EXPECT_TRUE(svc.waitFor("exit", 2)) << svc.record();
}

// The run verbs host the JVM in the launcher's own process.
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
