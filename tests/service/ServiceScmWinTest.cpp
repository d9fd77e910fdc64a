// The service verbs of a packed launcher against Wine's real Service Control Manager. Every
// test uses service names of its own and removes them again.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "launcher/ChildProcessWin.h"
#include "service/LauncherRunWin.h"

#ifdef PELTO_SERVICE_TEST_DIR

namespace pelto {
namespace {

const std::wstring TestDir = PELTO_SERVICE_TEST_DIR;
const std::wstring PlainExe = TestDir + L"\\pelto_service.exe";
const std::wstring AutoExe = TestDir + L"\\pelto_service-auto.exe";

using test::LauncherRun;
using test::runLauncher;

std::string narrow(const std::wstring& w) {
  return std::string(w.begin(), w.end());
}

// The service's registry key, as the manager keeps it.
std::wstring serviceKey(const std::wstring& name) {
  return L"System\\CurrentControlSet\\Services\\" + name;
}

bool readString(const std::wstring& name, const wchar_t* value, std::wstring& text, DWORD flags) {
  wchar_t buf[4096];
  DWORD size = sizeof buf;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, serviceKey(name).c_str(), value, flags, nullptr, buf, &size) !=
      ERROR_SUCCESS)
    return false;
  text.assign(buf, size / sizeof(wchar_t));
  return true;
}

DWORD readStartType(const std::wstring& name) {
  DWORD v = 0, size = sizeof v;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, serviceKey(name).c_str(), L"Start", RRF_RT_REG_DWORD, nullptr, &v,
                   &size) != ERROR_SUCCESS)
    return 0;
  return v;
}

struct ServiceCleanup {
  std::wstring name;
  ~ServiceCleanup() { runLauncher(PlainExe, {L"/uninstall", name}); }
};

TEST(ServiceVerbs, InstallStatusReinstallAndUninstallOfAStoppedService) {
  const std::wstring name = L"PeltoScmLifecycle";
  ServiceCleanup cleanup{name};
  runLauncher(PlainExe, {L"/uninstall", name});

  LauncherRun r = runLauncher(PlainExe, {L"/status", name});
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_EQ(r.out, "Could not get status.\n");

  r = runLauncher(PlainExe, {L"-install-demand", name});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.out, "Installed service 'PeltoScmLifecycle'.\n");  // nothing existed: the only line

  std::wstring text;
  ASSERT_TRUE(readString(name, L"ImagePath", text, RRF_RT_REG_SZ | RRF_NOEXPAND));
  EXPECT_EQ(narrow(text), narrow(L"\"" + PlainExe + L"\"") + std::string(1, '\0'));
  // The manager's configuration query leaves dependencies out: read them where they are kept.
  ASSERT_TRUE(readString(name, L"DependOnService", text, RRF_RT_REG_MULTI_SZ));
  EXPECT_EQ(text, std::wstring(L"Tcpip\0EventLog\0\0", 16));
  ASSERT_TRUE(readString(name, L"Description", text, RRF_RT_REG_SZ));
  EXPECT_EQ(text, std::wstring(L"Pelto service test \u2013 description") + L'\0');
  ASSERT_TRUE(readString(name, L"DisplayName", text, RRF_RT_REG_SZ));
  EXPECT_EQ(text, name + L'\0');
  EXPECT_EQ(readStartType(name), 3u);

  r = runLauncher(PlainExe, {L"/status", name});
  EXPECT_EQ(r.exitCode, 3u);
  EXPECT_EQ(r.out, "Not running.\n");

  r = runLauncher(PlainExe, {L"--stop", name});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.out, "Service is already stopped.\n");

  // "install" of this launcher (ExecutableType 0) over the stopped service: demand start again.
  r = runLauncher(PlainExe, {L"/install", name});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.out, "Service is already stopped.\nInstalled service 'PeltoScmLifecycle'.\n");
  EXPECT_EQ(readStartType(name), 3u);

  r = runLauncher(PlainExe, {L"/uninstall", name});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.out, "Service is already stopped.\nUninstalled service 'PeltoScmLifecycle'.\n");
  EXPECT_FALSE(readString(name, L"ImagePath", text, RRF_RT_REG_SZ | RRF_NOEXPAND));
}

