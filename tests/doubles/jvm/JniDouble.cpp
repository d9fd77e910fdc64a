// A jvm.dll for tests: the JNI invocation interface and the JNIEnv functions the launcher uses,
// over a small class model read from jvm-double.txt beside the DLL (or the file named by
// PELTO_JVM_MODEL). Every call is checked as JNI demands of a caller; a misuse is recorded
// as an "error" event instead of being forgiven. Records go to the file named by PELTO_JVM_RECORD.
//
// Model lines ("#" starts a comment):
//   class NAME                          a class (internal name)
//   method CLASS NAME SIGNATURE         a static method (its class is created too)
//   remove CLASS                        drops a built-in class (java/lang/System, ...)
//   main return | throw TEXT | exit CODE | stdin LINE | wait MS
//   create fail                         JNI_CreateJavaVM returns JNI_ERR
//   newstring fail N                    the Nth NewString throws OutOfMemoryError
//   record PATH                         the record file when PELTO_JVM_RECORD is not set
#define _JNI_IMPLEMENTATION_
#include <jni.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Record.h"

using pelto::doubles::jsonText;
using pelto::doubles::recordLine;
using pelto::doubles::utf8;

namespace {

struct Obj {
  enum class Kind { Class, String, Array, Throwable } kind;
  std::string className;  // class of a Class object, element class of an array, class of a throwable
  std::u16string text;    // string value, or a throwable's message
  std::vector<Obj*> elements;
};

struct Method {
  std::string cls, name, sig;
  bool isStatic;
};

struct Ref {
  Obj* obj;
  bool alive = true;
  bool global = false;
};

struct Model {
  std::set<std::string> classes;
  std::deque<Method> methods;
  std::string mainAction = "return";
  std::string mainValue;
  bool createFails = false;
  int newStringFailsAt = 0;
};

Model model;
std::deque<std::unique_ptr<Obj>> heap;
std::deque<Ref> refs;
std::set<const void*> issuedRefs;
std::map<const void*, std::u16string> pinnedChars;
std::map<const void*, std::string> pinnedUtf;
std::map<std::u16string, std::u16string> properties;
int newStringCalls = 0;
Obj* pending = nullptr;
bool created = false;
bool destroyed = false;
DWORD ownerThread = 0;

std::string toDots(std::string s) {
  for (auto& c : s)
    if (c == '/') c = '.';
  return s;
}

void recordError(const char* function, const std::string& message) {
  recordLine("{\"event\":\"error\",\"function\":" + jsonText(std::string_view(function)) +
             ",\"message\":" + jsonText(std::string_view(message)) + "}");
  std::fprintf(stderr, "jvm double: JNI misuse in %s: %s\n", function, message.c_str());
}

Obj* newObj(Obj::Kind kind, std::string cls, std::u16string text = {}) {
  heap.push_back(std::make_unique<Obj>(Obj{kind, std::move(cls), std::move(text), {}}));
  return heap.back().get();
}

jobject newRef(Obj* o, bool global = false) {
  if (!o) return nullptr;
  refs.push_back(Ref{o, true, global});
  issuedRefs.insert(&refs.back());
  return reinterpret_cast<jobject>(&refs.back());
}

// The object behind a reference; null (and an error unless allowNull) for a bad one.
Obj* deref(const char* fn, const void* r, bool allowNull = false) {
  if (!r) {
    if (!allowNull) recordError(fn, "null reference");
    return nullptr;
  }
  if (!issuedRefs.count(r)) {
    recordError(fn, "not a reference this JVM issued");
    return nullptr;
  }
  const Ref* ref = static_cast<const Ref*>(r);
  if (!ref->alive) {
    recordError(fn, "reference used after DeleteLocalRef");
    return nullptr;
  }
  return ref->obj;
}

std::string throwableText(const Obj* t) {
  std::string s = toDots(t->className);
  if (!t->text.empty()) s += ": " + utf8(t->text);
  return s;
}

void throwNew(const char* cls, std::u16string message) {
  pending = newObj(Obj::Kind::Throwable, cls, std::move(message));
}

// Checks every function must pass: the owning thread, a live JVM and, unless the function is
// one of those JNI allows then, no pending exception.
bool enter(const char* fn, bool allowedWhilePending = false) {
  bool ok = true;
  if (!created || destroyed) {
    recordError(fn, "called without a live JVM");
    ok = false;
  }
  if (GetCurrentThreadId() != ownerThread) {
    recordError(fn, "called from a thread the JNIEnv does not belong to");
    ok = false;
  }
  if (pending && !allowedWhilePending) {
    recordError(fn, "called with an exception pending (" + throwableText(pending) + ")");
    ok = false;
  }
  return ok;
}

const Method* findMethod(const std::string& cls, const char* name, const char* sig, bool isStatic) {
  for (const auto& m : model.methods)
    if (m.cls == cls && m.name == name && m.sig == sig && m.isStatic == isStatic) return &m;
  return nullptr;
}

// Parameter type letters of a method signature ('L' for objects and arrays) and its return type.
bool parseSignature(const std::string& sig, std::vector<char>& params, char& ret) {
  if (sig.empty() || sig[0] != '(') return false;
  std::size_t i = 1;
  while (i < sig.size() && sig[i] != ')') {
    char c = sig[i];
    bool array = false;
    while (c == '[') {
      array = true;
      c = sig[++i];
    }
    if (c == 'L') {
      i = sig.find(';', i);
      if (i == std::string::npos) return false;
    } else if (std::string("ZBCSIJFD").find(c) == std::string::npos) {
      return false;
    }
    params.push_back(array ? 'L' : c);
    ++i;
  }
  if (i + 1 >= sig.size()) return false;
  ret = sig[i + 1] == '[' ? 'L' : sig[i + 1];
  return true;
}

std::vector<jvalue> readArgs(const std::vector<char>& params, va_list ap) {
  std::vector<jvalue> out;
  for (char p : params) {
    jvalue v{};
    switch (p) {
      case 'Z':
        v.z = static_cast<jboolean>(va_arg(ap, int));
        break;
      case 'B':
        v.b = static_cast<jbyte>(va_arg(ap, int));
        break;
      case 'C':
        v.c = static_cast<jchar>(va_arg(ap, int));
        break;
      case 'S':
        v.s = static_cast<jshort>(va_arg(ap, int));
        break;
      case 'I':
        v.i = va_arg(ap, jint);
        break;
      case 'J':
        v.j = va_arg(ap, jlong);
        break;
      case 'F':
        v.f = static_cast<jfloat>(va_arg(ap, double));
        break;
      case 'D':
        v.d = va_arg(ap, double);
        break;
      default:
        v.l = va_arg(ap, jobject);
        break;
    }
    out.push_back(v);
  }
  return out;
}

std::string jsonValue(const char* fn, char type, const jvalue& v) {
  switch (type) {
    case 'Z':
      if (v.z > 1) recordError(fn, "boolean argument other than JNI_TRUE or JNI_FALSE");
      return v.z ? "true" : "false";
    case 'I':
      return std::to_string(v.i);
    case 'J':
      return std::to_string(v.j);
    case 'B':
      return std::to_string(v.b);
    case 'C':
    case 'S':
      return std::to_string(type == 'C' ? v.c : v.s);
    case 'F':
    case 'D':
      return std::to_string(type == 'F' ? v.f : v.d);
    default:
      break;
  }
  Obj* o = deref(fn, v.l, true);
  if (!o) return "null";
  if (o->kind == Obj::Kind::String) return jsonText(o->text);
  if (o->kind == Obj::Kind::Array) {
    std::string s = "[";
    for (std::size_t i = 0; i < o->elements.size(); ++i) {
      if (i) s += ",";
      s += o->elements[i] ? jsonText(o->elements[i]->text) : "null";
    }
    return s + "]";
  }
  return jsonText(std::string_view("<" + toDots(o->className) + ">"));
}

// Checks an object argument against its declared type (only the ones the model uses).
void checkObjectArg(const char* fn, const std::string& declared, const jvalue& v) {
  Obj* o = deref(fn, v.l, true);
  if (!o) return;
  if (declared == "Ljava/lang/String;" && o->kind != Obj::Kind::String)
    recordError(fn, "argument is not a java.lang.String");
  if (declared == "[Ljava/lang/String;" &&
      (o->kind != Obj::Kind::Array || o->className != "java/lang/String"))
    recordError(fn, "argument is not a java.lang.String[]");
}

std::vector<std::string> paramTexts(const std::string& sig) {
  std::vector<std::string> out;
  std::size_t i = 1;
  while (i < sig.size() && sig[i] != ')') {
    std::size_t start = i;
    while (sig[i] == '[') ++i;
    if (sig[i] == 'L') i = sig.find(';', i);
    ++i;
    out.push_back(sig.substr(start, i - start));
  }
  return out;
}

void runMainAction() {
  const std::string& a = model.mainAction;
  if (a == "throw") {
    throwNew("java/lang/IllegalStateException", pelto::doubles::fromCodePage(CP_UTF8, model.mainValue));
  } else if (a == "exit") {
    int code = std::atoi(model.mainValue.c_str());
    recordLine("{\"event\":\"exit\",\"code\":" + std::to_string(code) + "}");
    ExitProcess(static_cast<UINT>(code));
  } else if (a == "stdin") {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string line;
    char c;
    DWORD got = 0;
    bool matched = false;
    while (ReadFile(in, &c, 1, &got, nullptr) && got == 1) {
      if (c == '\r') continue;
      if (c != '\n') {
        line += c;
        continue;
      }
      recordLine("{\"event\":\"stdin\",\"line\":" + jsonText(std::string_view(line)) + "}");
      if (line == model.mainValue) {
        matched = true;
        break;
      }
      line.clear();
    }
    recordLine(std::string("{\"event\":\"stdinDone\",\"matched\":") + (matched ? "true" : "false") + "}");
  } else if (a == "wait") {
    Sleep(static_cast<DWORD>(std::atoi(model.mainValue.c_str())));
  }
}

// A static call with its arguments; the result (for object methods) as a new local reference.
jobject callStatic(const char* fn, jclass clazz, jmethodID id, const std::vector<jvalue>* given, va_list* ap,
                   const jvalue* array, char wantReturn) {
  if (!enter(fn)) return nullptr;
  Obj* c = deref(fn, clazz);
  const Method* m = reinterpret_cast<const Method*>(id);
  bool known = false;
  for (const auto& mm : model.methods) known = known || &mm == m;
  if (!c || c->kind != Obj::Kind::Class || !m || !known) {
    recordError(fn, "bad class or method ID");
    return nullptr;
  }
  if (!m->isStatic || m->cls != c->className)
    recordError(fn, "method ID is not a static method of this class");
  std::vector<char> params;
  char ret = 'V';
  parseSignature(m->sig, params, ret);
  if ((ret == 'L') != (wantReturn == 'L') || (wantReturn == 'V' && ret != 'V'))
    recordError(fn, "the function's return type does not match the method's (" + m->sig + ")");
  std::vector<jvalue> args;
  if (given)
    args = *given;
  else if (ap)
    args = readArgs(params, *ap);
  else
    args.assign(array, array + params.size());
  std::vector<std::string> types = paramTexts(m->sig);
  std::string list = "[";
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (i) list += ",";
    list += jsonValue(fn, params[i], args[i]);
    if (params[i] == 'L') checkObjectArg(fn, types[i], args[i]);
  }
  list += "]";
  recordLine("{\"event\":\"callStatic\",\"class\":" + jsonText(std::string_view(m->cls)) +
             ",\"method\":" + jsonText(std::string_view(m->name)) + ",\"args\":" + list + "}");
  if (m->cls == "java/lang/System" && m->name == "setProperty") {
    Obj* k = deref(fn, args[0].l, true);
    Obj* v = deref(fn, args[1].l, true);
    if (!k || !v) {
      throwNew("java/lang/NullPointerException", u"key or value is null");
      return nullptr;
    }
    recordLine("{\"event\":\"setProperty\",\"key\":" + jsonText(k->text) + ",\"value\":" + jsonText(v->text) +
               "}");
    auto it = properties.find(k->text);
    Obj* previous =
        it == properties.end() ? nullptr : newObj(Obj::Kind::String, "java/lang/String", it->second);
    properties[k->text] = v->text;
    return newRef(previous);
  }
  if (m->name == "initAwtSplashConfig") {
    recordLine("{\"event\":\"initAwtSplashConfig\",\"args\":" + list + "}");
  } else if (m->name == "initFromLauncher") {
    recordLine(std::string("{\"event\":\"initFromLauncher\",\"flag\":") + (args[0].z ? "true" : "false") +
               "}");
  } else if (m->name == "main" && m->sig == "([Ljava/lang/String;)V") {
    std::string mainArgs = params.empty() ? "[]" : jsonValue(fn, 'L', args[0]);
    Obj* arr = deref(fn, args[0].l, true);
    if (arr)
      for (Obj* e : arr->elements)
        if (!e) recordError(fn, "main argument array holds a null element");
    recordLine("{\"event\":\"main\",\"class\":" + jsonText(std::string_view(m->cls)) +
               ",\"args\":" + mainArgs + "}");
    runMainAction();
  }
  return nullptr;
}

