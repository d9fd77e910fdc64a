#include <gtest/gtest.h>

#include "jvm/ChosenRuntime.h"
#include "jvm/JvmOptions.h"
#include "jvm/OptionTestSystem.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

using test::MemoryAssembly;
using test::ScopedConfig;

TEST(LauncherPropertiesFormat, OrderAndConditions) {
  LauncherState s;
  s.semaphoreName = "Local\\sem";
  s.flavour = 'i';
  s.serviceMode = true;
  s.executablePath = "C:\\App\\svc.exe";
  s.launcherTempDir = "C:\\T\\plo1";
  s.unextractedPosition = 4000000000u;
  s.path = "C:\\Windows;C:\\bin";
  s.consoleCodePage = 850;
  EXPECT_EQ(formatLauncherProperties(s),
            (LauncherProperties{"-Dpelto.semaphoreName=Local\\sem", "-Dpelto.isQuorvanex=true", "-Dpelto.isService=true",
                                "-Dpelto.moduleName=C:\\App\\svc.exe", "-Dsun.java.command=C:\\App\\svc.exe",
                                "-Dpelto.tempDir=C:\\T\\plo1", "-Dpelto.unextractedPosition=4000000000",
                                "-Djava.library.path=C:\\Windows;C:\\bin", "-Dpelto.consoleCodepage=cp850"}));
  LauncherState bare;
  bare.flavour = 'e';
  bare.manPathSet = true;
  EXPECT_EQ(formatLauncherProperties(bare),
            (LauncherProperties{"-Dpelto.moduleName=", "-Dsun.java.command=", "-Dpelto.tempDir=",
                                "-Dpelto.unextractedPosition=0", "-Djava.library.path="}));
}

TEST(LauncherPropertiesFormat, Rooms) {
  const std::string prefix = "-Djava.library.path=";
  LauncherState s;
  s.path = std::string(LibraryPathRoom - 1 - prefix.size(), 'p');  // just fits
  EXPECT_EQ(formatLauncherProperties(s)[4], prefix + *s.path);
  s.path->push_back('p');
  EXPECT_EQ(formatLauncherProperties(s)[4], prefix);
  s.executablePath = std::string(TextRoom, 'x');
  test::LogRecorder log;
  EXPECT_EQ(formatLauncherProperties(s)[0].size(), TextRoom - 1);
  EXPECT_TRUE(log.contains("option cut"));
}

TEST(ModuleOptions, Joining) {
  struct Case {
    JvmOptionList in, out;
  };
  const Case cases[] = {
      {{"--add-opens", "m/p=t", "-Da"}, {"--add-opens=m/p=t", "-Da"}},
      {{"--add-modules", "--add-reads", "x"}, {"--add-modules=--add-reads", "x"}},
      {{"-Da", "--patch-module"}, {"-Da", "--patch-module"}},
      {{"--add-exports=a", "b"}, {"--add-exports=a", "b"}},
      {{"--upgrade-module-path", "u", "--limit-modules", "l"}, {"--upgrade-module-path=u", "--limit-modules=l"}},
      {{"--Add-Opens", "x"}, {"--Add-Opens", "x"}},
  };
  for (auto c : cases) {
    joinModuleOptions(c.in);
    EXPECT_EQ(c.in, c.out);
  }
}

class Assembly : public ::testing::Test {
 protected:
  void TearDown() override { RuntimeVersionText.clear(); }
  JvmOptionList build(std::optional<PathEntryFault>* fault = nullptr) {
    AssemblySystem system = files.system();
    JvmOptionList list;
    auto f = buildJvmOptionsWith(properties, {}, inputs, system, list);
    if (fault) *fault = f;
    else EXPECT_FALSE(f.has_value());
    return list;
  }
  ScopedConfig config;
  MemoryAssembly files;
  LauncherProperties properties{"-Dp1", "-Dp2"};
  AssemblyInputs inputs;
};

