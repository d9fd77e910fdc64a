#include "PackTool.h"

#include "env/TextConv.h"

namespace pelto::pack {
namespace {

// 0x80..0x9F; the five bytes Windows leaves undefined map to the C1 control of the same value,
// as MultiByteToWideChar does, so every byte round-trips.
constexpr char16_t High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                               0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                               0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                               0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::optional<std::string> toCp1252(std::string_view utf8, char32_t* bad) {
  std::u16string wide = utf8ToUtf16(utf8);
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char16_t c = wide[i];
    int byte = -1;
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      byte = c;
    } else {
      for (int k = 0; k < 32; ++k)
        if (High[k] == c) byte = 0x80 + k;
    }
    if (byte < 0) {
      if (bad) {
        *bad = c;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size())
          *bad = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(wide[i + 1]) - 0xDC00);
      }
      return std::nullopt;
    }
    out.push_back(static_cast<char>(byte));
  }
  return out;
}

std::string fromCp1252(std::string_view text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (char ch : text) {
    auto b = static_cast<unsigned char>(ch);
    wide.push_back(b >= 0x80 && b < 0xA0 ? High[b - 0x80] : char16_t(b));
  }
  return utf16ToUtf8(wide);
}

}  // namespace pelto::pack
