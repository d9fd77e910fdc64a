#pragma once
// Configuration entries of the service host beyond the original vocabulary: how the service is
// installed (display name, start type, account, recovery, event source) and how the service
// process supervises its child (bounded stop, job, environment, captured output, event log).
// Every entry is optional; without it the service behaves as it always did.
#include "launcher/ConfigBlock.h"

namespace pelto {

constexpr ConfigId ServiceDisplayNameId = 31001;  // wide text; empty: the service name
constexpr ConfigId ServiceStartId = 31002;        // "demand", "auto", "delayed-auto" or "disabled"
constexpr ConfigId ServiceAccountId = 31003;      // "LocalSystem", "LocalService", "NetworkService",
                                                  // "virtual" or "DOMAIN\user"
constexpr ConfigId ServicePasswordEnvId = 31004;  // name of the variable /install reads the password from
constexpr ConfigId StopTimeoutId = 31005;         // milliseconds; 0 or missing: wait without limit
constexpr ConfigId KillOnSupervisorExitId = 31006;  // flag
constexpr ConfigId RecoveryRestartDelaysId = 31007;  // milliseconds, ","-separated; the last repeats
constexpr ConfigId RecoveryResetPeriodId = 31008;    // seconds after which the failure count resets
constexpr ConfigId EventLogId = 31009;               // flag
constexpr ConfigId ServiceLogFileId = 31011;         // captured output, relative to the executable's folder
constexpr ConfigId ServiceLogMaxSizeId = 31012;      // bytes; the file rolls when it passes this size
constexpr ConfigId ServiceLogKeepId = 31013;         // how many rolled files are kept
// The child's additional environment: a count, then one wide "NAME=value" entry each.
constexpr ConfigId ServiceEnvironmentCountId = 31100;
constexpr ConfigId ServiceEnvironmentFirstId = 31101;

}  // namespace pelto
