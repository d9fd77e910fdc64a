// Narrow text on Windows is in the code page of the file functions.
#include <windows.h>

#include "env/TextConv.h"

namespace pelto {
namespace {

UINT fileCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

std::u16string toWide(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return asU(out);
}

}  // namespace

std::u16string narrowToWide(std::string_view text) { return toWide(fileCodePage(), text); }

std::u16string ansiToWide(std::string_view text) { return toWide(CP_ACP, text); }

std::string wideToNarrow(std::u16string_view text, bool* lossy) {
  if (text.empty()) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(text.data());
  int len = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  UINT cp = fileCodePage();
  int n = WideCharToMultiByte(cp, 0, w, len, nullptr, 0, nullptr, &usedDefault);
  if (n <= 0) {
    if (lossy) *lossy = true;
    return {};
  }
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, w, len, out.data(), n, nullptr, &usedDefault);
  if (usedDefault && lossy) *lossy = true;
  return out;
}

}  // namespace pelto
