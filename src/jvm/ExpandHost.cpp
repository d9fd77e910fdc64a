// Off Windows: the directory of /proc/self/exe, TMPDIR (or /tmp/) and environ stand in.
#include <unistd.h>

#include <cstdlib>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/Expand.h"

extern char** environ;

namespace pelto {
namespace {

std::string hostExecutableDirectory() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return directoryPart(std::string_view(buf, static_cast<std::size_t>(n)));
}

std::string hostTempDirectory() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = t && *t ? t : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

ExpansionValuesNarrow currentExpansionValuesNarrow() {
  ExpansionValuesNarrow v;
  v.executableDirectory = hostExecutableDirectory();
  v.userTempDirectory = hostTempDirectory();
  v.launcherTempDir = LauncherTempDir;
  v.jvmHome = JvmHome;
  for (char** e = environ; e && *e; ++e) v.environment.emplace_back(*e);
  return v;
}

ExpansionValues currentExpansionValues(bool ansiSafe) {
  ExpansionValuesNarrow n = currentExpansionValuesNarrow();
  ExpansionValues v;
  v.executableDirectory = narrowToWide(n.executableDirectory);
  v.useNarrowUserTemp = ansiSafe;
  v.userTempDirectoryNarrow = n.userTempDirectory;
  v.userTempDirectory = narrowToWide(n.userTempDirectory);
  v.launcherTempDir = n.launcherTempDir;
  v.jvmHome = n.jvmHome;
  for (const auto& e : n.environment) v.environment.push_back(narrowToWide(e));
  return v;
}

}  // namespace pelto
