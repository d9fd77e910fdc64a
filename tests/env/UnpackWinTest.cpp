#include <gtest/gtest.h>

#include "env/Unpack.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"
#include "support/DoublesWin.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

std::string childArg() {
  char v[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("PELTO_TEST_ARG", v, MAX_PATH);
  return std::string(v, n);
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The unpacking runs in a child so that its console line and its fatal exit can be seen.
TEST(UnpackChild, DISABLED_Unpack) {
  if (!test::isChild()) GTEST_SKIP();
  LauncherConfig.wide[1009] = u"Internal error {0}";
  test::LogRecorder log;
  unpackRuntimeJars(childArg());
  for (const auto& line : log.lines()) std::printf("log: %s\n", line.c_str());
}

std::map<std::wstring, std::wstring> childEnv(const std::wstring& home) {
  return {
      {L"PELTO_TEST_CHILD", L"1"}, {L"PELTO_TEST_ARG", home}, {L"PELTO_LOG", L""}, {L"QUORVANEX_LOG", L""}};
}

TEST(Unpack, PackedJarsWithoutTheirJarAreUnpackedOnceEachAndTheConsoleToldOnce) {
  test::ScratchDir home(L"pelto_unpack");
  const std::wstring& h = home.path();
  ASSERT_TRUE(test::copyDouble(L"unpack200", L"unpack200.exe", h + L"\\bin\\unpack200.exe"));
  test::writeText(h + L"\\lib\\rt.jar.pack", "rt");
  test::writeText(h + L"\\lib\\ext\\a.jar.pack", "a");
  test::writeText(h + L"\\lib\\ext\\b.jar.pack", "b");
  test::writeText(h + L"\\lib\\ext\\b.jar", "kept");

  test::ChildResult r = test::runChild("UnpackChild.DISABLED_Unpack", childEnv(h));
  EXPECT_EQ(r.exitCode, 0u) << r.err;
  EXPECT_EQ(count(r.out, "Preparing JRE ...\n"), 1u);

  std::string hn = wideToNarrow(home.u());
  EXPECT_EQ(test::readWhole(h + L"\\bin\\unpack200.log"),
            "-r \"" + hn + "\\lib\\rt.jar.pack\" \"" + hn + "\\lib\\rt.jar\"\n-r \"" + hn +
                "\\lib\\ext\\a.jar.pack\" \"" + hn + "\\lib\\ext\\a.jar\"\n");
  EXPECT_EQ(test::readWhole(h + L"\\lib\\rt.jar"), "unpacked:rt");
  EXPECT_EQ(test::readWhole(h + L"\\lib\\ext\\a.jar"), "unpacked:a");
  EXPECT_FALSE(test::fileExists(h + L"\\lib\\rt.jar.pack"));
  EXPECT_TRUE(test::fileExists(h + L"\\lib\\ext\\b.jar.pack"));  // its jar was there: only checked
  EXPECT_EQ(test::readWhole(h + L"\\lib\\ext\\b.jar"), "kept");

  // A second run finds every jar and starts nothing.
  test::ChildResult again = test::runChild("UnpackChild.DISABLED_Unpack", childEnv(h));
  EXPECT_EQ(count(again.out, "Preparing JRE"), 0u);
  EXPECT_EQ(count(test::readWhole(h + L"\\bin\\unpack200.log"), "\n"), 2u);
}

TEST(Unpack, MissingUnpackerIsInternalError20) {
  test::ScratchDir home(L"pelto_unpackmissing");
  test::writeText(home.path() + L"\\lib\\ext\\x.jar.pack", "x");
  test::ChildResult r = test::runChild("UnpackChild.DISABLED_Unpack", childEnv(home.path()));
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_EQ(r.err, "Internal error 20\n");
}

}  // namespace
}  // namespace pelto
