// Extraction of the included files into LauncherTempDir, and its removal at exit.
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

std::string joined(std::string_view dir, const char* name) {
  std::string path(dir);
  if (path.back() != '\\') path += '\\';
  path += name;
  return path;
}

[[noreturn]] void raiseConfigError(const ConfigError& error) {
  logConfigError(error);
  raiseFatalText(configErrorText(error));
}

// 0, or 1 when the source ran dry or failed, 2 when the target refused a write.
int copyMasked(HANDLE source, HANDLE target, std::int64_t length) {
  std::vector<unsigned char> chunk(IncludedFileChunk);
  std::int64_t copied = 0;
  while (copied < length) {
    auto want = static_cast<DWORD>(std::min<std::int64_t>(IncludedFileChunk, length - copied));
    DWORD got = 0;
    if (!ReadFile(source, chunk.data(), want, &got, nullptr) || got == 0) {
      logError(u"ReadFile failed %d %d %I64d", static_cast<int>(got), static_cast<int>(GetLastError()),
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

int extractRecord(HANDLE source, ByteSource& bytes, const std::string& target) {
  std::int64_t length = 0;
  if (ConfigError e = readLong(bytes, length)) raiseConfigError(e);
  logMessage(u"extracting %S (size: %I64d)", target, length);
  if (length <= 0) return 0;
  UniqueFileHandle out(
      CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) raiseLaunchError(1009, std::string_view("11"));
  return copyMasked(source, out.get(), length);
}

// The target of one name; the name's first directory level is made on demand.
std::string prepareTarget(const std::string& name) {
  // A name that would leave the directory (or name a device, a stream) never reaches the disk.
  if (!isSafeIncludedName(name)) {
    logError(u"refusing included file name %S", name);
    raiseLaunchError(1009, std::string_view("11"));
  }
  std::string target = LauncherTempDir + "\\" + name;
  if (target.size() > TextRoom - 1) {
    logError(u"included file path too long (%d characters)", static_cast<int>(target.size()));
    raiseLaunchError(1009, std::string_view("11"));
  }
  std::size_t slash = name.find('\\');
  if (slash != std::string::npos) {
    std::string dir = target.substr(0, LauncherTempDir.size() + 1 + slash);
    logMessage(u"creating directory %S", dir);
    if (!CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      logError(u"failed to create directory %S", dir);
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
    return 0;
  }
  createLauncherTempDir();
  UniqueFileHandle file(open());
  ByteSource bytes = fileByteSource(file.get());
  if (!bytes.seek(IncludedFilesOffset)) raiseConfigError({ConfigErrorKind::Seek, GetLastError(), 0});
  std::vector<std::string> names = splitIncludedNames(dupConfigString(IncludedFileNamesId));
  long handled = 0;
  for (const std::string& name : names) {
    if (handled >= count) break;
    std::string target = prepareTarget(name);
    if (int result = extractRecord(file.get(), bytes, target)) {
      logError(u"Failed to extract %S", target);
      return result;
    }
    ++handled;
  }
  UnextractedPosition = static_cast<std::uint32_t>(bytes.position());
  file.reset();
  logMessage(u"extracting files done");
  return 0;
}

}  // namespace

static_assert(AttributeDirectory == FILE_ATTRIBUTE_DIRECTORY &&
              AttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT);

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

void emptyDirectory(std::string_view dir, bool recurse) {
  if (dir.empty() || dir[0] == '.') return;
  logMessage(u"emptying %S", dir);
  WIN32_FIND_DATAA entry;
  UniqueFindHandle search(FindFirstFileA(joined(dir, "*.*").c_str(), &entry));
  if (!search) return;
  do {
    std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    std::string path = joined(dir, entry.cFileName);
    CleanupAction action = cleanupActionFor(entry.dwFileAttributes, recurse);
    if (action != CleanupAction::Delete) {
      logMessage(u"attempting to remove %S (%d)", path, recurse ? 1 : 0);
      if (action == CleanupAction::EmptyThenRemove) emptyDirectory(path, false);
      RemoveDirectoryA(path.c_str());
    } else {
      logMessage(u"attempting to delete %S", path);
      DeleteFileA(path.c_str());
    }
  } while (FindNextFileA(search.get(), &entry));
}

}  // namespace pelto
