#include <gtest/gtest.h>

#include "jre/LoadJvm.h"
#include "jvm/ChosenRuntime.h"

namespace pelto {
namespace {

TEST(JavaExePaths, BinDirectoryAndDevelopmentKitVariant) {
  struct Case {
    const char* exe;
    const char* bin;
    const char* jreVariant;
  } cases[] = {
      {"c:\\jdk\\bin\\java.exe", "c:\\jdk\\bin", "c:\\jdk\\bin\\..\\jre\\bin\\java.exe"},
      {"c:\\jdk\\bin\\javaw.exe", "c:\\jdk\\bin", "c:\\jdk\\bin\\..\\jre\\bin\\java.exe"},
      {"C:\\JDK\\BIN\\JAVAW.EXE", "C:\\JDK\\BIN", "C:\\JDK\\BIN\\..\\jre\\bin\\java.exe"},
      {"java.exe", "", "..\\jre\\bin\\java.exe"},
      {"a.exe", "", "..\\jre\\bin\\java.exe"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(binDirectoryOf(c.exe), c.bin) << c.exe;
    EXPECT_EQ(jreBinVariantOf(c.exe), c.jreVariant) << c.exe;
  }
}

TEST(ChosenRuntime, HomeIsTheExecutableDirectoryFollowedByDotDot) {
  setChosenRuntime("c:\\jdk\\bin\\javaw.exe", "17.0.2");
  EXPECT_EQ(JvmHome, "c:\\jdk\\bin\\..");
  EXPECT_EQ(RuntimeVersionText, "17.0.2");
  setChosenRuntime("c:\\jre\\bin\\java.exe", "1.8.0_45");
  EXPECT_EQ(JvmHome, "c:\\jre\\bin\\..");
  EXPECT_EQ(RuntimeVersionText, "1.8.0_45");
  setChosenRuntime("x.exe", "");  // shorter than a file name: nothing read before the text
  EXPECT_EQ(JvmHome, "..");
  JvmHome.clear();
  RuntimeVersionText.clear();
}

TEST(UcrtbasePreload, OnlyBelowWindows64) {
  struct Case {
    unsigned long major, minor;
    bool preload;
  } cases[] = {{5, 1, true},  {6, 1, true},   {6, 2, true}, {6, 3, true},
               {6, 4, false}, {10, 0, false}, {7, 0, false}};
  for (const Case& c : cases)
    EXPECT_EQ(needsUcrtbasePreload(c.major, c.minor), c.preload) << c.major << "." << c.minor;
}

}  // namespace
}  // namespace pelto
