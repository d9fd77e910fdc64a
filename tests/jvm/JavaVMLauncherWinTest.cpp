// The JVM start in this process against the jvm.dll double: each case loads its own copy of the
// double (its own JVM) with a class model beside it, calls launchJvm and reads what the double
// recorded. No case may leave a JNI misuse ("error" event) behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "env/TextConv.h"
#include "jre/CaseRows.h"
#include "jvm/JavaVMLauncher.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Log.h"
#include "launcher/StartUp.h"
#include "support/DoublesWin.h"
#include "support/ScopedConfig.h"

namespace pelto {
namespace {

struct LaunchRun {
  bool result = false;
  std::string records;  // one JSON object per line
  std::string log;      // UTF-8, errors with "ERROR: "
};

// Loads a fresh copy of the double with the model beside it and runs launchJvm without arguments.
LaunchRun launchWith(const std::string& model, const std::wstring& name) {
  LaunchRun run;
  test::ScratchDir dir(L"pelto_jvmstart_" + name + L"_");
  std::wstring dll = dir.path() + L"\\jvm.dll", record = dir.path() + L"\\record.jsonl";
  EXPECT_TRUE(test::copyDouble(L"jvm", L"jvm.dll", dll));
  test::writeText(dir.path() + L"\\jvm-double.txt", model);
  test::ScopedEnv recordTo(L"PELTO_JVM_RECORD", record), noModel(L"PELTO_JVM_MODEL", std::nullopt);
  HMODULE module = LoadLibraryW(dll.c_str());
  EXPECT_NE(module, nullptr);
  setCreateJavaVmEntry(reinterpret_cast<void*>(GetProcAddress(module, "JNI_CreateJavaVM")));
  setLogCapture([&](bool isError, std::u16string_view text) {
    run.log += (isError ? "ERROR: " : "") + utf16ToUtf8(text) + "\n";
  });
  run.result = launchJvm({});
  setLogCapture(nullptr);
  run.records = test::readWhole(record);
  // The launcher keeps the library for the process's life; the test lets it go to clean up.
  FreeLibrary(module);
  return run;
}

TEST(JvmStart, MainArgumentsOptionalStepsAndEscapingExceptions) {
  char savedFlavour = LauncherFlavour;
  for (const test::CaseRow& c : test::caseRows("launch.txt")) {
    test::ScopedConfig config;
    config.set(122, "com.example.Main");
    config.set(124, "x y");
    config.set(102, "1");  // the output files: out, then err
    config.set(103, "C:\\o.log");
    config.set(104, "1");
    config.set(105, "C:\\e.log");
    config.set(108, "1");  // splash
    LauncherFlavour = c[1][0];
    LaunchRun run = launchWith(c[2], asW(narrowToWide(c[0])));
    SCOPED_TRACE(c[0] + "\n" + run.log + run.records);
    EXPECT_EQ(run.result, c[3] == "y");
    EXPECT_NE(run.log.find(c[4]), std::string::npos);
    EXPECT_NE(run.records.find(c[5] + "\n"), std::string::npos);
    EXPECT_NE(run.records.find("\"event\":\"main\""), std::string::npos);
    EXPECT_EQ(run.records.find("\"event\":\"error\""), std::string::npos);
    EXPECT_EQ(run.records.find("destroyJavaVM") == std::string::npos, c[3] == "n");
  }
  LauncherFlavour = savedFlavour;
}

TEST(JvmStartWords, ForwardedArgumentsLeaveOutLocaleAndJWords) {
  std::vector<std::u16string> args = {
      u"prog", u"-Dsun.locale.formatasdefault=", u"-Dsun.locale.formatasdefaultx", u"-J", u"-j-x", u"x-J"};
  std::vector<std::u16string> kept, keptAll;
  appendForwardedArguments(args, true, kept);
  appendForwardedArguments(args, false, keptAll);
  EXPECT_EQ(kept, (std::vector<std::u16string>{u"-Dsun.locale.formatasdefaultx", u"-j-x", u"x-J"}));
  EXPECT_EQ(keptAll, (std::vector<std::u16string>{u"-Dsun.locale.formatasdefaultx", u"-J", u"-j-x", u"x-J"}));
  EXPECT_EQ(launcherClassOf('i'), "com/quorvanex/runtime/launcher/WinLauncher");
  EXPECT_EQ(launcherClassOf('e'), "com/pelto/runtime/WinLauncher");
}

}  // namespace
}  // namespace pelto
