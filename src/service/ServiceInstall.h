#pragma once
// The decisions of the install verbs that need no Windows API: the options on their command
// line, the start type, the account, the failure actions and the texts that report them.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "service/ServiceText.h"

namespace pelto {

// A delayed start is an automatic start plus a flag of its own.
constexpr std::uint32_t DisabledStart = 4;

struct StartChoice {
  std::uint32_t type = DemandStart;
  bool delayed = false;
};

// "demand", "auto", "delayed-auto" or "disabled"; false for anything else.
bool parseStartType(std::u16string_view text, StartChoice& choice);

// What the words after the service name of an install verb asked for. Empty: not given.
struct InstallOptions {
  std::u16string account;
  std::u16string start;
  std::u16string displayName;
  std::vector<std::u16string> rest;  // the words after the options (the start arguments)
};

// A word of an install verb that starts with "--" is an option, never the service name.
bool isInstallOption(std::u16string_view word);

// Reads "--account A", "--start S" and "--display-name D" until the first word that is not an
// option ("--" alone ends the options and is dropped); the words from there on go to rest. An
// unknown option and a missing value (none, an empty one, or one that is itself an option) are
// refused with a message for the console.
bool parseInstallOptions(std::span<const std::u16string> words, InstallOptions& options,
                         std::u16string& error);

// The start type the service is created with: the --start option, else the verb's own choice
// (install-auto, install-demand), else the packed start type, else the rule of "install"
// (automatic for ExecutableType 4). A start type that is none of the four is refused.
bool chooseStartType(std::u16string_view option, const StartChoice* verbChoice, std::u16string_view packed,
                     long executableType, StartChoice& choice, std::u16string& error);

// The account the service runs under. objectName empty: LocalSystem (no account given to the
// manager). A named account (DOMAIN\user, .\user or user@domain) needs a password and the right
// to log on as a service; a group managed service account (DOMAIN\name$) needs the right but no
// password; the built-in and virtual accounts need neither, whether given by their short name or
// typed in full ("NT AUTHORITY\LocalService", "NT SERVICE\name"), in any case.
struct ServiceAccount {
  std::u16string objectName;
  bool named = false;    // asks for a password
  bool managed = false;  // a group managed service account: its password is the domain's
  bool needsLogonRight() const { return named || managed; }
};
bool resolveAccount(std::u16string_view text, std::u16string_view serviceName, ServiceAccount& account,
                    std::u16string& error);

// The name LookupAccountName understands: ".\user" names an account of this computer.
std::u16string accountLookupName(std::u16string_view objectName, std::u16string_view computerName);

// Whether an account's rights lack the right to log on as a service.
bool lacksServiceLogonRight(std::span<const std::u16string> rights);
// The right to log on as a service goes to a user account only (SID_NAME_USE 1): a name that
// turns out to be a group, an alias or a well-known group would hand the right to all its
// members. Empty when it may be granted, else why not ("it is a group, not a user account").
std::u16string logonRightRefusal(int sidNameUse);

// The exit code of an install verb whose service exists but refused some of its settings.
constexpr int ExitInstalledWithWarnings = 4;

// The failure actions of the manager, without its types: restart after each delay in turn (the
// manager repeats the last one), the failure count reset after resetPeriod seconds.
constexpr std::uint32_t RestartAction = 1;  // SC_ACTION_RESTART
constexpr std::uint32_t DefaultResetSeconds = 86400;
constexpr std::size_t MaxRestartDelays = 16;
struct FailureAction {
  std::uint32_t type = RestartAction;
  std::uint32_t delayMs = 0;
};
struct FailureActionsPlan {
  std::uint32_t resetPeriod = DefaultResetSeconds;
  std::vector<FailureAction> actions;  // empty: no recovery configured
};

// From the packed delays ("10000,60000", milliseconds) and reset period (seconds; empty: one day).
// No delays: a plan without actions. Items that are not decimal numbers within 32 bits, empty
// items and more than MaxRestartDelays items are refused.
bool planFailureActions(std::string_view delays, std::string_view resetSeconds, FailureActionsPlan& plan,
                        std::u16string& error);

// "restart after 10000 ms, 60000 ms (the last repeats); failure count reset after 86400 s"
std::u16string describeFailureActions(const FailureActionsPlan& plan);

// Everything the service is created with, from the packed configuration and the options.
struct InstallPlan {
  StartChoice start;
  std::u16string displayName;
  ServiceAccount account;
  std::u16string passwordVariable;  // for a named account: the variable holding its password
  FailureActionsPlan recovery;
  bool eventSource = false;
  std::uint32_t preshutdownMs = 0;  // the stop timeout: the time the system's shutdown gives the service
};

// The options win over the packed values (display name 31001, start type 31002, account 31003);
// recovery (31007, 31008), the password variable (31004), the event source (31009) and the stop
// timeout are packed only. verbChoice: the start type of install-auto and install-demand, null for install.
bool planInstall(const InstallOptions& options, const StartChoice* verbChoice,
                 std::u16string_view serviceName, InstallPlan& plan, std::u16string& error);

// The event source's registry key below HKEY_LOCAL_MACHINE.
std::u16string eventSourceKey(std::u16string_view serviceName);

}  // namespace pelto
