#pragma once
// Options files, directories and environment served from memory for the option tests.
#include <map>
#include <set>
#include <string>

#include "env/PathText.h"
#include "jvm/JvmOptions.h"
#include "launcher/Config.h"

namespace pelto::test {

// "1.8.0_45" -> 8, "11.0.2" -> 11, "" -> -1: the major version rule the launcher applies.
inline int testMajorVersion(std::string_view text) {
  auto number = [&](std::size_t& pos) {
    int n = 0;
    bool any = false;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      n = n * 10 + (text[pos++] - '0');
      any = true;
    }
    return any ? n : -1;
  };
  std::size_t pos = 0;
  int first = number(pos);
  if (first == 1 && pos < text.size() && text[pos] == '.') {
    ++pos;
    int second = number(pos);
    if (second >= 0) return second;
  }
  return first;
}

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
    s.majorVersion = testMajorVersion;
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
    s.resolve = [](std::string_view p) { return isRelativePath(p) ? "C:\\App\\" + std::string(p) : std::string(p); };
    s.exists = [this](std::string_view p) { return existing.count(std::string(p)) > 0; };
    s.fullPath = [](std::string_view p) { return isRelativePath(p) ? "C:\\App\\" + std::string(p) : std::string(p); };
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

// The configuration tables for one test, restored afterwards.
class ScopedConfig {
 public:
  ScopedConfig() : saved_(LauncherConfig) { LauncherConfig = {}; }
  ~ScopedConfig() { LauncherConfig = saved_; }
  ScopedConfig(const ScopedConfig&) = delete;
  ScopedConfig& operator=(const ScopedConfig&) = delete;
  void set(ConfigId id, std::string value) { LauncherConfig.strings[id] = std::move(value); }

 private:
  LauncherConfigTables saved_;
};

}  // namespace pelto::test
