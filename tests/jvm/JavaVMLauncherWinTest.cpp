// The JVM start in this process against the jvm.dll double: each case loads its own copy of the
// double (its own JVM) with a class model beside it, calls launchJvm and reads what the double
// recorded. No case may leave a JNI misuse ("error" event) behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "jvm/JavaVMLauncher.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"
#include "launcher/Log.h"
#include "launcher/StartUp.h"
#include "support/DoublesWin.h"

namespace pelto {
namespace {

using test::ScratchDir;

struct LaunchRun {
  bool result = false;
  std::vector<std::string> records;  // one JSON object per line
  std::u16string log;

  bool has(const std::string& line) const {
    for (const auto& r : records)
      if (r == line) return true;
    return false;
  }
  int count(const std::string& part) const {
    int n = 0;
    for (const auto& r : records) n += r.find(part) != std::string::npos;
    return n;
  }
  std::vector<std::string> errors() const {
    std::vector<std::string> e;
    for (const auto& r : records)
      if (r.find("\"event\":\"error\"") != std::string::npos) e.push_back(r);
    return e;
  }
  bool logged(const std::u16string& text) const { return log.find(text) != std::u16string::npos; }
};

std::string json(std::u16string_view w) {
  std::string out = "\"";
  for (char c : utf16ToUtf8(w)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string jsonList(const std::vector<std::u16string>& items) {
  std::string s = "[";
  for (std::size_t i = 0; i < items.size(); ++i) s += (i ? "," : "") + json(items[i]);
  return s + "]";
}

const char* const PeltoModel =
    "method com/pelto/runtime/WinLauncher main ([Ljava/lang/String;)V\n"
    "method com/pelto/runtime/WinLauncher initAwtSplashConfig "
    "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V\n";

// Loads a fresh copy of the double with the model beside it and runs launchJvm on the args.
LaunchRun launchWith(const std::string& model, const std::vector<std::u16string>& args, const wchar_t* name) {
  LaunchRun run;
  ScratchDir dir(std::wstring(L"pelto_jvmstart_") + name + L"_");
  std::wstring dll = dir.path() + L"\\jvm.dll";
  EXPECT_TRUE(test::copyDouble(L"jvm", L"jvm.dll", dll));
  test::writeText(dir.path() + L"\\jvm-double.txt", model);
  std::wstring record = dir.path() + L"\\record.jsonl";
  SetEnvironmentVariableW(L"PELTO_JVM_RECORD", record.c_str());
  SetEnvironmentVariableW(L"PELTO_JVM_MODEL", nullptr);
  HMODULE module = LoadLibraryW(dll.c_str());
  EXPECT_NE(module, nullptr);
  setCreateJavaVmEntry(reinterpret_cast<void*>(GetProcAddress(module, "JNI_CreateJavaVM")));
  setLogCapture([&](bool isError, std::u16string_view text) {
    run.log += isError ? u"ERROR: " : u"";
    run.log += text;
    run.log += u"\n";
  });
  run.result = launchJvm(args);
  setLogCapture(nullptr);
  SetEnvironmentVariableW(L"PELTO_JVM_RECORD", nullptr);
  std::string text;
  HANDLE h = CreateFileW(record.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  char buf[4096];
  DWORD got = 0;
  while (h != INVALID_HANDLE_VALUE && ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
    text.append(buf, got);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  for (std::size_t pos = 0, end; pos < text.size(); pos = end + 1) {
    end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    run.records.push_back(text.substr(pos, end - pos));
  }
  // The launcher keeps the library for the process's life; the test lets it go to clean up.
  FreeLibrary(module);
  return run;
}

class JvmStart : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = LauncherConfig;
    savedFlavour_ = LauncherFlavour;
    LauncherConfig = {};
    LauncherFlavour = 'e';
    LauncherConfig.strings[122] = "com.example.Main";
  }
  void TearDown() override {
    LauncherConfig = saved_;
    LauncherFlavour = savedFlavour_;
  }
  std::vector<std::u16string> fixed() const { return {u"false", u"com.example.Main", u"", u"", u"false"}; }

 private:
  LauncherConfigTables saved_;
  char savedFlavour_ = 0;
};

TEST_F(JvmStart, EmptyArgumentListGivesFiveFixedEntriesAndConfiguredWords) {
  LauncherConfig.strings[124] = "x y";
  LauncherConfig.strings[102] = LauncherConfig.strings[104] = "1";  // the output files: out, then err
  LauncherConfig.strings[103] = "C:\\o.log";
  LauncherConfig.strings[105] = "C:\\e.log";
  LaunchRun run = launchWith(PeltoModel, {}, L"empty");
  EXPECT_TRUE(run.result);
  EXPECT_TRUE(run.has(
      "{\"event\":\"main\",\"class\":\"com/pelto/runtime/WinLauncher\",\"args\":" +
      jsonList({u"false", u"com.example.Main", u"C:\\o.log", u"C:\\e.log", u"false", u"x", u"y"}) + "}"))
      << run.records.back();
  EXPECT_TRUE(run.errors().empty());
}

TEST_F(JvmStart, OptionalStepsThatFailAreReportedAndTheLaunchGoesOn) {
  struct Case {
    const char* name;
    char flavour;
    std::string model;
    std::u16string logLine;
  };
  const std::string quorvanexMain =
      "method com/quorvanex/runtime/launcher/WinLauncher main ([Ljava/lang/String;)V\n";
  const Case cases[] = {
      {"nosplashmethod", 'e', "method com/pelto/runtime/WinLauncher main ([Ljava/lang/String;)V\n",
       u"ERROR: could not find method for splash properties"},
      {"nosplashclass", 'i', quorvanexMain, u"ERROR: could not find main class for splash properties"},
      {"nosystem", 'e', std::string(PeltoModel) + "remove java/lang/System\n",
       u"ERROR: could not get system class"},
      {"splashoom", 'e', std::string(PeltoModel) + "fail NewString 1\n",
       u"ERROR: could not create the splash texts"},
  };
  for (const auto& c : cases) {
    LauncherConfig.strings[108] = "1";
    LauncherFlavour = c.flavour;
    LaunchRun run = launchWith(c.model, {u"p"}, std::wstring(c.name, c.name + strlen(c.name)).c_str());
    EXPECT_TRUE(run.result) << c.name;
    EXPECT_TRUE(run.logged(c.logLine)) << c.name << "\n" << utf16ToUtf8(run.log);
    EXPECT_EQ(run.count("\"event\":\"main\""), 1) << c.name;
    EXPECT_TRUE(run.errors().empty()) << c.name << ": " << run.errors().front();
  }
}

TEST_F(JvmStart, ExceptionEscapingMainIsDescribedClearedAndFailsTheLaunch) {
  LaunchRun run = launchWith(std::string(PeltoModel) + "main throw boom ü\n", {u"p"}, L"throw");
  EXPECT_FALSE(run.result);
  EXPECT_TRUE(run.logged(u"ERROR: an exception occurred\nERROR: java.lang.IllegalStateException: boom ü\n"))
      << utf16ToUtf8(run.log);
  EXPECT_TRUE(run.logged(u"ERROR: could not call main"));
  EXPECT_TRUE(
      run.has("{\"event\":\"exceptionDescribe\",\"text\":\"java.lang.IllegalStateException: boom ü\"}"));
  EXPECT_EQ(run.count("destroyJavaVM"), 0);
  EXPECT_TRUE(run.errors().empty()) << run.errors().front();
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
  EXPECT_EQ(launcherClassOf('\0'), "com/pelto/runtime/WinLauncher");
}

}  // namespace
}  // namespace pelto
