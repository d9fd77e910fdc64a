#pragma once
// Packed runtime jars (*.jar.pack) turned back into jars, once, by the runtime's unpack200.exe.
#include <string>

namespace pelto {

// Unpacks lib\ and lib\ext\ of a runtime home; LaunchError 1009 "20" when the unpacker cannot
// be started.
void unpackRuntimeJars(const std::string& home);

}  // namespace pelto
