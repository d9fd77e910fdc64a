// java.exe double. java-double.txt beside the executable:
//   first line: the exit code, or "sleep" (never ends), "crash" (access violation) or
//   "garbage" (binary bytes on standard error, exit code 0);
//   the remaining lines: written as they are to standard error.
// Each run appends "run options=<unset|set:VALUE> args=<command line>" and "argv0=<argv[0]>"
// to java-double.log.
// Without java-double.txt: prints an OpenJDK 17.0.2 banner and exits with 0.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "Record.h"

using pelto::doubles::besideModule;

int main(int, char** argv) {
  char options[4096];
  DWORD n = GetEnvironmentVariableA("_JAVA_OPTIONS", options, sizeof options);
  bool unset = n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND;
  std::string seen = unset ? "unset" : "set:" + std::string(options, n < sizeof options ? n : 0);
  pelto::doubles::putFile(besideModule(nullptr, L"java-double.log"),
                          "run options=" + seen + " args=" + GetCommandLineA() + "\nargv0=" + argv[0] + "\n",
                          true);

  bool found = false;
  std::string behaviour = pelto::doubles::readFile(besideModule(nullptr, L"java-double.txt"), &found);
  if (!found) behaviour = "0\nopenjdk version \"17.0.2\" 2022-01-18\nOpenJDK Runtime Environment\n";
  std::size_t eol = behaviour.find('\n');
  std::string mode = behaviour.substr(0, eol);
  std::string rest = eol == std::string::npos ? std::string() : behaviour.substr(eol + 1);
  if (!mode.empty() && mode.back() == '\r') mode.pop_back();
  for (int i = 0; mode == "garbage" && i < 300; ++i) rest.push_back(static_cast<char>((i * 37) & 0xff));
  DWORD put = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), rest.data(), static_cast<DWORD>(rest.size()), &put, nullptr);
  if (mode == "sleep") Sleep(INFINITE);
  if (mode == "crash") {
    // End with the exception code instead of handing the fault to a debugger.
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_EXECUTE_HANDLER; });
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  }
  return std::atoi(mode.c_str());
}
