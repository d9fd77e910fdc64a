// A jvm.dll for the benchmark: JNI_CreateJavaVM notes the moment it is entered (the
// performance counter, the same clock for every process of the machine) and the options it
// was given, into the file named by PELTO_BENCH_RECORD, and fails, so that the process ends
// right there and the time measured is the caller's own overhead.
#include <windows.h>

// Defines the exports rather than importing them.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

#include <cstdio>

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* args) {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  if (vm) *vm = nullptr;
  if (env) *env = nullptr;
  wchar_t path[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"PELTO_BENCH_RECORD", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return JNI_ERR;
  FILE* f = _wfopen(path, L"wb");
  if (!f) return JNI_ERR;
  std::fprintf(f, "%lld\n", static_cast<long long>(now.QuadPart));
  const auto* init = static_cast<const JavaVMInitArgs*>(args);
  if (init) {
    for (jint i = 0; i < init->nOptions; ++i)
      std::fprintf(f, "%s\n", init->options[i].optionString ? init->options[i].optionString : "");
  }
  std::fclose(f);
  return JNI_ERR;
}

extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void*) {
  return JNI_ERR;
}

extern "C" JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM**, jsize, jsize* count) {
  if (count) *count = 0;
  return JNI_OK;
}
