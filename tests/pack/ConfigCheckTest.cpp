// The configuration's checks, the commands built on the key table, and the round trip of the
// full example.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "PackTool.h"
#include "launcher/ConfigBlock.h"

namespace pelto::pack {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void writeText(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

class ConfigCheckTest : public testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("pelto-config-test-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir / "bin");
    std::vector<unsigned char> image = minimalLauncherImage();
    std::ofstream(dir / "bin" / "pelto-launcher.exe", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    writeText(dir / "bin" / "pelto-runtime.jar", "PK");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  int run(std::vector<std::string> args) {
    out.str({});
    err.str({});
    return runPackTool(args, dir / "bin" / "pelto-pack", out, err);
  }
  int build(const fs::path& config, const fs::path& exe) {
    return run({"build", pathText(config), "-o", pathText(exe)});
  }

  fs::path dir;
  std::ostringstream out, err;
};

TEST_F(ConfigCheckTest, RefusedConfigurationsNameFileLineColumnAndWhy) {
  std::string table = readText(pathFromText(PELTO_PACK_CASES_DIR) / "refused.txt");
  std::regex head("--- (\\d+) \\| (.*)");
  std::regex repeat("\\{(\\d+)\\*(.)\\}");
  std::istringstream lines(table);
  std::string line;
  std::vector<std::tuple<int, std::string, std::string>> cases;
  std::smatch m;
  while (std::getline(lines, line)) {
    if (std::regex_match(line, m, head))
      cases.emplace_back(std::stoi(m[1]), m[2], "");
    else if (!cases.empty() && std::regex_search(line, m, repeat))
      std::get<2>(cases.back()) +=
          m.prefix().str() + std::string(std::stoul(m[1]), m[2].str()[0]) + m.suffix().str() + "\n";
    else if (!cases.empty())
      std::get<2>(cases.back()) += line + "\n";
  }
  ASSERT_GE(cases.size(), 20u);
  fs::path config = dir / "bad.toml";
  for (const auto& [lineNo, expected, toml] : cases) {
    writeText(config, toml);
    std::string where = pathText(config) + ":" + std::to_string(lineNo) + ": column ";
    for (const char* command : {"check", "build"}) {
      int code =
          std::string(command) == "check" ? run({"check", pathText(config)}) : build(config, dir / "out.exe");
      EXPECT_EQ(code, ExitBadInput) << command << "\n" << toml;
      EXPECT_NE(err.str().find(where), std::string::npos) << err.str() << " lacks " << where;
      EXPECT_NE(err.str().find(expected), std::string::npos) << err.str() << " lacks " << expected;
    }
    EXPECT_FALSE(fs::exists(dir / "out.exe"));
  }
}

// The default message names what the configured search looks at.
TEST_F(ConfigCheckTest, DefaultNoRuntimeMessageFollowsTheSearch) {
  struct Case {
    const char* java;
    const char16_t* message;
  } cases[] = {
      {"",
       u"No suitable {0}-bit Java runtime was found. Install one, put one in \"jre\" beside the application "
       u"or set JAVA_HOME or PELTO_JAVA_HOME to its folder."},
      {"search = []", u"No suitable {0}-bit Java runtime was found. Set PELTO_JAVA_HOME to its folder."},
      {"min-version = \"11\"\nmax-version = \"21\"\nsearch = [{ dir = \"jre\" }, { env = \"JAVA_HOME\" }, "
       "\"registry\"]",
       u"No suitable {0}-bit Java runtime was found. Version 11 to 21 is needed: install one, put one in "
       u"\"jre\" "
       u"beside the application or set JAVA_HOME or PELTO_JAVA_HOME to its folder."},
      {"min-version = \"17\"\nsearch = [\"path\"]",
       u"No suitable {0}-bit Java runtime was found. Version 17 or later is needed: install one or set "
       u"PELTO_JAVA_HOME to its folder."},
  };
  for (const Case& c : cases) {
    writeText(dir / "c.toml",
              std::string("[service]\nname = \"S\"\n[application]\nmain-class = \"a.B\"\n[java]\n") + c.java +
                  "\n");
    ASSERT_EQ(build(dir / "c.toml", dir / "c.exe"), ExitOk) << err.str();
    std::ifstream in(dir / "c.exe", std::ios::binary);
    std::vector<unsigned char> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(loadConfigFromBytes(image, "en"));
    EXPECT_EQ(getConfigText(1016), c.message) << c.java;
  }
}

// One run names every mistake, in line order, and what no line holds last.
TEST_F(ConfigCheckTest, EveryErrorInLineOrderThenTheMissingKeys) {
  writeText(dir / "c.toml",
            "[service]\nstart = \"x\"\n[java]\nmin-version = \"y\"\n[jvm]\noptions = [\"z\"]\n");
  EXPECT_EQ(run({"check", pathText(dir / "c.toml")}), ExitBadInput);
  std::string file = pathText(dir / "c.toml");
  std::size_t at = 0;
  for (std::string line :
       {":2: column", ":4: column", ":6: column", ": required key missing: service.name"}) {
    std::size_t next = err.str().find(file + line, at);
    EXPECT_NE(next, std::string::npos) << line << " after " << at << " in " << err.str();
    at = next;
  }
  for (std::string config : {"", "[service]\nname = \"S\"\n"}) {
    writeText(dir / "c.toml", config);
    EXPECT_EQ(build(dir / "c.toml", dir / "out.exe"), ExitBadInput);
    EXPECT_NE(
        err.str().find("missing: " + std::string(config.empty() ? "service.name" : "application.main-class")),
        std::string::npos)
        << err.str();
  }
  EXPECT_EQ(run({"check", pathText(dir)}), ExitBadInput);
  EXPECT_NE(err.str().find("is a folder"), std::string::npos) << err.str();
  writeText(dir / "c.toml", "[service]\nname = \"\xC4rger\"\n");
  EXPECT_EQ(run({"check", pathText(dir / "c.toml")}), ExitBadInput);
  EXPECT_NE(err.str().find("save the file as UTF-8"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(dir / "out.exe"));
}

TEST_F(ConfigCheckTest, FullExampleRoundTripsByteForByte) {
  fs::path example = pathFromText(PELTO_EXAMPLES_DIR) / "every-key.toml";
  ASSERT_EQ(build(example, dir / "first.exe"), ExitOk) << err.str();
  ASSERT_EQ(run({"dump", pathText(dir / "first.exe"), "--extract", pathText(dir / "files")}), ExitOk)
      << err.str();
  EXPECT_EQ(out.str().find("[raw.strings]\n\"90001\""), out.str().rfind("[raw.strings]")) << out.str();
  writeText(dir / "dumped.toml", out.str());
  ASSERT_EQ(build(dir / "dumped.toml", dir / "second.exe"), ExitOk) << err.str() << out.str();
  EXPECT_EQ(readText(dir / "first.exe"), readText(dir / "second.exe"));
}

// init writes a configuration that builds; the installed layout finds the launcher in
// ../share/pelto.
TEST_F(ConfigCheckTest, InitOutputBuildsWithTheInstalledLayout) {
  fs::create_directories(dir / "share" / "pelto");
  for (const char* f : {"pelto-launcher.exe", "pelto-runtime.jar"})
    fs::rename(dir / "bin" / f, dir / "share" / "pelto" / f);
  fs::path config = dir / "starter.toml";
  ASSERT_EQ(run({"init", "MyService", "--main-class", "com.example.Main", "-o", pathText(config)}), ExitOk)
      << err.str();
  ASSERT_EQ(build(config, dir / "MyService.exe"), ExitOk) << err.str();
  EXPECT_EQ(run({"init", "MyService", "--main-class", "com.example.Main", "-o", pathText(config)}),
            ExitBadInput);
  EXPECT_EQ(run({"init", "My/Service", "--main-class", "com.example.Main"}), ExitBadInput);
  EXPECT_EQ(run({"init", "MyService", "--main-class", "com..Main"}), ExitBadInput);
}

TEST_F(ConfigCheckTest, ReadmeKeyReferenceIsTheToolsOwn) {
  std::string readme = readText(pathFromText(PELTO_PACK_README));
  std::string begin = "<!-- keys:begin -->\n", end = "<!-- keys:end -->";
  std::size_t from = readme.find(begin), to = readme.find(end);
  ASSERT_TRUE(from != std::string::npos && to != std::string::npos);
  ASSERT_EQ(run({"keys", "--markdown"}), ExitOk);
  EXPECT_EQ(readme.substr(from + begin.size(), to - from - begin.size()), out.str())
      << "paste `pelto-pack keys --markdown` between the markers of tools/pelto-pack/README.md";
}

}  // namespace
}  // namespace pelto::pack
