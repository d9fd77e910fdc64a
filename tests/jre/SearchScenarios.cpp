// The whole search through LoadDLL, in child processes that read their configuration from the
// parent. Most runtimes are seeded into the version cache, so that their java.exe (a copy of the
// unpack200 double) never needs to run; probedRuntime homes carry the java double instead.
#include <gtest/gtest.h>

#include <algorithm>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "jre/LoadJvm.h"
#include "jvm/ChosenRuntime.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"
#include "support/DoublesWin.h"
#include "support/TestLog.h"

namespace pelto {
namespace test {
extern void* HandedCreateJavaVm;
}
namespace {

std::string envText(const char* name) {
  char buf[8000];
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n < sizeof buf ? std::string(buf, n) : std::string();
}

// "ID=text|ID=text..." into the string table.
void configureFrom(const std::string& settings) {
  for (const std::string& item : std::vector<std::string>{[&] {
         std::vector<std::string> v;
         std::size_t s = 0;
         while (s <= settings.size()) {
           std::size_t e = settings.find('|', s);
           if (e == std::string::npos) e = settings.size();
           if (e > s) v.push_back(settings.substr(s, e - s));
           s = e + 1;
         }
         return v;
       }()}) {
    std::size_t eq = item.find('=');
    LauncherConfig.strings[std::stoi(item.substr(0, eq))] = item.substr(eq + 1);
  }
}

TEST(SearchChild, DISABLED_LoadDll) {
  if (!test::isChild()) GTEST_SKIP();
  configureFrom(envText("PELTO_TEST_CONFIG"));
  LauncherConfig.wide[1016] = u"no runtime {0}";
  LauncherConfig.wide[1020] = u"configured {0}";
  LauncherConfig.wide[1018] = u"env {0}";
  LauncherConfig.wide[1005] = u"registry runtime failed";
  ErrorDialogMode = false;
  test::LogRecorder log;
  bool ok = LoadDLL();
  std::printf("result=%d\nhome=%s\nversion=%s\nentry=%d\n", ok ? 1 : 0, JvmHome.c_str(),
              RuntimeVersionText.c_str(), test::HandedCreateJavaVm != nullptr ? 1 : 0);
  for (const auto& line : log.lines()) std::printf("log: %s\n", line.c_str());
  if (envText("PELTO_TEST_TWICE") == "1") {
    std::string before = test::readWhole(asW(narrowToWide(envText("PELTO_TEST_COUNT"))));
    bool again = LoadDLL();
    std::string after = test::readWhole(asW(narrowToWide(envText("PELTO_TEST_COUNT"))));
    std::printf("again=%d\nhome2=%s\nnewruns=%d\n", again ? 1 : 0, JvmHome.c_str(),
                static_cast<int>(after.size() - before.size()));
  }
}

class Search : public testing::Test {
 protected:
  // Under the executable's directory, so that relative sequence entries can reach it.
  void SetUp() override {
    rel_ = "pelto_search_" + std::to_string(GetCurrentProcessId());
    root_ = executableDirectory() + rel_;
    test::removeTree(w(root_));
    test::makeDirs(w(root_));
  }
  void TearDown() override {
    for (const std::string& key : cacheKeys_) RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    for (const std::string& key : machineKeys_) RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
    if (!installValue_.empty()) {
      HKEY k;
      if (!RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\tarnwick-labs\\quorvanex\\installations", 0, KEY_WRITE,
                         &k)) {
        RegDeleteValueA(k, installValue_.c_str());
        RegCloseKey(k);
      }
    }
    test::removeTree(w(root_));
  }
  static std::wstring w(const std::string& s) { return asW(narrowToWide(s)); }

