// The version record that Windows shows for quorvix-scan and quorvix-audit.
#include <windows.h>
// windows.h must precede winver.h.
#include <winver.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring StringValue(const std::vector<char>& record, const wchar_t* path) {
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(record.data(), path, &value, &length) || value == nullptr) return L"<none>";
  return std::wstring(static_cast<const wchar_t*>(value));
}

void ExpectRecord(const std::wstring& path, const std::wstring& name) {
  ::DWORD ignored = 0;
  const ::DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u) << "no version record";
  std::vector<char> record(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, record.data()));

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(record.data(), L"\\", &value, &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);  // 1.02
  EXPECT_EQ(fixed->dwFileVersionLS, 19u);          // .0019
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

  ASSERT_TRUE(VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  const auto* translation = static_cast<const WORD*>(value);
  EXPECT_EQ(translation[0], 0x0409);  // US English
  EXPECT_EQ(translation[1], 0x04B0);  // Unicode

  EXPECT_EQ(StringValue(record, L"\\StringFileInfo\\040904B0\\FileVersion"), L"1.02.0019");
  EXPECT_EQ(StringValue(record, L"\\StringFileInfo\\040904B0\\ProductVersion"), L"1.02.0019");
  EXPECT_EQ(StringValue(record, L"\\StringFileInfo\\040904B0\\InternalName"), name);
  EXPECT_EQ(StringValue(record, L"\\StringFileInfo\\040904B0\\OriginalFilename"), name + L".exe");
}

std::wstring Path(const char* path) {
  return std::wstring(path, path + std::char_traits<char>::length(path));
}

TEST(VersionRecord, NamesTheProgramAndItsVersionInUsEnglish) {
  ExpectRecord(Path(QUORVIX_SCAN_PATH), L"quorvix-scan");
  ExpectRecord(Path(QUORVIX_AUDIT_PATH), L"quorvix-audit");
}

}  // namespace