// ---- JNIEnv functions ---------------------------------------------------------------------

jint JNICALL GetVersion(JNIEnv*) {
  enter("GetVersion");
  return JNI_VERSION_1_8;
}

jclass JNICALL FindClass(JNIEnv*, const char* name) {
  if (!enter("FindClass")) return nullptr;
  if (!name) {
    recordError("FindClass", "null name");
    return nullptr;
  }
  bool found = model.classes.count(name) != 0;
  recordLine("{\"event\":\"findClass\",\"name\":" + jsonText(std::string_view(name)) +
             ",\"found\":" + (found ? "true" : "false") + "}");
  if (!found) {
    throwNew("java/lang/NoClassDefFoundError", pelto::doubles::fromCodePage(CP_UTF8, name));
    return nullptr;
  }
  return static_cast<jclass>(newRef(newObj(Obj::Kind::Class, name)));
}

jmethodID lookUp(const char* fn, jclass clazz, const char* name, const char* sig, bool isStatic) {
  if (!enter(fn)) return nullptr;
  Obj* c = deref(fn, clazz);
  if (!c || c->kind != Obj::Kind::Class || !name || !sig) {
    recordError(fn, "bad class, name or signature");
    return nullptr;
  }
  const Method* m = findMethod(c->className, name, sig, isStatic);
  // Every class inherits Object's toString.
  if (!m && !isStatic && std::string(name) == "toString" && std::string(sig) == "()Ljava/lang/String;") {
    model.methods.push_back(Method{c->className, name, sig, false});
    m = &model.methods.back();
  }
  recordLine(std::string("{\"event\":\"") + (isStatic ? "getStaticMethodID" : "getMethodID") +
             "\",\"class\":" + jsonText(std::string_view(c->className)) + ",\"name\":" +
             jsonText(std::string_view(name)) + ",\"signature\":" + jsonText(std::string_view(sig)) +
             ",\"found\":" + (m ? "true" : "false") + "}");
  if (!m) throwNew("java/lang/NoSuchMethodError", pelto::doubles::fromCodePage(CP_UTF8, name));
  return reinterpret_cast<jmethodID>(const_cast<Method*>(m));
}