  // A runtime home below the scratch root whose java.exe the cache knows with this version.
  std::string runtime(const std::string& name, const std::string& version, const wchar_t* jvm) {
    std::string home = root_ + "\\" + name;
    std::string exe = home + "\\bin\\java.exe";
    EXPECT_TRUE(test::copyDouble(L"unpack200", L"unpack200.exe", w(exe)));
    if (jvm) {
      EXPECT_TRUE(test::copyDouble(jvm, L"jvm.dll", w(home + "\\bin\\server\\jvm.dll")));
    }
    std::uint64_t lastWrite = 0;
    std::string normal = fullPath(exe, false);
    EXPECT_TRUE(pathExists(normal, &lastWrite));
    for (char& c : normal)
      if (c == '\\') c = '/';
    std::string key = "SOFTWARE\\tarnwick-labs\\pelto\\jvms\\" + normal;
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr),
              0);
    RegSetValueExA(k, "LastWriteTime", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&lastWrite), 8);
    RegSetValueExA(k, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.data()),
                   static_cast<DWORD>(version.size()));
    RegCloseKey(k);
    cacheKeys_.push_back(key);
    return home;
  }
  // A runtime home whose java.exe is the java double, probed for real (the cache entry it leaves
  // is removed at the end). Each run of the double is a line of bin\java-double.log.
  std::string probedRuntime(const std::string& name, const std::string& version, const wchar_t* jvm) {
    std::string home = root_ + "\\" + name;
    std::string exe = home + "\\bin\\java.exe";
    EXPECT_TRUE(test::copyDouble(L"java", L"java.exe", w(exe)));
    test::writeText(w(home + "\\bin\\java-double.txt"),
                    "0\nopenjdk version \"" + version + "\" 2022-01-18\n");
    if (jvm) {
      EXPECT_TRUE(test::copyDouble(jvm, L"jvm.dll", w(home + "\\bin\\server\\jvm.dll")));
    }
    std::string normal = fullPath(exe, false);
    for (char& c : normal)
      if (c == '\\') c = '/';
    cacheKeys_.push_back("SOFTWARE\\tarnwick-labs\\pelto\\jvms\\" + normal);
    return home;
  }
  std::string jvmHomeOf(const std::string& home) { return fullPath(home, false) + "\\bin\\.."; }

  void vendorRuntime(const std::string& version, const std::string& home) {
    std::string key = "SOFTWARE\\JavaSoft\\JDK\\" + version;
    HKEY k = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr), 0);
    RegSetValueExA(k, "JavaHome", 0, REG_SZ, reinterpret_cast<const BYTE*>(home.c_str()),
                   static_cast<DWORD>(home.size() + 1));
    RegCloseKey(k);
    machineKeys_.push_back(key);
  }
  void installation(const std::string& id, const std::string& dirs) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\tarnwick-labs\\quorvanex\\installations", 0,
                              nullptr, 0, KEY_WRITE, nullptr, &k, nullptr),
              0);
    RegSetValueExA(k, id.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(dirs.c_str()),
                   static_cast<DWORD>(dirs.size() + 1));
    RegCloseKey(k);
    installValue_ = id;
  }

  test::ChildResult run(const std::string& config, std::map<std::wstring, std::wstring> env = {}) {
    env[L"PELTO_TEST_CHILD"] = L"1";
    env[L"PELTO_TEST_CONFIG"] = w(config);
    for (const wchar_t* name : {L"PELTO_JAVA_HOME", L"QUORVANEX_JAVA_HOME", L"PELTO_LOG", L"QUORVANEX_LOG"})
      if (!env.count(name)) env[name] = L"";
    return test::runChild("SearchChild.DISABLED_LoadDll", env);
  }

  std::string rel_, root_, installValue_;
  std::vector<std::string> cacheKeys_, machineKeys_;
};

bool has(const test::ChildResult& r, const std::string& text) {
  return r.out.find(text) != std::string::npos;
}

