// Runs one launcher executable as a separate process and checks what it did:
//   pelto-e2e-driver --exe PATH [--arg A]... [--env NAME=VALUE]... [--log]
//                    [--exit N] [--out TEXT]... [--err TEXT]... [--log-line TEXT]... [--no-out TEXT]...
// --out/--err/--log-line: the text must occur in standard output / standard error / the log
// file; --no-out: must not occur on standard output. --log turns the log on (PELTO_LOG=yes)
// in a temporary directory of the run's own. Exit code 0 when every check holds.
// Fault cases:
//   --patch-block OFFSET=VALUE  runs a copy whose configuration block has the 32-bit VALUE at
//                               OFFSET (from the block's start; a negative OFFSET counts from
//                               the end of the file)
//   --mkdir SUB                 creates SUB below the run's directory first
//   --log-dir SUB               the log is looked for below SUB of the run's directory
//   --no-temp-left yes          nothing the launcher names "plo..." (its temporary files and
//                               directories) may be left anywhere below the run's directory
// In --env values "{run}" stands for the run's directory.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "launcher/ChildProcessWin.h"

namespace {

std::wstring widen(const char* s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), n);
  return w;
}

using pelto::test::readWhole;
using pelto::test::removeTree;

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
  std::vector<std::pair<long, unsigned long>> patches;
  std::vector<std::wstring> mkdirs;
  std::wstring logDir;
  bool noTempLeft = false;
};

unsigned long le32(const std::vector<unsigned char>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<unsigned long>(b[at + 3]) << 24;
}

// The block starts behind the last section's raw data (the launcher's own location rule).
bool blockOffset(const std::vector<unsigned char>& image, std::size_t& offset) {
  if (image.size() < 64) return false;
  std::size_t h = le32(image, 60);
  if (h + 24 > image.size()) return false;
  std::size_t sections = image[h + 6] | image[h + 7] << 8, optional = image[h + 20] | image[h + 21] << 8;
  std::size_t last = h + 24 + optional + 40 * (sections - 1);
  if (sections == 0 || last + 24 > image.size()) return false;
  offset = le32(image, last + 20) + le32(image, last + 16);
  return offset <= image.size();
}

// Launcher-made names ("plo" followed by digits, or GetTempFileName's "ploXXXX.tmp") below dir.
void findLeftovers(const std::wstring& dir, std::vector<std::wstring>& found) {
  WIN32_FIND_DATAW entry;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &entry);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (_wcsnicmp(name.c_str(), L"plo", 3) == 0) found.push_back(dir + L"\\" + name);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) findLeftovers(dir + L"\\" + name, found);
  } while (FindNextFileW(h, &entry));
  FindClose(h);
}

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
    else if (k == "--patch-block") {
      std::string t = v;
      std::size_t eq = t.find('=');
      if (eq == std::string::npos) return 2;
      o.patches.emplace_back(std::strtol(t.c_str(), nullptr, 0),
                             std::strtoul(t.c_str() + eq + 1, nullptr, 0));
    } else if (k == "--mkdir")
      o.mkdirs.push_back(widen(v));
    else if (k == "--log-dir")
      o.logDir = widen(v);
    else if (k == "--no-temp-left")
      o.noTempLeft = std::string(v) == "yes";
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
  for (const auto& sub : o.mkdirs) {
    // Each folder of the path in turn.
    for (std::size_t p = sub.find(L'\\'); p != std::wstring::npos; p = sub.find(L'\\', p + 1))
      CreateDirectoryW((dir + L"\\" + sub.substr(0, p)).c_str(), nullptr);
    CreateDirectoryW((dir + L"\\" + sub).c_str(), nullptr);
  }
  if (!o.patches.empty()) {
    std::string bytes = readWhole(o.exe);
    std::vector<unsigned char> image(bytes.begin(), bytes.end());
    std::size_t block = 0;
    if (image.empty() || !blockOffset(image, block)) {
      std::fprintf(stderr, "cannot read the configuration block to patch\n");
      return 2;
    }
    for (const auto& [offset, value] : o.patches) {
      std::size_t at = offset < 0 ? image.size() - static_cast<std::size_t>(-offset)
                                  : block + static_cast<std::size_t>(offset);
      if (at + 4 > image.size()) return 2;
      for (int i = 0; i < 4; ++i)
        image[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
    }
    o.exe = dir + L"\\patched.exe";
    if (!pelto::test::writeWhole(o.exe, std::string(image.begin(), image.end()))) return 2;
  }
  SetEnvironmentVariableW(L"TMP", dir.c_str());
  SetEnvironmentVariableW(L"TEMP", dir.c_str());
  SetEnvironmentVariableW(L"PELTO_LOG", o.log ? L"yes" : nullptr);
  SetEnvironmentVariableW(L"QUORVANEX_LOG", nullptr);
  for (const auto& e : o.env) {
    std::size_t eq = e.find(L'=');
    if (eq == std::wstring::npos) continue;
    std::wstring value = e.substr(eq + 1);
    for (std::size_t p = value.find(L"{run}"); p != std::wstring::npos; p = value.find(L"{run}"))
      value.replace(p, 5, dir);
    SetEnvironmentVariableW(e.substr(0, eq).c_str(), value.empty() ? nullptr : value.c_str());
  }

  std::wstring cmd = quoted(o.exe);
  for (const auto& a : o.args) cmd += L" " + quoted(a);
  pelto::test::ChildResult run = pelto::test::runCommand(cmd, 120000);
  if (run.startError) {
    std::fprintf(stderr, "cannot start the launcher (error %lu)\n", run.startError);
    return 2;
  }
  if (run.timedOut) std::fprintf(stderr, "FAILED: the launcher did not end within 120 s\n");
  DWORD code = run.exitCode;
  std::string stdoutText = run.out, stderrText = run.err, logText;
  std::wstring logFolder = o.logDir.empty() ? dir : dir + L"\\" + o.logDir;
  for (int n = 1; n < 1000; ++n) {
    std::wstring log = logFolder + L"\\qvx_nlog_" + std::to_wstring(n) + L".log";
    if (GetFileAttributesW(log.c_str()) == INVALID_FILE_ATTRIBUTES) break;
    logText += pelto::test::withoutCarriageReturns(readWhole(log));
    DeleteFileW(log.c_str());
  }
  std::vector<std::wstring> leftovers;
  if (o.noTempLeft) findLeftovers(dir, leftovers);
  removeTree(dir);

  int failures = 0;
  for (const auto& l : leftovers) {
    int n = WideCharToMultiByte(CP_UTF8, 0, l.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string u(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, l.c_str(), -1, u.data(), n, nullptr, nullptr);
    failures += fail("no temporary file or directory left", "nothing", u);
  }
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
