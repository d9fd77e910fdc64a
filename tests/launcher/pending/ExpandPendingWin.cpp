// Stand-in: only the executable-directory variable, enough for the working-directory tests.
#include <windows.h>

#include "env/TextConv.h"
#include "jvm/Expand.h"

namespace pelto {

void expandVariables(std::u16string& text, bool, std::size_t room) {
  wchar_t exe[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::u16string dir = asU(std::wstring_view(exe, n));
  dir.resize(dir.find_last_of(u'\\') + 1);
  for (std::u16string_view var : {u"%PELTO_EXEDIR%", u"${PELTO_EXEDIR}"}) {
    for (std::size_t at = text.find(var); at != std::u16string::npos; at = text.find(var, at + dir.size()))
      text.replace(at, var.size(), dir);
  }
  cutToRoom(text, room);
}

}  // namespace pelto
