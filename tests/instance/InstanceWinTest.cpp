#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cwctype>
#include <functional>

#include "env/Handles.h"
#include "env/TextConv.h"
#include "instance/Instance.h"
#include "instance/InstanceName.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"
#include "launcher/Log.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

// Removes a key of HKEY_CURRENT_USER only when it holds neither values nor subkeys.
void deleteIfEmpty(const char* path) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &k) != ERROR_SUCCESS) return;
  DWORD values = 1, keys = 1;
  RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(k);
  if (values == 0 && keys == 0) RegDeleteKeyA(HKEY_CURRENT_USER, path);
}

void deleteEmptyParents() {
  deleteIfEmpty("SOFTWARE\\tarnwick-labs\\pelto\\pids");
  deleteIfEmpty("SOFTWARE\\tarnwick-labs\\pelto");
  deleteIfEmpty("SOFTWARE\\tarnwick-labs");
}

std::string scratchKey() {
  return "SOFTWARE\\tarnwick-labs\\pelto-instance-test-" + std::to_string(GetCurrentProcessId());
}

struct ScratchKey {
  std::string key = scratchKey();
  ~ScratchKey() {
    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    deleteEmptyParents();
  }
  void set(const char* name, DWORD type, const void* data, DWORD size) const {
    HKEY k = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(k);
  }
};

TEST(InstancePid, StoredAsFourBytesAndReadBackOnlyWhenExactlyFour) {
  ScratchKey scratch;
  EXPECT_EQ(readInstancePid(scratch.key, "c:\\absent.exe"), 0u);       // no key yet
  writeInstancePid(scratch.key + "\\", "c:\\app dir\\app.exe", 4321);  // a trailing "\" as in the real key
  EXPECT_EQ(readInstancePid(scratch.key, "c:\\app dir\\app.exe"), 4321u);
  EXPECT_EQ(readInstancePid(scratch.key + "\\", "c:\\app dir\\app.exe"), 4321u);
  writeInstancePid(scratch.key, "c:\\app dir\\app.exe", 99);  // a later first instance overwrites
  EXPECT_EQ(readInstancePid(scratch.key, "c:\\app dir\\app.exe"), 99u);
  EXPECT_EQ(readInstancePid(scratch.key, "c:\\other.exe"), 0u);

  unsigned long long wide = 7;
  scratch.set("qword", REG_QWORD, &wide, 8);
  EXPECT_EQ(readInstancePid(scratch.key, "qword"), 0u);
  unsigned short narrow = 7;
  scratch.set("short", REG_BINARY, &narrow, 2);
  EXPECT_EQ(readInstancePid(scratch.key, "short"), 0u);
  DWORD four = 55;
  scratch.set("binary", REG_BINARY, &four, 4);  // four bytes of another type are no process id
  EXPECT_EQ(readInstancePid(scratch.key, "binary"), 0u);
  scratch.set("text", REG_SZ, "123", 4);
  EXPECT_EQ(readInstancePid(scratch.key, "text"), 0u);
}

std::string scratchBase(const char* prefix) {
  return std::string(prefix) + "pelto-instance-test-" + std::to_string(GetCurrentProcessId()) + "_";
}

TEST(InstanceSemaphore, LowestFreeSuffixAmongLiveSemaphores) {
  for (const char* prefix : {"Local\\", "Global\\"}) {
    std::string base = scratchBase(prefix);
    ClaimedSemaphore a = claimInstanceSemaphore(base);
    ClaimedSemaphore b = claimInstanceSemaphore(base);
    ClaimedSemaphore c = claimInstanceSemaphore(base);
    UniqueHandle ha(static_cast<HANDLE>(a.handle)), hb(static_cast<HANDLE>(b.handle)),
        hc(static_cast<HANDLE>(c.handle));
    EXPECT_EQ(a.name, base + "0");
    EXPECT_EQ(b.name, base + "1");
    EXPECT_EQ(c.name, base + "2");
    EXPECT_TRUE(ha && hb && hc);
    EXPECT_EQ(c.lastError, 0u);
    ha.reset();  // the first instance ends: its name is free again
    ClaimedSemaphore again = claimInstanceSemaphore(base);
    UniqueHandle hAgain(static_cast<HANDLE>(again.handle));
    EXPECT_EQ(again.name, base + "0");
    ClaimedSemaphore next = claimInstanceSemaphore(base);
    UniqueHandle hNext(static_cast<HANDLE>(next.handle));
    EXPECT_EQ(next.name, base + "3");
  }
}

