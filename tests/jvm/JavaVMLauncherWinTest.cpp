// The JVM start in this process against the jvm.dll double: each case loads its own copy of the
// double (its own JVM) with a class model beside it, calls launchJvm and reads what the double
// recorded. No case may leave a JNI misuse ("error" event) behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "env/TextConv.h"
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

const std::string PeltoMain = "method com/pelto/runtime/WinLauncher main ([Ljava/lang/String;)V\n",
                  PeltoModel = PeltoMain +
                               "method com/pelto/runtime/WinLauncher initAwtSplashConfig "
                               "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/"
                               "String;II)V\n";

// The launcher class gets the five fixed entries (output files in the middle) and the
// configured words; an optional step that fails is logged and the launch goes on; an
// exception escaping main is described, cleared and fails the launch.
TEST(JvmStart, MainArgumentsOptionalStepsAndEscapingExceptions) {
  struct Case {
    const wchar_t* name;
    char flavour;
    std::string model;
    bool ok;
    std::string logLine, record;
  } cases[] = {
      {L"main", 'e', PeltoModel, true, "JVM created",
       R"({"event":"main","class":"com/pelto/runtime/WinLauncher","args":["false","com.example.Main",)"
       R"("C:\\o.log","C:\\e.log","false","x","y"]})"},
      {L"nosplashmethod", 'e', PeltoMain, true, "ERROR: could not find method for splash properties", ""},
      {L"nosplashclass", 'i',
       "method com/quorvanex/runtime/launcher/WinLauncher main ([Ljava/lang/String;)V\n", true,
       "ERROR: could not find main class for splash properties", ""},
      {L"nosystem", 'e', PeltoModel + "remove java/lang/System\n", true, "ERROR: could not get system class",
       ""},
      {L"splashoom", 'e', PeltoModel + "fail NewString 4\n", true, "ERROR: could not create the splash texts",
       ""},
      {L"throw", 'e', PeltoModel + "main throw boom \xc3\xbc\n", false,
       "ERROR: an exception occurred\nERROR: java.lang.IllegalStateException: boom \xc3\xbc\nERROR: could "
       "not call main",
       R"({"event":"exceptionDescribe","text":"java.lang.IllegalStateException: boom )"
       "\xc3\xbc\"}"},
  };
  char savedFlavour = LauncherFlavour;
  for (const Case& c : cases) {
    test::ScopedConfig config;
    config.set(122, "com.example.Main");
    config.set(124, "x y");
    config.set(102, "1");  // the output files: out, then err
    config.set(103, "C:\\o.log");
    config.set(104, "1");
    config.set(105, "C:\\e.log");
    config.set(108, "1");  // splash
    LauncherFlavour = c.flavour;
    LaunchRun run = launchWith(c.model, c.name);
    SCOPED_TRACE(utf16ToUtf8(asU(c.name)) + "\n" + run.log + run.records);
    EXPECT_EQ(run.result, c.ok);
    EXPECT_NE(run.log.find(c.logLine), std::string::npos);
    EXPECT_NE(run.records.find(c.record + "\n"), std::string::npos);
    EXPECT_NE(run.records.find("\"event\":\"main\""), std::string::npos);
    EXPECT_EQ(run.records.find("\"event\":\"error\""), std::string::npos);
    EXPECT_EQ(run.records.find("destroyJavaVM") == std::string::npos, !c.ok);
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
