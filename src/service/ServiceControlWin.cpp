// The service verbs against the Service Control Manager.
#include <windows.h>
// After windows.h, which they need.
#include <ntsecapi.h>

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

namespace pelto {
namespace {

// The lines that carry the service name: the name goes in as an argument, never as a format.
void printWithName(const char* before, const char* after) {
  std::string line = before;
  line += wideToNarrow(ServiceName);
  line += after;
  consolePrint(line);
}

void printSystemError(const char* before, DWORD error) {
  consolePrint(std::string(before) + std::to_string(static_cast<int>(error)) + "\n");
}

bool queryState(SC_HANDLE service, SERVICE_STATUS& status) {
  return QueryServiceStatus(service, &status) != 0;
}

// True when the service ended in the stopped state.
bool waitForStop(SC_HANDLE service) {
  SERVICE_STATUS status{};
  if (!queryState(service, status)) return false;
  StopWait wait;
  beginStopWait(wait, status.dwCheckPoint, GetTickCount());
  while (status.dwCurrentState == SERVICE_STOP_PENDING) {
    Sleep(500);
    if (!queryState(service, status)) return false;
    if (!continueStopWait(wait, status.dwCurrentState, status.dwCheckPoint, status.dwWaitHint,
                          GetTickCount()))
      break;
  }
  return status.dwCurrentState == SERVICE_STOPPED;
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

// A setting the manager refused after the service was created: logged and printed.
void reportRefused(const char* what, DWORD error) {
  logError(u"setting the %S failed with error %d", what, static_cast<int>(error));
  consolePrint(std::string("Could not set the ") + what + " (error " +
               std::to_string(static_cast<int>(error)) + ").\n");
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

// A named account needs the right to log on as a service, or the service cannot start.
DWORD grantLogonRight(const std::u16string& account) {
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

// The running child the service process published: its id and how long it has run. Nothing
// when the value is missing or names no running process of this executable (a killed service
// process leaves its value behind, and the id may have been given to another program since).
void printChildProcess() {
  DWORD pid = 0;
  if (!publishedChildPid(ServiceName, pid)) return;
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  wchar_t image[TextRoom];
  DWORD size = TextRoom;
  FILETIME created{}, exited{}, kernel{}, user{}, now{};
  DWORD exitCode = 0;
  // A process that has ended lives on while anyone holds a handle to it.
  if (!process || !GetExitCodeProcess(process.get(), &exitCode) || exitCode != STILL_ACTIVE ||
      !QueryFullProcessImageNameW(process.get(), 0, image, &size) ||
      CompareStringOrdinal(image, static_cast<int>(size), wptr(getExecutablePathWide()), -1, TRUE) !=
          CSTR_EQUAL ||
      !GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
    return;
  GetSystemTimeAsFileTime(&now);
  auto ticks = [](FILETIME t) {
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  std::uint64_t from = ticks(created), to = ticks(now);
  consolePrint(childStatusLine(pid, to > from ? (to - from) / 10000000 : 0));
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
  consolePrint("No password for the account '" + wideToNarrow(plan.account.objectName) +
               "': set the variable named by password-env or type it when asked. Nothing was installed.\n");
  return false;
}

int stopService(bool report) {
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    if (report) consolePrint("Could not open SCManager.\n");
    return 1;
  }
  std::wstring name = asW(ServiceName);
  UniqueScHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) {
    if (report) consolePrint("Could not stop service.\n");
    return 1;
  }
  SERVICE_STATUS status{};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    printWithName("Stopping service '", "'.\n");
    consolePrint(waitForStop(service.get()) ? "Service stopped\n" : "Error while stopping service\n");
    return 0;
  }
  DWORD error = GetLastError();
  if (error == ERROR_SERVICE_NOT_ACTIVE) {
    consolePrint("Service is already stopped.\n");
    return 0;
  }
  logMessage(u"stopping the service failed with error %d", static_cast<int>(error));
  if (report) consolePrint("Could not stop service.\n");
  return 1;
}

int uninstallService(bool report) {
  stopService(false);
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    if (report) consolePrint("Could not open SCManager.\n");
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
  if (report) consolePrint("Could not delete service.\n");
  return 1;
}

int installService(const InstallPlan& plan, const std::u16string& password) {
  uninstallService(false);
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    consolePrint("Could not open SCManager.\n");
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
  // A virtual account takes no password at all; the built-in ones an empty one.
  const wchar_t* secretArg = plan.account.named                                       ? secret.c_str()
                             : plan.account.objectName.starts_with(u"NT AUTHORITY\\") ? L""
                                                                                      : nullptr;
  UniqueScHandle service(CreateServiceW(
      manager.get(), name.c_str(), display.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
      plan.start.type, SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr,
      deps.empty() ? nullptr : deps.c_str(), account.empty() ? nullptr : account.c_str(), secretArg));
  DWORD createError = service ? 0 : GetLastError();
  SecureZeroMemory(secret.data(), secret.size() * sizeof(wchar_t));
  if (!service) {
    logMessage(u"CreateService failed with error %d", static_cast<int>(createError));
    consolePrint("Could not create service.\n");
    return 1;
  }
  std::wstring description = asW(getConfigWideString(20017));
  if (!description.empty()) {
    SERVICE_DESCRIPTIONW info{description.data()};
    changeConfig2(service.get(), SERVICE_CONFIG_DESCRIPTION, &info);
  }
  if (plan.start.delayed) {
    SERVICE_DELAYED_AUTO_START_INFO info{TRUE};
    if (DWORD error = changeConfig2(service.get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &info))
      reportRefused("delayed automatic start", error);
  }
  if (!plan.recovery.actions.empty()) setFailureActions(service.get(), plan.recovery);
  if (plan.eventSource) registerEventSource();
  if (plan.account.named) {
    if (DWORD error = grantLogonRight(plan.account.objectName)) {
      logError(u"granting SeServiceLogonRight to %s failed with error %d", plan.account.objectName,
               static_cast<int>(error));
      consolePrint("Could not grant the account '" + wideToNarrow(plan.account.objectName) +
                   "' the right to log on as a service (error " + std::to_string(static_cast<int>(error)) +
                   "); grant it before starting the service.\n");
    }
  }
  service.reset();
  manager.reset();
  printWithName("Installed service '", "'.\n");
  return 0;
}

int startService(std::span<const std::u16string> arguments) {
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    consolePrint("Could not open SCManager.\n");
    return 1;
  }
  std::wstring name = asW(ServiceName);
  UniqueScHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_START));
  if (!service) {
    printSystemError("Could not start service. Error code: ", GetLastError());
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
    consolePrint("Service is already running.\n");
    return 0;
  }
  printSystemError("Could not start service. Error code: ", error);
  return 1;
}

int serviceStatus() {
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    consolePrint("Could not open SCManager.\n");
    return 1;
  }
  std::wstring name = asW(ServiceName);
  UniqueScHandle service(
      OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
  SERVICE_STATUS status{};
  if (!service || !queryState(service.get(), status)) {
    consolePrint("Could not get status.\n");
    return 1;
  }
  int result = 3;
  if (status.dwCurrentState == SERVICE_RUNNING) {
    consolePrint("Running.\n");
    printChildProcess();
    result = 0;
  } else {
    consolePrint("Not running.\n");
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
    int error = static_cast<int>(GetLastError());
    consolePrint("Could not get config (" + std::to_string(error) + ", " +
                 std::to_string(static_cast<int>(needed)) + ").\n");
    return 1;
  }
  const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (config->dwStartType == SERVICE_AUTO_START) consolePrint("Auto-start.\n");
  return result;
}

}  // namespace pelto
