// A jvm.dll for tests: the invocation interface and the JNIEnv functions the launcher uses, over a
// small class model read from jvm-double.txt beside the DLL. Every call is checked as JNI demands
// of a caller; a misuse is recorded as an "error" event instead of being forgiven, and a function
// the double lacks ends the process. Records: see Record.h.
//
// Model lines ("#" starts a comment):
//   method CLASS NAME SIGNATURE          a static method (its class is created too)
//   remove CLASS                         drops a built-in class (java/lang/System, ...)
//   main return | throw TEXT | stdin LINE what main does (stdin: reads lines until LINE)
//   create fail                          JNI_CreateJavaVM returns JNI_ERR
//   fail NewString N                     the Nth NewString (from 1) throws OutOfMemoryError
//   record PATH                          the record file when PELTO_JVM_RECORD is not set
#define _JNI_IMPLEMENTATION_
#include <jni.h>
#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Record.h"

namespace {

using pelto::doubles::fromCodePage;
using pelto::doubles::jsonText;
using pelto::doubles::recordLine;

struct Obj {
  enum class Kind { Class, String, Array, Throwable } kind;
  std::string className;  // of a Class object or throwable; element class of an array
  std::u16string text;    // a string's value, a throwable's message
  std::vector<Obj*> elements;
};

struct Method {
  std::string cls, name, sig;
  bool isStatic;
};

std::set<std::string> classes = {"java/lang/Object", "java/lang/String", "java/lang/System"};
std::deque<Method> methods = {
    {"java/lang/System", "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", true}};
std::string mainAction = "return", mainValue;
bool createFails = false;
long failingNewString = 0, newStrings = 0;

std::deque<Obj> heap;
std::deque<Obj*> refs;  // a reference points at its slot; DeleteLocalRef empties the slot
std::set<const void*> issued;
std::set<const jchar*> pinned;
std::map<std::u16string, std::u16string> properties;
Obj* pending = nullptr;
bool live = false;
DWORD ownerThread = 0;

std::string toDots(std::string s) {
  for (char& c : s)
    if (c == '/') c = '.';
  return s;
}

void recordError(const char* fn, const std::string& message) {
  recordLine("{\"event\":\"error\",\"function\":" + jsonText(std::string_view(fn)) +
             ",\"message\":" + jsonText(std::string_view(message)) + "}");
}

Obj* newObj(Obj::Kind kind, std::string cls, std::u16string text = {}) {
  return &heap.emplace_back(Obj{kind, std::move(cls), std::move(text), {}});
}

jobject newRef(Obj* o) {
  if (!o) return nullptr;
  Obj** slot = &refs.emplace_back(o);
  issued.insert(slot);
  return reinterpret_cast<jobject>(slot);
}

jstring newString(std::u16string text) {
  return static_cast<jstring>(newRef(newObj(Obj::Kind::String, "java/lang/String", std::move(text))));
}

// The object behind a reference; null, and an error unless null is allowed, for a bad one.
Obj* deref(const char* fn, const void* r, bool allowNull = false) {
  const char* problem = !r                              ? (allowNull ? nullptr : "null reference")
                        : !issued.count(r)              ? "not a reference this JVM issued"
                        : !*static_cast<Obj* const*>(r) ? "reference used after DeleteLocalRef"
                                                        : nullptr;
  if (problem) recordError(fn, problem);
  return r && !problem ? *static_cast<Obj* const*>(r) : nullptr;
}

Obj* derefAs(const char* fn, const void* r, Obj::Kind kind) {
  Obj* o = deref(fn, r);
  if (o && o->kind != kind) recordError(fn, "reference of the wrong kind");
  return o && o->kind == kind ? o : nullptr;
}

std::string throwableText(const Obj* t) {
  return toDots(t->className) + (t->text.empty() ? "" : ": " + pelto::doubles::utf8(t->text));
}

void throwNew(const char* cls, std::u16string message) {
  pending = newObj(Obj::Kind::Throwable, cls, std::move(message));
}

// Every function runs on the creating thread of a live JVM and, unless JNI allows it then, with
// no exception pending.
bool enter(const char* fn, bool allowedWhilePending = false) {
  if (!live) recordError(fn, "called without a live JVM");
  if (GetCurrentThreadId() != ownerThread)
    recordError(fn, "called from a thread the JNIEnv does not belong to");
  if (pending && !allowedWhilePending)
    recordError(fn, "called with an exception pending (" + throwableText(pending) + ")");
  return live && GetCurrentThreadId() == ownerThread && (!pending || allowedWhilePending);
}

// The parameter types of a signature, each as written ("I", "Ljava/lang/String;", "[L...;").
std::vector<std::string> paramTypes(const std::string& sig) {
  std::vector<std::string> out;
  for (std::size_t i = 1, start = 1; i < sig.size() && sig[i] != ')'; start = ++i) {
    while (sig[i] == '[') ++i;
    if (sig[i] == 'L') i = sig.find(';', i);
    out.push_back(sig.substr(start, i + 1 - start));
  }
  return out;
}

// One argument as JSON, checked against its declared type.
std::string argument(const char* fn, const std::string& type, va_list& ap, Obj*& o) {
  if (type == "Z") {
    int z = va_arg(ap, int);
    if (z != JNI_TRUE && z != JNI_FALSE) recordError(fn, "boolean argument other than JNI_TRUE or JNI_FALSE");
    return z ? "true" : "false";
  }
  if (type == "I") return std::to_string(va_arg(ap, jint));
  o = type[0] == 'L' || type[0] == '[' ? deref(fn, va_arg(ap, jobject), true) : nullptr;
  if (type[0] != 'L' && type[0] != '[') recordError(fn, "a parameter type the double does not know: " + type);
  if (!o) return "null";
  bool isString = o->kind == Obj::Kind::String;
  bool isStringArray = o->kind == Obj::Kind::Array && o->className == "java/lang/String";
  if ((type == "Ljava/lang/String;" && !isString) || (type == "[Ljava/lang/String;" && !isStringArray))
    recordError(fn, "argument is not a " + toDots(type));
  if (isString) return jsonText(o->text);
  if (!isStringArray) return jsonText(std::string_view("<" + toDots(o->className) + ">"));
  std::string list = "[";
  for (Obj* e : o->elements) {
    if (!e) recordError(fn, "string array holds a null element");
    list += (list.size() > 1 ? "," : "") + (e ? jsonText(e->text) : std::string("null"));
  }
  return list + "]";
}

void runMain() {
  if (mainAction == "throw") throwNew("java/lang/IllegalStateException", fromCodePage(CP_UTF8, mainValue));
  if (mainAction != "stdin") return;
  std::string line;
  char c;
  DWORD got = 0;
  bool matched = false;
  while (!matched && ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, nullptr) && got == 1) {
    if (c != '\n') {
      line += c == '\r' ? "" : std::string(1, c);
      continue;
    }
    recordLine("{\"event\":\"stdin\",\"line\":" + jsonText(std::string_view(line)) + "}");
    matched = line == mainValue;
    line.clear();
  }
  recordLine(std::string("{\"event\":\"stdinDone\",\"matched\":") + (matched ? "true" : "false") + "}");
}

