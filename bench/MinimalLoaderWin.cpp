// The least a launcher can do: load the given jvm.dll and call JNI_CreateJavaVM with the given
// options. The benchmark measures the launcher against it.
//   pelto-minimal-loader JVM.DLL [OPTION...]
#include <windows.h>

#include <jni.h>

#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HMODULE jvm = LoadLibraryW(argv[1]);
  if (!jvm) return 3;
  using CreateJavaVM = jint(JNICALL*)(JavaVM**, void**, void*);
  auto create =
      reinterpret_cast<CreateJavaVM>(reinterpret_cast<void*>(GetProcAddress(jvm, "JNI_CreateJavaVM")));
  if (!create) return 4;
  std::vector<std::string> texts;
  for (int i = 2; i < argc; ++i) {
    int n = WideCharToMultiByte(CP_ACP, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string t(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, argv[i], -1, t.data(), n, nullptr, nullptr);
    texts.push_back(std::move(t));
  }
  std::vector<JavaVMOption> options(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) options[i].optionString = texts[i].data();
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_1_8;
  args.nOptions = static_cast<jint>(options.size());
  args.options = options.data();
  args.ignoreUnrecognized = JNI_FALSE;
  JavaVM* vm = nullptr;
  void* env = nullptr;
  return create(&vm, &env, &args) == JNI_OK ? 0 : 1;
}
