#pragma once
// Runs this test executable again as a child with one (disabled) test selected, so that
// process-wide, once-only state (the log, the exit path) can be observed from outside.
#include <windows.h>

#include <map>
#include <string>

#include "env/TextConv.h"

namespace pelto::test {

struct ChildResult {
  DWORD exitCode = 0xFFFFFFFF;
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
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return data;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  CloseHandle(h);
  return data;
}

inline std::wstring uniqueDir(const wchar_t* tag) {
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  std::wstring dir = std::wstring(tmp) + L"pelto_" + tag + L"_" + std::to_wstring(GetCurrentProcessId()) +
                     L"_" + std::to_wstring(GetTickCount64());
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

// Standard output and error are in text mode: compare with plain line feeds.
inline std::string withoutCarriageReturns(std::string s) {
  std::string out;
  for (char c : s)
    if (c != '\r') out.push_back(c);
  return out;
}

// env: variables set for the child only (an empty value removes the variable).
inline ChildResult runChild(const std::string& testName,
                            const std::map<std::wstring, std::wstring>& env = {}) {
  ChildResult r;
  std::wstring dir = uniqueDir(L"child");
  std::wstring outPath = dir + L"\\out.txt", errPath = dir + L"\\err.txt";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);

  std::map<std::wstring, std::wstring> saved;
  for (const auto& [name, value] : env) {
    wchar_t old[32767];
    DWORD n = GetEnvironmentVariableW(name.c_str(), old, 32767);
    saved[name] = n ? std::wstring(old, n) : std::wstring();
    SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
  }
  std::wstring cmd = L"\"" + selfPath() + L"\" --gtest_also_run_disabled_tests --gtest_filter=" +
                     std::wstring(testName.begin(), testName.end());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &r.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  for (const auto& [name, value] : saved)
    SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
  CloseHandle(out);
  CloseHandle(err);
  r.out = withoutCarriageReturns(readWhole(outPath));
  r.err = withoutCarriageReturns(readWhole(errPath));
  DeleteFileW(outPath.c_str());
  DeleteFileW(errPath.c_str());
  RemoveDirectoryW(dir.c_str());
  return r;
}

inline bool isChild() {
  wchar_t v[8];
  return GetEnvironmentVariableW(L"PELTO_TEST_CHILD", v, 8) > 0;
}

}  // namespace pelto::test
