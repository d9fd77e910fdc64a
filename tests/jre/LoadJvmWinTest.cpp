#include <gtest/gtest.h>

#include "env/NativeLibs.h"
#include "env/TextConv.h"
#include "jre/LoadJvm.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"
#include "support/DoublesWin.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

using test::crtPath;
using test::pathNow;

// A scratch runtime tree; loaded doubles are freed before it goes, so its files can be removed.
class RuntimeTree {
 public:
  explicit RuntimeTree(const wchar_t* tag) : dir_(test::uniqueDir(tag)), narrow_(wideToNarrow(asU(dir_))) {}
  ~RuntimeTree() {
    for (HMODULE m : loaded_) FreeLibrary(m);
    test::removeTree(dir_);
  }
  void jvm(const std::wstring& rel, const wchar_t* kind = L"jvm-min") {
    ASSERT_TRUE(test::copyDouble(kind, L"jvm.dll", dir_ + L"\\" + rel + L"\\jvm.dll"));
  }
  void file(const std::wstring& rel, const std::string& text = "") {
    test::writeText(dir_ + L"\\" + rel, text);
  }
  std::string at(const std::string& rel) const { return narrow_ + "\\" + rel; }
  void keep(void* module) {
    if (module) loaded_.push_back(static_cast<HMODULE>(module));
  }

 private:
  std::wstring dir_;
  std::string narrow_;
  std::vector<HMODULE> loaded_;
};

class LoadJvm : public testing::Test {
 protected:
  void SetUp() override {
    savedConfig_ = LauncherConfig;
    savedPath_ = pathNow();
    LauncherConfig.strings.erase(152);
    LauncherConfig.strings.erase(154);
  }
  void TearDown() override {
    LauncherConfig = savedConfig_;
    setEnvironmentBothViews("PATH", &savedPath_, nullptr);
  }
  std::vector<std::string> attempts() const {
    std::vector<std::string> out;
    for (const auto& line : log_.lines())
      if (line.rfind("Trying ", 0) == 0 && line.find("JVM-DLL") == std::string::npos)
        out.push_back(line.substr(7));
    return out;
  }

  test::LogRecorder log_;
  std::string savedPath_;

 private:
  LauncherConfigTables savedConfig_;
};

TEST_F(LoadJvm, FirstExistingSubdirectoryLoadsAndItsBinStaysAtTheEndOfPath) {
  RuntimeTree rt(L"ldjvm");
  rt.jvm(L"bin\\server");
  void* m = loadJvmFromJavaExe(rt.at("bin\\java.exe"));
  rt.keep(m);
  ASSERT_NE(m, nullptr);
  EXPECT_NE(GetProcAddress(static_cast<HMODULE>(m), "JNI_CreateJavaVM"), nullptr);
  EXPECT_EQ(attempts(), (std::vector<std::string>{rt.at("bin\\client\\jvm.dll") + " (exists 0)",
                                                  rt.at("bin\\server\\jvm.dll") + " (exists 1)"}));
  std::string want = savedPath_ + ";" + rt.at("bin");
  EXPECT_EQ(pathNow(), want);
  EXPECT_EQ(crtPath(), want);
}

TEST_F(LoadJvm, ConfiguredSubdirectoryComesFirstAndStaysInTheFixedList) {
  RuntimeTree rt(L"ldjvm");
  LauncherConfig.strings[152] = "server";
  void* m = loadJvmFromJavaExe(rt.at("bin\\java.exe"));
  rt.keep(m);
  EXPECT_EQ(m, nullptr);
  std::vector<std::string> want;
  for (const char* bin : {"bin", "bin\\..\\jre\\bin"})
    for (const char* name : {"server", "client", "server", "j9vm", "hotspot", "jrockit"})
      want.push_back(rt.at(bin) + "\\" + name + "\\jvm.dll (exists 0)");
  EXPECT_EQ(attempts(), want);
  // Each failed bin directory gives PATH back, in both views.
  EXPECT_EQ(pathNow(), savedPath_);
  EXPECT_EQ(crtPath(), savedPath_);
  EXPECT_TRUE(log_.contains("Setting PATH " + savedPath_ + ";" + rt.at("bin\\..\\jre\\bin")));
}

