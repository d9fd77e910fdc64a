#pragma once
// The whole JVM option list in its order, and the JavaVMInitArgs built from it.
#include <string>
#include <vector>

#include "jvm/VmOptions.h"

namespace pelto {

// The launcher's own properties, in the order they are passed.
using LauncherProperties = std::vector<std::pair<std::string, std::string>>;

// Fills the list with every option in its order (the caller turns it into JavaVMInitArgs).
void buildJvmOptions(const LauncherProperties& properties, const std::vector<std::u16string>& args,
                     JvmOptionList& list);

}  // namespace pelto
