#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "launcher/ConfigBlock.h"
#include "support/TestLog.h"

namespace pelto {
namespace {

std::vector<unsigned char> imageWith(const ConfigBlock& block) {
  std::vector<unsigned char> image = minimalLauncherImage();
  std::vector<unsigned char> bytes = encodeConfigBlock(block);
  image.insert(image.end(), bytes.begin(), bytes.end());
  return image;
}

ConfigBlock sampleBlock() {
  ConfigBlock b;
  b.strings = {{101, "HelloService"}, {107, "0"}, {122, "com.example.Main"}};
  b.wide = {{1000, u"Caption"}, {1016, u"No Java {0}"}};
  b.locales = {{"de", {{1016, u"Kein Java {0}"}}}};
  b.files = {{"a.txt", {'h', 'i'}}};
  return b;
}

TEST(ConfigBlockTest, LocationRuleFindsTheEndOfTheLastSectionAndLogsIt) {
  test::LogRecorder log;
  std::vector<unsigned char> image = minimalLauncherImage();
  ByteSource src = memorySource(image);
  EXPECT_FALSE(seekAppendedData(src));
  EXPECT_EQ(src.position(), 512u);
  EXPECT_TRUE(log.contains("number of sections: 1"));
  EXPECT_TRUE(log.contains("size of optional headers: 240"));
  EXPECT_TRUE(log.contains("resSectionTableStart: 328"));  // 64 + 240 + 40 - 16
  EXPECT_TRUE(log.contains("rawDataSize: 128, rawDataOffset: 384"));
  std::uint64_t offset = 0;
  ASSERT_TRUE(appendedDataOffset(image, offset));
  EXPECT_EQ(offset, 512u);
}

TEST(ConfigBlockTest, RoundTripsTablesLocalesAndIncludedFiles) {
  ConfigBlock in = sampleBlock();
  std::vector<unsigned char> image = imageWith(in);
  ByteSource src = memorySource(image);
  ASSERT_FALSE(seekAppendedData(src));
  ConfigBlock out;
  ASSERT_FALSE(readConfigBlock(src, out));
  EXPECT_EQ(out.wide, in.wide);
  ASSERT_EQ(out.locales.size(), 1u);
  EXPECT_EQ(out.locales[0].key, "de");
  EXPECT_EQ(out.locales[0].entries, in.locales[0].entries);
  // The writer describes the files itself.
  ASSERT_EQ(out.strings.size(), 5u);
  EXPECT_EQ(out.strings[3], (std::pair<ConfigId, std::string>{2002, "1"}));
  EXPECT_EQ(out.strings[4], (std::pair<ConfigId, std::string>{2003, "a.txt"}));
  ASSERT_FALSE(readIncludedFiles(src, out));
  ASSERT_EQ(out.files.size(), 1u);
  EXPECT_EQ(out.files[0].data, (std::vector<unsigned char>{'h', 'i'}));
  EXPECT_EQ(src.position(), image.size());
}

TEST(ConfigBlockTest, IncludedRecordsAreMaskedWithEightByteLengths) {
  ConfigBlock b;
  b.files = {{"x", {0x00, 0xA7, 0xFF}}};
  std::vector<unsigned char> bytes = encodeConfigBlock(b);
  std::vector<unsigned char> tail(bytes.end() - 11, bytes.end());
  EXPECT_EQ(tail, (std::vector<unsigned char>{3, 0, 0, 0, 0, 0, 0, 0, 0xA7, 0x00, 0x58}));
}

// Cutting the sample at every byte must end in the error of the primitive that met the end,
// and never read or allocate past the end.
TEST(ConfigBlockTest, TruncationAtEveryByteNamesThePrimitive) {
  ConfigBlock b = sampleBlock();
  b.files.clear();
  std::vector<unsigned char> full = imageWith(b);
  const std::size_t start = 512;
  // Expected error per cut position, derived from the layout independently of the reader.
  std::vector<ConfigErrorKind> expect;
  auto field = [&expect](std::size_t n, ConfigErrorKind k) { expect.insert(expect.end(), n, k); };
  auto str = [&](std::size_t len, ConfigErrorKind k) {
    field(4, ConfigErrorKind::ReadInt);
    field(len, k);
  };
  field(4, ConfigErrorKind::ReadInt);   // magic
  field(8, ConfigErrorKind::ReadInt);   // two reserved ints
  field(8, ConfigErrorKind::ReadLong);  // reserved long
  field(4, ConfigErrorKind::ReadInt);   // string count
  for (const auto& [id, text] : b.strings) {
    field(4, ConfigErrorKind::ReadInt);
    str(text.size(), ConfigErrorKind::ReadString);
  }
  field(4, ConfigErrorKind::ReadInt);
  for (const auto& [id, text] : b.wide) {
    field(4, ConfigErrorKind::ReadInt);
    str(text.size() * 2, ConfigErrorKind::ReadWString);
  }
  field(4, ConfigErrorKind::ReadInt);
  str(2, ConfigErrorKind::ReadString);  // "de"
  field(4, ConfigErrorKind::ReadInt);
  field(4, ConfigErrorKind::ReadInt);
  str(b.locales[0].entries[0].second.size() * 2, ConfigErrorKind::ReadWString);
  ASSERT_EQ(start + expect.size(), full.size());

  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    std::vector<unsigned char> image(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    ConfigError e = loadConfigFromBytes(image, "de_DE");
    ConfigErrorKind want = cut < start ? e.kind : expect[cut - start];
    if (cut < start) {
      // Inside the headers the location rule itself meets the end.
      EXPECT_TRUE(e.kind == ConfigErrorKind::ReadInt || e.kind == ConfigErrorKind::ReadShort) << cut;
    }
    ASSERT_EQ(e.kind, want) << "cut at " << cut;
  }
  EXPECT_FALSE(loadConfigFromBytes(full, "de_DE"));
}

TEST(ConfigBlockTest, ErrorTextsAndLogLinesFollowThePrimitive) {
  test::LogRecorder log;
  ConfigError e{ConfigErrorKind::ReadInt, 38, 2};
  EXPECT_EQ(configErrorText(e), u"Internal Error: readInt");
  logConfigError(e);
  EXPECT_TRUE(log.contains("error 38 2\n"));
  log.clear();
  logConfigError({ConfigErrorKind::ReadLong, 5, 0});
  EXPECT_TRUE(log.contains("error 5\n"));
  log.clear();
  logConfigError({ConfigErrorKind::ReadString, 0, 0});
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(configErrorText({ConfigErrorKind::ReadWString, 0, 0}), u"Internal Error: readWString");
  EXPECT_EQ(configErrorText({ConfigErrorKind::Magic, 0, 0}), u"Internal Error: magic");
}

TEST(ConfigBlockTest, HugeOrNegativeLengthsAreRefusedBeforeAllocation) {
  for (std::uint32_t length : {0x7FFFFFFFu, 0xFFFFFFFFu, 0x80000000u}) {
    ConfigBlock b;
    std::vector<unsigned char> image = imageWith(b);
    // Patch: string count 1, id 5, then the length.
    image.resize(image.size() - 12);  // drop the three zero counts
    for (std::uint32_t v : {1u, 5u, length})
      for (int i = 0; i < 4; ++i) image.push_back(static_cast<unsigned char>(v >> (8 * i)));
    image.insert(image.end(), 64, 'x');
    EXPECT_EQ(loadConfigFromBytes(image, "en").kind, ConfigErrorKind::ReadString) << length;
  }
}

TEST(ConfigBlockTest, ZeroAndNegativeCountsLoadEmptyTables) {
  for (int fill : {0x00, 0xFF}) {
    std::vector<unsigned char> image = imageWith(ConfigBlock{});
    for (std::size_t i = image.size() - 12; i < image.size(); ++i)
      image[i] = static_cast<unsigned char>(fill);
    LauncherConfig.strings[1] = "stale";
    ASSERT_FALSE(loadConfigFromBytes(image, "en_US")) << fill;
    EXPECT_TRUE(LauncherConfig.strings.empty());
    EXPECT_TRUE(LauncherConfig.wide.empty());
    EXPECT_EQ(IncludedFilesOffset, image.size());
    EXPECT_EQ(LocaleLanguage, "en");
    EXPECT_EQ(LocaleCountry, "US");
  }
}

TEST(ConfigBlockTest, LocaleKeyIsAPrefixOfTheName) {
  EXPECT_TRUE(localeKeyMatches("de", "de"));
  EXPECT_TRUE(localeKeyMatches("de", "de_CH"));
  EXPECT_TRUE(localeKeyMatches("", "fr_FR"));
  EXPECT_FALSE(localeKeyMatches("de_CH", "de"));
  EXPECT_FALSE(localeKeyMatches("de", "en_DE"));
}

TEST(ConfigBlockTest, MatchingSectionsOverrideInFileOrderAndNeverTouchStrings) {
  ConfigBlock b;
  b.strings = {{1016, "narrow"}};
  b.wide = {{1016, u"base"}, {1000, u"caption"}};
  b.locales = {{"de", {{1016, u"de"}}},
               {"fr", {{1016, u"fr"}, {1000, u"fr caption"}}},
               {"de_CH", {{1016, u"de_CH"}}},
               {"", {{1005, u"any"}}}};
  std::vector<unsigned char> image = imageWith(b);
  ASSERT_FALSE(loadConfigFromBytes(image, "de_CH"));
  EXPECT_EQ(LauncherConfig.wide[1016], u"de_CH");
  EXPECT_EQ(LauncherConfig.wide[1000], u"caption");
  EXPECT_EQ(LauncherConfig.wide[1005], u"any");
  EXPECT_EQ(LauncherConfig.strings[1016], "narrow");
  ASSERT_FALSE(loadConfigFromBytes(image, "de"));
  EXPECT_EQ(LauncherConfig.wide[1016], u"de");
  ASSERT_FALSE(loadConfigFromBytes(image, "it_IT"));
  EXPECT_EQ(LauncherConfig.wide[1016], u"base");
  EXPECT_EQ(LocaleCountry, "IT");
  ASSERT_FALSE(loadConfigFromBytes(image, "no_NO_NY"));
  EXPECT_EQ(LocaleLanguage, "no");
  EXPECT_EQ(LocaleCountry, "");
}

TEST(ConfigBlockTest, DuplicateIdsLaterWinsAndNulEndsAText) {
  ConfigBlock b;
  b.strings = {{101, "first"}, {101, "second"}, {102, std::string("ab\0cd", 5)}};
  b.wide = {{1000, u"one"}, {1000, u"two"}};
  ASSERT_FALSE(loadConfigFromBytes(imageWith(b), "en"));
  EXPECT_EQ(LauncherConfig.strings[101], "second");
  EXPECT_EQ(LauncherConfig.strings[102], "ab");
  EXPECT_EQ(LauncherConfig.wide[1000], u"two");
}

TEST(ConfigBlockTest, ErrorDialogModeByExecutableType) {
  for (int type = 0; type <= 5; ++type) {
    ConfigBlock b;
    b.strings = {{107, std::to_string(type)}};
    ErrorDialogMode = true;
    ASSERT_FALSE(loadConfigFromBytes(imageWith(b), "en"));
    EXPECT_EQ(ErrorDialogMode, type == 1 || type == 5) << type;
  }
  ErrorDialogMode = true;
  ASSERT_FALSE(loadConfigFromBytes(imageWith(ConfigBlock{}), "en"));
  EXPECT_FALSE(ErrorDialogMode);
  ErrorDialogMode = true;
}

TEST(ConfigBlockTest, IncludedFilesFollowTheNameList) {
  ConfigBlock b;
  b.describeFiles = false;
  b.strings = {{2002, "3"}, {2003, ";a.jar;;lib\\b.dll;"}};
  b.files = {{"", {1, 2}}, {"", {}}, {"", {9}}};
  std::vector<unsigned char> image = imageWith(b);
  ByteSource src = memorySource(image);
  ASSERT_FALSE(seekAppendedData(src));
  ConfigBlock out;
  ASSERT_FALSE(readConfigBlock(src, out));
  ASSERT_FALSE(readIncludedFiles(src, out));
  ASSERT_EQ(out.files.size(), 2u);  // two names only: the third record is not read
  EXPECT_EQ(out.files[0].name, "a.jar");
  EXPECT_EQ(out.files[1].name, "lib\\b.dll");
  EXPECT_TRUE(out.files[1].data.empty());
  EXPECT_EQ(src.position(), image.size() - 9);
}

// The file source reads in chunks through its seams: a file that hands out a few bytes per call
// loads the same tables, and a read that fails part-way reports the system's error code with
// the bytes that did arrive, as one read call of the primitive would.
struct FakeFile {
  const std::vector<unsigned char>* bytes;
  std::uint64_t pos = 0;
  std::size_t most = 5;
  std::uint64_t failAt = ~0ull;  // reads reaching this offset fail with error 5
  int calls = 0;
};

ByteSource::ReadResult fakeRead(void* handle, void* buffer, std::size_t size) {
  auto* f = static_cast<FakeFile*>(handle);
  ++f->calls;
  ByteSource::ReadResult r;
  if (f->pos >= f->failAt) {
    r.systemError = 5;
    return r;
  }
  std::uint64_t end =
      std::min<std::uint64_t>({f->bytes->size(), f->failAt, f->pos + std::min(size, f->most)});
  r.count = static_cast<std::size_t>(end > f->pos ? end - f->pos : 0);
  std::memcpy(buffer, f->bytes->data() + f->pos, r.count);
  f->pos += r.count;
  return r;
}

bool fakeSeek(void* handle, std::uint64_t offset) {
  static_cast<FakeFile*>(handle)->pos = offset;
  return true;
}

TEST(ConfigBlockTest, ChunkedFileSourceMatchesMemoryAndReportsFailedReads) {
  std::vector<unsigned char> image = imageWith(sampleBlock());
  ASSERT_FALSE(loadConfigFromBytes(image, "de_CH"));
  auto strings = LauncherConfig.strings;
  auto wide = LauncherConfig.wide;
  std::uint32_t offset = IncludedFilesOffset;

  FakeFile trickle{&image};
  ByteSource source = ByteSource::overFile(&trickle, image.size(), fakeRead, fakeSeek);
  ASSERT_FALSE(loadConfigFromSource(source, [] { return std::string("de_CH"); }));
  EXPECT_EQ(LauncherConfig.strings, strings);
  EXPECT_EQ(LauncherConfig.wide, wide);
  EXPECT_EQ(LauncherConfig.wide[1016], u"Kein Java {0}");
  EXPECT_EQ(IncludedFilesOffset, offset);

  // Whole chunks: a handful of read calls for the whole block, not one per primitive.
  FakeFile whole{&image, 0, ByteSource::ChunkSize};
  ByteSource wholeSource = ByteSource::overFile(&whole, image.size(), fakeRead, fakeSeek);
  ASSERT_FALSE(loadConfigFromSource(wholeSource, [] { return std::string("de_CH"); }));
  EXPECT_LE(whole.calls, 8);

  // The magic is read whole; the read fails two bytes into the first reserved value.
  std::uint64_t blockStart = minimalLauncherImage().size();
  FakeFile failing{&image, 0, 3, blockStart + 6};
  ByteSource failingSource = ByteSource::overFile(&failing, image.size(), fakeRead, fakeSeek);
  ConfigError e = loadConfigFromSource(failingSource, [] { return std::string("en"); });
  EXPECT_EQ(e.kind, ConfigErrorKind::ReadInt);
  EXPECT_EQ(e.systemError, 5u);
  EXPECT_EQ(e.bytesRead, 2u);
}

}  // namespace
}  // namespace pelto
