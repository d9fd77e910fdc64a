#pragma once
// The packed example in a folder of its own with a runtime of test doubles beside it (the
// java.exe and jvm.dll doubles), run as a console user or a service would run it. A service
// does not inherit the test's environment, so the doubles find their model and record file
// beside them.
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "env/Handles.h"
#include "jre/RuntimeLayoutWin.h"
#include "launcher/ChildProcessWin.h"
#include "service/LauncherRunWin.h"
#include "support/DoublesWin.h"

namespace pelto::test {

const std::wstring PackedExe = PELTO_SERVICE_E2E_EXE;

inline std::string narrow(const std::wstring& w) {
  return std::string(w.begin(), w.end());
}

// One packed service in a folder of its own with a runtime beside it; stopped, uninstalled and
// removed again however the test ends.
class ServiceLayout {
 public:
  ServiceLayout(std::wstring name, const std::string& mainAction, const wchar_t* folderTag = L"svcapp")
      : name_(std::move(name)) {
    dir_ = uniqueDir(folderTag);
    exe_ = dir_ + L"\\HelloService.exe";
    record_ = dir_ + L"\\jvm-record.jsonl";
    makeDirs(dir_);
    copied_ = CopyFileW(PackedExe.c_str(), exe_.c_str(), FALSE) != 0;
    writeText(dir_ + L"\\lib\\hello-service.jar", "placeholder");
    const std::wstring bin = dir_ + L"\\jre\\bin\\";
    copied_ = copyDouble(L"java", L"java.exe", bin + L"java.exe") && copied_;
    copied_ = copyDouble(L"jvm", L"jvm.dll", bin + L"server\\jvm.dll") && copied_;
    writeText(bin + L"java-double.txt", "0\nopenjdk version \"17.0.2\" 2022-01-18\n");
    std::string model = "method com/pelto/runtime/WinLauncher main ([Ljava/lang/String;)V\n";
    model += "main " + mainAction + "\n";
    model += "record " + narrow(record_) + "\n";
    writeText(bin + L"server\\jvm-double.txt", model);
    runLauncher(exe_, {L"/uninstall", name_});  // a leftover of an earlier, aborted run
  }
  ~ServiceLayout() {
    runLauncher(exe_, {L"/stop", name_});
    runLauncher(exe_, {L"/uninstall", name_});
    deleteKeyTree(HKEY_CURRENT_USER, versionCacheKey(javaExe()));
    // The process-id entry every launch of this executable wrote.
    std::string exe = narrow(exe_);
    CharLowerBuffA(exe.data(), static_cast<DWORD>(exe.size()));
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "SOFTWARE\\tarnwick-labs\\pelto\\pids", exe.c_str());
    // A child that ends normally leaves its launch's temporary folder in place by design.
    for (const std::string& folder : launchFolders())
      if (folder.find(".tmp_dir") != std::string::npos) removeTreeA(folder);
    // The child may take a moment to let go of its files after a stop.
    for (int i = 0; i < 20; ++i) {
      removeTreeA(narrow(dir_));
      if (GetFileAttributesW(dir_.c_str()) == INVALID_FILE_ATTRIBUTES) break;
      Sleep(250);
    }
  }
  ServiceLayout(const ServiceLayout&) = delete;
  ServiceLayout& operator=(const ServiceLayout&) = delete;

