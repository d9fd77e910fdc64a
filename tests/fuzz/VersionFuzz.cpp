// Version parsing, bounds and ordering on arbitrary texts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "jre/Version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  // Up to four texts separated by NUL: a, b, lower bound, upper bound.
  std::string_view parts[4];
  for (auto& part : parts) {
    std::size_t cut = all.find('\0');
    part = all.substr(0, cut);
    all = cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1);
  }
  std::string_view a = parts[0], b = parts[1];
  pelto::VersionBounds bounds{pelto::parseJavaVersion(parts[2]), pelto::parseJavaVersion(parts[3])};
  (void)pelto::isVersionInRangeLenient(a, bounds);
  bool strict = pelto::isVersionAcceptable(a, bounds, true);
  // What the strict test admits the lenient one admits too.
  if (strict && !pelto::isVersionInRangeLenient(a, bounds)) std::abort();
  (void)pelto::majorJavaVersion(a);
  bool ab = pelto::isNewerVersion(a, b);
  bool ba = pelto::isNewerVersion(b, a);
  if (ab && ba) std::abort();
  if (pelto::isNewerVersion(a, a)) std::abort();
  return 0;
}
