// The benchmark driver: runs each case repeatedly, interleaved, and prints a table of medians.
//   pelto-bench --runs N --jvm JVM.DLL --minimal MINIMAL.EXE --launcher LAUNCHER.EXE
//               [--cached EXE] [--probe EXE] [--search EXE] [--probe-log FILE]
//               [--real-jvm JVM.DLL --reference EXE --real-cached EXE --real-probe EXE
//                --real-search EXE --real-service EXE]
// Launch overhead is the time from just before CreateProcess to the entry of JNI_CreateJavaVM
// in the benchmark's jvm.dll, which notes the performance counter (one clock for all processes)
// and the options it got. --cached, --probe and --search are packed launchers started with
// "run": the first with the version cache kept, the second with it emptied before each run,
// the third with ten failing places before the runtime in its search sequence.
// --probe-log is the file to which the java.exe double appends its lines per run (emptied before
// each run), so that the table can count probe processes per launch: one "run " line each.
// The --real- cases run a real JVM and are measured against the plain C reference, which
// loads the same jvm.dll with the cached launcher's options and calls the main class directly:
// start to the first line of output (the main's only statement) and to the process's end; the
// service through the manager to RUNNING, then the stop to STOPPED.
#include <windows.h>
// After windows.h, which they need.
#include <psapi.h>
#include <tlhelp32.h>

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
  // The double writes a "run " line and an "argv0=" line per run: count the runs.
  if (!probes.empty())
    for (const std::string& line : lines(readWhole(probes))) r.probes += line.rfind("run ", 0) == 0;
  return r;
}

// The middle half of the samples: the 25th and 75th percentiles.
std::pair<double, double> quartiles(std::vector<double> v) {
  if (v.empty()) return {-1, -1};
  std::sort(v.begin(), v.end());
  return {v[(v.size() - 1) / 4], v[(3 * (v.size() - 1) + 3) / 4]};
}

// One process of the real JVM with its output on a pipe: start to the first line and to the end.
struct RealRun {
  double firstLine = -1, end = -1;
  DWORD exitCode = 99;
};

RealRun runReal(const std::wstring& exe, const std::vector<std::wstring>& args) {
  RealRun r;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) return r;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = input;
  si.hStdOutput = si.hStdError = write;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = quoted(exe);
  for (const auto& a : args) cmd += L" " + quoted(a);
  const long long start = now();
  const bool started =
      CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(write);
  CloseHandle(input);
  char buf[4096];
  DWORD n = 0;
  while (started && ReadFile(read, buf, sizeof buf, &n, nullptr) && n)
    if (r.firstLine < 0 && std::find(buf, buf + n, '\n') != buf + n) r.firstLine = millisSince(start, now());
  CloseHandle(read);
  if (!started) return r;
  if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
  r.end = millisSince(start, now());
  GetExitCodeProcess(pi.hProcess, &r.exitCode);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return r;
}

// One start and stop of the real service through the manager.
struct ServiceRun {
  double running = -1, stopped = -1, latency = -1, workingSetKiB = -1;
};

DWORD childOf(DWORD parent) {
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  DWORD found = 0;
  for (bool more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry))
    if (entry.th32ParentProcessID == parent) found = entry.th32ProcessID;
  CloseHandle(snapshot);
  return found;
}

SERVICE_STATUS_PROCESS statusOf(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS s{};
  DWORD needed = 0;
  QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s), sizeof s, &needed);
  return s;
}

// Polls every millisecond until the service is in state (or 30 s have passed); the time taken.
double waitForState(SC_HANDLE service, DWORD state, long long start, HANDLE child = nullptr,
                    double* childEnded = nullptr) {
  for (int i = 0; i < 30000; ++i, Sleep(1)) {
    if (child && *childEnded < 0 && WaitForSingleObject(child, 0) == WAIT_OBJECT_0)
      *childEnded = millisSince(start, now());
    if (statusOf(service).dwCurrentState == state) return millisSince(start, now());
  }
  return -1;
}

