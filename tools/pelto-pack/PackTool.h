#pragma once
// pelto-pack: turns a TOML description of a service into a launcher copy carrying its
// configuration block, and reads such a block back as the same TOML.
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "Resources.h"
#include "launcher/ConfigBlock.h"

namespace pelto::pack {

// Exit codes of the tool.
constexpr int ExitOk = 0;
constexpr int ExitBadInput = 2;
constexpr int ExitUsage = 2;  // a wrong command line is bad input too

// Paths and UTF-8 text (C++20 spells UTF-8 paths with char8_t).
inline std::string pathText(const std::filesystem::path& p) {
  std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}
inline std::string genericPathText(const std::filesystem::path& p) {
  std::u8string s = p.generic_u8string();
  return std::string(s.begin(), s.end());
}
inline std::filesystem::path pathFromText(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Runs the tool on its arguments (without the program name). ownPath is the tool's own
// executable, next to which the launcher is looked for when --launcher is not given.
int runPackTool(const std::vector<std::string>& args, const std::filesystem::path& ownPath, std::ostream& out,
                std::ostream& err);

// The name of the Java runtime library in the launcher's temporary folder.
constexpr std::string_view RuntimeJarName = "pelto-runtime.jar";

// What the [pack] table asks of the build beyond the block itself: the pelto flavour includes
// the runtime library by default.
struct PackRequest {
  bool includeRuntime = false;
  std::optional<std::filesystem::path> runtimeJar;  // absolute, or empty: look beside the tools
  std::vector<std::filesystem::path> inputs;        // the included files' sources
  ShipRequest ship;                                 // subsystem, [resources], [installer]
};

// Reads a TOML configuration into a block; on bad input returns false with "FILE:LINE: text".
bool blockFromToml(const std::filesystem::path& configPath, ConfigBlock& block, std::string& error,
                   PackRequest* request = nullptr);
// Prints a block as the TOML that builds it again. Included files are written below
// extractDir when one is given (and then referenced as sources), else listed by name only.
bool blockToToml(const ConfigBlock& block, const std::optional<std::filesystem::path>& extractDir,
                 std::ostream& out, std::string& error);

// The JSON Schema of the configuration, the key reference (Markdown) and a starter
// configuration that builds as it stands; all three come from the one key table.
void writeJsonSchema(std::ostream& out);
void writeKeyReference(std::ostream& out);
void writeKeyText(std::ostream& out);
// file: the name the configuration is written to, used in its hints.
std::string starterToml(const std::string& name, const std::string& mainClass, const std::string& file);

// Windows-1252, the ANSI code page the string table is written in. toCp1252 fails on a
// character the code page cannot hold and names it in *bad.
std::optional<std::string> toCp1252(std::string_view utf8, char32_t* bad = nullptr);
std::string fromCp1252(std::string_view text);

}  // namespace pelto::pack
