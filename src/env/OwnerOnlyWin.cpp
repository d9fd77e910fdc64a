#include "env/OwnerOnly.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace pelto {
namespace {

std::vector<unsigned char> tokenInformation(TOKEN_INFORMATION_CLASS what) {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  DWORD size = 0;
  GetTokenInformation(token.get(), what, nullptr, 0, &size);
  std::vector<unsigned char> data(size);
  if (size == 0 || !GetTokenInformation(token.get(), what, data.data(), size, &size)) return {};
  return data;
}

}  // namespace

std::wstring currentAccountSid() {
  std::vector<unsigned char> user = tokenInformation(TokenUser);
  LPWSTR text = nullptr;
  if (user.empty() || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text))
    return {};
  UniqueLocal owned(text);
  return text;
}

OwnerOnlySecurity::OwnerOnlySecurity() {
  std::wstring sid = currentAccountSid();
  if (sid.empty()) return;
  // The owner is named, not left to the token's default (Administrators for LocalSystem), so
  // that what this account made can be told by its owner.
  std::wstring sddl = L"O:" + sid + L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return;
  descriptor_.reset(descriptor);
  attributes_ = {sizeof attributes_, descriptor, FALSE};
}

bool OwnerOnlySecurity::applyTo(HANDLE object, SE_OBJECT_TYPE type) const {
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!descriptor_ || !GetSecurityDescriptorDacl(descriptor_.get(), &present, &dacl, &defaulted))
    return false;
  return SetSecurityInfo(object, type, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                         nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

bool ownedByThisAccount(HANDLE object, SE_OBJECT_TYPE type) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return false;
  UniqueLocal held(descriptor);
  std::vector<unsigned char> user = tokenInformation(TokenUser), given = tokenInformation(TokenOwner);
  return owner && ((!user.empty() && EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid)) ||
                   (!given.empty() && EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(given.data())->Owner)));
}

}  // namespace pelto