ServiceRun runService(SC_HANDLE service) {
  ServiceRun r;
  const wchar_t* args[] = {L"serve"};
  long long start = now();
  if (!StartServiceW(service, 1, args)) return r;
  r.running = waitForState(service, SERVICE_RUNNING, start);
  const DWORD pid = statusOf(service).dwProcessId;
  // Time for the child to bring its JVM up and the supervisor to settle.
  Sleep(1500);
  HANDLE supervisor = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  PROCESS_MEMORY_COUNTERS memory{};
  if (supervisor && GetProcessMemoryInfo(supervisor, &memory, sizeof memory))
    r.workingSetKiB = static_cast<double>(memory.WorkingSetSize) / 1024.0;
  if (supervisor) CloseHandle(supervisor);
  HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, childOf(pid));
  SERVICE_STATUS status{};
  double childEnded = -1;
  start = now();
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    r.stopped = waitForState(service, SERVICE_STOPPED, start, child, &childEnded);
    if (child && childEnded < 0 && WaitForSingleObject(child, 0) == WAIT_OBJECT_0) childEnded = r.stopped;
    if (r.stopped >= 0 && childEnded >= 0) r.latency = r.stopped - childEnded;
  }
  if (child) CloseHandle(child);
  waitForState(service, SERVICE_STOPPED, now());
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

// "median ms (25th-75th percentile)", with the ratio to base when it is given.
std::string spread(const std::vector<double>& v, double base = 0) {
  const auto [low, high] = quartiles(v);
  char buf[128];
  if (base > 0)
    std::snprintf(buf, sizeof buf, "%.1f ms (%.1f-%.1f), %.2fx", median(v), low, high, median(v) / base);
  else
    std::snprintf(buf, sizeof buf, "%.1f ms (%.1f-%.1f)", median(v), low, high);
  return buf;
}

// A case that does strictly more work than another must not measure faster beyond the noise:
// when its middle half lies wholly below the other's, the figure is not trusted.
bool contradicts(const std::vector<double>& more, const std::vector<double>& less) {
  return !more.empty() && !less.empty() && quartiles(more).second < quartiles(less).first;
}

// Series of one measure, and which of them each does strictly more work than.
struct Series {
  std::string name;
  std::vector<double> times;
  int missed = 0;
  int lessWork = -1;  // index of a series that does strictly less, or -1
};

// Rows for series measured against the first; the second's target is the limit (a ratio), when
// one is given.
void seriesRows(std::vector<Row>& rows, const std::vector<Series>& series, const std::string& what,
                double limit) {
  const double base = median(series[0].times);
  for (std::size_t i = 0; i < series.size(); ++i) {
    const Series& c = series[i];
    const bool targeted = i == 1 && limit > 0;
    std::string verdict = targeted ? (median(c.times) <= limit * base ? "ok" : "FAIL") : "-";
    // A ratio is judged only where the noise is smaller than the margin it is judged by.
    auto width = [](const std::vector<double>& v) { return quartiles(v).second - quartiles(v).first; };
    if (targeted && std::max(width(c.times), width(series[0].times)) > (limit - 1) * base)
      verdict = "not trusted: spread wider than the margin";
    if (c.lessWork >= 0 && contradicts(c.times, series[c.lessWork].times))
      verdict = "not trusted: faster than " + series[c.lessWork].name + " beyond the noise";
    if (c.missed || c.times.empty())
      verdict = "FAIL (" + std::to_string(c.missed) + " runs did not end well)";
    char target[64] = "";
    if (targeted) std::snprintf(target, sizeof target, "within %.1fx the reference", limit);
    rows.push_back({c.name + ": " + what, c.times.empty() ? "-" : spread(c.times, i ? base : 0),
                    i == 0 ? "reference" : target, verdict});
  }
}

