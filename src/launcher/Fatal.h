#pragma once
// The one fatal path: every fatal condition shows its text and ends in exitLauncher.
#include <string>
#include <string_view>

#include "launcher/Config.h"

namespace pelto {

// Presents a text to the user (message box in ErrorDialogMode, else console); does not exit.
void showFatalMessage(std::u16string_view text);
// The configured text of messageId with its first "{0}" replaced by the detail; does not exit.
void showLaunchError(ConfigId messageId, std::u16string_view detail = {});
void showLaunchError(ConfigId messageId, std::string_view narrowDetail);

[[noreturn]] void raiseFatalText(std::u16string_view text);
[[noreturn]] void raiseLaunchError(ConfigId messageId, std::u16string_view detail = {});
[[noreturn]] void raiseLaunchError(ConfigId messageId, std::string_view narrowDetail);

// Removes LauncherTempDir when set, then ends the process at once with exitCode.
[[noreturn]] void exitLauncher(int exitCode);

// Writes a narrow text to standard output as it stands (never as a format) and flushes it.
void consolePrint(std::string_view text);

// The text of a LaunchError: the first "{0}" of the message replaced by the detail, at most
// TextRoom-1 code units (a longer result is cut and the cut logged).
std::u16string buildLaunchErrorText(std::u16string_view message, std::u16string_view detail);
// What showFatalMessage presents: the message, and "\n\nLog: " with the log path when a log
// exists. The message is kept (cut to its room if need be); the log suffix is added only when it
// fits whole, so the user never sees half a path.
std::u16string buildFatalText(std::u16string_view message, std::u16string_view logPath);

}  // namespace pelto
