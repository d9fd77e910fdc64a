#pragma once
// The user's locale in the Java runtime's naming ("de_CH", "iw_IL", "no_NO_NY").
#include <cstdint>
#include <string>

namespace pelto {

// The Java locale name for a Windows language identifier, by the 215-row table; "" when unknown.
std::string localeNameForLanguageId(std::uint16_t languageId);
// The name for the current user (Windows) or a fixed one (host); at most 8 characters.
std::string detectLocale();
// Sets LocaleLanguage and LocaleCountry from a detected name.
void splitLocaleName(const std::string& name, std::string& language, std::string& country);

}  // namespace pelto
