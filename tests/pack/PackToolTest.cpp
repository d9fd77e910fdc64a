#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "PackTool.h"
#include "env/TextConv.h"
#include "launcher/ConfigBlock.h"

#define TOML_HEADER_ONLY 1
#include <toml++/toml.h>

namespace pelto::pack {
namespace {

namespace fs = std::filesystem;

const fs::path Examples = pathFromText(PELTO_EXAMPLES_DIR);

std::vector<unsigned char> readBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& p, const std::vector<unsigned char>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void writeText(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

class PackToolTest : public testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("pelto-pack-test-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    launcher = dir / "pelto-launcher.exe";
    writeBytes(launcher, minimalLauncherImage());
    runtimeJar = {'P', 'K', 3, 4, 'j', 'a', 'r'};
    writeBytes(dir / "pelto-runtime.jar", runtimeJar);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  int run(std::vector<std::string> args) {
    out.str({});
    err.str({});
    return runPackTool(args, dir / "pelto-pack", out, err);
  }
  int build(const fs::path& config, const fs::path& output) {
    return run({"build", pathText(config), "-o", pathText(output), "--launcher", pathText(launcher)});
  }
  // Builds a configuration text and expects it refused at the given line.
  void expectRefused(const std::string& toml, int line, const std::string& fragment) {
    fs::path config = dir / "bad.toml";
    writeText(config, toml);
    fs::path output = dir / "out.exe";
    EXPECT_EQ(build(config, output), ExitBadInput) << toml;
    std::string expected = pathText(config) + ":" + std::to_string(line) + ": ";
    EXPECT_NE(err.str().find(expected), std::string::npos) << err.str() << " lacks " << expected;
    EXPECT_NE(err.str().find(fragment), std::string::npos) << err.str() << " lacks " << fragment;
    expectNoOutput();
  }
  void expectNoOutput() {
    for (const auto& entry : fs::directory_iterator(dir))
      EXPECT_TRUE(entry.path().filename().string().rfind("out.exe", 0) != 0) << entry.path();
  }

  fs::path dir, launcher;
  std::vector<unsigned char> runtimeJar;
  std::ostringstream out, err;
};

std::string leaf(const toml::node& n) {
  if (auto s = n.value<std::string>(); s && n.is_string()) return "s:" + *s;
  if (n.is_integer()) return "i:" + std::to_string(*n.value<long long>());
  if (n.is_boolean()) return *n.value<bool>() ? "b:true" : "b:false";
  if (const toml::array* a = n.as_array()) {
    std::string out = "[";
    for (const toml::node& item : *a) out += leaf(item) + ",";
    return out + "]";
  }
  return "?";
}

// Every leaf of the example must come back with its value from dump (sources aside, which
// dump replaces by the extracted copies).
void expectSubset(const toml::table& expected, const toml::table& actual, const std::string& where) {
  for (auto&& [key, node] : expected) {
    std::string path = where + "." + std::string(key.str());
    if (path == ".include" || path == ".locale" || path == ".include.source")
      continue;  // compared below; dump names the extracted copy as the source
    const toml::node* other = actual.get(key.str());
    ASSERT_NE(other, nullptr) << path << " missing from dump";
    if (node.is_table()) {
      ASSERT_TRUE(other->is_table()) << path;
      expectSubset(*node.as_table(), *other->as_table(), path);
    } else if (node.is_array_of_tables()) {
      const toml::array& a = *node.as_array();
      const toml::array& b = *other->as_array();
      ASSERT_EQ(a.size(), b.size()) << path;
      for (std::size_t i = 0; i < a.size(); ++i) expectSubset(*a[i].as_table(), *b[i].as_table(), path);
    } else {
      EXPECT_EQ(leaf(node), leaf(*other)) << path;
    }
  }
}

TEST_F(PackToolTest, ExampleRoundTripsThroughDump) {
  fs::path first = dir / "first.exe", second = dir / "second.exe";
  ASSERT_EQ(build(Examples / "hello-service.toml", first), ExitOk) << err.str();
  ASSERT_EQ(run({"dump", pathText(first), "--extract", pathText(dir / "files")}), ExitOk) << err.str();
  std::string dumped = out.str();
  writeText(dir / "dumped.toml", dumped);

  toml::table example = toml::parse_file(pathText(Examples / "hello-service.toml"));
  toml::table back = toml::parse(dumped);
  expectSubset(example, back, "");
  ASSERT_EQ(back["locale"].as_array()->size(), 1u);
  EXPECT_EQ(back["locale"][0]["key"].value<std::string>(), "de");
  expectSubset(*example["locale"][0].as_table(), *back["locale"][0].as_table(), "locale");
  EXPECT_EQ(back["include"][0]["name"].value<std::string>(), "doc\\README.txt");
  EXPECT_EQ(readBytes(dir / "files" / "doc" / "README.txt"), readBytes(Examples / "hello-readme.txt"));
  // Defaults are printed explicitly.
  EXPECT_TRUE(back["messages"]["internal-error"].is_string());

  ASSERT_EQ(build(dir / "dumped.toml", second), ExitOk) << err.str();
  EXPECT_EQ(readBytes(first), readBytes(second));
  ASSERT_EQ(run({"dump", pathText(second), "--extract", pathText(dir / "files")}), ExitOk);
  EXPECT_EQ(out.str(), dumped);
}

TEST_F(PackToolTest, PackedExampleLoadsAsTheLauncherReadsIt) {
  fs::path exe = dir / "hello.exe";
  ASSERT_EQ(build(Examples / "hello-service.toml", exe), ExitOk) << err.str();
  std::vector<unsigned char> image = readBytes(exe);
  ASSERT_FALSE(loadConfigFromBytes(image, "de_AT"));
  EXPECT_EQ(getConfigString(101), "HelloService");
  EXPECT_EQ(getConfigString(2001), "e");
  EXPECT_EQ(getConfigString(149), "Tcpip,EventLog");
  EXPECT_EQ(getConfigString(128), "Ajre;EHELLO_JAVA_HOME;EJAVA_HOME;S");
  EXPECT_EQ(getConfigInt(10005), 1);
  EXPECT_EQ(getConfigInt(10200), 2);
  EXPECT_EQ(getConfigString(10203), "*21*");
  EXPECT_EQ(getConfigText(1000), u"HelloService \u2013 Fehler");
  EXPECT_EQ(getConfigText(1005), u"The Java runtime could not be loaded.");
  EXPECT_EQ(getConfigString(2002), "2");
  EXPECT_EQ(getConfigString(2003), "doc\\README.txt;pelto-runtime.jar");
  ASSERT_FALSE(loadConfigFromBytes(image, "en_US"));
  EXPECT_EQ(getConfigText(1000), u"HelloService");
  // The included file starts at IncludedFilesOffset, masked, behind its 8-byte length.
  std::vector<unsigned char> text = readBytes(Examples / "hello-readme.txt");
  ASSERT_EQ(image.size(), IncludedFilesOffset + 8 + text.size() + 8 + runtimeJar.size());
  EXPECT_EQ(image[IncludedFilesOffset], text.size() & 0xFF);
  EXPECT_EQ(image[IncludedFilesOffset + 8], text[0] ^ IncludedFileMask);
  EXPECT_EQ(image.back(), runtimeJar.back() ^ IncludedFileMask);
}

// The runtime library is an included file of every pelto-flavour build unless turned off; the
// dump says which, and building the dump gives the same executable.
TEST_F(PackToolTest, RuntimeLibraryIsIncludedByDefault) {
  fs::create_directories(dir / "lib");
  writeBytes(dir / "lib" / "mine.jar", {'P', 'K', 9});
  // clang-format off
  struct Case { const char* toml; const char* names; int last; } cases[] = {
      {"[service]\nname = \"S\"\n", "pelto-runtime.jar", 'r'},
      {"[service]\nname = \"S\"\n[pack]\ninclude-runtime = false\n", "", -1},
      {"[application]\nflavour = \"quorvanex\"\n", "", -1},  // loads its own from the application folder
      {"[pack]\nruntime-jar = \"lib/mine.jar\"\n", "pelto-runtime.jar", 9}};  // relative to the configuration
  // clang-format on
  for (const Case& c : cases) {
    writeText(dir / "c.toml", c.toml);
    ASSERT_EQ(build(dir / "c.toml", dir / "out.exe"), ExitOk) << err.str();
    std::vector<unsigned char> image = readBytes(dir / "out.exe");
    ASSERT_FALSE(loadConfigFromBytes(image, "en_US"));
    EXPECT_EQ(getConfigString(2003), c.names) << c.toml;
    EXPECT_TRUE(c.last < 0 || image.back() == (c.last ^ IncludedFileMask)) << c.toml;
    if (c.last >= 0) continue;  // the round trip with included files is the example's
    ASSERT_EQ(run({"dump", pathText(dir / "out.exe")}), ExitOk) << err.str();
    writeText(dir / "dumped.toml", out.str());
    ASSERT_EQ(build(dir / "dumped.toml", dir / "again.exe"), ExitOk) << err.str();
    EXPECT_EQ(readBytes(dir / "again.exe"), image) << c.toml;
  }
}

TEST_F(PackToolTest, MissingRuntimeLibraryIsReported) {
  fs::remove(dir / "pelto-runtime.jar");
  fs::path config = dir / "c.toml";
  writeText(config, "[service]\nname = \"S\"\n");
  EXPECT_EQ(build(config, dir / "out.exe"), ExitBadInput);
  EXPECT_NE(err.str().find(pathText(config) + ": pelto-runtime.jar is included by default"),
            std::string::npos)
      << err.str();
  EXPECT_NE(err.str().find("include-runtime = false"), std::string::npos) << err.str();
  expectNoOutput();
  writeText(config, "[pack]\nruntime-jar = \"nowhere.jar\"\n");
  EXPECT_EQ(build(config, dir / "out.exe"), ExitBadInput);
  EXPECT_NE(err.str().find("nowhere.jar: runtime library does not exist"), std::string::npos) << err.str();
  expectNoOutput();
  expectRefused("[pack]\ninclude-runtime = \"yes\"\n", 2, "pack.include-runtime must be true or false");
  expectRefused("[pack]\n\nbogus = 1\n", 3, "unknown key \"pack.bogus\"");
}

TEST_F(PackToolTest, StringTableTextsAreWindows1252) {
  writeText(dir / "c.toml", "[service]\nname = \"Dienst \xE2\x82\xAC M\xC3\xBCller\"\n");
  fs::path exe = dir / "c.exe";
  ASSERT_EQ(build(dir / "c.toml", exe), ExitOk) << err.str();
  ASSERT_FALSE(loadConfigFromBytes(readBytes(exe), "en"));
  EXPECT_EQ(dupConfigString(101), "Dienst \x80 M\xFCller");
  ASSERT_EQ(run({"dump", pathText(exe)}), ExitOk);
  EXPECT_NE(out.str().find("name = \"Dienst \xE2\x82\xAC M\xC3\xBCller\""), std::string::npos) << out.str();
  EXPECT_EQ(fromCp1252(*toCp1252("\xC5\xB8\xC2\x81")), "\xC5\xB8\xC2\x81");  // every byte maps back
}

TEST_F(PackToolTest, BadConfigurationsNameFileAndLine) {
  expectRefused("[service]\nname = \"x\"\nnmae = \"y\"\n", 3, "unknown key \"service.nmae\"");
  expectRefused("[servce]\nname = \"x\"\n", 1, "unknown table");
  expectRefused("[service]\n\nname = 5\n", 3, "must be a string");
  expectRefused("[instance]\nsingle = \"yes\"\n", 2, "true or false");
  expectRefused("[splash]\ntexts = [{ text = \"a\", first = \"1\" }]\n", 2, "integer");
  expectRefused("[application]\nflavour = \"x\"\n", 2, "pelto");
  expectRefused("[service]\nname = \"a \xE2\x98\x83\"\n", 2, "U+2603");
  expectRefused("[application]\nclasspath = [\"a;b\"]\n", 2, "separator");
  expectRefused("[service]\nname = \"x\"\n[raw.strings]\n\"101\" = \"y\"\n", 4, "already set on line 2");
  expectRefused("[raw.strings]\nabc = \"y\"\n", 2, "not a ConfigId");
  expectRefused("[messages]\ncaptoin = \"x\"\n", 2, "unknown message");
  expectRefused("[[locale]]\n[locale.messages]\ncaption = \"x\"\n", 1, "needs a key");
  expectRefused("[[include]]\nsource = \"missing.txt\"\n", 2, "does not exist");
  writeText(dir / "f.txt", "x");
  for (const char* name : {"..\\\\x", "aux.jar", "lib\\\\....", "com1.txt", "a.jar.", "pelto.lock"})
    expectRefused("[[include]]\nsource = \"f.txt\"\nname = \"" + std::string(name) + "\"\n", 3,
                  "cannot be extracted");
  expectRefused(
      "[[include]]\nsource = \"f.txt\"\nname = \"lib\"\n[[include]]\nsource = \"f.txt\"\nname = \"LIB/a\"\n",
      6, "clashes with \"lib\"");
  expectRefused("[[include]]\nsource = \"f.txt\"\n[raw.strings]\n\"2003\" = \"y\"\n", 4, "[[include]]");
  expectRefused("[service\nname = 1\n", 1, "");
}

TEST_F(PackToolTest, BadLaunchersAreRefusedAndLeaveNoOutput) {
  writeText(dir / "ok.toml", "[service]\nname = \"x\"\n");
  fs::path output = dir / "out.exe";
  auto refused = [&](const fs::path& l, const std::string& fragment) {
    EXPECT_EQ(run({"build", pathText(dir / "ok.toml"), "-o", pathText(output), "--launcher", pathText(l)}),
              ExitBadInput);
    EXPECT_NE(err.str().find(pathText(l) + ": "), std::string::npos) << err.str();
    EXPECT_NE(err.str().find(fragment), std::string::npos) << err.str();
    expectNoOutput();
  };
  refused(dir / "absent.exe", "does not exist");
  writeText(dir / "text.exe", "just text, no image");
  refused(dir / "text.exe", "not a PE32+ image");
  std::vector<unsigned char> image = minimalLauncherImage();
  image[64 + 24] = 0x0B;
  image[64 + 25] = 0x01;  // PE32
  writeBytes(dir / "pe32.exe", image);
  refused(dir / "pe32.exe", "64-bit");
  ASSERT_EQ(build(dir / "ok.toml", dir / "packed.exe"), ExitOk);
  refused(dir / "packed.exe", "already carries a configuration block");
  image = minimalLauncherImage();
  image.push_back(0);
  writeBytes(dir / "tail.exe", image);
  refused(dir / "tail.exe", "behind its last section");
  // The default launcher lies next to the tool.
  fs::remove(launcher);
  EXPECT_EQ(run({"build", pathText(dir / "ok.toml"), "-o", pathText(output)}), ExitBadInput);
  EXPECT_NE(err.str().find(pathText(dir / "pelto-launcher.exe")), std::string::npos) << err.str();
  expectNoOutput();
}

TEST_F(PackToolTest, RebuildingOverAnExistingOutputReplacesIt) {
  writeText(dir / "a.toml", "[service]\nname = \"A\"\n");
  writeText(dir / "b.toml", "[service]\nname = \"B\"\n");
  fs::path exe = dir / "svc.exe";
  ASSERT_EQ(build(dir / "a.toml", exe), ExitOk);
  ASSERT_EQ(build(dir / "b.toml", exe), ExitOk) << err.str();
  ASSERT_FALSE(loadConfigFromBytes(readBytes(exe), "en"));
  EXPECT_EQ(dupConfigString(101), "B");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++files;
  EXPECT_EQ(files, 5u);  // launcher, runtime jar, two configurations, the output: no temporary left
}

TEST_F(PackToolTest, DumpKeepsWhatHasNoTypedFormInRawTables) {
  ConfigBlock b;
  b.strings = {{10005, "2"}, {107, "4x"}, {10200, "3"}, {10201, "11-12"}, {2001, "z"}};
  b.wide = {{1000, u"c"}, {4242, u"w"}};
  std::vector<unsigned char> image = minimalLauncherImage();
  std::vector<unsigned char> block = encodeConfigBlock(b);
  image.insert(image.end(), block.begin(), block.end());
  writeBytes(dir / "odd.exe", image);
  ASSERT_EQ(run({"dump", pathText(dir / "odd.exe")}), ExitOk) << err.str();
  writeText(dir / "odd.toml", out.str());
  ASSERT_EQ(build(dir / "odd.toml", dir / "again.exe"), ExitOk) << err.str() << out.str();
  ASSERT_FALSE(loadConfigFromBytes(readBytes(dir / "again.exe"), "en"));
  for (const auto& [id, text] : b.strings) EXPECT_EQ(dupConfigString(id), text) << id;
  EXPECT_EQ(LauncherConfig.wide[4242], u"w");
}

// The names come from the executable under inspection: one the launcher would refuse stops the
// dump before anything is written, inside or outside the folder.
TEST_F(PackToolTest, DumpRefusesToExtractNamesTheLauncherRefuses) {
  for (const char* name : {"..\\escaped.txt", "aux.jar"}) {
    ConfigBlock b;
    b.files = {{"ok.txt", {'o'}}, {name, {'x'}}};
    std::vector<unsigned char> image = minimalLauncherImage(), block = encodeConfigBlock(b);
    image.insert(image.end(), block.begin(), block.end());
    writeBytes(dir / "hostile.exe", image);
    EXPECT_EQ(run({"dump", pathText(dir / "hostile.exe"), "--extract", pathText(dir / "files")}),
              ExitBadInput);
    EXPECT_NE(err.str().find(std::string("\"") + name + "\" is refused"), std::string::npos) << err.str();
    EXPECT_FALSE(fs::exists(dir / "escaped.txt"));
    EXPECT_FALSE(fs::exists(dir / "files" / "ok.txt")) << name;
  }
}

TEST_F(PackToolTest, DumpOfAPlainLauncherFails) {
  EXPECT_EQ(run({"dump", pathText(launcher)}), ExitBadInput);
  EXPECT_NE(err.str().find("readInt"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace pelto::pack
