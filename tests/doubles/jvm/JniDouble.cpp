// A jvm.dll for tests: the invocation interface and the JNIEnv functions the launcher uses, over a
// small class model read from jvm-double.txt beside the DLL. Every call is checked as JNI demands
// of a caller; a misuse is recorded as an "error" event instead of being forgiven, and a function
// the double lacks ends the process with code 97. Records: see Record.h.
//
// Model lines ("#" starts a comment):
//   method CLASS NAME SIGNATURE          a static method (its class is created too)
//   remove CLASS                         drops a built-in class (java/lang/System, ...)
//   main return | throw TEXT | stdin LINE | hang   what main does (stdin: reads lines until LINE)
//   spawn COMMAND                        main first starts COMMAND (inheriting handles), records its pid
//   create fail                          JNI_CreateJavaVM returns JNI_ERR
//   fail NewString N                     the Nth NewString (from 1) throws OutOfMemoryError
//   record PATH                          the record file when PELTO_JVM_RECORD is not set
#define _JNI_IMPLEMENTATION_
#include <jni.h>
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <deque>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Record.h"

namespace {

using namespace pelto::doubles;

struct Obj {
  enum Kind { Class, String, Array, Throwable } kind;
  std::string cls;      // of a Class object or throwable; element class of an array
  std::u16string text;  // a string's value, a throwable's message
  std::vector<Obj*> elements;
};

struct Method {
  std::string cls, name, sig;
  bool isStatic;
};

std::set<std::string> classes = {"java/lang/Object", "java/lang/String", "java/lang/System"};
// Instance methods are inherited by every class.
std::deque<Method> methods = {
    {"java/lang/System", "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", true},
    {"java/lang/Object", "toString", "()Ljava/lang/String;", false}};
std::string mainAction = "return", mainValue, spawnCommand;
bool createFails = false, live = false;
long failingNewString = 0, newStrings = 0;
DWORD ownerThread = 0;
std::deque<Obj> heap;
std::deque<Obj*> refs;  // a reference points at its slot; DeleteLocalRef empties the slot
std::set<const void*> issued;
std::set<const jchar*> pinned;
std::map<std::u16string, std::u16string> properties;
Obj* pending = nullptr;

std::string dots(std::string s) {
  std::replace(s.begin(), s.end(), '/', '.');
  return s;
}

void record(const std::string& event, const std::string& fields = "") {
  recordLine("{\"event\":\"" + event + "\"" + fields + "}");
}

void error(const char* fn, const std::string& message) {
  record("error", ",\"function\":" + jsonText(fn) + ",\"message\":" + jsonText(message));
}

Obj* newObj(Obj::Kind kind, std::string cls, std::u16string text = {}) {
  return &heap.emplace_back(Obj{kind, std::move(cls), std::move(text), {}});
}

jobject ref(Obj* o) {
  if (o) issued.insert(&refs.emplace_back(o));
  return o ? reinterpret_cast<jobject>(&refs.back()) : nullptr;
}

jstring newString(std::u16string text) {
  return static_cast<jstring>(ref(newObj(Obj::String, "java/lang/String", std::move(text))));
}

std::string describe(const Obj* t) {
  return dots(t->cls) + (t->text.empty() ? "" : ": " + utf8(t->text));
}

void throwNew(const char* cls, std::u16string message) {
  pending = newObj(Obj::Throwable, cls, std::move(message));
}

// Every function runs on the creating thread of a live JVM and, unless JNI allows it then, with
// no exception pending.
bool enter(const char* fn, bool whilePending = false) {
  bool ownThread = GetCurrentThreadId() == ownerThread;
  if (!live) error(fn, "called without a live JVM");
  if (!ownThread) error(fn, "called from a thread the JNIEnv does not belong to");
  if (pending && !whilePending) error(fn, "called with an exception pending (" + describe(pending) + ")");
  return live && ownThread && (!pending || whilePending);
}

// The object behind a reference (of `kind` unless -1); null, and an error unless null is allowed,
// for a bad one.
Obj* deref(const char* fn, const void* r, int kind = -1, bool allowNull = false) {
  Obj* o = r && issued.count(r) ? *static_cast<Obj* const*>(r) : nullptr;
  const char* problem = !r                             ? (allowNull ? nullptr : "null reference")
                        : !issued.count(r)             ? "not a reference this JVM issued"
                        : !o                           ? "reference used after DeleteLocalRef"
                        : kind >= 0 && o->kind != kind ? "reference of the wrong kind"
                                                       : nullptr;
  if (problem) error(fn, problem);
  return problem ? nullptr : o;
}

// enter, then the object behind the call's reference.
Obj* use(const char* fn, const void* r, int kind = -1) {
  return enter(fn) ? deref(fn, r, kind) : nullptr;
}

const Method* method(jmethodID id) {
  for (const Method& m : methods)
    if (&m == reinterpret_cast<const Method*>(id)) return &m;
  return nullptr;
}

// The argument of the signature's parameter at sig[i] (i moves past it) as JSON, checked against
// the parameter's type; `o` receives the object of a reference.
std::string argument(const char* fn, const std::string& sig, std::size_t& i, va_list& ap, Obj*& o) {
  std::size_t start = i;
  while (sig[i] == '[') ++i;
  if (sig[i] == 'L') i = sig.find(';', i);
  std::string type = sig.substr(start, ++i - start);
  if (type == "I") return std::to_string(va_arg(ap, jint));
  if (type == "Z") {
    int z = va_arg(ap, int);
    if (z != JNI_TRUE && z != JNI_FALSE) error(fn, "boolean argument other than JNI_TRUE or JNI_FALSE");
    return z ? "true" : "false";
  }
  if (type[0] != 'L' && type[0] != '[') error(fn, "a parameter type the double does not know: " + type);
  o = type[0] == 'L' || type[0] == '[' ? deref(fn, va_arg(ap, jobject), -1, true) : nullptr;
  bool isString = o && o->kind == Obj::String;
  bool isStrings = o && o->kind == Obj::Array && o->cls == "java/lang/String";
  if (o && ((type == "Ljava/lang/String;" && !isString) || (type == "[Ljava/lang/String;" && !isStrings)))
    error(fn, "argument is not a " + dots(type));
  if (!o || isString) return o ? jsonText(o->text) : "null";
  if (!isStrings) return jsonText("<" + dots(o->cls) + ">");
  std::string list;
  for (Obj* e : o->elements) {
    if (!e) error(fn, "string array holds a null element");
    list += (list.empty() ? "" : ",") + (e ? jsonText(e->text) : "null");
  }
  return "[" + list + "]";
}

void runMain() {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;  // as inheritIO does: the double's own standard handles
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!spawnCommand.empty() &&
      CreateProcessA(nullptr, spawnCommand.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
    recordLine("{\"event\":\"spawn\",\"pid\":" + std::to_string(pi.dwProcessId) + "}");
  if (mainAction == "hang") Sleep(INFINITE);
  if (mainAction == "throw") throwNew("java/lang/IllegalStateException", fromCodePage(CP_UTF8, mainValue));
  if (mainAction != "stdin") return;
  std::string line;
  char c;
  DWORD got = 0;
  bool matched = false;
  while (!matched && ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, nullptr) && got == 1) {
    if (c == '\n') {
      record("stdin", ",\"line\":" + jsonText(line));
      matched = line == mainValue;
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  record("stdinDone", std::string(",\"matched\":") + (matched ? "true" : "false"));
}

// System.setProperty answers the previous value.
jobject setProperty(const Obj* key, const Obj* value) {
  if (!key || !value) {
    throwNew("java/lang/NullPointerException", u"key or value is null");
    return nullptr;
  }
  record("setProperty", ",\"key\":" + jsonText(key->text) + ",\"value\":" + jsonText(value->text));
  jobject previous = properties.count(key->text) ? newString(properties[key->text]) : nullptr;
  properties[key->text] = value->text;
  return previous;
}

// A static call of a method the model knows, recorded with its arguments.
jobject callStatic(const char* fn, jclass clazz, jmethodID id, va_list& ap, bool returnsObject) {
  Obj* c = use(fn, clazz, Obj::Class);
  const Method* m = method(id);
  if (!c || !m) {
    error(fn, "bad class or method ID");
    return nullptr;
  }
  if (!m->isStatic || m->cls != c->cls) error(fn, "method ID is not a static method of this class");
  if ((m->sig.back() != 'V') != returnsObject)
    error(fn, "the function's return type does not match the method's (" + m->sig + ")");
  std::string list;
  std::vector<Obj*> objs;
  for (std::size_t i = 1; m->sig[i] != ')';)
    list += (list.empty() ? "" : ",") + argument(fn, m->sig, i, ap, objs.emplace_back());
  if (m->name == "setProperty") return setProperty(objs[0], objs[1]);
  if (m->name == "initFromLauncher") {
    record("initFromLauncher", ",\"flag\":" + list);
  } else if (m->name == "main") {
    record("main", ",\"class\":" + jsonText(m->cls) + ",\"args\":" + list);
    runMain();
  } else {
    record(m->name, ",\"args\":[" + list + "]");
  }
  return nullptr;
}

jmethodID lookUp(const char* fn, jclass clazz, const char* name, const char* sig, bool isStatic) {
  Obj* c = use(fn, clazz, Obj::Class);
  if (!c || !name || !sig) return nullptr;
  for (const Method& m : methods)
    if ((m.cls == c->cls || !m.isStatic) && m.name == name && m.sig == sig && m.isStatic == isStatic)
      return reinterpret_cast<jmethodID>(const_cast<Method*>(&m));
  throwNew("java/lang/NoSuchMethodError", fromCodePage(CP_UTF8, name));
  return nullptr;
}

// A function the double does not implement ends the process, loudly.
template <std::size_t N>
void JNICALL unimplemented() {
  error("unimplemented", "JNI function table slot " + std::to_string(N));
  ExitProcess(97);
}
template <std::size_t... I>
void fillSlots(void** slots, std::index_sequence<I...>) {
  ((slots[I] = reinterpret_cast<void*>(&unimplemented<I>)), ...);
}

// The functions the launcher uses (x64 has one calling convention, so lambdas serve as JNICALL).
// The C++ JNIEnv_ members hand their arguments on to the va_list forms.
JNINativeInterface_ makeFunctions() {
  JNINativeInterface_ f{};
  fillSlots(reinterpret_cast<void**>(&f), std::make_index_sequence<sizeof f / sizeof(void*)>{});
  f.CallStaticVoidMethodV = [](JNIEnv*, jclass c, jmethodID m, va_list ap) {
    callStatic("CallStaticVoidMethod", c, m, ap, false);
  };
  f.CallStaticObjectMethodV = [](JNIEnv*, jclass c, jmethodID m, va_list ap) {
    return callStatic("CallStaticObjectMethod", c, m, ap, true);
  };
  // Instance calls: only toString exists in the model; it describes the object as a throwable.
  f.CallObjectMethodV = [](JNIEnv*, jobject o, jmethodID id, va_list) -> jobject {
    Obj* obj = use("CallObjectMethod", o);
    const Method* m = method(id);
    if (!obj || !m || m->isStatic || m->name != "toString") {
      error("CallObjectMethod", "not an object, or not an instance method the double knows");
      return nullptr;
    }
    return newString(fromCodePage(CP_UTF8, describe(obj)));
  };
  f.FindClass = [](JNIEnv*, const char* name) -> jclass {
    if (!enter("FindClass")) return nullptr;
    if (!name) error("FindClass", "null name");
    if (name && classes.count(name)) return static_cast<jclass>(ref(newObj(Obj::Class, name)));
    throwNew("java/lang/NoClassDefFoundError", fromCodePage(CP_UTF8, name ? name : ""));
    return nullptr;
  };
  f.GetStaticMethodID = [](JNIEnv*, jclass c, const char* name, const char* sig) {
    return lookUp("GetStaticMethodID", c, name, sig, true);
  };
  f.GetMethodID = [](JNIEnv*, jclass c, const char* name, const char* sig) {
    return lookUp("GetMethodID", c, name, sig, false);
  };
  f.GetObjectClass = [](JNIEnv*, jobject o) {
    Obj* obj = use("GetObjectClass", o);
    return static_cast<jclass>(obj ? ref(newObj(Obj::Class, obj->cls)) : nullptr);
  };
  f.NewString = [](JNIEnv*, const jchar* chars, jsize len) -> jstring {
    if (!enter("NewString")) return nullptr;
    if (len < 0 || (!chars && len > 0)) error("NewString", "negative length or null characters");
    if (++newStrings == failingNewString) throwNew("java/lang/OutOfMemoryError", u"NewString");
    if (len < 0 || (!chars && len > 0) || pending) return nullptr;
    return newString(std::u16string(reinterpret_cast<const char16_t*>(chars), static_cast<std::size_t>(len)));
  };
  f.GetStringLength = [](JNIEnv*, jstring s) {
    Obj* o = use("GetStringLength", s, Obj::String);
    return static_cast<jsize>(o ? o->text.size() : 0);
  };
  f.GetStringChars = [](JNIEnv*, jstring s, jboolean* isCopy) -> const jchar* {
    Obj* o = use("GetStringChars", s, Obj::String);
    if (!o) return nullptr;
    if (isCopy) *isCopy = JNI_TRUE;
    // No terminator is promised: a visible U+FFFD follows the characters, so that a caller
    // reading past the length shows it instead of reading on into the heap.
    auto* chars = new std::u16string(o->text + u'\uFFFD');
    return *pinned.insert(reinterpret_cast<const jchar*>(chars->c_str())).first;
  };
  f.ReleaseStringChars = [](JNIEnv*, jstring s, const jchar* chars) {
    if (enter("ReleaseStringChars", true)) deref("ReleaseStringChars", s, Obj::String);
    if (!pinned.erase(chars)) error("ReleaseStringChars", "characters were not obtained or already released");
  };
  f.NewObjectArray = [](JNIEnv*, jsize len, jclass cls, jobject init) -> jobjectArray {
    Obj* c = use("NewObjectArray", cls, Obj::Class);
    if (!c || len < 0) return nullptr;
    Obj* a = newObj(Obj::Array, c->cls);
    a->elements.assign(static_cast<std::size_t>(len), deref("NewObjectArray", init, -1, true));
    return static_cast<jobjectArray>(ref(a));
  };
  f.SetObjectArrayElement = [](JNIEnv*, jobjectArray a, jsize i, jobject v) {
    Obj* arr = use("SetObjectArrayElement", a, Obj::Array);
    Obj* value = deref("SetObjectArrayElement", v, -1, true);
    if (arr && (i < 0 || static_cast<std::size_t>(i) >= arr->elements.size()))
      throwNew("java/lang/ArrayIndexOutOfBoundsException", u"");
    else if (arr && value && arr->cls == "java/lang/String" && value->kind != Obj::String)
      throwNew("java/lang/ArrayStoreException", u"");
    else if (arr)
      arr->elements[static_cast<std::size_t>(i)] = value;
  };
  f.DeleteLocalRef = [](JNIEnv*, jobject o) {
    if (enter("DeleteLocalRef", true) && o && deref("DeleteLocalRef", o))
      *reinterpret_cast<Obj**>(o) = nullptr;
  };
  f.ExceptionOccurred = [](JNIEnv*) {
    enter("ExceptionOccurred", true);
    return static_cast<jthrowable>(ref(pending));
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
    if (pending) record("exceptionDescribe", ",\"text\":" + jsonText(describe(pending)));
    pending = nullptr;  // as the JVM does, the description clears it
  };
  f.Throw = [](JNIEnv*, jthrowable t) -> jint {
    Obj* o = use("Throw", t, Obj::Throwable);
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
  if (!pinned.empty()) error("DestroyJavaVM", "string characters never released");
  live = false;
  record("destroyJavaVM");
  return JNI_OK;
}

const JNIInvokeInterface_ Invoke{nullptr, nullptr, nullptr, DestroyJavaVM,
                                 nullptr, nullptr, nullptr, nullptr};
JavaVM_ Vm{&Invoke};

void loadModel() {
  std::istringstream text(
      readFile(besideModule(reinterpret_cast<const void*>(&loadModel), L"jvm-double.txt")));
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string word, a, b, c;  // the words, the rest of the line after the second word
    std::istringstream in(line);
    in >> word >> a;
    std::getline(in >> std::ws, b);
    if (word == "method" && (std::istringstream(b) >> b >> c)) {
      classes.insert(a);
      methods.push_back(Method{a, b, c, true});
    }
    if (word == "remove") classes.erase(a);
    if (word == "spawn") spawnCommand = line.substr(line.find(' ') + 1);
    if (word == "main") std::tie(mainAction, mainValue) = std::tie(a, b);
    if (word == "create" && a == "fail") createFails = true;
    if (word == "fail" && a == "NewString") failingNewString = std::atol(b.c_str());
    std::u16string path = fromCodePage(CP_UTF8, line.substr(line.find(' ') + 1));
    if (word == "record") recordFallback().assign(path.begin(), path.end());
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
    if (!o) error("JNI_CreateJavaVM", "option " + std::to_string(i) + " has no text");
    // The JVM reads its options in the platform's ANSI code page.
    std::u16string text = fromCodePage(CP_ACP, o ? o : "");
    options += (i ? "," : "") + (o ? jsonText(text) : "null");
    std::size_t eq = text.find(u'=');
    if (text.rfind(u"-D", 0) == 0)
      properties[text.substr(2, eq - 2)] = eq == text.npos ? u"" : text.substr(eq + 1);
  }
  record("createJavaVM", ",\"options\":[" + options + "]");
  const jint versions[] = {JNI_VERSION_1_2, JNI_VERSION_1_4, JNI_VERSION_1_6,
                           JNI_VERSION_1_8, JNI_VERSION_9,   JNI_VERSION_10};
  if (std::find(std::begin(versions), std::end(versions), init->version) == std::end(versions))
    return JNI_EVERSION;
  if (createFails) return JNI_ERR;
  live = true;
  ownerThread = GetCurrentThreadId();
  *pvm = &Vm;
  *penv = &Env;
  return JNI_OK;
}
