// The launch folders on disk: the account's parent, this launch's folder and its marker, and
// their removal. Everything below the temp folder is opened relative to a handle already
// checked, listed through that handle with wide names and deleted by handle, so nobody who can
// write into the temp folder can steer a create, an open or a delete elsewhere.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <vector>

#include "env/Extract.h"
#include "env/Handles.h"
#include "env/LaunchFolders.h"
#include "env/Paths.h"
#include "env/TextConv.h"
#include "launcher/Fatal.h"
#include "launcher/Log.h"

namespace pelto {
namespace {

using UniqueLocal = UniqueAny<HLOCAL, LocalFree>;

// Deeper than any tree an application makes in its launch folder; bounds the recursion.
constexpr int MaxCleanupDepth = 64;
constexpr int FolderAttempts = 10;

// Rights that let a holder change what a folder holds or who may.
constexpr ACCESS_MASK WriteRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_EA |
                                    FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC |
                                    WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

constexpr ACCESS_MASK FolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr ULONG ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The account this process runs as: its user and its default owner for new objects (an
// administrator's elevated token gives new objects to Administrators).
struct Account {
  std::vector<unsigned char> user, owner;
  std::u16string sidText;
};

std::vector<unsigned char> tokenSid(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<unsigned char> info(size);
  if (size == 0 || !GetTokenInformation(token, kind, info.data(), size, &size)) return {};
  PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid
                               : reinterpret_cast<TOKEN_OWNER*>(info.data())->Owner;
  auto* bytes = static_cast<unsigned char*>(sid);
  return std::vector<unsigned char>(bytes, bytes + GetLengthSid(sid));
}

const Account& account() {
  static const Account self = [] {
    Account a;
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return a;
    a.user = tokenSid(token.get(), TokenUser);
    a.owner = tokenSid(token.get(), TokenOwner);
    LPWSTR text = nullptr;
    if (!a.user.empty() && ConvertSidToStringSidW(a.user.data(), &text)) {
      UniqueLocal owned(text);
      a.sidText = asU(text);
    }
    return a;
  }();
  return self;
}

bool isAccountSid(PSID sid) {
  const Account& a = account();
  return (!a.user.empty() && EqualSid(sid, const_cast<unsigned char*>(a.user.data()))) ||
         (!a.owner.empty() && EqualSid(sid, const_cast<unsigned char*>(a.owner.data()))) ||
         IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// Owned by this account, SYSTEM or Administrators; with dacl, also nobody else may write.
// why says what failed.
bool ownedAndPrivate(HANDLE h, bool checkDacl, const char16_t** why) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  SECURITY_INFORMATION asked = OWNER_SECURITY_INFORMATION | (checkDacl ? DACL_SECURITY_INFORMATION : 0);
  if (GetSecurityInfo(h, SE_FILE_OBJECT, asked, &owner, nullptr, checkDacl ? &dacl : nullptr, nullptr, &sd) !=
      ERROR_SUCCESS)
    return *why = u"its security cannot be read", false;
  UniqueLocal owned(sd);
  if (!owner || !isAccountSid(owner)) return *why = u"another account owns it", false;
  if (!checkDacl) return true;
  if (!dacl) return *why = u"it has no access list", false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)))
      return *why = u"its access list cannot be read", false;
    if (ace->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE) return *why = u"its access list has unknown entries", false;
    auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & WriteRights) && !isAccountSid(&allowed->SidStart))
      return *why = u"another account may write into it", false;
  }
  return true;
}

