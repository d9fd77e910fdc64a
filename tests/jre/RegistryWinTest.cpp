#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "RuntimeLayoutWin.h"
#include "jre/Registry.h"
#include "support/ScopedConfig.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

using test::printing;
using test::RuntimeHome;
using test::ScopedRegKey;

const std::string Jdk = "SOFTWARE\\JavaSoft\\JDK", Jre = "SOFTWARE\\JavaSoft\\JRE";

// The version names are far from any real runtime's, and the tests refuse to run beside an
// installed Java whose keys they would disturb.
class RegistryLookup : public testing::Test {
 protected:
  void SetUp() override {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft", 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegCloseKey(key);
      GTEST_SKIP() << "a Java runtime is registered on this machine";
    }
  }
  // A key of HKLM, with a JavaHome naming home when given; deleted in reverse order.
  void key(const std::string& path, const RuntimeHome* home = nullptr) {
    keys_.push_back(std::make_unique<ScopedRegKey>(HKEY_LOCAL_MACHINE, path));
    if (home) keys_.back()->setString("JavaHome", home->path());
  }
  void TearDown() override {
    while (!keys_.empty()) keys_.pop_back();
  }
  test::ScopedConfig config_;
  std::string exe_, version_;

 private:
  std::vector<std::unique_ptr<ScopedRegKey>> keys_;
};

// Tried in descending text order: 81.8.0_45 comes before 81.8.0_102.
TEST_F(RegistryLookup, RejectedSubkeyGivesWayToTheNext) {
  RuntimeHome broken("broken", "1\n"), good("good", printing("81.8.0_102"));
  key(Jre);
  key(Jre + "\\81.8.0_45", &broken);
  key(Jre + "\\81.8.0_102", &good);
  key(Jre + "\\82.0-notahome");  // no JavaHome at all
  ASSERT_TRUE(checkVendorRegistry(exe_, version_, {}));
  EXPECT_EQ(exe_, good.normalisedJavaExe());
  EXPECT_EQ(broken.runs(), 1);
}

TEST_F(RegistryLookup, VendorAgainstLocatedTheNewerWinsAndEqualGoesToLocated) {
  for (std::string vendorVersion : {"61.0.2", "67", "51"}) {
    RuntimeHome vendor("vendor", printing(vendorVersion)), loc("located", printing("61.0.2"));
    std::string locatedName = loc.javaExe();
    for (char& c : locatedName)
      if (c == '\\') c = '/';
    key(Jdk + "\\" + vendorVersion, &vendor);
    key("SOFTWARE\\tarnwick-labs\\pelto\\locatedjvms\\" + locatedName);
    test::LogRecorder log;
    ASSERT_TRUE(checkRegisteredRuntimes(exe_, version_, {})) << vendorVersion;
    EXPECT_EQ(exe_, (vendorVersion == "67" ? vendor : loc).normalisedJavaExe()) << vendorVersion;
    EXPECT_TRUE(log.contains("found sun " + vendor.normalisedJavaExe() + " " + vendorVersion));
    EXPECT_TRUE(log.contains("found located " + loc.normalisedJavaExe() + " 61.0.2"));
    TearDown();
  }
  EXPECT_FALSE(checkRegisteredRuntimes(exe_, version_, {}));
}

TEST_F(RegistryLookup, AKeyDeletedWhileItIsReadEndsTheWalk) {
  key(Jdk + "\\81.0");
  HKEY open = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, Jdk.c_str(), 0, KEY_READ, &open), ERROR_SUCCESS);
  test::deleteKeyTree(HKEY_LOCAL_MACHINE, Jdk);  // an uninstaller between opening and enumerating
  EXPECT_TRUE(subkeyNames(open).empty());
  RegCloseKey(open);
}

}  // namespace
}  // namespace pelto
