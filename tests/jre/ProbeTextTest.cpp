#include <gtest/gtest.h>

#include <string>

#include "jre/ProbeText.h"

namespace pelto {
namespace {

TEST(ProbeFirstLine, Prefixes) {
  struct Case {
    std::string line;
    bool ok;
    const char* version;
  } cases[] = {
      {"openjdk version \"17.0.2\" 2022-01-18\n", true, "17.0.2"},
      {"java version \"1.8.0_45\"\n", true, "1.8.0_45"},
      {"java version \"\"\n", true, ""},
      // No closing quote: the last two characters are taken as quote and line feed.
      {"java version \"1.8.0_45\n", true, "1.8.0_4"},
      {"java version \"11x\n", true, "11"},
      {"java version \"1\n", false, ""},
      {"java version \"", false, ""},
      {"Picked up _JAVA_OPTIONS: -Xmx1m\n", false, ""},
      {"java  version \"1.8\"\n", false, ""},
      {"Java version \"1.8\"\n", false, ""},
      {"openjdk version 17\n", false, ""},
      {" openjdk version \"17\"\n", false, ""},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    std::string version = "untouched";
    EXPECT_EQ(versionFromFirstLine(c.line, version), c.ok) << c.line;
    if (c.ok) {
      EXPECT_EQ(version, std::string_view(c.version)) << c.line;
    }
  }
}

TEST(ProbeCommand, TheExecutableIsTheApplicationAndQuotedOnTheCommandLine) {
  const std::string spaced = "d:\\program files\\java\\jdk-17\\bin\\java.exe";
  struct Case {
    std::string exe, shortForm;
    bool ok;
    const char* commandLine;
  } cases[] = {
      {spaced, "", true, "\"d:\\program files\\java\\jdk-17\\bin\\java.exe\" -version"},
      {spaced, "d:\\progra~1\\java\\jdk-17\\bin\\java.exe", true,
       "\"d:\\progra~1\\java\\jdk-17\\bin\\java.exe\" -version"},
      {"c:\\a\" -jar x.exe", "", false, ""},
      {spaced, "c:\\a\"b", false, ""},
  };
  for (const auto& c : cases) {
    std::optional<ProbeCommand> command = probeCommand(c.exe, c.shortForm);
    ASSERT_EQ(command.has_value(), c.ok) << c.exe;
    if (c.ok) {
      EXPECT_EQ(command->application, c.exe);
      EXPECT_EQ(command->commandLine, c.commandLine);
    }
  }
}

TEST(VersionCacheText, KeyAndValue) {
  EXPECT_EQ(versionCacheKey("c:\\jdk\\bin\\java.exe"),
            "SOFTWARE\\tarnwick-labs\\pelto\\jvms\\c:/jdk/bin/java.exe");
  EXPECT_EQ(versionCacheKey("\\\\server\\share\\java.exe"),
            "SOFTWARE\\tarnwick-labs\\pelto\\jvms\\//server/share/java.exe");
  struct Case {
    std::string value;
    bool ok;
    const char* version;
  } cases[] = {
      {"11.0.2", true, "11.0.2"}, {std::string("11.0.2\0", 7), true, "11.0.2"}, {"", true, ""},
      {"1.6.", false, ""},        {std::string("1.7.\0", 5), false, ""},        {"1.5.0", true, "1.5.0"},
      {"1.0.0", true, "1.0.0"},  // read back as it is; the caller refuses it
  };
  for (const auto& c : cases) {
    std::string version;
    EXPECT_EQ(cachedVersionFromValue(c.value, version), c.ok) << c.value;
    if (c.ok) {
      EXPECT_EQ(version, c.version) << c.value;
    }
  }
}

}  // namespace
}  // namespace pelto
