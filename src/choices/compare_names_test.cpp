#include "choices/compare_names.h"

#include <gtest/gtest.h>

#include <string>

#include "choices/choice_list.h"
#include "path/path.h"

namespace {

struct Case {
  std::string a;
  std::string b;
  int expected;
};

TEST(CompareNames, Table) {
  const Case cases[] = {
      {"file9.txt", "file10.txt", -1},
      {"10track", "9track", -1},  // the rest is no stem: '1' < '9'
      {"a.txt", "a.bat", 0},      // nothing after the stems counts
      {"1.txt", "01.txt", 0},
      {"file.c", "file1.c", -1},
      {"Zeta", "alpha", -1},  // bytes: upper case first
      {"a", "ab", -1},
      {"a1b", "a01b", 1},
      {"", "", 0},
      {"file9a.txt", "file10a.txt", 1},
      {"r1.10.txt", "r1.9.txt", 0},
      {"file1", "file1.txt", 0},
      {".", "..", 0},
      {".profile", "0.txt", 0},
      {"readme", "read.me", 1},
      {"abc", "abc\xE9", 1},  // bytes above 0x7F sort before the end
      {"a.txt", "a.txt\xE9", 0},
      // Digit stems compare by exact value at any length.
      {"2147483648", "1", 1},
      {"4294967297.log", "1.log", 1},
      {"99999999999999999999", "100000000000000000000", -1},
      {"000000000000000000042.txt", "42", 0},
      {"x18446744073709551617", "x1", 1},
      // What a numeric stem is: digits up to the first '.' or the end, an
      // empty stem being 0; no letter, no sign.
      {"0042.txt", "42.bat", 0},
      {"0042.txt", "43", -1},
      {".hidden", "0", 0},
      {"", "00.x", 0},
      {"12a.txt", "12.txt", 1},
      {"-1", "1", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compare_names(c.a.c_str(), c.b.c_str()), c.expected)
        << '"' << c.a << "\" vs \"" << c.b << '"';
    EXPECT_EQ(compare_names(c.b.c_str(), c.a.c_str()), -c.expected)
        << '"' << c.b << "\" vs \"" << c.a << '"';
  }
}

// Pairs whose order depends on the folder part they share; '\\' and ':'
// separate only on Windows. Names without a shared folder part compare as
// in the table above.
struct FolderCase {
  const char* a;
  const char* b;
  int posix;
  int windows;
};

const FolderCase kFolderCases[] = {
    {"./opt9.txt", "./opt10.txt", -1, -1},
    {"../cfg/opt2.txt", "../cfg/opt10.txt", -1, -1},
    {"../cfg/opt1.txt", "../cfg/opt1.txt", 0, 0},
    {"1.5/b", "1.5/a", 1, 1},
    {"./a.txt", "./a.bat", 0, 0},
    {"d/10track", "d/9track", -1, -1},
    {"d/Zeta", "d/alpha", -1, -1},
    {".\\opt9.txt", ".\\opt10.txt", 0, -1},
    {"..\\x\\opt10", "..\\x\\opt9", 0, 1},
    {"c:opt9", "c:opt10", -1, -1},  // the stems of the whole names decide on POSIX
    {".:x9", ".:x10", 0, -1},
    {"dir/a", "dir2/a", -1, -1},  // no shared folder
    {"2/x", "10/x", 1, 1},        // no shared folder: the bytes decide, as ever
    // A name that is its own folder part: what follows it is empty.
    {"1.5/", "1.5/x", -1, -1},
    {"1.5/", "1.5/", 0, 0},
    {"dir/", "dir/0", 0, 0},
    {"1.5/", "1.5", 0, 0},
    {"dir/", "dir", 1, 1},
    // Separators at both ends.
    {"/1.5/", "/1.5/x", -1, -1},
    {"/", "/1", -1, -1},
    {"/", "", 1, 1},
    {"/a", "a", -1, -1},
    {"/9", "10", -1, -1},
    {"/x/10", "/x/9", 1, 1},
    {"//a", "/a", -1, -1},
    // One folder part begins the other name, or begins it as text only.
    {"1.5/b", "1.5/a/c", 1, 1},
    {"a/b/x", "a/bc/x", -1, -1},
    {"1.5/a/c", "1.5/ab/c", -1, -1},
    {"x/10", "x/10/", -1, -1},
    // Folder parts of one length that differ.
    {"1.5/b/9", "1.5/a/10", 1, 1},
    {"ab/9", "ac/10", -1, -1},
    // Equal folder parts of different names.
    {"d/1.5/b", "d/1.5/a", 1, 1},
    {"d/10", "d/9", 1, 1},
    // Windows separators, alone and mixed with '/'.
    {"1.5\\", "1.5\\x", 0, -1},
    {"\\1.5\\", "\\1.5\\x", 0, -1},
    {"c:1.5\\b", "c:1.5\\a", 0, 1},
    {"1.5\\b", "1.5/a", 0, 0},
    {"a\\x/9", "a/x\\10", 1, 1},
    {"c:", "c:0", 0, 0},
};

int expected_order(const FolderCase& c) { return is_separator('\\') ? c.windows : c.posix; }

TEST(CompareNames, NamesInOneFolder) {
  for (const auto& c : kFolderCases) {
    int expected = expected_order(c);
    EXPECT_EQ(compare_names(c.a, c.b), expected) << c.a << " vs " << c.b;
    EXPECT_EQ(compare_names(c.b, c.a), -expected) << c.b << " vs " << c.a;
  }
}

// The sort compares nodes, each with the folder part it was given when it
// was added; that must give what compare_names gives for the names alone,
// whether the node holds a copy of its name or the name itself.
void expect_nodes_agree(const std::string& a, const std::string& b) {
  ChoiceList list;
  add_choice(&list, a);
  const ChoiceNode& na = *list.head;
  add_choice(&list, b);
  const ChoiceNode& copied = *list.head;
  add_lasting_choice(&list, b.c_str());
  const ChoiceNode& lasting = *list.head;
  int expected = compare_names(na.name, copied.name);
  EXPECT_EQ(compare_names(na.name, na.folder_length, copied.name, copied.folder_length), expected)
      << '"' << a << "\" vs \"" << b << '"';
  EXPECT_EQ(compare_names(na.name, na.folder_length, lasting.name, lasting.folder_length), expected)
      << '"' << a << "\" vs \"" << b << "\", not copied";
}

TEST(CompareNames, NodesWithTheirFolderPartsAgree) {
  for (const auto& c : kFolderCases) {
    expect_nodes_agree(c.a, c.b);
    expect_nodes_agree(c.b, c.a);
  }
  // A copied name ends at its first zero byte, as compare_names sees it:
  // these are "a/" twice, not names in "a/\0b/".
  expect_nodes_agree(std::string("a/\0b/9", 6), std::string("a/\0b/10", 7));
}

TEST(CompareNames, LongDigitRunsStayLinear) {
  // Quadratic rescanning of a 200,000-digit run would take minutes.
  std::string a(200000, '7');
  std::string b = a;
  a += 'x';
  b += 'y';
  EXPECT_EQ(compare_names(a.c_str(), b.c_str()), -1);
}

}  // namespace
