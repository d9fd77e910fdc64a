// The executable's own path and the path helpers on the file system.
#include <windows.h>

#include "env/Handles.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

constexpr DWORD Room = static_cast<DWORD>(TextRoom);

// A Win32 call that fills a TextRoom buffer; a failure or a result that did not fit is "".
template <class Fill>
std::wstring fillW(Fill fill) {
  std::wstring buf(TextRoom, L'\0');
  DWORD n = fill(buf.data(), Room);
  buf.resize(n > 0 && n < Room ? n : 0);
  return buf;
}
template <class Fill>
std::string fillA(Fill fill) {
  std::string buf(TextRoom, '\0');
  DWORD n = fill(buf.data(), Room);
  buf.resize(n > 0 && n < Room ? n : 0);
  return buf;
}

struct ExecutablePaths {
  std::u16string wide;
  std::string narrow;
};

ExecutablePaths computeExecutablePaths() {
  ExecutablePaths p;
  std::wstring module = fillW([](wchar_t* b, DWORD n) { return GetModuleFileNameW(nullptr, b, n); });
  std::wstring buf(TextRoom, L'\0');
  DWORD length = GetLongPathNameW(module.c_str(), buf.data(), Room);
  DWORD error = GetLastError();
  buf.resize(length > 0 && length < Room ? length : 0);
  logMessage(u"init file name %s %s %d %d", module, buf, static_cast<int>(length), static_cast<int>(error));
  p.wide = asU(buf.empty() ? module : buf);

  bool found = false;
  bool lossy = false;
  std::string narrow = wideToNarrow(p.wide, &lossy);
  if (!lossy && endsWithExe(narrow)) {
    found = true;
  } else {
    std::wstring shortW = fillW([&](wchar_t* b, DWORD n) { return GetShortPathNameW(wptr(p.wide), b, n); });
    lossy = false;
    narrow = wideToNarrow(asU(shortW), &lossy);
    if (!lossy && endsWithExe(narrow)) {
      found = true;
    } else {
      // The interpreter prints what it cannot shorten as it is, so its output may still carry
      // the code page's "?" for a lost character: such a path names no file.
      narrow = shortPathViaShell(p.wide);
      found = !narrow.empty() && endsWithExe(narrow) && narrow.find('?') == std::string::npos;
    }
  }
  if (!found) {
    std::string moduleA = fillA([](char* b, DWORD n) { return GetModuleFileNameA(nullptr, b, n); });
    narrow = fillA([&](char* b, DWORD n) { return GetShortPathNameA(moduleA.c_str(), b, n); });
  }
  collapseBackslashes(p.wide);
  normalizeNarrow(narrow);
  p.narrow = std::move(narrow);
  return p;
}

const ExecutablePaths& executablePaths() {
  static const ExecutablePaths paths = computeExecutablePaths();
  return paths;
}

struct Directories {
  std::string narrow;
  std::u16string narrowAsWide;
  std::u16string wideLong;
};

std::string fullPathNameA(const std::string& path) {
  return fillA([&](char* b, DWORD n) { return GetFullPathNameA(path.c_str(), n, b, nullptr); });
}
std::u16string fullPathNameW(const std::u16string& path) {
  return asU(fillW([&](wchar_t* b, DWORD n) { return GetFullPathNameW(wptr(path), n, b, nullptr); }));
}

const Directories& directories() {
  static const Directories dirs = [] {
    Directories d;
    d.narrow = directoryPart(fullPathNameA(executablePaths().narrow));
    d.narrowAsWide = narrowToWide(d.narrow);
    d.wideLong = directoryPart(fullPathNameW(executablePaths().wide));
    return d;
  }();
  return dirs;
}

template <class S>
S cutPath(S path) {
  if (cutToRoom(path, TextRoom)) logMessage(u"path cut to %d characters", static_cast<int>(TextRoom - 1));
  return path;
}

std::uint64_t fileTime(const FILETIME& t) {
  return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

}  // namespace

std::string getExecutablePath() {
  return executablePaths().narrow;
}
std::u16string getExecutablePathWide() {
  return executablePaths().wide;
}
std::string executableDirectory() {
  return directories().narrow;
}
std::u16string executableDirectoryWide(bool useNarrowForm) {
  return useNarrowForm ? directories().narrowAsWide : directories().wideLong;
}

bool pathExists(std::string_view path, std::uint64_t* lastWrite) {
  if (isDriveRoot(path)) return true;
  WIN32_FIND_DATAA data;
  std::string p(path);
  HANDLE h = FindFirstFileA(p.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  if (lastWrite) *lastWrite = fileTime(data.ftLastWriteTime);
  return true;
}

std::vector<ListedEntry> listMatchingEntries(std::string_view pattern) {
  std::vector<ListedEntry> entries;
  WIN32_FIND_DATAW data;
  UniqueFindHandle find(FindFirstFileW(wptr(narrowToWide(pattern)), &data));
  if (!find) return entries;
  do {
    bool lossy = false;
    std::string name = wideToNarrow(asU(data.cFileName), &lossy);
    if (lossy || name.find_first_of("\\/:?") != std::string::npos) {
      logMessage(u"skipping %s: its name does not survive the narrow code page", asU(data.cFileName));
      continue;
    }
    entries.push_back({std::move(name), data.dwFileAttributes});
  } while (FindNextFileW(find.get(), &data));
  return entries;
}

bool pathExists(std::u16string_view path, std::uint64_t* lastWrite) {
  if (isDriveRoot(path)) return true;
  WIN32_FIND_DATAW data;
  std::wstring p = asW(path);
  HANDLE h = FindFirstFileW(p.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  if (lastWrite) *lastWrite = fileTime(data.ftLastWriteTime);
  return true;
}

std::string resolvePath(std::string_view path, std::string_view baseFile) {
  std::string out;
  if (isRelativePath(path))
    out = baseFile.empty() ? executableDirectory() : directoryPart(fullPathNameA(std::string(baseFile)));
  out.append(path);
  normalizeNarrow(out);
  return cutPath(std::move(out));
}

std::u16string resolvePath(std::u16string_view path, std::u16string_view baseFile, bool useNarrowForm) {
  std::u16string out;
  if (isRelativePath(path))
    out = baseFile.empty() ? executableDirectoryWide(useNarrowForm)
                           : directoryPart(fullPathNameW(std::u16string(baseFile)));
  out.append(path);
  collapseBackslashes(out);
  return cutPath(std::move(out));
}

std::string fullPath(std::string_view path, bool keepCase) {
  std::string resolved = resolvePath(path);
  std::string out = fullPathNameA(resolved);
  if (out.empty()) out = resolved;  // GetFullPathName refused it: keep what we have
  if (!keepCase) toLowerPath(out);
  normalizeNarrow(out);
  return out;
}

std::u16string fullPath(std::u16string_view path, bool keepCase, bool useNarrowForm) {
  std::u16string resolved = resolvePath(path, {}, useNarrowForm);
  std::u16string out = fullPathNameW(resolved);
  if (out.empty()) out = resolved;
  if (!keepCase) toLowerPath(out);
  collapseBackslashes(out);
  return out;
}

}  // namespace pelto
