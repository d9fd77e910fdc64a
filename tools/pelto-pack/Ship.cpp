// The configuration's [resources], [installer] and [pack] subsystem, and what build and dump do
// with them around the block.
#include "Ship.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "env/TextConv.h"

namespace pelto::pack {
namespace {

namespace fs = std::filesystem;
namespace cid = config_id;

constexpr std::size_t ResourceTextRoom = 256;
constexpr std::string_view Levels[] = {"asInvoker", "highestAvailable", "requireAdministrator"};
constexpr std::string_view Subsystems[] = {"console", "windowed"};

std::string blockString(const ConfigBlock& block, ConfigId id) {
  for (const auto& [key, value] : block.strings)
    if (key == id) return value;
  return "";
}

bool resourceValue(Reader& r, std::string_view key, const toml::node& v, const fs::path& base,
                   Resources& out) {
  std::string what = "resources." + std::string(key);
  if (key == "long-path-aware") {
    if (!v.is_boolean()) return r.fail(v.source(), what + " must be true or false");
    out.longPathAware = v.as_boolean()->get();
    return true;
  }
  if (key == "execution-level") return r.oneOf(v, what, Levels, out.executionLevel);
  const std::string* text = r.text(v, what);
  if (!text) return false;
  if (key == "icon") {
    fs::path path = pathFromText(*text);
    if (path.is_relative()) path = base / path;
    std::ifstream in(path, std::ios::binary);
    if (!in) return r.bad(v, what, *text, "cannot be read");
    out.icon.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::string why;
    if (!parseIcon(out.icon, why)) return r.bad(v, what, *text, "is not an icon file: " + why);
    return true;
  }
  if (key == "file-version" || key == "product-version") {
    std::optional<std::vector<std::uint16_t>> parts = versionParts(*text, 4);
    if (!parts || (key == "file-version" && parts->size() != 4))
      return r.bad(v, what, *text,
                   key == "file-version"
                       ? "is not four numbers from 0 to 65535 joined by dots, such as \"1.2.3.4\""
                       : "is not one to four numbers from 0 to 65535 joined by dots, such as \"1.2.3\"");
  } else if (std::u16string wide = utf8ToUtf16(*text); wide.size() > ResourceTextRoom) {
    return r.fits(v, what, *text, wide.size(), ResourceTextRoom);
  } else if (std::any_of(text->begin(), text->end(),
                         [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    return r.bad(v, what, *text, "holds a control character");
  }
  out.texts[std::string(key)] = *text;
  return true;
}

// A GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", braces optional; upper case with braces.
std::optional<std::string> guid(std::string text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    text[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
  }
  return "{" + text + "}";
}

}  // namespace

bool readSubsystem(Reader& r, const toml::node& node, ShipRequest& ship) {
  std::string value;
  if (!r.oneOf(node, "pack.subsystem", Subsystems, value)) return false;
  ship.subsystem = value == "console" ? pe::SubsystemConsole : pe::SubsystemWindowed;
  return true;
}

bool readResourcesTable(Reader& r, const toml::node& node, const fs::path& base, ShipRequest& ship) {
  const toml::table* t = r.table(node, "resources");
  if (!t) return false;
  Resources out;
  std::vector<std::string> names;
  for (const ResourceKey& k : resourceKeys()) names.emplace_back(k.key);
  for (auto&& [k, v] : *t) {
    if (std::find(names.begin(), names.end(), k.str()) == names.end())
      return r.fail(k.source(),
                    "unknown key \"resources." + std::string(k.str()) + "\"" + suggestion(k.str(), names));
    if (!resourceValue(r, k.str(), v, base, out)) return false;
  }
  ship.resources = std::move(out);
  return true;
}

// The [installer] keys: what the reader accepts, the schema and the key reference come from here.
struct InstallerKey {
  std::string_view key, schema, help;
};
constexpr InstallerKey InstallerKeys[] = {
    {"upgrade-code", R"({"type": "string"})",
     "GUID of the application, the same for every version; required for `pelto-pack msi`"},
    {"folder", R"({"type": "string", "minLength": 1})",
     "folder under Program Files (64-bit) (default the product name)"},
    {"files", R"({"type": "array", "items": {"type": "string"}})",
     "files laid beside the executable, relative to the configuration; a folder ends with \"/\" and is taken "
     "whole"},
};

bool readInstallerTable(Reader& r, const toml::node& node, const fs::path& base, ShipRequest& ship) {
  const toml::table* t = r.table(node, "installer");
  if (!t) return false;
  Installer out;
  out.line = t->source().begin.line;
  for (auto&& [k, v] : *t) {
    std::string what = "installer." + std::string(k.str());
    if (k.str() == "upgrade-code") {
      const std::string* text = r.text(v, what);
      if (!text) return false;
      std::optional<std::string> g = guid(*text);
      if (!g)
        return r.bad(v, what, *text, "is not a GUID such as \"{8E1D2C4A-0B6F-4C3E-9A57-3D2B1E0F6A88}\"");
      out.upgradeCode = *g;
    } else if (k.str() == "folder") {
      const std::string* text = r.text(v, what);
      if (!text) return false;
      if (text->empty() || text->find_first_of("<>:\"|?*/\\") != std::string::npos || text->back() == '.' ||
          text->back() == ' ')
        return r.bad(v, what, *text,
                     "is not one folder name (no slashes, none of <>:\"|?*, no trailing dot or space)");
      out.folder = *text;
    } else if (k.str() == "files") {
      const toml::array* a = v.as_array();
      if (!a) return r.fail(v.source(), what + " must be an array of paths");
      for (const toml::node& item : *a) {
        const std::string* text = r.text(item, what);
        if (!text) return false;
        fs::path p = pathFromText(*text);
        std::error_code ec;
        bool folder = !text->empty() && text->back() == '/';
        if (p.is_absolute() || text->find("..") != std::string::npos || text->empty())
          return r.bad(item, what, *text, "is not a path inside the configuration's folder");
        if (folder ? !fs::is_directory(base / p, ec) : !fs::is_regular_file(base / p, ec))
          return r.bad(item, what, *text,
                       folder ? "is not a folder" : "is not a file (a folder ends with \"/\")");
        out.files.push_back(base / p);
      }
    } else {
      std::vector<std::string> names;
      for (const InstallerKey& key : InstallerKeys) names.emplace_back(key.key);
      return r.fail(k.source(), "unknown key \"" + what + "\"" + suggestion(k.str(), names));
    }
  }
  ship.installer = std::move(out);
  return true;
}

std::string productNameOf(const ConfigBlock& block) {
  std::string name = blockString(block, cid::ServiceName);
  if (name.empty()) name = blockString(block, cid::MainClass);
  return name.empty() ? "Java application" : fromCp1252(name);
}

bool windowedBlock(const ConfigBlock& block) {
  return blockString(block, cid::ExecutableType) == "1";
}

std::string removeSignature(pe::Bytes& image, std::uint64_t sectionsEnd) {
  std::string why;
  std::optional<pe::Layout> layout = pe::readLayout(image, why);
  if (!layout || pe::directory(image, *layout, pe::CertificateDirectory).size == 0) return "";
  if (pe::removeCertificateTable(image, *layout, sectionsEnd, why)) return "";
  return "is signed, but " + why + "; remove the signature with osslsigncode remove-signature";
}

std::string shipImage(pe::Bytes& image, const ConfigBlock& block, const ShipRequest& ship) {
  std::string why;
  std::optional<pe::Layout> layout = pe::readLayout(image, why);
  if (!layout) return why;
  if (pe::directory(image, *layout, pe::ResourceDirectory).size != 0)
    return "carries resources of its own already; pack a launcher built without them";
  std::uint16_t subsystem = windowedBlock(block) ? pe::SubsystemWindowed : pe::SubsystemConsole;
  pe::setSubsystem(image, *layout, ship.subsystem.value_or(subsystem));
  Resources full = withDefaults(ship.resources.value_or(Resources{}), productNameOf(block));
  pe::Bytes section = resourceSection(resourceEntries(full), pe::nextSectionAddress(*layout));
  if (!pe::appendSection(image, *layout, ".rsrc\0\0\0", section, pe::ResourceDirectory, why)) return why;
  return "";
}

void finishImage(pe::Bytes& image) {
  std::string why;
  if (std::optional<pe::Layout> layout = pe::readLayout(image, why)) pe::writeChecksum(image, *layout);
}

bool shipToToml(const pe::Bytes& image, const ConfigBlock& block, const std::optional<fs::path>& extractDir,
                std::string& packLines, std::string& resourcesTable, std::string& error) {
  std::string why;
  std::optional<pe::Layout> layout = pe::readLayout(image, why);
  if (!layout) return true;  // dump already read the block; an odd header only hides these tables
  std::uint16_t subsystem = pe::subsystem(image, *layout);
  std::uint16_t expected = windowedBlock(block) ? pe::SubsystemWindowed : pe::SubsystemConsole;
  bool packed = pe::directory(image, *layout, pe::ResourceDirectory).size != 0;
  if (packed && subsystem != expected)
    packLines = std::string("subsystem = ") +
                (subsystem == pe::SubsystemConsole ? "\"console\"" : "\"windowed\"") + "\n";
  std::optional<Resources> found = readResources(image, *layout, why);
  if (!found) {
    if (!why.empty()) error = "the resources cannot be read: " + why;
    return why.empty();
  }
  Resources given = withoutDefaults(*found, productNameOf(block));
  std::ostringstream t;
  if (!given.icon.empty()) {
    if (extractDir) {
      fs::path file = *extractDir / "resources.ico";
      std::error_code ec;
      fs::create_directories(*extractDir, ec);
      // The included files were written there first; one of them may have the icon's name.
      for (const IncludedFile& f : block.files)
        if (std::string n = f.name;
            std::transform(n.begin(), n.end(), n.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); }) != n.end() &&
            n == "resources.ico") {
          error = pathText(file) + ": an included file has the name the icon is written under";
          return false;
        }
      if (std::string failed =
              writeNewFile(file, std::vector<unsigned char>(given.icon.begin(), given.icon.end()));
          !failed.empty()) {
        error = pathText(file) + ": cannot be written: " + failed;
        return false;
      }
      t << "icon = " << quote(genericPathText(file)) << "\n";
    } else {
      t << "# icon: " << given.icon.size() << " bytes; dump with --extract DIR to write the icon file\n";
    }
  }
  for (const ResourceKey& k : resourceKeys()) {
    auto it = given.texts.find(k.key);
    if (it != given.texts.end()) t << k.key << " = " << quote(it->second) << "\n";
  }
  if (!given.executionLevel.empty()) t << "execution-level = " << quote(given.executionLevel) << "\n";
  if (given.longPathAware) t << "long-path-aware = true\n";
  if (!t.str().empty()) resourcesTable = "[resources]\n" + t.str();
  return true;
}

std::string withShipTables(std::string toml, const std::string& packLines,
                           const std::string& resourcesTable) {
  if (!packLines.empty()) {
    std::size_t at = toml.starts_with("[pack]\n") ? 0 : toml.find("\n[pack]\n");
    if (at == std::string::npos)
      toml += (toml.empty() ? "" : "\n") + std::string("[pack]\n") + packLines;
    else
      toml.insert(toml.find('\n', at + 1) + 1, packLines);
  }
  if (!resourcesTable.empty()) toml += (toml.empty() ? "" : "\n") + resourcesTable;
  return toml;
}

std::string resourcesSchema() {
  std::string p;
  for (const ResourceKey& k : resourceKeys()) {
    std::string type =
        k.key == "long-path-aware" ? R"({"type": "boolean"})"
        : k.key == "execution-level"
            ? R"({"enum": ["asInvoker", "highestAvailable", "requireAdministrator"]})"
        : k.key == "file-version" ? R"({"type": "string", "pattern": "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$"})"
        : k.key == "product-version" ? R"({"type": "string", "pattern": "^[0-9]+(\\.[0-9]+){0,3}$"})"
                                     : R"({"type": "string", "minLength": 1})";
    p += (p.empty() ? "" : ", ") + std::string("\"") + std::string(k.key) + "\": " + type;
  }
  return "{\"type\": \"object\", \"additionalProperties\": false, \"properties\": {" + p + "}}";
}

std::string installerSchema() {
  std::string p;
  for (const InstallerKey& k : InstallerKeys)
    p += (p.empty() ? "" : ", ") + std::string("\"") + std::string(k.key) + "\": " + std::string(k.schema);
  return "{\"type\": \"object\", \"additionalProperties\": false, \"properties\": {" + p + "}}";
}

void writeShipKeyReference(std::ostream& out, bool markdown) {
  auto row = [&out, markdown](std::string_view table, std::string_view key, std::string_view help) {
    if (markdown)
      out << "| `" << table << "." << key << "` | " << help << " |\n";
    else
      out << table << "." << key << "\n    " << help << "\n";
  };
  out << (markdown ? "\n| Key (not in the block) | Value |\n|---|---|\n"
                   : "\nKeys not stored in the block:\n");
  row("pack", "subsystem",
      "\"console\" (default for services and console applications) or \"windowed\" (default for "
      "`application.windowed = true`)");
  for (const ResourceKey& k : resourceKeys()) row("resources", k.key, k.help);
  for (const InstallerKey& k : InstallerKeys) row("installer", k.key, k.help);
}

}  // namespace pelto::pack
