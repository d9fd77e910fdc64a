// Runs one launcher executable as a separate process and checks what it did:
//   pelto-e2e-driver --exe PATH [--arg A]... [--env NAME=VALUE]... [--log]
//                    [--exit N] [--out TEXT]... [--err TEXT]... [--log-line TEXT]... [--no-out TEXT]...
// --out/--err/--log-line: the text must occur in standard output / standard error / the log
// file; --no-out: must not occur on standard output. --log turns the log on (PELTO_LOG=yes)
// in a temporary directory of the run's own. Exit code 0 when every check holds.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring widen(const char* s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), n);
  return w;
}

std::string readWhole(const std::wstring& path) {
  std::string data;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return data;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  CloseHandle(h);
  std::string out;
  for (char c : data)
    if (c != '\r') out.push_back(c);
  return out;
}

// Arguments are quoted as the launcher's own splitter reads them: no escapes, so a double
// quote inside an argument is carried in single quotes.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" '\"") == std::wstring::npos) return arg;
  wchar_t q = arg.find(L'"') == std::wstring::npos ? L'"' : L'\'';
  return q + arg + q;
}

struct Options {
  std::wstring exe;
  std::vector<std::wstring> args, env;
  bool log = false;
  long exitCode = -1;
  std::vector<std::string> out, err, logLines, noOut;
};

int fail(const char* what, const std::string& expected, const std::string& actual) {
  std::fprintf(stderr, "FAILED: %s\n  expected: %s\n  actual:\n%s\n", what, expected.c_str(), actual.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string k = argv[i];
    const char* v = argv[i + 1];
    if (k == "--exe")
      o.exe = widen(v);
    else if (k == "--arg")
      o.args.push_back(widen(v));
    else if (k == "--env")
      o.env.push_back(widen(v));
    else if (k == "--exit")
      o.exitCode = std::strtol(v, nullptr, 10);
    else if (k == "--out")
      o.out.push_back(v);
    else if (k == "--err")
      o.err.push_back(v);
    else if (k == "--log-line")
      o.logLines.push_back(v);
    else if (k == "--no-out")
      o.noOut.push_back(v);
    else if (k == "--log") {
      o.log = std::string(v) == "yes";
    } else {
      std::fprintf(stderr, "unknown option %s\n", k.c_str());
      return 2;
    }
  }
  if (o.exe.empty()) return 2;
  // A Unix path as Wine sees it: drive Z: is the Unix root.
  if (o.exe[0] == L'/') {
    for (auto& c : o.exe)
      if (c == L'/') c = L'\\';
    o.exe = L"Z:" + o.exe;
  }
  if (!o.logLines.empty()) o.log = true;

  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  std::wstring dir = std::wstring(tmp) + L"pelto_e2e_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                     std::to_wstring(GetTickCount64());
  CreateDirectoryW(dir.c_str(), nullptr);
  SetEnvironmentVariableW(L"TMP", dir.c_str());
  SetEnvironmentVariableW(L"TEMP", dir.c_str());
  SetEnvironmentVariableW(L"PELTO_LOG", o.log ? L"yes" : nullptr);
  SetEnvironmentVariableW(L"QUORVANEX_LOG", nullptr);
  for (const auto& e : o.env) {
    std::size_t eq = e.find(L'=');
    if (eq == std::wstring::npos) continue;
    std::wstring value = e.substr(eq + 1);
    SetEnvironmentVariableW(e.substr(0, eq).c_str(), value.empty() ? nullptr : value.c_str());
  }

  std::wstring outPath = dir + L"\\stdout.txt", errPath = dir + L"\\stderr.txt";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  std::wstring cmd = quoted(o.exe);
  for (const auto& a : o.args) cmd += L" " + quoted(a);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(o.exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "cannot start the launcher (error %lu)\n", GetLastError());
    return 2;
  }
  DWORD code = 0;
  if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 99);
    std::fprintf(stderr, "FAILED: the launcher did not end within 120 s\n");
  }
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(out);
  CloseHandle(err);

  std::string stdoutText = readWhole(outPath), stderrText = readWhole(errPath), logText;
  DeleteFileW(outPath.c_str());
  DeleteFileW(errPath.c_str());
  for (int n = 1; n < 1000; ++n) {
    std::wstring log = dir + L"\\qvx_nlog_" + std::to_wstring(n) + L".log";
    if (GetFileAttributesW(log.c_str()) == INVALID_FILE_ATTRIBUTES) break;
    logText += readWhole(log);
    DeleteFileW(log.c_str());
  }
  RemoveDirectoryW(dir.c_str());

  int failures = 0;
  if (o.exitCode >= 0 && static_cast<long>(code) != o.exitCode)
    failures += fail("exit code", std::to_string(o.exitCode),
                     std::to_string(code) + "\nstdout:\n" + stdoutText + "\nstderr:\n" + stderrText);
  for (const auto& t : o.out)
    if (stdoutText.find(t) == std::string::npos) failures += fail("standard output", t, stdoutText);
  for (const auto& t : o.noOut)
    if (stdoutText.find(t) != std::string::npos)
      failures += fail("absent from standard output", t, stdoutText);
  for (const auto& t : o.err)
    if (stderrText.find(t) == std::string::npos) failures += fail("standard error", t, stderrText);
  for (const auto& t : o.logLines)
    if (logText.find(t) == std::string::npos) failures += fail("log file", t, logText);
  if (failures == 0) std::printf("ok: exit code %lu\n", code);
  return failures ? 1 : 0;
}
