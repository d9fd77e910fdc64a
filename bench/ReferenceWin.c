/* The least a launcher can do with a real JVM, in plain C (no C++ runtime): load jvm.dll,
 * create the JVM with the given options, call the main class's main with no arguments and
 * destroy the JVM. The benchmark measures the packed launcher against it.
 *   pelto-reference JVM.DLL MAIN/CLASS [OPTION...]
 * Exit codes: 0 main returned, 1 it threw, 2 usage, 3 no jvm.dll, 4 no JNI_CreateJavaVM,
 * 5 the JVM was not created, 6 no main class or method. */
#include <windows.h>

#include <jni.h>
#include <stdlib.h>

typedef jint(JNICALL* CreateJavaVM)(JavaVM**, void**, void*);

static char* ansi(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, NULL, 0, NULL, NULL);
  char* out = malloc(n > 0 ? (size_t)n : 1);
  if (out) *out = 0;
  if (out && n > 0) WideCharToMultiByte(CP_ACP, 0, text, -1, out, n, NULL, NULL);
  return out;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  HMODULE dll = LoadLibraryW(argv[1]);
  if (!dll) return 3;
  CreateJavaVM create = (CreateJavaVM)(void (*)(void))GetProcAddress(dll, "JNI_CreateJavaVM");
  if (!create) return 4;
  JavaVMOption* options = calloc((size_t)argc, sizeof *options);
  for (int i = 3; i < argc; ++i) options[i - 3].optionString = ansi(argv[i]);
  JavaVMInitArgs args = {JNI_VERSION_1_8, argc - 3, options, JNI_FALSE};
  JavaVM* vm = NULL;
  JNIEnv* env = NULL;
  if (create(&vm, (void**)&env, &args) != JNI_OK) return 5;
  char* name = ansi(argv[2]);
  jclass main = (*env)->FindClass(env, name);
  jmethodID method = main ? (*env)->GetStaticMethodID(env, main, "main", "([Ljava/lang/String;)V") : NULL;
  jclass string = (*env)->FindClass(env, "java/lang/String");
  int code = 6;
  if (method && string) {
    (*env)->CallStaticVoidMethod(env, main, method, (*env)->NewObjectArray(env, 0, string, NULL));
    code = (*env)->ExceptionCheck(env) ? 1 : 0;
  }
  if ((*env)->ExceptionCheck(env)) (*env)->ExceptionDescribe(env);
  (*vm)->DestroyJavaVM(vm);
  return code;
}