jmethodID JNICALL GetStaticMethodID(JNIEnv*, jclass c, const char* name, const char* sig) {
  return lookUp("GetStaticMethodID", c, name, sig, true);
}
jmethodID JNICALL GetMethodID(JNIEnv*, jclass c, const char* name, const char* sig) {
  return lookUp("GetMethodID", c, name, sig, false);
}

jclass JNICALL GetObjectClass(JNIEnv*, jobject o) {
  if (!enter("GetObjectClass")) return nullptr;
  Obj* obj = deref("GetObjectClass", o);
  if (!obj) return nullptr;
  std::string cls = obj->kind == Obj::Kind::Class    ? "java/lang/Class"
                    : obj->kind == Obj::Kind::String ? "java/lang/String"
                    : obj->kind == Obj::Kind::Array  ? "[L" + obj->className + ";"
                                                     : obj->className;
  return static_cast<jclass>(newRef(newObj(Obj::Kind::Class, cls)));
}

void JNICALL CallStaticVoidMethod(JNIEnv*, jclass c, jmethodID m, ...) {
  va_list ap;
  va_start(ap, m);
  callStatic("CallStaticVoidMethod", c, m, nullptr, &ap, nullptr, 'V');
  va_end(ap);
}
void JNICALL CallStaticVoidMethodV(JNIEnv*, jclass c, jmethodID m, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  callStatic("CallStaticVoidMethodV", c, m, nullptr, &copy, nullptr, 'V');
  va_end(copy);
}
void JNICALL CallStaticVoidMethodA(JNIEnv*, jclass c, jmethodID m, const jvalue* a) {
  callStatic("CallStaticVoidMethodA", c, m, nullptr, nullptr, a, 'V');
}
jobject JNICALL CallStaticObjectMethod(JNIEnv*, jclass c, jmethodID m, ...) {
  va_list ap;
  va_start(ap, m);
  jobject r = callStatic("CallStaticObjectMethod", c, m, nullptr, &ap, nullptr, 'L');
  va_end(ap);
  return r;
}
jobject JNICALL CallStaticObjectMethodV(JNIEnv*, jclass c, jmethodID m, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  jobject r = callStatic("CallStaticObjectMethodV", c, m, nullptr, &copy, nullptr, 'L');
  va_end(copy);
  return r;
}
jobject JNICALL CallStaticObjectMethodA(JNIEnv*, jclass c, jmethodID m, const jvalue* a) {
  return callStatic("CallStaticObjectMethodA", c, m, nullptr, nullptr, a, 'L');
}

