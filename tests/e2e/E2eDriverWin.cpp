// Runs one launcher executable as a separate process and checks what it did:
//   pelto-e2e-driver --exe PATH [--arg A]... [--env NAME=VALUE]... [--log yes]
//                    [--exit N] [--out TEXT]... [--err TEXT]... [--log-line TEXT]... [--no-out TEXT]...
//                    [--no-log-line TEXT]...
// --out/--err/--log-line: the text must occur in standard output / standard error / the log
// file; --no-out/--no-log-line: must not occur on standard output / in the log file. --log
// turns the log on (PELTO_LOG=yes) in a temporary directory of the run's own. Exit code 0 when
// every check holds.
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

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "launcher/ChildProcessWin.h"

namespace {

using pelto::test::readWhole;

// Wine hands the arguments over in the ANSI code page, so a CJK character is written "{cjk}".
std::wstring widen(const std::string& s) {
  std::wstring w(s.size(), L'\0');
  w.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()),
                                                        w.data(), static_cast<int>(w.size()))));
  for (std::size_t p = w.find(L"{cjk}"); p != std::wstring::npos; p = w.find(L"{cjk}"))
    w.replace(p, 5, L"\u4e2d");
  return w;
}

// Arguments are quoted as the launcher's own splitter reads them: no escapes, so a double
// quote inside an argument is carried in single quotes.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" '\"") == std::wstring::npos) return arg;
  wchar_t q = arg.find(L'"') == std::wstring::npos ? L'"' : L'\'';
  return q + arg + q;
}

unsigned long le32(const std::string& b, std::size_t at) {
  auto byte = [&](std::size_t i) {
    return static_cast<unsigned long>(static_cast<unsigned char>(b[at + i]));
  };
  return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

// The block starts behind the last section's raw data (the launcher's own location rule).
std::size_t blockOffset(const std::string& image) {
  std::size_t h = image.size() < 64 ? image.size() : le32(image, 60);
  if (h + 24 > image.size()) return std::string::npos;
  std::size_t sections = le32(image, h + 4) >> 16, optional = le32(image, h + 20) & 0xFFFF;
  std::size_t last = h + 24 + optional + 40 * (sections - 1);
  if (sections == 0 || last + 24 > image.size()) return std::string::npos;
  return le32(image, last + 20) + le32(image, last + 16);
}

// Launcher-made names ("plo" followed by digits, or GetTempFileName's "ploXXXX.tmp") below dir.
void findLeftovers(const std::wstring& dir, std::vector<std::wstring>& found) {
  for (const std::wstring& name : pelto::test::listDir(dir)) {
    if (_wcsnicmp(name.c_str(), L"plo", 3) == 0) found.push_back(dir + L"\\" + name);
    if (GetFileAttributesW((dir + L"\\" + name).c_str()) & FILE_ATTRIBUTE_DIRECTORY)
      findLeftovers(dir + L"\\" + name, found);
  }
}

int check(const char* what, const std::vector<std::string>& texts, const std::string& actual, bool present) {
  int failures = 0;
  for (const std::string& t : texts)
    if ((actual.find(t) != std::string::npos) != present) {
      std::fprintf(stderr, "FAILED: %s%s\n  expected: %s\n  actual:\n%s\n", present ? "" : "absent from ",
                   what, t.c_str(), actual.c_str());
      ++failures;
    }
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::vector<std::string>> o;
  for (int i = 1; i + 1 < argc; i += 2) o[argv[i]].push_back(argv[i + 1]);
  if (o["--exe"].empty()) return 2;
  std::wstring exe = widen(o["--exe"][0]);
  if (exe[0] == L'/') exe = L"Z:" + exe;  // a Unix path as Wine sees it: drive Z: is the Unix root
  std::replace(exe.begin(), exe.end(), L'/', L'\\');

  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  std::wstring dir = std::wstring(tmp) + L"pelto_e2e_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                     std::to_wstring(GetTickCount64());
  CreateDirectoryW(dir.c_str(), nullptr);
  for (const auto& sub : o["--mkdir"])  // each folder of the path in turn
    for (std::size_t p = sub.find('\\');; p = sub.find('\\', p + 1)) {
      CreateDirectoryW((dir + L"\\" + widen(sub.substr(0, p))).c_str(), nullptr);
      if (p == std::string::npos) break;
    }
  if (!o["--patch-block"].empty()) {
    std::string image = readWhole(exe);
    std::size_t block = blockOffset(image);
    if (block > image.size()) return 2;
    for (const std::string& patch : o["--patch-block"]) {
      long offset = std::strtol(patch.c_str(), nullptr, 0);
      unsigned long value = std::strtoul(patch.c_str() + patch.find('=') + 1, nullptr, 0);
      std::size_t at = offset < 0 ? image.size() - static_cast<std::size_t>(-offset)
                                  : block + static_cast<std::size_t>(offset);
      if (at + 4 > image.size()) return 2;
      for (std::size_t i = 0; i < 4; ++i) image[at + i] = static_cast<char>(value >> (8 * i));
    }
    exe = dir + L"\\patched.exe";
    if (!pelto::test::writeWhole(exe, image)) return 2;
  }
  bool log = !o["--log"].empty() || !o["--log-line"].empty() || !o["--no-log-line"].empty();
  o["--env"].insert(o["--env"].begin(),
                    {"TMP={run}", "TEMP={run}", log ? "PELTO_LOG=yes" : "PELTO_LOG=", "QUORVANEX_LOG="});
  for (const auto& e : o["--env"]) {
    std::wstring value = widen(e.substr(e.find('=') + 1));
    for (std::size_t p = value.find(L"{run}"); p != std::wstring::npos; p = value.find(L"{run}"))
      value.replace(p, 5, dir);
    SetEnvironmentVariableW(widen(e.substr(0, e.find('='))).c_str(), value.empty() ? nullptr : value.c_str());
  }

  std::wstring cmd = quoted(exe);
  for (const auto& a : o["--arg"]) cmd += L" " + quoted(widen(a));
  pelto::test::ChildResult run = pelto::test::runCommand(cmd, 120000);
  if (run.startError) return 2;
  std::string logText;
  std::wstring logFolder = dir + (o["--log-dir"].empty() ? L"" : L"\\" + widen(o["--log-dir"][0]));
  for (int n = 1;; ++n) {
    std::wstring file = logFolder + L"\\qvx_nlog_" + std::to_wstring(n) + L".log";
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) break;
    logText += pelto::test::withoutCarriageReturns(readWhole(file));
  }
  std::vector<std::wstring> leftovers;
  if (!o["--no-temp-left"].empty()) findLeftovers(dir, leftovers);
  pelto::test::removeTree(dir);

  int failures = 0;
  for (const auto& l : leftovers)
    failures += std::fprintf(stderr, "FAILED: left behind: %ls\n", l.c_str()) > 0;
  std::string exitCode = "exit code " + std::to_string(run.exitCode) + ",";
  for (auto& e : o["--exit"]) e = "exit code " + e + ",";
  failures +=
      check("exit code", o["--exit"], exitCode + "\nstdout:\n" + run.out + "\nstderr:\n" + run.err, true) +
      check("standard output", o["--out"], run.out, true) +
      check("standard output", o["--no-out"], run.out, false) +
      check("standard error", o["--err"], run.err, true) + check("log file", o["--log-line"], logText, true) +
      check("log file", o["--no-log-line"], logText, false);
  if (failures == 0) std::printf("ok: %s\n", exitCode.c_str());
  return failures ? 1 : 0;
}
