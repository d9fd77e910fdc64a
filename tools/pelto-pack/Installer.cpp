// An MSI from the configuration: a WiX source for wixl that lays the executable and the
// [installer] files out under Program Files, and custom actions that run the executable's own
// /install and /uninstall, which know the quoted image path, account, recovery and event source
// that the installer's service tables cannot express.
#include <algorithm>
#include <fstream>
#include <sstream>

#include "Ship.h"

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace pelto::pack {
namespace {

namespace fs = std::filesystem;
namespace cid = config_id;

std::string xml(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

struct WixWriter {
  fs::path base;  // wixl reads sources relative to the folder of the WiX source
  std::ostringstream dirs, refs;
  int next = 1;
  void file(const fs::path& source, const std::string& indent) {
    int n = next++;
    dirs << indent << "<Component Id=\"C" << n << "\" Guid=\"*\" Win64=\"yes\"><File Id=\"F" << n
         << "\" Name=\"" << xml(pathText(source.filename())) << "\" Source=\""
         << xml(genericPathText(fs::proximate(source, base))) << "\" KeyPath=\"yes\"/></Component>\n";
    refs << "      <ComponentRef Id=\"C" << n << "\"/>\n";
  }
  // A folder whole, its entries sorted so that the same tree gives the same source.
  void folder(fs::path dir, const std::string& indent) {
    if (dir.filename().empty()) dir = dir.parent_path();  // "lib/"
    std::vector<fs::directory_entry> entries(fs::directory_iterator(dir), fs::directory_iterator{});
    std::sort(entries.begin(), entries.end());
    dirs << indent << "<Directory Id=\"D" << next++ << "\" Name=\"" << xml(pathText(dir.filename()))
         << "\">\n";
    for (const fs::directory_entry& e : entries) {
      if (e.is_symlink()) continue;  // a link may point anywhere on the build machine
      if (e.is_directory())
        folder(e.path(), indent + "  ");
      else if (e.is_regular_file())
        file(e.path(), indent + "  ");
    }
    dirs << indent << "</Directory>\n";
  }
};

std::string blockString(const ConfigBlock& block, ConfigId id) {
  for (const auto& [key, value] : block.strings)
    if (key == id) return value;
  return "";
}

}  // namespace

bool wixSource(const ShipRequest& ship, const ConfigBlock& block, const fs::path& exe,
               const fs::path& sourceFolder, std::string& wxs, std::string& error) {
  if (!ship.installer || ship.installer->upgradeCode.empty()) {
    error = "an MSI needs [installer] upgrade-code, a GUID that stays the same for every version";
    return false;
  }
  if (blockString(block, cid::ServiceName).empty()) {
    error = "an MSI installs a service: set [service] name";
    return false;
  }
  Resources full = withDefaults(ship.resources.value_or(Resources{}), productNameOf(block));
  const std::string& version = full.texts["product-version"];
  std::optional<std::vector<std::uint16_t>> parts = versionParts(version, 4);
  if (!ship.resources || !ship.resources->texts.count("product-version") || !parts || (*parts)[0] > 255 ||
      (parts->size() > 1 && (*parts)[1] > 255)) {
    error =
        "an MSI takes its version from [resources] product-version, which must be set, with the first two "
        "numbers up to 255 (\"" +
        version + "\")";
    return false;
  }
  const Installer& in = *ship.installer;
  std::string name = full.texts["product-name"];
  std::string company = full.texts.count("company") ? full.texts["company"] : name;
  std::string folder = in.folder.empty() ? name : in.folder;
  WixWriter w;
  w.base = fs::absolute(sourceFolder);
  std::string indent = "          ";
  w.file(exe, indent);
  for (const fs::path& f : in.files) {
    if (fs::is_directory(f))
      w.folder(f, indent);
    else
      w.file(f, indent);
  }
  std::string start =
      blockString(block, cid::ExecutableType) == "4" ? "auto" : blockString(block, cid::ServiceStartType);
  bool starts = start == "auto" || start == "delayed-auto";
  std::ostringstream x;
  x << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    << "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
    << "  <Product Id=\"*\" Name=\"" << xml(name) << "\" Language=\"1033\" Version=\"" << xml(version)
    << "\" Manufacturer=\"" << xml(company) << "\" UpgradeCode=\"" << in.upgradeCode << "\">\n"
    << "    <Package InstallerVersion=\"500\" Compressed=\"yes\" InstallScope=\"perMachine\"/>\n"
    // The old version goes first, its service with it, before the new one installs its own.
    << "    <MajorUpgrade DowngradeErrorMessage=\"A newer version of " << xml(name) << " is installed.\"/>\n"
    << "    <Media Id=\"1\" Cabinet=\"files.cab\" EmbedCab=\"yes\"/>\n"
    << "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n"
    << "      <Directory Id=\"ProgramFiles64Folder\">\n"
    << "        <Directory Id=\"INSTALLDIR\" Name=\"" << xml(folder) << "\">\n"
    << w.dirs.str() << "        </Directory>\n      </Directory>\n    </Directory>\n"
    << "    <Feature Id=\"Complete\" Level=\"1\">\n"
    << w.refs.str() << "    </Feature>\n";
  // Deferred and not impersonated: they run as the installer service, with the rights /install needs.
  for (const char* verb : {"install", "start", "stop", "uninstall"})
    x << "    <CustomAction Id=\"Service_" << verb << "\" FileKey=\"F1\" ExeCommand=\"/" << verb
      << "\" Execute=\"deferred\" Impersonate=\"no\" Return=\""
      << (std::string_view(verb) == "install" ? "check" : "ignore") << "\"/>\n";
  // Fixed places: the service stops and goes before its files do, and comes after they are laid.
  x << "    <InstallExecuteSequence>\n"
    << "      <Custom Action=\"Service_stop\" Sequence=\"3401\">REMOVE=\"ALL\"</Custom>\n"
    << "      <Custom Action=\"Service_uninstall\" Sequence=\"3402\">REMOVE=\"ALL\"</Custom>\n"
    << "      <Custom Action=\"Service_install\" Sequence=\"4001\">NOT REMOVE=\"ALL\"</Custom>\n";
  if (starts) x << "      <Custom Action=\"Service_start\" Sequence=\"4002\">NOT REMOVE=\"ALL\"</Custom>\n";
  x << "    </InstallExecuteSequence>\n  </Product>\n</Wix>\n";
  wxs = x.str();
  return true;
}

std::string buildMsi(const std::vector<std::string>& args) {
  std::optional<std::string> config, exe, output;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if ((args[i] == "--exe" || args[i] == "-o") && i + 1 < args.size()) {
      std::optional<std::string>& option = args[i] == "--exe" ? exe : output;
      option = args[++i];
    } else if (!config && !args[i].starts_with("-"))
      config = args[i];
    else
      return "usage";
  }
  if (!config || !exe || !output) return "usage";
  ConfigBlock block;
  PackRequest request;
  std::string error, wxs;
  if (!blockFromToml(pathFromText(*config), block, error, &request)) return error;
  fs::path exePath = fs::absolute(pathFromText(*exe));
  std::error_code ec;
  if (!fs::is_regular_file(exePath, ec)) return pathText(exePath) + ": executable does not exist";
  fs::path msi = fs::absolute(pathFromText(*output)), source = msi;
  source.replace_extension(".wxs");
  if (!wixSource(request.ship, block, exePath, source.parent_path(), wxs, error))
    return *config + ": " + error;
  {
    std::ofstream out(source, std::ios::binary | std::ios::trunc);
    out << wxs;
    if (!out) return pathText(source) + ": cannot be written";
  }
#ifdef _WIN32
  return pathText(source) + ": written; build it with wixl (msitools) or the WiX toolset";
#else
  // wixl is run without a shell: the paths go to it as they are.
  std::vector<std::string> argv{"wixl", "-a", "x64", "-o", pathText(msi), pathText(source)};
  std::vector<char*> raw;
  for (std::string& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "wixl", nullptr, nullptr, raw.data(), environ) != 0)
    return "wixl cannot be started; install msitools' wixl (scripts/bootstrap does)";
  int status = 0;
  if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return pathText(source) + ": wixl failed to build " + pathText(msi);
  return "";
#endif
}

}  // namespace pelto::pack
