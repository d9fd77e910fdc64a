// The creation entry on its own, so that a test may stand in for the setter without the JVM start.
#include "jvm/JavaVMLauncher.h"

namespace pelto {
namespace {
void* CreateJavaVmEntry = nullptr;
}

void setCreateJavaVmEntry(void* createJavaVm) {
  CreateJavaVmEntry = createJavaVm;
}
void* createJavaVmEntry() {
  return CreateJavaVmEntry;
}

}  // namespace pelto
