// The rules for the names of the included files; no file system involved.
#include <array>
#include <cctype>
#include <string>

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
  if (stem.size() < 4 || (stem.rfind("com", 0) != 0 && stem.rfind("lpt", 0) != 0)) return false;
  std::string_view digit = std::string_view(stem).substr(3);
  if (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') return true;
  // Windows takes the superscript digits as device numbers too: "COM¹" is a port. Both the
  // Windows-1252 bytes of the string table and UTF-8 are looked at.
  for (std::string_view superscript : {"\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"})
    if (digit == superscript) return true;
  return false;
}

// Simple case folding for the scripts a file name is likely written in (Latin-1 Supplement,
// Latin Extended-A, Greek and Cyrillic); Windows compares names through its upper-case table,
// under which each pair folded here is one name.
char16_t foldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c == 0xB5) return 0x3BC;  // micro sign, upper case Greek mu
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  if (c == 0x178) return 0xFF;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return static_cast<char16_t>(c | 1);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
    return static_cast<char16_t>(c % 2 ? c + 1 : c);
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 37);
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 63);
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
  if (c == 0x3C2) return 0x3C3;  // final sigma
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF)) return static_cast<char16_t>(c | 1);
  return c;
}

std::u16string foldedName(std::u16string_view name) {
  std::u16string out;
  for (char16_t c : name) out += c == u'/' ? u'\\' : foldCase(c);
  return out + u'\\';
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

bool includedNamesClash(std::u16string_view a, std::u16string_view b) {
  std::u16string x = foldedName(a), y = foldedName(b);
  return x.starts_with(y) || y.starts_with(x);
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
