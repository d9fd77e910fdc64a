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

std::u16string quoteArgument(std::u16string_view argument) {
  std::u16string q;
  q.reserve(argument.size() + 2);
  char16_t quote = (!argument.empty() && argument.front() == u'"') ? u'\'' : u'"';
  q.push_back(quote);
  for (char16_t c : argument) {
    if (c == quote) {
      q.push_back(quote);
      quote = quote == u'"' ? u'\'' : u'"';
      q.push_back(quote);
    }
    q.push_back(c);
  }
  q.push_back(quote);
  return q;
}

}  // namespace pelto
