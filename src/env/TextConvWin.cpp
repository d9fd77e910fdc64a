// Narrow text on Windows is in the code page of the file functions.
#include <windows.h>

#include "env/TextConv.h"

namespace pelto {
namespace {

// Asked at every conversion: SetFileApisToOEM may switch it at any time.
UINT fileCodePage() {
  return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

std::u16string toWide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return asU(out);
}

}  // namespace

std::u16string narrowToWide(std::string_view text) {
  return toWide(fileCodePage(), text);
}

std::u16string ansiToWide(std::string_view text) {
  return toWide(CP_ACP, text);
}

std::string wideToNarrowInCodePage(unsigned codePage, std::u16string_view text, bool* lossy) {
  if (text.empty()) return {};
  // The terminator is converted with the text (length -1), as the sizes below count it.
  std::wstring source = asW(text);
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  const char* defaultChar = "?";
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultOut = &usedDefault;
  int n = WideCharToMultiByte(codePage, flags, source.c_str(), -1, nullptr, 0, defaultChar, nullptr);
  if (n == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    // These code pages also refuse a default character and its report: asking for the report
    // would make every conversion fail.
    flags = 0;
    defaultChar = nullptr;
    usedDefaultOut = nullptr;
    n = WideCharToMultiByte(codePage, flags, source.c_str(), -1, nullptr, 0, nullptr, nullptr);
  }
  if (n <= 0) {
    if (lossy) *lossy = true;
    return {};
  }
  std::string out(static_cast<std::size_t>(n), '\0');
  n = WideCharToMultiByte(codePage, flags, source.c_str(), -1, out.data(), n, defaultChar, usedDefaultOut);
  if (n <= 0) {
    if (lossy) *lossy = true;
    return {};
  }
  out.resize(static_cast<std::size_t>(n) - 1);
  if (usedDefault && lossy) *lossy = true;
  return out;
}

std::string wideToNarrow(std::u16string_view text, bool* lossy) {
  return wideToNarrowInCodePage(fileCodePage(), text, lossy);
}

}  // namespace pelto
