// The Windows half of the fatal path: message box or console, temp directory removal, exit.
#include <windows.h>

#include <cstdio>

#include "env/LaunchFolders.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "env/User32.h"
#include "launcher/Config.h"
#include "launcher/Fatal.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

std::u16string longForm(const std::u16string& path) {
  std::wstring buf(TextRoom, L'\0');
  DWORD n = GetLongPathNameW(wptr(path), buf.data(), static_cast<DWORD>(TextRoom));
  if (n == 0 || n >= TextRoom) return path;
  buf.resize(n);
  return asU(buf);
}

void writeToStandardError(const std::u16string& text) {
  std::string narrow = wideToNarrow(text);
  narrow += '\n';
  std::fwrite(narrow.data(), 1, narrow.size(), stderr);
  std::fflush(stderr);
}

// A console gets the wide text as it stands; anything else (a pipe, a file, nothing) gets it
// on standard error.
void writeToConsoleOrStandardError(const std::u16string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) == FILE_TYPE_CHAR) {
    DWORD written = 0;
    if (WriteConsoleW(out, wptr(text), static_cast<DWORD>(text.size()), &written, nullptr)) {
      FlushFileBuffers(out);
      return;
    }
  }
  writeToStandardError(text);
}

}  // namespace

void showFatalMessage(std::u16string_view message) {
  std::u16string logPath = logFilePath();
  if (!logPath.empty()) logPath = longForm(logPath);
  std::u16string text = buildFatalText(message, logPath);
  if (ErrorDialogMode) {
    std::u16string caption = getConfigText(1000);
    // Failure is 0 on Windows and -1 under Wine (no display): any non-positive result means
    // nobody saw the text, which must then still reach someone.
    auto messageBox = user32<int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT)>("MessageBoxW");
    if (messageBox && messageBox(nullptr, wptr(text), wptr(caption), MB_OK | MB_ICONERROR) > 0) return;
    logError(u"MessageBox failed with error %d", static_cast<int>(GetLastError()));
  }
  writeToConsoleOrStandardError(text);
}

void showLaunchError(ConfigId messageId, std::u16string_view detail) {
  showFatalMessage(buildLaunchErrorText(getConfigText(messageId), detail));
}

void showLaunchError(ConfigId messageId, std::string_view narrowDetail) {
  std::u16string detail = ansiToWide(narrowDetail);
  cutToRoom(detail, TextRoom);
  showLaunchError(messageId, std::u16string_view(detail));
}

void raiseFatalText(std::u16string_view text) {
  showFatalMessage(text);
  exitLauncher(1);
}

void raiseLaunchError(ConfigId messageId, std::u16string_view detail) {
  showLaunchError(messageId, detail);
  exitLauncher(1);
}

void raiseLaunchError(ConfigId messageId, std::string_view narrowDetail) {
  showLaunchError(messageId, narrowDetail);
  exitLauncher(1);
}

void exitLauncher(int exitCode) {
  std::fflush(nullptr);
  removeOwnLaunchFolder();
  LauncherTempDir.clear();
  LauncherTempDirWide.clear();
  // No exit-time clean-up of the runtime library: JVM threads may still be running.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace pelto
