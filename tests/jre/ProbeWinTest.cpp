#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "RuntimeLayoutWin.h"
#include "env/Paths.h"
#include "jre/Probe.h"
#include "jre/ProbeText.h"
#include "launcher/ChildProcessWin.h"
#include "support/ScopedConfig.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

using test::RuntimeHome;
using test::RuntimeLayout;

const VersionBounds AnyVersion;

// The output files the probes of this recording named in the log ("tempFile is ..."); other
// tests make files of the same pattern beside us, so the folder as a whole proves nothing.
std::vector<std::string> probeOutputFiles(const test::LogRecorder& log) {
  std::vector<std::string> files;
  const std::string tag = "tempFile is ";
  for (const std::string& line : log.lines())
    if (std::size_t at = line.find(tag); at != std::string::npos)
      files.push_back(line.substr(at + tag.size()));
  return files;
}

bool allGone(const std::vector<std::string>& files) {
  for (const std::string& f : files)
    if (GetFileAttributesA(f.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  return true;
}

// The raw data of a cache value, as stored: read wide, since the narrow read may add a NUL
// of its own; a string comes back narrowed code unit by code unit, NULs included.
std::string cachedValue(const std::string& exe, const char* name, DWORD* type = nullptr) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, versionCacheKey(exe).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return "<absent>";
  std::wstring wideName(name, name + std::strlen(name));
  std::string data(512, '\0');
  DWORD size = static_cast<DWORD>(data.size());
  DWORD kind = 0;
  LONG rc =
      RegQueryValueExW(key, wideName.c_str(), nullptr, &kind, reinterpret_cast<BYTE*>(data.data()), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return "<absent>";
  data.resize(size);
  if (type) *type = kind;
  if (kind != REG_SZ) return data;
  std::string text;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) text.push_back(data[i]);
  return text;
}

TEST(VersionCache, StoreAndLookup) {
  RuntimeHome home("cache");
  std::string exe = home.normalisedJavaExe();
  std::uint64_t t = 0x0123456789abcdefULL;
  storeCachedVersion(exe, t, "11.0.2");
  DWORD type = 0;
  EXPECT_EQ(cachedValue(exe, "Version", &type), "11.0.2");  // written without its NUL
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(cachedValue(exe, "LastWriteTime", &type), std::string("\xef\xcd\xab\x89\x67\x45\x23\x01", 8));
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));

  std::string version;
  EXPECT_TRUE(lookupCachedVersion(exe, t, version));
  EXPECT_EQ(version, "11.0.2");
  EXPECT_FALSE(lookupCachedVersion(exe, t + 1, version));
  EXPECT_FALSE(lookupCachedVersion(exe + "x", t, version));
}

TEST(VersionCache, ValueShapes) {
  RuntimeHome home("shapes");
  std::string exe = home.normalisedJavaExe();
  std::vector<unsigned char> time{1, 2, 3, 4, 5, 6, 7, 8};
  std::uint64_t t = 0x0807060504030201ULL;
  struct Case {
    std::vector<unsigned char> time;
    const char* version;
    bool withNul;
    bool hit;
  } cases[] = {
      {time, "11.0.2", true, true},
      {time, "11.0.2", false, true},
      {{1, 2, 3, 4}, "11.0.2", false, false},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9}, "11.0.2", false, false},
      {time, "1.6.", false, false},
      {time, "1.7.", true, false},
      {time, "", false, true},
  };
  for (const auto& c : cases) {
    test::ScopedRegKey key(HKEY_CURRENT_USER, versionCacheKey(exe));
    ASSERT_TRUE(key.valid());
    key.setBinary("LastWriteTime", c.time);
    key.setString("Version", c.version, c.withNul);
    ASSERT_EQ(cachedValue(exe, "Version"),
              c.withNul ? std::string(c.version) + '\0' : std::string(c.version));
    std::string version = "?";
    EXPECT_EQ(lookupCachedVersion(exe, t, version), c.hit) << c.version << " " << c.time.size();
    if (c.hit) {
      EXPECT_EQ(version, c.version);
    }
  }
  {
    test::ScopedRegKey key(HKEY_CURRENT_USER, versionCacheKey(exe));
    key.setString("Version", "11.0.2");
    std::string version;
    EXPECT_FALSE(lookupCachedVersion(exe, t, version));  // no LastWriteTime at all
  }
}

