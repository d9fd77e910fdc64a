// The JVM start: create the JVM in this thread, the steps after creation, the launcher class's
// main, DestroyJavaVM.
#include <jni.h>
#include <windows.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "env/Paths.h"
#include "env/TextConv.h"
#include "jvm/Expand.h"
#include "jvm/JavaVMLauncher.h"
#include "jvm/JvmOptions.h"
#include "launcher/CommandLine.h"
#include "launcher/Config.h"
#include "launcher/Fatal.h"
#include "launcher/Limits.h"
#include "launcher/Log.h"
#include "launcher/StartUp.h"

namespace pelto {
namespace {

using CreateJavaVmFunction = jint(JNICALL*)(JavaVM**, void**, void*);
using RegisterNativesFunction = unsigned char (*)(JNIEnv*, HMODULE, void (*)(const wchar_t*, ...));

JavaVM* Jvm = nullptr;
JNIEnv* Env = nullptr;

const jchar* jchars(const std::u16string& s) {
  return reinterpret_cast<const jchar*>(s.data());
}

jstring newJavaString(const std::u16string& s) {
  return Env->NewString(jchars(s), static_cast<jsize>(s.size()));
}

// A failed look-up leaves NoClassDefFoundError or NoSuchMethodError pending; the optional steps
// go on, and no JNI function but the exception ones may be called while it is.
void clearLookUpFailure() {
  Env->ExceptionClear();
}

// The support library reports through this: a wide printf-style format and its arguments. Only
// the directives of the log are understood; the text goes to the log as an argument.
void helperLogError(const wchar_t* format, ...) {
  if (!format) return;
  va_list ap;
  va_start(ap, format);
  std::u16string text;
  for (const wchar_t* p = format; *p && text.size() < TextRoom; ++p) {
    if (*p != L'%' || p[1] == L'\0') {
      text += static_cast<char16_t>(*p);
      continue;
    }
    switch (*++p) {
      case L's': {
        const wchar_t* s = va_arg(ap, const wchar_t*);
        if (s) text += asU(s);
        break;
      }
      case L'S': {
        const char* s = va_arg(ap, const char*);
        if (s) text += narrowToWide(s);
        break;
      }
      case L'd':
      case L'i': {
        std::string n = std::to_string(va_arg(ap, int));
        text.append(n.begin(), n.end());
        break;
      }
      case L'u':
      case L'x': {
        unsigned v = va_arg(ap, unsigned);
        text += formatLogText(*p == L'u' ? u"%u" : u"%x", {v});
        break;
      }
      case L'p': {
        text += formatLogText(u"%p", {va_arg(ap, void*)});
        break;
      }
      case L'c':
        text += static_cast<char16_t>(va_arg(ap, int));
        break;
      default:
        text += static_cast<char16_t>(*p);
        break;
    }
  }
  va_end(ap);
  cutToRoom(text, TextRoom);
  logError(u"%s", text);
}

// A configured path handed to the launcher class: expanded, then made absolute unless it still
// names an unknown variable.
std::u16string launcherPathArgument(ConfigId flag, ConfigId path) {
  if (getConfigInt(flag) == 0) return {};
  std::u16string text = getConfigStringW(path);
  expandVariables(text, false, TextRoom);
  if (text.starts_with(u"$")) return text;
  return fullPath(text, true, false);
}

}  // namespace

bool createJavaVm(const LauncherProperties& properties, const std::vector<std::u16string>& args) {
  JvmOptionList list;
  buildJvmOptions(properties, args, list);
  std::vector<JavaVMOption> options(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) options[i].optionString = list[i].data();
  JavaVMInitArgs init{};
  init.version = JNI_VERSION_1_2;
  init.nOptions = static_cast<jint>(options.size());
  init.options = options.data();
  init.ignoreUnrecognized = JNI_TRUE;
  logMessage(u"Creating JVM");
  auto create = reinterpret_cast<CreateJavaVmFunction>(createJavaVmEntry());
  if (create == nullptr || create(&Jvm, reinterpret_cast<void**>(&Env), &init) != 0) {
    logError(u"could not initialize JVM");
    return false;
  }
  return true;
}

void configureJavaSplash() {
  jclass cls = Env->FindClass("com/pelto/runtime/WinLauncher");
  if (!cls) {
    clearLookUpFailure();
    logError(u"could not find main class for splash properties");
    return;
  }
  jmethodID method = Env->GetStaticMethodID(
      cls, "initAwtSplashConfig",
      "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V");
  if (!method) {
    clearLookUpFailure();
    logError(u"could not find method for splash properties");
    Env->DeleteLocalRef(cls);
    return;
  }
  // The texts are ANSI in the configuration; through UTF-16 they reach Java intact, where
  // NewStringUTF would read them as modified UTF-8.
  const ConfigId textIds[] = {10111, 10114, 10118, 10121};
  jstring texts[4] = {};
  bool made = true;
  // A failed NewString leaves OutOfMemoryError pending: no JNI call may follow until it is cleared.
  for (int i = 0; i < 4 && made; ++i) {
    texts[i] = newJavaString(getConfigStringW(textIds[i], ShortTextRoom));
    made = texts[i] != nullptr && !Env->ExceptionCheck();
  }
  if (!made) {
    checkJavaException(false);
    logError(u"could not create the splash texts");
  } else {
    auto n = [](ConfigId id) { return static_cast<jint>(getConfigInt(id)); };
    Env->CallStaticVoidMethod(cls, method, JNI_TRUE, getConfigInt(163) != 0 ? JNI_TRUE : JNI_FALSE, texts[0],
                              n(10109), n(10110), texts[1], n(10113), n(10115), texts[2], n(10116), n(10117),
                              texts[3], n(10120), n(10122));
    checkJavaException(false);
  }
  for (jstring t : texts)
    if (t) Env->DeleteLocalRef(t);
  Env->DeleteLocalRef(cls);
}

bool callInitFromLauncher(bool flag) {
  jclass cls = Env->FindClass("com/quorvanex/runtime/installer/platform/win32/Common");
  if (!cls) {
    clearLookUpFailure();
    logError(u"did not find com/quorvanex/runtime/installer/platform/win32/Common");
    return false;
  }
  bool result = false;
  jmethodID method = Env->GetStaticMethodID(cls, "initFromLauncher", "(Z)V");
  if (!method) {
    clearLookUpFailure();
    logError(u"did not find initMethod");
  } else {
    Env->CallStaticVoidMethod(cls, method, flag ? JNI_TRUE : JNI_FALSE);
    checkJavaException(false);
    result = true;
  }
  Env->DeleteLocalRef(cls);
  return result;
}

void loadNativeSupportLibrary() {
  if (LauncherFlavour != 'i') return;
  logMessage(u"load helper dll");
  std::u16string path = resolvePath(getConfigStringW(10003, 4000), u"", false);
  if (!path.empty() && path.back() != u'\\') path += u'\\';
  path += u".quorvanex\\qvxinst.dll";
  // Loaded for the life of the process: the natives it registers stay in use.
  HMODULE module = LoadLibraryW(wptr(path));
  logMessage(u"helper dll %p %s", static_cast<void*>(module), path);
  if (!module) return;
  auto registerNatives = reinterpret_cast<RegisterNativesFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, "registerNatives")));
  if (!registerNatives) {
    logError(u"did not find register natives in helper dll");
    return;
  }
  if (!callInitFromLauncher(true)) return;
  if (!registerNatives(Env, module, helperLogError)) {
    if (Env->ExceptionCheck()) checkJavaException(false);
    logError(u"registering helper dll failed");
    callInitFromLauncher(false);
  }
}

