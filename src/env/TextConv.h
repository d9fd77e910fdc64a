#pragma once
// Narrow and wide text. Narrow texts are in the code page of the file functions (ANSI, or
// OEM when the file functions use it); wide texts are UTF-16.
#include <string>
#include <string_view>

namespace pelto {

// Narrow to wide in the file functions' code page (queried at every call). Never fails; an
// undecodable byte becomes U+FFFD. Unbounded: callers cut the result to their room.
std::u16string narrowToWide(std::string_view text);

// Wide to narrow in the file functions' code page, without best-fit mapping (a best fit would
// name a different file). A character without a mapping becomes "?" and sets *lossy (when
// given) to true; a failed conversion gives "" and sets it too; *lossy is left alone otherwise,
// so callers set it to false first.
std::string wideToNarrow(std::u16string_view text, bool* lossy = nullptr);

// The conversion the C runtime's mbstowcs would make. We use the ANSI code page rather than
// the "C" locale's byte-for-code-unit mapping, which corrupts every non-ASCII character.
std::u16string ansiToWide(std::string_view text);

// UTF-8 <-> UTF-16, for the log file, JSON records and the pack tool. Invalid input becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);
std::u16string utf8ToUtf16(std::string_view text);

// Returns the text cut to at most room-1 code units (the NUL takes the last place) and tells
// whether it was cut. Every copy into a fixed room goes through one of these.
template <class S>
bool cutToRoom(S& text, std::size_t room) {
  if (room == 0) {
    bool cut = !text.empty();
    text.clear();
    return cut;
  }
  if (text.size() <= room - 1) return false;
  text.resize(room - 1);
  return true;
}

}  // namespace pelto

#ifdef _WIN32
#include <string>
namespace pelto {
// At the Windows API boundary the UTF-16 texts are viewed as wchar_t (16 bits there).
inline std::wstring asW(std::u16string_view s) {
  return std::wstring(s.begin(), s.end());
}
inline std::u16string asU(std::wstring_view s) {
  return std::u16string(s.begin(), s.end());
}
inline const wchar_t* wptr(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}

// wideToNarrow in a given code page. Code pages that refuse WC_NO_BEST_FIT_CHARS (symbol,
// ISO-2022, UTF-7 ...) convert without it; their losses are then not reported.
std::string wideToNarrowInCodePage(unsigned codePage, std::u16string_view text, bool* lossy);

// The 8.3 form of an existing path as the command interpreter prints it ("for %I ... %~sI");
// empty when it could not be obtained. Last resort for paths the code page cannot represent.
std::string shortPathViaShell(std::u16string_view path);
}  // namespace pelto
#endif
