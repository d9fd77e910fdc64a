// The probe of a java.exe and the per-user cache of its results.
#include <windows.h>

#include <cstring>
#include <optional>
#include <string_view>

#include "env/Handles.h"
#include "env/LaunchFolders.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "jre/Probe.h"
#include "jre/ProbeText.h"
#include "launcher/Config.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

// A terminated child may hold the output file a little longer; its deletion waits for it.
constexpr DWORD TerminateWaitMs = 5000;
constexpr int ProbeOutputAttempts = 10;

bool endsWith(const std::string& s, const char* tail) {
  std::size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// _JAVA_OPTIONS is taken out of the environment for the child and put back afterwards.
std::optional<std::string> takeJavaOptions() {
  std::optional<std::string> held;
  DWORD size = GetEnvironmentVariableA("_JAVA_OPTIONS", nullptr, 0);
  if (size == 0) return held;
  std::string value(size, '\0');
  DWORD length = GetEnvironmentVariableA("_JAVA_OPTIONS", value.data(), size);
  if (length + 1 == size) {
    value.resize(length);
    logMessage(u"_JAVA_OPTIONS is %S", value);
    held = std::move(value);
  } else {
    logMessage(u"error reading _JAVA_OPTIONS");
  }
  SetEnvironmentVariableA("_JAVA_OPTIONS", nullptr);
  return held;
}

// The 8.3 form of the path, or empty when there is none that fits.
std::string shortForm(const std::string& executable) {
  std::string buf(TextRoom, '\0');
  DWORD n = GetShortPathNameA(executable.c_str(), buf.data(), static_cast<DWORD>(TextRoom));
  if (n == 0 || n >= TextRoom) {
    logMessage(u"Could not get short path name for %S", executable);
    return {};
  }
  buf.resize(n);
  return buf;
}

// The first line of what the child wrote, read back through our own handle from the start;
// its line feed kept and a carriage return before it dropped, as a text-mode read gives it.
bool readFirstLine(HANDLE file, std::string& line) {
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  char buf[FirstLineRoom - 1];
  DWORD got = 0;
  if (!ReadFile(file, buf, sizeof buf, &got, nullptr) || got == 0) return false;
  std::string_view text(buf, got);
  std::size_t end = text.find('\n');
  if (end != std::string_view::npos) text = text.substr(0, end + 1);
  line.assign(text);
  if (line.size() >= 2 && line[line.size() - 2] == '\r' && line.back() == '\n')
    line.erase(line.size() - 2, 1);
  return true;
}

}  // namespace

bool javaExeForHome(std::string& executable, const std::string& home) {
  executable = home + "\\jre\\bin\\java.exe";
  if (getConfigInt(131) != 0) return pathExists(home + "\\lib\\tools.jar");
  if (!pathExists(executable)) executable = home + "\\bin\\java.exe";
  return true;
}

bool lookupCachedVersion(const std::string& executable, std::uint64_t lastWrite, std::string& version) {
  UniqueHKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, versionCacheKey(executable).c_str(), 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS)
    return false;
  // A value of another type is no entry of ours (another tool, a damaged hive): the probe decides.
  unsigned char time[8];
  DWORD size = sizeof time, type = 0;
  if (RegQueryValueExA(key.get(), "LastWriteTime", nullptr, &type, time, &size) != ERROR_SUCCESS ||
      type != REG_BINARY || size != sizeof time)
    return false;
  unsigned char expected[8];
  for (int i = 0; i < 8; ++i) expected[i] = static_cast<unsigned char>(lastWrite >> (8 * i));
  if (std::memcmp(time, expected, sizeof time) != 0) return false;
  std::string value(TextRoom, '\0');
  size = static_cast<DWORD>(TextRoom);
  if (RegQueryValueExA(key.get(), "Version", nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  value.resize(size);
  return cachedVersionFromValue(value, version);
}

void storeCachedVersion(const std::string& executable, std::uint64_t lastWrite, const std::string& version) {
  UniqueHKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, versionCacheKey(executable).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return;
  unsigned char time[8];
  for (int i = 0; i < 8; ++i) time[i] = static_cast<unsigned char>(lastWrite >> (8 * i));
  RegSetValueExA(key.get(), "LastWriteTime", 0, REG_BINARY, time, sizeof time);
  // The registry counts in a NUL of its own when the data is followed by one; a byte other
  // than NUL behind the text keeps the value at exactly the text.
  std::string data = version + '.';
  RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                 static_cast<DWORD>(version.size()));
}

