// The rules for the names of the included files; no file system involved.
#include <array>
#include <cctype>

#include "env/Extract.h"

namespace pelto {
namespace {

bool isSeparator(char c) {
  return c == '\\' || c == '/';
}

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Windows opens these as devices in any directory, with or without an extension.
bool isDeviceName(std::string_view component) {
  std::string stem = lowerAscii(component.substr(0, component.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static constexpr std::array<std::string_view, 6> fixed = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  for (std::string_view d : fixed)
    if (stem == d) return true;
  if (stem.size() == 4 && (stem.rfind("com", 0) == 0 || stem.rfind("lpt", 0) == 0))
    return stem[3] >= '1' && stem[3] <= '9';
  return false;
}

// "." and "..", and the spellings Windows trims down to them ("...", ". .").
bool isDotsOnly(std::string_view component) {
  return component.find_first_not_of(". ") == std::string_view::npos;
}

// Windows drops a trailing dot or space, so "a.jar." would land on "a.jar"; the other
// characters here cannot be in a file name at all, and the launch would fail on them.
bool isUnusableComponent(std::string_view component) {
  if (component.back() == '.' || component.back() == ' ') return true;
  for (char c : component)
    if (static_cast<unsigned char>(c) < 32 || std::string_view("<>\"|?*;").find(c) != std::string_view::npos)
      return true;
  return false;
}

}  // namespace

std::vector<std::string> splitIncludedNames(std::string_view list) {
  std::vector<std::string> names;
  std::size_t p = 0;
  while ((p = list.find_first_not_of(';', p)) != std::string_view::npos) {
    std::size_t end = list.find(';', p);
    if (end == std::string_view::npos) end = list.size();
    names.emplace_back(list.substr(p, end - p));
    p = end;
  }
  return names;
}

bool isSafeIncludedName(std::string_view name) {
  // A colon is a drive ("C:x", "C:\x") or an alternate data stream ("a.jar:s"); neither stays
  // a plain file of the directory.
  if (name.empty() || name.find(':') != std::string_view::npos) return false;
  // The launch's own marker lives beside the included files.
  if (lowerAscii(name) == LaunchMarkerName) return false;
  std::size_t start = 0;
  while (true) {
    std::size_t end = start;
    while (end < name.size() && !isSeparator(name[end])) ++end;
    std::string_view component = name.substr(start, end - start);
    // An empty component is a leading separator (rooted), a doubled or a trailing one.
    if (component.empty() || isDotsOnly(component) || isDeviceName(component) ||
        isUnusableComponent(component))
      return false;
    if (end == name.size()) return true;
    start = end + 1;
  }
}

}  // namespace pelto