// A static call: records the call of a method the model knows; System.setProperty answers the
// previous value.
jobject callStatic(const char* fn, jclass clazz, jmethodID id, va_list& ap, bool returnsObject) {
  if (!enter(fn)) return nullptr;
  Obj* c = derefAs(fn, clazz, Obj::Kind::Class);
  const Method* m = reinterpret_cast<const Method*>(id);
  bool known = false;
  for (const Method& each : methods) known = known || &each == m;
  if (!c || !known) {
    recordError(fn, "bad class or method ID");
    return nullptr;
  }
  if (!m->isStatic || m->cls != c->className)
    recordError(fn, "method ID is not a static method of this class");
  if ((m->sig.back() != 'V') != returnsObject)
    recordError(fn, "the function's return type does not match the method's (" + m->sig + ")");
  std::vector<std::string> args;
  std::vector<Obj*> objs;
  for (const std::string& type : paramTypes(m->sig)) {
    args.push_back(argument(fn, type, ap, objs.emplace_back()));
  }
  if (m->name == "setProperty") {
    if (!objs[0] || !objs[1]) {
      throwNew("java/lang/NullPointerException", u"key or value is null");
      return nullptr;
    }
    recordLine("{\"event\":\"setProperty\",\"key\":" + args[0] + ",\"value\":" + args[1] + "}");
    auto it = properties.find(objs[0]->text);
    jobject previous = it == properties.end() ? nullptr : newString(it->second);
    properties[objs[0]->text] = objs[1]->text;
    return previous;
  }
  std::string list;
  for (const std::string& a : args) list += (list.empty() ? "" : ",") + a;
  if (m->name == "initFromLauncher") {
    recordLine("{\"event\":\"initFromLauncher\",\"flag\":" + list + "}");
  } else if (m->name == "main") {
    recordLine("{\"event\":\"main\",\"class\":" + jsonText(std::string_view(m->cls)) + ",\"args\":" + list +
               "}");
    runMain();
  } else {
    recordLine("{\"event\":" + jsonText(std::string_view(m->name)) + ",\"args\":[" + list + "]}");
  }
  return nullptr;
}

