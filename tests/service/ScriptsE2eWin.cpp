// The packed example end to end, driven by the step scripts in cases/*.steps: each script lays
// the example out in a folder of its own with a runtime of test doubles beside it (the java.exe
// and jvm.dll doubles, which write what they were given to a record file, as a service does not
// inherit the test's environment), runs it as a console user or through Wine's service manager,
// and checks exit codes, output, the launcher's log and the record. PELTO_SCRIPTS selects the
// scripts (a file pattern); the steps are described in cases/README.md.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <sddl.h>
#include <tlhelp32.h>

#include <algorithm>
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
using test::wide;

std::string narrow(const std::wstring& w) {
  return std::string(w.begin(), w.end());
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string hex(const char* bytes, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size; ++i)
    out += "0123456789abcdef"[(bytes[i] >> 4) & 15], out += "0123456789abcdef"[bytes[i] & 15];
  return out;
}

// The state, exit codes and process id the manager shows for the service.
SERVICE_STATUS_PROCESS serviceStatus(const std::string& name) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
  QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                       &needed);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return status;
}

// The SID of the account the tests run as, which names its folder of launch folders.
std::string userSid() {
  HANDLE token = nullptr;
  char buf[256], *text = nullptr;
  DWORD size = 0;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  bool ok = GetTokenInformation(token, TokenUser, buf, sizeof buf, &size) &&
            ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buf)->User.Sid, &text);
  CloseHandle(token);
  std::string sid = ok ? text : "";
  LocalFree(text);
  return sid;
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

// Waits up to ms, in steps of 100 ms, for done() to hold.
template <class Done>
bool waitFor(int ms, Done done) {
  for (int waited = 0; !done(); waited += 100, Sleep(100))
    if (waited >= ms) return false;
  return true;
}

void expect(bool ok, const std::string& context) {
  EXPECT_TRUE(ok) << context;
}
void expectEq(const std::string& got, const std::string& want, const std::string& context = "") {
  EXPECT_EQ(got, want) << context;
}

class Script {
 public:
  ~Script() {
    for (const Words& undo : undo_) step(undo);
    for (const std::string& key : keys_) test::deleteKeyTree(HKEY_CURRENT_USER, key);
    env_.clear();
    waitFor(5000, [&] {
      return test::removeTreeA(dir_), GetFileAttributesA(dir_.c_str()) == INVALID_FILE_ATTRIBUTES;
    });
  }

