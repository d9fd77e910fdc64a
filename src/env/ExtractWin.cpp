// Extraction of the included files into LauncherTempDir, through wide calls only.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "env/Extract.h"
#include "env/Handles.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/Config.h"
#include "launcher/ConfigBlock.h"
#include "launcher/Fatal.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {

std::uint32_t UnextractedPosition = 0;

namespace {

[[noreturn]] void raiseConfigError(const ConfigError& error) {
  logConfigError(error);
  raiseFatalText(configErrorText(error));
}

// 0, or 1 when the source ran dry or failed, 2 when the target refused a write.
// The data comes through the same buffered source as the lengths, so both stay in step.
int copyMasked(ByteSource& source, HANDLE target, std::int64_t length) {
  std::vector<unsigned char> chunk(IncludedFileChunk);
  std::int64_t copied = 0;
  while (copied < length) {
    auto want = static_cast<DWORD>(std::min<std::int64_t>(IncludedFileChunk, length - copied));
    ByteSource::ReadResult r = source.read(chunk.data(), want);
    auto got = static_cast<DWORD>(r.count);
    if (got == 0) {
      logError(u"ReadFile failed %d %d %I64d", static_cast<int>(got), static_cast<int>(r.systemError),
               copied);
      return 1;
    }
    for (DWORD i = 0; i < got; ++i) chunk[i] = static_cast<unsigned char>(chunk[i] ^ IncludedFileMask);
    DWORD done = 0;
    while (done < got) {
      DWORD wrote = 0;
      // A write that reports success but writes nothing would never finish: it fails too.
      if (!WriteFile(target, chunk.data() + done, got - done, &wrote, nullptr) || wrote == 0) {
        logError(u"WriteFile failed %d %d", static_cast<int>(got - done), static_cast<int>(GetLastError()));
        return 2;
      }
      done += wrote;
    }
    copied += got;
  }
  return 0;
}

int extractRecord(ByteSource& bytes, const std::u16string& target) {
  std::int64_t length = 0;
  if (ConfigError e = readLong(bytes, length)) raiseConfigError(e);
  logMessage(u"extracting %s (size: %I64d)", target, length);
  // An empty file is still a file the application may look for; a negative length is none.
  if (length < 0) return 0;
  UniqueFileHandle out(
      CreateFileW(wptr(target), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) {
    logError(u"could not create %s (%d)", target, static_cast<int>(GetLastError()));
    raiseLaunchError(1009, std::string_view("11"));
  }
  return copyMasked(bytes, out.get(), length);
}

// The target of one name, its folders made on demand. Every folder and file is made fresh:
// one that already stands was put there by someone else and is never written into.
std::u16string prepareTarget(const std::string& name, std::vector<std::u16string>& madeFolders) {
  // A name that would leave the directory (or name a device, a stream) never reaches the disk.
  if (!isSafeIncludedName(name)) {
    logError(u"refusing included file name %S", name);
    raiseLaunchError(1009, std::string_view("11"));
  }
  std::u16string target = LauncherTempDirWide + u"\\" + narrowToWide(name);
  if (target.size() > TextRoom - 1) {
    logError(u"included file path too long (%d characters)", static_cast<int>(target.size()));
    raiseLaunchError(1009, std::string_view("11"));
  }
  const std::size_t base = LauncherTempDirWide.size() + 1;
  for (std::size_t slash = target.find_first_of(u"\\/", base); slash != std::u16string::npos;
       slash = target.find_first_of(u"\\/", slash + 1)) {
    std::u16string folder = target.substr(0, slash);
    auto same = [&folder](const std::u16string& made) { return _wcsicmp(wptr(made), wptr(folder)) == 0; };
    if (std::any_of(madeFolders.begin(), madeFolders.end(), same)) continue;
    logMessage(u"creating directory %s", folder);
    if (!CreateDirectoryW(wptr(folder), nullptr)) {
      logError(u"failed to create directory %s (%d)", folder, static_cast<int>(GetLastError()));
      raiseLaunchError(1009, std::string_view("11"));
    }
    madeFolders.push_back(folder);
  }
  return target;
}

template <class Open>
int extractWith(Open open) {
  logMessage(u"extracting files");
  long count = getConfigInt(IncludedFileCountId);
  logMessage(u"Included files: %d", count);
  if (count <= 0) {
    LauncherTempDir.clear();
    LauncherTempDirWide.clear();
    return 0;
  }
  createLauncherTempDir();
  UniqueFileHandle file(open());
  ByteSource bytes = fileByteSource(file.get());
  if (!bytes.seek(IncludedFilesOffset)) raiseConfigError({ConfigErrorKind::Seek, GetLastError(), 0});
  std::vector<std::string> names = splitIncludedNames(dupConfigString(IncludedFileNamesId));
  // Names Windows would make one file fail the launch before any is written, with both named.
  for (std::size_t i = 0; i < names.size() && static_cast<long>(i) < count; ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (includedNamesClash(ansiToWide(names[j]), ansiToWide(names[i]))) {
        logError(u"included files %S and %S would be one file", names[j], names[i]);
        raiseLaunchError(1009, std::string_view("11"));
      }
  long handled = 0;
  std::vector<std::u16string> madeFolders;
  for (const std::string& name : names) {
    if (handled >= count) break;
    std::u16string target = prepareTarget(name, madeFolders);
    if (int result = extractRecord(bytes, target)) {
      logError(u"Failed to extract %s", target);
      return result;
    }
    ++handled;
  }
  UnextractedPosition = static_cast<std::uint32_t>(bytes.position());
  file.reset();
  removeEndedLaunchFolders();
  logMessage(u"extracting files done");
  return 0;
}

}  // namespace

int extractIncludedFiles() {
  return extractWith([] { return static_cast<HANDLE>(openOwnExecutable()); });
}

int extractIncludedFilesFrom(const std::u16string& sourceFile) {
  return extractWith([&sourceFile] {
    HANDLE h = CreateFileW(wptr(sourceFile), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      logError(u"Could not open %p %d %s", static_cast<const void*>(h), static_cast<int>(GetLastError()),
               sourceFile);
      raiseFatalText(u"Error opening media file.");
    }
    return h;
  });
}

}  // namespace pelto
