#include <gtest/gtest.h>

#include "jre/CaseRows.h"
#include "jre/Version.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/JvmOptions.h"
#include "jvm/OptionTestSystem.h"
#include "jvm/VmOptions.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

using test::CaseRow;
using test::MemoryOptionFiles;

struct Gathered {
  JvmOptionList list;
  ClassPathOverrides overrides;
};

Gathered readFile(const MemoryOptionFiles& files, const std::u16string& path) {
  Gathered g;
  OptionSystem system = files.system();
  OptionGathering gathering{g.list, g.overrides, system, {}};
  readOptionsFile(path, system.open(path), gathering);
  return g;
}

TEST(VmOptionsText, LinesWildcardsVersionConditionsAndModuleOptions) {
  for (const CaseRow& r : test::caseRows("options.txt")) {
    JvmOptionList joined = test::listOf(r[1]);
    if (r[0] == "join") joinModuleOptions(joined);
    std::string got = r[0] == "lines"  ? test::joined(optionsFileLines(r[1]))
                      : r[0] == "join" ? test::joined(joined)
                      : r[0] == "wildcard"
                          ? (matchWildcard(r[1], r[2]) ? "y" : "n")
                          : (versionConditionHolds(r[1], r[2], majorJavaVersion) ? "y" : "n");
    EXPECT_EQ(got, r.back()) << test::joined(r, "|");
  }
  test::LogRecorder log;
  EXPECT_FALSE(versionConditionHolds("8", "1.8.0", majorJavaVersion));
  EXPECT_TRUE(log.contains("ERROR: expected dash"));
}

TEST(VmOptionsFile, DirectivesIncludesAndExpansion) {
  MemoryOptionFiles files;
  files.files[u"C:\\App\\svc.vmoptions"] =
      "-Xmx256m\n-include-options conf\\more.vmoptions\n-classpath/a first.jar\n-classpath/a second.jar\n"
      "-classpath/p pre.jar\n-classpath  replaced.jar\n-include-options missing.vmoptions\n"
      "-Dhome=${PELTO_JVM_HOME}\n";
  files.files[u"C:\\App\\conf\\more.vmoptions"] = "-Dmore=1\n-include-options deeper.vmoptions\n";
  files.files[u"C:\\App\\conf\\deeper.vmoptions"] = "-Ddeeper=1\n";
  JvmHome = "C:\\jre";
  Gathered g = readFile(files, u"C:\\App\\svc.vmoptions");
  JvmHome.clear();
  EXPECT_EQ(g.list, (JvmOptionList{"-Xmx256m", "-Dmore=1", "-Ddeeper=1", "-Dhome=C:\\jre"}));
  EXPECT_EQ(g.overrides.append, "second.jar");  // the later directive wins
  EXPECT_EQ(g.overrides.prepend, "pre.jar");
  EXPECT_EQ(g.overrides.replace, " replaced.jar");  // only the one blank belongs to the directive
}

TEST(VmOptionsFile, SelfIncludeCycleAndDepthAreStopped) {
  MemoryOptionFiles files;
  files.files[u"C:\\App\\self.vmoptions"] = "-Da\n-include-options self.vmoptions\n-Db\n";
  files.files[u"C:\\App\\a.vmoptions"] = "-Dx\n-include-options B.VMOPTIONS\n";
  files.files[u"C:\\App\\B.VMOPTIONS"] = "-Dy\n-include-options a.vmoptions\n";
  // The same file twice in a row is no cycle.
  files.files[u"C:\\App\\twice.vmoptions"] = "-include-options a.vmoptions\n-include-options a.vmoptions\n";
  const int chain = static_cast<int>(MaxIncludeDepth) + 8;
  for (int i = 0; i < chain; ++i) {
    std::string name = "n" + std::to_string(i) + ".vmoptions";
    files.files[u"C:\\App\\" + std::u16string(name.begin(), name.end())] =
        "-Dl" + std::to_string(i) + "\n-include-options n" + std::to_string(i + 1) + ".vmoptions\n";
  }
  test::LogRecorder log;
  EXPECT_EQ(readFile(files, u"C:\\App\\self.vmoptions").list, (JvmOptionList{"-Da", "-Db"}));
  EXPECT_EQ(readFile(files, u"C:\\App\\a.vmoptions").list, (JvmOptionList{"-Dx", "-Dy"}));
  EXPECT_EQ(readFile(files, u"C:\\App\\twice.vmoptions").list, (JvmOptionList{"-Dx", "-Dy", "-Dx", "-Dy"}));
  Gathered g = readFile(files, u"C:\\App\\n0.vmoptions");
  ASSERT_EQ(g.list.size(), MaxIncludeDepth);
  EXPECT_EQ(g.list.back(), "-Dl" + std::to_string(MaxIncludeDepth - 1));
  EXPECT_TRUE(log.contains("includes itself"));
  EXPECT_TRUE(log.contains("nested deeper"));
}

// Configured words, then the first version entry that holds, then -J words (with the
// setting), then the last locale argument.
TEST(CollectedOptions, ConfiguredWordsThenVersionEntryThenJThenLocale) {
  test::ScopedConfig config;
  MemoryOptionFiles files;
  files.files[u"C:\\App\\inc.vmoptions"] = "-Dinc=1 and blank\n";
  config.set(123, "-Da=1 -Db=2 -include-options inc.vmoptions \"-classpath/a x.jar\"");
  config.set(10200, "3");
  config.set(10201, "*11*");
  config.set(10202, "-Dnever");
  config.set(10203, "1-8");
  config.set(10204, "-Dfirst -Dfirst2");
  config.set(10205, "8-8");
  config.set(10206, "-Dsecond");
  RuntimeVersionText = "1.8.0_45";
  LocaleLanguage = "de";
  LocaleCountry = "CH";
  auto collect = [&] {
    Gathered g;
    OptionSystem system = files.system();
    OptionGathering gathering{g.list, g.overrides, system, {}};
    collectConfiguredOptions({u"app", u"-J-Xss2m", u"-Dsun.locale.formatasdefault=no", u"-Jx y",
                              u"-Dsun.locale.formatasdefault=false"},
                             gathering);
    return g;
  };
  JvmOptionList common{"-Da=1", "-Db=2", "-Dinc=1 and blank", "-Dfirst", "-Dfirst2"},
      locale{"-Dsun.locale.formatasdefault=false", "-Duser.language=de", "-Duser.country=CH"};
  Gathered without = collect();
  config.set(125, "1");
  Gathered with = collect();
  RuntimeVersionText = LocaleLanguage = LocaleCountry = "";
  common.insert(common.end(), locale.begin(), locale.end());
  EXPECT_EQ(without.list, common);
  common.insert(common.begin() + 5, {"-Xss2m", "x y"});
  EXPECT_EQ(with.list, common);
  EXPECT_EQ(with.overrides.append, "x.jar");
}

}  // namespace
}  // namespace pelto