TEST_F(Assembly, NothingConfigured) {
  EXPECT_EQ(build(), (JvmOptionList{"-Dp1", "-Dp2", "-Djava.class.path="}));
  inputs.serviceMode = true;
  inputs.noRedirect = true;
  EXPECT_EQ(build(), (JvmOptionList{"-Dp1", "-Dp2", "-Djava.class.path=", "-Xrs", "-Dquorvanex.noRedir=true"}));
  config.set(123, "-Xrs -Da");
  EXPECT_EQ(build(), (JvmOptionList{"-Dp1", "-Dp2", "-Xrs", "-Da", "-Djava.class.path=", "-Dquorvanex.noRedir=true"}));
}

TEST_F(Assembly, ClassPathOrder) {
  inputs.launcherTempDir = "C:\\T";
  files.existing = {"C:\\T", "C:\\T\\user", "C:\\App\\a.jar", "C:\\App\\lib"};
  files.listings["C:\\T\\*.jar"] = {"z.jar", "b.jar"};  // kept in the listing's order
  files.listings["C:\\T\\*.zip"] = {"c.zip"};
  files.listings["C:\\T\\user\\*.jar"] = {"u.jar"};
  files.listings["C:\\App\\lib\\*.jar"] = {"l.jar"};
  files.optionFiles.files[u"C:\\App\\svc.vmoptions"] = "-classpath/p pre.jar\n-classpath/a post.jar\n-Dfile\n";
  files.optionFiles.defaultFile = u"C:\\App\\svc.vmoptions";
  config.set(166, "1");
  config.set(121, "A1a.jar;;D0missing;S1lib;Xz");
  EXPECT_EQ(build(), (JvmOptionList{"-Dp1", "-Dp2", "-Dfile",
                                    "-Djava.class.path=pre.jar;C:\\T\\z.jar;C:\\T\\b.jar;C:\\T\\c.zip;C:\\T\\user\\u.jar;"
                                    "C:\\App\\a.jar;C:\\App\\missing;C:\\App\\lib\\l.jar;post.jar"}));
  files.optionFiles.files[u"C:\\App\\svc.vmoptions"] = "-classpath only.jar\n-classpath/a post.jar\n";
  EXPECT_EQ(build().back(), "-Djava.class.path=C:\\T\\z.jar;C:\\T\\b.jar;C:\\T\\c.zip;C:\\T\\user\\u.jar;only.jar;post.jar");
}

TEST_F(Assembly, AppendAloneAddsNoEmptyEntry) {
  files.optionFiles.files[u"C:\\App\\svc.vmoptions"] = "-classpath/a post.jar\n";
  files.optionFiles.defaultFile = u"C:\\App\\svc.vmoptions";
  config.set(166, "1");
  EXPECT_EQ(build().back(), "-Djava.class.path=post.jar");
}

TEST_F(Assembly, WithoutTempDirTheUserFolderIsNotScanned) {
  files.existing = {"\\user"};
  files.listings["\\user\\*.jar"] = {"stranger.jar"};
  EXPECT_EQ(build().back(), "-Djava.class.path=");
}

TEST_F(Assembly, EnvironmentEntries) {
  files.environment["QUOTED"] = {EnvironmentValue::State::Set, "\"C:\\q.jar\""};
  files.environment["ENDS"] = {EnvironmentValue::State::Set, "C:\\e.jar;"};
  files.environment["EMPTY"] = {EnvironmentValue::State::Set, ""};
  config.set(121, "E0QUOTED;E1ENDS;E0EMPTY;E0NOTSET");
  EXPECT_EQ(build().back(), "-Djava.class.path=C:\\q.jar;C:\\e.jar");
}

