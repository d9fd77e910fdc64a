#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "env/Handles.h"
#include "env/TextConv.h"
#include "launcher/ConfigBlock.h"

namespace pelto {
namespace {

class ConfigFileTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    base = std::wstring(dir) + L"pelto-config-file-test-";
  }
  void TearDown() override {
    open.clear();
    for (const std::wstring& p : paths) DeleteFileW(p.c_str());
  }

  // Each image gets a file of its own, as earlier handles stay open.
  HANDLE writeAndOpen(const std::vector<unsigned char>& bytes) {
    std::wstring path = base + std::to_wstring(paths.size()) + L".bin";
    paths.push_back(path);
    {
      UniqueFileHandle out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
      DWORD written = 0;
      EXPECT_TRUE(WriteFile(out.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    }
    open.emplace_back(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(open.back());
    return open.back().get();
  }

  std::wstring base;
  std::vector<std::wstring> paths;
  std::vector<UniqueFileHandle> open;
};

std::vector<unsigned char> packed(const ConfigBlock& block) {
  std::vector<unsigned char> image = minimalLauncherImage();
  std::vector<unsigned char> bytes = encodeConfigBlock(block);
  image.insert(image.end(), bytes.begin(), bytes.end());
  return image;
}

TEST_F(ConfigFileTest, ShortReadsReportThePrimitiveAndTheBytesRead) {
  ConfigBlock b;
  b.strings = {{101, "HelloService"}};
  std::vector<unsigned char> image = packed(b);
  image.resize(image.size() - 20);  // inside the string's text
  ByteSource source = fileByteSource(writeAndOpen(image));
  ConfigError e = loadConfigFromSource(source, [] { return std::string("en"); });
  EXPECT_EQ(e.kind, ConfigErrorKind::ReadString);

  // The plain launcher image: the magic read meets the end of the file.
  ByteSource plainSource = fileByteSource(writeAndOpen(minimalLauncherImage()));
  e = loadConfigFromSource(plainSource, [] { return std::string("en"); });
  EXPECT_EQ(e.kind, ConfigErrorKind::ReadInt);
  EXPECT_EQ(e.bytesRead, 0u);
  EXPECT_EQ(configErrorText(e), u"Internal Error: readInt");

  std::vector<unsigned char> two = minimalLauncherImage();
  two.push_back(0xD5);
  two.push_back(0x13);
  ByteSource cutSource = fileByteSource(writeAndOpen(two));
  e = loadConfigFromSource(cutSource, [] { return std::string("en"); });
  EXPECT_EQ(e.kind, ConfigErrorKind::ReadInt);
  EXPECT_EQ(e.bytesRead, 2u);
}

}  // namespace
}  // namespace pelto
