#include "launcher/CommandLine.h"

namespace pelto {

std::u16string ServiceName;
bool ServiceMode = false;
bool NoRedirect = false;

void splitCommandLine(std::u16string_view text, std::vector<std::u16string>& out) {
  splitCommandLineT<char16_t>(text, out);
}

void splitCommandLine(std::string_view text, std::vector<std::string>& out) {
  splitCommandLineT<char>(text, out);
}

}  // namespace pelto
