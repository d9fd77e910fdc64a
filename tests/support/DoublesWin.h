#pragma once
// Paths of the test doubles built beside the tests, and small file helpers for runtime layouts.
#include <windows.h>

#include <string>

namespace pelto::test {

// build\tests\doubles\NAME\FILE, found from this test executable (build\tests\SUB\x.exe).
inline std::wstring doublePath(const wchar_t* name, const wchar_t* file) {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dir(self, n);
  dir.resize(dir.rfind(L'\\'));
  dir.resize(dir.rfind(L'\\') + 1);
  return dir + L"doubles\\" + name + L"\\" + file;
}

// Creates every missing directory of a path (the path itself included).
inline void makeDirs(const std::wstring& dir) {
  for (std::size_t at = dir.find(L'\\', 3); at != std::wstring::npos; at = dir.find(L'\\', at + 1))
    CreateDirectoryW(dir.substr(0, at).c_str(), nullptr);
  CreateDirectoryW(dir.c_str(), nullptr);
}

inline void writeText(const std::wstring& path, const std::string& text) {
  makeDirs(path.substr(0, path.rfind(L'\\')));
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD done = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
  CloseHandle(h);
}

inline bool copyDouble(const wchar_t* name, const wchar_t* file, const std::wstring& to) {
  makeDirs(to.substr(0, to.rfind(L'\\')));
  return CopyFileW(doublePath(name, file).c_str(), to.c_str(), FALSE) != 0;
}

inline bool fileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace pelto::test
