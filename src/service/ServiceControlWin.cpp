// The service verbs against the Service Control Manager.
#include <windows.h>
// After windows.h, which they need.
#include <ntsecapi.h>
#include <tlhelp32.h>

#include <vector>

#include "env/Handles.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/CommandLine.h"
#include "launcher/Config.h"
#include "launcher/Fatal.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"
#include "service/ServiceControl.h"
#include "service/ServiceRuntime.h"
#include "service/ServiceText.h"
#include "service/Supervision.h"

namespace pelto {
namespace {

// The lines that carry the service name: the name goes in as an argument, never as a format.
void printWithName(const char* before, const char* after) {
  std::string line = before;
  line += wideToNarrow(ServiceName);
  line += after;
  consolePrint(line);
}

// "Could not stop service 'S': why (error N).", with the reason's words from one table.
void printFailure(const char* action, DWORD error) {
  consolePrint(verbFailureLine(action, wideToNarrow(ServiceName), error));
}

bool queryState(SC_HANDLE service, SERVICE_STATUS& status) {
  return QueryServiceStatus(service, &status) != 0;
}

bool endedAfterStopTimeout(const SERVICE_STATUS& status) {
  return status.dwWin32ExitCode == ServiceSpecificError &&
         status.dwServiceSpecificExitCode == StopTimeoutCode;
}

struct StopOutcome {
  bool stopped = false;
  bool endedAfterTimeout = false;  // the service ended its application after the stop timeout
  DWORD error = 0;                 // of a failed status query
};

StopOutcome waitForStop(SC_HANDLE service) {
  StopOutcome outcome;
  SERVICE_STATUS status{};
  if (!queryState(service, status)) return {false, false, GetLastError()};
  StopWait wait;
  beginStopWait(wait, status.dwCheckPoint, GetTickCount());
  while (status.dwCurrentState == SERVICE_STOP_PENDING) {
    outcome.endedAfterTimeout |= endedAfterStopTimeout(status);
    Sleep(500);
    if (!queryState(service, status)) return {false, outcome.endedAfterTimeout, GetLastError()};
    if (!continueStopWait(wait, status.dwCurrentState, status.dwCheckPoint, status.dwWaitHint,
                          GetTickCount()))
      break;
  }
  outcome.endedAfterTimeout |= endedAfterStopTimeout(status);
  outcome.stopped = status.dwCurrentState == SERVICE_STOPPED;
  return outcome;
}

// The optional configuration of an existing service; 0 when it was taken, else the error.
DWORD changeConfig2(SC_HANDLE service, DWORD level, void* info) {
  using ChangeConfig2 = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
  HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
  auto change = advapi ? reinterpret_cast<ChangeConfig2>(
                             reinterpret_cast<void*>(GetProcAddress(advapi, "ChangeServiceConfig2W")))
                       : nullptr;
  if (!change) return ERROR_PROC_NOT_FOUND;
  return change(service, level, info) ? 0 : GetLastError();
}

// The settings the manager refused once the service existed: each logged and printed, and the
// install verb ends with its own exit code.
int RefusedSettings = 0;

void reportRefused(const char* what, DWORD error) {
  ++RefusedSettings;
  logError(u"setting the %S failed with error %d", what, static_cast<int>(error));
  consolePrint(std::string("Could not set the ") + what + " of service '" + wideToNarrow(ServiceName) +
               "': " + systemErrorReason(error) + ".\n");
}

void setFailureActions(SC_HANDLE service, const FailureActionsPlan& plan) {
  logMessage(u"failure actions: %s", describeFailureActions(plan));
  std::vector<SC_ACTION> actions;
  for (const FailureAction& a : plan.actions)
    actions.push_back({static_cast<SC_ACTION_TYPE>(a.type), a.delayMs});
  SERVICE_FAILURE_ACTIONSW info{plan.resetPeriod, nullptr, nullptr, static_cast<DWORD>(actions.size()),
                                actions.data()};
  if (DWORD error = changeConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS, &info))
    return reportRefused("recovery actions", error);
  // Without the flag the manager restarts only a service that ends without reporting stopped.
  SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
  if (DWORD error = changeConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag))
    reportRefused("recovery after a stop with an error", error);
}

