// The PE32+ header fields the pack tool edits. Offsets are those of the published format; every
// read is bounded by the image, which may be any file a user names.
#include "PeImage.h"

#include <algorithm>

namespace pelto::pack::pe {
namespace {

constexpr std::uint32_t SectionHeaderSize = 40;
// Offsets inside the PE32+ optional header.
constexpr std::uint32_t OptInitializedData = 8, OptSectionAlignment = 32, OptFileAlignment = 36,
                        OptSizeOfImage = 56, OptSizeOfHeaders = 60, OptCheckSum = 64, OptSubsystem = 68,
                        OptDirectoryCount = 108, OptDirectories = 112;
constexpr std::uint32_t ReadOnlyInitializedData = 0x40000040;

std::uint32_t alignUp(std::uint64_t value, std::uint32_t alignment) {
  if (alignment == 0) return static_cast<std::uint32_t>(value);
  return static_cast<std::uint32_t>((value + alignment - 1) / alignment * alignment);
}

bool powerOfTwo(std::uint32_t v) {
  return v != 0 && (v & (v - 1)) == 0;
}

}  // namespace

std::uint32_t get32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t get16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<unsigned char>(v);
  b[at + 1] = static_cast<unsigned char>(v >> 8);
}

std::optional<Layout> readLayout(const Bytes& image, std::string& why) {
  auto fail = [&why](const char* text) {
    why = text;
    return std::nullopt;
  };
  if (image.size() < 64 || image[0] != 'M' || image[1] != 'Z') return fail("no MZ header");
  std::uint64_t h = get32(image, 60);
  if (h + 24 > image.size() || get32(image, h) != 0x00004550) return fail("no PE signature");
  Layout l;
  l.optional = static_cast<std::uint32_t>(h + 24);
  std::uint16_t sections = get16(image, h + 6), optionalSize = get16(image, h + 20);
  if (std::uint64_t{l.optional} + 2 > image.size() || get16(image, l.optional) != 0x20B)
    return fail("not a 64-bit optional header");
  if (optionalSize < OptDirectories || std::uint64_t{l.optional} + optionalSize > image.size())
    return fail("optional header cut short");
  l.sectionTable = l.optional + optionalSize;
  if (sections == 0 ||
      std::uint64_t{l.sectionTable} + std::uint64_t{SectionHeaderSize} * sections > image.size())
    return fail("section table cut short");
  l.sectionAlignment = get32(image, l.optional + OptSectionAlignment);
  l.fileAlignment = get32(image, l.optional + OptFileAlignment);
  l.sizeOfHeaders = get32(image, l.optional + OptSizeOfHeaders);
  l.directoryCount = std::min<std::uint32_t>(get32(image, l.optional + OptDirectoryCount),
                                             (optionalSize - OptDirectories) / 8);
  for (std::uint16_t i = 0; i < sections; ++i) {
    std::size_t at = l.sectionTable + std::size_t{SectionHeaderSize} * i;
    Section s;
    for (std::size_t c = 0; c < 8 && image[at + c]; ++c) s.name += static_cast<char>(image[at + c]);
    s.virtualSize = get32(image, at + 8);
    s.virtualAddress = get32(image, at + 12);
    s.rawSize = get32(image, at + 16);
    s.rawOffset = get32(image, at + 20);
    l.sections.push_back(s);
  }
  return l;
}

std::uint16_t subsystem(const Bytes& image, const Layout& layout) {
  return get16(image, layout.optional + OptSubsystem);
}
void setSubsystem(Bytes& image, const Layout& layout, std::uint16_t value) {
  put16(image, layout.optional + OptSubsystem, value);
}

Directory directory(const Bytes& image, const Layout& layout, int index) {
  if (index < 0 || static_cast<std::uint32_t>(index) >= layout.directoryCount) return {};
  std::size_t at = layout.optional + OptDirectories + 8u * static_cast<std::size_t>(index);
  return {get32(image, at), get32(image, at + 4)};
}

std::uint32_t checksum(const Bytes& image, const Layout& layout) {
  std::size_t field = layout.optional + OptCheckSum;
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < image.size(); i += 2) {
    if (i >= field && i < field + 4) continue;
    std::uint32_t word = image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + image.size());
}

