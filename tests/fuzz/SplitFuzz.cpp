// The command-line splitter on arbitrary UTF-16 text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  std::vector<std::u16string> args;
  pelto::splitCommandLine(text, args);
  // Splitting only drops separators and quotes: it never invents text.
  std::size_t total = 0;
  for (const auto& a : args) total += a.size();
  if (total > text.size()) std::abort();
  std::string narrow(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> nargs;
  pelto::splitCommandLine(narrow, nargs);
  return 0;
}
