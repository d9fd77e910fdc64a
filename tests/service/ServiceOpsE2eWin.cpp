// The service process's optional supervision under Wine's Service Control Manager, with one
// packed executable (ops/ops.toml) in one layout: its child starts a grandchild (the java.exe
// double, which writes its model's text to the inherited standard error and sleeps) and then
// hangs, ignoring the stop line.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "service/PackedAppWin.h"

namespace pelto {
namespace {

using test::LauncherRun;
using test::ServiceLayout;

const wchar_t* const Name = L"PeltoOpsE2e";

SERVICE_STATUS queryStatus() {
  SERVICE_STATUS status{};
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceW(manager, Name, SERVICE_QUERY_STATUS) : nullptr;
  if (service) QueryServiceStatus(service, &status);
  if (service) CloseServiceHandle(service);
  if (manager) CloseServiceHandle(manager);
  return status;
}

bool registryDword(const wchar_t* key, const wchar_t* value, DWORD& data) {
  DWORD size = sizeof data;
  return RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_DWORD, nullptr, &data, &size) ==
         ERROR_SUCCESS;
}

DWORD spawnedPid(const ServiceLayout& svc, std::size_t n) {
  std::string line = svc.events("spawn")[n];
  return static_cast<DWORD>(std::stoul(line.substr(line.find("\"pid\":") + 6)));
}

class ServiceOps : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(svc.ready());
    std::string grand = test::narrow(svc.dir()) + "\\grand\\java.exe";
    ASSERT_TRUE(test::copyDouble(L"java", L"java.exe", svc.dir() + L"\\grand\\java.exe"));
    for (int i = 100; i < 500; ++i) output += "line " + std::to_string(i) + "\n";  // 3600 bytes
    svc.writeFile(L"grand\\java-double.txt", "sleep\n" + output);
    svc.writeModel("method com/pelto/runtime/WinLauncher main ([Ljava/lang/String;)V\nspawn \"" + grand +
                   "\"\nmain hang\n");
    LauncherRun r = svc.verb(L"/install");
    ASSERT_EQ(r.exitCode, 0u) << r.out;
  }
  std::string file(const wchar_t* name) const { return test::readWhole(svc.dir() + L"\\logs\\" + name); }

  ServiceLayout svc{Name, "hang", L"svcops", PELTO_SERVICE_OPS_EXE};
  std::string output;
};

// A child that ignores the stop line is ended with its grandchild after the stop timeout; the
// manager reports the stop-timeout code. Before that: the environment reached the grandchild,
// the output rolled, and /status showed the child.
TEST_F(ServiceOps, ABoundedStopEndsTheChildAndWhatItStarted) {
  ASSERT_EQ(svc.verb(L"/start").exitCode, 0u);
  ASSERT_TRUE(svc.waitFor("spawn")) << svc.record();
  DWORD grandchild = spawnedPid(svc, 0);
  std::vector<DWORD> children = svc.childrenOf(svc.processId());
  ASSERT_EQ(children.size(), 1u);
  LauncherRun r = svc.verb(L"/status");
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_TRUE(
      r.out.starts_with("Running.\nChild process " + std::to_string(children[0]) + ", running for 00:00:"))
      << r.out;
  DWORD preshutdown = 0;
  EXPECT_TRUE(registryDword((L"System\\CurrentControlSet\\Services\\" + std::wstring(Name)).c_str(),
                            L"PreshutdownTimeout", preshutdown));
  EXPECT_EQ(preshutdown, 2000u);

  for (int i = 0; i < 100 && file(L"service.log").size() < 600; ++i) Sleep(100);
  EXPECT_EQ(file(L"service.2.log") + file(L"service.1.log") + file(L"service.log"), output.substr(1000));
  EXPECT_FALSE(test::fileExists(svc.dir() + L"\\logs\\service.3.log"));
  char windir[MAX_PATH];
  GetEnvironmentVariableA("windir", windir, MAX_PATH);
  EXPECT_TRUE(test::contains(test::readWhole(svc.dir() + L"\\grand\\java-double.log"),
                             "run options=set:" + test::narrow(svc.dir()) + "\\|" + windir + " "));

  DWORD started = GetTickCount();
  r = svc.verb(L"/stop");
  EXPECT_LT(GetTickCount() - started, 2000u + 5000u);
  EXPECT_EQ(r.out, "Stopping service 'PeltoOpsE2e'.\nService stopped\n");
  SERVICE_STATUS status = queryStatus();
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(status.dwWin32ExitCode, 1066u);
  EXPECT_EQ(status.dwServiceSpecificExitCode, 5001u);
  EXPECT_TRUE(test::processEnds(children[0], 0));
  EXPECT_TRUE(test::processEnds(grandchild, 0));
  DWORD pid = 0;
  EXPECT_FALSE(registryDword(L"SOFTWARE\\tarnwick-labs\\pelto\\children", Name, pid));
  EXPECT_EQ(svc.verb(L"/status").out, "Not running.\n");

  // A child failing on its own: with recovery configured the manager learns its exit code.
  svc.writeModel("method com/pelto/runtime/WinLauncher main ([Ljava/lang/String;)V\nmain throw boom\n");
  ASSERT_EQ(svc.verb(L"/start").exitCode, 0u);
  EXPECT_EQ(svc.waitForStatus(3).exitCode, 3u);
  status = queryStatus();
  EXPECT_EQ(status.dwWin32ExitCode, 1066u);
  EXPECT_EQ(status.dwServiceSpecificExitCode, 1u);
}

// The service process killed: the job ends the hanging child and its grandchild with it.
TEST_F(ServiceOps, TheChildAndWhatItStartedDieWithTheServiceProcess) {
  ASSERT_EQ(svc.verb(L"/start").exitCode, 0u);
  ASSERT_TRUE(svc.waitFor("spawn")) << svc.record();
  DWORD service = svc.processId();
  std::vector<DWORD> children = svc.childrenOf(service);
  ASSERT_EQ(children.size(), 1u);
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, service);
  ASSERT_TRUE(process && TerminateProcess(process, 9));
  CloseHandle(process);
  EXPECT_TRUE(test::processEnds(children[0], 5000));
  EXPECT_TRUE(test::processEnds(spawnedPid(svc, 0), 5000));
}

}  // namespace
}  // namespace pelto
