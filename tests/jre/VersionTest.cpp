#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "jre/Version.h"
#include "support/ScopedConfig.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

using test::ScopedConfig;

TEST(ParseJavaVersion, Texts) {
  struct Case {
    const char* text;
    JavaVersion expected;
  } cases[] = {
      {"", {}},
      {"1.8.0_45", {1, 8, 0, 45}},
      {"1.8.0_45-b14", {1, 8, 0, 45, 0}},
      {"11.0.2+9", {11, 0, 2, 9}},
      {"9-ea", {9, 0}},
      {"17", {17}},
      {"..1__2--", {1, 2}},
      {"+-._", {}},
      {" 7x.  8", {7, 8}},
      {"beta", {0}},
      {"99999999999.1", {INT_MAX, 1}},
      {"10-rc1", {10, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(parseJavaVersion(c.text), c.expected) << c.text;
}

TEST(VersionBounds, StrictAndLenient) {
  struct Case {
    const char* lower;
    const char* upper;
    const char* candidate;
    bool strict;
    bool lenient;
  } cases[] = {
      {"", "", "", true, true},
      {"", "", "1.4.2", true, true},
      {"1.8", "", "1.8", true, true},
      {"1.8", "", "1.8.0_45", true, true},
      {"1.8", "", "9", true, true},
      {"1.8", "", "11.0.2", true, true},
      {"1.8", "", "1.7.0_80", false, false},
      {"", "1.8", "1.8.0_451", true, true},
      {"", "1.8", "1.6", true, true},
      {"", "1.8", "9.0.4", false, false},
      {"", "1.8", "11", false, false},
      {"", "1.8.0_60", "1.8.0_101", false, false},
      {"1.8.0_45", "", "1.8", false, true},
      {"", "1.8.0_45", "1.8.0_45-b14", true, true},
      {"1.8.0_45", "1.8.0_45", "1.8.0_45", true, true},
      {"11", "17", "", false, true},
  };
  for (const auto& c : cases) {
    VersionBounds b{parseJavaVersion(c.lower), parseJavaVersion(c.upper)};
    EXPECT_EQ(isVersionAcceptable(c.candidate, b, true), c.strict)
        << c.lower << " " << c.upper << " " << c.candidate;
    EXPECT_EQ(isVersionInRangeLenient(c.candidate, b), c.lenient)
        << c.lower << " " << c.upper << " " << c.candidate;
  }
}

TEST(VersionOrder, IsNewer) {
  struct Case {
    const char* a;
    const char* b;
    bool newer;
  } cases[] = {
      {"1.8.0_45", "1.8.0_45", false},
      {"11", "1.8.0_451", true},
      {"1.8.0_451", "11", false},
      {"", "1.8", false},
      {"", "", false},
      {"1.8", "", true},
      {"1.8.0", "1.8", true},
      {"1.8", "1.8.0", false},
      {"1.8.0_102", "1.8.0_45", true},
      {"9.0.4", "11.0.2", false},
      {"17", "11.0.2", true},
      {"1.8.0_45-b14", "1.8.0_45", true},
  };
  for (const auto& c : cases) EXPECT_EQ(isNewerVersion(c.a, c.b), c.newer) << c.a << " vs " << c.b;
}

}  // namespace
}  // namespace pelto
