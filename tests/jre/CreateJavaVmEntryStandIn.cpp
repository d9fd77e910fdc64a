// The JVM start records the creation entry; these tests only need to see what was handed over.
// Linked into this test executable only: nothing here pulls in the JVM start's own definition.
#include "jvm/JavaVMLauncher.h"

namespace pelto::test {
void* HandedCreateJavaVm = nullptr;
}

namespace pelto {
void setCreateJavaVmEntry(void* createJavaVm) {
  test::HandedCreateJavaVm = createJavaVm;
}
}  // namespace pelto
