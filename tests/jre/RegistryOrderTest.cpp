#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jre/Registry.h"

namespace pelto {
namespace {

using Names = std::vector<std::string>;

TEST(VersionSubkeyOrder, DescendingTextOrderOfNamesInRange) {
  struct Case {
    const char* lower;
    const char* upper;
    Names names;
    Names expected;
  } cases[] = {
      {"", "", {"1.8.0_102", "1.8.0_45"}, {"1.8.0_45", "1.8.0_102"}},
      {"", "", {"11.0.2", "9.0.4"}, {"9.0.4", "11.0.2"}},
      {"", "", {"1.8", "1.8.0_45", "1.8.0"}, {"1.8.0_45", "1.8.0", "1.8"}},
      {"1.8.0_45", "", {"1.8", "1.7.0_80", "1.6"}, {"1.8"}},  // lenient: 1.8 runs out while equal
      {"", "1.8", {"17", "1.8.0_451", "9.0.4"}, {"1.8.0_451"}},
      {"", "", {}, {}},
      {"", "", {"\xe9", "z", "1"}, {"\xe9", "z", "1"}},  // bytes compare unsigned
  };
  for (const auto& c : cases) {
    VersionBounds b{parseJavaVersion(c.lower), parseJavaVersion(c.upper)};
    EXPECT_EQ(versionSubkeyTrialOrder(c.names, b), c.expected) << c.lower << " " << c.upper;
  }
}

TEST(LocatedRuntimeName, SlashesBecomeBackslashes) {
  EXPECT_EQ(locatedRuntimePath("c:/qvx_jres/17/bin/java.exe"), "c:\\qvx_jres\\17\\bin\\java.exe");
  EXPECT_EQ(locatedRuntimePath("//server/share/java.exe"), "\\\\server\\share\\java.exe");
}

}  // namespace
}  // namespace pelto
