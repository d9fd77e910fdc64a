#pragma once
// Runs a launcher as a separate process with both output streams in one file, as a console
// user would see them.
#include <windows.h>

#include <string>
#include <vector>

#include "env/TextConv.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/CommandLine.h"

namespace pelto::test {

struct LauncherRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::string out;
};

inline LauncherRun runLauncher(const std::wstring& exe, const std::vector<std::wstring>& args) {
  LauncherRun r;
  std::wstring dir = uniqueDir(L"svcrun");
  std::wstring outPath = dir + L"\\out.txt";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  // Written as the launcher's own splitter reads it back.
  std::wstring cmd = asW(quoteArgument(asU(exe)));
  for (const auto& a : args) cmd += L" " + asW(quoteArgument(asU(a)));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = out;
  PROCESS_INFORMATION pi{};
  // A freshly copied executable is now and then refused for a moment under load; try again
  // before calling it a failure, and say why if it stays one.
  bool started = false;
  DWORD error = 0;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    started = CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    if (!started) {
      error = GetLastError();
      Sleep(200);
    }
  }
  if (started) {
    if (WaitForSingleObject(pi.hProcess, 90000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    GetExitCodeProcess(pi.hProcess, &r.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out);
  r.out = withoutCarriageReturns(readWhole(outPath));
  if (!started) r.out += "[CreateProcess failed with error " + std::to_string(error) + "]";
  DeleteFileW(outPath.c_str());
  RemoveDirectoryW(dir.c_str());
  return r;
}

}  // namespace pelto::test
