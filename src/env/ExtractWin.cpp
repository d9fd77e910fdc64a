#include <windows.h>

#include "env/Extract.h"
#include "env/Handles.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

std::string joined(std::string_view dir, const char* name) {
  std::string path(dir);
  if (path.back() != '\\') path += '\\';
  path += name;
  return path;
}

}  // namespace

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
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      logMessage(u"attempting to remove %S (%d)", path, recurse ? 1 : 0);
      // A junction or directory link is removed as a link; descending would delete the files
      // of whatever it points at.
      if (recurse && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) emptyDirectory(path, false);
      RemoveDirectoryA(path.c_str());
    } else {
      logMessage(u"attempting to delete %S", path);
      DeleteFileA(path.c_str());
    }
  } while (FindNextFileA(search.get(), &entry));
}

}  // namespace pelto