// Instance calls: only toString exists in the model.
jobject JNICALL CallObjectMethodV(JNIEnv*, jobject o, jmethodID id, va_list) {
  Obj* obj = enter("CallObjectMethodV") ? deref("CallObjectMethodV", o) : nullptr;
  const Method* m = reinterpret_cast<const Method*>(id);
  if (!obj || !m || m->isStatic || m->name != "toString") {
    recordError("CallObjectMethodV", "not an object, or not an instance method the double knows");
    return nullptr;
  }
  if (obj->kind == Obj::Kind::String) return newString(obj->text);
  std::string text = obj->kind == Obj::Kind::Throwable ? throwableText(obj) : toDots(obj->className) + "@1";
  return newString(fromCodePage(CP_UTF8, text));
}

jmethodID lookUp(const char* fn, jclass clazz, const char* name, const char* sig, bool isStatic) {
  if (!enter(fn)) return nullptr;
  Obj* c = derefAs(fn, clazz, Obj::Kind::Class);
  if (!c || !name || !sig) return nullptr;
  for (const Method& m : methods)
    if (m.cls == c->className && m.name == name && m.sig == sig && m.isStatic == isStatic)
      return reinterpret_cast<jmethodID>(const_cast<Method*>(&m));
  // Every class inherits Object's toString.
  if (!isStatic && std::string(name) == "toString" && std::string(sig) == "()Ljava/lang/String;") {
    methods.push_back(Method{c->className, name, sig, false});
    return reinterpret_cast<jmethodID>(&methods.back());
  }
  throwNew("java/lang/NoSuchMethodError", fromCodePage(CP_UTF8, name));
  return nullptr;
}

// A function the double does not implement ends the process, loudly.
template <std::size_t N>
void JNICALL unimplemented() {
  recordError("unimplemented", "JNI function table slot " + std::to_string(N));
  ExitProcess(97);
}
template <std::size_t... I>
void fillSlots(void** slots, std::index_sequence<I...>) {
  ((slots[I] = reinterpret_cast<void*>(&unimplemented<I>)), ...);
}

