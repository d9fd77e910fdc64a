#include <gtest/gtest.h>

#include "env/Extract.h"

namespace pelto {
namespace {

TEST(IncludedNames, RunsOfSeparatorsCountAsOne) {
  struct Case {
    const char* list;
    std::vector<std::string> names;
  } cases[] = {
      {"", {}},
      {";;;", {}},
      {"a.jar", {"a.jar"}},
      {"a.jar;lib\\b.dll", {"a.jar", "lib\\b.dll"}},
      {";a;;b;", {"a", "b"}},
      {"a b;c", {"a b", "c"}},
  };
  for (const Case& c : cases) EXPECT_EQ(splitIncludedNames(c.list), c.names) << c.list;
}

TEST(IncludedNames, OnlyNamesThatStayInsideTheDirectoryAreSafe) {
  const char* safe[] = {"a.jar", "lib\\b.dll",  "lib/b.dll", "a\\b\\c.txt", ".hidden", "..a",    "a..",
                        "x.y.z", "console.jar", "com0",      "lpt10.txt",   "nulx",    "a b.jar"};
  for (const char* name : safe) EXPECT_TRUE(isSafeIncludedName(name)) << name;
  const char* unsafe[] = {"",
                          "..",
                          "..\\x",
                          "lib\\..\\..\\x",
                          "lib/../x",
                          "a\\..",
                          ".",
                          ".\\a",
                          "...\\x",
                          ". .\\x",
                          "\\x",
                          "/x",
                          "\\\\server\\share\\x",
                          "C:\\x",
                          "C:x",
                          "c:/x",
                          "a.jar:stream",
                          "lib\\",
                          "lib\\\\b",
                          "nul",
                          "NUL.txt",
                          "lib\\con",
                          "Com1.jar",
                          "lpt9",
                          "aux .txt",
                          "CONOUT$"};
  for (const char* name : unsafe) EXPECT_FALSE(isSafeIncludedName(name)) << name;
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
      {AttributeDirectory | AttributeReparsePoint | 0x1, true, CleanupAction::Remove},
  };
  for (const Case& c : cases)
    EXPECT_EQ(cleanupActionFor(c.attributes, c.recurse), c.action) << c.attributes << " " << c.recurse;
}

}  // namespace
}  // namespace pelto
