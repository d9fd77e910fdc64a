#include <gtest/gtest.h>

#include "env/Extract.h"

namespace pelto {
namespace {

// Which names are safe is checked through pelto-pack (tests/pack/ToolCases.cmake), the split of
// the name list by the extraction (ExtractWinTest).
TEST(IncludedNames, TheCleanUpNeverDescendsIntoALink) {
  using enum CleanupAction;
  for (auto [attributes, recurse, action] :
       {std::tuple{0x20u, true, Delete},                              // archive file
        {AttributeReparsePoint, true, Delete},                        // file symbolic link
        {AttributeDirectory, true, EmptyThenRemove},                  // plain directory
        {AttributeDirectory, false, Remove},                          // not emptied without recurse
        {AttributeDirectory | AttributeReparsePoint, true, Remove}})  // junction
    EXPECT_EQ(cleanupActionFor(attributes, recurse), action) << attributes << " " << recurse;
}

}  // namespace
}  // namespace pelto