// Instance calls: only toString exists in the model.
jobject callToString(const char* fn, jobject o, jmethodID id) {
  if (!enter(fn)) return nullptr;
  Obj* obj = deref(fn, o);
  const Method* m = reinterpret_cast<const Method*>(id);
  if (!obj || !m) return nullptr;
  if (m->isStatic || m->name != "toString") {
    recordError(fn, "method ID is not an instance method the double knows");
    return nullptr;
  }
  std::u16string text;
  if (obj->kind == Obj::Kind::Throwable)
    text = pelto::doubles::fromCodePage(CP_UTF8, throwableText(obj));
  else if (obj->kind == Obj::Kind::String)
    text = obj->text;
  else
    text = pelto::doubles::fromCodePage(CP_UTF8, toDots(obj->className) + "@1");
  recordLine("{\"event\":\"toString\",\"text\":" + jsonText(text) + "}");
  return newRef(newObj(Obj::Kind::String, "java/lang/String", text));
}
jobject JNICALL CallObjectMethod(JNIEnv*, jobject o, jmethodID m, ...) {
  return callToString("CallObjectMethod", o, m);
}
jobject JNICALL CallObjectMethodV(JNIEnv*, jobject o, jmethodID m, va_list) {
  return callToString("CallObjectMethodV", o, m);
}
jobject JNICALL CallObjectMethodA(JNIEnv*, jobject o, jmethodID m, const jvalue*) {
  return callToString("CallObjectMethodA", o, m);
}