DWORD attributesOf(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(h, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

// Full control for this user, SYSTEM and Administrators, passed on to everything made inside,
// owned by the user. Protected: a temp folder's own entries (C:\Windows\Temp lets every user
// create files and folders) are not inherited.
UniqueLocal privateSecurity() {
  const std::u16string& sid = account().sidText;
  if (sid.empty()) return UniqueLocal();
  std::u16string sddl = u"O:" + sid + u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + u")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(wptr(sddl), SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return UniqueLocal();
  return UniqueLocal(descriptor);
}

using NtCreateFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                    PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

// ntdll is in every process, so this adds no import.
NtCreateFileFn ntCreateFile() {
  static auto f = reinterpret_cast<NtCreateFileFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
  return f;
}

// Opens or creates name inside the folder root; never follows a link at name (on Windows).
// status receives the NT status.
UniqueHandle openRelative(HANDLE root, std::u16string_view name, ACCESS_MASK access, ULONG share,
                          ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR sd = nullptr,
                          LONG* status = nullptr) {
  LONG result = static_cast<LONG>(0xC0000001);  // STATUS_UNSUCCESSFUL
  HANDLE h = nullptr;
  if (ntCreateFile() && isPlainEntryName(name) && name.size() < 0x7FFF) {
    std::u16string text(name);
    UNICODE_STRING us{static_cast<USHORT>(text.size() * 2), static_cast<USHORT>(text.size() * 2),
                      reinterpret_cast<PWSTR>(text.data())};
    OBJECT_ATTRIBUTES oa{};
    InitializeObjectAttributes(&oa, &us, OBJ_CASE_INSENSITIVE, root, sd);
    IO_STATUS_BLOCK io{};
    result = ntCreateFile()(
        &h, access | SYNCHRONIZE, &oa, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
        options | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT,
        nullptr, 0);
    if (result < 0) h = nullptr;
  }
  if (status) *status = result;
  return UniqueHandle(h);
}

bool deleteByHandle(HANDLE h) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

struct Entry {
  std::u16string name;
  DWORD attributes;
};

// Every entry of an open folder, with its wide name as stored. Listed through a handle of its
// own to the very same folder: a handle remembers what it listed (under Wine even across a
// restart), and the folder may have changed since.
std::vector<Entry> listEntries(HANDLE open) {
  std::vector<Entry> entries;
  UniqueFileHandle fresh(ReOpenFile(open, FILE_LIST_DIRECTORY | SYNCHRONIZE, ShareAll,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  HANDLE folder = fresh.get();
  if (!fresh) return entries;
  std::vector<ULONGLONG> buffer(8192);  // 64 KiB, aligned as the records need
  auto* bytes = reinterpret_cast<unsigned char*>(buffer.data());
  for (bool first = true;; first = false) {
    if (!GetFileInformationByHandleEx(folder,
                                      first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo, bytes,
                                      static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG))))
      return entries;
    for (std::size_t at = 0;;) {
      auto* info = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(bytes + at);
      entries.push_back({std::u16string(reinterpret_cast<const char16_t*>(info->FileName),
                                        info->FileNameLength / sizeof(WCHAR)),
                         info->FileAttributes});
      if (info->NextEntryOffset == 0) break;
      at += info->NextEntryOffset;
    }
  }
}

// Deletes what a folder holds except the entry named keep; true when all of it is gone.
bool removeContents(HANDLE folder, int depth, std::u16string_view keep = {}) {
  bool all = true;
  for (const Entry& e : listEntries(folder)) {
    if (e.name == u"." || e.name == u".." || (!keep.empty() && e.name == keep)) continue;
    EntryAction listed = entryActionFor(e.name, e.attributes, true);
    if (listed == EntryAction::Leave) {
      logError(u"leaving an entry with an unusable name");
      all = false;
      continue;
    }
    bool folderEntry = listed == EntryAction::EmptyThenRemove;
    UniqueHandle child =
        openRelative(folder, e.name,
                     DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES | (folderEntry ? FILE_LIST_DIRECTORY : 0),
                     ShareAll, FILE_OPEN, folderEntry ? FILE_DIRECTORY_FILE : 0);
    const char16_t* why = u"";
    // A folder swapped for a link since the listing shows as a link on its own handle.
    DWORD attributes = child ? (e.attributes | (attributesOf(child.get()) & AttributeReparsePoint)) : 0;
    EntryAction action = child ? entryActionFor(e.name, attributes, ownedAndPrivate(child.get(), false, &why))
                               : EntryAction::Leave;
    if (action == EntryAction::EmptyThenRemove) {
      logMessage(u"attempting to remove %s", e.name);
      if (depth < MaxCleanupDepth) removeContents(child.get(), depth + 1);
    } else if (action != EntryAction::Leave) {
      logMessage(u"attempting to delete %s", e.name);
    }
    if (action == EntryAction::Leave || !deleteByHandle(child.get())) {
      logMessage(u"could not remove %s (%d) %s", e.name, static_cast<int>(GetLastError()),
                 std::u16string(why));
      all = false;
    }
  }
  // A file something still holds open with delete sharing stays listed until it is closed; the
  // folder is empty only when nothing is listed any more.
  for (const Entry& e : listEntries(folder))
    if (e.name != u"." && e.name != u".." && e.name != keep) return false;
  return all;
}

// The account's parent folder, opened without following a link and checked; kept open for the
// process's life so that everything made or removed inside goes through this very folder.
struct Parent {
  std::u16string path;
  UniqueFileHandle handle;
};

Parent openParent(std::u16string base) {
  Parent p;
  while (!base.empty() && (base.back() == u'\\' || base.back() == u'/')) base.pop_back();
  if (base.empty() || account().sidText.empty()) return p;
  std::u16string path = base + u"\\" + launchParentName(account().sidText);
  bool lossy = false;
  wideToNarrow(path, &lossy);
  if (lossy) {
    logMessage(u"not using %s: the narrow file functions cannot name it", path);
    return p;
  }
  UniqueLocal descriptor = privateSecurity();
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
  if (!descriptor) return p;
  CreateDirectoryW(wptr(path), &security);  // it may stand already; the check below decides
  UniqueFileHandle h(CreateFileW(wptr(path), FolderAccess | FILE_ADD_SUBDIRECTORY, ShareAll, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr));
  const char16_t* why = u"it cannot be opened";
  DWORD attributes = h ? attributesOf(h.get()) : INVALID_FILE_ATTRIBUTES;
  if (h && (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & AttributeDirectory) ||
            (attributes & AttributeReparsePoint)))
    why = u"it is no plain folder";
  else if (h && ownedAndPrivate(h.get(), true, &why))
    return Parent{path, std::move(h)};
  logError(u"not using %s for launch folders: %s (%d)", path, std::u16string(why),
           static_cast<int>(GetLastError()));
  return p;
}

using GetTempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);

