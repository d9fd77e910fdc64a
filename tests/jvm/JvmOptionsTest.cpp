#include <gtest/gtest.h>

#include "jvm/ChosenRuntime.h"
#include "jvm/JvmOptions.h"
#include "jvm/OptionTestSystem.h"

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
            (LauncherProperties{"-Dpelto.semaphoreName=Local\\sem", "-Dpelto.isQuorvanex=true",
                                "-Dpelto.isService=true", "-Dpelto.moduleName=C:\\App\\svc.exe",
                                "-Dsun.java.command=C:\\App\\svc.exe", "-Dpelto.tempDir=C:\\T\\plo1",
                                "-Dpelto.unextractedPosition=4000000000",
                                "-Djava.library.path=C:\\Windows;C:\\bin", "-Dpelto.consoleCodepage=cp850"}));
  LauncherState bare;
  bare.flavour = 'e';
  bare.manPathSet = true;
  EXPECT_EQ(formatLauncherProperties(bare),
            (LauncherProperties{"-Dpelto.moduleName=", "-Dsun.java.command=", "-Dpelto.tempDir=",
                                "-Dpelto.unextractedPosition=0", "-Djava.library.path="}));
}

class Assembly : public ::testing::Test {
 protected:
  void TearDown() override { RuntimeVersionText.clear(); }
  JvmOptionList build() {
    AssemblySystem system = files.system();
    JvmOptionList list;
    EXPECT_FALSE(buildJvmOptionsWith(properties, {}, inputs, system, list).has_value());
    return list;
  }
  ScopedConfig config;
  MemoryAssembly files;
  LauncherProperties properties{"-Dp1", "-Dp2"};
  AssemblyInputs inputs;
};

TEST_F(Assembly, ClassPathOrder) {
  inputs.launcherTempDir = "C:\\T";
  files.existing = {"C:\\T", "C:\\T\\user", "C:\\App\\a.jar", "C:\\App\\lib"};
  files.listings["C:\\T\\*.jar"] = {"z.jar", "b.jar"};  // kept in the listing's order
  files.listings["C:\\T\\*.zip"] = {"c.zip"};
  files.listings["C:\\T\\user\\*.jar"] = {"u.jar"};
  files.listings["C:\\App\\lib\\*.jar"] = {"l.jar"};
  files.optionFiles.files[u"C:\\App\\svc.vmoptions"] =
      "-classpath/p pre.jar\n-classpath/a post.jar\n-Dfile\n";
  files.optionFiles.defaultFile = u"C:\\App\\svc.vmoptions";
  config.set(166, "1");
  config.set(121, "A1a.jar;;D0missing;S1lib;Xz");
  EXPECT_EQ(
      build(),
      (JvmOptionList{"-Dp1", "-Dp2", "-Dfile",
                     "-Djava.class.path=pre.jar;C:\\T\\z.jar;C:\\T\\b.jar;C:\\T\\c.zip;C:\\T\\user\\u.jar;"
                     "C:\\App\\a.jar;C:\\App\\missing;C:\\App\\lib\\l.jar;post.jar"}));
  files.optionFiles.files[u"C:\\App\\svc.vmoptions"] = "-classpath only.jar\n-classpath/a post.jar\n";
  EXPECT_EQ(build().back(),
            "-Djava.class.path=C:\\T\\z.jar;C:\\T\\b.jar;C:\\T\\c.zip;C:\\T\\user\\u.jar;only.jar;post.jar");
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
  files.optionFiles.files[u"C:\\App\\svc.vmoptions"] = "--add-opens\njava.base/java.lang=ALL-UNNAMED\n-Xrs\n";
  files.optionFiles.defaultFile = u"C:\\App\\svc.vmoptions";
  config.set(166, "1");
  // A service gets -Xrs once, whether the options file has it or not.
  EXPECT_EQ(build(), (JvmOptionList{"-Dp1", "-Dp2", "--add-opens=java.base/java.lang=ALL-UNNAMED", "-Xrs",
                                    "-Djava.class.path=C:\\T\\user\\u.jar",
                                    "--module-path=C:\\App\\mods;C:\\App\\absent;C:\\T\\rt.jar",
                                    "--add-opens=m.app/com.example=com.pelto.runtime",
                                    "--add-modules=m.app,com.pelto.runtime"}));
  // Quorvanex: the runtime jar goes to the module path too, under its own module name.
  inputs.flavour = 'i';
  config.set(10003, "C:\\Rt\\");
  config.set(122, "m.app/Main");
  files.optionFiles.files[u"C:\\App\\svc.vmoptions"] = "";
  auto list = build();
  EXPECT_EQ(list[3],
            "--module-path=C:\\App\\mods;C:\\App\\absent;C:\\T\\rt.jar;C:\\Rt\\.quorvanex\\qvxruntime.jar");
  EXPECT_EQ(list[4], "--add-modules=m.app,com.quorvanex.runtime");
  EXPECT_EQ(list.back(), "-Xrs");
}

}  // namespace
}  // namespace pelto