// The launcher carries no message table of its own: EventCreate.exe's holds event ids 1 to 1000
// as the bare inserted text, so the Event Viewer shows the service's own words.
constexpr wchar_t EventMessageFile[] = L"%SystemRoot%\\System32\\EventCreate.exe";

void registerEventSource() {
  std::wstring path = asW(eventSourceKey(ServiceName));
  UniqueHKey key;
  LSTATUS error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  key.put(), nullptr);
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  if (!error)
    error = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                           reinterpret_cast<const BYTE*>(EventMessageFile), sizeof EventMessageFile);
  if (!error)
    error = RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                           sizeof types);
  if (error) return reportRefused("event source", static_cast<DWORD>(error));
  logMessage(u"event source %s registered", path);
}

void removeEventSource() {
  std::wstring path = asW(eventSourceKey(ServiceName));
  LSTATUS error = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
  if (error && error != ERROR_FILE_NOT_FOUND)
    logError(u"removing the event source %s failed with error %d", path, static_cast<int>(error));
}

using UniqueLsaHandle = UniqueAny<LSA_HANDLE, LsaClose>;
constexpr NTSTATUS NoRightsAtAll = static_cast<NTSTATUS>(0xC0000034);  // STATUS_OBJECT_NAME_NOT_FOUND

// The account's rights, or the error that kept them from being read.
DWORD accountRights(LSA_HANDLE policy, PSID sid, std::vector<std::u16string>& names) {
  PLSA_UNICODE_STRING rights = nullptr;
  ULONG count = 0;
  NTSTATUS status = LsaEnumerateAccountRights(policy, sid, &rights, &count);
  if (status == NoRightsAtAll) return 0;
  if (status) return LsaNtStatusToWinError(status);
  for (ULONG i = 0; i < count; ++i)
    names.emplace_back(reinterpret_cast<const char16_t*>(rights[i].Buffer), rights[i].Length / sizeof(WCHAR));
  LsaFreeMemory(rights);
  return 0;
}

// A named account needs the right to log on as a service, or the service cannot start. Only a
// user account gets it: refusal tells why another kind of account does not.
DWORD grantLogonRight(const std::u16string& account, std::u16string& refusal) {
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(computer, &size);
  std::wstring lookup = asW(accountLookupName(account, asU(computer)));
  BYTE sid[SECURITY_MAX_SID_SIZE];
  wchar_t domain[256];
  DWORD sidSize = sizeof sid, domainSize = 256;
  SID_NAME_USE use;
  if (!LookupAccountNameW(nullptr, lookup.c_str(), sid, &sidSize, domain, &domainSize, &use))
    return GetLastError();
  refusal = logonRightRefusal(static_cast<int>(use));
  if (!refusal.empty()) return ERROR_INVALID_ACCOUNT_NAME;
  LSA_OBJECT_ATTRIBUTES attributes{};
  UniqueLsaHandle policy;
  NTSTATUS status =
      LsaOpenPolicy(nullptr, &attributes, POLICY_LOOKUP_NAMES | POLICY_CREATE_ACCOUNT, policy.put());
  if (status) return LsaNtStatusToWinError(status);
  std::vector<std::u16string> rights;
  if (DWORD error = accountRights(policy.get(), sid, rights)) return error;
  if (!lacksServiceLogonRight(rights)) {
    logMessage(u"account %s already has SeServiceLogonRight", account);
    return 0;
  }
  wchar_t rightName[] = L"SeServiceLogonRight";
  LSA_UNICODE_STRING right{sizeof rightName - sizeof(WCHAR), sizeof rightName, rightName};
  status = LsaAddAccountRights(policy.get(), sid, &right, 1);
  if (status) return LsaNtStatusToWinError(status);
  logMessage(u"account %s granted SeServiceLogonRight", account);
  return 0;
}

