// The optional supervision as the service process carries it out: the child's job, its
// environment block, the captured output file and the event log.
#include <windows.h>

#include <memory>
#include <vector>

#include "env/OwnerOnly.h"
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

void reportChildServiceEvent(ServiceEvent event, std::uint64_t code) {
  // The child's first argument is the name the service runs under, which may differ from the
  // configured one.
  std::u16string_view source =
      LaunchArguments.empty() ? std::u16string_view(ServiceName) : LaunchArguments.front();
  std::u16string detail = narrowToWide(JvmHome) + u", version " + narrowToWide(RuntimeVersionText);
  writeServiceEvent(source, getConfigInt(config_id::EventLog) != 0, serviceEventEntry(event, detail, code));
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

std::u16string errorDetail(const std::u16string& path, const char16_t* what, DWORD error) {
  return path + u" (" + what + u", error " + utf8ToUtf16(std::to_string(error)) + u")";
}

// Same volume and file index: the file a name leads to now is the one a handle holds.
bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// A plain file: no folder, no reparse point, no second name through which it is written.
bool plainFile(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
  if (!GetFileInformationByHandle(file, &info)) return false;
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
      info.nNumberOfLinks == 1)
    return true;
  SetLastError(ERROR_INVALID_NAME);
  return false;
}

// Every missing folder between the executable's folder and the file, made with the protected
// entries; an existing one must be a real folder, not a link that leads elsewhere.
bool createFoldersFor(const std::u16string& file, std::size_t below, OwnerOnlySecurity& security) {
  for (std::size_t at = file.find(u'\\', below); at != std::u16string::npos; at = file.find(u'\\', at + 1)) {
    std::wstring folder = asW(file.substr(0, at));
    if (CreateDirectoryW(folder.c_str(), security.attributes())) continue;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      SetLastError(ERROR_DIRECTORY);
      return false;
    }
  }
  return true;
}

// A file of the roll opened for its move, without following a link; invalid unless plain.
UniqueFileHandle openForMove(const std::u16string& path, BY_HANDLE_FILE_INFORMATION& info) {
  UniqueFileHandle file(CreateFileW(asW(path).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file && !plainFile(file.get(), info)) file.reset();
  return file;
}

// Renamed (replacing what has the new name) or deleted through the handle, so that the name
// cannot be swapped for another file in between.
bool moveByHandle(HANDLE file, const std::u16string& to) {
  if (to.empty()) {
    FILE_DISPOSITION_INFO dispose{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose);
  }
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::copy(to.begin(), to.end(), reinterpret_cast<char16_t*>(rename->FileName));
  return SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()));
}

struct OutputFile {
  explicit OutputFile(OutputCapture& c) : capture(c) {}
  OutputCapture& capture;
  OwnerOnlySecurity security;
  UniqueFileHandle file;
  std::uint64_t size = 0;
  bool failed = false;
  bool rollFailed = false;  // reported once until a roll succeeds again
  DWORD rollFailedTick = 0;

  bool open() {
    std::wstring path = asW(capture.path);
    // Read sharing only beside delete: one writer per file, readers welcome, and the roll may
    // move it. WRITE_DAC: an older file gets the protected entries too.
    file.reset(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC,
                           FILE_SHARE_READ | FILE_SHARE_DELETE, security.attributes(), OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return fail(u"open");
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!plainFile(file.get(), info)) return fail(u"not a plain file");
    if (existed && !security.applyTo(file.get(), SE_FILE_OBJECT))
      logError(u"the output file %s keeps its own access entries (%d)", capture.path,
               static_cast<int>(GetLastError()));
    size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
  }
  // Reported once; the output is still drained, so the child never blocks on a full pipe.
  bool fail(const char16_t* what) {
    std::u16string detail = errorDetail(capture.path, what, GetLastError());
    file.reset();
    failed = true;
    logError(u"the output file cannot be written: %s", detail);
    writeServiceEvent(capture.serviceName, capture.eventLog,
                      serviceEventEntry(ServiceEvent::OutputFailed, detail));
    return false;
  }
  // The live file is moved first; when it cannot be (a reader holds it without delete sharing)
  // nothing else is touched and writing goes on into it until the next attempt.
  bool roll() {
    const std::vector<RollStep> steps = rollSteps(capture.path, capture.keep);
    BY_HANDLE_FILE_INFORMATION live{}, found{};
    GetFileInformationByHandle(file.get(), &live);
    UniqueFileHandle first = openForMove(steps.front().from, found);
    if (!first || !sameFile(live, found) || !moveByHandle(first.get(), steps.front().to))
      return rollFailedOnce(GetLastError());
    first.reset();
    for (std::size_t i = 1; i < steps.size(); ++i) {
      UniqueFileHandle next = openForMove(steps[i].from, found);
      if (next && !moveByHandle(next.get(), steps[i].to))
        logError(u"the rolled file %s cannot be moved (%d)", steps[i].from, static_cast<int>(GetLastError()));
    }
    rollFailed = false;
    size = 0;
    return open();
  }
  bool rollFailedOnce(DWORD error) {
    if (!rollFailed) {
      std::u16string detail = errorDetail(capture.path, u"roll", error);
      logError(u"the output file cannot be rolled: %s", detail);
      writeServiceEvent(capture.serviceName, capture.eventLog,
                        serviceEventEntry(ServiceEvent::RollFailed, detail));
    }
    rollFailed = true;
    rollFailedTick = GetTickCount();
    return false;
  }
  void write(const char* data, std::size_t count) {
    while (count > 0 && !failed) {
      bool rollFirst = false;
      std::size_t n = nextOutputWrite(size, count, capture.maxSize, rollFirst);
      // A roll that is not due or fails leaves the live file growing: nothing is lost.
      if (rollFirst && (!rollAttemptDue(rollFailed, rollFailedTick, GetTickCount()) || !roll())) {
        if (failed) return;
        n = count;
      }
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
  OutputFile out(*capture);
  if (capture->path.empty()) {
    out.failed = true;
  } else {
    const std::u16string folder = executableDirectoryWide(false);
    const char* why = nullptr;
    std::u16string configured = capture->path;
    capture->path = capturedOutputPath(configured, capture->serviceName, folder, why);
    if (why) {
      capture->path = configured;
      SetLastError(ERROR_BAD_PATHNAME);
      out.fail(utf8ToUtf16(why).c_str());
    } else if (!createFoldersFor(capture->path, folder.size(), out.security)) {
      out.fail(u"folder");
    } else {
      out.open();
    }
  }
  std::vector<char> chunk(TextRoom);
  DWORD got = 0;
  while (ReadFile(pipe.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got > 0)
    out.write(chunk.data(), got);
  logMessage(u"consuming output done");
  return 0;
}

}  // namespace pelto