  bool ready() const { return copied_; }
  const std::wstring& dir() const { return dir_; }
  const std::wstring& recordPath() const { return record_; }
  // A file of the layout, relative to its folder, written whole.
  void writeFile(const std::wstring& relative, const std::string& text) const {
    writeText(dir_ + L"\\" + relative, text);
  }
  // The java.exe double's model (exit code or sleep/garbage/crash first, then its output).
  void writeJavaModel(const std::string& model) const {
    writeText(dir_ + L"\\jre\\bin\\java-double.txt", model);
  }
  // The runtime's java.exe as the launcher names it: absolute and in lower case.
  std::string javaExe() const {
    std::string java = narrow(dir_ + L"\\jre\\bin\\java.exe");
    CharLowerBuffA(java.data(), static_cast<DWORD>(java.size()));
    return java;
  }
  // The packed executable run with these words, as from a console.
  LauncherRun run(const std::vector<std::wstring>& words) const { return runLauncher(exe_, words); }
  void removeAppJar() const { DeleteFileW((dir_ + L"\\lib\\hello-service.jar").c_str()); }
  void removeRuntime() const { removeTreeA(narrow(dir_ + L"\\jre")); }
  void writeModel(const std::string& model) const {
    writeText(dir_ + L"\\jre\\bin\\server\\jvm-double.txt", model + "record " + narrow(record_) + "\n");
  }
  // The per-launch folder the JVM was told of (JSON escapes undone), or "".
  std::string launchFolder() const {
    std::vector<std::string> folders = launchFolders();
    return folders.empty() ? std::string() : folders.front();
  }
  // Every per-launch folder the JVMs were told of, in launch order.
  std::vector<std::string> launchFolders() const {
    std::vector<std::string> folders;
    const std::string tag = "\"-Dpelto.tempDir=";
    for (const std::string& line : events("createJavaVM")) {
      std::size_t at = line.find(tag);
      if (at == std::string::npos) continue;
      std::string plain;
      for (std::size_t i = at + tag.size(); i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;  // JSON escapes of the backslashes
        plain += line[i];
      }
      folders.push_back(plain);
    }
    return folders;
  }
  LauncherRun verb(const wchar_t* verb, std::vector<std::wstring> more = {}) const {
    more.insert(more.begin(), {verb, name_});
    return runLauncher(exe_, more);
  }
  std::string record() const { return readWhole(record_); }
  // Keeps the record for the Java contract test, which replays it on a real JVM.
  void keepRecord(const wchar_t* name) const {
    CopyFileW(record_.c_str(), (std::wstring(PELTO_JVM_RECORDS_DIR) + L"\\" + name).c_str(), FALSE);
  }
  // The record's lines holding `event`.
  std::vector<std::string> events(const std::string& event) const {
    std::vector<std::string> lines;
    std::string all = record();
    std::string tag = "{\"event\":\"" + event + "\"";
    std::size_t pos = 0;
    while (pos < all.size()) {
      std::size_t end = all.find('\n', pos);
      if (end == std::string::npos) end = all.size();
      std::string line = all.substr(pos, end - pos);
      if (line.rfind(tag, 0) == 0) lines.push_back(line);
      pos = end + 1;
    }
    return lines;
  }
  // Waits until the record holds `count` lines of `event`.
  bool waitFor(const std::string& event, std::size_t count = 1, int ms = 30000) const {
    for (int waited = 0; waited < ms; waited += 100) {
      if (events(event).size() >= count) return true;
      Sleep(100);
    }
    return false;
  }
  // The process the manager names for the service (0 when it names none).
  DWORD processId() const {
    DWORD pid = 0;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, name_.c_str(), SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (service && QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                        sizeof status, &needed))
      pid = status.dwProcessId;
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return pid;
  }
  // The hosting children the service process `parent` has started, found by their parent.
  std::vector<DWORD> childrenOf(DWORD parent) const {
    std::vector<DWORD> ids;
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return ids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (bool more = Process32FirstW(snapshot.get(), &entry) != 0; more;
         more = Process32NextW(snapshot.get(), &entry) != 0)
      if (parent != 0 && entry.th32ParentProcessID == parent &&
          lstrcmpiW(entry.szExeFile, L"HelloService.exe") == 0)
        ids.push_back(entry.th32ProcessID);
    return ids;
  }
  // Waits until /status gives `exitCode`.
  LauncherRun waitForStatus(DWORD exitCode, int ms = 30000) const {
    LauncherRun r;
    for (int waited = 0; waited < ms; waited += 250) {
      r = verb(L"/status");
      if (r.exitCode == exitCode) break;
      Sleep(250);
    }
    return r;
  }

 private:
  std::wstring name_, dir_, exe_, record_;
  bool copied_ = false;
};

// A second runtime of doubles at `home` (bin\java.exe, bin\server\jvm.dll) whose JVM writes
// its records to `record`; the version cache entry it gets is removed with it.
class ExtraRuntime {
 public:
  ExtraRuntime(std::wstring home, const std::wstring& record) : home_(std::move(home)) {
    const std::wstring bin = home_ + L"\\bin\\";
    makeDirs(bin + L"server");
    ok_ = copyDouble(L"java", L"java.exe", bin + L"java.exe") &&
          copyDouble(L"jvm", L"jvm.dll", bin + L"server\\jvm.dll");
    writeText(bin + L"java-double.txt", "0\nopenjdk version \"17.0.2\" 2022-01-18\n");
    writeText(bin + L"server\\jvm-double.txt",
              "method com/pelto/runtime/WinLauncher main ([Ljava/lang/String;)V\nmain return\nrecord " +
                  narrow(record) + "\n");
  }
  ~ExtraRuntime() {
    std::string java = narrow(home_ + L"\\bin\\java.exe");
    CharLowerBuffA(java.data(), static_cast<DWORD>(java.size()));
    deleteKeyTree(HKEY_CURRENT_USER, versionCacheKey(java));
    removeTreeA(narrow(home_));
  }
  ExtraRuntime(const ExtraRuntime&) = delete;
  ExtraRuntime& operator=(const ExtraRuntime&) = delete;
  bool ready() const { return ok_; }

 private:
  std::wstring home_;
  bool ok_ = false;
};

// The names in `dir` matching `pattern` (e.g. "plo*.tmp_dir*").
inline std::vector<std::wstring> namesIn(const std::wstring& dir, const wchar_t* pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((dir + L"\\" + pattern).c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do names.push_back(found.cFileName);
  while (FindNextFileW(h, &found));
  FindClose(h);
  return names;
}

// Whether process `pid` is gone within `ms`.
inline bool processEnds(DWORD pid, DWORD ms) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process any more
  bool ended = WaitForSingleObject(process, ms) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace pelto::test
