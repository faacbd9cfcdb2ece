// The shipped launcher.exe as Windows reads it: its version resource and application manifest,
// and the manifest's effect on a process that carries it (this test program links the same
// resources).
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.

#include <string>

#include "tests/win32/test_paths.h"

namespace {

std::wstring Utf8ToWide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::wstring ShippedLauncher() { return Utf8ToWide(win32test::HelperProgram(LAUNCHER_SHIPPED_EXE_RELATIVE)); }

// The whole version block of a file; empty when it has none.
std::string VersionBlock(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  std::string block(size, '\0');
  if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return {};
  return block;
}

// A string of the Chinese (PRC), Unicode table; empty when missing.
std::wstring VersionString(std::string& block, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
  if (!VerQueryValueW(block.data(), key.c_str(), &value, &length) || length == 0) return {};
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(ShippedExecutable, VersionResourceCarriesTheBuildsVersionAndTheStudiosNames) {
  std::string block = VersionBlock(ShippedLauncher());
  ASSERT_FALSE(block.empty()) << "launcher.exe has no version resource";
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, (DWORD{LAUNCHER_VERSION_MAJOR} << 16) | LAUNCHER_VERSION_MINOR);
  EXPECT_EQ(fixed->dwFileVersionLS, (DWORD{LAUNCHER_VERSION_PATCH} << 16) | LAUNCHER_VERSION_BUILD);
  EXPECT_EQ(VersionString(block, L"FileVersion"), Utf8ToWide(LAUNCHER_FILE_VERSION_TEXT));
  EXPECT_EQ(VersionString(block, L"ProductName"), Utf8ToWide(LAUNCHER_PRODUCT_NAME_TEXT));
  EXPECT_EQ(VersionString(block, L"CompanyName"), Utf8ToWide(LAUNCHER_COMPANY_NAME_TEXT));
  EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"launcher.exe");
}

TEST(ShippedExecutable, ManifestAsksForNoElevationAndCommonControlsSix) {
  const HMODULE image =
      LoadLibraryExW(ShippedLauncher().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr) << "launcher.exe cannot be opened, error " << GetLastError();
  // The loader reads a process's manifest only from id 1 (CREATEPROCESS_MANIFEST_RESOURCE_ID).
  const HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr) << "no manifest of id 1";
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
  const std::string manifest(bytes, SizeofResource(image, found));
  FreeLibrary(image);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(manifest.find(">unaware</dpiAwareness>"), std::string::npos);
}

// The manifest's dependency is what redirects comctl32.dll to the side-by-side version 6; without
// it the process's activation context has no entry for the DLL and the loader hands out version 5.
TEST(ShippedExecutable, ProcessWithTheManifestIsRedirectedToCommonControlsSix) {
  ACTCTX_SECTION_KEYED_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll", &data))
      << "error " << GetLastError();
  const HMODULE controls = LoadLibraryW(L"comctl32.dll");
  ASSERT_NE(controls, nullptr);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(controls, path, MAX_PATH);
  std::wstring lower(path);
  for (auto& c : lower) c = static_cast<wchar_t>(towlower(c));
  EXPECT_NE(lower.find(L"common-controls"), std::wstring::npos)
      << "loaded from " << std::string(lower.begin(), lower.end());
}

}  // namespace
