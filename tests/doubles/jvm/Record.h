#pragma once
// File helpers of the doubles, and the record: one JSON object per line appended to the file named
// by PELTO_JVM_RECORD (UTF-8). A service does not inherit the test's environment, so the jvm.dll
// double's model may name the file instead (recordFallback).
#include <windows.h>

#include <string>
#include <string_view>

namespace pelto::doubles {

inline std::string utf8(std::u16string_view w) {
  std::string s(w.size() * 3, '\0');
  int n =
      WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(w.data()), static_cast<int>(w.size()),
                          s.data(), static_cast<int>(s.size()), nullptr, nullptr);
  s.resize(static_cast<std::size_t>(n));
  return s;
}

inline std::u16string fromCodePage(unsigned codePage, std::string_view s) {
  std::u16string w(s.size(), u'\0');
  int n = MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()),
                              reinterpret_cast<wchar_t*>(w.data()), static_cast<int>(w.size()));
  w.resize(static_cast<std::size_t>(n));
  return w;
}

// A JSON string literal of UTF-8 text.
inline std::string jsonText(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    char escape[8] = {c, 0};
    if (static_cast<unsigned char>(c) < 0x20) wsprintfA(escape, "\\u%04x", c);
    if (c == '"' || c == '\\') out += '\\';
    out += escape;
  }
  return out + "\"";
}
inline std::string jsonText(std::u16string_view w) {
  return jsonText(std::string_view(utf8(w)));
}

inline std::string readFile(const std::wstring& path, bool* found = nullptr) {
  std::string text;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (found) *found = h != INVALID_HANDLE_VALUE;
  char chunk[4096];
  DWORD got = 0;
  while (h != INVALID_HANDLE_VALUE && ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0)
    text.append(chunk, got);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return text;
}

// Opened per write, so that a process that dies keeps what it wrote.
inline void putFile(const std::wstring& path, const std::string& text, bool append) {
  HANDLE h =
      CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD done = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
  CloseHandle(h);
}

// The file `name` in the folder of the module holding `anchor` (null: the executable).
inline std::wstring besideModule(const void* anchor, const wchar_t* name) {
  HMODULE self = nullptr;
  if (anchor)
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(anchor), &self);
  wchar_t buf[MAX_PATH * 4];
  std::wstring path(buf, GetModuleFileNameW(self, buf, MAX_PATH * 4));
  return path.substr(0, path.rfind(L'\\') + 1) + name;
}

inline std::wstring& recordFallback() {
  static std::wstring path;
  return path;
}

inline void recordLine(const std::string& json) {
  wchar_t buf[MAX_PATH * 4];
  DWORD n = GetEnvironmentVariableW(L"PELTO_JVM_RECORD", buf, MAX_PATH * 4);
  std::wstring path = n > 0 && n < MAX_PATH * 4 ? std::wstring(buf, n) : recordFallback();
  if (!path.empty()) putFile(path, json + "\n", true);
}

}  // namespace pelto::doubles
