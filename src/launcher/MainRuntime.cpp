// Linked into the launcher executable only, not into the tests. The launcher's code neither
// throws nor catches, so the standard library's throw helpers and the terminate handler end
// the process at once. Without this the exception objects, their message strings, the verbose
// terminate handler and its name demangler (about 100 KiB together) would be linked in for
// failures that could only ever end in std::terminate anyway.
#include <windows.h>

#include <bits/functexcept.h>

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void stop(const char* what) {
  std::fputs("pelto: ", stderr);
  std::fputs(what, stderr);
  std::fputs("\n", stderr);
  std::abort();
}

}  // namespace

// The replaceable allocation functions: out of memory ends the process like an uncaught
// std::bad_alloc would, without the exception machinery.
void* operator new(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) stop("out of memory");
  return p;
}

void operator delete(void* p) noexcept {
  std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace std {

void __throw_bad_exception() {
  stop("bad exception");
}
void __throw_bad_alloc() {
  stop("out of memory");
}
void __throw_bad_array_new_length() {
  stop("bad array new length");
}
void __throw_bad_cast() {
  stop("bad cast");
}
void __throw_bad_typeid() {
  stop("bad typeid");
}
void __throw_logic_error(const char* what) {
  stop(what);
}
void __throw_domain_error(const char* what) {
  stop(what);
}
void __throw_invalid_argument(const char* what) {
  stop(what);
}
void __throw_length_error(const char* what) {
  stop(what);
}
void __throw_out_of_range(const char* what) {
  stop(what);
}
// The format's arguments would only decorate the message; the format alone says what failed.
void __throw_out_of_range_fmt(const char* what, ...) {
  stop(what);
}
void __throw_runtime_error(const char* what) {
  stop(what);
}
void __throw_range_error(const char* what) {
  stop(what);
}
void __throw_overflow_error(const char* what) {
  stop(what);
}
void __throw_underflow_error(const char* what) {
  stop(what);
}
void __throw_bad_function_call() {
  stop("bad function call");
}

}  // namespace std

namespace __gnu_cxx {

void __verbose_terminate_handler() {
  stop("terminate called");
}

}  // namespace __gnu_cxx

// Guards of function-local statics. The library's own guards sit on the POSIX thread layer
// (about 25 KiB of it); these use one recursive lock over a slim reader/writer lock instead.
// Recursive, because one static's initialiser may reach another on the same thread. The first
// byte of a guard tells whether its object is initialised, as the compiler's inline check reads.
namespace {

SRWLOCK GuardLock = SRWLOCK_INIT;
DWORD GuardOwner = 0;
int GuardDepth = 0;

void lockGuards() {
  DWORD me = GetCurrentThreadId();
  if (__atomic_load_n(&GuardOwner, __ATOMIC_RELAXED) != me) {
    AcquireSRWLockExclusive(&GuardLock);
    __atomic_store_n(&GuardOwner, me, __ATOMIC_RELAXED);
  }
  ++GuardDepth;
}

void unlockGuards() {
  if (--GuardDepth == 0) {
    __atomic_store_n(&GuardOwner, 0, __ATOMIC_RELAXED);
    ReleaseSRWLockExclusive(&GuardLock);
  }
}

}  // namespace

extern "C" int __cxa_guard_acquire(long long* guard) {
  auto* done = reinterpret_cast<char*>(guard);
  if (__atomic_load_n(done, __ATOMIC_ACQUIRE)) return 0;
  lockGuards();
  if (__atomic_load_n(done, __ATOMIC_ACQUIRE)) {
    unlockGuards();
    return 0;
  }
  return 1;
}

extern "C" void __cxa_guard_release(long long* guard) {
  __atomic_store_n(reinterpret_cast<char*>(guard), 1, __ATOMIC_RELEASE);
  unlockGuards();
}

extern "C" void __cxa_guard_abort(long long*) {
  unlockGuards();
}
