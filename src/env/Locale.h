#pragma once
// The user's locale in the Java runtime's naming ("de_CH", "iw_IL", "no_NO_NY").
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pelto {

struct LocaleRow {
  std::uint16_t id;  // a primary language number (< 0x400) or a full language identifier
  const char* name;  // 2, 5 or 8 characters
};
// Ascending by id, each id once.
extern const std::span<const LocaleRow> LocaleTable;

// The name for a language identifier: the row with exactly that id, else the row of its
// primary language (lower 10 bits), else "en". Logs "language/country is %S".
std::string localeNameForLanguageId(std::uint16_t languageId);
// The name for the current user's interface language (Windows) or en_US (host).
std::string detectLocale();
// language = the first two characters; country = characters 4 and 5 of a five-character name,
// left untouched otherwise (no country is passed on for "en" or "no_NO_NY").
void splitLocaleName(std::string_view name, std::string& language, std::string& country);

}  // namespace pelto
