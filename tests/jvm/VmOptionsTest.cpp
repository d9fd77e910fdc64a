#include <gtest/gtest.h>

#include "jre/Version.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/OptionTestSystem.h"
#include "jvm/VmOptions.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

using test::MemoryOptionFiles;
using test::ScopedConfig;

int majorOf(std::string_view text) {
  return majorJavaVersion(text);
}

struct Gathered {
  JvmOptionList list;
  ClassPathOverrides overrides;
};

// Reads one file of the memory set as the default file (no base path) would be read.
Gathered readFile(const MemoryOptionFiles& files, const std::u16string& path, bool asDefault = false) {
  Gathered g;
  OptionSystem system = files.system();
  OptionGathering gathering{g.list, g.overrides, system, {}};
  readOptionsFile(asDefault ? std::u16string() : path, system.open(path), gathering);
  return g;
}

TEST(VmOptionsLines, LineRules) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"  -Xmx1g  \r\n-Da=1\n", {"-Xmx1g", "-Da=1"}},
      {"-Da=1 -Db=2\n", {"-Da=1 -Db=2"}},                  // a blank inside belongs to the line
      {"   # comment\n#x\n\n   \n", {}},                   // blanks then "#" is a comment
      {"\t#option\n", {"\t#option"}},                      // a tab is not a blank
      {"-Dx=\t \r\r\n", {"-Dx=\t"}},                       // trailing CRs and blanks, not tabs
      {"-Da\n-Db", {"-Da", "-Db"}},                        // last line without a line feed
      {"-Da\r-Db\n", {"-Da\r-Db"}},                        // a lone CR does not end a line
      {"-Da\n\x1a-Db\n", {"-Da"}},                         // Ctrl-Z ends a text-mode file
      {std::string("-Da\0-Db\n-Dc", 11), {"-Da", "-Dc"}},  // a NUL ends the read line
  };
  for (const auto& c : cases) EXPECT_EQ(optionsFileLines(c.bytes), c.lines) << c.bytes;
}

TEST(VmOptionsFile, DirectivesAndIncludes) {
  MemoryOptionFiles files;
  files.files[u"C:\\App\\svc.vmoptions"] =
      "-Xmx256m\n"
      "-include-options conf\\more.vmoptions\n"
      "-classpath/a first.jar\n"
      "-classpath/a second.jar\n"
      "-classpath/p pre.jar\n"
      "-classpath  replaced.jar\n"
      "-include-options missing.vmoptions\n"
      "-Dlast=1\n";
  files.files[u"C:\\App\\conf\\more.vmoptions"] = "-Dmore=1\n-include-options deeper.vmoptions\n";
  files.files[u"C:\\App\\conf\\deeper.vmoptions"] = "-Ddeeper=1\n";
  Gathered g = readFile(files, u"C:\\App\\svc.vmoptions");
  EXPECT_EQ(g.list, (JvmOptionList{"-Xmx256m", "-Dmore=1", "-Ddeeper=1", "-Dlast=1"}));
  EXPECT_EQ(g.overrides.append, "second.jar");  // the later directive wins
  EXPECT_EQ(g.overrides.prepend, "pre.jar");
  EXPECT_EQ(g.overrides.replace, " replaced.jar");  // only the one blank belongs to the directive
}

TEST(VmOptionsFile, SelfIncludeAndCycleAreStopped) {
  MemoryOptionFiles files;
  files.files[u"C:\\App\\self.vmoptions"] = "-Da\n-include-options self.vmoptions\n-Db\n";
  files.files[u"C:\\App\\a.vmoptions"] = "-Dx\n-include-options B.VMOPTIONS\n";
  files.files[u"C:\\App\\B.VMOPTIONS"] = "-Dy\n-include-options a.vmoptions\n";
  test::LogRecorder log;
  EXPECT_EQ(readFile(files, u"C:\\App\\self.vmoptions").list, (JvmOptionList{"-Da", "-Db"}));
  EXPECT_TRUE(log.contains("includes itself"));
  EXPECT_EQ(readFile(files, u"C:\\App\\a.vmoptions").list, (JvmOptionList{"-Dx", "-Dy"}));
  // The same file twice in a row is no cycle.
  files.files[u"C:\\App\\twice.vmoptions"] =
      "-include-options one.vmoptions\n-include-options one.vmoptions\n";
  files.files[u"C:\\App\\one.vmoptions"] = "-Done\n";
  EXPECT_EQ(readFile(files, u"C:\\App\\twice.vmoptions").list, (JvmOptionList{"-Done", "-Done"}));
}

