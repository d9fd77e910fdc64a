#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cwctype>

#include <sddl.h>

#include "env/OwnerOnly.h"
#include "env/TextConv.h"
#include "instance/Instance.h"
#include "instance/InstanceName.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"
#include "launcher/ConfigIds.h"
#include "launcher/Log.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

// The keys this test may have brought into being go again once they hold nothing.
void deleteEmptyParents() {
  for (const char* path : {"SOFTWARE\\tarnwick-labs\\pelto\\pids", "SOFTWARE\\tarnwick-labs\\pelto",
                           "SOFTWARE\\tarnwick-labs"}) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &k) != ERROR_SUCCESS) continue;
    DWORD values = 1, keys = 1;
    RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(k);
    if (values == 0 && keys == 0) RegDeleteKeyA(HKEY_CURRENT_USER, path);
  }
}

TEST(InstancePid, StoredAsADwordAndReadBackOnlyAsOne) {
  const std::string key =
      "SOFTWARE\\tarnwick-labs\\pelto-instance-test-" + std::to_string(GetCurrentProcessId());
  EXPECT_EQ(readInstancePid(key, "c:\\absent.exe"), 0u);       // no key yet
  writeInstancePid(key + "\\", "c:\\app dir\\app.exe", 4321);  // a trailing "\" as in the real key
  EXPECT_EQ(readInstancePid(key, "c:\\app dir\\app.exe"), 4321u);
  writeInstancePid(key, "c:\\app dir\\app.exe", 99);  // a later first instance overwrites
  EXPECT_EQ(readInstancePid(key + "\\", "c:\\app dir\\app.exe"), 99u);
  HKEY k = nullptr;
  RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_ALL_ACCESS, &k);
  const DWORD four = 55;
  const unsigned long long eight = 7;
  RegSetValueExA(k, "binary", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&four), 4);  // no process id
  RegSetValueExA(k, "short", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&four), 2);
  RegSetValueExA(k, "qword", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&eight), 8);
  RegCloseKey(k);
  for (const char* name : {"binary", "short", "qword", "c:\\other.exe"})
    EXPECT_EQ(readInstancePid(key, name), 0u);
  RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
  deleteEmptyParents();
}

// The child: a start of this executable in single-instance mode. Exit code 5 means it was let
// through as a first instance.
TEST(InstanceChild, DISABLED_SecondStart) {
  LauncherConfig.strings[10005] = "1";
  const bool serviceChild = GetEnvironmentVariableA("PELTO_TEST_SERVICE_CHILD", nullptr, 0) != 0;
  if (serviceChild) LauncherConfig.strings[config_id::EventLog] = "1";
  // The process ends inside setUpSingleInstance: every line goes out at once.
  setLogCapture([](bool, std::u16string_view text) {
    std::printf("%s\n", utf16ToUtf8(text).c_str());
    std::fflush(stdout);
  });
  setUpSingleInstance(serviceChild);
  ExitProcess(5);
}

// Only a semaphore this account made stands for an instance: one another account made first
// (here LocalService's) lets the start through under this account's own name; this account's
// own stops a service's child with its own code and an event. Run before this process holds the
// name itself.
TEST(SingleInstance, OnlyThisAccountsSemaphoreCounts) {
  const std::string base = instanceSemaphoreBase(executableIdentity(), false);
  struct Case {
    const char* owner;
    bool serviceChild;
    DWORD exitCode;
    const char* says;
  } cases[] = {
      {"O:S-1-5-19D:(A;;GA;;;WD)", false, 5, "belongs to another account"},
      {"O:S-1-5-19D:(A;;GA;;;WD)", true, 5, "belongs to another account"},
      {nullptr, true, AnotherInstanceExitCode,
       "event: type 1 id 9: Another instance of the application runs"},
  };
  for (const Case& c : cases) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(!c.owner ||
                ConvertStringSecurityDescriptorToSecurityDescriptorA(c.owner, SDDL_REVISION_1, &sd, nullptr));
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    OwnerOnlySecurity own;
    HANDLE held = CreateSemaphoreA(c.owner ? &sa : own.attributes(), 1, 1, base.c_str());
    SetEnvironmentVariableA("PELTO_TEST_SERVICE_CHILD", c.serviceChild ? "1" : nullptr);
    test::ChildResult child = test::runCommand(
        L"\"" + test::selfPath() +
            L"\" --gtest_also_run_disabled_tests --gtest_filter=InstanceChild.DISABLED_SecondStart",
        60000);
    SetEnvironmentVariableA("PELTO_TEST_SERVICE_CHILD", nullptr);
    CloseHandle(held);
    LocalFree(sd);
    EXPECT_EQ(child.exitCode, c.exitCode) << child.out;
    EXPECT_NE(child.out.find(c.says), std::string::npos) << child.out;
  }
}

// This process is the first instance; second starts (also through an upper-case path) give
// way with exit code 0 and name it.
TEST(SingleInstance, ASecondStartGivesWayWithExitCodeZero) {
  struct PidValueCleanup {
    ~PidValueCleanup() {
      HKEY k = nullptr;
      if (RegOpenKeyExA(HKEY_CURRENT_USER, InstancePidKey, 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
        RegDeleteValueA(k, executableIdentity().c_str());
        RegCloseKey(k);
      }
      deleteEmptyParents();
    }
  } cleanup;
  test::LogRecorder log;
  LauncherConfig.strings[10005] = "1";
  LauncherConfig.strings.erase(158);
  setUpSingleInstance();
  std::string base = instanceSemaphoreBase(executableIdentity(), false);
  EXPECT_EQ(InstanceSemaphoreName, base);
  EXPECT_TRUE(log.contains("semaphore name " + base + ", code 0, value "));
  ASSERT_EQ(readInstancePid(), GetCurrentProcessId());
  std::string otherPid = "other pid " + std::to_string(GetCurrentProcessId()) + "\n";

  std::wstring upper = test::selfPath();
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  for (const std::wstring& exe : {test::selfPath(), upper}) {
    test::ChildResult second = test::runCommand(
        L"\"" + exe + L"\" --gtest_also_run_disabled_tests --gtest_filter=InstanceChild.DISABLED_SecondStart",
        60000);
    EXPECT_EQ(second.exitCode, 0u) << second.out;
    EXPECT_NE(second.out.find("semaphore name " + base + ", code 183, "), std::string::npos) << second.out;
    EXPECT_NE(second.out.find(otherPid), std::string::npos) << second.out;
  }
}

}  // namespace
}  // namespace pelto
