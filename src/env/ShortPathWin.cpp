// The short form of a path through the command interpreter: the last resort when neither the
// long nor the GetShortPathName form of the executable survives the narrow code page.
#include <windows.h>

#include <vector>

#include "env/Handles.h"
#include "env/PathText.h"
#include "env/TextConv.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"

namespace pelto {

std::string shortPathViaShell(std::u16string_view path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  UniqueHandle readEnd;
  UniqueHandle writeEnd;
  if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) {
    logMessage(u"CreatePipe error (%d)", GetLastError());
    return {};
  }
  if (!SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0)) {
    logMessage(u"SetHandleInformation error (%d)", GetLastError());
    return {};
  }

  // The interpreter expands %NAME% even inside quotes, and a quote would end the quoted path:
  // such a path could make it run something else, so it gets no short form from here.
  if (path.find_first_of(u"%\"") != std::u16string_view::npos) {
    logMessage(u"no short form through cmd.exe for %s", path);
    return {};
  }
  std::wstring windowsDir(TextRoom, L'\0');
  UINT n = GetWindowsDirectoryW(windowsDir.data(), static_cast<UINT>(TextRoom));
  windowsDir.resize(n < TextRoom ? n : 0);
  // Named as the program and quoted, so that no part of the folder's path is taken for another
  // program.
  const std::wstring program = windowsDir + L"\\system32\\cmd.exe";
  std::u16string command = u"\"" + asU(program) + u"\" /C for %I in (\"";
  command.append(path);
  command += u"\") do @echo %~sI";
  if (cutToRoom(command, TextRoom)) {
    logMessage(u"path too long for cmd.exe: %s", path);
    return {};
  }
  logMessage(u"executing %s", command);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = writeEnd.get();
  startup.hStdError = writeEnd.get();
  PROCESS_INFORMATION info{};
  std::wstring commandLine = asW(command);  // CreateProcessW may write into it
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &info)) {
    logMessage(u"could not execute cmd.exe");
    return {};
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  writeEnd.reset();  // else the read below never sees the end of the output

  std::string output;
  std::vector<char> chunk(TextRoom);
  while (output.size() < TextRoom) {
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(TextRoom - output.size());
    if (!ReadFile(readEnd.get(), chunk.data(), want, &got, nullptr) || got == 0) break;
    output.append(chunk.data(), got);
  }
  logMessage(u"finished reading from cmd.exe %d \"%S\"", static_cast<int>(output.size()), output);
  readEnd.reset();

  // The output ends when the interpreter closes its handles, a moment before its exit code is
  // set; a short wait keeps that moment from reading as a hung interpreter.
  WaitForSingleObject(process.get(), 5000);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.get(), &exitCode);
  logMessage(u"Exit Code %d", static_cast<int>(exitCode));
  if (exitCode == STILL_ACTIVE) {
    logMessage(u"Terminating process");
    TerminateProcess(process.get(), 1);
    return {};
  }
  std::string result = shortPathFromShellOutput(output, exitCode);
  if (!result.empty()) logMessage(u"Using %S", result);
  return result;
}

}  // namespace pelto
