// Variable replacement on arbitrary text, values, environment and room.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "jvm/Expand.h"

namespace {

// Pieces of the input separated by 0xFFFF code units.
std::u16string take(std::u16string& rest) {
  std::size_t cut = rest.find(u'\xFFFF');
  std::u16string piece = rest.substr(0, cut);
  rest = cut == std::u16string::npos ? std::u16string() : rest.substr(cut + 1);
  return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::size_t room = data[0] | (data[1] & 0x3f) << 8;  // up to 16383, 0 included
  std::u16string rest;
  for (std::size_t i = 2; i + 1 < size; i += 2)
    rest.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  pelto::ExpansionValues values;
  std::u16string text = take(rest);
  values.executableDirectory = take(rest);
  values.userTempDirectory = take(rest);
  values.useNarrowUserTemp = !values.userTempDirectory.empty() && values.userTempDirectory[0] & 1;
  std::u16string narrowSource = take(rest);
  values.launcherTempDir.assign(narrowSource.begin(), narrowSource.end());  // low bytes only
  while (!rest.empty()) values.environment.push_back(take(rest));

  pelto::expandWith(text, values, room);
  if (text.size() >= (room == 0 ? 1 : room)) std::abort();  // never past the room

  std::string narrow(reinterpret_cast<const char*>(data) + 2, size - 2);
  pelto::ExpansionValuesNarrow nv;
  nv.environment = {"A=${B}", "B=${A}${A}", "=x"};
  pelto::expandWith(narrow, nv, room);
  if (narrow.size() >= (room == 0 ? 1 : room)) std::abort();
  return 0;
}
