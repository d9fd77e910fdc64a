// The benchmark driver: runs each case repeatedly, interleaved, and prints a table of medians.
//   pelto-bench --runs N --jvm JVM.DLL --minimal MINIMAL.EXE --launcher LAUNCHER.EXE
//               [--cached EXE] [--probe EXE] [--search EXE] [--probe-log FILE]
// Launch overhead is the time from just before CreateProcess to the entry of JNI_CreateJavaVM
// in the benchmark's jvm.dll, which notes the performance counter (one clock for all processes)
// and the options it got. --cached, --probe and --search are packed launchers started with
// "run": the first with the version cache kept, the second with it emptied before each run,
// the third with ten failing places before the runtime in its search sequence.
// --probe-log is the file to which the java.exe double appends a line per run (emptied before
// each run), so that the table can count probe processes per launch.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "env/Locale.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/ConfigBlock.h"

namespace pelto {
namespace {

LARGE_INTEGER Frequency;

double millisSince(long long start, long long end) {
  return static_cast<double>(end - start) * 1000.0 / static_cast<double>(Frequency.QuadPart);
}

long long now() {
  LARGE_INTEGER t{};
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

double median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

using test::readWhole;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t p = 0;
  while (p < text.size()) {
    std::size_t e = text.find('\n', p);
    if (e == std::string::npos) e = text.size();
    std::string l = text.substr(p, e - p);
    if (!l.empty() && l.back() == '\r') l.pop_back();
    out.push_back(l);
    p = e + 1;
  }
  return out;
}

std::wstring widen(const std::string& s) {
  int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w.data(), n);
  return w;
}

std::wstring quoted(const std::wstring& a) {
  return a.find_first_of(L" \t") == std::wstring::npos && !a.empty() ? a : L"\"" + a + L"\"";
}

struct RunResult {
  bool reached = false;
  double millis = 0;
  std::vector<std::string> options;
  int probes = 0;
};

std::wstring WorkDir;

// One process: start it and wait; the jvm.dll's record tells when JNI_CreateJavaVM was entered.
RunResult runOnce(const std::wstring& exe, const std::vector<std::wstring>& args,
                  const std::wstring& probes) {
  RunResult r;
  std::wstring record = WorkDir + L"\\jvm-entry.txt";
  DeleteFileW(record.c_str());
  if (!probes.empty()) DeleteFileW(probes.c_str());
  SetEnvironmentVariableW(L"PELTO_BENCH_RECORD", record.c_str());
  std::wstring cmd = quoted(exe);
  for (const auto& a : args) cmd += L" " + quoted(a);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  long long start = now();
  if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return r;
  if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::vector<std::string> rec = lines(readWhole(record));
  if (!rec.empty()) {
    r.reached = true;
    r.millis = millisSince(start, std::strtoll(rec[0].c_str(), nullptr, 10));
    r.options.assign(rec.begin() + 1, rec.end());
  }
  if (!probes.empty()) r.probes = static_cast<int>(lines(readWhole(probes)).size());
  return r;
}

void emptyVersionCache() {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    RegDeleteTreeW(root, L"SOFTWARE\\tarnwick-labs\\pelto\\jvms");
}

// The block as the launcher reads it: open the file, locate, read, apply the locale sections.
double blockLoadMillis(const std::wstring& path, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    long long start = now();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    ByteSource source = fileByteSource(h);
    ConfigError e = loadConfigFromSource(source, [] { return detectLocale(); });
    CloseHandle(h);
    times.push_back(millisSince(start, now()));
    if (e) return -1;
  }
  return median(times);
}

bool writeImage(const std::wstring& path, const ConfigBlock& block) {
  std::vector<unsigned char> image = minimalLauncherImage();
  std::vector<unsigned char> bytes = encodeConfigBlock(block);
  image.insert(image.end(), bytes.begin(), bytes.end());
  return test::writeWhole(path, std::string(image.begin(), image.end()));
}

