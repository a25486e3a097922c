// copy_data on real files in a temporary folder, with the system's own
// facilities: holes, new content shorter and longer than what it is
// written over, and a source that ends while it is copied.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "copy/file_ops.h"
#include "copy/posix.h"

namespace {

constexpr off_t kMiB = off_t{1} << 20;

class Folder {
 public:
  Folder() {
    char name[] = "/tmp/pickcopy-data-XXXXXX";
    path_ = mkdtemp(name) != nullptr ? name : "";
  }
  ~Folder() {
    for (const char* name : {"in", "out"})
      unlink((path_ + "/" + name).c_str());
    rmdir(path_.c_str());
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes `data` at each of the offsets in `at`, then gives the file `size`.
void make(const std::string& path, std::initializer_list<std::pair<off_t, std::string>> at,
          off_t size) {
  int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  for (const auto& [offset, data] : at)
    ASSERT_EQ(pwrite(fd, data.data(), data.size(), offset), static_cast<ssize_t>(data.size()));
  ASSERT_EQ(ftruncate(fd, size), 0);
  close(fd);
}

std::string contents(const std::string& path) {
  std::string data;
  int fd = open(path.c_str(), O_RDONLY);
  char buffer[65536];
  for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;)
    data.append(buffer, static_cast<std::size_t>(n));
  if (fd >= 0)
    close(fd);
  return data;
}

off_t allocated(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_blocks * 512 : -1;
}

// True where the folder's file system keeps holes and tells of them.
bool keeps_holes(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  off_t hole = lseek(fd, 0, SEEK_HOLE);
  struct stat st;
  bool kept = fstat(fd, &st) == 0 && hole >= 0 && hole < st.st_size;
  close(fd);
  return kept;
}

// Told of the progress, and acting on it.
class OnProgress : public CopyProgress {
 public:
  explicit OnProgress(std::function<void()> act) : act_(std::move(act)) {}
  void advanced(std::uint64_t, std::uint64_t) override {
    if (act_)
      act_();
    act_ = nullptr;
  }

 private:
  std::function<void()> act_;
};

SysError copy(const std::string& from, const std::string& to, bool over_old,
              CopyProgress* progress = nullptr) {
  FilePtr in = adopt(open(from.c_str(), O_RDONLY));
  FilePtr out = adopt(open(to.c_str(), O_WRONLY | O_CREAT, 0644));
  return copy_data(*in, *out, over_old, progress);
}

const std::string kHead(4096, 'h'), kTail(4096, 't');

TEST(CopyData, Table) {
  // case, source, old target (empty: none), written over the old one
  struct Case {
    const char* what;
    std::function<void(const std::string&)> source;
    std::function<void(const std::string&)> target;
    bool over_old;
  };
  auto sparse = [](const std::string& p) { make(p, {{0, kHead}, {8 * kMiB, kTail}}, 9 * kMiB); };
  auto ends_in_hole = [](const std::string& p) { make(p, {{0, kHead}}, 3 * kMiB); };
  auto small = [](const std::string& p) { make(p, {{0, "new\n"}}, 4); };
  auto large = [](const std::string& p) { make(p, {{0, kHead}, {kMiB, kTail}}, kMiB + 4096); };
  // Over four chunks of the writing behind the copy: handed to the disk,
  // and waited for.
  auto chunks = [](const std::string& p) {
    make(p, {{0, kHead}, {9 * kMiB, kTail}, {18 * kMiB, kTail}, {27 * kMiB, kTail}}, 36 * kMiB);
  };
  const Case cases[] = {
      {"holes in a new file", sparse, nullptr, false},
      {"a file that ends in a hole", ends_in_hole, nullptr, false},
      {"holes over old data", sparse, large, true},
      {"shorter content over longer", small, large, true},
      {"longer content over shorter", large, small, true},
      {"holes over old data that has its own holes", sparse, sparse, true},
      {"a file of several chunks", chunks, nullptr, false},
      {"a file of several chunks over old data", chunks, large, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Folder f;
    c.source(f / "in");
    if (c.target)
      c.target(f / "out");
    ASSERT_FALSE(copy(f / "in", f / "out", c.over_old));
    EXPECT_EQ(contents(f / "out"), contents(f / "in"));
    // Over old data a hole stays one only where the system can punch one;
    // a new file keeps them wherever the file system does.
    if (!c.over_old && keeps_holes(f / "in")) {
      EXPECT_LE(allocated(f / "out"), allocated(f / "in") + 64 * 1024L) << "holes filled";
    }
  }
}

TEST(CopyData, SourceThatEndsWhileCopied) {
  // The source shrinks once its first piece is copied: the copy ends
  // where the source now ends, with nothing of its old length or of what
  // the target held before.
  for (bool over_old : {false, true}) {
    SCOPED_TRACE(over_old ? "over old data" : "a new file");
    Folder f;
    make(f / "in", {{0, kHead}, {8 * kMiB, kTail}}, 9 * kMiB);
    make(f / "out", {{0, std::string(kMiB, 'o')}}, over_old ? 10 * kMiB : 0);
    std::string in = f / "in";
    OnProgress shrink([&] { ASSERT_EQ(truncate(in.c_str(), 6000), 0); });
    ASSERT_FALSE(copy(f / "in", f / "out", over_old, &shrink));
    EXPECT_EQ(contents(f / "out"), contents(f / "in"));
  }
}

}  // namespace