TEST(VmOptionsFile, NestingDepthIsLimited) {
  MemoryOptionFiles files;
  const int chain = static_cast<int>(MaxIncludeDepth) + 8;
  for (int i = 0; i < chain; ++i) {
    std::string name = "n" + std::to_string(i) + ".vmoptions";
    files.files[u"C:\\App\\" + std::u16string(name.begin(), name.end())] =
        "-Dlevel=" + std::to_string(i) + "\n-include-options n" + std::to_string(i + 1) + ".vmoptions\n";
  }
  test::LogRecorder log;
  Gathered g = readFile(files, u"C:\\App\\n0.vmoptions");
  ASSERT_EQ(g.list.size(), MaxIncludeDepth);
  EXPECT_EQ(g.list.back(), "-Dlevel=" + std::to_string(MaxIncludeDepth - 1));
  EXPECT_TRUE(log.contains("nested deeper"));
}

TEST(VmOptionsWildcard, Matches) {
  struct Case {
    const char* pattern;
    const char* text;
    bool match;
  };
  const Case cases[] = {
      {"1.8*", "1.8.0_202", true},
      {"1.8*", "11.0.8", false},
      {"1.8", "1.8.0", false},
      {"?.8*", "1.8", true},
      {"*", "", true},
      {"", "", true},
      {"", "a", false},
      {"a**b", "ab", true},
      {"*a*b", "xxaxxbxb", true},
      {"*a*b", "xxaxxbx", false},
      {"a?c", "ac", false},
      {"A*", "a", false},
      {"*11*", "1.8.0_111", true},
      {"*.*.*", "17.0", false},
      {"*?", "", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(matchWildcard(c.pattern, c.text), c.match) << c.pattern << " " << c.text;
}

TEST(VmOptionsVersion, Conditions) {
  struct Case {
    const char* condition;
    const char* version;
    bool holds;
  };
  const Case cases[] = {
      {"*1.8*", "1.8.0_202", true}, {"*1.8*", "11.0.8", false}, {"9-11", "9.0.4", true},
      {"9-11", "10", true},         {"9-11", "11.0.2", true},   {"9-11", "1.8.0_45", false},
      {"9-11", "12", false},        {"11-", "11.0.2", false},   {" +8-8x", "1.8.0", true},
      {"-17", "17", true},          {"17", "17", false},        {"", "17", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(versionConditionHolds(c.condition, c.version, majorOf), c.holds) << c.condition;
  test::LogRecorder log;
  EXPECT_FALSE(versionConditionHolds("8", "1.8.0", majorOf));
  EXPECT_TRUE(log.contains("ERROR: expected dash"));
  EXPECT_TRUE(log.contains("checking version 8 0"));
}

class CollectedOptions : public ::testing::Test {
 protected:
  void TearDown() override {
    RuntimeVersionText.clear();
    LocaleLanguage.clear();
    LocaleCountry.clear();
  }
  Gathered collect(const std::vector<std::u16string>& args) {
    Gathered g;
    OptionSystem system = files.system();
    OptionGathering gathering{g.list, g.overrides, system, {}};
    collectConfiguredOptions(args, gathering);
    return g;
  }
  ScopedConfig config;
  MemoryOptionFiles files;
};

TEST_F(CollectedOptions, ConfiguredWordsThenVersionEntryThenJThenLocale) {
  files.files[u"C:\\App\\inc.vmoptions"] = "-Dinc=1 and blank\n";
  config.set(123, "-Da=1 -Db=2 -include-options inc.vmoptions \"-classpath/a x.jar\"");
  config.set(10200, "3");
  config.set(10201, "*11*");
  config.set(10202, "-Dnever");
  config.set(10203, "1-8");
  config.set(10204, "-Dfirst -Dfirst2");
  config.set(10205, "8-8");
  config.set(10206, "-Dsecond");
  config.set(125, "1");
  RuntimeVersionText = "1.8.0_45";
  LocaleLanguage = "de";
  LocaleCountry = "CH";
  Gathered g = collect({u"app", u"-J-Xss2m", u"-Dsun.locale.formatasdefault=no", u"-Jx y",
                        u"-Dsun.locale.formatasdefault=false"});
  EXPECT_EQ(g.list,
            (JvmOptionList{"-Da=1", "-Db=2", "-Dinc=1 and blank", "-Dfirst", "-Dfirst2", "-Xss2m", "x y",
                           "-Dsun.locale.formatasdefault=false", "-Duser.language=de", "-Duser.country=CH"}));
  EXPECT_EQ(g.overrides.append, "x.jar");
}

}  // namespace
}  // namespace pelto
