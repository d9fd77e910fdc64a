// A packed launcher whose only search place is the registry, run as a separate process with
// the runtime's values stored in shapes it must not trust. The keys are the real ones, so the
// test holds the registry lock against the in-process registry tests (see CMakeLists.txt).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "service/PackedAppWin.h"

namespace pelto {
namespace {

using test::ExtraRuntime;
using test::LauncherRun;
using test::ScopedRegKey;

const std::wstring RegistryExe = PELTO_REGISTRY_SEARCH_EXE;
const std::string Jdk = "SOFTWARE\\JavaSoft\\JDK";
const std::string Located = "SOFTWARE\\tarnwick-labs\\pelto\\locatedjvms";

std::vector<unsigned char> bytesOf(const std::string& text) {
  return std::vector<unsigned char>(text.begin(), text.end());
}

// A JavaHome or CurrentVersion of the wrong type or size, the runtime it would name otherwise
// being usable: the search finds nothing, the run ends with the no-runtime message and leaves
// no launch folder; the same key with a sound value then starts the JVM.
TEST(RegistrySearch, ValuesOfTheWrongShapeAreNoRuntime) {
  HKEY probe;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft", 0, KEY_READ, &probe) == ERROR_SUCCESS) {
    RegCloseKey(probe);
    GTEST_SKIP() << "a Java runtime is registered on this machine";
  }
  const std::wstring dir = test::uniqueDir(L"regsearch");
  const std::wstring exe = dir + L"\\RegistrySearch.exe", record = dir + L"\\record.jsonl";
  const std::wstring temp = dir + L"\\temp";
  test::makeDirs(temp);
  ASSERT_TRUE(CopyFileW(RegistryExe.c_str(), exe.c_str(), FALSE));
  const std::wstring home = dir + L"\\rt";
  {
    ExtraRuntime runtime(home, record);
    ASSERT_TRUE(runtime.ready());
    test::ScopedEnv tmp(L"TMP", temp);
    test::ScopedEnv tempVar(L"TEMP", temp);
    const std::string homeText = test::narrow(home);

    struct Case {
      const char* what;
      bool (*store)(ScopedRegKey& version, const std::string& home);
    };
    const Case cases[] = {
        {"JavaHome as binary",
         [](ScopedRegKey& k, const std::string& h) { return k.setBinary("JavaHome", bytesOf(h)); }},
        {"JavaHome as a DWORD",
         [](ScopedRegKey& k, const std::string&) {
           DWORD v = 0x005c3a43;  // "C:\" read as text
           return RegSetValueExA(k.get(), "JavaHome", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), sizeof v) ==
                  ERROR_SUCCESS;
         }},
        {"JavaHome longer than its room",
         [](ScopedRegKey& k, const std::string& h) {
           return k.setString("JavaHome", h + std::string(7000, 'x'));
         }},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      ScopedRegKey vendor(HKEY_LOCAL_MACHINE, Jdk);
      ASSERT_TRUE(vendor.setBinary("CurrentVersion", bytesOf("17.0.2")));
      ScopedRegKey version(HKEY_LOCAL_MACHINE, Jdk + "\\17.0.2");
      ASSERT_TRUE(c.store(version, homeText));
      LauncherRun r = test::runLauncher(exe, {L"/run"});
      EXPECT_EQ(r.exitCode, 1u) << r.out;
      EXPECT_TRUE(test::contains(r.out, "No suitable 64-bit Java runtime was found.")) << r.out;
      EXPECT_TRUE(test::namesIn(temp, L"plo*").empty());
      EXPECT_EQ(test::readWhole(record), "");
    }

    // Located runtimes are named by their subkeys alone; one naming no file is passed over.
    ScopedRegKey missing(HKEY_CURRENT_USER, Located + "\\c:/no/such/runtime/bin/java.exe");
    LauncherRun r = test::runLauncher(exe, {L"/run"});
    EXPECT_EQ(r.exitCode, 1u) << r.out;
    EXPECT_EQ(test::readWhole(record), "");

    ScopedRegKey vendor(HKEY_LOCAL_MACHINE, Jdk);
    ScopedRegKey version(HKEY_LOCAL_MACHINE, Jdk + "\\17.0.2");
    ASSERT_TRUE(vendor.setString("CurrentVersion", "17.0.2"));
    ASSERT_TRUE(version.setString("JavaHome", homeText));
    r = test::runLauncher(exe, {L"/run"});
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_TRUE(test::contains(test::readWhole(record), "{\"event\":\"createJavaVM\""))
        << test::readWhole(record);
  }
  test::removeTree(dir);
}

}  // namespace
}  // namespace pelto