void wipe(std::u16string& secret) {
  SecureZeroMemory(secret.data(), secret.size() * sizeof(char16_t));
  secret.clear();
}

constexpr std::size_t PasswordRoom = 1024;

// One line of standard input: the console's without echo, a pipe's or file's as it comes.
bool readPasswordLine(std::u16string& password) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  UniqueFileHandle console;
  if (!in || in == INVALID_HANDLE_VALUE) {
    // A windowed program started from a console has no standard input: ask that console.
    AttachConsole(ATTACH_PARENT_PROCESS);
    console.reset(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr));
    if (!console) return true;  // nobody to ask
    in = console.get();
  }
  DWORD mode = 0;
  if (GetConsoleMode(in, &mode)) {
    // The prompt goes to the console itself: standard output may be a file.
    UniqueFileHandle screen(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                        nullptr));
    std::wstring prompt = L"Password of the account of service '" + asW(ServiceName) + L"': ";
    DWORD put = 0, got = 0;
    if (screen) WriteConsoleW(screen.get(), prompt.c_str(), static_cast<DWORD>(prompt.size()), &put, nullptr);
    SetConsoleMode(in, (mode | ENABLE_LINE_INPUT) & ~DWORD(ENABLE_ECHO_INPUT));
    password.assign(PasswordRoom, u'\0');
    bool ok = ReadConsoleW(in, password.data(), static_cast<DWORD>(PasswordRoom), &got, nullptr) != 0;
    SetConsoleMode(in, mode);
    if (screen) WriteConsoleW(screen.get(), L"\r\n", 2, &put, nullptr);
    password.resize(ok ? got : 0);
  } else {
    std::string line;
    char c = 0;
    DWORD got = 0;
    while (line.size() <= PasswordRoom && ReadFile(in, &c, 1, &got, nullptr) && got == 1 && c != '\n')
      line.push_back(c);
    password = narrowToWide(line);
    SecureZeroMemory(line.data(), line.size());
  }
  if (!password.empty() && password.back() == u'\n') password.pop_back();
  if (!password.empty() && password.back() == u'\r') password.pop_back();
  // A line that filled the whole room may have been cut: a cut password is a wrong one.
  if (password.size() >= PasswordRoom) {
    wipe(password);
    consolePrint("The password is longer than " + std::to_string(PasswordRoom - 1) + " characters.\n");
    return false;
  }
  return true;
}

std::uint64_t fileTimeTicks(FILETIME t) {
  return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// A running process's creation time and whether it runs this executable; false when it cannot
// be opened or has ended (an ended process lives on while anyone holds a handle to it).
bool processFacts(DWORD pid, ProcessFacts& facts) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  wchar_t image[TextRoom];
  DWORD size = TextRoom, exitCode = 0;
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!process || !GetExitCodeProcess(process.get(), &exitCode) || exitCode != STILL_ACTIVE ||
      !GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
    return false;
  facts.pid = pid;
  facts.created = fileTimeTicks(created);
  facts.sameImage = QueryFullProcessImageNameW(process.get(), 0, image, &size) &&
                    CompareStringOrdinal(image, static_cast<int>(size), wptr(getExecutablePathWide()), -1,
                                         TRUE) == CSTR_EQUAL;
  return true;
}

// The service's child, found from the service process's id the manager gives: nothing is written
// by the service for it, so it works under every account the service may run as.
void printChildProcess(DWORD servicePid) {
  ProcessFacts service;
  if (!servicePid || !processFacts(servicePid, service)) return;
  std::vector<ProcessFacts> candidates;
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (bool more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    ProcessFacts facts;
    if (entry.th32ParentProcessID != servicePid || !processFacts(entry.th32ProcessID, facts)) continue;
    facts.parentPid = servicePid;
    candidates.push_back(facts);
  }
  DWORD pid = serviceChildOf(candidates, servicePid, service.created);
  for (const ProcessFacts& c : candidates) {
    if (c.pid != pid) continue;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    std::uint64_t to = fileTimeTicks(now);
    consolePrint(childStatusLine(pid, to > c.created ? (to - c.created) / 10000000 : 0));
  }
}

}  // namespace

