#pragma once
// Editing a PE32+ image without the Windows headers: the few header fields the pack tool sets
// (subsystem, checksum, a new last section, the certificate table), at their fixed offsets.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelto::pack::pe {

using Bytes = std::vector<unsigned char>;

constexpr std::uint16_t SubsystemWindowed = 2;
constexpr std::uint16_t SubsystemConsole = 3;
constexpr int ResourceDirectory = 2;
constexpr int CertificateDirectory = 4;

struct Section {
  std::string name;
  std::uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawOffset = 0;
};

// Where the headers lie in one image; read once and used for every edit after it.
struct Layout {
  std::uint32_t optional = 0;  // offset of the optional header
  std::uint32_t sectionTable = 0;
  std::uint32_t sizeOfHeaders = 0, sectionAlignment = 0, fileAlignment = 0;
  std::uint32_t directoryCount = 0;
  std::vector<Section> sections;
};

// Reads the headers of a PE32+ image; on failure `why` says what is wrong.
std::optional<Layout> readLayout(const Bytes& image, std::string& why);

std::uint32_t get32(const Bytes& b, std::size_t at);
std::uint16_t get16(const Bytes& b, std::size_t at);
void put32(Bytes& b, std::size_t at, std::uint32_t v);
void put16(Bytes& b, std::size_t at, std::uint16_t v);

std::uint16_t subsystem(const Bytes& image, const Layout& layout);
void setSubsystem(Bytes& image, const Layout& layout, std::uint16_t value);

struct Directory {
  std::uint32_t address = 0, size = 0;
};
Directory directory(const Bytes& image, const Layout& layout, int index);

// The checksum Windows checks for drivers and signing tools keep: 16-bit sums with the carry
// folded in, the checksum field itself left out, plus the file length.
std::uint32_t checksum(const Bytes& image, const Layout& layout);
void writeChecksum(Bytes& image, const Layout& layout);

// A signature lies behind everything else, where the certificate table entry points (a file
// offset); it and the zero padding before it are cut off and the entry cleared. False with
// `why` when the entry points anywhere but the end of the file.
bool removeCertificateTable(Bytes& image, const Layout& layout, std::uint64_t sectionsEnd, std::string& why);

// The address a section added behind the last one gets.
std::uint32_t nextSectionAddress(const Layout& layout);
// Adds `data` as the new last section at nextSectionAddress(), padded to the file alignment,
// and points data directory `directoryIndex` at it. The image must end with its last section.
// False with `why` when the section table has no room for one more header.
bool appendSection(Bytes& image, Layout& layout, const char (&name)[9], const Bytes& data, int directoryIndex,
                   std::string& why);

}  // namespace pelto::pack::pe
