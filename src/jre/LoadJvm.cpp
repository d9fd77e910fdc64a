// Path rules of the runtime library loading that need no Windows API.
#include "jre/LoadJvm.h"

namespace pelto {
namespace {

bool endsWithIgnoringCase(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  std::string_view end = text.substr(text.size() - tail.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    char c = end[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}

}  // namespace

std::size_t javaExeFileNameLength(std::string_view javaExe) {
  std::size_t n = endsWithIgnoringCase(javaExe, "javaw.exe") ? 9 : 8;
  return n < javaExe.size() ? n : javaExe.size();
}

std::string binDirectoryOf(std::string_view javaExe) {
  std::string_view dir = javaExe.substr(0, javaExe.size() - javaExeFileNameLength(javaExe));
  if (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.remove_suffix(1);
  return std::string(dir);
}

std::string jreBinVariantOf(std::string_view javaExe) {
  std::string out(javaExe.substr(0, javaExe.size() - javaExeFileNameLength(javaExe)));
  out += "..\\jre\\bin\\java.exe";
  return out;
}

bool needsUcrtbasePreload(unsigned long major, unsigned long minor) {
  return major < 6 || (major == 6 && minor < 4);
}

}  // namespace pelto