TEST(ServiceVerbs, VerbsOnAMissingServiceFail) {
  const std::wstring name = L"PeltoScmMissing";
  runLauncher(PlainExe, {L"/uninstall", name});
  struct Case {
    const wchar_t* verb;
    std::wstring name;
    std::string out;
  } cases[] = {
      {L"/uninstall", name, "Could not delete service.\n"},
      {L"/stop", name, "Could not stop service.\n"},
      {L"/start", name, "Could not start service. Error code: 1060\n"},
      {L"/status", name, "Could not get status.\n"},
      // The quiet stop of restart says nothing; the start then fails.
      {L"/restart", name, "Could not start service. Error code: 1060\n"},
      // A failed install ends the verb: nothing is started.
      {L"/install-and-start", L"Pelto\\Bad", "Could not create service.\n"},
  };
  for (const Case& c : cases) {
    LauncherRun r = runLauncher(PlainExe, {c.verb, c.name});
    EXPECT_EQ(r.exitCode, 1u) << narrow(c.verb);
    EXPECT_EQ(r.out, c.out) << narrow(c.verb);
  }
}

TEST(ServiceVerbs, StartTypeFollowsTheVerbAndExecutableTypeFour) {
  struct Case {
    std::wstring exe;
    const wchar_t* verb;
    DWORD startType;
  } cases[] = {
      {AutoExe, L"/install", 2},
      {AutoExe, L"/install-demand", 3},
      {PlainExe, L"/install-auto", 2},
      {PlainExe, L"/install-demand", 3},
  };
  const std::wstring name = L"Pelto Scm Start Type";  // a name with spaces, one word after the verb
  ServiceCleanup cleanup{name};
  for (const Case& c : cases) {
    LauncherRun r = runLauncher(c.exe, {c.verb, name});
    EXPECT_EQ(r.exitCode, 0u) << narrow(c.verb);
    EXPECT_NE(r.out.find("Installed service 'Pelto Scm Start Type'.\n"), std::string::npos) << r.out;
    EXPECT_EQ(readStartType(name), c.startType) << narrow(c.verb);
    r = runLauncher(c.exe, {L"/status", name});
    EXPECT_EQ(r.exitCode, 3u);
    EXPECT_EQ(r.out, c.startType == 2 ? "Not running.\nAuto-start.\n" : "Not running.\n");
  }
  // No dependencies and no description configured: none are set.
  runLauncher(AutoExe, {L"/install", name});
  std::wstring text;
  EXPECT_FALSE(readString(name, L"DependOnService", text, RRF_RT_REG_MULTI_SZ) && text.size() > 1);
  EXPECT_FALSE(readString(name, L"Description", text, RRF_RT_REG_SZ) && text.size() > 1);
}

TEST(ServiceVerbs, StartRestartAndInstallAndStartThroughTheManager) {
  const std::wstring name = L"PeltoScmStart";
  ServiceCleanup cleanup{name};
  LauncherRun r = runLauncher(PlainExe, {L"/install-and-start", name, L"a", L"b c"});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(r.out, "Installed service 'PeltoScmStart'.\nStarting service 'PeltoScmStart'.\n");
  // The child here has no Java runtime to launch and fails on its own, so the service reports no
  // stopped state; the manager then shows it running or not, depending on whether it noticed.
  for (const wchar_t* verb : {L"/start", L"/restart"}) {
    r = runLauncher(PlainExe, {verb, name, L"x"});
    EXPECT_EQ(r.exitCode, 0u) << narrow(verb);
    EXPECT_TRUE(r.out.ends_with("Starting service 'PeltoScmStart'.\n") ||
                r.out == "Service is already running.\n")
        << r.out;
  }
  r = runLauncher(PlainExe, {L"/uninstall", name});
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_TRUE(r.out.ends_with("Uninstalled service 'PeltoScmStart'.\n")) << r.out;
}

}  // namespace
}  // namespace pelto

#endif
