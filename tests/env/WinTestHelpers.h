#pragma once
// Small helpers of the Windows tests: a scratch directory and scoped environment variables.
#include <windows.h>

#include <optional>
#include <string>

#include "env/TextConv.h"

namespace pelto::test {

// A fresh directory under the system temp directory, removed with its contents at the end.
class ScratchDir {
 public:
  // unique adds the process id; without it a child process finds the same directory.
  explicit ScratchDir(const std::wstring& name, bool unique = true) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    path_ = std::wstring(tmp) + name + (unique ? std::to_wstring(GetCurrentProcessId()) : L"");
    removeTree(path_);
    DeleteFileW(path_.c_str());  // a file left where the directory goes
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~ScratchDir() { removeTree(path_); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::wstring& path() const { return path_; }
  std::u16string u() const { return asU(path_); }

  static void removeTree(const std::wstring& dir) {
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::wstring n = d.cFileName;
        if (n == L"." || n == L"..") continue;
        std::wstring full = dir + L"\\" + n;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          removeTree(full);
        else
          DeleteFileW(full.c_str());
      } while (FindNextFileW(h, &d));
      FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
  }

 private:
  std::wstring path_;
};

// Sets (or, with nullopt, removes) an environment variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const wchar_t* name, std::optional<std::wstring> value) : name_(name) {
    wchar_t buf[32767];
    DWORD n = GetEnvironmentVariableW(name, buf, 32767);
    if (n > 0 && n < 32767) old_ = std::wstring(buf, n);
    SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
  }
  ~ScopedEnv() { SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> old_;
};

inline bool isDirectory(const std::wstring& p) {
  DWORD a = GetFileAttributesW(p.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace pelto::test