TEST_F(Search, TheRulesChooseTheFirstLoadableRuntimeInTheirOrderAndASecondSearchProbesNothing) {
  std::string app = root_ + "\\app";
  std::string pref = runtime("pref", "1.8.0_45", L"jvm-min");  // preferred, but below the bounds
  test::writeText(w(app + "\\.quorvanex\\pref_jre.cfg"), pref + "\r\nsecond line\r\n");
  runtime("rtB", "9.0.4", L"jvm-min");                      // B entry out of range
  std::string noJvm = runtime("nojvm", "12.0.1", nullptr);  // accepted, but nothing loads
  std::string vendor = probedRuntime("vendor", "11.0.99", L"jvm-min");
  vendorRuntime("11.0.99", vendor);
  std::string env = runtime("env", "17.0.2", L"jvm-min");
  std::string sequence =
      "B" + rel_ + "\\rtB;A${PELTO_TEST_SCN_DIR}\\absent;EPELTO_TEST_SCN_NOJVM;Y;EPELTO_TEST_SCN_HOME";
  test::ChildResult r = run("126=11|127=17.9|10003=" + app + "|128=" + sequence,
                            {{L"PELTO_TEST_SCN_DIR", w(root_)},
                             {L"PELTO_TEST_SCN_NOJVM", w(noJvm)},
                             {L"PELTO_TEST_SCN_HOME", w(env)},
                             {L"PELTO_TEST_TWICE", L"1"},
                             {L"PELTO_TEST_COUNT", w(vendor + "\\bin\\java-double.log")}});
  EXPECT_EQ(r.exitCode, 0u) << r.err;
  EXPECT_TRUE(has(r, "result=1\nhome=" + jvmHomeOf(vendor) + "\nversion=11.0.99\nentry=1\n")) << r.out;
  EXPECT_TRUE(has(r, "log: Has preferred location " + pref + "\n"));
  EXPECT_FALSE(has(r, "log: Using preferred location"));
  EXPECT_TRUE(has(r, "log: Testing location " + root_ + "\\absent (type A)\n"));
  EXPECT_TRUE(has(r, "log: Trying to load JVM-DLL from " + fullPath(noJvm, false) + "\\bin\\java.exe\n"));
  EXPECT_FALSE(has(r, "log: Testing location PELTO_TEST_SCN_HOME (type E)"));  // Y came first
  EXPECT_FALSE(has(r, "Testing relative location"));
  EXPECT_TRUE(has(r, "again=1\nhome2=" + jvmHomeOf(vendor) + "\nnewruns=0\n"));
  // The first search probed the vendor runtime once; the second found it in the cache.
  std::string runs = test::readWhole(w(vendor + "\\bin\\java-double.log"));
  EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), 1) << runs;
  EXPECT_EQ(r.err, "");
}

TEST_F(Search, ARelativeBEntryOutOfRangeIsLoadedByTheFallbackPass) {
  runtime("rtB", "9.0.4", L"jvm-min");
  test::ChildResult r = run("126=11|128=B" + rel_ + "\\rtB;Ac:\\pelto-no-such-runtime");
  EXPECT_TRUE(has(r, "result=1\nhome=" + jvmHomeOf(root_ + "\\rtB"))) << r.out;
  EXPECT_TRUE(has(r, "log: Testing relative location " + rel_ + "\\rtB\n"));
  EXPECT_FALSE(has(r, "log: Testing relative location c:\\pelto-no-such-runtime"));
  EXPECT_LT(r.out.find("log: Testing location c:\\pelto-no-such-runtime"),
            r.out.find("log: Testing relative location"));
}

TEST_F(Search, NothingAcceptedShowsNoRuntimeWith64) {
  test::ChildResult r = run("126=11|128=Ac:\\pelto-no-such-runtime;EPELTO_TEST_UNSET_VARIABLE");
  EXPECT_EQ(r.err, "no runtime 64\n");
  EXPECT_TRUE(has(r, "result=0\nhome=\n"));
  EXPECT_TRUE(has(r, "log: ERROR: No JVM found"));
  EXPECT_FALSE(has(r, "Could not get DLL-Handle."));
  EXPECT_TRUE(has(r, "log: Search sequence finished"));
}

TEST_F(Search, FailedLibraryOfARuntimeDirectoryNamesTheEntry) {
  std::string home = runtime("nojvm", "11.0.2", nullptr);
  test::ChildResult r = run("126=11|128=A" + home);
  EXPECT_EQ(r.err, "configured " + home + "\n");
  EXPECT_TRUE(has(r, "log: ERROR: Could not get DLL-Handle.\nlog: ERROR: Could not load functions\n"));
  // The runtime is recorded all the same.
  EXPECT_TRUE(has(r, "result=0\nhome=" + jvmHomeOf(home) + "\nversion=11.0.2\nentry=0\n"));
}

TEST_F(Search, LibraryWithoutTheEntryCouldNotLoadFunctions) {
  std::string home = runtime("noexport", "11.0.2", L"jvm-noexport");
  test::ChildResult r = run("126=11|128=R" + home);
  EXPECT_EQ(r.err, "configured " + home + "\n");
  EXPECT_FALSE(has(r, "Could not get DLL-Handle."));
  EXPECT_TRUE(has(r, "log: ERROR: Could not load functions"));
  EXPECT_TRUE(has(r, "entry=0\n"));
}

TEST_F(Search, FailedLibraryOfAnEnvironmentRuntimeNamesTheVariable) {
  std::string home = runtime("nojvm", "11.0.2", nullptr);
  std::string slashed = home;
  for (char& c : slashed)
    if (c == '\\') c = '/';
  test::ChildResult r = run("126=11|128=EPELTO_TEST_SCN_VAR", {{L"PELTO_TEST_SCN_VAR", w(slashed)}});
  EXPECT_EQ(r.err, "env PELTO_TEST_SCN_VAR\n");
  EXPECT_TRUE(has(r, "home=" + jvmHomeOf(home)));
}

