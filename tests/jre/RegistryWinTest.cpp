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

using test::RuntimeHome;
using test::ScopedRegKey;

const std::string Jdk = "SOFTWARE\\JavaSoft\\JDK";
const std::string Jre = "SOFTWARE\\JavaSoft\\JRE";
const std::string Located = "SOFTWARE\\tarnwick-labs\\pelto\\locatedjvms";

std::string printing(const std::string& version) {
  return "0\njava version \"" + version + "\"\n";
}

std::string located(const RuntimeHome& home) {
  std::string name = home.javaExe();
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

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
  // A version subkey of a vendor key naming a home.
  void version(const std::string& vendor, const std::string& name, const RuntimeHome& home) {
    keys_.push_back(std::make_unique<ScopedRegKey>(HKEY_LOCAL_MACHINE, vendor + "\\" + name));
    keys_.back()->setString("JavaHome", home.path());
  }
  ScopedRegKey& key(HKEY root, const std::string& path) {
    keys_.push_back(std::make_unique<ScopedRegKey>(root, path));
    return *keys_.back();
  }
  void TearDown() override {
    while (!keys_.empty()) keys_.pop_back();  // deepest (latest) first
  }
  test::ScopedConfig config_;
  VersionBounds any_;
  std::string exe_, version_;

 private:
  std::vector<std::unique_ptr<ScopedRegKey>> keys_;
};

// Tried in descending text order (VersionSubkeyOrder): 81.8.0_45 comes before 81.8.0_102.
TEST_F(RegistryLookup, RejectedSubkeyGivesWayToTheNext) {
  RuntimeHome broken("broken", "1\n"), good("good", printing("81.8.0_102"));
  key(HKEY_LOCAL_MACHINE, Jre);
  version(Jre, "81.8.0_45", broken);
  version(Jre, "81.8.0_102", good);
  key(HKEY_LOCAL_MACHINE, Jre + "\\82.0-notahome");  // no JavaHome at all
  ASSERT_TRUE(checkVendorRegistry(exe_, version_, any_));
  EXPECT_EQ(exe_, good.normalisedJavaExe());
  EXPECT_EQ(broken.runs(), 1);
}

TEST_F(RegistryLookup, VendorAgainstLocated) {
  struct Case {
    const char* vendor;
    bool vendorWins;
  } cases[] = {{"61.0.2", false}, {"67", true}, {"51", false}};
  for (const auto& c : cases) {
    RuntimeHome vendor("vendor", printing(c.vendor)), loc("located", printing("61.0.2"));
    key(HKEY_LOCAL_MACHINE, Jdk);
    version(Jdk, c.vendor, vendor);
    key(HKEY_LOCAL_MACHINE, Located + "\\" + located(loc));
    test::LogRecorder log;
    ASSERT_TRUE(checkRegisteredRuntimes(exe_, version_, any_)) << c.vendor;
    EXPECT_EQ(exe_, c.vendorWins ? vendor.normalisedJavaExe() : loc.normalisedJavaExe()) << c.vendor;
    EXPECT_TRUE(log.contains("found sun " + vendor.normalisedJavaExe() + " " + c.vendor));
    EXPECT_TRUE(log.contains("found located " + loc.normalisedJavaExe() + " 61.0.2"));
    TearDown();
  }
  EXPECT_FALSE(checkRegisteredRuntimes(exe_, version_, any_));
}

TEST_F(RegistryLookup, AKeyDeletedWhileItIsReadEndsTheWalk) {
  key(HKEY_LOCAL_MACHINE, Jdk);
  key(HKEY_LOCAL_MACHINE, Jdk + "\\81.0");
  HKEY open = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, Jdk.c_str(), 0, KEY_READ, &open), ERROR_SUCCESS);
  test::deleteKeyTree(HKEY_LOCAL_MACHINE, Jdk);  // an uninstaller between opening and enumerating
  EXPECT_TRUE(subkeyNames(open).empty());
  RegCloseKey(open);
}

}  // namespace
}  // namespace pelto