bool readAccountPassword(const InstallPlan& plan, std::u16string& password) {
  password.clear();
  if (!plan.account.named) return true;
  if (!plan.passwordVariable.empty()) {
    std::wstring name = asW(plan.passwordVariable);
    password.assign(PasswordRoom, u'\0');
    DWORD n = GetEnvironmentVariableW(name.c_str(), reinterpret_cast<wchar_t*>(password.data()),
                                      static_cast<DWORD>(PasswordRoom));
    if (n >= PasswordRoom) {
      wipe(password);
      consolePrint("The password is longer than " + std::to_string(PasswordRoom - 1) + " characters.\n");
      return false;
    }
    password.resize(n);
    if (!password.empty()) return true;
  }
  if (!readPasswordLine(password)) return false;
  if (!password.empty()) return true;
  std::string where = plan.passwordVariable.empty()
                          ? "pack a variable name as password-env and set it"
                          : "set the variable " + wideToNarrow(plan.passwordVariable);
  consolePrint("No password for the account '" + wideToNarrow(plan.account.objectName) + "': " + where +
               " or type it when asked. Nothing was installed.\n");
  return false;
}

int stopService(bool report) {
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    if (report) printFailure("stop", GetLastError());
    return 1;
  }
  std::wstring name = asW(ServiceName);
  UniqueScHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) {
    if (report) printFailure("stop", GetLastError());
    return 1;
  }
  SERVICE_STATUS status{};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    printWithName("Stopping service '", "'.\n");
    StopOutcome outcome = waitForStop(service.get());
    if (!outcome.stopped) {
      // A start right after this would meet the old process still stopping.
      if (outcome.error) return printFailure("follow the stop of", outcome.error), 1;
      printWithName("Service '", "' did not stop within the time it asked for; it is still stopping.\n");
      return 1;
    }
    printWithName("Service '", outcome.endedAfterTimeout
                                   ? "' stopped: its application did not end within the stop timeout and "
                                     "was ended with every process it started.\n"
                                   : "' stopped.\n");
    return 0;
  }
  DWORD error = GetLastError();
  if (error == ERROR_SERVICE_NOT_ACTIVE) {
    printWithName("Service '", "' is already stopped.\n");
    return 0;
  }
  logMessage(u"stopping the service failed with error %d", static_cast<int>(error));
  if (report) printFailure("stop", error);
  return 1;
}

int uninstallService(bool report) {
  stopService(false);
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    if (report) printFailure("uninstall", GetLastError());
    return 1;
  }
  std::wstring name = asW(ServiceName);
  UniqueScHandle service(OpenServiceW(manager.get(), name.c_str(), DELETE));
  if (service && DeleteService(service.get())) {
    service.reset();
    manager.reset();
    removeEventSource();
    if (report) printWithName("Uninstalled service '", "'.\n");
    return 0;
  }
  if (report) printFailure("uninstall", GetLastError());
  return 1;
}

