#pragma once
// The names of the configuration entries that the pack tool writes and the launcher reads.
// Portable: included by the pack tool on every host and by the launcher.
#include <cstdint>

namespace pelto::config_id {

using Id = std::int32_t;

// Service
constexpr Id ServiceName = 101;
constexpr Id ExecutableType = 107;  // 1 windowed, 4 automatic start, 5 message boxes, else console
constexpr Id ServiceDependencies = 149;
constexpr Id ServiceDescription = 20017;  // wide

// Application and class path
constexpr Id StdoutIsPath = 102;
constexpr Id StdoutPath = 103;
constexpr Id StderrIsPath = 104;
constexpr Id StderrPath = 105;
constexpr Id AppendOutput = 106;
constexpr Id SplashEnabled = 108;
constexpr Id ClassPath = 121;
constexpr Id MainClass = 122;
constexpr Id VmOptions = 123;
constexpr Id AppArguments = 124;
constexpr Id JArgumentsToJvm = 125;
constexpr Id MinVersion = 126;
constexpr Id MaxVersion = 127;
constexpr Id SearchSequence = 128;
constexpr Id AllowPrerelease = 130;
constexpr Id RequireJdk = 131;
constexpr Id ModulePath = 132;
constexpr Id MainClassInModule = 133;
constexpr Id WorkingDirectory = 146;
constexpr Id JvmDllSubdirectory = 152;
constexpr Id AddDllDirectories = 154;
constexpr Id GlobalSemaphore = 158;
constexpr Id ApplicationId = 160;
constexpr Id SplashOption = 163;
constexpr Id LocatedRuntimesOnly = 165;
constexpr Id ReadDefaultVmOptions = 166;
constexpr Id Flavour = 2001;
constexpr Id ApplicationDirectory = 10003;
constexpr Id NativeLibraryDirectories = 10004;
constexpr Id SingleInstance = 10005;
constexpr Id ActivateWindows = 10007;
constexpr Id VersionOptionCount = 10200;  // then condition 10201 + 2i, options 10202 + 2i
// The splash text items: text, first and second integer of items 1 to 4.
constexpr Id SplashText[4] = {10111, 10114, 10118, 10121};
constexpr Id SplashFirst[4] = {10109, 10113, 10116, 10120};
constexpr Id SplashSecond[4] = {10110, 10115, 10117, 10122};

// Entries of the service host, 31000 to 31999; every one is optional, and without it the service
// behaves as it always did. The install verbs read:
constexpr Id ServiceOperationsFirst = 31000;
constexpr Id ServiceOperationsLast = 31999;
// Wide text: the display name given to CreateService; empty or missing means the service name.
constexpr Id ServiceDisplayName = 31001;
// String: the start type when ExecutableType cannot tell it: "auto" (automatic start together
// with message boxes or a windowed application), "delayed-auto" (automatic start, then
// SERVICE_CONFIG_DELAYED_AUTO_START_INFO), "disabled" (SERVICE_DISABLED). Missing: ExecutableType
// 4 means automatic start, anything else demand start.
constexpr Id ServiceStartType = 31002;
// The account (String): "LocalSystem", "LocalService", "NetworkService", "virtual" or a named
// account "DOMAIN\user", ".\user", "user@domain"; and for a named one the variable /install
// reads its password from (the password itself is never stored).
constexpr Id ServiceAccount = 31003;
constexpr Id ServicePasswordEnv = 31004;
// The service process reads:
constexpr Id StopTimeout = 31005;            // milliseconds; 0 or missing: wait without a limit
constexpr Id KillOnSupervisorExit = 31006;   // "1": the child's job ends with the service process
constexpr Id RecoveryRestartDelays = 31007;  // milliseconds joined by ","; the last repeats
constexpr Id RecoveryResetPeriod = 31008;    // seconds after which the failure count resets
constexpr Id EventLog = 31009;               // "1": the Application event log
constexpr Id ServiceLogFile = 31011;         // captured output, relative to the executable's folder
constexpr Id ServiceLogMaxSize = 31012;      // bytes; the file rolls when it passes this size
constexpr Id ServiceLogKeep = 31013;         // how many rolled files are kept
// The child's additional environment: a count, then one wide "NAME=value" entry each.
constexpr Id ServiceEnvironmentCount = 31100;
constexpr Id ServiceEnvironmentFirst = 31101;

}  // namespace pelto::config_id
