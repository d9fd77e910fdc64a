#pragma once
// The support of the Windows tests, benchmarks and black-box driver: whole-file reads, scratch
// folders, directory listings and running a process with its output captured. runChild runs
// this test executable again with one (disabled) test selected, so that process-wide,
// once-only state (the log, the exit path) can be observed from outside.
#include <windows.h>
// GetNamedSecurityInfoW, the SDDL text
#include <aclapi.h>
#include <sddl.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "env/Handles.h"
#include "env/TextConv.h"

namespace pelto::test {

struct ChildResult {
  DWORD exitCode = 0xFFFFFFFF;
  DWORD startError = 0;  // CreateProcess's error when the process did not start
  DWORD pid = 0;
  bool timedOut = false;  // ended by the wait limit (exit code 99)
  std::string out;
  std::string err;
};

inline std::wstring selfPath() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  return std::wstring(buf, n);
}

inline std::string readWhole(const std::wstring& path) {
  std::string data;
  UniqueFileHandle h(CreateFileW(path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
  char buf[65536];
  DWORD got = 0;
  while (h && ReadFile(h.get(), buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  return data;
}

inline bool writeWhole(const std::wstring& path, const std::string& data) {
  UniqueFileHandle h(
      CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD put = 0;
  return h && WriteFile(h.get(), data.data(), static_cast<DWORD>(data.size()), &put, nullptr) &&
         put == data.size();
}

inline std::wstring uniqueDir(const wchar_t* tag) {
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  std::wstring dir = std::wstring(tmp) + L"pelto_" + tag + L"_" + std::to_wstring(GetCurrentProcessId()) +
                     L"_" + std::to_wstring(GetTickCount64());
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

// The names in dir ("." and ".." left out).
inline std::vector<std::wstring> listDir(const std::wstring& dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW e;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &e);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring n = e.cFileName;
    if (n != L"." && n != L"..") names.push_back(n);
  } while (FindNextFileW(h, &e));
  FindClose(h);
  return names;
}

inline void removeTree(const std::wstring& dir) {
  for (const std::wstring& n : listDir(dir)) {
    std::wstring p = dir + L"\\" + n;
    DWORD a = GetFileAttributesW(p.c_str());
    if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT))
      removeTree(p);
    else if (!DeleteFileW(p.c_str()))
      RemoveDirectoryW(p.c_str());  // a directory link goes as an entry
  }
  RemoveDirectoryW(dir.c_str());
}

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

// PATH as the process environment and as the C runtime's copy of it hold it.
inline std::string pathNow() {
  static char buf[32767];
  DWORD n = GetEnvironmentVariableA("PATH", buf, sizeof buf);
  return std::string(buf, n);
}
inline std::string crtPath() {
  const char* v = std::getenv("PATH");
  return v ? v : "";
}

// Standard output and error are in text mode: compare with plain line feeds.
inline std::string withoutCarriageReturns(std::string s) {
  std::erase(s, '\r');
  return s;
}

// Runs a command line with standard output and error captured (carriage returns dropped);
// whileRunning runs once right after the start; a process still running after waitMs is ended
// with exit code 99. input, when given, is the whole of its standard input.
inline ChildResult runCommand(std::wstring cmd, DWORD waitMs = 60000,
                              const std::function<void()>& whileRunning = {},
                              const std::optional<std::string>& input = std::nullopt) {
  ChildResult r;
  std::wstring dir = uniqueDir(L"child");
  std::wstring outPath = dir + L"\\out.txt", errPath = dir + L"\\err.txt", inPath = dir + L"\\in.txt";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  UniqueFileHandle in;
  if (input && writeWhole(inPath, *input))
    in.reset(CreateFileW(inPath.c_str(), GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING, 0, nullptr));
  HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = input ? in.get() : GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    r.pid = pi.dwProcessId;
    if (whileRunning) whileRunning();
    if (WaitForSingleObject(pi.hProcess, waitMs) != WAIT_OBJECT_0) {
      TerminateProcess(pi.hProcess, 99);
      WaitForSingleObject(pi.hProcess, 5000);
      r.timedOut = true;
    }
    GetExitCodeProcess(pi.hProcess, &r.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  } else {
    r.startError = GetLastError();
  }
  CloseHandle(out);
  CloseHandle(err);
  in.reset();
  r.out = withoutCarriageReturns(readWhole(outPath));
  r.err = withoutCarriageReturns(readWhole(errPath));
  removeTree(dir);
  return r;
}

// env: variables set for the child only (an empty value removes the variable).
inline ChildResult runChild(const std::string& testName,
                            const std::map<std::wstring, std::wstring>& env = {}) {
  std::vector<std::unique_ptr<ScopedEnv>> scoped;
  for (const auto& [name, value] : env)
    scoped.push_back(
        std::make_unique<ScopedEnv>(name.c_str(), value.empty() ? std::nullopt : std::optional(value)));
  return runCommand(L"\"" + selfPath() + L"\" --gtest_also_run_disabled_tests --gtest_filter=" +
                    std::wstring(testName.begin(), testName.end()));
}

// Whether the access list of path lets every user (Everyone, Users) in. Wine keeps no entry it
// cannot map to the host's file mode, so this is what it can show of a private file.
inline bool openToEveryone(const std::wstring& path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  LPWSTR text = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            nullptr, nullptr, &sd) != ERROR_SUCCESS)
    return true;
  bool broad = !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                   sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr) ||
               wcsstr(text, L";;;WD)") || wcsstr(text, L";;;BU)");
  LocalFree(text), LocalFree(sd);
  return broad;
}

inline bool isChild() {
  wchar_t v[8];
  return GetEnvironmentVariableW(L"PELTO_TEST_CHILD", v, 8) > 0;
}

}  // namespace pelto::test