// For SYSTEM, the temp folder only SYSTEM may write (where Windows has one).
std::u16string systemOnlyTempPath() {
  auto get = reinterpret_cast<GetTempPath2Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
  std::wstring b(MAX_PATH + 1, L'\0');
  DWORD n = get ? get(static_cast<DWORD>(b.size()), b.data()) : 0;
  b.resize(n < b.size() ? n : 0);
  return asU(b);
}

Parent& launchParent() {
  static Parent parent = [] {
    Parent p = openParent(systemOnlyTempPath());
    return p.handle ? std::move(p) : openParent(getTempDirectory(false));
  }();
  return parent;
}

// This launch's folder and its marker, held for the process's life. The marker is opened
// without delete sharing: a folder whose marker can be opened for deletion is one whose launch
// has ended.
UniqueHandle OwnFolder;
UniqueHandle OwnMarker;

constexpr ACCESS_MASK MarkerProbeAccess = DELETE | FILE_READ_ATTRIBUTES;

std::u16string markerName() {
  return std::u16string(LaunchMarkerName.begin(), LaunchMarkerName.end());
}

void holdMarker() {
  LONG status = 0;
  OwnMarker = openRelative(OwnFolder.get(), markerName(), GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                           FILE_CREATE, FILE_NON_DIRECTORY_FILE, nullptr, &status);
  std::string own = utf16ToUtf8(getExecutablePathWide());
  DWORD wrote = 0;
  if (!OwnMarker ||
      !WriteFile(OwnMarker.get(), own.data(), static_cast<DWORD>(own.size()), &wrote, nullptr)) {
    logError(u"could not write the launch marker in %s (%x)", LauncherTempDirWide, static_cast<int>(status));
    raiseLaunchError(1009, std::string_view("7"));
  }
}

}  // namespace