jstring JNICALL NewString(JNIEnv*, const jchar* chars, jsize len) {
  if (!enter("NewString")) return nullptr;
  if (++newStringCalls == model.newStringFailsAt) {
    throwNew("java/lang/OutOfMemoryError", u"");
    return nullptr;
  }
  if (len < 0 || (!chars && len > 0)) {
    recordError("NewString", "negative length or null characters");
    return nullptr;
  }
  std::u16string text(reinterpret_cast<const char16_t*>(chars), static_cast<std::size_t>(len));
  return static_cast<jstring>(newRef(newObj(Obj::Kind::String, "java/lang/String", text)));
}

// Modified UTF-8: no four-byte forms, NUL as C0 80, supplementary characters as surrogate pairs.
bool decodeModifiedUtf8(const unsigned char* s, std::u16string& out) {
  while (*s) {
    unsigned c = *s;
    if (c < 0x80) {
      out += static_cast<char16_t>(c);
      ++s;
    } else if ((c & 0xE0) == 0xC0 && (s[1] & 0xC0) == 0x80) {
      unsigned v = ((c & 0x1F) << 6) | (s[1] & 0x3F);
      if (v < 0x80 && v != 0) return false;
      out += static_cast<char16_t>(v);
      s += 2;
    } else if ((c & 0xF0) == 0xE0 && (s[1] & 0xC0) == 0x80 && (s[2] & 0xC0) == 0x80) {
      unsigned v = ((c & 0x0F) << 12) | ((s[1] & 0x3F) << 6) | (s[2] & 0x3F);
      if (v < 0x800) return false;
      out += static_cast<char16_t>(v);
      s += 3;
    } else {
      return false;
    }
  }
  return true;
}

jstring JNICALL NewStringUTF(JNIEnv*, const char* bytes) {
  if (!enter("NewStringUTF")) return nullptr;
  if (!bytes) return nullptr;
  std::u16string text;
  if (!decodeModifiedUtf8(reinterpret_cast<const unsigned char*>(bytes), text)) {
    recordError("NewStringUTF", "bytes are not modified UTF-8: " + std::string(bytes));
    text = pelto::doubles::fromCodePage(CP_UTF8, bytes);
  }
  return static_cast<jstring>(newRef(newObj(Obj::Kind::String, "java/lang/String", text)));
}

Obj* stringArg(const char* fn, jstring s) {
  Obj* o = deref(fn, s);
  if (o && o->kind != Obj::Kind::String) {
    recordError(fn, "not a java.lang.String");
    return nullptr;
  }
  return o;
}

jsize JNICALL GetStringLength(JNIEnv*, jstring s) {
  if (!enter("GetStringLength")) return 0;
  Obj* o = stringArg("GetStringLength", s);
  return o ? static_cast<jsize>(o->text.size()) : 0;
}

const jchar* JNICALL GetStringChars(JNIEnv*, jstring s, jboolean* isCopy) {
  if (!enter("GetStringChars")) return nullptr;
  Obj* o = stringArg("GetStringChars", s);
  if (!o) return nullptr;
  if (isCopy) *isCopy = JNI_TRUE;
  // No terminator is promised: a visible U+FFFD follows the characters, then a NUL, so that a
  // caller reading past the length shows it instead of reading on into the heap.
  auto copy = std::make_unique<std::u16string>(o->text + u'\uFFFD');
  const jchar* p = reinterpret_cast<const jchar*>(copy->c_str());
  pinnedChars[p] = o->text;
  copy.release();
  return p;
}

void JNICALL ReleaseStringChars(JNIEnv*, jstring s, const jchar* chars) {
  enter("ReleaseStringChars", true);
  stringArg("ReleaseStringChars", s);
  if (!pinnedChars.erase(chars))
    recordError("ReleaseStringChars", "characters were not obtained or already released");
}

jsize JNICALL GetStringUTFLength(JNIEnv*, jstring s) {
  if (!enter("GetStringUTFLength")) return 0;
  Obj* o = stringArg("GetStringUTFLength", s);
  return o ? static_cast<jsize>(utf8(o->text).size()) : 0;
}

const char* JNICALL GetStringUTFChars(JNIEnv*, jstring s, jboolean* isCopy) {
  if (!enter("GetStringUTFChars")) return nullptr;
  Obj* o = stringArg("GetStringUTFChars", s);
  if (!o) return nullptr;
  if (isCopy) *isCopy = JNI_TRUE;
  auto copy = std::make_unique<std::string>(utf8(o->text));
  const char* p = copy->c_str();
  pinnedUtf[p] = *copy;
  copy.release();
  return p;
}

