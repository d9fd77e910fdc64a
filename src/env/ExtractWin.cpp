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

int extractRecord(ByteSource& bytes, const std::string& target) {
  std::int64_t length = 0;
  if (ConfigError e = readLong(bytes, length)) raiseConfigError(e);
  logMessage(u"extracting %S (size: %I64d)", target, length);
  if (length <= 0) return 0;
  UniqueFileHandle out(
      CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) {
    logError(u"could not create %S (%d)", target, static_cast<int>(GetLastError()));
    raiseLaunchError(1009, std::string_view("11"));
  }
  return copyMasked(bytes, out.get(), length);
}

// The target of one name, its folders made on demand. Every folder and file is made fresh:
// one that already stands was put there by someone else and is never written into.
std::string prepareTarget(const std::string& name, std::vector<std::string>& madeFolders) {
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
  for (std::size_t slash = name.find_first_of("\\/"); slash != std::string::npos;
       slash = name.find_first_of("\\/", slash + 1)) {
    std::string folder = target.substr(0, LauncherTempDir.size() + 1 + slash);
    auto same = [&folder](const std::string& made) { return _stricmp(made.c_str(), folder.c_str()) == 0; };
    if (std::any_of(madeFolders.begin(), madeFolders.end(), same)) continue;
    logMessage(u"creating directory %S", folder);
    if (!CreateDirectoryA(folder.c_str(), nullptr)) {
      logError(u"failed to create directory %S (%d)", folder, static_cast<int>(GetLastError()));
      raiseLaunchError(1009, std::string_view("11"));
    }
    madeFolders.push_back(folder);
  }
  return target;
}

// Held for the life of the process; the clean-up at exit lets go of it first.
UniqueFileHandle LaunchMarker;

// The marker names the executable, so a launch sweeps only the folders of its own kind.
void holdLaunchMarker() {
  std::string marker = joined(LauncherTempDir, std::string(LaunchMarkerName).c_str());
  LaunchMarker.reset(CreateFileA(marker.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string own = getExecutablePath();
  DWORD wrote = 0;
  if (!LaunchMarker ||
      !WriteFile(LaunchMarker.get(), own.data(), static_cast<DWORD>(own.size()), &wrote, nullptr)) {
    logError(u"could not write the launch marker %S (%d)", marker, static_cast<int>(GetLastError()));
    raiseLaunchError(1009, std::string_view("7"));
  }
}

std::string markerText(const std::string& marker) {
  UniqueFileHandle file(CreateFileA(marker.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string text(TextRoom, '\0');
  DWORD got = 0;
  if (!file || !ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) return {};
  text.resize(got);
  return text;
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
  // Names Windows would make one file fail the launch before any is written, with both named.
  for (std::size_t i = 0; i < names.size() && static_cast<long>(i) < count; ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (includedNamesClash(ansiToWide(names[j]), ansiToWide(names[i]))) {
        logError(u"included files %S and %S would be one file", names[j], names[i]);
        raiseLaunchError(1009, std::string_view("11"));
      }
  long handled = 0;
  std::vector<std::string> madeFolders;
  for (const std::string& name : names) {
    if (handled >= count) break;
    std::string target = prepareTarget(name, madeFolders);
    if (int result = extractRecord(bytes, target)) {
      logError(u"Failed to extract %S", target);
      return result;
    }
    ++handled;
  }
  UnextractedPosition = static_cast<std::uint32_t>(bytes.position());
  file.reset();
  // Last, so that a folder too deep for the marker still fails on its files as it always did; a
  // folder without a marker is never swept.
  holdLaunchMarker();
  removeEndedLaunchFolders();
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
  if (dir == LauncherTempDir) LaunchMarker.reset();
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
      if (action == CleanupAction::EmptyThenRemove) emptyDirectory(path, true);
      RemoveDirectoryA(path.c_str());
    } else {
      logMessage(u"attempting to delete %S", path);
      DeleteFileA(path.c_str());
    }
  } while (FindNextFileA(search.get(), &entry));
}

void removeEndedLaunchFolders() {
  bool lossy = false;
  std::string temp = wideToNarrow(getTempDirectory(false), &lossy);
  std::string own = getExecutablePath();
  if (temp.empty() || lossy || own.empty()) return;
  WIN32_FIND_DATAA entry;
  UniqueFindHandle search(FindFirstFileA(joined(temp, "plo*_dir*").c_str(), &entry));
  if (!search) return;
  do {
    std::string folder = joined(temp, entry.cFileName);
    // A link is never followed, not even at the top.
    if (cleanupActionFor(entry.dwFileAttributes, true) != CleanupAction::EmptyThenRemove) continue;
    if (_stricmp(folder.c_str(), LauncherTempDir.c_str()) == 0) continue;
    std::string marker = joined(folder, std::string(LaunchMarkerName).c_str());
    // A live launch holds its marker without delete sharing, so the delete fails for it.
    if (markerText(marker) != own || !DeleteFileA(marker.c_str())) continue;
    logMessage(u"removing the folder of an ended launch %S", folder);
    emptyDirectory(folder, true);
    RemoveDirectoryA(folder.c_str());
  } while (FindNextFileA(search.get(), &entry));
}

}  // namespace pelto