void setModuleNameProperty() {
  jclass system = Env->FindClass("java/lang/System");
  if (!system) {
    clearLookUpFailure();
    logError(u"could not get system class");
    return;
  }
  jmethodID setProperty = Env->GetStaticMethodID(system, "setProperty",
                                                 "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
  if (!setProperty) {
    clearLookUpFailure();
    logError(u"could not get method for module name init");
  } else {
    std::u16string path = getExecutablePathWide();
    jstring value = newJavaString(path);
    jstring key = value ? newJavaString(u"pelto.moduleName") : nullptr;
    if (!value || !key) {
      checkJavaException(false);
      logError(u"could not create string for init module name");
    } else {
      logMessage(u"setting pelto.moduleName to %s", path);
      jobject previous = Env->CallStaticObjectMethod(system, setProperty, key, value);
      if (previous) Env->DeleteLocalRef(previous);
      checkJavaException(false);
    }
    if (key) Env->DeleteLocalRef(key);
    if (value) Env->DeleteLocalRef(value);
  }
  Env->DeleteLocalRef(system);
}

void buildLauncherArguments(std::vector<std::u16string>& out) {
  out.push_back(getConfigInt(107) == 1 ? u"true" : u"false");
  std::u16string mainClass = getConfigInt(133) != 0 ? u"/" : u"";
  mainClass += getConfigStringW(122);
  out.push_back(mainClass);
  out.push_back(launcherPathArgument(102, 103));
  out.push_back(launcherPathArgument(104, 105));
  out.push_back(getConfigInt(106) != 0 ? u"true" : u"false");
}

bool checkJavaException(bool describe) {
  jthrowable thrown = Env->ExceptionOccurred();
  if (!thrown) return true;
  logError(u"an exception occurred");
  // toString is Java code: it may not run while the exception is pending. The kept reference
  // is thrown again for the description.
  Env->ExceptionClear();
  jclass cls = Env->GetObjectClass(thrown);
  jmethodID toString = cls ? Env->GetMethodID(cls, "toString", "()Ljava/lang/String;") : nullptr;
  jstring text = toString ? static_cast<jstring>(Env->CallObjectMethod(thrown, toString)) : nullptr;
  if (text && !Env->ExceptionCheck()) {
    const jchar* chars = Env->GetStringChars(text, nullptr);
    if (chars) {
      std::u16string s(reinterpret_cast<const char16_t*>(chars),
                       static_cast<std::size_t>(Env->GetStringLength(text)));
      Env->ReleaseStringChars(text, chars);
      logError(u"%s", s);
    }
  }
  Env->ExceptionClear();
  if (text) Env->DeleteLocalRef(text);
  if (cls) Env->DeleteLocalRef(cls);
  if (describe && Env->Throw(thrown) == 0) Env->ExceptionDescribe();
  Env->ExceptionClear();
  Env->DeleteLocalRef(thrown);
  return false;
}

bool invokeMain(const std::vector<std::u16string>& args) {
  std::string_view className = launcherClassOf(LauncherFlavour);
  logMessage(u"main class: %S", className);
  std::string name(className);
  jclass cls = Env->FindClass(name.c_str());
  if (!cls) {
    logError(u"could not find main class");
    raiseLaunchError(1010);
  }
  jmethodID main = Env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
  if (!main) {
    logError(u"could not find main method");
    raiseLaunchError(1011);
  }
  std::vector<std::u16string> words;
  buildLauncherArguments(words);
  if (!args.empty()) words.push_back(args.front());
  std::u16string fixed = getConfigStringW(124, ShortTextRoom);
  expandVariables(fixed, false, ShortTextRoom);
  splitCommandLine(fixed, words);
  appendForwardedArguments(args, getConfigInt(125) != 0, words);

  logMessage(u"param count: %d", static_cast<int>(words.size()));
  jclass stringClass = Env->FindClass("java/lang/String");
  jobjectArray array =
      stringClass ? Env->NewObjectArray(static_cast<jsize>(words.size()), stringClass, nullptr) : nullptr;
  if (!array) {
    checkJavaException(false);
    raiseLaunchError(1009, std::u16string_view(u"17"));
  }
  for (std::size_t i = 0; i < words.size(); ++i) {
    logMessage(u"param %d: %s", static_cast<int>(i), words[i]);
    jstring s = newJavaString(words[i]);
    if (!s) {
      checkJavaException(false);
      raiseLaunchError(1009, std::u16string_view(u"17"));
    }
    Env->SetObjectArrayElement(array, static_cast<jsize>(i), s);
    if (Env->ExceptionCheck()) {
      checkJavaException(false);
      raiseLaunchError(1009, std::u16string_view(u"17"));
    }
    // One local reference per argument would outgrow the frame with many arguments.
    Env->DeleteLocalRef(s);
  }
  logMessage(u"calling main");
  Env->CallStaticVoidMethod(cls, main, array);
  logMessage(u"main returned");
  bool ok = checkJavaException(true);
  Env->DeleteLocalRef(array);
  Env->DeleteLocalRef(stringClass);
  Env->DeleteLocalRef(cls);
  return ok;
}

bool launchJvm(const std::vector<std::u16string>& args) {
  logMessage(u"launching program");
  LauncherProperties properties = launcherProperties();
  if (!createJavaVm(properties, args)) return false;
  logMessage(u"JVM created");
  if (getConfigInt(108) != 0) configureJavaSplash();
  loadNativeSupportLibrary();
  setModuleNameProperty();
  if (!invokeMain(args)) {
    logError(u"could not call main");
    return false;
  }
  logMessage(u"dest JVM");
  Jvm->DestroyJavaVM();
  logMessage(u"launch done");
  return true;
}

}  // namespace pelto
