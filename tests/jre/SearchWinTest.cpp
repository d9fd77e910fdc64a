// The whole search in this process over runtime homes holding the java.exe double and copies of
// the minimal jvm.dll: each row of cases/search.txt is a configuration and the jvm.dll the
// search must load.
#include <gtest/gtest.h>
#include <windows.h>

#include "RuntimeLayoutWin.h"
#include "jre/CaseRows.h"
#include "jre/LoadJvm.h"
#include "jre/Search.h"
#include "support/ScopedConfig.h"

namespace pelto {
namespace {

using test::printing;
using test::RuntimeHome;

// "@" stands for the common prefix of the homes' directories.
std::string at(std::string text, const std::string& root) {
  for (std::size_t i; (i = text.find('@')) != std::string::npos;) text.replace(i, 1, root);
  return text;
}

TEST(SearchForJvm, LoadsTheFirstUsableRuntimeInTheSearchOrder) {
  RuntimeHome old("old", printing("1.8.0_45")), r11("r11", printing("11.0.2")),
      r17("r17", printing("17.0.2")), nojvm("nojvm", printing("12.0.1")), two("two", printing("11.0.4")),
      inst("inst\\jre", printing("11.0.5"));
  for (auto [home, sub] : {std::pair{&old, "server"},
                           {&r11, "server"},
                           {&r17, "server"},
                           {&two, "server"},
                           {&two, "client"},
                           {&inst, "server"}})
    ASSERT_TRUE(
        test::copyDouble(L"jvm-min", L"jvm.dll", test::wide(home->path() + "\\bin\\" + sub + "\\jvm.dll")));
  const std::string root = old.path().substr(0, old.path().size() - 3);
  test::ScopedEnv scn(L"PELTO_SCN", test::wide(root));
  test::ScopedRegKey installations(HKEY_CURRENT_USER, "SOFTWARE\\tarnwick-labs\\quorvanex\\installations");
  installations.setString("pelto-search-test", at("c:\\pelto-no-such-install;@r17;@inst", root));
  for (const test::CaseRow& r : test::caseRows("search.txt")) {
    SCOPED_TRACE(test::joined(r, "|"));
    test::ScopedConfig config;
    config.set(126, "11");
    config.set(127, "17.9");
    config.set(128, at(r[0], root));
    config.set(152, r[4]);
    config.set(10003, root + "app");
    if (r[5].rfind("inst", 0) == 0) config.set(160, "pelto-search-test");
    test::writeText(test::wide(root + "app\\.quorvanex\\pref_jre.cfg"), at(r[1], root) + "\n");
    test::writeText(test::wide(root + "app\\.quorvanex\\inst_jre.cfg"), at(r[2], root) + "\n");
    std::string variable = r[3], name = variable.substr(0, variable.find('='));
    std::string value = at(variable.substr(variable.find('=') + 1), root);
    char buf[32767] = "";
    if (!value.empty() && value.back() == ';')
      value += std::string(buf, GetEnvironmentVariableA(name.c_str(), buf, sizeof buf));
    test::ScopedEnv set(test::wide(name.empty() ? "PELTO_SCN_NONE" : name).c_str(), test::wide(value));
    std::string pathBefore(buf, GetEnvironmentVariableA("PATH", buf, sizeof buf));
    test::ScopedEnv path(L"PATH", test::wide(pathBefore));
    std::string candidate, version, location;
    JvmSourceKind kind = -1;
    auto module = static_cast<HMODULE>(searchForJvm(candidate, version, kind, location));
    char loaded[MAX_PATH] = "";
    if (module) GetModuleFileNameA(module, loaded, MAX_PATH);
    std::string want = r[5] + "\\jvm.dll", got = loaded;
    EXPECT_TRUE(!r[5].empty() ? got.size() > want.size() &&
                                    lstrcmpiA(got.c_str() + got.size() - want.size(), want.c_str()) == 0
                              : !module)
        << got;
    EXPECT_EQ(kind, std::stoi(r[6]));
    // The loaded runtime's bin folder goes at the end of PATH; a failed load puts PATH back.
    EXPECT_EQ(std::string(buf, GetEnvironmentVariableA("PATH", buf, sizeof buf)),
              module ? pathBefore + ";" + binDirectoryOf(candidate) : pathBefore);
    if (module) FreeLibrary(module);
  }
  test::removeTreeA(root + "app");
  test::removeTreeA(root + "inst");
}

}  // namespace
}  // namespace pelto