void JNICALL ReleaseStringUTFChars(JNIEnv*, jstring s, const char* chars) {
  enter("ReleaseStringUTFChars", true);
  stringArg("ReleaseStringUTFChars", s);
  if (!pinnedUtf.erase(chars))
    recordError("ReleaseStringUTFChars", "characters were not obtained or already released");
}

jobjectArray JNICALL NewObjectArray(JNIEnv*, jsize len, jclass cls, jobject init) {
  if (!enter("NewObjectArray")) return nullptr;
  Obj* c = deref("NewObjectArray", cls);
  if (!c || c->kind != Obj::Kind::Class) return nullptr;
  if (len < 0) {
    throwNew("java/lang/NegativeArraySizeException", u"");
    return nullptr;
  }
  Obj* a = newObj(Obj::Kind::Array, c->className);
  Obj* first = deref("NewObjectArray", init, true);
  a->elements.assign(static_cast<std::size_t>(len), first);
  return static_cast<jobjectArray>(newRef(a));
}

jsize JNICALL GetArrayLength(JNIEnv*, jarray a) {
  if (!enter("GetArrayLength")) return 0;
  Obj* o = deref("GetArrayLength", a);
  return o && o->kind == Obj::Kind::Array ? static_cast<jsize>(o->elements.size()) : 0;
}

void JNICALL SetObjectArrayElement(JNIEnv*, jobjectArray a, jsize i, jobject v) {
  if (!enter("SetObjectArrayElement")) return;
  Obj* arr = deref("SetObjectArrayElement", a);
  if (!arr || arr->kind != Obj::Kind::Array) return;
  Obj* value = deref("SetObjectArrayElement", v, true);
  if (i < 0 || static_cast<std::size_t>(i) >= arr->elements.size()) {
    throwNew("java/lang/ArrayIndexOutOfBoundsException", u"");
    return;
  }
  if (value && arr->className == "java/lang/String" && value->kind != Obj::Kind::String) {
    throwNew("java/lang/ArrayStoreException", u"");
    return;
  }
  arr->elements[static_cast<std::size_t>(i)] = value;
}

jobject JNICALL GetObjectArrayElement(JNIEnv*, jobjectArray a, jsize i) {
  if (!enter("GetObjectArrayElement")) return nullptr;
  Obj* arr = deref("GetObjectArrayElement", a);
  if (!arr || arr->kind != Obj::Kind::Array) return nullptr;
  if (i < 0 || static_cast<std::size_t>(i) >= arr->elements.size()) {
    throwNew("java/lang/ArrayIndexOutOfBoundsException", u"");
    return nullptr;
  }
  return newRef(arr->elements[static_cast<std::size_t>(i)]);
}

void JNICALL DeleteLocalRef(JNIEnv*, jobject o) {
  enter("DeleteLocalRef", true);
  if (!o) return;
  if (!issuedRefs.count(o)) {
    recordError("DeleteLocalRef", "not a reference this JVM issued");
    return;
  }
  Ref* r = reinterpret_cast<Ref*>(o);
  if (!r->alive || r->global) {
    recordError("DeleteLocalRef", r->global ? "a global reference" : "deleted twice");
    return;
  }
  r->alive = false;
}

jobject JNICALL NewLocalRef(JNIEnv*, jobject o) {
  if (!enter("NewLocalRef")) return nullptr;
  return newRef(deref("NewLocalRef", o, true));
}
jobject JNICALL NewGlobalRef(JNIEnv*, jobject o) {
  if (!enter("NewGlobalRef")) return nullptr;
  return newRef(deref("NewGlobalRef", o, true), true);
}
void JNICALL DeleteGlobalRef(JNIEnv*, jobject o) {
  enter("DeleteGlobalRef");
  if (!o) return;
  Ref* r = issuedRefs.count(o) ? reinterpret_cast<Ref*>(o) : nullptr;
  if (!r || !r->global || !r->alive) {
    recordError("DeleteGlobalRef", "not a live global reference");
    return;
  }
  r->alive = false;
}
jint JNICALL EnsureLocalCapacity(JNIEnv*, jint) {
  enter("EnsureLocalCapacity");
  return 0;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv*) {
  enter("ExceptionOccurred", true);
  return static_cast<jthrowable>(newRef(pending));
}
jboolean JNICALL ExceptionCheck(JNIEnv*) {
  enter("ExceptionCheck", true);
  return pending ? JNI_TRUE : JNI_FALSE;
}
void JNICALL ExceptionClear(JNIEnv*) {
  enter("ExceptionClear", true);
  if (pending)
    recordLine(
        "{\"event\":\"exceptionClear\",\"text\":" + jsonText(std::string_view(throwableText(pending))) + "}");
  pending = nullptr;
}
void JNICALL ExceptionDescribe(JNIEnv*) {
  enter("ExceptionDescribe", true);
  if (!pending) return;
  std::string text = throwableText(pending);
  recordLine("{\"event\":\"exceptionDescribe\",\"text\":" + jsonText(std::string_view(text)) + "}");
  std::fprintf(stderr, "Exception in thread \"main\" %s\n", text.c_str());
  std::fflush(stderr);
  pending = nullptr;  // as the JVM does, the description clears it
}
jint JNICALL Throw(JNIEnv*, jthrowable t) {
  if (!enter("Throw")) return -1;
  Obj* o = deref("Throw", t);
  if (!o || o->kind != Obj::Kind::Throwable) return -1;
  pending = o;
  return 0;
}
jint JNICALL ThrowNew(JNIEnv*, jclass c, const char* message) {
  if (!enter("ThrowNew")) return -1;
  Obj* cls = deref("ThrowNew", c);
  if (!cls) return -1;
  throwNew(cls->className.c_str(), pelto::doubles::fromCodePage(CP_UTF8, message ? message : ""));
  return 0;
}

