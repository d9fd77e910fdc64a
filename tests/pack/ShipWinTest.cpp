// The packed example as Windows reads it: version strings and numbers, icon and manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<unsigned char> versionBlock() {
  DWORD ignored = 0, size = GetFileVersionInfoSizeW(PELTO_SHIP_EXE, &ignored);
  std::vector<unsigned char> block(size);
  if (size == 0 || !GetFileVersionInfoW(PELTO_SHIP_EXE, 0, size, block.data())) block.clear();
  return block;
}

TEST(ShipWinTest, VersionStringsAreTheConfigured) {
  std::vector<unsigned char> block = versionBlock();
  ASSERT_FALSE(block.empty()) << GetLastError();
  struct Row {
    const wchar_t* name;
    const wchar_t* value;
  };
  for (Row row : {Row{L"FileVersion", L"1.2.3.4"}, Row{L"ProductVersion", L"1.2.3"},
                  Row{L"ProductName", L"Hello Service"}, Row{L"CompanyName", L"Example Ltd"},
                  Row{L"LegalCopyright", L"\u00a9 2026 Example Ltd"},
                  Row{L"FileDescription", L"Says hello from Java"}}) {
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + row.name;
    wchar_t* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
        << path;
    EXPECT_EQ(std::wstring(value), row.value) << path;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00030004u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010002u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00030000u);
}

TEST(ShipWinTest, IconLoadsAndManifestIsFound) {
  HMODULE image =
      LoadLibraryExW(PELTO_SHIP_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr) << GetLastError();
  HANDLE icon = LoadImageW(image, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, 0);
  EXPECT_NE(icon, nullptr) << GetLastError();
  if (icon) DestroyIcon(static_cast<HICON>(icon));
  HRSRC manifest = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(manifest, nullptr);
  const char* text = static_cast<const char*>(LockResource(LoadResource(image, manifest)));
  std::string xml(text, SizeofResource(image, manifest));
  EXPECT_NE(xml.find("level=\"asInvoker\""), std::string::npos) << xml;
  EXPECT_NE(xml.find(">true</longPathAware>"), std::string::npos) << xml;
  FreeLibrary(image);
}

}  // namespace