// The launch folder named by -Dpelto.tempDir in options, or "".
std::string launchFolder(const std::vector<std::string>& options) {
  const std::string tag = "-Dpelto.tempDir=";
  for (const std::string& o : options)
    if (o.rfind(tag, 0) == 0) return o.substr(tag.size());
  return "";
}

}  // namespace
}  // namespace pelto

int wmain(int argc, wchar_t** argv) {
  using namespace pelto;
  QueryPerformanceFrequency(&Frequency);
  int runs = 15;
  std::wstring jvm, minimal, launcher, cached, probe, search, probeLog;
  std::wstring realJvm, reference, realCached, realProbe, realSearch, realService;
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
    else if (k == L"--real-jvm")
      realJvm = v;
    else if (k == L"--reference")
      reference = v;
    else if (k == L"--real-cached")
      realCached = v;
    else if (k == L"--real-probe")
      realProbe = v;
    else if (k == L"--real-search")
      realSearch = v;
    else if (k == L"--real-service")
      realService = v;
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
  // The real JVM's reference loads what the launcher's JVM loads: its pelto-runtime.jar, kept
  // in a folder of the benchmark's own, as the launch folder it came from is swept later.
  std::string kept(MAX_PATH * 2, '\0');
  kept.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_ACP, 0, WorkDir.c_str(), -1, kept.data(),
                                                           static_cast<int>(kept.size()), nullptr, nullptr) -
                                       1));
  kept += "\\launch";
  for (Case& c : cases) {  // warm-up: fills the cache and the system's file cache
    RunResult r = runOnce(c.exe, {L"/run"}, probeLog);
    if (&c == &cases.front() && r.reached) options = r.options;
    if (&c == &cases.front() && r.reached && !launchFolder(options).empty()) {
      CreateDirectoryW(widen(kept).c_str(), nullptr);
      CopyFileW(widen(launchFolder(options) + "\\pelto-runtime.jar").c_str(),
                widen(kept + "\\pelto-runtime.jar").c_str(), FALSE);
    }
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
  // Every packed case against the minimal loader; the empty cache and the ten failing places do
  // strictly more than the cached runtime.
  std::vector<Series> entry = {{"minimal loader", loader.times, loader.missed, -1}};
  for (const Case& c : cases) entry.push_back({c.name, c.times, c.missed, entry.size() == 1 ? 0 : 1});
  if (!cases.empty()) seriesRows(rows, entry, "start to JNI_CreateJavaVM (benchmark jvm.dll)", 1.3);
  for (const Case& c : cases) {
    if (probeLog.empty() || c.probes.empty()) continue;
    const bool isCached = &c == &cases.front();
    int most = *std::max_element(c.probes.begin(), c.probes.end());
    int least = *std::min_element(c.probes.begin(), c.probes.end());
    std::string measured =
        least == most ? std::to_string(most) : std::to_string(least) + "-" + std::to_string(most);
    rows.push_back({std::string(c.name) + ": probe processes per launch", measured, isCached ? "0" : "",
                    isCached ? (most == 0 ? "ok" : "FAIL") : "-"});
  }

  // The real JVM: the packed launchers against the reference, interleaved run by run; the
  // service started and stopped through the manager in the same rounds.
  if (!realJvm.empty() && !reference.empty() && !realCached.empty()) {
    std::vector<std::wstring> referenceArgs = {realJvm, L"bench/Main"};
    const std::string folder = launchFolder(options);
    for (std::string o : options) {
      if (!folder.empty())
        for (std::size_t at = o.find(folder); at != std::string::npos; at = o.find(folder, at + kept.size()))
          o.replace(at, folder.size(), kept);
      referenceArgs.push_back(widen(o));
    }
    struct RealCase {
      std::wstring exe;
      bool emptyCache;
      std::vector<std::wstring> args;
    };
    std::vector<RealCase> real = {{reference, false, referenceArgs}, {realCached, false, {L"/run"}}};
    std::vector<Series> first = {{"reference (plain C)", {}, 0, -1},
                                 {"packed launcher, cached runtime", {}, 0, 0}};
    if (!realProbe.empty()) real.push_back({realProbe, true, {L"/run"}});
    if (!realProbe.empty()) first.push_back({"packed launcher, empty version cache", {}, 0, 1});
    if (!realSearch.empty()) real.push_back({realSearch, false, {L"/run"}});
    if (!realSearch.empty()) first.push_back({"packed launcher, ten failing places first", {}, 0, 1});
    std::vector<Series> end = first;
    SC_HANDLE manager = nullptr, service = nullptr;
    const wchar_t* serviceName = L"PeltoBenchReal";
    if (!realService.empty()) {
      runReal(realService, {L"/uninstall", serviceName});
      runReal(realService, {L"/install", serviceName});
      manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
      service = OpenServiceW(manager, serviceName, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    }
    std::vector<double> running, stopped, latency, workingSet;
    int serviceMissed = 0;
    for (const RealCase& c : real) runReal(c.exe, c.args);  // warm-up
    for (int i = 0; i < runs; ++i) {
      for (std::size_t k = 0; k < real.size(); ++k) {
        if (real[k].emptyCache) emptyVersionCache();
        RealRun r = runReal(real[k].exe, real[k].args);
        const bool ok = r.exitCode == 0 && r.firstLine >= 0;
        ok ? first[k].times.push_back(r.firstLine) : void(++first[k].missed);
        ok ? end[k].times.push_back(r.end) : void(++end[k].missed);
      }
      if (!service) continue;
      ServiceRun s = runService(service);
      if (s.running < 0 || s.stopped < 0 || s.latency < 0) {
        ++serviceMissed;
        continue;
      }
      running.push_back(s.running), stopped.push_back(s.stopped), latency.push_back(s.latency);
      if (s.workingSetKiB >= 0) workingSet.push_back(s.workingSetKiB);
    }
    seriesRows(rows, first, "start to the first line of output (real JVM)", 1.1);
    seriesRows(rows, end, "start to the process's end (real JVM)", 0);
    if (service) {
      const std::string failed = serviceMissed ? "FAIL (" + std::to_string(serviceMissed) + " runs)" : "";
      rows.push_back({"service: start through the manager to RUNNING", spread(running), "",
                      failed.empty() ? "-" : failed});
      rows.push_back(
          {"service: stop request to STOPPED", spread(stopped), "", failed.empty() ? "-" : failed});
      const double m = median(latency);
      rows.push_back({"service: stop latency, STOPPED after the child's exit", spread(latency),
                      "within 1000 ms", failed.empty() ? (m >= 0 && m <= 1000 ? "ok" : "FAIL") : failed});
      char ws[64];
      std::snprintf(ws, sizeof ws, "%.0f KiB", median(workingSet));
      rows.push_back(
          {"service: the supervisor's working set (median)", workingSet.empty() ? "-" : ws, "", "-"});
      CloseServiceHandle(service);
      CloseServiceHandle(manager);
      runReal(realService, {L"/uninstall", serviceName});
    }
  }
  DeleteFileW(widen(kept + "\\pelto-runtime.jar").c_str());
  RemoveDirectoryW(widen(kept).c_str());

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
    rows.push_back({"launcher size, stripped", buf, "at most 384 KiB", bytes <= 384 * 1024 ? "ok" : "FAIL"});
  }
  DeleteFileW((WorkDir + L"\\jvm-entry.txt").c_str());
  RemoveDirectoryW(WorkDir.c_str());

  std::printf("| What | Measured | Target | Verdict |\n|---|---|---|---|\n");
  for (const Row& r : rows)
    std::printf("| %s | %s | %s | %s |\n", r.what.c_str(), r.measured.c_str(), r.target.c_str(),
                r.verdict.c_str());
  return 0;
}
