// Stand-in: the temporary directory from GetTempPathW, existence by attributes, full paths
// relative to the executable's directory.
#include <windows.h>

#include "env/Paths.h"
#include "env/TextConv.h"

namespace pelto {

std::string LauncherTempDir;

std::u16string getTempDirectory(bool) {
  wchar_t buf[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH) return {};
  return asU(std::wstring_view(buf, n));
}

bool pathExists(std::u16string_view path, std::uint64_t*) {
  return GetFileAttributesW(asW(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::u16string fullPath(std::u16string_view path, bool, bool) {
  std::wstring p = asW(path);
  if (!(p.size() >= 2 && p[1] == L':') && !(!p.empty() && (p[0] == L'\\' || p[0] == L'/'))) {
    wchar_t exe[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring dir(exe, n);
    dir.resize(dir.find_last_of(L'\\') + 1);
    p = dir + p;
  }
  wchar_t out[6000];
  DWORD n = GetFullPathNameW(p.c_str(), 6000, out, nullptr);
  if (n == 0 || n >= 6000) return asU(p);
  return asU(std::wstring_view(out, n));
}

}  // namespace pelto
