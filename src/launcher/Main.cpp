// The Windows application entry of the launcher.
#include <windows.h>

#include "env/TextConv.h"
#include "launcher/Entry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The full command line, program included: the program element is handed on to the run path.
  return pelto::runEntry(pelto::asU(GetCommandLineW()));
}
