#pragma once
// Options files, directories and environment served from memory for the option tests.
#include <map>
#include <set>
#include <string>

#include "env/PathText.h"
#include "jre/Version.h"
#include "jvm/JvmOptions.h"
#include "launcher/Config.h"
#include "support/ScopedConfig.h"

namespace pelto::test {

struct MemoryOptionFiles {
  std::map<std::u16string, std::string> files;
  std::u16string executableDirectory = u"C:\\App\\";
  std::u16string defaultFile;  // served by openDefaultOptionsFile when set
  OptionSystem system() const {
    OptionSystem s;
    s.open = [this](std::u16string_view path) -> std::optional<OptionsFile> {
      auto it = files.find(std::u16string(path));
      if (it == files.end()) return std::nullopt;
      return OptionsFile{&it->second, it->second};
    };
    s.resolve = [this](std::u16string_view path, std::u16string_view base) {
      if (!isRelativePath(path)) return std::u16string(path);
      return (base.empty() ? executableDirectory : directoryPart(base)) + std::u16string(path);
    };
    s.majorVersion = [](std::string_view text) { return majorJavaVersion(text); };
    return s;
  }
};

// Paths that exist, directory listings in a given order, environment variables.
struct MemoryAssembly {
  MemoryOptionFiles optionFiles;
  std::set<std::string> existing;
  std::map<std::string, std::vector<std::string>> listings;  // pattern -> names
  std::map<std::string, EnvironmentValue> environment;
  AssemblySystem system() const {
    AssemblySystem s;
    s.options = optionFiles.system();
    s.openDefaultOptionsFile = [this]() -> std::optional<OptionsFile> {
      if (optionFiles.defaultFile.empty()) return std::nullopt;
      return optionFiles.system().open(optionFiles.defaultFile);
    };
    s.resolve = [](std::string_view p) {
      return isRelativePath(p) ? "C:\\App\\" + std::string(p) : std::string(p);
    };
    s.exists = [this](std::string_view p) { return existing.count(std::string(p)) > 0; };
    s.fullPath = s.resolve;
    s.list = [this](std::string_view pattern) {
      auto it = listings.find(std::string(pattern));
      return it == listings.end() ? std::vector<std::string>() : it->second;
    };
    s.environment = [this](std::string_view name) {
      auto it = environment.find(std::string(name));
      return it == environment.end() ? EnvironmentValue{} : it->second;
    };
    return s;
  }
};

}  // namespace pelto::test
