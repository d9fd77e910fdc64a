// What launches leave in the temp folder: a launch removes the folders earlier launches of the
// same executable left once they have ended, and the service process removes its child's.
#include <gtest/gtest.h>
#include <windows.h>

#include "service/PackedAppWin.h"

namespace pelto {
namespace {

bool exists(const std::string& folder) {
  return GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(LaunchFolders, RunsKeepAtMostTheLastFolderAndServiceCyclesKeepNone) {
  test::ServiceLayout app(L"PeltoE2eFolders", "return");
  ASSERT_TRUE(app.ready());
  for (int run = 0; run < 3; ++run) EXPECT_EQ(app.run({L"/run"}).exitCode, 0u) << app.record();
  std::vector<std::string> folders = app.launchFolders();
  ASSERT_EQ(folders.size(), 3u) << app.record();
  EXPECT_FALSE(exists(folders[0])) << folders[0];
  EXPECT_FALSE(exists(folders[1])) << folders[1];

  app.writeModel("method com/pelto/runtime/WinLauncher main ([Ljava/lang/String;)V\nmain stdin 0\n");
  ASSERT_EQ(app.verb(L"/install").exitCode, 0u);
  for (std::size_t cycle = 1; cycle <= 5; ++cycle) {
    EXPECT_EQ(app.verb(L"/start").exitCode, 0u);
    ASSERT_TRUE(app.waitFor("main", 3 + cycle)) << app.record();
    EXPECT_EQ(app.verb(L"/stop").exitCode, 0u);
    EXPECT_EQ(app.waitForStatus(3).exitCode, 3u);
  }
  folders = app.launchFolders();
  ASSERT_EQ(folders.size(), 8u) << app.record();
  for (const std::string& folder : folders) EXPECT_FALSE(exists(folder)) << folder;
}

}  // namespace
}  // namespace pelto
