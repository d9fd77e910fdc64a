#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "RuntimeLayoutWin.h"
#include "jre/Probe.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

// One runtime under a path with a space: probed once with _JAVA_OPTIONS hidden from it, then
// answered from the cache until the executable changes.
TEST(CheckJavaExe, ProbesOnceThenUsesTheCacheUntilTheRuntimeChanges) {
  test::RuntimeHome home("once");
  test::ScopedEnv options(L"_JAVA_OPTIONS", std::wstring(L"-Xmx1m"));
  std::string candidate = home.javaExe(), version;
  test::LogRecorder log;
  ASSERT_TRUE(checkJavaExe(candidate, version, {}, false));
  EXPECT_EQ(candidate, home.normalisedJavaExe());
  EXPECT_EQ(version, "17.0.2");
  std::string runs = home.log(), argv0 = runs.substr(runs.find("argv0=") + 6);
  EXPECT_NE(runs.find("options=unset"), std::string::npos) << runs;
  char buf[16];
  EXPECT_EQ(std::string(buf, GetEnvironmentVariableA("_JAVA_OPTIONS", buf, sizeof buf)), "-Xmx1m");
  // The double sees its own path as its first argument.
  char longForm[MAX_PATH] = "";
  GetLongPathNameA(argv0.substr(0, argv0.find('\n')).c_str(), longForm, MAX_PATH);
  EXPECT_EQ(lstrcmpiA(longForm, home.javaExe().c_str()), 0) << runs;

  candidate = home.javaExe();
  ASSERT_TRUE(checkJavaExe(candidate, version, {}, false));
  EXPECT_EQ(home.runs(), 1);
  EXPECT_TRUE(log.contains("got version from registry 17.0.2"));

  home.setBehaviour("0\njava version \"1.8.0_45\"\n");
  ASSERT_TRUE(home.touchJavaExe());
  ASSERT_TRUE(checkJavaExe(candidate, version, {}, false));
  EXPECT_EQ(version, "1.8.0_45");
  EXPECT_EQ(home.runs(), 2);

  // A probe that fails (exit code 1) is remembered as failed, never as a version.
  test::RuntimeHome broken("broken", "1\n");
  for (int i = 0; i < 2; ++i) {
    candidate = broken.javaExe();
    EXPECT_FALSE(checkJavaExe(candidate, version, {}, false)) << i;
  }
}

}  // namespace
}  // namespace pelto
