#pragma once
// Creating the JVM and calling the launcher class's main.
#include <string>
#include <vector>

namespace pelto {

// The address of jvm.dll's JNI_CreateJavaVM, from the runtime loading.
void setCreateJavaVmEntry(void* createJavaVm);
// true when main ran and returned without a pending exception.
bool launchJvm(const std::vector<std::u16string>& args);

}  // namespace pelto
