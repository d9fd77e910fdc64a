#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
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

TEST_F(ConfigFileTest, LoadsThroughAFileHandle) {
  ConfigBlock b;
  b.strings = {{101, "HelloService"}, {107, "5"}};
  b.locales = {{"de", {{1000, u"Fehler"}}}};
  b.files = {{"x.txt", {'a', 'b', 'c'}}};
  std::vector<unsigned char> image = packed(b);
  ByteSource source = fileByteSource(writeAndOpen(image));
  EXPECT_EQ(source.size, image.size());
  ErrorDialogMode = true;
  ASSERT_FALSE(loadConfigFromSource(source, [] { return std::string("de_DE"); }));
  EXPECT_EQ(LauncherConfig.strings[101], "HelloService");
  EXPECT_EQ(LauncherConfig.wide[1000], u"Fehler");
  EXPECT_TRUE(ErrorDialogMode);
  EXPECT_EQ(IncludedFilesOffset, image.size() - 11);
  // Part of the extraction reads from there with the same primitives.
  std::int64_t length = 0;
  ASSERT_FALSE(readLong(source, length));
  EXPECT_EQ(length, 3);
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

// The file is read in chunks: a block spanning several of them, with texts that straddle the
// chunk boundaries, reads exactly as the same bytes do from memory, and every cut of it fails
// with the same primitive, bytes read and position.
TEST_F(ConfigFileTest, ChunkedFileReadsMatchMemoryReads) {
  ConfigBlock b;
  for (int i = 0; i < 3000; ++i)
    b.strings.emplace_back(i, std::string(static_cast<std::size_t>(i % 97), 'a'));
  for (int i = 0; i < 500; ++i)
    b.wide.emplace_back(5000 + i, std::u16string(static_cast<std::size_t>(i % 61), u'w'));
  b.locales = {{"de", {{5001, u"eins"}}}, {"fr", {{5002, u"deux"}}}};
  std::vector<unsigned char> image = packed(b);
  ASSERT_GT(image.size(), 2 * ByteSource::ChunkSize);

  struct Outcome {
    ConfigErrorKind kind;
    std::uint32_t bytesRead;
    std::uint64_t position;
    std::size_t strings, wide;
    std::uint32_t offset;
    bool operator==(const Outcome&) const = default;
  };
  auto load = [](ByteSource& source) {
    ConfigError e = loadConfigFromSource(source, [] { return std::string("de_DE"); });
    return Outcome{e.kind,
                   e.bytesRead,
                   source.position(),
                   LauncherConfig.strings.size(),
                   LauncherConfig.wide.size(),
                   e ? 0u : IncludedFilesOffset};
  };
  // Whole, cut inside an entry id at a chunk boundary, cut inside a text, cut in the locales.
  std::uint64_t chunk = ByteSource::ChunkSize;
  for (std::uint64_t length : {std::uint64_t{image.size()}, chunk + 2, chunk + 1000, 2 * chunk + 7,
                               std::uint64_t{image.size() - 5}}) {
    std::vector<unsigned char> cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length));
    ByteSource memory = memorySource(cut);
    Outcome fromMemory = load(memory);
    ByteSource file = fileByteSource(writeAndOpen(cut));
    Outcome fromFile = load(file);
    EXPECT_EQ(fromMemory, fromFile) << "cut at " << length;
    if (length == image.size()) {
      EXPECT_EQ(fromFile.kind, ConfigErrorKind::None);
      EXPECT_EQ(LauncherConfig.wide[5001], u"eins");
      EXPECT_EQ(fromFile.strings, 3000u);
    }
  }
}

// The launcher's way of reading: the block appended to a real MinGW image, read by that image
// itself through its own path. The test copies its own executable, cut at the end of its last
// section (the symbol table behind it is not needed to run), packs a block and runs the copy.
TEST(OwnExecutableTest, Child) {
  wchar_t flag[8];
  if (GetEnvironmentVariableW(L"PELTO_CONFIG_CHILD", flag, 8) == 0) GTEST_SKIP() << "runs in the packed copy";
  std::u16string path;
  std::uint32_t code = 0;
  UniqueFileHandle file(tryOpenOwnExecutable(path, &code));
  ASSERT_TRUE(file) << code;
  ByteSource source = fileByteSource(file.get());
  ConfigError e = loadConfigFromSource(source, [] { return std::string("de_CH"); });
  std::printf("CHILD error=%d name=%s caption=%s offset=%u size=%llu\n", static_cast<int>(e.kind),
              LauncherConfig.strings[101].c_str(), utf16ToUtf8(LauncherConfig.wide[1000]).c_str(),
              static_cast<unsigned>(IncludedFilesOffset), static_cast<unsigned long long>(source.size));
  std::fflush(stdout);
}

TEST(OwnExecutableTest, PackedCopyReadsItsOwnBlock) {
  std::wstring self(32768, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
  std::vector<unsigned char> image;
  {
    UniqueFileHandle in(
        CreateFileW(self.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(in);
    LARGE_INTEGER size{};
    GetFileSizeEx(in.get(), &size);
    image.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(in.get(), image.data(), static_cast<DWORD>(image.size()), &got, nullptr));
  }
  std::uint64_t end = 0;
  ASSERT_TRUE(appendedDataOffset(image, end));
  ASSERT_LE(end, image.size());
  image.resize(static_cast<std::size_t>(end));
  ConfigBlock b;
  b.strings = {{101, "SelfService"}};
  b.wide = {{1000, u"Caption"}};
  b.locales = {{"de", {{1000, u"Fehler \u00FC"}}}};
  b.files = {{"f.bin", {1, 2, 3, 4}}};
  std::vector<unsigned char> block = encodeConfigBlock(b);
  image.insert(image.end(), block.begin(), block.end());

  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring copy = std::wstring(dir) + L"pelto-config-self.exe";
  {
    UniqueFileHandle out(CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(out);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(out.get(), image.data(), static_cast<DWORD>(image.size()), &written, nullptr));
  }

  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &sa, 0));
  UniqueHandle reader(readEnd), writer(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring command = L"\"" + copy + L"\" --gtest_filter=OwnExecutableTest.Child";
  SetEnvironmentVariableW(L"PELTO_CONFIG_CHILD", L"1");
  PROCESS_INFORMATION pi{};
  BOOL started =
      CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableW(L"PELTO_CONFIG_CHILD", nullptr);
  ASSERT_TRUE(started) << GetLastError();
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  writer.reset();
  std::string output;
  char buf[512];
  DWORD got = 0;
  while (ReadFile(reader.get(), buf, sizeof buf, &got, nullptr) && got > 0) output.append(buf, got);
  WaitForSingleObject(pi.hProcess, 30000);
  DeleteFileW(copy.c_str());
  std::string expected =
      "CHILD error=0 name=SelfService caption=Fehler \xC3\xBC offset=" + std::to_string(image.size() - 12) +
      " size=" + std::to_string(image.size());
  EXPECT_NE(output.find(expected), std::string::npos) << output << "\nexpected: " << expected;
}

}  // namespace
}  // namespace pelto