  void step(Words w) {
    char user[256];
    DWORD userSize = sizeof user;
    WIN32_FILE_ATTRIBUTE_DATA java{};
    GetFileAttributesExA((dir_ + "\\jre\\bin\\java.exe").c_str(), GetFileExInfoStandard, &java);
    const std::pair<std::string, std::string> marks[] = {
        {"\\n", "\n"},
        {"{dir}", dir_},
        {"{long}", std::string(7000, 'x')},
        {"{cache}", keys_.empty() ? "" : keys_.front()},
        {"{pid}", std::to_string(last_.pid)},
        {"{user}", GetUserNameA(user, &userSize) ? user : ""},
        {"{sid}", userSid()},
        {"{time}", hex(reinterpret_cast<const char*>(&java.ftLastWriteTime), 8)}};
    for (std::string& word : w) {
      for (const auto& [from, to] : marks) word = replaced(word, from, to);
      const std::size_t mark = word.find("{upto:"), end = word.find('}', mark);
      if (mark != std::string::npos)
        word.replace(mark, end + 1 - mark, std::stoul(word.substr(mark + 6)) + end + 1 - mark - word.size(),
                     'x');
    }
    const std::string op = w[0], a = w.size() > 1 ? w[1] : "", b = w.size() > 2 ? w[2] : "";
    const HKEY root = a == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    if (op == "layout") layout(a, w.size() > 2 ? b : "svcapp");
    if (op == "avian") avian();
    if (op == "exe")
      expect(CopyFileW((PELTO_SERVICE_TEST_DIR L"\\" + wide(a)).c_str(), wide(at("HelloService.exe")).c_str(),
                       FALSE),
             a);
    if (op == "main") model(at(b.empty() ? "jre" : b), a);
    if (op == "runtime") runtime(at(a));
    if (op == "write") test::writeText(wide(at(a)), b);
    if (op == "remove") test::removeTreeA(at(a)), DeleteFileA(at(a).c_str());
    if (op == "lock")
      locked_.reset(
          CreateFileA(at(a).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (op == "tail")
      tailed_.reset(a == "-" ? INVALID_HANDLE_VALUE
                             : CreateFileA(at(a).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
    if (op == "private") expect(!test::openToEveryone(wide(at(a))), a);
    if (op == "env")
      env_.push_back(std::make_unique<test::ScopedEnv>(wide(a).c_str(),
                                                       b == "-" ? std::nullopt : std::optional(wide(b))));
    if (op == "reg") setValue(root, b, w[3], w[4], w[5]);
    if (op == "unreg" && w.size() < 4) test::deleteKeyTree(root, b);
    if (op == "unreg" && w.size() > 3) RegDeleteKeyValueA(root, b.c_str(), w[3].c_str());
    if (op == "value") expectEq(valueText(root, b, w[3]), w[4]);
    if (op == "undo") undo_.emplace_back(w.begin() + 1, w.end());
    if (op == "run") run(Words(w.begin() + 1, w.end()));
    if (op == "exit") expectEq(std::to_string(last_.exitCode), a, out_);
    if (op == "is") expectEq(out_, a);
    if (op == "out") expect(out_.find(a) != std::string::npos, out_);
    if (op == "no") expect((out_ + log_).find(a) == std::string::npos, out_ + log_);
    if (op == "log") expect(log_.find(a) != std::string::npos, log_);
    if (op == "input") input_ = a;
    if (op == "double") expect(test::copyDouble(L"java", L"java.exe", wide(at(a))), a);
    if (op == "file") expect(waitFor(10000, [&] { return read(a) == b; }), a);
    if (op == "has") expect(waitFor(10000, [&] { return read(a).find(b) != std::string::npos; }), a);
    if (op == "took") expect(lastMs_ < std::stoul(a), std::to_string(lastMs_));
    if (op == "stopped") stopped(std::stoul(a), std::stoul(b));
    if (op == "pids") pids();
    if (op == "ended") ended(std::stoul(a));
    if (op == "events") events(a, std::stoul(b), w.size() > 3 ? w[3] : "", w.size() > 4 ? w[4] : "jre");
    if (op == "left") left(a, b, std::stoul(w[3]));
    if (op == "folders") folders(std::stoul(a), std::stoul(b));
    if (op == "status") status(std::stoul(a), b);
    if (op == "kill") kill(a == "child", std::stoul(b), w[3]);
    if (op == "keep")
      CopyFileA(at("jre-record.jsonl").c_str(), (narrow(PELTO_JVM_RECORDS_DIR) + "\\" + a).c_str(), FALSE);
    const std::string ops =
        " layout avian exe main runtime write remove lock env reg unreg value undo run exit is out no log "
        "input double file has took stopped pids ended events left folders status kill keep tail private ";
    if (ops.find(" " + op + " ") == std::string::npos) ADD_FAILURE() << "unknown step " << op;
  }

 private:
  // A path of the script's folder, or the word itself when it names one below it already.
  std::string at(const std::string& path) const {
    return path.rfind(dir_, 0) == 0 ? path : dir_ + "\\" + path;
  }
  std::string read(const std::string& file) const { return test::readWhole(wide(at(file))); }

  void layout(const std::string& name, const std::string& tag) {
    name_ = name;
    dir_ = narrow(test::uniqueDir(wide(tag).c_str()));
    ASSERT_TRUE(CopyFileW(PELTO_SERVICE_E2E_EXE, wide(at("HelloService.exe")).c_str(), FALSE));
    test::writeText(wide(at("lib\\hello-service.jar")), "placeholder");
    runtime(at("jre"));
    undo_ = {{"run", "/stop", name}, {"run", "/uninstall", name}};
    step({"run", "/uninstall", name});  // a leftover of an earlier, aborted run
  }
  void runtime(const std::string& home) {
    ASSERT_TRUE(test::copyDouble(L"java", L"java.exe", wide(home + "\\bin\\java.exe")));
    ASSERT_TRUE(test::copyDouble(L"jvm", L"jvm.dll", wide(home + "\\bin\\server\\jvm.dll")));
    test::writeText(wide(home + "\\bin\\java-double.txt"), "0\nopenjdk version \"17.0.2\" 2022-01-18\n");
    model(home, "return");
    std::string java = home + "\\bin\\java.exe";
    CharLowerBuffA(java.data(), static_cast<DWORD>(java.size()));
    keys_.push_back(versionCacheKey(java));
  }
  // The real JVM in place of the JVM double (Avian, from the folder beside the project), found
  // through the java.exe double answering Java 8, and the test application on the class path.
  void avian() {
    const std::wstring jvm = PELTO_REALJVM_DIR L"\\jvm.dll";
    if (GetFileAttributesW(jvm.c_str()) == INVALID_FILE_ATTRIBUTES)
      GTEST_SKIP() << "no real JVM at " << narrow(jvm) << " (../shared/realjvm beside the project)";
    ASSERT_TRUE(CopyFileW(jvm.c_str(), wide(at("jre\\bin\\server\\jvm.dll")).c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(PELTO_SERVICE_TEST_DIR L"\\realjvm-app.jar",
                          wide(at("lib\\realjvm-app.jar")).c_str(), FALSE));
    test::writeText(wide(at("jre\\bin\\java-double.txt")), "0\njava version \"1.8.0_292\"\n");
  }
  // The JVM double's main: "return", "stdin 0" (reads its input until the stop line), "throw ...".
  void model(const std::string& home, const std::string& main) {
    test::writeText(wide(home + "\\bin\\server\\jvm-double.txt"),
                    "method com/pelto/runtime/WinLauncher main ([Ljava/lang/String;)V\nmain " + main +
                        "\nrecord " + home + "-record.jsonl\n");
  }
  // A registry value as text: a DWORD in decimal, binary data in hex, the NULs of other data
  // written "|"; "<none>" when missing.
  static std::string valueText(HKEY root, const std::string& key, const std::string& name) {
    char buf[4096];
    DWORD size = sizeof buf, type = 0;
    if (RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, buf, &size))
      return "<none>";
    if (type == REG_DWORD) return std::to_string(*reinterpret_cast<const DWORD*>(buf));
    if (type == REG_BINARY || type == REG_QWORD) return hex(buf, size);
    if (type == REG_SZ) return std::string(buf, strnlen(buf, size));
    return replaced(std::string(buf, size), std::string(1, '\0'), "|");
  }
  // reg ROOT KEY NAME TYPE DATA: text for sz and bytes (binary), a number for dword, hex for
  // binary and qword.
  void setValue(HKEY root, const std::string& path, const std::string& name, const std::string& kind,
                std::string data) {
    const DWORD type = kind == "sz"      ? REG_SZ
                       : kind == "dword" ? REG_DWORD
                       : kind == "qword" ? REG_QWORD
                                         : REG_BINARY;
    const DWORD number = type == REG_DWORD ? std::stoul(data, nullptr, 0) : 0;
    if (type == REG_DWORD) data.assign(reinterpret_cast<const char*>(&number), 4);
    if (kind == "binary" || kind == "qword")
      for (std::size_t i = 0; i < data.size(); ++i)
        data.replace(i, 2, 1, static_cast<char>(std::stoi(data.substr(i, 2), nullptr, 16)));
    ASSERT_EQ(RegSetKeyValueA(root, path.c_str(), name.c_str(), type, data.data(),
                              static_cast<DWORD>(data.size() + (type == REG_SZ))),
              0);
    undo_.push_back({"unreg", root == HKEY_LOCAL_MACHINE ? "HKLM" : "HKCU", path, name});
  }
  void run(const Words& words) {
    std::u16string cmd = quoteArgument(utf8ToUtf16(at("HelloService.exe")));
    for (const std::string& word : words) cmd += u" " + quoteArgument(utf8ToUtf16(word));
    wchar_t temp[MAX_PATH];
    const std::wstring logDir(temp, GetEnvironmentVariableW(L"TMP", temp, MAX_PATH));
    // Scripts run beside each other share %TMP%: the log of this run is a new file that names this
    // script's folder (its command line), read and removed; the others' are left alone.
    std::vector<std::wstring> before = test::listDir(logDir);
    auto readLog = [&] {
      log_.clear();
      for (const std::wstring& name : test::listDir(logDir)) {
        if (name.rfind(L"qvx_nlog_", 0) != 0 || std::find(before.begin(), before.end(), name) != before.end())
          continue;
        const std::string text = test::readWhole(logDir + L"\\" + name);
        if (text.find(dir_) == std::string::npos) continue;
        log_ += text;
        DeleteFileW((logDir + L"\\" + name).c_str());
      }
    };
    const DWORD started = GetTickCount();
    // A fresh copy is now and then refused under load.
    for (int attempt = 0; attempt < 5 && (attempt == 0 || last_.startError); ++attempt, Sleep(200))
      last_ = test::runCommand(asW(cmd), 90000, {}, input_);
    input_.reset();
    locked_.reset();
    lastMs_ = GetTickCount() - started;
    out_ = last_.out + last_.err;
    readLog();
  }
  // events EVENT N [PART] [RECORD]: waits until RECORD holds N lines of EVENT holding PART.
  void events(const std::string& event, std::size_t n, const std::string& part, const std::string& record) {
    const std::string prefix = "{\"event\":\"" + event + "\"";
    std::size_t got = 0;
    std::string all;
    waitFor(30000, [&] {
      all = read(record + "-record.jsonl"), got = 0;
      for (std::size_t pos = 0, end; pos < all.size(); pos = end + 1) {
        end = std::min(all.find('\n', pos), all.size());
        got += all.compare(pos, prefix.size(), prefix) == 0 &&
               all.substr(pos, end - pos).find(part) != std::string::npos;
      }
      return got >= n;
    });
    EXPECT_EQ(got, n) << event << " " << part << "\n" << all;
  }
  // left DIR PREFIX N: N names in DIR start with PREFIX.
  void left(const std::string& dir, const std::string& prefix, std::size_t n) {
    std::size_t found = 0;
    for (const std::wstring& name : test::listDir(wide(at(dir)))) found += narrow(name).rfind(prefix, 0) == 0;
    EXPECT_EQ(found, n) << dir << "\\" << prefix;
  }
  // folders N GONE: the record names N per-launch folders, the first GONE of them are gone and
  // the others still stand.
  void folders(std::size_t n, std::size_t gone) {
    const std::string tag = "\"-Dpelto.tempDir=", all = read("jre-record.jsonl");
    std::vector<std::string> found;
    for (std::size_t at = all.find(tag); at != std::string::npos; at = all.find(tag, at + 1))
      found.push_back(replaced(all.substr(at + tag.size(), all.find('"', at + tag.size()) - at - tag.size()),
                               "\\\\", "\\"));
    ASSERT_EQ(found.size(), n) << all;
    for (std::size_t i = 0; i < n; ++i)
      EXPECT_EQ(GetFileAttributesA(found[i].c_str()) == INVALID_FILE_ATTRIBUTES, i < gone) << found[i];
  }
  void status(DWORD code, const std::string& text) {
    waitFor(30000, [&] { return step({"run", "/status", name_}), last_.exitCode == code; });
    step({"exit", std::to_string(code)});
    EXPECT_EQ(out_.substr(0, text.size()), text);
  }
  // kill child|service CODE OTHER: ends one of the service's two processes and waits for both
  // to end, the other with its own exit code ("-": any).
  void kill(bool child, UINT code, const std::string& otherCode) {
    DWORD service = serviceStatus(name_).dwProcessId, ids[2] = {service, childOf(service)}, exitCode = 0;
    UniqueHandle victim(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, ids[child]));
    UniqueHandle other(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, ids[!child]));
    ASSERT_TRUE(victim && other && TerminateProcess(victim.get(), code));
    ASSERT_EQ(WaitForSingleObject(other.get(), 20000), WAIT_OBJECT_0);
    GetExitCodeProcess(other.get(), &exitCode);
    if (otherCode != "-") expectEq(std::to_string(exitCode), otherCode);
  }
  // stopped WIN32 SPECIFIC: the manager shows the service stopped with these exit codes.
  void stopped(DWORD win32, DWORD specific) {
    const SERVICE_STATUS_PROCESS status = serviceStatus(name_);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, win32);
    EXPECT_EQ(status.dwServiceSpecificExitCode, specific);
  }
  // pids: the running service's child and every process the record says the JVM spawned; the
  // step "ended MS" then waits for each to end.
  void pids() {
    pids_ = {childOf(serviceStatus(name_).dwProcessId)};
    const std::string all = read("jre-record.jsonl"), tag = "\"pid\":";
    for (std::size_t at = all.find(tag); at != std::string::npos; at = all.find(tag, at + 1))
      pids_.push_back(static_cast<DWORD>(std::stoul(all.substr(at + tag.size()))));
    EXPECT_GT(pids_.size(), 1u);
    EXPECT_NE(pids_[0], 0u);
  }
  void ended(DWORD ms) {
    for (DWORD pid : pids_) {
      UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
      // No such process any more, or it ends in time.
      EXPECT_TRUE(process ? WaitForSingleObject(process.get(), ms) == WAIT_OBJECT_0
                          : GetLastError() == ERROR_INVALID_PARAMETER)
          << pid;
    }
  }

  std::string name_, dir_, out_, log_;
  std::optional<std::string> input_;  // standard input of the next run
  UniqueFileHandle locked_;           // a file held without sharing during the next run
  UniqueFileHandle tailed_;           // a file a reader follows
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
  std::size_t steps = 0;
  for (const std::wstring& name : test::listDir(dir)) {
    if (!name.ends_with(L".steps") || (*only && name != only)) continue;
    Script script;
    const std::string text = test::readWhole(dir + L"\\" + name);
    int number = 0;
    for (std::size_t pos = 0, end; pos < text.size(); pos = end + 1) {
      end = std::min(text.find('\n', pos), text.size());
      Words words;
      splitCommandLine(std::string_view(text).substr(pos, end - pos), words);
      SCOPED_TRACE(narrow(name) + ":" + std::to_string(++number));
      if (!words.empty() && words[0][0] != '#') script.step(words), ++steps;
      if (testing::Test::HasFatalFailure() || testing::Test::IsSkipped()) return;
    }
  }
  EXPECT_GT(steps, 0u) << "no script named " << narrow(only);
}

}  // namespace
}  // namespace pelto