TEST_F(LoadJvm, DevelopmentKitRuntimeInItsJreFolderAndJavawGivesTheSameBin) {
  RuntimeTree rt(L"ldjvm");
  rt.jvm(L"jre\\bin\\client");
  void* m = loadJvmFromJavaExe(rt.at("bin\\javaw.exe"));
  rt.keep(m);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(attempts().front(), rt.at("bin\\client\\jvm.dll") + " (exists 0)");
  EXPECT_EQ(attempts().back(), rt.at("bin\\..\\jre\\bin\\client\\jvm.dll") + " (exists 1)");
  EXPECT_EQ(pathNow(), savedPath_ + ";" + rt.at("bin\\..\\jre\\bin"));
}

TEST_F(LoadJvm, ABrokenLibraryIsReportedAndTheNextSubdirectoryTried) {
  RuntimeTree rt(L"ldjvm");
  rt.file(L"bin\\client\\jvm.dll", "not a library");
  rt.jvm(L"bin\\hotspot", L"jvm-noexport");
  void* m = loadJvmFromJavaExe(rt.at("bin\\java.exe"));
  rt.keep(m);
  ASSERT_NE(m, nullptr);  // loading is all this step does; the entry is resolved by LoadDLL
  EXPECT_EQ(GetProcAddress(static_cast<HMODULE>(m), "JNI_CreateJavaVM"), nullptr);
  EXPECT_TRUE(log_.contains("Failed with error code "));
  EXPECT_EQ(attempts().back(), rt.at("bin\\hotspot\\jvm.dll") + " (exists 1)");
}

TEST_F(LoadJvm, DllDirectoryOfTheBinOnlyWithTheFlagAndRemovedAfterFailure) {
  RuntimeTree rt(L"ldjvm");
  rt.file(L"bin\\java.exe");  // AddDllDirectory wants a directory that exists
  loadJvmFromJavaExe(rt.at("bin\\java.exe"));
  EXPECT_FALSE(log_.contains("Adding DLL directory"));
  EXPECT_FALSE(log_.contains("Removing DLL directory"));
  log_.clear();
  LauncherConfig.strings[154] = "1";
  loadJvmFromJavaExe(rt.at("bin\\java.exe"));
  EXPECT_TRUE(log_.contains("Adding DLL directory " + rt.at("bin")));
  EXPECT_TRUE(log_.contains("Removing DLL directory"));
}

// ucrtbase.dll preloading by the version the system reports; Wine takes a version per program.
TEST(UcrtbaseChild, DISABLED_Preload) {
  if (!test::isChild()) GTEST_SKIP();
  char bin[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("PELTO_TEST_ARG", bin, MAX_PATH);
  test::LogRecorder log;
  preloadUcrtbase(std::string(bin, n));
  std::printf("preloaded=%d\n", log.contains("Preloading ucrtbase.dll") ? 1 : 0);
}

bool underWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

TEST(Ucrtbase, PreloadedBelowWindows64Only) {
  if (!underWine()) GTEST_SKIP() << "the reported version is set through Wine's per-program defaults";
  std::wstring self = test::selfPath();
  std::wstring exe = self.substr(self.rfind(L'\\') + 1);
  std::wstring key = L"Software\\Wine\\AppDefaults\\" + exe;
  std::wstring dir = test::uniqueDir(L"ucrt");
  test::writeText(dir + L"\\bin\\ucrtbase.dll", "x");
  std::wstring empty = test::uniqueDir(L"ucrtnone");
  struct Case {
    const wchar_t* version;
    std::wstring bin;
    const char* expected;
  } cases[] = {{L"win81", dir + L"\\bin", "preloaded=1"},  // the version rule itself: UcrtbasePreload
               {L"win10", dir + L"\\bin", "preloaded=0"},
               {L"win8", empty, "preloaded=0"}};
  for (const Case& c : cases) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(h, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.version),
                   static_cast<DWORD>((wcslen(c.version) + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    test::ChildResult r = test::runChild("UcrtbaseChild.DISABLED_Preload",
                                         {{L"PELTO_TEST_CHILD", L"1"}, {L"PELTO_TEST_ARG", c.bin}});
    RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    EXPECT_NE(r.out.find(c.expected), std::string::npos) << c.version;
  }
  DeleteFileW((dir + L"\\bin\\ucrtbase.dll").c_str());
  RemoveDirectoryW((dir + L"\\bin").c_str());
  RemoveDirectoryW(dir.c_str());
  RemoveDirectoryW(empty.c_str());
}

}  // namespace
}  // namespace pelto
