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
const std::wstring InstallExe = TestDir + L"\\pelto_install.exe";

using test::LauncherRun;
using test::runLauncher;
using test::ScopedEnv;
using test::ScratchDir;

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

// The packed settings (delayed start, display name, NetworkService, recovery, event source),
// the options that win over them, and a named account with its password from standard input or
// the variable the pack names. Wine refuses the delayed start and the recovery flag (124).
TEST(ServiceVerbs, InstallSettingsFromThePackAndTheOptions) {
  const std::wstring name = L"PeltoScmInstall", display = L"Pelto Install \u2013 Display";
  ServiceCleanup cleanup{name};
  ScratchDir logs(L"pelto_install_log");
  ScopedEnv logOn(L"PELTO_LOG", L"yes"), tmp(L"TMP", logs.path()), temp(L"TEMP", logs.path());
  wchar_t user[256];
  DWORD userSize = 256;
  GetUserNameW(user, &userSize);
  const std::wstring self = L".\\" + std::wstring(user);
  const std::string none, secret = "line-secret\r\n";
  struct Case {
    std::vector<std::wstring> args;
    const std::string* input;
    const wchar_t* envPassword;
    DWORD exitCode;
    std::vector<std::string> out, log;  // parts the console output and the log hold
    DWORD start;                        // read back from the manager afterwards
    std::wstring display, account;
  } cases[] = {
      {{L"/install", name},
       nullptr,
       nullptr,
       0,
       {"Could not set the delayed automatic start (error 124).\n",
        "Could not set the recovery after a stop with an error (error 124).\n",
        "Installed service 'PeltoScmInstall'.\n"},
       {"failure actions: restart after 10000 ms, 60000 ms, 300000 ms (the last repeats); failure count "
        "reset "
        "after 3600 s",
        "installing with start type 2 (delayed)"},
       2,
       display,
       L"NT AUTHORITY\\NetworkService"},
      {{L"/install-demand", name, L"--account", L"virtual", L"--display-name", L"Opt D", L"--start",
        L"disabled"},
       nullptr,
       nullptr,
       0,
       {"Installed service 'PeltoScmInstall'.\n"},
       {},
       4,
       L"Opt D",
       L"NT SERVICE\\PeltoScmInstall"},
      // No password: refused before the existing service is touched.
      {{L"/install", name, L"--account", L".\\pelto-nobody"},
       &none,
       nullptr,
       1,
       {"No password for the account '.\\pelto-nobody'"},
       {},
       4,
       L"Opt D",
       L"NT SERVICE\\PeltoScmInstall"},
      {{L"/install", name, L"--account", L".\\pelto-nobody"},
       &secret,
       nullptr,
       0,
       {"Could not grant the account '.\\pelto-nobody' the right to log on as a service (error 1332)"},
       {"granting SeServiceLogonRight to .\\pelto-nobody failed with error 1332"},
       2,
       display,
       L".\\pelto-nobody"},
      {{L"/install", name, L"--account", self},
       &none,
       L"env-secret",
       0,
       {},
       {"SeServiceLogonRight"},
       2,
       display,
       self},
      {{L"/install", L"--start"},
       nullptr,
       nullptr,
       1,
       {"The option --start needs a value.\n"},
       {},
       2,
       display,
       self},
  };
  std::string logsSeen;
  for (const Case& c : cases) {
    ScopedEnv password(L"PELTO_TEST_INSTALL_PASSWORD",
                       c.envPassword ? std::optional<std::wstring>(c.envPassword) : std::nullopt);
    LauncherRun r = runLauncher(InstallExe, c.args, c.input);
    std::string log;
    for (const std::wstring& file : test::listDir(logs.path())) {
      log += test::readWhole(logs.path() + L"\\" + file);
      DeleteFileW((logs.path() + L"\\" + file).c_str());
    }
    const std::string what = narrow(c.args.back());
    EXPECT_EQ(r.exitCode, c.exitCode) << what << ": " << r.out;
    for (const std::string& part : c.out)
      EXPECT_NE(r.out.find(part), std::string::npos) << what << ": " << r.out;
    for (const std::string& part : c.log) EXPECT_NE(log.find(part), std::string::npos) << what << ": " << log;
    std::wstring text;
    EXPECT_EQ(readStartType(name), c.start) << what;
    EXPECT_TRUE(readString(name, L"DisplayName", text, RRF_RT_REG_SZ) && text == c.display + L'\0') << what;
    EXPECT_TRUE(readString(name, L"ObjectName", text, RRF_RT_REG_SZ) && text == c.account + L'\0') << what;
    logsSeen += log;
  }
  EXPECT_EQ(logsSeen.find("secret"), std::string::npos);  // passwords never reach the log
  const std::wstring source = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + name;
  DWORD types = 0, size = sizeof types;
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, source.c_str(), L"TypesSupported", RRF_RT_REG_DWORD, nullptr,
                         &types, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(types, 7u);
  EXPECT_EQ(runLauncher(InstallExe, {L"/uninstall", name}).exitCode, 0u);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, source.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace pelto

#endif
