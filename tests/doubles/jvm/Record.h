#pragma once
// One JSON object per line appended to the file named by PELTO_JVM_RECORD (UTF-8), shared by
// the jvm.dll and qvxinst.dll doubles. A process that does not inherit the test's environment
// (a service) gets the file from its model instead: see recordFileFallback.
#include <windows.h>

#include <string>
#include <string_view>

namespace pelto::doubles {

inline std::string utf8(std::u16string_view w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(w.data()),
                              static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(w.data()), static_cast<int>(w.size()),
                      s.data(), n, nullptr, nullptr);
  return s;
}

inline std::u16string fromCodePage(unsigned cp, std::string_view s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::u16string w(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), reinterpret_cast<wchar_t*>(w.data()), n);
  return w;
}

// A JSON string literal of UTF-8 text.
inline std::string jsonText(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      wsprintfA(buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}
inline std::string jsonText(std::u16string_view w) {
  return jsonText(std::string_view(utf8(w)));
}

// The record file used when PELTO_JVM_RECORD is not set (empty: no records).
inline std::wstring& recordFileFallback() {
  static std::wstring path;
  return path;
}

// Appends one line; the file is opened per record so that a process that dies keeps what it said.
inline void recordLine(const std::string& json) {
  wchar_t buf[MAX_PATH * 4];
  DWORD n = GetEnvironmentVariableW(L"PELTO_JVM_RECORD", buf, static_cast<DWORD>(std::size(buf)));
  const wchar_t* path = buf;
  if (n == 0 || n >= std::size(buf)) {
    if (recordFileFallback().empty()) return;
    path = recordFileFallback().c_str();
  }
  HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  std::string line = json + "\n";
  DWORD done = 0;
  WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &done, nullptr);
  CloseHandle(h);
}

// The text of a file beside the module that holds `anchor`, or of the file an environment
// variable names; found is false when neither exists.
inline std::string readModelFile(const wchar_t* envName, const wchar_t* fileName, const void* anchor,
                                 bool& found, std::wstring& where) {
  wchar_t buf[MAX_PATH * 4];
  DWORD n = GetEnvironmentVariableW(envName, buf, static_cast<DWORD>(std::size(buf)));
  if (n > 0 && n < std::size(buf)) {
    where.assign(buf, n);
  } else {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(anchor), &self);
    n = GetModuleFileNameW(self, buf, static_cast<DWORD>(std::size(buf)));
    where.assign(buf, n);
    where.resize(where.rfind(L'\\') + 1);
    where += fileName;
  }
  found = false;
  std::string text;
  HANDLE h = CreateFileW(where.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return text;
  found = true;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(h);
  return text;
}

}  // namespace pelto::doubles
