// The options files on disk, and the default one next to the executable.
#include <windows.h>

#include "env/Handles.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "jre/Version.h"
#include "jvm/VmOptions.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

// Opened shared for reading and writing, so an editor holding the file does not hide it.
std::optional<OptionsFile> openOptionsFile(std::u16string_view path) {
  UniqueFileHandle file(CreateFileW(wptr(std::u16string(path)), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  OptionsFile opened;
  opened.handle = file.get();
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) opened.bytes.append(buffer, got);
  return opened;
}

std::u16string resolveInclude(std::u16string_view path, std::u16string_view baseFile) {
  return resolvePath(path, baseFile, false);
}

std::optional<OptionsFile> firstDefaultFile(std::u16string_view executable, bool* done) {
  std::vector<std::u16string> names = defaultOptionsFileNames(executable);
  std::optional<OptionsFile> file = openOptionsFile(names[0]);
  logMessage(u"vmoptions2: exe %s file: %s, file: %p", executable, names[0], file ? file->handle : nullptr);
  if (!file) {
    file = openOptionsFile(names[1]);
    logMessage(u"vmoptions: opts2: %s, file: %p", names[1], file ? file->handle : nullptr);
  }
  *done = file.has_value();
  return file;
}

}  // namespace

const OptionSystem& launcherOptionSystem() {
  static const OptionSystem system{openOptionsFile, resolveInclude,
                                   [](std::string_view text) { return majorJavaVersion(text); }};
  return system;
}

std::optional<OptionsFile> openDefaultOptionsFile() {
  bool done = false;
  std::optional<OptionsFile> file = firstDefaultFile(getExecutablePathWide(), &done);
  if (done) return file;
  wchar_t module[TextRoom];
  DWORD n = GetModuleFileNameW(nullptr, module, TextRoom);
  if (n == 0 || n >= TextRoom) return std::nullopt;
  return firstDefaultFile(asU(std::wstring_view(module, n)), &done);
}

}  // namespace pelto
