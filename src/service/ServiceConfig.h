#pragma once
// Configuration entries of the service host beyond the original vocabulary: how the service is
// installed (display name, start type, account, recovery, event source) and how the service
// process supervises its child (bounded stop, job, environment, captured output, event log).
// Every entry is optional; without it the service behaves as it always did. What each holds is
// said beside its number in launcher/ConfigIds.h, which the pack tool writes them from.
#include "launcher/ConfigBlock.h"
#include "launcher/ConfigIds.h"

namespace pelto {

constexpr ConfigId ServiceDisplayNameId = config_id::ServiceDisplayName;  // wide; empty: the service name
constexpr ConfigId ServiceStartId = config_id::ServiceStartType;
constexpr ConfigId ServiceAccountId = config_id::ServiceAccount;
constexpr ConfigId ServicePasswordEnvId = config_id::ServicePasswordEnv;
constexpr ConfigId StopTimeoutId = config_id::StopTimeout;
constexpr ConfigId KillOnSupervisorExitId = config_id::KillOnSupervisorExit;
constexpr ConfigId RecoveryRestartDelaysId = config_id::RecoveryRestartDelays;
constexpr ConfigId RecoveryResetPeriodId = config_id::RecoveryResetPeriod;
constexpr ConfigId EventLogId = config_id::EventLog;
constexpr ConfigId ServiceLogFileId = config_id::ServiceLogFile;
constexpr ConfigId ServiceLogMaxSizeId = config_id::ServiceLogMaxSize;
constexpr ConfigId ServiceLogKeepId = config_id::ServiceLogKeep;
constexpr ConfigId ServiceEnvironmentCountId = config_id::ServiceEnvironmentCount;
constexpr ConfigId ServiceEnvironmentFirstId = config_id::ServiceEnvironmentFirst;

}  // namespace pelto
