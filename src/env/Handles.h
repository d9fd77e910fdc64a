#pragma once
// One owner for every Windows handle kind: the close function and the invalid value are part
// of the type, so every early return closes what it opened. No exceptions involved.
#include <windows.h>

#include <cstdint>
#include <utility>

namespace pelto {

template <class T, auto Close, std::intptr_t Invalid = 0>
class UniqueAny {
 public:
  UniqueAny() = default;
  explicit UniqueAny(T value) : value_(value) {}
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueAny() { reset(); }

  static T invalid() { return (T)(Invalid); }
  bool valid() const { return value_ != invalid(); }
  explicit operator bool() const { return valid(); }
  T get() const { return value_; }
  // For out-parameters of the API: closes the current value first.
  T* put() {
    reset();
    return &value_;
  }
  T release() { return std::exchange(value_, invalid()); }
  void reset(T value = invalid()) {
    T old = std::exchange(value_, value);
    if (old != invalid()) Close(old);
  }

 private:
  T value_ = invalid();
};

using UniqueHandle = UniqueAny<HANDLE, CloseHandle>;
using UniqueFileHandle = UniqueAny<HANDLE, CloseHandle, -1>;
using UniqueFindHandle = UniqueAny<HANDLE, FindClose, -1>;
using UniqueHKey = UniqueAny<HKEY, RegCloseKey>;
using UniqueScHandle = UniqueAny<SC_HANDLE, CloseServiceHandle>;
using UniqueModule = UniqueAny<HMODULE, FreeLibrary>;

}  // namespace pelto
