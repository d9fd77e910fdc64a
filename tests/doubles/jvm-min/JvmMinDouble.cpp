// A jvm.dll that can be loaded and resolved but creates no JVM.
extern "C" __declspec(dllexport) int JNI_CreateJavaVM(void**, void**, void*) {
  return -1;  // JNI_ERR
}
