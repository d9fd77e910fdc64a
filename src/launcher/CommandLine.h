#pragma once
// The one command-line splitting rule, and the process-wide state of the entry point.
#include <string>
#include <string_view>
#include <vector>

namespace pelto {

// Appends the arguments of a command-line text (rules: only the space separates; single and
// double quotes group; no backslash escapes).
void splitCommandLine(std::u16string_view text, std::vector<std::u16string>& out);
void splitCommandLine(std::string_view text, std::vector<std::string>& out);

extern std::u16string ServiceName;  // at most ServiceNameRoom-1 code units
extern bool ServiceMode;            // on from the first instruction; off for the run verbs
extern bool NoRedirect;             // on for the verb "run"

constexpr const char16_t* RestartMarker = u"__qvx_restart";

}  // namespace pelto