// The functions the launcher uses (x64 has one calling convention, so lambdas serve as JNICALL).
JNINativeInterface_ makeFunctions() {
  JNINativeInterface_ f{};
  fillSlots(reinterpret_cast<void**>(&f), std::make_index_sequence<sizeof f / sizeof(void*)>{});
  // The C++ JNIEnv_ members hand their arguments on to the va_list forms.
  f.CallStaticVoidMethodV = [](JNIEnv*, jclass c, jmethodID m, va_list ap) {
    callStatic("CallStaticVoidMethod", c, m, ap, false);
  };
  f.CallStaticObjectMethodV = [](JNIEnv*, jclass c, jmethodID m, va_list ap) {
    return callStatic("CallStaticObjectMethod", c, m, ap, true);
  };
  f.FindClass = [](JNIEnv*, const char* name) -> jclass {
    if (!enter("FindClass")) return nullptr;
    if (!name) recordError("FindClass", "null name");
    if (name && classes.count(name)) return static_cast<jclass>(newRef(newObj(Obj::Kind::Class, name)));
    throwNew("java/lang/NoClassDefFoundError", fromCodePage(CP_UTF8, name ? name : ""));
    return nullptr;
  };
  f.GetStaticMethodID = [](JNIEnv*, jclass c, const char* name, const char* sig) {
    return lookUp("GetStaticMethodID", c, name, sig, true);
  };
  f.GetMethodID = [](JNIEnv*, jclass c, const char* name, const char* sig) {
    return lookUp("GetMethodID", c, name, sig, false);
  };
  f.GetObjectClass = [](JNIEnv*, jobject o) -> jclass {
    Obj* obj = enter("GetObjectClass") ? deref("GetObjectClass", o) : nullptr;
    return obj ? static_cast<jclass>(newRef(newObj(Obj::Kind::Class, obj->className))) : nullptr;
  };
  f.CallObjectMethodV = CallObjectMethodV;
  f.NewString = [](JNIEnv*, const jchar* chars, jsize len) -> jstring {
    if (!enter("NewString")) return nullptr;
    if (len < 0 || (!chars && len > 0)) recordError("NewString", "negative length or null characters");
    if (++newStrings == failingNewString) throwNew("java/lang/OutOfMemoryError", u"NewString");
    if (len < 0 || (!chars && len > 0) || pending) return nullptr;
    return newString(std::u16string(reinterpret_cast<const char16_t*>(chars), static_cast<std::size_t>(len)));
  };
  f.GetStringLength = [](JNIEnv*, jstring s) -> jsize {
    Obj* o = enter("GetStringLength") ? derefAs("GetStringLength", s, Obj::Kind::String) : nullptr;
    return o ? static_cast<jsize>(o->text.size()) : 0;
  };
  f.GetStringChars = [](JNIEnv*, jstring s, jboolean* isCopy) -> const jchar* {
    Obj* o = enter("GetStringChars") ? derefAs("GetStringChars", s, Obj::Kind::String) : nullptr;
    if (!o) return nullptr;
    if (isCopy) *isCopy = JNI_TRUE;
    // No terminator is promised: a visible U+FFFD follows the characters, so that a caller
    // reading past the length shows it instead of reading on into the heap.
    return *pinned.insert(reinterpret_cast<const jchar*>((new std::u16string(o->text + u'\uFFFD'))->c_str()))
                .first;
  };
  f.ReleaseStringChars = [](JNIEnv*, jstring s, const jchar* chars) {
    enter("ReleaseStringChars", true);
    derefAs("ReleaseStringChars", s, Obj::Kind::String);
    if (!pinned.erase(chars))
      recordError("ReleaseStringChars", "characters were not obtained or already released");
  };
  f.NewObjectArray = [](JNIEnv*, jsize len, jclass cls, jobject init) -> jobjectArray {
    Obj* c = enter("NewObjectArray") ? derefAs("NewObjectArray", cls, Obj::Kind::Class) : nullptr;
    if (!c || len < 0) return nullptr;
    Obj* a = newObj(Obj::Kind::Array, c->className);
    a->elements.assign(static_cast<std::size_t>(len), deref("NewObjectArray", init, true));
    return static_cast<jobjectArray>(newRef(a));
  };
  f.SetObjectArrayElement = [](JNIEnv*, jobjectArray a, jsize i, jobject v) {
    Obj* arr =
        enter("SetObjectArrayElement") ? derefAs("SetObjectArrayElement", a, Obj::Kind::Array) : nullptr;
    Obj* value = deref("SetObjectArrayElement", v, true);
    if (arr && (i < 0 || static_cast<std::size_t>(i) >= arr->elements.size()))
      throwNew("java/lang/ArrayIndexOutOfBoundsException", u"");
    else if (arr && value && arr->className == "java/lang/String" && value->kind != Obj::Kind::String)
      throwNew("java/lang/ArrayStoreException", u"");
    else if (arr)
      arr->elements[static_cast<std::size_t>(i)] = value;
  };
  f.DeleteLocalRef = [](JNIEnv*, jobject o) {
    enter("DeleteLocalRef", true);
    if (o && deref("DeleteLocalRef", o)) *reinterpret_cast<Obj**>(o) = nullptr;
  };
  f.ExceptionOccurred = [](JNIEnv*) {
    enter("ExceptionOccurred", true);
    return static_cast<jthrowable>(newRef(pending));
  };
  f.ExceptionCheck = [](JNIEnv*) -> jboolean {
    enter("ExceptionCheck", true);
    return pending ? JNI_TRUE : JNI_FALSE;
  };
  f.ExceptionClear = [](JNIEnv*) {
    enter("ExceptionClear", true);
    pending = nullptr;
  };
  f.ExceptionDescribe = [](JNIEnv*) {
    enter("ExceptionDescribe", true);
    if (pending)
      recordLine("{\"event\":\"exceptionDescribe\",\"text\":" +
                 jsonText(std::string_view(throwableText(pending))) + "}");
    pending = nullptr;  // as the JVM does, the description clears it
  };
  f.Throw = [](JNIEnv*, jthrowable t) -> jint {
    Obj* o = enter("Throw") ? derefAs("Throw", t, Obj::Kind::Throwable) : nullptr;
    pending = o ? o : pending;
    return o ? 0 : -1;
  };
  return f;
}