// --- A second process of this executable ---------------------------------------------------

using test::ChildResult;
using test::selfPath;

// Starts the executable at exe with the second start selected; whileRunning runs once after
// the start.
ChildResult runChild(const std::wstring& exe, const wchar_t* activate,
                     const std::function<void()>& whileRunning = {}) {
  test::ScopedEnv flag(L"PELTO_TEST_ACTIVATE", std::wstring(activate));
  return test::runCommand(
      L"\"" + exe + L"\" --gtest_also_run_disabled_tests --gtest_filter=InstanceChild.DISABLED_SecondStart",
      60000, whileRunning);
}

// The child: a start of the same executable in single-instance mode. Exit code 5 means it was
// let through as a first instance.
TEST(InstanceChild, DISABLED_SecondStart) {
  LauncherConfig.strings[10005] = "1";
  wchar_t activate[4] = L"0";
  GetEnvironmentVariableW(L"PELTO_TEST_ACTIVATE", activate, 4);
  LauncherConfig.strings[10007] = activate[0] == L'1' ? "1" : "0";
  // The process ends inside setUpSingleInstance: every line goes out at once.
  setLogCapture([](bool, std::u16string_view text) {
    std::string line = utf16ToUtf8(text);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  });
  setUpSingleInstance();
  std::printf("first instance %s\n", InstanceSemaphoreName.c_str());
  std::fflush(stdout);
  ExitProcess(5);
}

std::wstring upperCase(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towupper(c));
  return s;
}

// This process as the first instance, once: a second call would find its own semaphore and
// give way.
void becomeFirstInstance() {
  static bool done = false;
  if (done) return;
  done = true;
  LauncherConfig.strings[10005] = "1";
  LauncherConfig.strings.erase(158);
  setUpSingleInstance();
}

struct PidValueCleanup {
  ~PidValueCleanup() {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, InstancePidKey, 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
      RegDeleteValueA(k, executableIdentity().c_str());
      RegCloseKey(k);
    }
    deleteEmptyParents();
  }
};

TEST(SingleInstance, ASecondStartGivesWayWithExitCodeZero) {
  PidValueCleanup cleanup;
  test::LogRecorder log;
  becomeFirstInstance();
  std::string base = instanceSemaphoreBase(executableIdentity(), false);
  EXPECT_EQ(InstanceSemaphoreName, base);
  EXPECT_TRUE(log.contains("single instance mode"));
  EXPECT_TRUE(log.contains("semaphore name " + base + ", code 0, value "));
  DWORD self = GetCurrentProcessId();
  ASSERT_EQ(readInstancePid(), self);
  std::string otherPid = "other pid " + std::to_string(self);

  ChildResult second = runChild(selfPath(), L"0");
  EXPECT_EQ(second.exitCode, 0u) << second.out;
  EXPECT_NE(second.out.find("semaphore name " + base + ", code 183, "), std::string::npos) << second.out;
  EXPECT_NE(second.out.find(otherPid + "\n"), std::string::npos) << second.out;
  EXPECT_NE(second.out.find("exiting"), std::string::npos) << second.out;
  EXPECT_EQ(second.out.find("found window"), std::string::npos) << second.out;  // activation is off

  // The same executable through an upper-case path is the same instance.
  ChildResult upper = runChild(upperCase(selfPath()), L"0");
  EXPECT_EQ(upper.exitCode, 0u) << upper.out;
  EXPECT_NE(upper.out.find(otherPid + "\n"), std::string::npos) << upper.out;

  // A first instance that has not yet stored its id: the second one polls and takes what
  // appears in time.
  writeInstancePid(InstancePidKey, executableIdentity(), 0);
  ChildResult late = runChild(selfPath(), L"0", [] {
    Sleep(700);
    writeInstancePid(InstancePidKey, executableIdentity(), 4242);
  });
  EXPECT_EQ(late.exitCode, 0u) << late.out;
  EXPECT_NE(late.out.find("other pid 4242\n"), std::string::npos) << late.out;
}

}  // namespace
}  // namespace pelto