namespace {

// The settings beside the service's record, set on a new and on an existing service alike.
void applyOptionalSettings(SC_HANDLE service, const InstallPlan& plan, bool existed) {
  std::wstring description = asW(getConfigWideString(20017));
  if (!description.empty()) {
    SERVICE_DESCRIPTIONW info{description.data()};
    if (DWORD error = changeConfig2(service, SERVICE_CONFIG_DESCRIPTION, &info))
      reportRefused("description", error);
  }
  // An existing service may have been delayed: it is set either way. A system that knows no
  // delayed start cannot have one to clear.
  if (plan.start.delayed || existed) {
    SERVICE_DELAYED_AUTO_START_INFO info{plan.start.delayed};
    DWORD error = changeConfig2(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &info);
    if (error && (plan.start.delayed || error != ERROR_INVALID_LEVEL))
      reportRefused("delayed automatic start", error);
  }
  if (plan.preshutdownMs) {
    // The service may run as an account that cannot change its own configuration: the
    // administrator's install sets the time the system's shutdown gives it.
    SERVICE_PRESHUTDOWN_INFO info{plan.preshutdownMs};
    if (DWORD error = changeConfig2(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &info))
      reportRefused("pre-shutdown timeout", error);
    else
      logMessage(u"pre-shutdown timeout %d ms", static_cast<int>(plan.preshutdownMs));
  }
  if (!plan.recovery.actions.empty()) setFailureActions(service, plan.recovery);
  if (plan.eventSource) registerEventSource();
  if (plan.account.needsLogonRight()) {
    std::u16string refusal;
    if (DWORD error = grantLogonRight(plan.account.objectName, refusal)) {
      ++RefusedSettings;
      logError(u"granting SeServiceLogonRight to %s failed with error %d", plan.account.objectName,
               static_cast<int>(error));
      consolePrint("Could not grant the account '" + wideToNarrow(plan.account.objectName) +
                   "' the right to log on as a service: " +
                   (refusal.empty() ? systemErrorReason(error) : wideToNarrow(refusal)) +
                   "; the service cannot start until the account has it.\n");
    }
  }
}

}  // namespace

int installService(const InstallPlan& plan, const std::u16string& password) {
  RefusedSettings = 0;
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!manager) {
    printFailure("install", GetLastError());
    return 1;
  }
  std::u16string path = u"\"" + getExecutablePathWide() + u"\"";
  std::size_t dropped = 0;
  std::u16string dependencies = dependencyList(getConfigStringW(149, TextRoom), TextRoom, &dropped);
  if (dropped) logError(u"%d service dependencies do not fit and are left out", static_cast<int>(dropped));
  std::wstring name = asW(ServiceName), display = asW(plan.displayName), image = asW(path),
               deps = asW(dependencies), account = asW(plan.account.objectName), secret = asW(password);
  logMessage(u"installing with start type %u%S, display name %s, account %s", plan.start.type,
             plan.start.delayed ? " (delayed)" : "", display,
             account.empty() ? L"LocalSystem" : account.c_str());
  // A virtual or managed account takes no password at all; the built-in ones an empty one.
  const bool builtIn = account.empty() || plan.account.objectName.starts_with(u"NT AUTHORITY\\");
  const wchar_t* secretArg = plan.account.named ? secret.c_str() : builtIn ? L"" : nullptr;
  // What the settings beside the record need: changing them, the state, and the restart action.
  const DWORD access = SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START;
  // An existing service is changed in place, never deleted first: a failure then leaves it as it
  // was, a running one keeps running, and what an administrator set by hand beside it stays.
  UniqueScHandle service(OpenServiceW(manager.get(), name.c_str(), access));
  const bool existed = service.valid();
  DWORD error = existed ? 0 : GetLastError();
  if (existed) {
    if (!ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, plan.start.type, SERVICE_ERROR_NORMAL,
                              image.c_str(), nullptr, nullptr, deps.c_str(),
                              account.empty() ? L"LocalSystem" : account.c_str(), secretArg, display.c_str()))
      error = GetLastError();
  } else if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
    service.reset(CreateServiceW(
        manager.get(), name.c_str(), display.c_str(), access, SERVICE_WIN32_OWN_PROCESS, plan.start.type,
        SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, deps.empty() ? nullptr : deps.c_str(),
        account.empty() ? nullptr : account.c_str(), account.empty() ? nullptr : secretArg));
    error = service ? 0 : GetLastError();
  }
  SecureZeroMemory(secret.data(), secret.size() * sizeof(wchar_t));
  if (error) {
    logMessage(u"%S failed with error %d", existed ? "ChangeServiceConfig" : "CreateService",
               static_cast<int>(error));
    printFailure(existed ? "update" : "install", error);
    return 1;
  }
  applyOptionalSettings(service.get(), plan, existed);
  SERVICE_STATUS status{};
  const bool running =
      existed && queryState(service.get(), status) && status.dwCurrentState != SERVICE_STOPPED;
  service.reset();
  manager.reset();
  if (!existed)
    printWithName("Installed service '", "'.\n");
  else if (running)
    printWithName("Updated service '", "'; it is running and takes the new settings at its next start.\n");
  else
    printWithName("Updated service '", "'.\n");
  if (!RefusedSettings) return 0;
  consolePrint(std::to_string(RefusedSettings) + (RefusedSettings == 1 ? " setting was" : " settings were") +
               " refused (see above).\n");
  return ExitInstalledWithWarnings;
}