const JNINativeInterface_ Functions = makeFunctions();
JNIEnv_ Env{&Functions};

jint JNICALL DestroyJavaVM(JavaVM*) {
  enter("DestroyJavaVM");
  if (!live) return JNI_ERR;
  if (!pinned.empty()) recordError("DestroyJavaVM", "string characters never released");
  live = false;
  recordLine("{\"event\":\"destroyJavaVM\"}");
  return JNI_OK;
}

const JNIInvokeInterface_ Invoke{nullptr, nullptr, nullptr, DestroyJavaVM,
                                 nullptr, nullptr, nullptr, nullptr};
JavaVM_ Vm{&Invoke};

void loadModel() {
  std::string text = pelto::doubles::readFile(
      pelto::doubles::besideModule(reinterpret_cast<const void*>(&loadModel), L"jvm-double.txt"));
  for (std::size_t pos = 0, end; pos < text.size(); pos = end + 1) {
    end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t a = line.find(' '), b = line.find(' ', a + 1);
    std::string word = line.substr(0, a), rest = a == std::string::npos ? "" : line.substr(a + 1);
    if (word == "method" && b != std::string::npos && line.find(' ', b + 1) != std::string::npos) {
      std::size_t c = line.find(' ', b + 1);
      classes.insert(line.substr(a + 1, b - a - 1));
      methods.push_back(
          Method{line.substr(a + 1, b - a - 1), line.substr(b + 1, c - b - 1), line.substr(c + 1), true});
    } else if (word == "remove") {
      classes.erase(rest);
    } else if (word == "main") {
      mainAction = line.substr(a + 1, b - a - 1);
      mainValue = b == std::string::npos ? "" : line.substr(b + 1);
    } else if (line == "create fail") {
      createFails = true;
    } else if (line.rfind("fail NewString ", 0) == 0) {
      failingNewString = std::atol(line.c_str() + 15);
    } else if (word == "record") {
      std::u16string path = fromCodePage(CP_UTF8, rest);
      pelto::doubles::recordFallback().assign(path.begin(), path.end());
    }
  }
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
  if (ownerThread) return JNI_EEXIST;  // one JVM per process
  loadModel();
  auto* init = static_cast<JavaVMInitArgs*>(args);
  if (!pvm || !penv || !init) return JNI_EINVAL;
  std::string options;
  for (jint i = 0; i < init->nOptions; ++i) {
    const char* o = init->options[i].optionString;
    if (!o) recordError("JNI_CreateJavaVM", "option " + std::to_string(i) + " has no text");
    // The JVM reads its options in the platform's ANSI code page.
    std::u16string text = fromCodePage(CP_ACP, o ? o : "");
    options += (i ? "," : "") + (o ? jsonText(text) : std::string("null"));
    std::size_t eq = text.find(u'=');
    if (text.rfind(u"-D", 0) == 0)
      properties[text.substr(2, eq - 2)] = eq == text.npos ? u"" : text.substr(eq + 1);
  }
  recordLine("{\"event\":\"createJavaVM\",\"options\":[" + options + "]}");
  bool knownVersion = false;
  for (jint v :
       {JNI_VERSION_1_2, JNI_VERSION_1_4, JNI_VERSION_1_6, JNI_VERSION_1_8, JNI_VERSION_9, JNI_VERSION_10})
    knownVersion = knownVersion || init->version == v;
  if (!knownVersion) return JNI_EVERSION;
  if (createFails) return JNI_ERR;
  live = true;
  ownerThread = GetCurrentThreadId();
  *pvm = &Vm;
  *penv = &Env;
  return JNI_OK;
}
