#include "jvm/ChosenRuntime.h"

#include "jre/LoadJvm.h"

namespace pelto {

std::string JvmHome;
std::string RuntimeVersionText;

void setChosenRuntime(std::string_view javaExe, std::string_view version) {
  // The file name goes, the backslash before it stays: c:\jre\bin\java.exe gives c:\jre\bin\..
  JvmHome.assign(javaExe.substr(0, javaExe.size() - javaExeFileNameLength(javaExe)));
  JvmHome += "..";
  RuntimeVersionText.assign(version);
}

}  // namespace pelto