// ---- Functions the double does not implement: a call ends the process, loudly -----------

template <std::size_t N>
void JNICALL unimplemented() {
  recordError("unimplemented", "JNI function table slot " + std::to_string(N));
  std::fflush(stderr);
  ExitProcess(97);
}
template <std::size_t... I>
void fillSlots(void** slots, std::index_sequence<I...>) {
  ((slots[I] = reinterpret_cast<void*>(&unimplemented<I>)), ...);
}

JNINativeInterface_ makeFunctions() {
  JNINativeInterface_ f{};
  constexpr std::size_t count = sizeof(JNINativeInterface_) / sizeof(void*);
  fillSlots(reinterpret_cast<void**>(&f), std::make_index_sequence<count>{});
  f.reserved0 = f.reserved1 = f.reserved2 = f.reserved3 = nullptr;
  f.GetVersion = GetVersion;
  f.FindClass = FindClass;
  f.GetStaticMethodID = GetStaticMethodID;
  f.GetMethodID = GetMethodID;
  f.GetObjectClass = GetObjectClass;
  f.CallStaticVoidMethod = CallStaticVoidMethod;
  f.CallStaticVoidMethodV = CallStaticVoidMethodV;
  f.CallStaticVoidMethodA = CallStaticVoidMethodA;
  f.CallStaticObjectMethod = CallStaticObjectMethod;
  f.CallStaticObjectMethodV = CallStaticObjectMethodV;
  f.CallStaticObjectMethodA = CallStaticObjectMethodA;
  f.CallObjectMethod = CallObjectMethod;
  f.CallObjectMethodV = CallObjectMethodV;
  f.CallObjectMethodA = CallObjectMethodA;
  f.NewString = NewString;
  f.NewStringUTF = NewStringUTF;
  f.GetStringLength = GetStringLength;
  f.GetStringChars = GetStringChars;
  f.ReleaseStringChars = ReleaseStringChars;
  f.GetStringUTFLength = GetStringUTFLength;
  f.GetStringUTFChars = GetStringUTFChars;
  f.ReleaseStringUTFChars = ReleaseStringUTFChars;
  f.NewObjectArray = NewObjectArray;
  f.GetArrayLength = GetArrayLength;
  f.SetObjectArrayElement = SetObjectArrayElement;
  f.GetObjectArrayElement = GetObjectArrayElement;
  f.DeleteLocalRef = DeleteLocalRef;
  f.NewLocalRef = NewLocalRef;
  f.NewGlobalRef = NewGlobalRef;
  f.DeleteGlobalRef = DeleteGlobalRef;
  f.EnsureLocalCapacity = EnsureLocalCapacity;
  f.ExceptionOccurred = ExceptionOccurred;
  f.ExceptionCheck = ExceptionCheck;
  f.ExceptionClear = ExceptionClear;
  f.ExceptionDescribe = ExceptionDescribe;
  f.Throw = Throw;
  f.ThrowNew = ThrowNew;
  return f;
}

const JNINativeInterface_ Functions = makeFunctions();
JNIEnv_ Env{&Functions};

// ---- The invocation interface --------------------------------------------------------------

jint JNICALL DestroyJavaVM(JavaVM*) {
  if (!created || destroyed) {
    recordError("DestroyJavaVM", "no live JVM");
    return JNI_ERR;
  }
  if (GetCurrentThreadId() != ownerThread) recordError("DestroyJavaVM", "not the creating thread");
  if (pending) recordError("DestroyJavaVM", "an exception is still pending (" + throwableText(pending) + ")");
  if (!pinnedChars.empty() || !pinnedUtf.empty())
    recordError("DestroyJavaVM", "string characters never released");
  destroyed = true;
  recordLine("{\"event\":\"destroyJavaVM\"}");
  return JNI_OK;
}
jint JNICALL AttachCurrentThread(JavaVM*, void** penv, void*) {
  if (GetCurrentThreadId() != ownerThread) {
    recordError("AttachCurrentThread", "the double hosts one thread only");
    return JNI_ERR;
  }
  *penv = &Env;
  return JNI_OK;
}
jint JNICALL DetachCurrentThread(JavaVM*) {
  return JNI_OK;
}
jint JNICALL GetEnv(JavaVM*, void** penv, jint) {
  *penv = GetCurrentThreadId() == ownerThread ? &Env : nullptr;
  return *penv ? JNI_OK : JNI_EDETACHED;
}

