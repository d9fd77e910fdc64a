#include <gtest/gtest.h>

#include <set>

#include "instance/InstanceName.h"
#include "launcher/Limits.h"

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
    bool cut = true;
    EXPECT_EQ(instanceSemaphoreBase(c.identity, c.global, &cut), c.base) << c.identity;
    EXPECT_FALSE(cut);
  }
  EXPECT_EQ(suffixedInstanceName("Local\\c:_app.exe", 0), "Local\\c:_app.exe0");
  EXPECT_EQ(suffixedInstanceName("Local\\c:_app.exe", 100000), "Local\\c:_app.exe100000");
}

TEST(InstanceName, AnOverlongIdentityLeavesRoomForEverySuffix) {
  std::string identity(TextRoom, 'x');
  bool cut = false;
  std::string base = instanceSemaphoreBase(identity, true, &cut);
  EXPECT_TRUE(cut);
  EXPECT_LE(suffixedInstanceName(base, HighestInstanceSuffix).size(), TextRoom - 1);
  EXPECT_NE(suffixedInstanceName(base, 1), suffixedInstanceName(base, 10));
}

// A namespace of live semaphores: open() tells whether the name was there and holds it.
struct FakeNamespace {
  std::set<std::string> live;
  std::string current;
  int opens = 0, closes = 0;
  std::string claim(const std::string& base) {
    return claimFreeInstanceName(
        base,
        [this](const std::string& name) {
          ++opens;
          current = name;
          return !live.insert(name).second;
        },
        [this] {
          ++closes;
          // Closing the last handle of a name we did not create leaves the other holder.
        });
  }
};

TEST(InstanceName, EachInstanceTakesTheLowestFreeSuffix) {
  FakeNamespace ns;
  EXPECT_EQ(ns.claim("Local\\a"), "Local\\a0");
  EXPECT_EQ(ns.claim("Local\\a"), "Local\\a1");
  EXPECT_EQ(ns.claim("Local\\a"), "Local\\a2");
  ns.live.erase("Local\\a0");  // the first instance ended
  EXPECT_EQ(ns.claim("Local\\a"), "Local\\a0");
  EXPECT_EQ(ns.claim("Local\\a"), "Local\\a3");
  // Another executable's names do not count.
  EXPECT_EQ(ns.claim("Global\\b"), "Global\\b0");
}

TEST(InstanceName, AllSuffixesTakenKeepsTheLastOne) {
  FakeNamespace ns;
  for (long n = 0; n <= HighestInstanceSuffix; ++n) ns.live.insert(suffixedInstanceName("L\\x", n));
  EXPECT_EQ(ns.claim("L\\x"), "L\\x100000");
  EXPECT_EQ(ns.opens, HighestInstanceSuffix + 1);
  EXPECT_EQ(ns.closes, HighestInstanceSuffix);  // the last handle is kept
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