namespace {

// A file of a random name in the temp folder for the probe's output, made new: a name that
// stands (planted, or a link) is never opened. Deleted with its last handle, so that not even a
// launcher killed during the probe leaves it behind; the child writes through an inherited
// duplicate.
UniqueFileHandle createProbeOutput(std::u16string& path) {
  std::u16string dir = getTempDirectory(false);
  if (!dir.empty() && dir.back() != u'\\' && dir.back() != u'/') dir += u'\\';
  logMessage(u"tempPath is %s", dir);
  for (int attempt = 0; attempt < ProbeOutputAttempts && !dir.empty(); ++attempt) {
    std::uint64_t random = 0;
    if (!systemRandom(random)) break;
    path = dir + launchFolderName(random) + u".tmp";
    UniqueFileHandle file(CreateFileW(
        wptr(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    logMessage(u"tempFile is %s (%d)", path, file ? 0 : static_cast<int>(GetLastError()));
    if (file) return file;
  }
  return UniqueFileHandle();
}

}  // namespace

bool probeJavaVersion(const std::string& executable, std::uint64_t lastWrite, std::string& version,
                      std::uint32_t waitMs) {
  std::optional<ProbeCommand> command = probeCommand(executable, shortForm(executable));
  if (!command) {
    logError(u"no executable can be named %S", executable);
    return false;
  }
  std::optional<std::string> javaOptions = takeJavaOptions();

  std::u16string outputFile;
  UniqueFileHandle created = createProbeOutput(outputFile);
  UniqueHandle errorHandle;
  HANDLE self = GetCurrentProcess();
  if (created) DuplicateHandle(self, created.get(), self, errorHandle.put(), 0, TRUE, DUPLICATE_SAME_ACCESS);

  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  si.hStdInput = nullptr;
  si.hStdOutput = nullptr;
  si.hStdError = errorHandle.get();
  PROCESS_INFORMATION pi{};
  std::string commandLine = command->commandLine;  // CreateProcessA may write into it
  BOOL started = CreateProcessA(command->application.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si, &pi);
  DWORD startError = started ? 0 : GetLastError();
  UniqueHandle process(started ? pi.hProcess : nullptr);
  UniqueHandle thread(started ? pi.hThread : nullptr);
  DWORD waited = started ? WaitForSingleObject(process.get(), waitMs) : WAIT_FAILED;
  if (javaOptions) SetEnvironmentVariableA("_JAVA_OPTIONS", javaOptions->c_str());

  bool ok = false;
  if (!started) {
    logMessage(u"Could not create process %S > %s (error %d)", command->commandLine, outputFile,
               static_cast<int>(startError));
  } else {
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = STILL_ACTIVE;
    logMessage(u"Exit Code %d", static_cast<int>(exitCode));
    if (waited != WAIT_OBJECT_0) {
      // Still running (or not waitable): a runtime that hangs on -version is not usable.
      logMessage(u"Terminating process");
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), TerminateWaitMs);
    } else if (exitCode != 0) {
      storeCachedVersion(executable, lastWrite, std::string(FailedProbeVersion));
    } else {
      ok = true;
    }
  }
  errorHandle.reset();
  process.reset();
  thread.reset();

  if (ok) {
    std::string line;
    ok = created && readFirstLine(created.get(), line) && versionFromFirstLine(line, version);
    if (ok) logMessage(u"Java version: %S", version);
  }
  created.reset();
  return ok;
}

bool checkJavaExe(std::string& candidate, std::string& version, const VersionBounds& bounds,
                  bool allowPreRelease) {
  logMessage(u"checkJavaExe (%S, [out], %d, %d, %d)", candidate, static_cast<int>(bounds.lower.size()),
             static_cast<int>(bounds.upper.size()), allowPreRelease);
  candidate = fullPath(candidate, false);
  bool result = false;
  std::uint64_t lastWrite = 0;
  if (!pathExists(candidate, &lastWrite)) {
    logMessage(u"file doesn't exist");
  } else {
    logMessage(u"file exists");
    version.clear();
    bool known = false;
    if (lookupCachedVersion(candidate, lastWrite, version) && version != FailedProbeVersion) {
      logMessage(u"got version from registry %S", version);
      known = true;
    } else {
      version.clear();
      if (probeJavaVersion(candidate, lastWrite, version)) {
        logMessage(u"got version from execution %S", version);
        storeCachedVersion(candidate, lastWrite, version);
        known = true;
      } else {
        logMessage(u"couldn't get version");
      }
    }
    result = known && isVersionAcceptable(version, bounds, allowPreRelease);
  }
  if (result && getConfigInt(107) == 1 && endsWith(candidate, ".exe")) {
    candidate.replace(candidate.size() - 4, 4, "w.exe");
    result = pathExists(candidate);
  }
  logMessage(u"checkJavaExe returning %d", result);
  return result;
}

}  // namespace pelto