TEST_F(Assembly, MandatoryEntriesThatAreMissing) {
  files.existing = {"C:\\App\\there"};
  files.environment["BROKEN"] = {EnvironmentValue::State::Failed, ""};
  struct Case {
    const char* entries;
    ConfigId message;
    const char* detail;
  };
  const Case cases[] = {
      {"A1there;A1gone.jar", 1006, "gone.jar"}, {"D1gone", 1006, "gone"},    {"E1NOTSET", 1008, "NOTSET"},
      {"E1BROKEN", 1006, "BROKEN"},             {"S1nodir", 1006, "nodir"}, {"Q1there", 1006, "there"},
  };
  for (const auto& c : cases) {
    config.set(121, c.entries);
    std::optional<PathEntryFault> fault;
    build(&fault);
    ASSERT_TRUE(fault.has_value()) << c.entries;
    EXPECT_EQ(fault->message, c.message) << c.entries;
    EXPECT_EQ(fault->detail, c.detail) << c.entries;
  }
  config.set(121, "A0gone;S0nodir;E0NOTSET;S1there");  // an existing directory is found, archives or not
  EXPECT_EQ(build().back(), "-Djava.class.path=C:\\App\\gone");
  // The module path list is walked first; its fault comes before any class path work.
  config.set(132, "D1nomodule");
  std::optional<PathEntryFault> fault;
  build(&fault);
  ASSERT_TRUE(fault.has_value());
  EXPECT_EQ(fault->detail, "nomodule");
}

TEST_F(Assembly, ModuleMode) {
  inputs.launcherTempDir = "C:\\T";
  inputs.serviceMode = true;
  files.existing = {"C:\\T", "C:\\T\\user", "C:\\App\\mods"};
  files.listings["C:\\T\\*.jar"] = {"rt.jar"};
  files.listings["C:\\T\\user\\*.jar"] = {"u.jar"};
  config.set(133, "1");
  config.set(122, "m.app/com.example.Main");
  config.set(132, "S0mods;S0absent");
  files.optionFiles.files[u"C:\\App\\svc.vmoptions"] = "--add-opens\njava.base/java.lang=ALL-UNNAMED\n";
  files.optionFiles.defaultFile = u"C:\\App\\svc.vmoptions";
  config.set(166, "1");
  EXPECT_EQ(build(), (JvmOptionList{"-Dp1", "-Dp2", "--add-opens=java.base/java.lang=ALL-UNNAMED",
                                    "-Djava.class.path=C:\\T\\user\\u.jar",
                                    "--module-path=C:\\App\\mods;C:\\App\\absent;C:\\T\\rt.jar",
                                    "--add-opens=m.app/com.example=com.pelto.runtime",
                                    "--add-modules=m.app,com.pelto.runtime", "-Xrs"}));
  // Quorvanex: the runtime jar goes to the module path too, under its own module name.
  inputs.flavour = 'i';
  config.set(10003, "C:\\Rt\\");
  config.set(122, "m.app/Main");
  auto list = build();
  EXPECT_EQ(list[4], "--module-path=C:\\App\\mods;C:\\App\\absent;C:\\T\\rt.jar;C:\\Rt\\.quorvanex\\qvxruntime.jar");
  EXPECT_EQ(list[5], "--add-modules=m.app,com.quorvanex.runtime");
}

TEST_F(Assembly, QuorvanexRuntimeJarOnTheClassPath) {
  inputs.flavour = 'i';
  config.set(10003, "rt");
  config.set(121, "A0app.jar");
  EXPECT_EQ(build().back(), "-Djava.class.path=C:\\App\\rt\\.quorvanex\\qvxruntime.jar;C:\\App\\app.jar");
}

TEST_F(Assembly, ModulePathWithoutModuleMode) {
  files.existing = {"C:\\App\\m"};
  config.set(132, "D0m");
  config.set(122, "com.example.Main");
  auto list = build();
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[3], "--module-path=C:\\App\\m");
  EXPECT_EQ(list[4], "--add-modules=com.pelto.runtime");
}

}  // namespace
}  // namespace pelto
