// The packed example end to end, driven by the step scripts in cases/*.steps: each script lays
// the example out in a folder of its own with a runtime of test doubles beside it (the java.exe
// and jvm.dll doubles, which write what they were given to a record file, as a service does not
// inherit the test's environment), runs it as a console user or through Wine's service manager,
// and checks exit codes, output, the launcher's log and the record. PELTO_SCRIPTS selects the
// scripts (a file pattern); the steps are described in cases/README.md.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <memory>
#include <string>
#include <vector>

#include "env/Handles.h"
#include "jre/RuntimeLayoutWin.h"
#include "launcher/ChildProcessWin.h"
#include "launcher/CommandLine.h"
#include "support/DoublesWin.h"

namespace pelto {
namespace {

using Words = std::vector<std::string>;

std::string narrow(const std::wstring& w) {
  return std::string(w.begin(), w.end());
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::size_t linesOf(const std::string& all, const std::string& prefix, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t pos = 0, end; pos < all.size(); pos = end + 1) {
    end = std::min(all.find('\n', pos), all.size());
    std::string line = all.substr(pos, end - pos);
    n += line.rfind(prefix, 0) == 0 && line.find(part) != std::string::npos;
  }
  return n;
}

DWORD servicePid(const std::string& name) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
  QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                       &needed);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return status.dwProcessId;
}

bool processEnds(DWORD pid, DWORD ms) {
  UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process any more
  return WaitForSingleObject(process.get(), ms) == WAIT_OBJECT_0;
}

DWORD childOf(DWORD parent) {
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  for (bool more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry))
    if (parent && entry.th32ParentProcessID == parent && lstrcmpiW(entry.szExeFile, L"HelloService.exe") == 0)
      return entry.th32ProcessID;
  return 0;
}

class Script {
 public:
  ~Script() {
    for (const Words& undo : undo_) step(undo);
    for (const std::string& key : keys_) test::deleteKeyTree(HKEY_CURRENT_USER, key);
    env_.clear();
    for (int i = 0; i < 20 && GetFileAttributesA(dir_.c_str()) != INVALID_FILE_ATTRIBUTES; ++i, Sleep(250))
      test::removeTreeA(dir_);
  }

  void step(Words w) {
    for (std::string& word : w)
      word = replaced(
          replaced(replaced(replaced(word, "{dir}", dir_), "\\n", "\n"), "{long}", std::string(7000, 'x')),
          "{cache}", keys_.empty() ? "" : keys_.front());
    for (std::string& word : w) word = replaced(word, "{user}", userName());
    const std::string& op = w[0];
    const std::string arg = w.size() > 1 ? w[1] : "", all = w.size() > 2 ? w[2] : "";
    const HKEY root = arg == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    if (op == "layout")
      layout(arg, w.size() > 2 ? w[2] : "svcapp");
    else if (op == "exe")
      EXPECT_TRUE(CopyFileW((PELTO_SERVICE_TEST_DIR L"\\" + test::wide(arg)).c_str(),
                            test::wide(dir_ + "\\HelloService.exe").c_str(), FALSE));
    else if (op == "main")
      model(dir_ + "\\" + (all.empty() ? "jre" : all), arg);
    else if (op == "runtime")
      runtime(dir_ + "\\" + arg);
    else if (op == "write")
      test::writeText(test::wide(dir_ + "\\" + arg), all);
    else if (op == "remove")
      test::removeTreeA(dir_ + "\\" + arg), DeleteFileA((dir_ + "\\" + arg).c_str());
    else if (op == "env")
      env_.push_back(std::make_unique<test::ScopedEnv>(
          test::wide(arg).c_str(), all == "-" ? std::nullopt : std::optional(test::wide(all))));
    else if (op == "reg")
      setValue(w);
    else if (op == "unreg" && w.size() < 4)
      test::deleteKeyTree(root, all);
    else if (op == "unreg")
      RegDeleteKeyValueA(root, all.c_str(), w[3].c_str());
    else if (op == "value")
      EXPECT_EQ(valueText(root, all, w[3]), w[4]);
    else if (op == "undo")
      undo_.emplace_back(w.begin() + 1, w.end());
    else if (op == "run")
      run(Words(w.begin() + 1, w.end()));
    else if (op == "exit")
      EXPECT_EQ(std::to_string(last_.exitCode), arg) << out_;
    else if (op == "is")
      EXPECT_EQ(out_, arg);
    else if (op == "out")
      EXPECT_NE(out_.find(arg), std::string::npos) << out_;
    else if (op == "no")
      EXPECT_EQ((out_ + log_).find(arg), std::string::npos) << out_ << log_;
    else if (op == "input")
      input_ = arg;
    else if (op == "double")
      EXPECT_TRUE(test::copyDouble(L"java", L"java.exe", test::wide(dir_ + "\\" + arg)));
    else if (op == "file")
      EXPECT_TRUE(waitForFile(arg, [&](const std::string& text) { return text == all; })) << arg;
    else if (op == "has")
      EXPECT_TRUE(waitForFile(arg, [&](const std::string& text) { return text.find(all) != text.npos; }))
          << arg;
    else if (op == "took")
      EXPECT_LT(lastMs_, std::stoul(arg));
    else if (op == "stopped")
      stopped(std::stoul(arg), std::stoul(all));
    else if (op == "pids")
      pids();
    else if (op == "ended")
      ended(std::stoul(arg));
    else if (op == "log")
      EXPECT_NE(log_.find(arg), std::string::npos) << log_;
    else if (op == "events")
      events(arg, std::stoul(all), w.size() > 3 ? w[3] : "", w.size() > 4 ? w[4] : "jre");
    else if (op == "left")
      left(arg, all, std::stoul(w[3]));
    else if (op == "folders")
      folders(std::stoul(arg), std::stoul(all));
    else if (op == "status")
      status(std::stoul(arg), all);
    else if (op == "kill")
      kill(arg == "child", std::stoul(all), w[3]);
    else if (op == "keep")
      CopyFileA((dir_ + "\\jre-record.jsonl").c_str(), (narrow(PELTO_JVM_RECORDS_DIR) + "\\" + arg).c_str(),
                FALSE);
    else
      ADD_FAILURE() << "unknown step " << op;
  }

