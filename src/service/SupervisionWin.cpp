// The optional supervision as the service process carries it out: the child's job, its
// environment block, the captured output file and the event log.
#include <windows.h>

#include <memory>
#include <vector>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/Expand.h"
#include "launcher/CommandLine.h"
#include "launcher/Config.h"
#include "launcher/ConfigIds.h"
#include "launcher/Launch.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"
#include "service/ServiceRuntime.h"

namespace pelto {
namespace {

using UniqueEventSource = UniqueAny<HANDLE, DeregisterEventSource>;

}  // namespace

void writeServiceEvent(std::u16string_view source, bool on, const EventEntry& entry) {
  if (!on) return;
  logMessage(u"event: type %d id %d: %s", static_cast<int>(entry.type), static_cast<int>(entry.id),
             entry.text);
  std::wstring name = asW(source);
  UniqueEventSource log(RegisterEventSourceW(nullptr, name.c_str()));
  if (!log) {
    logError(u"RegisterEventSource %s failed (%d)", source, static_cast<int>(GetLastError()));
    return;
  }
  std::wstring text = asW(entry.text);
  LPCWSTR strings[] = {text.c_str()};
  if (!ReportEventW(log.get(), entry.type, 0, entry.id, nullptr, 1, 0, strings, nullptr))
    logError(u"ReportEvent failed (%d)", static_cast<int>(GetLastError()));
}

void reportChildServiceEvent(ServiceEvent event) {
  // The child's first argument is the name the service runs under, which may differ from the
  // configured one.
  std::u16string_view source =
      LaunchArguments.empty() ? std::u16string_view(ServiceName) : LaunchArguments.front();
  std::u16string detail = narrowToWide(JvmHome) + u", version " + narrowToWide(RuntimeVersionText);
  writeServiceEvent(source, getConfigInt(config_id::EventLog) != 0, serviceEventEntry(event, detail));
}

UniqueHandle createChildJob(bool killOnClose) {
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) {
    logError(u"CreateJobObject failed (%d)", static_cast<int>(GetLastError()));
    return job;
  }
  if (killOnClose) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
    info.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &info, sizeof info)) {
      DWORD error = GetLastError();
      logError(u"the child's job cannot end it with this process (%d)", static_cast<int>(error));
      job.reset();
      SetLastError(error);
    }
  }
  return job;
}

bool childEnvironment(std::span<const std::u16string> additions, std::u16string& block) {
  std::vector<std::u16string> current, expanded;
  if (LPWCH env = GetEnvironmentStringsW()) {
    for (const wchar_t* p = env; *p; p += wcslen(p) + 1) current.push_back(asU(p));
    FreeEnvironmentStringsW(env);
  }
  for (const std::u16string& entry : additions) {
    std::size_t eq = entry.find(u'=');
    std::u16string value = eq == std::u16string::npos ? std::u16string() : entry.substr(eq + 1);
    if (eq != std::u16string::npos && !expandVariables(value, false, TextRoom)) {
      logError(u"the environment entry %s does not fit %d characters once expanded; left out", entry,
               static_cast<int>(TextRoom));
      continue;
    }
    expanded.push_back(eq == std::u16string::npos ? entry : entry.substr(0, eq + 1) + value);
  }
  std::size_t skipped = 0;
  block = environmentBlock(current, expanded, &skipped);
  if (skipped) logError(u"%d environment entries without a name are left out", static_cast<int>(skipped));
  return !expanded.empty();
}

namespace {

// Every missing folder above the file, outermost first.
void createFoldersFor(const std::u16string& file) {
  std::size_t start = file.rfind(u'\\', 0) == 0 ? 2 : 3;  // past "\\" of a share or "C:\"
  for (std::size_t at = file.find(u'\\', start); at != std::u16string::npos; at = file.find(u'\\', at + 1))
    CreateDirectoryW(asW(file.substr(0, at)).c_str(), nullptr);
}

struct OutputFile {
  OutputCapture& capture;
  UniqueFileHandle file;
  std::uint64_t size = 0;
  bool failed = false;

  bool open() {
    std::wstring path = asW(capture.path);
    file.reset(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER at{};
    if (file && GetFileSizeEx(file.get(), &at)) size = static_cast<std::uint64_t>(at.QuadPart);
    return file.valid() || fail(u"open");
  }
  // Reported once; the output is still drained, so the child never blocks on a full pipe.
  bool fail(const char16_t* what) {
    DWORD error = GetLastError();
    file.reset();
    failed = true;
    std::u16string detail =
        capture.path + u" (" + what + u", error " + utf8ToUtf16(std::to_string(error)) + u")";
    logError(u"the output file cannot be written: %s", detail);
    writeServiceEvent(capture.serviceName, capture.eventLog,
                      serviceEventEntry(ServiceEvent::OutputFailed, detail));
    return false;
  }
  bool roll() {
    file.reset();
    for (const RollStep& step : rollSteps(capture.path, capture.keep)) {
      std::wstring from = asW(step.from), to = asW(step.to);
      if (to.empty())
        DeleteFileW(from.c_str());
      else
        MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    size = 0;
    return open();
  }
  void write(const char* data, std::size_t count) {
    while (count > 0 && !failed) {
      bool rollFirst = false;
      std::size_t n = nextOutputWrite(size, count, capture.maxSize, rollFirst);
      if (rollFirst && !roll()) return;
      DWORD done = 0;
      if (!WriteFile(file.get(), data, static_cast<DWORD>(n), &done, nullptr) || done != n) {
        fail(u"write");
        return;
      }
      size += n;
      data += n;
      count -= n;
    }
  }
};

}  // namespace

DWORD WINAPI drainChildOutput(LPVOID param) {
  std::unique_ptr<OutputCapture> capture(static_cast<OutputCapture*>(param));
  UniqueHandle pipe(capture->readEnd);
  logMessage(u"consuming output");
  OutputFile out{*capture, {}, 0, false};
  if (capture->path.empty()) {
    out.failed = true;
  } else {
    capture->path = fullPath(capture->path, true, false);
    createFoldersFor(capture->path);
    out.open();
  }
  std::vector<char> chunk(TextRoom);
  DWORD got = 0;
  while (ReadFile(pipe.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got > 0)
    out.write(chunk.data(), got);
  logMessage(u"consuming output done");
  return 0;
}

}  // namespace pelto
