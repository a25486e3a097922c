// The forms of a Windows name: what the dialogue holds, what the system is
// given, and what a stream that is not a console carries.
#include "path/native_win32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(NativeNames, EveryWideStringComesBack) {
  // NTFS takes unpaired surrogates in names too.
  const std::wstring names[] = {L"plain.txt",        L"\x8868\\\x30bd.txt", L"\x03a9 \x00ce\x00a9",
                                L"\xd83d\xde00.txt", L"lone \xd800",        L"\xdc00 lone",
                                L"\xdbff\xdbff"};
  for (const std::wstring& name : names)
    EXPECT_EQ(wide_name(narrow_name(name)), name);
  EXPECT_NE(narrow_name(L"\x03a9"), narrow_name(L"\x00ce\x00a9"));
  // A separator is a byte of its own: no character's bytes hold it.
  EXPECT_EQ(narrow_name(L"\x8868\\\x30bd").find('\\'), 3u);
}

TEST(NativeNames, CodePageFormIsEachComponents) {
  // ASCII is the same in every ANSI code page; an emoji is in none, and a
  // lone surrogate is written as U+FFFD.
  EXPECT_EQ(code_page_form(narrow_name(L"d/a.txt")), "d/a.txt");
  EXPECT_EQ(code_page_form(narrow_name(L"d\\\xd83d\xde00:\xd800")),
            "d\\\xf0\x9f\x98\x80:\xef\xbf\xbd");
}

TEST(NativeNames, FoundNamesAreOpenedAsFound) {
  std::string found = found_name(narrow_name(L"sub\\"), L"conf. ");
  EXPECT_EQ(code_page_form(found), "sub\\conf. ");
  std::wstring path = system_path(found);
  const std::wstring tail = L"\\sub\\conf. ";
  EXPECT_EQ(path.compare(0, 4, L"\\\\?\\"), 0);
  EXPECT_EQ(path.compare(path.size() - tail.size(), tail.size(), tail), 0);
  // Typed, the same name is the system's to read; so are "." and "..".
  EXPECT_EQ(system_path(narrow_name(L"sub\\conf. ")), L"sub\\conf. ");
  EXPECT_EQ(system_path(found_name(narrow_name(L"sub\\"), L"..")), L"sub\\..");
  std::wstring bare = system_path(found_name("", L"a."));
  EXPECT_EQ(bare.substr(bare.size() - 3), L"\\a.");
}

}  // namespace
