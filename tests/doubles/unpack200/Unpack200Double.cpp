// Stands in for a runtime's bin\unpack200.exe: "-r "PACKED" "TARGET"".
// Appends its whole command line as one line to unpack200.log beside itself, then writes TARGET
// as "unpacked:" followed by the packed file's bytes. A packed file that starts with "fail"
// makes it exit with 3 and write nothing.
#include <windows.h>

#include <string>
#include <vector>

#include "Record.h"

int wmain() {
  std::wstring line = GetCommandLineW();
  std::u16string_view text(reinterpret_cast<const char16_t*>(line.data()), line.size());
  pelto::doubles::putFile(pelto::doubles::besideModule(nullptr, L"unpack200.log"),
                          pelto::doubles::utf8(text) + "\n", true);
  std::vector<std::wstring> quoted;
  for (std::size_t at = line.find(L'"'), end; at != line.npos && (end = line.find(L'"', at + 1)) != line.npos;
       at = line.find(L'"', end + 1))
    quoted.push_back(line.substr(at + 1, end - at - 1));
  if (line.rfind(L"-r ", 0) != 0 || quoted.size() != 2) return 2;
  std::string packed = pelto::doubles::readFile(quoted[0]);
  if (packed.rfind("fail", 0) == 0) return 3;
  pelto::doubles::putFile(quoted[1], "unpacked:" + packed, false);
  return 0;
}