 private:
  void layout(const std::string& name, const std::string& tag) {
    name_ = name;
    dir_ = narrow(test::uniqueDir(test::wide(tag).c_str()));
    ASSERT_TRUE(CopyFileW(PELTO_SERVICE_E2E_EXE, test::wide(dir_ + "\\HelloService.exe").c_str(), FALSE));
    test::writeText(test::wide(dir_ + "\\lib\\hello-service.jar"), "placeholder");
    runtime(dir_ + "\\jre");
    undo_ = {{"run", "/stop", name}, {"run", "/uninstall", name}};
    step({"run", "/uninstall", name});  // a leftover of an earlier, aborted run
  }
  void runtime(const std::string& home) {
    ASSERT_TRUE(test::copyDouble(L"java", L"java.exe", test::wide(home + "\\bin\\java.exe")));
    ASSERT_TRUE(test::copyDouble(L"jvm", L"jvm.dll", test::wide(home + "\\bin\\server\\jvm.dll")));
    test::writeText(test::wide(home + "\\bin\\java-double.txt"),
                    "0\nopenjdk version \"17.0.2\" 2022-01-18\n");
    model(home, "return");
    std::string java = home + "\\bin\\java.exe";
    CharLowerBuffA(java.data(), static_cast<DWORD>(java.size()));
    keys_.push_back(versionCacheKey(java));
  }
  // The JVM double's main: "return", "stdin 0" (reads its input until the stop line), "throw ...".
  void model(const std::string& home, const std::string& main) {
    test::writeText(test::wide(home + "\\bin\\server\\jvm-double.txt"),
                    "method com/pelto/runtime/WinLauncher main ([Ljava/lang/String;)V\nmain " + main +
                        "\nrecord " + home + "-record.jsonl\n");
  }
  // A registry value as text, its NULs written "|"; "<none>" when missing.
  static std::string valueText(HKEY root, const std::string& key, const std::string& name) {
    char buf[4096];
    DWORD size = sizeof buf, type = 0;
    if (RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, buf, &size) !=
        ERROR_SUCCESS)
      return "<none>";
    if (type == REG_DWORD) return std::to_string(*reinterpret_cast<const DWORD*>(buf));
    if (type == REG_SZ) return std::string(buf, strnlen(buf, size));
    return replaced(std::string(buf, size), std::string(1, '\0'), "|");
  }
  // left DIR PREFIX N: N names in DIR start with PREFIX.
  void left(const std::string& dir, const std::string& prefix, std::size_t n) {
    std::size_t found = 0;
    for (const std::wstring& name : test::listDir(test::wide(dir_ + "\\" + dir)))
      found += narrow(name).rfind(prefix, 0) == 0;
    EXPECT_EQ(found, n) << dir << "\\" << prefix;
  }
  // folders N GONE: the record names N per-launch folders, the first GONE of them are gone and
  // the others still stand.
  void folders(std::size_t n, std::size_t gone) {
    const std::string tag = "\"-Dpelto.tempDir=",
                      all = test::readWhole(test::wide(dir_ + "\\jre-record.jsonl"));
    std::vector<std::string> found;
    for (std::size_t at = all.find(tag); at != std::string::npos; at = all.find(tag, at + 1)) {
      std::string folder;
      for (std::size_t i = at + tag.size(); i < all.size() && all[i] != '"'; ++i) {
        if (all[i] == '\\') ++i;  // JSON doubles the backslashes
        folder += all[i];
      }
      found.push_back(folder);
    }
    ASSERT_EQ(found.size(), n) << all;
    for (std::size_t i = 0; i < n; ++i)
      EXPECT_EQ(GetFileAttributesA(found[i].c_str()) == INVALID_FILE_ATTRIBUTES, i < gone) << found[i];
  }
  // reg ROOT KEY NAME TYPE DATA: text for sz, a number for dword, hex bytes for binary/qword.
  void setValue(const Words& w) {
    HKEY root = w[1] == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, key = nullptr;
    const std::string& path = w[2];
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
    const DWORD type = w[4] == "sz"      ? REG_SZ
                       : w[4] == "dword" ? REG_DWORD
                       : w[4] == "qword" ? REG_QWORD
                                         : REG_BINARY;
    std::string data = w[5];
    if (type == REG_DWORD) {
      DWORD v = std::stoul(w[5], nullptr, 0);
      data.assign(reinterpret_cast<const char*>(&v), 4);
    } else if (type != REG_SZ) {
      data.clear();
      for (std::size_t i = 0; i + 1 < w[5].size(); i += 2)
        data.push_back(static_cast<char>(std::stoi(w[5].substr(i, 2), nullptr, 16)));
    }
    RegSetValueExA(key, w[3].c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size() + (type == REG_SZ)));
    RegCloseKey(key);
    undo_.push_back({"unreg", w[1], path, w[3]});
  }
  void run(const Words& words) {
    std::u16string cmd = quoteArgument(utf8ToUtf16(dir_ + "\\HelloService.exe"));
    for (const std::string& word : words) cmd += u" " + quoteArgument(utf8ToUtf16(word));
    wchar_t temp[MAX_PATH];
    std::wstring logDir(temp, GetEnvironmentVariableW(L"TMP", temp, MAX_PATH));
    for (const std::wstring& name : test::listDir(logDir))
      if (name.rfind(L"qvx_nlog_", 0) == 0) DeleteFileW((logDir + L"\\" + name).c_str());
    const DWORD started = GetTickCount();
    for (int attempt = 0; attempt < 5 && (attempt == 0 || last_.startError); ++attempt, Sleep(200))
      last_ =
          test::runCommand(asW(cmd), 90000, {}, input_);  // a fresh copy is now and then refused under load
    input_.reset();
    lastMs_ = GetTickCount() - started;
    out_ = last_.out + last_.err;
    log_.clear();
    for (const std::wstring& name : test::listDir(logDir))
      if (name.rfind(L"qvx_nlog_", 0) == 0) log_ += test::readWhole(logDir + L"\\" + name);
  }
  // events EVENT N [PART] [RECORD]: waits until RECORD holds N lines of EVENT holding PART.
  void events(const std::string& event, std::size_t n, const std::string& part, const std::string& record) {
    const std::string prefix = "{\"event\":\"" + event + "\"";
    std::size_t got = 0;
    const std::wstring path = test::wide(dir_ + "\\" + record + "-record.jsonl");
    for (int waited = 0; (got = linesOf(test::readWhole(path), prefix, part)) < n && waited < 30000;
         waited += 100)
      Sleep(100);
    EXPECT_EQ(got, n) << event << " " << part << "\n" << test::readWhole(path);
  }
  void status(DWORD code, const std::string& text) {
    for (int waited = 0; waited < 30000; waited += 250, Sleep(250)) {
      step({"run", "/status", name_});
      if (last_.exitCode == code) break;
    }
    step({"exit", std::to_string(code)});
    EXPECT_EQ(out_.substr(0, text.size()), text);
  }
  // kill child|service CODE [CODE-OF-THE-OTHER]: ends one of the service's two processes and
  // waits for both to end, the other with its own exit code.
  void kill(bool child, UINT code, const std::string& otherCode) {
    DWORD service = servicePid(name_), ids[2] = {service, childOf(service)};
    UniqueHandle victim(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, ids[child]));
    UniqueHandle other(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, ids[!child]));
    ASSERT_TRUE(victim && other && TerminateProcess(victim.get(), code));
    ASSERT_EQ(WaitForSingleObject(other.get(), 20000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(other.get(), &exitCode);
    if (otherCode != "-") {
      EXPECT_EQ(std::to_string(exitCode), otherCode);
    }
  }

  // Waits up to ten seconds for a file of the folder to satisfy the check.
  template <class Check>
  bool waitForFile(const std::string& file, Check check) {
    for (int waited = 0; waited < 10000; waited += 100, Sleep(100))
      if (check(test::readWhole(test::wide(dir_ + "\\" + file)))) return true;
    return false;
  }
  // stopped WIN32 SPECIFIC: the manager shows the service stopped with these exit codes.
  void stopped(DWORD win32, DWORD specific) {
    SERVICE_STATUS status{};
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, name_.c_str(), SERVICE_QUERY_STATUS);
    QueryServiceStatus(service, &status);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, win32);
    EXPECT_EQ(status.dwServiceSpecificExitCode, specific);
  }
  // pids: the running service's child and every process the record says the JVM spawned; the
  // step "ended MS" then waits for each to end.
  void pids() {
    pids_ = {childOf(servicePid(name_))};
    const std::string all = test::readWhole(test::wide(dir_ + "\\jre-record.jsonl")), tag = "\"pid\":";
    for (std::size_t at = all.find(tag); at != std::string::npos; at = all.find(tag, at + 1))
      pids_.push_back(static_cast<DWORD>(std::stoul(all.substr(at + tag.size()))));
    EXPECT_GT(pids_.size(), 1u);
    EXPECT_NE(pids_[0], 0u);
  }
  void ended(DWORD ms) {
    for (DWORD pid : pids_) EXPECT_TRUE(processEnds(pid, ms)) << pid;
  }
  static std::string userName() {
    char user[256];
    DWORD size = sizeof user;
    return GetUserNameA(user, &size) ? user : "";
  }

  std::string name_, dir_, out_, log_;
  std::optional<std::string> input_;  // standard input of the next run
  DWORD lastMs_ = 0;                  // how long the last run took
  std::vector<DWORD> pids_;
  test::ChildResult last_;
  std::vector<Words> undo_;
  std::vector<std::string> keys_;
  std::vector<std::unique_ptr<test::ScopedEnv>> env_;
};

TEST(Scripts, EachScriptRunsToItsEnd) {
  wchar_t only[64] = L"";
  GetEnvironmentVariableW(L"PELTO_SCRIPTS", only, 64);
  const std::wstring dir = PELTO_SERVICE_CASES;
  for (const std::wstring& name : test::listDir(dir)) {
    if (!name.ends_with(L".steps") || (*only && name != only)) continue;
    Script script;
    std::string text = test::readWhole(dir + L"\\" + name);
    int number = 0;
    for (std::size_t pos = 0, end; pos < text.size(); pos = end + 1) {
      end = std::min(text.find('\n', pos), text.size());
      Words words;
      splitCommandLine(std::string_view(text).substr(pos, end - pos), words);
      SCOPED_TRACE(narrow(name) + ":" + std::to_string(++number));
      if (!words.empty() && words[0][0] != '#') script.step(words);
      if (testing::Test::HasFatalFailure()) return;
    }
  }
}

}  // namespace
}  // namespace pelto
