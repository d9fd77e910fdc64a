// The options file reader on arbitrary bytes, with includes served from memory: the input is
// split at 0x01 bytes into the file read first (C:\App\f0.vmoptions) and files f1, f2, ...
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "env/PathText.h"
#include "jvm/VmOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::map<std::u16string, std::string> files;
  std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t pos = 0;
  for (int n = 0; pos <= input.size(); ++n) {
    std::size_t cut = input.find('\x01', pos);
    if (cut == std::string::npos) cut = input.size();
    std::string name = "C:\\App\\f" + std::to_string(n) + ".vmoptions";
    files[std::u16string(name.begin(), name.end())] = input.substr(pos, cut - pos);
    pos = cut + 1;
  }
  pelto::OptionSystem system;
  system.open = [&](std::u16string_view path) -> std::optional<pelto::OptionsFile> {
    auto it = files.find(std::u16string(path));
    if (it == files.end()) return std::nullopt;
    return pelto::OptionsFile{&it->second, it->second};
  };
  system.resolve = [](std::u16string_view path, std::u16string_view base) {
    if (!pelto::isRelativePath(path)) return std::u16string(path);
    return (base.empty() ? std::u16string(u"C:\\App\\") : pelto::directoryPart(base)) + std::u16string(path);
  };
  system.majorVersion = [](std::string_view) { return 11; };

  pelto::JvmOptionList list;
  pelto::ClassPathOverrides overrides;
  pelto::OptionGathering gathering{list, overrides, system, {}};
  pelto::readOptionsFile(u"C:\\App\\f0.vmoptions", system.open(u"C:\\App\\f0.vmoptions"), gathering);
  if (!gathering.openFiles.empty()) std::abort();  // the include chain unwinds
  for (const auto& option : list) {
    if (option.empty() || option.front() == ' ' || option.back() == ' ') std::abort();  // trimmed, not empty
    if (option.find('\n') != std::string::npos) std::abort();
  }
  return 0;
}