TEST(CheckJavaExe, ProbesOnceThenUsesTheCache) {
  RuntimeHome home("once");
  std::string candidate = home.javaExe(), version;
  test::LogRecorder log;
  ASSERT_TRUE(checkJavaExe(candidate, version, AnyVersion, false));
  EXPECT_EQ(candidate, home.normalisedJavaExe());
  EXPECT_EQ(version, "17.0.2");
  EXPECT_EQ(home.runs(), 1);
  EXPECT_TRUE(log.contains("got version from execution 17.0.2"));
  EXPECT_EQ(cachedValue(candidate, "Version"), "17.0.2");
  // The double, under a path with a space, sees its own path as its first argument.
  std::string runs = home.log(), argv0 = runs.substr(runs.find("argv0=") + 6);
  argv0 = argv0.substr(0, argv0.find('\n'));
  char longForm[MAX_PATH] = "";
  GetLongPathNameA(argv0.c_str(), longForm, MAX_PATH);
  EXPECT_EQ(lstrcmpiA(longForm, home.javaExe().c_str()), 0) << runs;

  log.clear();
  candidate = home.javaExe();
  ASSERT_TRUE(checkJavaExe(candidate, version, AnyVersion, false));
  EXPECT_EQ(version, "17.0.2");
  EXPECT_EQ(home.runs(), 1);
  EXPECT_TRUE(log.contains("got version from registry 17.0.2"));

  // The runtime was updated in place: probe again, rewrite both values.
  home.setBehaviour("0\njava version \"1.8.0_45\"\n");
  ASSERT_TRUE(home.touchJavaExe(home.javaExeLastWrite() + 10000000));
  ASSERT_TRUE(checkJavaExe(candidate, version, AnyVersion, false));
  EXPECT_EQ(version, "1.8.0_45");
  EXPECT_EQ(home.runs(), 2);
  std::string time;
  std::uint64_t now = home.javaExeLastWrite();
  for (int i = 0; i < 8; ++i) time.push_back(static_cast<char>(now >> (8 * i)));
  EXPECT_EQ(cachedValue(candidate, "LastWriteTime"), time);
}

TEST(CheckJavaExe, CachedVersionStartsNoProcess) {
  RuntimeHome home("cached");
  storeCachedVersion(home.normalisedJavaExe(), home.javaExeLastWrite(), "11.0.2");
  std::string candidate = home.javaExe(), version;
  EXPECT_TRUE(checkJavaExe(candidate, version, AnyVersion, false));
  EXPECT_EQ(version, "11.0.2");
  EXPECT_EQ(home.runs(), 0);
  // The cached version is judged like a probed one.
  VersionBounds upTo8{{}, parseJavaVersion("1.8")};
  candidate = home.javaExe();
  EXPECT_FALSE(checkJavaExe(candidate, version, upTo8, false));
  EXPECT_EQ(home.runs(), 0);
}

TEST(CheckJavaExe, FailedProbesAndTheirCacheEntries) {
  struct Case {
    const char* behaviour;
    const char* cached;  // what the cache holds afterwards
  } cases[] = {
      {"1\njava version \"1.8.0_45\"\n", "1.0.0"},
      {"crash\njava version \"1.8.0_45\"\n", "1.0.0"},
      {"garbage\n", "<absent>"},
      {"0\nPicked up _JAVA_OPTIONS: -Xmx1m\nopenjdk version \"17\"\n", "<absent>"},
      {"0\n", "<absent>"},
  };
  for (const auto& c : cases) {
    RuntimeHome home("failed");
    home.setBehaviour(c.behaviour);
    std::string candidate = home.javaExe(), version;
    test::LogRecorder log;
    EXPECT_FALSE(checkJavaExe(candidate, version, AnyVersion, true)) << c.behaviour;
    EXPECT_TRUE(log.contains("couldn't get version")) << c.behaviour;
    EXPECT_EQ(cachedValue(candidate, "Version"), c.cached) << c.behaviour;
    // "1.0.0" is never taken from the cache: the next check probes again.
    candidate = home.javaExe();
    EXPECT_FALSE(checkJavaExe(candidate, version, AnyVersion, true)) << c.behaviour;
    EXPECT_EQ(home.runs(), 2) << c.behaviour;
  }
}

TEST(CheckJavaExe, JavaOptionsHiddenFromTheChildAndRestored) {
  RuntimeHome home("options");
  test::ScopedEnv options(L"_JAVA_OPTIONS", std::wstring(L"-Xmx1m -Dx=y"));
  std::string candidate = home.javaExe(), version;
  test::LogRecorder log;
  ASSERT_TRUE(checkJavaExe(candidate, version, AnyVersion, false));
  EXPECT_NE(home.log().find("options=unset"), std::string::npos) << home.log();
  EXPECT_TRUE(log.contains("_JAVA_OPTIONS is -Xmx1m -Dx=y"));
  char buf[64];
  DWORD n = GetEnvironmentVariableA("_JAVA_OPTIONS", buf, sizeof buf);
  EXPECT_EQ(std::string(buf, n), "-Xmx1m -Dx=y");

  // Not set before: not set after.
  test::ScopedEnv none(L"_JAVA_OPTIONS", std::nullopt);
  std::uint64_t t = home.javaExeLastWrite();
  ASSERT_TRUE(probeJavaVersion(home.normalisedJavaExe(), t, version));
  EXPECT_EQ(GetEnvironmentVariableA("_JAVA_OPTIONS", buf, sizeof buf), 0u);
}

