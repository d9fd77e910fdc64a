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

namespace {

std::string besideSelf(const char* name) {
  char buf[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
  std::string path(buf, n);
  return path.substr(0, path.find_last_of('\\') + 1) + name;
}

std::string readAll(const std::string& path, bool& found) {
  std::string data;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  found = h != INVALID_HANDLE_VALUE;
  if (!found) return data;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  CloseHandle(h);
  return data;
}

void appendLog(const std::string& line) {
  HANDLE h = CreateFileA(besideSelf("java-double.log").c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD put = 0;
  WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &put, nullptr);
  CloseHandle(h);
}

void writeError(const std::string& text) {
  HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  DWORD put = 0;
  if (h && h != INVALID_HANDLE_VALUE)
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
}

}  // namespace

int main(int, char** argv) {
  char options[4096];
  DWORD n = GetEnvironmentVariableA("_JAVA_OPTIONS", options, sizeof options);
  std::string seen = n > 0 && n < sizeof options
                         ? "set:" + std::string(options, n)
                         : (GetLastError() == ERROR_ENVVAR_NOT_FOUND ? "unset" : "set:");
  appendLog("run options=" + seen + " args=" + GetCommandLineA() + "\nargv0=" + argv[0] + "\n");

  bool found = false;
  std::string behaviour = readAll(besideSelf("java-double.txt"), found);
  if (!found) behaviour = "0\nopenjdk version \"17.0.2\" 2022-01-18\nOpenJDK Runtime Environment\n";
  std::size_t eol = behaviour.find('\n');
  std::string mode = behaviour.substr(0, eol);
  if (!mode.empty() && mode.back() == '\r') mode.pop_back();
  std::string rest = eol == std::string::npos ? std::string() : behaviour.substr(eol + 1);

  if (mode == "sleep") {
    writeError(rest);
    Sleep(INFINITE);
  }
  if (mode == "crash") {
    writeError(rest);
    // End with the exception code instead of handing the fault to a debugger.
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_EXECUTE_HANDLER; });
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  }
  if (mode == "garbage") {
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes.push_back(static_cast<char>((i * 37) & 0xff));
    writeError(bytes);
    return 0;
  }
  writeError(rest);
  return std::atoi(mode.c_str());
}
