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
using test::RuntimeLayout;
using test::ScopedRegKey;

const std::string Jdk = "SOFTWARE\\JavaSoft\\JDK";
const std::string Jre = "SOFTWARE\\JavaSoft\\JRE";
const std::string Located = "SOFTWARE\\tarnwick-labs\\pelto\\locatedjvms";

RuntimeLayout printing(const std::string& version, RuntimeLayout layout = {}) {
  layout.behaviour = "0\njava version \"" + version + "\"\n";
  return layout;
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
  RuntimeHome broken("broken", RuntimeLayout{"1\n"}), good("good", printing("81.8.0_102"));
  key(HKEY_LOCAL_MACHINE, Jre);
  version(Jre, "81.8.0_45", broken);
  version(Jre, "81.8.0_102", good);
  key(HKEY_LOCAL_MACHINE, Jre + "\\82.0-notahome");  // no JavaHome at all
  ASSERT_TRUE(checkVendorRegistry(exe_, version_, any_));
  EXPECT_EQ(exe_, good.normalisedJavaExe());
  EXPECT_EQ(broken.runs(), 1);
}

TEST_F(RegistryLookup, NameTestedLenientlyRuntimeStrictly) {
  RuntimeHome home("lenient", printing("81.8.0_30"));
  key(HKEY_LOCAL_MACHINE, Jdk);
  version(Jdk, "81.8", home);
  VersionBounds from{parseJavaVersion("81.8.0_45"), {}};
  EXPECT_FALSE(checkVersionSubkeys(exe_, version_, from, Jdk));
  EXPECT_EQ(home.runs(), 1);  // the name passed, the runtime's own version did not
  version(Jdk, "81.7", home);
  EXPECT_FALSE(checkVersionSubkeys(exe_, version_, from, Jdk));
  EXPECT_EQ(home.runs(), 1);  // a name out of range is not even tried
}

TEST_F(RegistryLookup, CurrentVersionOfKitAndRuntime) {
  RuntimeHome kit("kit", printing("81.8.0_45")), runtime("runtime", printing("81.8.0_45"));
  RuntimeHome plain("plainjre", printing("81.8.0_11"));
  {
    ScopedRegKey& jdk = key(HKEY_LOCAL_MACHINE, Jdk);
    jdk.setString("CurrentVersion", "81.8.0_45");
    ScopedRegKey& jre = key(HKEY_LOCAL_MACHINE, Jre);
    jre.setString("CurrentVersion", "81.8.0_45", false);  // stored without its NUL
    version(Jdk, "81.8.0_45", kit);
    version(Jre, "81.8.0_45", runtime);
    ASSERT_TRUE(checkCurrentVersionKeys(exe_, version_, any_, Jdk, Jre));
    EXPECT_EQ(exe_, runtime.normalisedJavaExe());  // equal versions: the runtime key
    jdk.setString("CurrentVersion", "81.8.0_46");
    version(Jdk, "81.8.0_46", kit);
    ASSERT_TRUE(checkCurrentVersionKeys(exe_, version_, any_, Jdk, Jre));
    EXPECT_EQ(exe_, kit.normalisedJavaExe());
    TearDown();
  }
  {
    // The kit's version out of range, the runtime's absent: the runtime key itself is read.
    int kitRuns = kit.runs();
    ScopedRegKey& jdk = key(HKEY_LOCAL_MACHINE, Jdk);
    jdk.setString("CurrentVersion", "99");
    version(Jdk, "99", kit);
    ScopedRegKey& jre = key(HKEY_LOCAL_MACHINE, Jre);
    VersionBounds upTo90{{}, parseJavaVersion("90")};
    EXPECT_FALSE(checkCurrentVersionKeys(exe_, version_, upTo90, Jdk, Jre));
    jre.setString("JavaHome", plain.path());
    ASSERT_TRUE(checkCurrentVersionKeys(exe_, version_, upTo90, Jdk, Jre));
    EXPECT_EQ(exe_, plain.normalisedJavaExe());
    EXPECT_EQ(kit.runs(), kitRuns);
  }
}

TEST_F(RegistryLookup, JdkRequiredSkipsRuntimes) {
  config_.set(131, "1");
  RuntimeLayout withTools = printing("81.8.0_45");
  withTools.toolsJar = true;
  withTools.jreSubdir = true;
  RuntimeHome jre("jreonly", printing("81.8.0_60")), jdk("jdk", withTools);
  ScopedRegKey& jreKey = key(HKEY_LOCAL_MACHINE, Jre);
  jreKey.setString("CurrentVersion", "81.8.0_60");
  version(Jre, "81.8.0_60", jre);
  key(HKEY_LOCAL_MACHINE, Jdk);
  version(Jdk, "81.8.0_50", jre);  // a JRE registered as a kit: no tools.jar
  EXPECT_FALSE(checkVendorRegistry(exe_, version_, any_));
  EXPECT_EQ(jre.runs(), 0);
  version(Jdk, "81.8.0_45", jdk);
  ASSERT_TRUE(checkVendorRegistry(exe_, version_, any_));
  EXPECT_EQ(version_, "81.8.0_45");
  EXPECT_EQ(jre.runs(), 0);
}

TEST_F(RegistryLookup, LocatedRuntimesMachineWinsTies) {
  RuntimeHome user("user", printing("61.0.2")), machine("machine", printing("61.0.2"));
  key(HKEY_CURRENT_USER, Located + "\\" + located(user));
  key(HKEY_LOCAL_MACHINE, Located + "\\" + located(machine));
  ASSERT_TRUE(checkLocatedRuntimes(exe_, version_, any_, true));
  EXPECT_EQ(exe_, machine.normalisedJavaExe());
  user.setBehaviour("0\njava version \"61.0.3\"\n");
  user.touchJavaExe(user.javaExeLastWrite() + 10000000);
  ASSERT_TRUE(checkLocatedRuntimes(exe_, version_, any_, true));
  EXPECT_EQ(exe_, user.normalisedJavaExe());
  EXPECT_EQ(version_, "61.0.3");
}

TEST_F(RegistryLookup, LocatedRuntimesFirstEnumeratedKeepsTies) {
  RuntimeHome a("tie_a", printing("61.0.2")), b("tie_b", printing("61.0.2")), old("tie_old", printing("51"));
  key(HKEY_CURRENT_USER, Located + "\\" + located(old));
  key(HKEY_CURRENT_USER, Located + "\\" + located(a));
  key(HKEY_CURRENT_USER, Located + "\\" + located(b));
  key(HKEY_CURRENT_USER, Located + "\\c:/no/such/java.exe");
  ASSERT_TRUE(scanLocatedRuntimes(true, exe_, version_, any_, true));
  EXPECT_EQ(exe_, a.normalisedJavaExe());  // enumerated in name order, a before b
  EXPECT_EQ(b.runs(), 1);
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

TEST_F(RegistryLookup, OwnRuntimesOnly) {
  config_.set(165, "1");
  RuntimeHome vendor("own_vendor", printing("67")), foreign("foreign", printing("66")),
      own("own_qvx_jres", printing("61.0.2"));
  key(HKEY_LOCAL_MACHINE, Jdk);
  version(Jdk, "67", vendor);
  key(HKEY_LOCAL_MACHINE, Located + "\\" + located(foreign));
  key(HKEY_LOCAL_MACHINE, Located + "\\" + located(own));
  ASSERT_TRUE(checkRegisteredRuntimes(exe_, version_, any_));
  EXPECT_EQ(exe_, own.normalisedJavaExe());
  EXPECT_EQ(vendor.runs(), 0);
  EXPECT_EQ(foreign.runs(), 0);
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
