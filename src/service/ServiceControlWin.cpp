// The service verbs against the Service Control Manager.
#include <windows.h>

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

}  // namespace

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
    if (report) printWithName("Uninstalled service '", "'.\n");
    return 0;
  }
  if (report) consolePrint("Could not delete service.\n");
  return 1;
}

int installService(std::uint32_t startType) {
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
  std::wstring name = asW(ServiceName), image = asW(path), deps = asW(dependencies);
  UniqueScHandle service(CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                        SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                        image.c_str(), nullptr, nullptr,
                                        deps.empty() ? nullptr : deps.c_str(), nullptr, nullptr));
  if (!service) {
    logMessage(u"CreateService failed with error %d", static_cast<int>(GetLastError()));
    consolePrint("Could not create service.\n");
    return 1;
  }
  std::wstring description = asW(getConfigWideString(20017));
  if (!description.empty()) {
    using ChangeConfig2 = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    auto change = advapi ? reinterpret_cast<ChangeConfig2>(
                               reinterpret_cast<void*>(GetProcAddress(advapi, "ChangeServiceConfig2W")))
                         : nullptr;
    if (change) {
      SERVICE_DESCRIPTIONW info{description.data()};
      change(service.get(), SERVICE_CONFIG_DESCRIPTION, &info);
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
