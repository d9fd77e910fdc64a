#pragma once
// The launch sequence that ends in the Java application, and the run verbs that start it.
#include <string>
#include <vector>

namespace pelto {

// The argument vector handed to the launcher class (program or service name first).
extern std::vector<std::u16string> LaunchArguments;

// Extraction, native library path, console handler, single instance, runtime, JVM. Returns
// only when main has returned and the JVM was destroyed; failures end the process.
void launch(bool withConsoleHandler);

// The verbs "run" (redirect false) and "run-redirect": ServiceMode off, the program back at
// the front of the remaining arguments, launch(false). Returns the exit code 0.
int runApplication(bool redirect, const std::u16string& program, const std::vector<std::u16string>& args);

}  // namespace pelto
