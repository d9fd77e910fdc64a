#pragma once
// At most one running instance per executable (unless configured otherwise).
#include <string>

namespace pelto {

// Set by setUpSingleInstance; empty until then. Passed to the JVM as pelto.semaphoreName.
extern std::string InstanceSemaphoreName;

// Returns in multi-instance mode and for the first instance; a second instance in
// single-instance mode ends the process with exit code 0.
void setUpSingleInstance();

}  // namespace pelto
