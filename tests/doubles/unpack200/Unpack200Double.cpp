// Stands in for a runtime's bin\unpack200.exe: "-r "PACKED" "TARGET"".
// Appends its whole command line as one line to unpack200.log beside itself, then writes TARGET
// as "unpacked:" followed by the packed file's bytes. A packed file that starts with "fail"
// makes it exit with 3 and write nothing.
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string readAll(const std::wstring& path) {
  std::string data;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return data;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  CloseHandle(h);
  return data;
}

void write(const std::wstring& path, const std::string& data, bool append) {
  HANDLE h = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         append ? OPEN_ALWAYS : CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD done = 0;
  WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &done, nullptr);
  CloseHandle(h);
}

std::string utf8(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

// The double-quoted words of the command line, in order.
std::vector<std::wstring> quotedWords(const std::wstring& line) {
  std::vector<std::wstring> words;
  std::size_t at = 0;
  while ((at = line.find(L'"', at)) != std::wstring::npos) {
    std::size_t end = line.find(L'"', at + 1);
    if (end == std::wstring::npos) break;
    words.push_back(line.substr(at + 1, end - at - 1));
    at = end + 1;
  }
  return words;
}

}  // namespace

int wmain() {
  std::wstring line = GetCommandLineW();
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dir(self, n);
  dir.resize(dir.rfind(L'\\') + 1);
  write(dir + L"unpack200.log", utf8(line) + "\n", true);

  std::vector<std::wstring> words = quotedWords(line);
  if (line.rfind(L"-r ", 0) != 0 || words.size() != 2) return 2;
  std::string packed = readAll(words[0]);
  if (packed.rfind("fail", 0) == 0) return 3;
  write(words[1], "unpacked:" + packed, false);
  return 0;
}
