#pragma once
// The runtime chosen for this launch, recorded once it is found.
#include <string>
#include <string_view>

namespace pelto {

// Narrow: the chosen java executable's directory followed by ".."; empty until chosen.
extern std::string JvmHome;
// The chosen runtime's version text.
extern std::string RuntimeVersionText;

void setChosenRuntime(std::string_view javaExe, std::string_view version);

}  // namespace pelto