TEST_F(Search, FixedVariableIsTriedLastAndNamedInItsMessage) {
  std::string home = runtime("nojvm", "11.0.2", nullptr);
  test::ChildResult r = run("126=11", {{L"QUORVANEX_JAVA_HOME", w(home)}});
  EXPECT_EQ(r.err, "env QUORVANEX_JAVA_HOME\n");
}

TEST_F(Search, FailedLibraryOfAPreviousInstallationShowsTheRegistryMessage) {
  std::string id = "pelto-search-test-" + std::to_string(GetCurrentProcessId());
  std::string home = runtime("inst\\jre", "11.0.2", nullptr);
  installation(id, ";c:\\pelto-no-such-install;;" + root_ + "\\inst");
  test::ChildResult r = run("126=11|160=" + id);
  EXPECT_EQ(r.err, "registry runtime failed\n");
  EXPECT_TRUE(has(r, "log: did not find java in c:\\pelto-no-such-install\\jre\n") ||
              has(r, "log: java version did not match in c:\\pelto-no-such-install\\jre\n"));
  EXPECT_TRUE(has(
      r, "log: found JRE from previous installation (user) " + fullPath(home, false) + "\\bin\\java.exe\n"));
}

TEST_F(Search, InstallerLocationComesAfterTheSequenceAndBeforeTheFallback) {
  std::string app = root_ + "\\app";
  std::string inst = runtime("inst", "11.0.2", L"jvm-min");
  runtime("rtB", "9.0.4", L"jvm-min");
  test::writeText(w(app + "\\.quorvanex\\inst_jre.cfg"), inst + "\n");
  test::ChildResult r = run("126=11|10003=" + app + "|128=B" + rel_ + "\\rtB");
  EXPECT_TRUE(has(r, "result=1\nhome=" + jvmHomeOf(inst))) << r.out;
  EXPECT_TRUE(has(r, "log: Using installer location\n"));
  EXPECT_FALSE(has(r, "Testing relative location"));
}

TEST_F(Search, RelativePreferredLocationIsTakenFromTheExecutablesDirectory) {
  std::string app = root_ + "\\app";
  std::string pref = runtime("pref", "11.0.2", L"jvm-min");
  test::writeText(w(app + "\\.quorvanex\\pref_jre.cfg"), rel_ + "\\pref\r\n");
  test::ChildResult r = run("126=11|10003=" + app + "|128=Y");
  EXPECT_TRUE(has(r, "result=1\nhome=" + jvmHomeOf(pref))) << r.out;
  EXPECT_TRUE(has(r, "log: Using preferred location\n"));
  EXPECT_FALSE(has(r, "Testing location"));
}

TEST_F(Search, RuntimeOnTheSearchPathWhoseLibraryFailsShowsNoRuntimeWith64) {
  std::string home = runtime("nojvm", "11.0.2", nullptr);
  char old[32767];
  DWORD n = GetEnvironmentVariableA("PATH", old, sizeof old);
  test::ChildResult r = run("126=11|128=Sany text", {{L"PATH", w(home + "\\bin;" + std::string(old, n))}});
  EXPECT_EQ(r.err, "no runtime 64\n");
  EXPECT_TRUE(has(r, "log: Testing location any text (type S)\n"));
  EXPECT_TRUE(has(r, "log: ERROR: Could not get DLL-Handle."));
  EXPECT_TRUE(has(r, "home=" + jvmHomeOf(home)));
}

TEST_F(Search, PackedJarsOfARuntimeDirectoryAreUnpackedBeforeItIsProbed) {
  std::string home = runtime("packed", "11.0.2", L"jvm-min");
  ASSERT_TRUE(test::copyDouble(L"unpack200", L"unpack200.exe", w(home + "\\bin\\unpack200.exe")));
  test::writeText(w(home + "\\lib\\rt.jar.pack"), "classes");
  test::ChildResult r = run("126=11|128=A" + home);
  EXPECT_TRUE(has(r, "result=1\n")) << r.out;
  EXPECT_TRUE(has(r, "Preparing JRE ...\n"));
  EXPECT_LT(r.out.find("log: Unpacking JRE done"), r.out.find("log: Trying to load JVM-DLL"));
  EXPECT_EQ(test::readWhole(w(home + "\\lib\\rt.jar")), "unpacked:classes");
}

}  // namespace
}  // namespace pelto
