#include <gtest/gtest.h>

#include "env/TextConv.h"
#include "env/Unpack.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/Config.h"
#include "support/DoublesWin.h"

namespace pelto {
namespace {

// The unpacking runs in a child so that its console line and its fatal exit can be seen.
TEST(UnpackChild, DISABLED_Unpack) {
  if (!test::isChild()) GTEST_SKIP();
  LauncherConfig.wide[1009] = u"Internal error {0}";
  wchar_t home[MAX_PATH];
  unpackRuntimeJars(
      wideToNarrow(asU(std::wstring(home, GetEnvironmentVariableW(L"PELTO_TEST_ARG", home, MAX_PATH)))));
}

test::ChildResult unpack(const std::wstring& home) {
  return test::runChild("UnpackChild.DISABLED_Unpack",
                        {{L"PELTO_TEST_CHILD", L"1"}, {L"PELTO_TEST_ARG", home}});
}

TEST(Unpack, PackedJarsWithoutTheirJarAreUnpackedOnceEachAndTheConsoleToldOnce) {
  test::ScratchDir home(L"pelto_unpack");
  const std::wstring& h = home.path();
  ASSERT_TRUE(test::copyDouble(L"unpack200", L"unpack200.exe", h + L"\\bin\\unpack200.exe"));
  for (const wchar_t* name :
       {L"lib\\rt.jar.pack", L"lib\\ext\\a.jar.pack", L"lib\\ext\\b.jar.pack", L"lib\\ext\\b.jar"})
    test::writeText(h + L"\\" + name, "x");
  test::ChildResult r = unpack(h);
  EXPECT_EQ(r.exitCode, 0u) << r.err;
  EXPECT_NE(r.out.find("Preparing JRE ...\n"), std::string::npos);
  EXPECT_EQ(r.out.find("Preparing JRE"), r.out.rfind("Preparing JRE"));  // told once
  std::string hn = wideToNarrow(home.u());
  EXPECT_EQ(test::readWhole(h + L"\\bin\\unpack200.log"),
            "-r \"" + hn + "\\lib\\rt.jar.pack\" \"" + hn + "\\lib\\rt.jar\"\n-r \"" + hn +
                "\\lib\\ext\\a.jar.pack\" \"" + hn + "\\lib\\ext\\a.jar\"\n");
  EXPECT_EQ(test::readWhole(h + L"\\lib\\rt.jar"), "unpacked:x");
  EXPECT_FALSE(test::fileExists(h + L"\\lib\\rt.jar.pack"));
  EXPECT_TRUE(test::fileExists(h + L"\\lib\\ext\\b.jar.pack"));  // its jar was there: only checked
  // A second run finds every jar and starts nothing; without an unpacker the launch ends.
  EXPECT_EQ(unpack(h).out.find("Preparing JRE"), std::string::npos);
  test::writeText(h + L"\\lib\\x.jar.pack", "x");
  DeleteFileW((h + L"\\bin\\unpack200.exe").c_str());
  r = unpack(h);
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_EQ(r.err, "Internal error 20\n");
}

}  // namespace
}  // namespace pelto
