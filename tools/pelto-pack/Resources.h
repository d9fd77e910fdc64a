#pragma once
// The resources a packed executable carries: icon, version information and manifest, written
// as a resource section and read back from one.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PeImage.h"

namespace pelto::pack {

// What [resources] asks for, as given; absent texts take their defaults when built.
struct Resources {
  std::map<std::string, std::string, std::less<>> texts;  // versions and texts by key, UTF-8
  pe::Bytes icon;                                         // a whole .ico file, or nothing
  std::string executionLevel;                             // empty: asInvoker
  bool longPathAware = false;
};

// One image of an icon file: its directory entry's first eight bytes (size, colours, planes, bits) and its
// data.
struct IconImage {
  pe::Bytes entry;
  pe::Bytes data;
};
// The images of a .ico file; nullopt with `why` when it is not one.
std::optional<std::vector<IconImage>> parseIcon(const pe::Bytes& ico, std::string& why);
pe::Bytes iconFile(const std::vector<IconImage>& images);

// "1.2.3.4" -> the numbers; nullopt unless one to `most` numbers of 0..65535 joined by dots.
std::optional<std::vector<std::uint16_t>> versionParts(std::string_view text, std::size_t most);

// Fills in the defaults: product name from `name`, description from the product name, file
// version 0.0.0.0, product version from the file version, level asInvoker.
Resources withDefaults(Resources r, const std::string& name);
// The keys of `full` a configuration must give to build it again: those unlike their default.
Resources withoutDefaults(Resources full, const std::string& name);

struct ResourceEntry {
  std::uint16_t type = 0, id = 0;
  pe::Bytes data;
};
constexpr std::uint16_t RtIcon = 3, RtGroupIcon = 14, RtVersion = 16, RtManifest = 24;
constexpr std::uint16_t EnglishUs = 0x0409;

// A resource section at `address` holding the entries (one language each).
pe::Bytes resourceSection(std::vector<ResourceEntry> entries, std::uint32_t address);
// The entry of that type and id in the image's resource section, if there is one.
std::optional<pe::Bytes> findResource(const pe::Bytes& image, const pe::Layout& layout, std::uint16_t type,
                                      std::uint16_t id);

pe::Bytes versionInfo(const Resources& full);
// The string table of a version resource: key -> UTF-8 value.
std::optional<std::map<std::string, std::string>> versionStrings(const pe::Bytes& resource);
std::string manifest(const Resources& full);

// The entries for a resource section from complete resources (withDefaults applied).
std::vector<ResourceEntry> resourceEntries(const Resources& full);
// What an image built by the pack tool carries, read back; nullopt when it carries no resources.
std::optional<Resources> readResources(const pe::Bytes& image, const pe::Layout& layout, std::string& why);

// The keys of [resources]: key, version string name (empty for the others) and help.
struct ResourceKey {
  std::string_view key;
  std::string_view versionName;
  std::string_view help;
};
const std::vector<ResourceKey>& resourceKeys();

}  // namespace pelto::pack

namespace pelto::pack {

// [installer]: what an MSI built from the configuration holds beside the executable.
struct Installer {
  std::string upgradeCode;                   // "{GUID}", upper case
  std::string folder;                        // under Program Files (64-bit)
  std::vector<std::filesystem::path> files;  // absolute; a folder taken whole
  std::uint32_t line = 0;                    // where [installer] starts, for messages
};

// What the configuration asks of the executable beyond its block.
struct ShipRequest {
  std::optional<Resources> resources;      // [resources], when given
  std::optional<std::uint16_t> subsystem;  // [pack] subsystem, when given
  std::optional<Installer> installer;
};

}  // namespace pelto::pack
