// The narrow code page off Windows: Latin-1, one byte per code unit. Used only by the host
// build, so that the portable code runs under the sanitizers with a predictable mapping.
#include "env/TextConv.h"

namespace pelto {

std::u16string narrowToWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

std::u16string ansiToWide(std::string_view text) {
  return narrowToWide(text);
}

std::string wideToNarrow(std::u16string_view text, bool* lossy) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c > 0xFF) {
      out.push_back('?');
      if (lossy) *lossy = true;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

}  // namespace pelto
