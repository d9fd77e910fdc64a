// The pack tool's PE edits on the smallest image: where a section goes, what a signature
// removal accepts, and the resource tree read back; each as the launcher or Windows reads it.
#include <gtest/gtest.h>

#include "PeImage.h"
#include "Resources.h"
#include "launcher/ConfigBlock.h"

namespace pelto::pack {
namespace {

using pe::Bytes;

TEST(PeImageTest, AddedSectionKeepsTheBlockFindable) {
  Bytes image = minimalLauncherImage();
  std::string why;
  std::optional<pe::Layout> layout = pe::readLayout(image, why);
  ASSERT_TRUE(layout) << why;
  Bytes data(0x321, 0xAB);
  ASSERT_TRUE(pe::appendSection(image, *layout, ".rsrc\0\0\0", data, pe::ResourceDirectory, why)) << why;
  std::optional<pe::Layout> again = pe::readLayout(image, why);
  ASSERT_TRUE(again);
  ASSERT_EQ(again->sections.size(), 2u);
  const pe::Section& s = again->sections[1];
  EXPECT_EQ(s.virtualAddress, 0x2000u);  // behind .text at 0x1000, section-aligned
  EXPECT_EQ(s.rawOffset, 0x400u);        // behind the file's end, file-aligned
  EXPECT_EQ(s.rawSize, 0x400u);
  EXPECT_EQ(pe::get32(image, again->optional + 56), 0x3000u);  // image size
  EXPECT_EQ(pe::directory(image, *again, pe::ResourceDirectory).address, 0x2000u);
  EXPECT_EQ(pe::directory(image, *again, pe::ResourceDirectory).size, 0x321u);
  std::uint64_t end = 0;
  ASSERT_TRUE(appendedDataOffset(image, end));
  EXPECT_EQ(end, image.size());  // where the launcher looks for its block
  // One more header no longer fits in front of the first section's data.
  for (int i = 0; i < 3; ++i) pe::appendSection(image, *again, ".x\0\0\0\0\0\0", data, 2, why);
  EXPECT_EQ(why, "its section table has no room for one more section");
}

TEST(PeImageTest, SignatureRemovalTakesOnlyATableAtTheEnd) {
  struct Row {
    std::size_t padding;   // bytes between the sections and the table
    unsigned char filler;  // their value
    std::size_t trailing;  // bytes behind the table
    bool removed;
  } rows[] = {{0, 0, 0, true}, {6, 0, 0, true}, {6, 1, 0, false}, {0, 0, 4, false}};
  for (const Row& row : rows) {
    Bytes image = minimalLauncherImage();
    std::size_t end = image.size();
    std::string why;
    std::optional<pe::Layout> layout = pe::readLayout(image, why);
    image.resize(end + row.padding, row.filler);
    std::size_t table = image.size();
    image.resize(table + 40 + row.trailing, 7);
    pe::put32(image, layout->optional + 112 + 8 * pe::CertificateDirectory,
              static_cast<std::uint32_t>(table));
    pe::put32(image, layout->optional + 116 + 8 * pe::CertificateDirectory, 40);
    EXPECT_EQ(pe::removeCertificateTable(image, *layout, end, why), row.removed)
        << row.padding << " " << row.trailing;
    if (row.removed) {
      EXPECT_EQ(image.size(), end);
      EXPECT_EQ(pe::directory(image, *layout, pe::CertificateDirectory).size, 0u);
    }
  }
}

TEST(PeImageTest, ResourceTreeReadsBackAndRefusesACutOne) {
  Bytes image = minimalLauncherImage();
  std::string why;
  std::optional<pe::Layout> layout = pe::readLayout(image, why);
  std::vector<ResourceEntry> entries{
      {RtManifest, 1, Bytes{'m'}}, {RtIcon, 2, Bytes(5, 2)}, {RtIcon, 1, Bytes(9, 1)}};
  Bytes section = resourceSection(entries, pe::nextSectionAddress(*layout));
  ASSERT_TRUE(pe::appendSection(image, *layout, ".rsrc\0\0\0", section, pe::ResourceDirectory, why));
  for (const ResourceEntry& e : entries)
    EXPECT_EQ(findResource(image, *layout, e.type, e.id), e.data) << e.type;
  EXPECT_FALSE(findResource(image, *layout, RtIcon, 3));
  EXPECT_FALSE(findResource(image, *layout, RtVersion, 1));
  // The manifest's data entry, the third behind a tree of two types and three names (160 bytes):
  // a size reaching beyond the section.
  pe::put32(image, layout->sections[1].rawOffset + 160 + 2 * 16 + 4, 0x7FFFFFF0u);
  EXPECT_FALSE(findResource(image, *layout, RtManifest, 1));
}

TEST(PeImageTest, VersionsAndIconsAreCheckedAsWindowsReadsThem) {
  struct VersionRow {
    const char* text;
    std::size_t parts;  // 0: refused
  } versions[] = {{"1.2.3.4", 4}, {"1.2.3", 3}, {"65535.0.0.1", 4}, {"65536", 0}, {"1.2.3.4.5", 0},
                  {"1..2", 0},    {"", 0},      {"1.2.", 0},        {"v1", 0},    {"1.-2", 0}};
  for (const VersionRow& row : versions)
    EXPECT_EQ(versionParts(row.text, 4).value_or(std::vector<std::uint16_t>{}).size(), row.parts) << row.text;
  Bytes bitmap(40 + 8, 0);
  bitmap[0] = 40;
  Bytes png{0x89, 'P', 'N', 'G', 0, 0, 0, 0};
  auto ico = [](std::uint16_t type, std::uint16_t count, const Bytes& image, std::uint32_t offset) {
    Bytes f{
        0,  0, static_cast<unsigned char>(type), 0, static_cast<unsigned char>(count), 0, 16, 16, 0, 0, 1, 0,
        32, 0};
    for (std::uint32_t v : {static_cast<std::uint32_t>(image.size()), offset})
      for (int i = 0; i < 4; ++i) f.push_back(static_cast<unsigned char>(v >> (8 * i)));
    f.insert(f.end(), image.begin(), image.end());
    return f;
  };
  struct IconRow {
    Bytes file;
    const char* why;  // "": an icon
  } icons[] = {{ico(1, 1, bitmap, 22), ""},
               {ico(1, 1, png, 22), ""},
               {ico(2, 1, bitmap, 22), "does not start as an icon file does"},
               {ico(1, 5, bitmap, 22), "does not fit the file"},
               {ico(1, 1, bitmap, 30), "lies outside the file"},
               {ico(1, 1, Bytes(48, 1), 22), "neither a PNG nor a bitmap"}};
  for (const IconRow& row : icons) {
    std::string why;
    std::optional<std::vector<IconImage>> images = parseIcon(row.file, why);
    EXPECT_EQ(images.has_value(), *row.why == 0) << row.why;
    EXPECT_NE(why.find(row.why), std::string::npos) << why;
    if (images) {
      EXPECT_EQ(iconFile(*images), row.file);  // dump writes the icon it was given
    }
  }
}

}  // namespace
}  // namespace pelto::pack