int startService(std::span<const std::u16string> arguments) {
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    printFailure("start", GetLastError());
    return 1;
  }
  std::wstring name = asW(ServiceName);
  UniqueScHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_START));
  if (!service) {
    DWORD error = GetLastError();
    printFailure("start", error);
    // The first word after /start names the service: a start argument there is easily mistaken.
    const std::u16string packed = getConfigStringW(101, ServiceNameRoom);
    if (error == ERROR_SERVICE_DOES_NOT_EXIST && !packed.empty() && packed != ServiceName)
      consolePrint("'" + wideToNarrow(ServiceName) +
                   "' was taken as the service name: the first word after " +
                   "the verb names the service. To hand it to service '" + wideToNarrow(packed) +
                   "', name that service first.\n");
    return 1;
  }
  std::vector<std::wstring> words;
  for (std::size_t i = 1; i < arguments.size(); ++i) words.push_back(asW(arguments[i]));
  std::vector<LPCWSTR> pointers;
  for (const std::wstring& w : words) pointers.push_back(w.c_str());
  if (StartServiceW(service.get(), static_cast<DWORD>(pointers.size()),
                    pointers.empty() ? nullptr : pointers.data())) {
    service.reset();
    manager.reset();
    printWithName("Starting service '", "'.\n");
    return 0;
  }
  DWORD error = GetLastError();
  if (error == ERROR_SERVICE_ALREADY_RUNNING) {
    printWithName("Service '", "' is already running.\n");
    return 0;
  }
  printFailure("start", error);
  return 1;
}

int serviceStatus() {
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    printFailure("get the status of", GetLastError());
    return 1;
  }
  std::wstring name = asW(ServiceName);
  UniqueScHandle service(
      OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
  SERVICE_STATUS_PROCESS status{};
  DWORD got = 0;
  if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                        reinterpret_cast<BYTE*>(&status), sizeof status, &got)) {
    printFailure("get the status of", GetLastError());
    return 1;
  }
  int result = 3;
  if (status.dwCurrentState == SERVICE_RUNNING) {
    consolePrint("Running.\n");
    printChildProcess(status.dwProcessId);
    result = 0;
  } else {
    consolePrint("Not running.\n");
    if (status.dwCurrentState == SERVICE_STOPPED)
      consolePrint(lastStopLine(status.dwWin32ExitCode, status.dwServiceSpecificExitCode));
  }
  // Asked for the size it needs: the dependency list alone may be longer than any fixed room.
  std::vector<std::uint64_t> buffer;
  std::uint32_t needed = 0;
  auto query = [&](std::uint64_t* room, std::uint32_t size, std::uint32_t& need) {
    DWORD n = 0;
    bool ok =
        QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(room), size, &n) != 0;
    need = n;
    return ok;
  };
  if (!queryWithNeededRoom(query, buffer, needed) || buffer.empty()) {
    printFailure("read the configuration of", GetLastError());
    return 1;
  }
  const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (config->dwStartType == SERVICE_AUTO_START) consolePrint("Auto-start.\n");
  return result;
}

}  // namespace pelto
