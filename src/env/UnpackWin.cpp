// Packed runtime jars turned back into jars by the runtime's own unpack200.exe.
#include <windows.h>

#include "env/Handles.h"
#include "env/Paths.h"
#include "env/Unpack.h"
#include "launcher/Fatal.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

constexpr std::string_view PackedSuffix = ".jar.pack";

bool endsWithPackedSuffix(std::string_view name) {
  if (name.size() <= PackedSuffix.size()) return false;
  std::string_view tail = name.substr(name.size() - PackedSuffix.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    char c = tail[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != PackedSuffix[i]) return false;
  }
  return true;
}

void unpackOne(const std::string& home, const std::string& packed) {
  std::string target = packed.substr(0, packed.size() - 5);
  if (!pathExists(packed)) {
    logMessage(u"pack path doesn't exists");
    return;
  }
  std::string program = home + "\\bin\\unpack200.exe";
  std::string commandLine = "-r \"" + packed + "\" \"" + target + "\"";
  logMessage(u"%S", program);
  logMessage(u"%S", commandLine);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                      nullptr, nullptr, &startup, &info)) {
    logMessage(u"could not create unpack process");
    raiseLaunchError(1009, std::string_view("20"));
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  logMessage(u"waiting for unpack200 to finish");
  WaitForSingleObject(process.get(), INFINITE);
  logMessage(u"unpack done");

  if (!DeleteFileA(packed.c_str())) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND)
      logMessage(u"could not delete packed file (error %d)", static_cast<int>(error));
  }
}

void scanDirectory(const std::string& home, const char* dir, bool& started) {
  std::string pattern = home + "\\" + dir + "\\*" + std::string(PackedSuffix);
  for (const ListedEntry& entry : listMatchingEntries(pattern)) {
    std::string_view name(entry.name);
    // The pattern also matches through short names; only real "*.jar.pack" files count.
    if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) || !endsWithPackedSuffix(name)) continue;
    std::string_view stem = name.substr(0, name.size() - 5);
    std::string unpacked = home + "\\" + dir + "\\" + std::string(stem);
    logMessage(u"checking %S", unpacked);
    if (pathExists(unpacked)) continue;
    if (!started) {
      logMessage(u"Unpacking JRE");
      consolePrint("Preparing JRE ...\n");
      started = true;
    }
    std::string relative = std::string(dir) + "\\" + std::string(stem);
    unpackOne(home, home + "\\" + relative + ".pack");
  }
}

}  // namespace

void unpackRuntimeJars(const std::string& home) {
  bool started = false;
  scanDirectory(home, "lib", started);
  scanDirectory(home, "lib\\ext", started);
  if (started) logMessage(u"Unpacking JRE done");
}

}  // namespace pelto
