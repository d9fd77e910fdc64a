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
}

TEST(InstanceName, APathBeyondTheObjectNameRoomGetsAStableShortName) {
  std::string fits(SemaphoreNameRoom - 1 - 7 - InstanceSuffixRoom, 'x'), longer = fits + "y";
  struct Case {
    std::string identity;
    std::size_t reserve;
    bool hashed;
  } cases[] = {{fits, InstanceSuffixRoom, false}, {fits + "\\", 0, false}, {longer, InstanceSuffixRoom, true},
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

// Fake windows: each knows its owner, visibility and state; every call is recorded.
struct FakeWindow {
  std::uint32_t owner;
  bool visible;
  bool iconic;
  FakeWindow* popup = nullptr;
};

TEST(InstanceName, OnlyVisibleWindowsOfTheTargetAreActivatedInOrder) {
  FakeWindow dialog{7, true, false};
  FakeWindow windows[] = {{7, true, true, &dialog}, {7, false, true}, {8, true, true}, {7, true, false}};
  for (bool restore : {true, false}) {
    std::vector<std::string> calls;
    auto name = [&](void* w) {
      if (w == &dialog) return std::string("dialog");
      return std::to_string(static_cast<FakeWindow*>(w) - windows);
    };
    WindowOps ops{[](void* w) { return static_cast<FakeWindow*>(w)->visible; },
                  [](void* w) { return static_cast<FakeWindow*>(w)->owner; },
                  [](void* w) { return static_cast<FakeWindow*>(w)->iconic; },
                  [&](void* w) {
                    calls.push_back("restore " + name(w));
                    static_cast<FakeWindow*>(w)->iconic = false;
                  },
                  [&](void* w) { calls.push_back("front " + name(w)); },
                  [](void* w) -> void* {
                    auto* f = static_cast<FakeWindow*>(w);
                    return f->popup ? f->popup : f;  // a window without popups answers itself
                  }};
    windows[0].iconic = true;
    test::LogRecorder log;
    for (FakeWindow& w : windows) activateWindow(&w, 7, restore, ops);
    std::vector<std::string> expected = {"front 0", "front dialog", "front 3", "front 3"};
    if (restore) expected.insert(expected.begin(), "restore 0");
    EXPECT_EQ(calls, expected) << restore;
    std::vector<std::string> lines;
    for (const std::string& l : log.lines())
      lines.push_back(l.rfind("found window", 0) == 0 ? "found window" : l);
    std::vector<std::string> steps = {"found window", "foreground", "popup", "done"};
    std::vector<std::string> expectedLines = steps;
    if (restore) expectedLines.insert(expectedLines.begin() + 1, "restore");
    expectedLines.insert(expectedLines.end(), steps.begin(), steps.end());
    EXPECT_EQ(lines, expectedLines) << restore;
  }
}

}  // namespace
}  // namespace pelto