TEST(ProbeJavaVersion, HangingRuntimeIsTerminated) {
  RuntimeHome home("hang");
  home.setBehaviour("sleep\nopenjdk version \"17.0.2\"\n");
  std::string version;
  test::LogRecorder log;
  DWORD start = GetTickCount();
  EXPECT_FALSE(probeJavaVersion(home.normalisedJavaExe(), home.javaExeLastWrite(), version, 500));
  EXPECT_LT(GetTickCount() - start, 10000u);
  EXPECT_TRUE(log.contains("Terminating process"));
  EXPECT_EQ(home.runs(), 1);
  std::vector<std::string> files = probeOutputFiles(log);
  EXPECT_EQ(files.size(), 1u);
  EXPECT_TRUE(allGone(files));
  EXPECT_EQ(cachedValue(home.normalisedJavaExe(), "Version"), "<absent>");
}

TEST(ProbeJavaVersion, OutputFileDeletedInEveryCase) {
  std::string version;
  test::LogRecorder log;
  EXPECT_FALSE(probeJavaVersion("c:\\no\\such\\runtime\\java.exe", 1, version));
  EXPECT_TRUE(log.contains("Could not create process"));
  RuntimeHome home("deleted");
  EXPECT_TRUE(probeJavaVersion(home.normalisedJavaExe(), 1, version));
  std::vector<std::string> files = probeOutputFiles(log);
  EXPECT_EQ(files.size(), 2u);
  EXPECT_TRUE(allGone(files));
}

TEST(CheckJavaExe, PathsAndExistence) {
  std::string candidate = "NoRuntime\\bin\\java.exe", version;
  test::LogRecorder log;
  EXPECT_FALSE(checkJavaExe(candidate, version, AnyVersion, false));
  std::string expected = executableDirectory() + "noruntime\\bin\\java.exe";
  CharLowerBuffA(expected.data(), static_cast<DWORD>(expected.size()));
  EXPECT_EQ(candidate, expected);
  EXPECT_TRUE(log.contains("file doesn't exist"));
  EXPECT_TRUE(log.contains("checkJavaExe returning 0"));
}

TEST(CheckJavaExe, WindowedApplicationUsesJavaw) {
  test::ScopedConfig config;
  config.set(107, "1");
  {
    RuntimeHome home("windowed");
    std::string candidate = home.javaExe(), version;
    EXPECT_TRUE(checkJavaExe(candidate, version, AnyVersion, false));
    std::string javaw = home.javawExe();
    CharLowerBuffA(javaw.data(), static_cast<DWORD>(javaw.size()));
    EXPECT_EQ(candidate, javaw);
  }
  {
    RuntimeLayout layout;
    layout.javaw = false;
    RuntimeHome home("nojavaw", layout);
    std::string candidate = home.javaExe(), version;
    EXPECT_FALSE(checkJavaExe(candidate, version, AnyVersion, false));
  }
}

TEST(CheckJavaExe, BoundsAndPreRelease) {
  RuntimeHome home("bounds");
  home.setBehaviour("0\njava version \"9-ea\"\n");
  std::string candidate = home.javaExe(), version;
  EXPECT_FALSE(checkJavaExe(candidate, version, AnyVersion, false));
  EXPECT_EQ(version, "9-ea");
  EXPECT_TRUE(checkJavaExe(candidate, version, AnyVersion, true));
  VersionBounds from11{parseJavaVersion("11"), {}};
  EXPECT_FALSE(checkJavaExe(candidate, version, from11, true));
  EXPECT_EQ(home.runs(), 1);
}

TEST(JavaExeForHome, Layouts) {
  test::ScopedConfig config;
  RuntimeLayout jre;
  jre.jreSubdir = true;
  RuntimeHome withJre("withjre", jre);
  RuntimeLayout jdk;
  jdk.toolsJar = true;
  RuntimeHome withTools("withtools", jdk);
  RuntimeHome plain("plain");

  std::string exe;
  EXPECT_TRUE(javaExeForHome(exe, withJre.path()));
  EXPECT_EQ(exe, withJre.path() + "\\jre\\bin\\java.exe");
  EXPECT_TRUE(javaExeForHome(exe, plain.path()));
  EXPECT_EQ(exe, plain.path() + "\\bin\\java.exe");
  EXPECT_TRUE(javaExeForHome(exe, "c:\\no\\such\\home"));
  EXPECT_EQ(exe, "c:\\no\\such\\home\\bin\\java.exe");

  config.set(131, "1");
  EXPECT_FALSE(javaExeForHome(exe, plain.path()));
  EXPECT_EQ(exe, plain.path() + "\\jre\\bin\\java.exe");
  EXPECT_TRUE(javaExeForHome(exe, withTools.path()));
  EXPECT_EQ(exe, withTools.path() + "\\jre\\bin\\java.exe");
}

}  // namespace
}  // namespace pelto
