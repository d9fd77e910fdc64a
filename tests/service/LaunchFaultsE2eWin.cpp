// Faults met by the packed example on its way to the JVM, run as a console user would run it:
// runtimes whose java.exe misbehaves, registry values of the wrong shape, awkward options files.
// Every run must end with its exit code and the JVM created from a usable runtime.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "service/PackedAppWin.h"

namespace pelto {
namespace {

using test::contains;
using test::ExtraRuntime;
using test::LauncherRun;
using test::readWhole;
using test::ScopedEnv;
using test::ServiceLayout;

// A run with the launcher's log on and a TEMP of its own inside the layout (removed with it),
// so that its log and launch folder are easy to find.
struct LoggedRun {
  LauncherRun run;
  std::string log;
  std::vector<std::wstring> launchFolders;  // those this run made and left
};

LoggedRun runLogged(const ServiceLayout& app, const std::vector<std::wstring>& words,
                    std::wstring temp = {}) {
  if (temp.empty()) temp = app.dir() + L"\\tmp";
  CreateDirectoryW(temp.c_str(), nullptr);
  for (const std::wstring& name : test::namesIn(temp, L"qvx_nlog_*.log"))
    DeleteFileW((temp + L"\\" + name).c_str());
  const std::vector<std::wstring> before = test::namesIn(temp, L"plo*.tmp_dir*");
  LoggedRun r;
  {
    ScopedEnv log(L"PELTO_LOG", L"yes");
    ScopedEnv tmp(L"TMP", temp.c_str());
    ScopedEnv tempVar(L"TEMP", temp.c_str());
    r.run = app.run(words);
  }
  for (const std::wstring& name : test::namesIn(temp, L"qvx_nlog_*.log"))
    r.log += readWhole(temp + L"\\" + name);
  for (const std::wstring& name : test::namesIn(temp, L"plo*.tmp_dir*"))
    if (std::find(before.begin(), before.end(), name) == before.end()) r.launchFolders.push_back(name);
  return r;
}

std::vector<std::string> createdIn(const std::wstring& record) {
  std::vector<std::string> lines;
  std::string all = readWhole(record);
  std::size_t pos = 0;
  while (pos < all.size()) {
    std::size_t end = all.find('\n', pos);
    if (end == std::string::npos) end = all.size();
    if (all.compare(pos, 23, "{\"event\":\"createJavaVM\"") == 0) lines.push_back(all.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The "Version" text of a cache entry, or "<none>" when the entry or the value is missing.
std::string cachedVersion(const std::string& java, DWORD* type = nullptr, DWORD* timeSize = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, versionCacheKey(java).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return "<none>";
  char value[256] = {};
  DWORD size = sizeof value - 1, t = 0;
  LONG got = RegQueryValueExA(key, "Version", nullptr, &t, reinterpret_cast<BYTE*>(value), &size);
  if (type) *type = t;
  if (timeSize) {
    DWORD ts = 0, tt = 0;
    *timeSize = RegQueryValueExA(key, "LastWriteTime", nullptr, &tt, nullptr, &ts) == ERROR_SUCCESS &&
                        tt == REG_BINARY
                    ? ts
                    : 0;
  }
  RegCloseKey(key);
  if (got != ERROR_SUCCESS) return "<none>";
  return std::string(value, strnlen(value, size));
}

TEST(LaunchFaults, AJavaExeThatPrintsGarbageOrCrashesIsPassedOverForTheNextPlace) {
  struct Case {
    const char* model;
    const char* cacheAfter;  // what the bad runtime's cache entry holds afterwards
  };
  // Garbage with exit code 0 is a failed probe that records nothing; a crash is a non-zero exit.
  const Case cases[] = {{"garbage\n", "<none>"}, {"crash\n", "1.0.0"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    ServiceLayout app(L"PeltoFaultBadJava", "return");
    ASSERT_TRUE(app.ready());
    app.writeJavaModel(c.model);
    const std::wstring otherRecord = app.dir() + L"\\other-record.jsonl";
    ExtraRuntime other(app.dir() + L"\\other", otherRecord);
    ASSERT_TRUE(other.ready());
    ScopedEnv home(L"HELLO_JAVA_HOME", (app.dir() + L"\\other").c_str());

    LoggedRun r = runLogged(app, {L"/run"});
    EXPECT_EQ(r.run.exitCode, 0u) << r.run.out << r.log;
    EXPECT_EQ(createdIn(otherRecord).size(), 1u) << readWhole(otherRecord) << r.log;
    EXPECT_TRUE(app.events("createJavaVM").empty()) << app.record();
    EXPECT_TRUE(contains(r.log, "couldn't get version")) << r.log;
    EXPECT_EQ(cachedVersion(app.javaExe()), c.cacheAfter);
  }
}

TEST(LaunchFaults, WithNoUsableRuntimeLeftTheRunEndsWithItsMessageAndLeavesNoFolder) {
  ServiceLayout app(L"PeltoFaultNoJava", "return");
  ASSERT_TRUE(app.ready());
  // The runtime beside the application would be taken as a last resort whatever its probe
  // says; without it only a crashing one named by the environment is left.
  app.removeRuntime();
  const std::wstring otherRecord = app.dir() + L"\\other-record.jsonl";
  ExtraRuntime other(app.dir() + L"\\other", otherRecord);
  ASSERT_TRUE(other.ready());
  app.writeFile(L"other\\bin\\java-double.txt", "crash\n");
  ScopedEnv home(L"HELLO_JAVA_HOME", (app.dir() + L"\\other").c_str());
  ScopedEnv javaHome(L"JAVA_HOME", std::nullopt);
  LoggedRun r = runLogged(app, {L"/run"});
  EXPECT_EQ(r.run.exitCode, 1u) << r.run.out << r.log;
  EXPECT_TRUE(contains(r.run.out, "HelloService needs a 64-bit Java runtime, version 11 to 21."))
      << r.run.out;
  EXPECT_TRUE(contains(r.log, "Exit Code -1073741819")) << r.log;
  EXPECT_TRUE(readWhole(otherRecord).empty()) << readWhole(otherRecord);
  EXPECT_TRUE(r.launchFolders.empty()) << test::narrow(r.launchFolders.front());
  // Neither the probe's output file nor a borrowed temporary name is left either.
  EXPECT_TRUE(test::namesIn(app.dir() + L"\\tmp", L"plo*").empty());
}

FILETIME lastWriteTime(const std::string& path) {
  WIN32_FIND_DATAA found{};
  HANDLE h = FindFirstFileA(path.c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
  return found.ftLastWriteTime;
}

TEST(LaunchFaults, VersionCacheValuesOfTheWrongShapeLeadToAFreshProbe) {
  ServiceLayout app(L"PeltoFaultCache", "return");
  ASSERT_TRUE(app.ready());
  const std::string java = app.javaExe();
  const FILETIME time = lastWriteTime(java);
  const std::string longVersion(7000, '1');
  const DWORD eleven = 11;
  struct Value {
    const char* name;
    DWORD type;
    const void* data;
    DWORD size;
  };
  struct Case {
    const char* what;
    std::vector<Value> values;
    bool probed;
  };
  const Case cases[] = {
      // The control: a matching entry is used as it is, no child is started.
      {"matching entry", {{"LastWriteTime", REG_BINARY, &time, 8}, {"Version", REG_SZ, "11.0.2", 6}}, false},
      {"time of 4 bytes", {{"LastWriteTime", REG_BINARY, &time, 4}, {"Version", REG_SZ, "11.0.2", 6}}, true},
      {"time as a DWORD", {{"LastWriteTime", REG_DWORD, &time, 4}, {"Version", REG_SZ, "11.0.2", 6}}, true},
      {"time of 9 bytes",
       {{"LastWriteTime", REG_BINARY, longVersion.data(), 9}, {"Version", REG_SZ, "11.0.2", 6}},
       true},
      {"version as a DWORD",
       {{"LastWriteTime", REG_BINARY, &time, 8}, {"Version", REG_DWORD, &eleven, 4}},
       true},
      {"version as binary",
       {{"LastWriteTime", REG_BINARY, &time, 8}, {"Version", REG_BINARY, "11.0.2", 6}},
       true},
      {"overlong version",
       {{"LastWriteTime", REG_BINARY, &time, 8},
        {"Version", REG_SZ, longVersion.data(), static_cast<DWORD>(longVersion.size())}},
       true},
  };
  std::size_t launches = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::deleteKeyTree(HKEY_CURRENT_USER, versionCacheKey(java));
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, versionCacheKey(java).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const Value& v : c.values)
      RegSetValueExA(key, v.name, 0, v.type, static_cast<const BYTE*>(v.data), v.size);
    RegCloseKey(key);
    const std::wstring probeLog = app.dir() + L"\\jre\\bin\\java-double.log";
    DeleteFileW(probeLog.c_str());

    LauncherRun r = app.run({L"/run"});
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(app.events("createJavaVM").size(), ++launches) << app.record();
    EXPECT_EQ(contains(readWhole(probeLog), "run options="), c.probed) << readWhole(probeLog);
    DWORD type = 0, timeSize = 0;
    std::string version = cachedVersion(java, &type, &timeSize);
    if (c.probed) {
      // The probe's result replaced the entry.
      EXPECT_EQ(version, "17.0.2");
      EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
      EXPECT_EQ(timeSize, 8u);
    } else {
      EXPECT_EQ(version, "11.0.2");
    }
  }
}

TEST(LaunchFaults, AProcessIdEntryOfTheWrongTypeIsReplacedByTheLaunchersOwn) {
  ServiceLayout app(L"PeltoFaultPid", "return");
  ASSERT_TRUE(app.ready());
  std::string exe = test::narrow(app.dir() + L"\\HelloService.exe");
  CharLowerBuffA(exe.data(), static_cast<DWORD>(exe.size()));
  const char* pids = "SOFTWARE\\tarnwick-labs\\pelto\\pids\\";
  struct Case {
    DWORD type;
    const char* data;
    DWORD size;
  };
  const Case cases[] = {
      {REG_SZ, "not a number", 13}, {REG_BINARY, "\x01\x02", 2}, {REG_QWORD, "12345678", 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, pids, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, exe.c_str(), 0, c.type, reinterpret_cast<const BYTE*>(c.data), c.size);
    LauncherRun r = app.run({L"/run"});
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    DWORD type = 0, value = 0, size = sizeof value;
    EXPECT_EQ(RegQueryValueExA(key, exe.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_NE(value, 0u);
    RegDeleteValueA(key, exe.c_str());
    RegCloseKey(key);
  }
  EXPECT_FALSE(app.events("createJavaVM").empty()) << app.record();
}

TEST(LaunchFaults, AwkwardDefaultOptionsFilesNeverStopTheLaunch) {
  ServiceLayout app(L"PeltoFaultVmOptions", "return");
  ASSERT_TRUE(app.ready());
  const std::wstring options = app.dir() + L"\\HelloService.vmoptions";

  // A directory of that name: nothing to read, the launch goes on.
  ASSERT_TRUE(CreateDirectoryW(options.c_str(), nullptr));
  LoggedRun r = runLogged(app, {L"/run"});
  EXPECT_EQ(r.run.exitCode, 0u) << r.run.out << r.log;
  ASSERT_EQ(app.events("createJavaVM").size(), 1u) << app.record();
  EXPECT_TRUE(contains(r.log, "vmoptions2: exe")) << r.log;
  RemoveDirectoryW(options.c_str());

  // A file another process holds without sharing: skipped like a missing one.
  app.writeFile(L"HelloService.vmoptions", "-Dlocked.option=1\n");
  HANDLE locked =
      CreateFileW(options.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  LauncherRun plain = app.run({L"/run"});
  CloseHandle(locked);
  EXPECT_EQ(plain.exitCode, 0u) << plain.out;
  std::vector<std::string> created = app.events("createJavaVM");
  ASSERT_EQ(created.size(), 2u) << app.record();
  EXPECT_FALSE(contains(created[1], "locked.option")) << created[1];

  // No line feed after the last line: that line still counts.
  app.writeFile(L"HelloService.vmoptions", "-Dfirst.option=1\r\n-Dlast.option=2");
  plain = app.run({L"/run"});
  EXPECT_EQ(plain.exitCode, 0u) << plain.out;
  created = app.events("createJavaVM");
  ASSERT_EQ(created.size(), 3u) << app.record();
  EXPECT_TRUE(contains(created[2], "\"-Dfirst.option=1\"")) << created[2];
  EXPECT_TRUE(contains(created[2], "\"-Dlast.option=2\"")) << created[2];

  // Two files including each other: each is read once and the skip is logged.
  app.writeFile(L"HelloService.vmoptions", "-include-options conf\\a.vmoptions\n");
  app.writeFile(L"conf\\a.vmoptions", "-Da.option=1\n-include-options b.vmoptions\n");
  app.writeFile(L"conf\\b.vmoptions", "-Db.option=1\n-include-options a.vmoptions\n");
  r = runLogged(app, {L"/run"});
  EXPECT_EQ(r.run.exitCode, 0u) << r.run.out << r.log;
  created = app.events("createJavaVM");
  ASSERT_EQ(created.size(), 4u) << app.record();
  EXPECT_EQ(count(created[3], "\"-Da.option=1\""), 1u) << created[3];
  EXPECT_EQ(count(created[3], "\"-Db.option=1\""), 1u) << created[3];
  EXPECT_TRUE(contains(r.log, "a.vmoptions includes itself; include skipped")) << r.log;
}

TEST(LaunchFaults, PriorityValuesOfTheWrongShapeStillLetTheServiceRun) {
  struct Case {
    const char* what;
    DWORD type;
    BYTE data[8];
    DWORD size;
  };
  // 0x24 is the normal class with the flag that starts a process suspended.
  const Case cases[] = {{"eight bytes", REG_QWORD, {0x80}, 8},
                        {"flags beside the class", REG_DWORD, {0x24}, 4}};
  // The service's child probes the runtime with a temporary output file in the service's
  // TEMP (the test's own); none may be left behind.
  wchar_t tempBuffer[MAX_PATH];
  const std::wstring temp(tempBuffer, GetTempPathW(MAX_PATH, tempBuffer));
  const std::vector<std::wstring> before = test::namesIn(temp, L"plo*.tmp");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ServiceLayout svc(L"PeltoFaultPriority", "stdin 0");
    ASSERT_TRUE(svc.ready());
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tarnwick-labs\\pelto\\priority", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"PeltoFaultPriority", 0, c.type, c.data, c.size);
    LauncherRun r = svc.verb(L"/install");
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    r = svc.verb(L"/start");
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_TRUE(svc.waitFor("main", 1, 20000)) << svc.record();
    r = svc.waitForStatus(0);
    EXPECT_TRUE(r.out.starts_with("Running.\nChild process ")) << r.out;
    r = svc.verb(L"/stop");
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_TRUE(svc.waitFor("stdinDone", 1, 20000)) << svc.record();
    RegDeleteValueW(key, L"PeltoFaultPriority");
    RegCloseKey(key);
    if (disposition == REG_CREATED_NEW_KEY)
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tarnwick-labs\\pelto\\priority");
  }
  // Probe files of launches running beside this test live for moments only: count those that stay.
  Sleep(1000);
  for (const std::wstring& name : test::namesIn(temp, L"plo*.tmp")) {
    if (std::find(before.begin(), before.end(), name) != before.end()) continue;
    if (!contains(readWhole(temp + name), "openjdk version")) continue;
    Sleep(1000);
    EXPECT_EQ(GetFileAttributesW((temp + name).c_str()), INVALID_FILE_ATTRIBUTES) << test::narrow(name);
  }
}

TEST(LaunchFaults, ATempVariableNamingAFileFallsBackToAnotherTemporaryDirectory) {
  ServiceLayout app(L"PeltoFaultTemp", "return");
  ASSERT_TRUE(app.ready());
  // A plain file where the temporary directory should be: nothing can be made inside it.
  const std::wstring blocked = app.dir() + L"\\not-a-dir";
  app.writeFile(L"not-a-dir", "x");
  LauncherRun r;
  {
    ScopedEnv tmp(L"TMP", blocked.c_str());
    ScopedEnv tempVar(L"TEMP", blocked.c_str());
    r = app.run({L"/run"});
  }
  EXPECT_EQ(r.exitCode, 0u) << r.out;
  ASSERT_EQ(app.events("createJavaVM").size(), 1u) << app.record();
  std::string folder = app.launchFolder();
  EXPECT_TRUE(contains(folder, ".tmp_dir")) << folder;
  EXPECT_FALSE(contains(folder, "not-a-dir")) << folder;
  EXPECT_NE(GetFileAttributesA((folder + "\\doc\\README.txt").c_str()), INVALID_FILE_ATTRIBUTES) << folder;
}

TEST(LaunchFaults, InstallationValuesOfTheWrongShapeAreNoRuntime) {
  ServiceLayout app(L"PeltoFaultInstalls", "return");
  ASSERT_TRUE(app.ready());
  // Nothing else to find, so the search reaches the application's previous installations.
  app.removeRuntime();
  ScopedEnv home(L"HELLO_JAVA_HOME", std::nullopt);
  ScopedEnv javaHome(L"JAVA_HOME", std::nullopt);
  const std::wstring otherRecord = app.dir() + L"\\other-record.jsonl";
  ExtraRuntime installed(app.dir() + L"\\inst\\jre", otherRecord);
  ASSERT_TRUE(installed.ready());
  const std::string dir = test::narrow(app.dir() + L"\\inst");
  const std::string overlong(7000, 'x');

  const char* parent = "SOFTWARE\\tarnwick-labs\\quorvanex";
  HKEY probe = nullptr;
  const bool hadParent = RegOpenKeyExA(HKEY_CURRENT_USER, parent, 0, KEY_READ, &probe) == ERROR_SUCCESS;
  if (probe) RegCloseKey(probe);
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\tarnwick-labs\\quorvanex\\installations", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  struct Case {
    const char* what;
    DWORD type;
    const char* data;
    DWORD size;
    bool found;
  };
  const Case cases[] = {
      {"text with its NUL", REG_SZ, dir.c_str(), static_cast<DWORD>(dir.size() + 1), true},
      {"text without a NUL", REG_SZ, dir.c_str(), static_cast<DWORD>(dir.size()), true},
      {"a DWORD", REG_DWORD, "\x01\0\0\0", 4, false},
      {"the text as binary", REG_BINARY, dir.c_str(), static_cast<DWORD>(dir.size()), false},
      {"an overlong text", REG_SZ, overlong.c_str(), static_cast<DWORD>(overlong.size() + 1), false},
  };
  std::size_t launches = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegSetValueExA(key, "com.example.hello", 0, c.type, reinterpret_cast<const BYTE*>(c.data), c.size);
    LoggedRun r = runLogged(app, {L"/run"});
    if (c.found) {
      EXPECT_EQ(r.run.exitCode, 0u) << r.run.out << r.log;
      EXPECT_EQ(createdIn(otherRecord).size(), ++launches) << readWhole(otherRecord) << r.log;
      EXPECT_TRUE(contains(r.log, "found JRE from previous installation (user)")) << r.log;
    } else {
      EXPECT_EQ(r.run.exitCode, 1u) << r.run.out << r.log;
      EXPECT_TRUE(contains(r.run.out, "HelloService needs a 64-bit Java runtime, version 11 to 21."))
          << r.run.out;
      EXPECT_EQ(createdIn(otherRecord).size(), launches) << readWhole(otherRecord);
      EXPECT_TRUE(r.launchFolders.empty()) << test::narrow(r.launchFolders.front());
    }
  }
  RegDeleteValueA(key, "com.example.hello");
  RegCloseKey(key);
  if (!hadParent)
    test::deleteKeyTree(HKEY_CURRENT_USER, parent);
  else if (disposition == REG_CREATED_NEW_KEY)
    test::deleteKeyTree(HKEY_CURRENT_USER, "SOFTWARE\\tarnwick-labs\\quorvanex\\installations");
}

// The launch folder's narrow path still fits the 260 characters of the system's narrow file
// functions, the included files' targets inside it (its "doc\\README.txt" and runtime jar) do
// not: they cannot be created.
TEST(LaunchFaults, AnIncludedFileThatCannotBeCreatedEndsTheRunAndRemovesTheFolder) {
  ServiceLayout app(L"PeltoFaultExtract", "return");
  ASSERT_TRUE(app.ready());
  std::wstring temp = app.dir() + L"\\t";
  while (temp.size() < 228) temp += L'x';
  temp.resize(228);
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  LoggedRun r = runLogged(app, {L"/run"}, temp);
  EXPECT_EQ(r.run.exitCode, 1u) << r.run.out << r.log;
  EXPECT_TRUE(contains(r.run.out, "The application could not be started (internal error 11).")) << r.run.out;
  EXPECT_TRUE(contains(r.log, "\\doc\\README.txt (size: ")) << r.log;
  EXPECT_TRUE(app.events("createJavaVM").empty()) << app.record();
  EXPECT_TRUE(r.launchFolders.empty()) << test::narrow(r.launchFolders.front());
  // Nor the empty file that lent the folder its name.
  std::vector<std::wstring> left = test::namesIn(temp, L"plo*");
  EXPECT_TRUE(left.empty()) << test::narrow(left.front());
}

}  // namespace
}  // namespace pelto