const JNIInvokeInterface_ Invoke{nullptr,
                                 nullptr,
                                 nullptr,
                                 DestroyJavaVM,
                                 AttachCurrentThread,
                                 DetachCurrentThread,
                                 GetEnv,
                                 AttachCurrentThread};
JavaVM_ Vm{&Invoke};

void loadModel() {
  for (const char* c : {"java/lang/Object", "java/lang/String", "java/lang/System", "java/lang/Throwable"})
    model.classes.insert(c);
  model.methods.push_back(Method{"java/lang/System", "setProperty",
                                 "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", true});
  bool found = false;
  std::wstring where;
  std::string text = pelto::doubles::readModelFile(L"PELTO_JVM_MODEL", L"jvm-double.txt",
                                                   reinterpret_cast<const void*>(&loadModel), found, where);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::size_t sp = line.find(' ');
    std::string word = line.substr(0, sp);
    std::string rest = sp == std::string::npos ? "" : line.substr(sp + 1);
    if (word == "class") {
      model.classes.insert(rest);
    } else if (word == "remove") {
      model.classes.erase(rest);
    } else if (word == "method") {
      std::size_t a = rest.find(' '), b = rest.find(' ', a + 1);
      if (a == std::string::npos || b == std::string::npos) continue;
      model.classes.insert(rest.substr(0, a));
      model.methods.push_back(
          Method{rest.substr(0, a), rest.substr(a + 1, b - a - 1), rest.substr(b + 1), true});
    } else if (word == "main") {
      std::size_t s2 = rest.find(' ');
      model.mainAction = rest.substr(0, s2);
      model.mainValue = s2 == std::string::npos ? "" : rest.substr(s2 + 1);
    } else if (word == "newstring" && rest.rfind("fail ", 0) == 0) {
      model.newStringFailsAt = std::atoi(rest.c_str() + 5);
    } else if (word == "create" && rest == "fail") {
      model.createFails = true;
    } else if (word == "record") {
      std::u16string path = pelto::doubles::fromCodePage(CP_UTF8, rest);
      pelto::doubles::recordFileFallback().assign(path.begin(), path.end());
    }
  }
  // Recorded after reading, so that a record file named by the model gets this line too.
  recordLine("{\"event\":\"model\",\"path\":" + jsonText(std::u16string(where.begin(), where.end())) +
             ",\"found\":" + (found ? "true" : "false") + "}");
}

}  // namespace

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
  if (created) return JNI_EEXIST;  // one JVM per process
  loadModel();
  auto* init = static_cast<JavaVMInitArgs*>(args);
  if (!pvm || !penv || !init) return JNI_EINVAL;
  std::string options = "[";
  for (jint i = 0; i < init->nOptions; ++i) {
    if (i) options += ",";
    const char* o = init->options[i].optionString;
    if (!o) {
      recordError("JNI_CreateJavaVM", "option " + std::to_string(i) + " has no text");
      options += "null";
      continue;
    }
    // The JVM reads its options in the platform's ANSI code page.
    options += jsonText(pelto::doubles::fromCodePage(CP_ACP, o));
    std::string s = o;
    if (s.rfind("-D", 0) == 0) {
      std::u16string w = pelto::doubles::fromCodePage(CP_ACP, s.substr(2));
      std::size_t weq = w.find(u'=');
      properties[w.substr(0, weq)] = weq == std::u16string::npos ? u"" : w.substr(weq + 1);
    }
  }
  options += "]";
  recordLine("{\"event\":\"createJavaVM\",\"version\":" + std::to_string(init->version) +
             ",\"ignoreUnrecognized\":" + (init->ignoreUnrecognized ? "true" : "false") +
             ",\"options\":" + options + "}");
  bool versionOk = false;
  for (jint v :
       {JNI_VERSION_1_2, JNI_VERSION_1_4, JNI_VERSION_1_6, JNI_VERSION_1_8, JNI_VERSION_9, JNI_VERSION_10})
    versionOk = versionOk || init->version == v;
  if (!versionOk) return JNI_EVERSION;
  if (model.createFails) return JNI_ERR;
  created = true;
  ownerThread = GetCurrentThreadId();
  *pvm = &Vm;
  *penv = &Env;
  return JNI_OK;
}