void createLauncherTempDir() {
  Parent& parent = launchParent();
  UniqueLocal descriptor = privateSecurity();
  for (int attempt = 0; parent.handle && descriptor && attempt < FolderAttempts; ++attempt) {
    std::uint64_t random = 0;
    if (!systemRandom(random)) break;
    std::u16string name = launchFolderName(random);
    LONG status = 0;
    // FILE_CREATE: a folder of that name that already stands is never taken over. No DELETE is
    // held for the launch's life: the JVM and the application list and open this folder by path,
    // and an open that does not share deletion would fail.
    UniqueHandle folder =
        openRelative(parent.handle.get(), name, FolderAccess | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY,
                     ShareAll, FILE_CREATE, FILE_DIRECTORY_FILE, descriptor.get(), &status);
    if (!folder) {
      logMessage(u"Could not create dir (%x)", static_cast<int>(status));
      continue;
    }
    OwnFolder = std::move(folder);
    LauncherTempDirWide = parent.path + u"\\" + name;
    LauncherTempDir = wideToNarrow(LauncherTempDirWide);
    logMessage(u"Temp dir3: %s", LauncherTempDirWide);
    holdMarker();
    return;
  }
  if (!parent.handle) logError(u"no private folder for launch folders in the temp folder");
  LauncherTempDir.clear();
  LauncherTempDirWide.clear();
  raiseLaunchError(1009, std::string_view("7"));
}

std::u16string launchParentPath() {
  return launchParent().path;
}

void removeOwnLaunchFolder() {
  if (!OwnFolder) return;
  logMessage(u"emptying %s", LauncherTempDirWide);
  UniqueFileHandle folder(ReOpenFile(OwnFolder.get(), FolderAccess | DELETE, ShareAll,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  // The marker goes only when the folder can go too; otherwise it tells the next launch.
  if (removeContents(OwnFolder.get(), 0, markerName()) && folder && OwnMarker) {
    deleteByHandle(OwnMarker.get());
    OwnMarker.reset();
    deleteByHandle(folder.get());
  }
  OwnMarker.reset();
  OwnFolder.reset();
}

void removeEndedLaunchFolders() {
  Parent& parent = launchParent();
  if (!parent.handle) return;
  for (const Entry& e : listEntries(parent.handle.get())) {
    if (!maySweepFolder(e.name, e.attributes, true)) continue;
    UniqueHandle folder = openRelative(parent.handle.get(), e.name, FolderAccess | DELETE, ShareAll,
                                       FILE_OPEN, FILE_DIRECTORY_FILE);
    const char16_t* why = u"";
    if (!folder ||
        !maySweepFolder(e.name, e.attributes | (attributesOf(folder.get()) & AttributeReparsePoint),
                        ownedAndPrivate(folder.get(), false, &why)))
      continue;
    // A live launch holds its marker without delete sharing; a folder still being made has none.
    UniqueHandle marker = openRelative(folder.get(), markerName(), MarkerProbeAccess, ShareAll, FILE_OPEN,
                                       FILE_NON_DIRECTORY_FILE);
    if (!marker) continue;
    logMessage(u"removing the folder of an ended launch %s", e.name);
    if (removeContents(folder.get(), 1, markerName())) {
      deleteByHandle(marker.get());
      marker.reset();
      deleteByHandle(folder.get());
    }
  }
}

}  // namespace pelto
