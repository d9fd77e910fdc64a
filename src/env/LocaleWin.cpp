#include <windows.h>

#include "env/Locale.h"

namespace pelto {

std::string detectLocale() {
  auto languageId = static_cast<std::uint16_t>(GetUserDefaultLCID() & 0xffff);
  // The interface language is the better guess where the system has it; looked up at run time
  // so that a system without it still starts. The reference is kept for the process's life.
  if (HMODULE kernel = LoadLibraryA("Kernel32.DLL")) {
    using UiLanguage = LANGID(WINAPI*)();
    if (auto ui = reinterpret_cast<UiLanguage>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetUserDefaultUILanguage"))))
      languageId = ui();
  }
  return localeNameForLanguageId(languageId);
}

}  // namespace pelto
