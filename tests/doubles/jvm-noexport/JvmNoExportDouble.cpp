// A jvm.dll that loads but lacks the JVM's creation entry.
extern "C" __declspec(dllexport) int JNI_GetDefaultJavaVMInitArgs(void*) {
  return -1;
}
