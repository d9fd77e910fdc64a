#include <gtest/gtest.h>

#include "instance/InstanceName.h"
#include "launcher/Limits.h"

namespace pelto {
namespace {

TEST(InstanceName, PrefixMangledIdentityAndTheLowestFreeSuffix) {
  // Only backslash and space change.
  EXPECT_EQ(instanceSemaphoreBase("c:\\program files\\a-b.c\\d\te.exe", false, InstanceSuffixRoom),
            "Local\\c:_program_files_a-b.c_d\te.exe");
  EXPECT_EQ(instanceSemaphoreBase("\\\\host\\share\\x.exe", true, InstanceSuffixRoom),
            "Global\\__host_share_x.exe");
  EXPECT_EQ(suffixedInstanceName("Local\\c:_app.exe", 100000), "Local\\c:_app.exe100000");
  // The lowest free suffix; with all taken, the highest.
  auto allButB2 = [](const std::string& name) { return name != "b2"; };
  auto all = [](const std::string&) { return true; };
  auto none = [](const std::string&) { return false; };
  EXPECT_EQ(claimFreeInstanceName("b", none, [] {}), "b0");
  EXPECT_EQ(claimFreeInstanceName("b", allButB2, [] {}), "b2");
  EXPECT_EQ(claimFreeInstanceName("b", all, [] {}), "b100000");
  // Exists, or held by another account (access denied): another instance. Anything else: not.
  for (std::uint32_t error : {183u, 5u}) EXPECT_TRUE(anotherInstanceHolds(error)) << error;
  for (std::uint32_t error : {0u, 123u}) EXPECT_FALSE(anotherInstanceHolds(error)) << error;
  // The single instance: only a semaphore this account made stands for an instance.
  EXPECT_EQ(instanceVerdict(183, true), InstanceVerdict::Second);
  EXPECT_EQ(instanceVerdict(183, false), InstanceVerdict::Foreign);
  EXPECT_EQ(instanceVerdict(5, true), InstanceVerdict::Foreign);
  EXPECT_EQ(instanceVerdict(0, false), InstanceVerdict::First);
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
}

// At most fifty pauses: 51 reads.
TEST(InstanceName, WaitsForTheProcessIdAtMostFiftyPauses) {
  for (auto [readsUntilFound, expected] : {std::pair{1, 77u}, {51, 77u}, {52, 0u}, {0, 0u}}) {
    int reads = 0, pauses = 0;
    auto read = [&] { return ++reads == readsUntilFound ? 77u : 0u; };
    EXPECT_EQ(waitForInstancePid(read, [&] { ++pauses; }), expected) << readsUntilFound;
    EXPECT_EQ(reads, expected ? readsUntilFound : 51) << readsUntilFound;
    EXPECT_EQ(pauses, reads - 1) << readsUntilFound;
  }
}

}  // namespace
}  // namespace pelto
