#pragma once
// Files and folders only this account, SYSTEM and Administrators may touch, and the test of who
// made an object. Windows only.
#include <windows.h>
// SE_OBJECT_TYPE
#include <accctrl.h>

#include <string>

#include "env/Handles.h"

namespace pelto {

using UniqueLocal = UniqueAny<HLOCAL, LocalFree>;

// Owned by the account this process runs as, with full control for SYSTEM, Administrators and
// that account (for a kernel object every right of its kind), passed on to
// everything made inside, and protected: the entries of the folder it is made in (an install
// folder that lets users read, a temp folder that lets them create) do not reach it.
class OwnerOnlySecurity {
 public:
  OwnerOnlySecurity();
  // Null when the descriptor could not be made; callers then fall back to the default security.
  SECURITY_ATTRIBUTES* attributes() { return descriptor_ ? &attributes_ : nullptr; }
  // Gives an existing object (opened with WRITE_DAC) the same protected entries.
  bool applyTo(HANDLE object, SE_OBJECT_TYPE type) const;

 private:
  UniqueLocal descriptor_;
  SECURITY_ATTRIBUTES attributes_{};
};

// The account this process runs as, as SID text; empty when it cannot be told.
std::wstring currentAccountSid();
// Whether the object's owner is this account, or the owner this account gives what it creates
// (Administrators for LocalSystem). False when the owner cannot be read or there is none.
bool ownedByThisAccount(HANDLE object, SE_OBJECT_TYPE type);

}  // namespace pelto
