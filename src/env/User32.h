#pragma once
// user32 is mapped on first use only. A service or a console run that never shows a message box
// or activates a window then does not pay for it at every start: it is the costliest of the
// system libraries to load and initialise, the more so under Wine.

namespace pelto {

// The named function of user32.dll, loading the library once (it stays for the process's
// lifetime); null when either cannot be found, which callers treat like a failed call.
void* user32Function(const char* name);

template <class F>
F user32(const char* name) {
  return reinterpret_cast<F>(user32Function(name));
}

}  // namespace pelto
