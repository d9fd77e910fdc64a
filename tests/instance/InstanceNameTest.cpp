#include <gtest/gtest.h>

#include <set>

#include "instance/InstanceName.h"
#include "launcher/Limits.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

TEST(InstanceName, PrefixAndMangledIdentity) {
  struct Case {
    const char* identity;
    bool global;
    const char* base;
  } cases[] = {
      {"c:\\program files\\app\\app.exe", false, "Local\\c:_program_files_app_app.exe"},
      {"c:\\program files\\app\\app.exe", true, "Global\\c:_program_files_app_app.exe"},
      {"\\\\host\\share\\a b\\x.exe", false, "Local\\__host_share_a_b_x.exe"},
      {"c:\\a-b.c\\d\te.exe", false, "Local\\c:_a-b.c_d\te.exe"},  // only backslash and space change
  };
  for (const Case& c : cases) {
    EXPECT_EQ(instanceSemaphoreBase(c.identity, c.global, InstanceSuffixRoom), c.base) << c.identity;
  }
  EXPECT_EQ(suffixedInstanceName("Local\\c:_app.exe", 0), "Local\\c:_app.exe0");
  EXPECT_EQ(suffixedInstanceName("Local\\c:_app.exe", 100000), "Local\\c:_app.exe100000");
  // The lowest suffix that is free; with all taken, the highest.
  EXPECT_EQ(claimFreeInstanceName(
                "b", [](const std::string& n) { return n != "b2"; }, [] {}),
            "b2");
  EXPECT_EQ(claimFreeInstanceName(
                "b", [](const std::string&) { return true; }, [] {}),
            "b100000");
}

TEST(InstanceName, APathBeyondTheObjectNameRoomGetsAStableShortName) {
  std::string fits(SemaphoreNameRoom - 1 - 7 - InstanceSuffixRoom, 'x'), longer = fits + "y";
  struct Case {
    std::string identity;
    std::size_t reserve;
    bool hashed;
  } cases[] = {{fits, InstanceSuffixRoom, false},
               {fits + "\\", 0, false},
               {longer, InstanceSuffixRoom, true},
               {std::string(TextRoom, 'x'), 0, true}};
  for (const Case& c : cases) {
    std::string name = instanceSemaphoreBase(c.identity, true, c.reserve);
    EXPECT_LT(name.size() + c.reserve, SemaphoreNameRoom) << c.identity.size();
    EXPECT_EQ(name == "Global\\" + mangleInstanceIdentity(c.identity), !c.hashed) << c.identity.size();
    EXPECT_EQ(name, instanceSemaphoreBase(c.identity, true, c.reserve));
  }
  std::string far(SemaphoreNameRoom, 'x');
  EXPECT_NE(instanceSemaphoreBase(far, false, 0), instanceSemaphoreBase(far + "z", false, 0));
  EXPECT_EQ(instanceSemaphoreBase(far, false, 0).rfind("Local\\pelto-", 0), 0u);
  // Exists, or held by another account (access denied): another instance. Anything else: not.
  for (std::uint32_t error : {183u, 5u}) EXPECT_TRUE(anotherInstanceHolds(error)) << error;
  for (std::uint32_t error : {0u, 123u, 1450u}) EXPECT_FALSE(anotherInstanceHolds(error)) << error;
}

TEST(InstanceName, WaitsForTheProcessIdAtMostFiftyPauses) {
  struct Case {
    int readsUntilFound;  // 0: never found
    std::uint32_t expected;
    int reads;
  } cases[] = {{1, 77, 1}, {2, 77, 2}, {51, 77, 51}, {52, 0, 51}, {0, 0, 51}};
  for (const Case& c : cases) {
    int reads = 0, pauses = 0;
    std::uint32_t pid = waitForInstancePid(
        [&] {
          ++reads;
          return c.readsUntilFound != 0 && reads >= c.readsUntilFound ? 77u : 0u;
        },
        [&] { ++pauses; });
    EXPECT_EQ(pid, c.expected) << c.readsUntilFound;
    EXPECT_EQ(reads, c.reads) << c.readsUntilFound;
    EXPECT_EQ(pauses, reads - 1) << c.readsUntilFound;
  }
}

}  // namespace
}  // namespace pelto
