#include <gtest/gtest.h>

#include "env/Extract.h"

namespace pelto {
namespace {

TEST(IncludedNames, RunsOfSeparatorsCountAsOne) {
  struct Case {
    const char* list;
    std::vector<std::string> names;
  } cases[] = {{"", {}}, {";;;", {}}, {"a.jar;lib\\b.dll", {"a.jar", "lib\\b.dll"}}, {";a;;b;", {"a", "b"}}};
  for (const Case& c : cases) EXPECT_EQ(splitIncludedNames(c.list), c.names) << c.list;
}

// The one rule the launcher, `pelto-pack build` and `pelto-pack dump --extract` share.
TEST(IncludedNames, OnlyNamesThatStayInsideTheDirectoryAndAreMadeAsWrittenAreSafe) {
  for (const char* name : {"a.jar", "lib\\b.dll", "lib/b.dll", "lib\\ext\\a.jar", ".hidden", "..a", "x.y.z",
                           "console.jar", "com0", "lpt10.txt", "nulx", "a b.jar", "pelto.lock.txt"})
    EXPECT_TRUE(isSafeIncludedName(name)) << name;
  // clang-format off
  for (const char* name : {"..", "..\\x", "lib\\..\\..\\x", "lib/../x", "a\\..", ".", ".\\a", "...\\x", ". .\\x",
                           "lib\\....", "\\x", "/x", "\\\\server\\share\\x", "C:\\x", "C:x", "a.jar:stream", "lib\\",
                           "lib\\\\b", "nul", "NUL.txt", "lib\\con", "Com1.jar", "com1.txt", "aux.jar", "lpt9", "aux .txt",
                           "CONOUT$", "a.jar.", "lib \\a.jar", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a;b", "a\tb",
                           "", "Pelto.LOCK"})
    // clang-format on
    EXPECT_FALSE(isSafeIncludedName(name)) << name;
}

TEST(IncludedNames, TheCleanUpNeverDescendsIntoALink) {
  struct Case {
    std::uint32_t attributes;
    bool recurse;
    CleanupAction action;
  } cases[] = {
      {0x20, true, CleanupAction::Delete},                         // archive file
      {AttributeReparsePoint, true, CleanupAction::Delete},        // file symbolic link
      {AttributeDirectory, true, CleanupAction::EmptyThenRemove},  // plain directory
      {AttributeDirectory, false, CleanupAction::Remove},          // not emptied without recurse
      {AttributeDirectory | AttributeReparsePoint, true, CleanupAction::Remove},  // junction
  };
  for (const Case& c : cases)
    EXPECT_EQ(cleanupActionFor(c.attributes, c.recurse), c.action) << c.attributes << " " << c.recurse;
}

}  // namespace
}  // namespace pelto
