#pragma once
// What turns a launcher with its block into an executable shipped as Windows software: the
// subsystem, the resources, the checksum and the signature, read from the configuration, set
// by build and printed back by dump.
#include <optional>
#include <string>

#include "PackRead.h"
#include "Resources.h"

namespace pelto::pack {

// [pack] subsystem = "console" | "windowed".
bool readSubsystem(Reader& r, const toml::node& node, ShipRequest& ship);
// [resources], the icon relative to `base`; [installer], the files relative to `base`.
bool readResourcesTable(Reader& r, const toml::node& node, const std::filesystem::path& base,
                        ShipRequest& ship);
bool readInstallerTable(Reader& r, const toml::node& node, const std::filesystem::path& base,
                        ShipRequest& ship);

// The name the default version block carries: the service name, else the main class.
std::string productNameOf(const ConfigBlock& block);
bool windowedBlock(const ConfigBlock& block);

// Cuts a signature off a launcher before it is packed; "" or what is wrong.
std::string removeSignature(pe::Bytes& image, std::uint64_t sectionsEnd);
// Sets the subsystem and adds the resource section as the new last section; "" or what is wrong.
std::string shipImage(pe::Bytes& image, const ConfigBlock& block, const ShipRequest& ship);
// The checksum over the whole file, block included, once nothing else changes.
void finishImage(pe::Bytes& image);

// What dump prints besides the block: lines for [pack] and a whole [resources] table. The icon
// is written into extractDir when one is given.
bool shipToToml(const pe::Bytes& image, const ConfigBlock& block,
                const std::optional<std::filesystem::path>& extractDir, std::string& packLines,
                std::string& resourcesTable, std::string& error);
// Adds the [pack] lines and the [resources] table to a dump's TOML.
std::string withShipTables(std::string toml, const std::string& packLines, const std::string& resourcesTable);

// Schema properties and key reference rows of [resources], [installer] and [pack] subsystem.
std::string resourcesSchema();
std::string installerSchema();
// The keys above as a Markdown table, or as the plain text of `pelto-pack keys`.
void writeShipKeyReference(std::ostream& out, bool markdown);

// The WiX source of an MSI that lays out the executable and [installer] files and registers the
// service through the executable's own verbs; false with `error` when something is missing.
bool wixSource(const ShipRequest& ship, const ConfigBlock& block, const std::filesystem::path& exe,
               const std::filesystem::path& sourceFolder, std::string& wxs, std::string& error);
// pelto-pack msi CONFIG --exe EXE -o OUT.msi: writes OUT.wxs and builds it with wixl; "" or what
// is wrong (a usage error starts with "usage").
std::string buildMsi(const std::vector<std::string>& args);

}  // namespace pelto::pack