void writeChecksum(Bytes& image, const Layout& layout) {
  put32(image, layout.optional + OptCheckSum, checksum(image, layout));
}

bool removeCertificateTable(Bytes& image, const Layout& layout, std::uint64_t sectionsEnd, std::string& why) {
  Directory cert = directory(image, layout, CertificateDirectory);
  if (cert.size == 0) return true;
  if (std::uint64_t{cert.address} + cert.size != image.size() || cert.address < sectionsEnd) {
    why = "its certificate table does not lie at the end of the file";
    return false;
  }
  // Signing pads the image to eight bytes before the table.
  if (!std::all_of(image.begin() + static_cast<std::ptrdiff_t>(sectionsEnd),
                   image.begin() + static_cast<std::ptrdiff_t>(cert.address),
                   [](unsigned char b) { return b == 0; })) {
    why = "it carries data between its last section and its certificate table";
    return false;
  }
  image.resize(static_cast<std::size_t>(sectionsEnd));
  std::size_t at = layout.optional + OptDirectories + 8u * CertificateDirectory;
  put32(image, at, 0);
  put32(image, at + 4, 0);
  return true;
}

std::uint32_t nextSectionAddress(const Layout& layout) {
  std::uint64_t end = 0;
  for (const Section& s : layout.sections)
    end = std::max<std::uint64_t>(end, std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize));
  return alignUp(end, layout.sectionAlignment);
}

bool appendSection(Bytes& image, Layout& layout, const char (&name)[9], const Bytes& data, int directoryIndex,
                   std::string& why) {
  std::size_t header = layout.sectionTable + SectionHeaderSize * layout.sections.size();
  std::uint32_t firstRaw = layout.sizeOfHeaders;
  for (const Section& s : layout.sections)
    if (s.rawSize) firstRaw = std::min(firstRaw, s.rawOffset);
  if (header + SectionHeaderSize > firstRaw || header + SectionHeaderSize > image.size()) {
    why = "its section table has no room for one more section";
    return false;
  }
  if (!powerOfTwo(layout.sectionAlignment) || !powerOfTwo(layout.fileAlignment) ||
      static_cast<std::uint32_t>(directoryIndex) >= layout.directoryCount) {
    why = "its alignments or data directories are not those of a linked image";
    return false;
  }
  Section s{name, static_cast<std::uint32_t>(data.size()), nextSectionAddress(layout),
            alignUp(data.size(), layout.fileAlignment), alignUp(image.size(), layout.fileAlignment)};
  if (std::any_of(image.begin() + static_cast<std::ptrdiff_t>(header),
                  image.begin() + static_cast<std::ptrdiff_t>(header + SectionHeaderSize),
                  [](unsigned char b) { return b != 0; })) {
    why = "the room behind its section table is not empty";
    return false;
  }
  for (std::size_t c = 0; c < 8; ++c) image[header + c] = static_cast<unsigned char>(name[c]);
  put32(image, header + 8, s.virtualSize);
  put32(image, header + 12, s.virtualAddress);
  put32(image, header + 16, s.rawSize);
  put32(image, header + 20, s.rawOffset);
  put32(image, header + 36, ReadOnlyInitializedData);
  std::size_t fileHeader = layout.optional - 20;
  put16(image, fileHeader + 2, static_cast<std::uint16_t>(layout.sections.size() + 1));
  put32(image, layout.optional + OptSizeOfImage,
        alignUp(std::uint64_t{s.virtualAddress} + s.virtualSize, layout.sectionAlignment));
  put32(image, layout.optional + OptInitializedData,
        get32(image, layout.optional + OptInitializedData) + s.rawSize);
  std::size_t dir = layout.optional + OptDirectories + 8u * static_cast<std::size_t>(directoryIndex);
  put32(image, dir, s.virtualAddress);
  put32(image, dir + 4, s.virtualSize);
  image.resize(s.rawOffset, 0);
  image.insert(image.end(), data.begin(), data.end());
  image.resize(std::size_t{s.rawOffset} + s.rawSize, 0);
  layout.sections.push_back(s);
  return true;
}

}  // namespace pelto::pack::pe
