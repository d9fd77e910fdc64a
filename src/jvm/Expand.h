#pragma once
// Launcher and environment variables in configured texts, replaced in place.
#include <cstddef>
#include <string>
#include <string_view>

namespace pelto {

// ansiSafe selects the ANSI-safe mode (paths that the narrow file functions can open).
// room is the caller's capacity in code units; a result that would not fit is cut and logged.
void expandVariables(std::u16string& text, bool ansiSafe, std::size_t room);
void expandVariablesNarrow(std::string& text, std::size_t room);
// Replaces every occurrence of variable with value; returns false when the result was cut.
bool replaceAll(std::u16string& text, std::u16string_view variable, std::u16string_view value, std::size_t room);
bool replaceAll(std::string& text, std::string_view variable, std::string_view value, std::size_t room);

}  // namespace pelto