// 10,000 entries (8,000 narrow, 2,000 wide) and 50 locale sections of 20 entries each.
ConfigBlock largeBlock() {
  ConfigBlock b;
  for (int i = 0; i < 8000; ++i)
    b.strings.emplace_back(30000 + i, "value number " + std::to_string(i) + " of the benchmark block");
  for (int i = 0; i < 2000; ++i) b.wide.emplace_back(40000 + i, u"wide message text of the benchmark {0}");
  for (int s = 0; s < 50; ++s) {
    LocaleSection section;
    section.key = s % 2 ? "de" : "x" + std::to_string(s);
    for (int i = 0; i < 20; ++i) section.entries.emplace_back(40000 + i, u"\u00DCbersetzung {0}");
    b.locales.push_back(std::move(section));
  }
  b.describeFiles = false;
  return b;
}

struct Row {
  std::string what, measured, target, verdict;
};

std::string fixed(double v, const char* unit) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f %s", v, unit);
  return buf;
}

}  // namespace
}  // namespace pelto

int wmain(int argc, wchar_t** argv) {
  using namespace pelto;
  QueryPerformanceFrequency(&Frequency);
  int runs = 15;
  std::wstring jvm, minimal, launcher, cached, probe, search, probeLog;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::wstring k = argv[i], v = argv[i + 1];
    if (k == L"--runs")
      runs = std::max(1, _wtoi(v.c_str()));
    else if (k == L"--jvm")
      jvm = v;
    else if (k == L"--minimal")
      minimal = v;
    else if (k == L"--launcher")
      launcher = v;
    else if (k == L"--cached")
      cached = v;
    else if (k == L"--probe")
      probe = v;
    else if (k == L"--search")
      search = v;
    else if (k == L"--probe-log")
      probeLog = v;
    else {
      std::fwprintf(stderr, L"unknown option %ls\n", k.c_str());
      return 2;
    }
  }
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  WorkDir = std::wstring(tmp) + L"pelto_bench_" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(WorkDir.c_str(), nullptr);
  std::vector<Row> rows;

  // Launch overhead, every case interleaved run by run so that they share the machine's state.
  struct Case {
    const char* name;
    std::wstring exe;
    bool emptyCache;
    std::vector<double> times;
    std::vector<int> probes;
    std::vector<std::string> options;
    int missed = 0;
  };
  std::vector<Case> cases;
  if (!cached.empty()) cases.push_back({"packed launcher, cached runtime", cached, false, {}, {}, {}, 0});
  if (!probe.empty()) cases.push_back({"packed launcher, empty version cache", probe, true, {}, {}, {}, 0});
  if (!search.empty())
    cases.push_back({"packed launcher, ten failing places first", search, false, {}, {}, {}, 0});
  // The minimal loader gets the options the cached launcher handed over (fixed ones without it).
  std::vector<std::string> options = {"-Djava.class.path=app.jar", "-Xmx64m",
                                      "-Dpelto.tempDir=C:\\temp\\bench"};
  for (Case& c : cases) {  // warm-up: fills the cache and the system's file cache
    RunResult r = runOnce(c.exe, {L"/run"}, probeLog);
    if (&c == &cases.front() && r.reached) options = r.options;
  }
  std::vector<std::wstring> minimalArgs = {jvm};
  for (const auto& o : options) minimalArgs.push_back(widen(o));
  Case loader{"minimal loader", minimal, false, {}, {}, {}, 0};
  runOnce(minimal, minimalArgs, probeLog);
  for (int i = 0; i < runs; ++i) {
    RunResult m = runOnce(minimal, minimalArgs, probeLog);
    if (m.reached)
      loader.times.push_back(m.millis);
    else
      ++loader.missed;
    for (Case& c : cases) {
      if (c.emptyCache) emptyVersionCache();
      RunResult r = runOnce(c.exe, {L"/run"}, probeLog);
      if (r.reached)
        c.times.push_back(r.millis);
      else
        ++c.missed;
      c.probes.push_back(r.probes);
    }
  }
  double base = median(loader.times);
  rows.push_back({"minimal loader: start to JNI_CreateJavaVM (median of " + std::to_string(runs) + ")",
                  loader.missed ? "not reached" : fixed(base, "ms"), "reference",
                  loader.missed ? "FAIL" : "-"});
  if (cases.empty())
    rows.push_back({"packed launcher: start to JNI_CreateJavaVM", "not measured (no packed launcher given)",
                    "within 1.3x the minimal loader", "n/a"});
  for (Case& c : cases) {
    if (c.times.empty()) {
      rows.push_back({std::string(c.name) + ": start to JNI_CreateJavaVM", "not reached", "", "FAIL"});
      continue;
    }
    double t = median(c.times);
    char ratio[64];
    std::snprintf(ratio, sizeof ratio, "%.2f ms (%.2fx)", t, t / base);
    bool isCached = !c.emptyCache && &c == &cases.front();
    std::string target = isCached ? "within 1.3x the minimal loader" : "";
    std::string verdict = isCached ? (t <= 1.3 * base ? "ok" : "FAIL") : "-";
    if (c.missed) verdict = "FAIL (" + std::to_string(c.missed) + " runs not reached)";
    rows.push_back({std::string(c.name) + ": start to JNI_CreateJavaVM", ratio, target, verdict});
    if (!probeLog.empty()) {
      int most = *std::max_element(c.probes.begin(), c.probes.end());
      int least = *std::min_element(c.probes.begin(), c.probes.end());
      std::string measured =
          least == most ? std::to_string(most) : std::to_string(least) + "-" + std::to_string(most);
      rows.push_back({std::string(c.name) + ": probe processes per launch", measured, isCached ? "0" : "",
                      isCached ? (most == 0 ? "ok" : "FAIL") : "-"});
    }
  }

  // Block load, in this process, through the launcher's own reader.
  std::wstring big = WorkDir + L"\\big-block.exe", empty = WorkDir + L"\\empty-block.exe";
  ConfigBlock none;
  none.describeFiles = false;
  double bigMs = -1, emptyMs = -1;
  if (writeImage(big, largeBlock()) && writeImage(empty, none)) {
    blockLoadMillis(big, 2);
    bigMs = blockLoadMillis(big, std::max(runs, 5));
    emptyMs = blockLoadMillis(empty, std::max(runs, 5));
  }
  rows.push_back(
      {"block load, empty block", emptyMs < 0 ? "failed" : fixed(emptyMs, "ms"), "reference", "-"});
  rows.push_back({"block load, 10,000 entries and 50 locale sections",
                  bigMs < 0 ? "failed" : fixed(bigMs, "ms"), "under 20 ms",
                  bigMs >= 0 && bigMs < 20 ? "ok" : "FAIL"});
  DeleteFileW(big.c_str());
  DeleteFileW(empty.c_str());

  // Size of the launcher as built (the build strips it).
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!launcher.empty() && GetFileAttributesExW(launcher.c_str(), GetFileExInfoStandard, &data)) {
    unsigned long long bytes = data.nFileSizeLow | static_cast<unsigned long long>(data.nFileSizeHigh) << 32;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%llu bytes (%.1f KiB)", bytes, static_cast<double>(bytes) / 1024.0);
    rows.push_back({"launcher size, stripped", buf, "at most 256 KiB", bytes <= 262144 ? "ok" : "FAIL"});
  }
  DeleteFileW((WorkDir + L"\\jvm-entry.txt").c_str());
  RemoveDirectoryW(WorkDir.c_str());

  std::printf("| What | Measured | Target | Verdict |\n|---|---|---|---|\n");
  for (const Row& r : rows)
    std::printf("| %s | %s | %s | %s |\n", r.what.c_str(), r.measured.c_str(), r.target.c_str(),
                r.verdict.c_str());
  return 0;
}
