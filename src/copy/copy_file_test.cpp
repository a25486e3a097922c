// The copy's decisions, tested against a scripted stand-in for the file
// operations of file_ops.h, linked into the unit tests in place of the real
// ones: files kept in memory, in which any operation can be made to fail
// with any code. So every decision and message of copy_file.cpp is tested
// in every build, Windows included, beside the real systems' own tests.
#include "copy/copy_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "copy/file_ops.h"
#include "path/path.h"

namespace {

// The stand-in system's own codes.
enum Code : int {
  kDenied = 1,
  kBusy,
  kCrossDevice,
  kIo,
  kNoSpace,
  kExists,
  kMissing,
  kIsFolder,
  kTooLarge,
  kNoNewFiles
};

struct Node {
  std::string data;
  unsigned mode = 0644;
  bool folder = false;
  bool regular = true;
  bool writable = true;
  std::string link;   // a symbolic link to this path
  std::string inode;  // a hard link of this path's file; empty: a file of its own
};

struct Open {
  std::string path;  // empty while unnamed
  std::string data;  // an unnamed file's content
  unsigned mode = 0;
};

struct Failure {
  int nth;  // the nth call fails; 0: every call
  int code;
  bool in_source = false;
};

// The files and what is to fail; one for each test case.
struct World {
  std::map<std::string, Node> files;
  std::map<std::string, Failure> failures;
  std::map<std::string, int> calls;
  std::vector<std::string> log;
  std::map<std::intptr_t, Open> open;
  std::intptr_t next_handle = 10;
  bool unnamed_files = true;
  int changed_from = 0;         // from this hold of the target on, its name leads elsewhere
  int source_changed_from = 0;  // the same for the chosen file's holds
  std::vector<std::string> shown = {"s"};  // the menu's names; the first is chosen
  const char* registered = nullptr;        // the name the signals would remove
  int holds = 0;                           // signals held, less released
  bool in_steps = false;  // the replace sets the old target aside first, as Windows'
  std::string aside;      // the names the last replace was given
  std::string kept;
  std::function<void(World&)> before_replace;  // what another program does just then

  SysError call(const std::string& operation) {
    log.push_back(operation);
    int count = ++calls[operation];
    auto f = failures.find(operation);
    if (f == failures.end() || (f->second.nth != 0 && f->second.nth != count))
      return {};
    SysError err(f->second.code);
    err.in_source = f->second.in_source;
    return err;
  }

  bool has_folder_of(const std::string& path) {
    std::string_view folder = std::string_view(path).substr(0, folder_part_length(path));
    if (folder.empty())
      return true;
    folder.remove_suffix(1);
    auto node = files.find(std::string(folder));
    return node != files.end() && node->second.folder;
  }

  FilePtr adopt(Open file) {
    std::intptr_t handle = next_handle++;
    open[handle] = std::move(file);
    return FilePtr(new File{handle});
  }

  Open& of(File& file) { return open.at(file.handle); }

  // The content an open file holds.
  std::string& data(File& file) {
    Open& o = of(file);
    return o.path.empty() ? o.data : files[o.path].data;
  }

  bool used(const std::string& operation) const { return calls.count(operation) != 0; }

  // Which file `path` is: hard links are one.
  std::string inode_of(const std::string& path) {
    auto node = files.find(path);
    return node == files.end() || node->second.inode.empty() ? path : node->second.inode;
  }
};

World* g_world = nullptr;

World& world() { return *g_world; }

}  // namespace

// --- The stand-in operations -----------------------------------------

std::string describe_error(SysError err) {
  // Several codes a row, as a table.
  // clang-format off
  static const std::map<int, std::string> words = {
      {kNotRegularFile, "Not a regular file"}, {kNoFacility, "no such facility"},
      {kTargetChanged, "changed"}, {kDanglingLink, "dangling"},
      {kDenied, "denied"},   {kBusy, "busy"},         {kCrossDevice, "cross-device"},
      {kIo, "i/o error"},    {kNoSpace, "no space"},   {kExists, "exists"},
      {kMissing, "missing"}, {kIsFolder, "a folder"}, {kTooLarge, "too large"},
      {kNoNewFiles, "no new files"}};
  // clang-format on
  auto word = words.find(err.code);
  return word != words.end() ? word->second : "error " + std::to_string(err.code);
}

bool refuses_replace(SysError err) {
  return err.code == kDenied || err.code == kBusy || err.code == kCrossDevice;
}

bool unsupported(SysError err) { return err.code == kNoFacility; }

bool name_taken(SysError err) { return err.code == kExists; }

bool out_of_room(SysError err) { return err.code == kNoSpace; }

bool makes_no_files(SysError err) { return err.code == kNoNewFiles; }

bool names_no_file(SysError err) { return err.code == kMissing || err.code == kIsFolder; }

SysError check_room(File&, File&) { return world().call("check_room"); }

void FileCloser::operator()(File* file) const {
  if (g_world != nullptr)
    g_world->open.erase(file->handle);
  delete file;
}

namespace {

void split(Held* held) {
  std::size_t folder_length = folder_part_length(held->path);
  held->folder = held->path.substr(0, folder_length);
  held->name = held->path.substr(folder_length);
}

}  // namespace

SysError hold_source(const std::string& path, Held* held, unsigned* mode) {
  *held = Held();
  if (SysError err = world().call("hold_source"))
    return err;
  auto node = world().files.find(path);
  held->through_link = node != world().files.end() && !node->second.link.empty();
  held->path = held->through_link ? node->second.link : path;
  split(held);
  node = world().files.find(held->path);
  if (node == world().files.end())
    return kMissing;
  if (node->second.folder)
    return kIsFolder;
  if (!node->second.regular)
    return kNotRegularFile;
  held->status.exists = held->status.regular = true;
  held->file = world().adopt(Open{held->path, {}, 0});
  if (mode != nullptr)
    *mode = node->second.mode;
  int changed_from = world().source_changed_from;
  if (changed_from != 0 && world().calls["hold_source"] >= changed_from)
    held->name += "~";  // another file under the name, as far as the copy can tell
  return {};
}

SysError hold_target(const std::string& path, Held* held) {
  *held = Held();
  if (SysError err = world().call("hold_target"))
    return err;
  auto node = world().files.find(path);
  held->path = node != world().files.end() && !node->second.link.empty() ? node->second.link : path;
  split(held);
  bool through_link = held->path != path;
  held->through_link = through_link;
  if (!world().has_folder_of(held->path)) {
    SysError err(kMissing);
    err.in_folder = true;
    return err;
  }
  node = world().files.find(held->path);
  if (node != world().files.end()) {
    held->status.exists = true;
    held->status.folder = node->second.folder;
    held->status.regular = !node->second.folder && node->second.regular;
  }
  if (through_link && !held->status.exists)
    return kDanglingLink;
  if (held->status.regular)
    held->file = world().adopt(Open{held->path, {}, 0});
  int changed_from = world().changed_from;
  if (changed_from != 0 && world().calls["hold_target"] >= changed_from)
    held->name += "~";  // another file under the name, as far as the copy can tell
  return {};
}

SysError hold_in_folder(const Held& folder, const std::string& name, Held* held) {
  SysError err = hold_target(folder.path + preferred_separator() + name, held);
  held->through_link = held->through_link || folder.through_link;
  return err;
}

bool same_target(const Held& held, const Held& again) {
  return held.path == again.path && held.name == again.name;
}

bool same_place(const Held& a, const Held& b) { return a.folder == b.folder && a.name == b.name; }

bool same_file(File& file, const Held& target) {
  return target.file && world().inode_of(world().of(file).path) == world().inode_of(target.path);
}

SysError check_writable(const Held& target) {
  if (SysError err = world().call("check_writable"))
    return err;
  return world().files.at(target.path).writable ? SysError() : SysError(kDenied);
}

SysError open_unnamed(const Held&, unsigned mode, FilePtr* file) {
  if (SysError err = world().call("open_unnamed"))
    return err;
  if (!world().unnamed_files)
    return kNoFacility;
  *file = world().adopt(Open{{}, {}, mode});
  return {};
}

SysError link_unnamed(File& file, const Held& target, const std::string& name) {
  if (SysError err = world().call("link_unnamed"))
    return err;
  std::string path = target.folder + name;
  if (world().files.count(path) != 0)
    return kExists;
  Open& o = world().of(file);
  Node node;
  node.data = o.data;
  node.mode = o.mode;
  world().files[path] = node;
  o.path = path;
  return {};
}

SysError create_new(const Held& target, const std::string& name, unsigned mode, FilePtr* file) {
  if (SysError err = world().call("create_new"))
    return err;
  std::string path = target.folder + name;
  if (world().files.count(path) != 0)
    return kExists;
  Node node;
  node.mode = mode;
  world().files[path] = node;
  *file = world().adopt(Open{path, {}, mode});
  return {};
}

SysError keep_temporary(File&, bool) { return world().call("keep_temporary"); }

SysError ready_new_file(const Held&, File&) { return world().call("ready_new_file"); }

SysError ready_in_place(const Held&, File&) { return world().call("ready_in_place"); }

SysError carry_identity(const Held& target, File& out) {
  if (SysError err = world().call("carry_identity"))
    return err;
  Open& o = world().of(out);
  o.mode = world().files.at(target.path).mode;
  if (!o.path.empty())
    world().files[o.path].mode = o.mode;
  return {};
}

SysError copy_data(File& in, File& out, bool, CopyProgress*) {
  if (SysError err = world().call("copy_data"))
    return err;
  world().data(out) = world().files.at(world().of(in).path).data;
  return {};
}

SysError flush_file(File&) { return world().call("flush_file"); }

SysError close_file(FilePtr) { return world().call("close_file"); }

SysError replace_file(const Held& target, const std::string& name, const std::string& aside) {
  World& w = world();
  w.aside = aside;
  w.kept = name;
  if (w.before_replace)
    w.before_replace(w);
  SysError err = w.call("replace_file");
  if (!target.status.exists) {
    if (!err && w.files.count(target.path) != 0)
      err = kExists;  // a new target replaces nothing
  } else if (w.in_steps) {
    w.files[target.folder + aside] = w.files.at(target.path);
    w.files.erase(target.path);
    err.half_done = static_cast<bool>(err);  // and nothing could be put right
  }
  if (err)
    return err;
  std::string from = target.folder + name;
  w.files[target.path] = w.files.at(from);
  w.files.erase(from);
  return {};
}

SysError remove_aside(const Held& target, const std::string& aside) {
  if (SysError err = world().call("remove_aside"))
    return err;
  world().files.erase(target.folder + aside);
  return {};
}

void remove_file(const Held& target, const std::string& name) {
  world().log.push_back("remove_file");
  world().files.erase(target.folder + name);
}

SysError sync_folder(const Held&) { return world().call("sync_folder"); }

SysError open_in_place(const Held& target, FilePtr* file) {
  if (SysError err = world().call("open_in_place"))
    return err;
  *file = world().adopt(Open{target.path, {}, 0});
  return {};
}

struct ExitCleanup::Saved {};
ExitCleanup::ExitCleanup() = default;
ExitCleanup::~ExitCleanup() { world().registered = nullptr; }
void ExitCleanup::remove_on_exit(const Held&, const char* name) {
  EXPECT_GT(world().holds, 0) << "a name registered with the signals free";
  world().registered = name;
}
void ExitCleanup::hold() { ++world().holds; }
void ExitCleanup::release() { --world().holds; }

// --- The decision table ----------------------------------------------

namespace {

struct Case {
  const char* what;
  std::string target;
  std::function<void(World&)> set_up;
  std::string failed;   // the file the failure names; empty for success
  std::string reason;   // what the message says after the file
  std::string content;  // of the target afterwards
  bool in_place;        // written in place, not replaced
  // Kept beside the target: the old content under the name it was set
  // aside as ({aside} in the reason), the new under its own ({kept}).
  bool aside_kept = false;
  bool new_kept = false;
};

// The source "s" holds "new" with bits 0755; the target "t" holds "old"
// with bits 0640, in a world with the folders "d" and "out".
Node file(const std::string& data, unsigned mode) {
  Node node;
  node.data = data;
  node.mode = mode;
  return node;
}

// Adds the file `name` to the menu's names, after the chosen one.
Node& add_choice(World& w, const std::string& name, const std::string& data) {
  w.shown.push_back(name);
  return w.files[name] = file(data, 0644);
}

World make_world() {
  World w;
  w.files["s"] = file("new", 0755);
  w.files["t"] = file("old", 0640);
  w.files["d"].folder = true;
  w.files["out"].folder = true;
  return w;
}

void fail(World& w, const std::string& operation, int code, int nth = 0, bool in_source = false) {
  w.failures[operation] = Failure{nth, code, in_source};
}

std::string in_folder(const std::string& folder, const std::string& name) {
  return folder + preferred_separator() + name;
}

// The copy as the dialogue runs it: each of the world's shown names held
// as the menu holds it, and the first one chosen.
std::optional<CopyFailure> copy(const std::string& target) {
  std::vector<Choice> shown;
  for (const std::string& name : world().shown) {
    Choice& entry = shown.emplace_back();
    entry.name = name;
    entry.error = hold_source(name, &entry.held);
  }
  return copy_file(shown, 0, target);
}

const std::string kBeside = "replacing it needs room for the new content beside the old";
const std::string kNoRoomBeside = "no space; the target is unchanged: " + kBeside;
const std::string kChangedAfterMenu = "changed after the menu was shown; nothing was copied";
const std::string kLeadsToV = "leads to v, another of the choices; nothing was copied";
const std::string kFlushFailed =
    "the new content is in place, but its folder could not be flushed to disk: i/o error";

TEST(CopyFile, Decisions) {
  const Case cases[] = {
      {"an existing target is replaced", "t", nullptr, "", "", "new", false},
      {"a new target", "d/t", nullptr, "", "", "new", false},
      {"the rename is refused across devices: in place", "t",
       [](World& w) { fail(w, "replace_file", kCrossDevice); }, "", "", "new", true},
      {"the target is a mount point: in place", "t",
       [](World& w) { fail(w, "replace_file", kBusy); }, "", "", "new", true},
      {"the identity cannot be carried: in place", "t",
       [](World& w) { fail(w, "carry_identity", kIo); }, "", "", "new", true},
      {"the new file cannot take the flags it takes while empty: in place", "t",
       [](World& w) { fail(w, "ready_new_file", kIo); }, "", "", "new", true},
      {"a new target takes nothing of a target", "d/t",
       [](World& w) { fail(w, "ready_new_file", kIo); }, "", "", "new", false},
      {"in place, the set-ID bits cannot be cleared: nothing is written", "t",
       [](World& w) {
         fail(w, "replace_file", kCrossDevice);
         fail(w, "ready_in_place", kIo);
       },
       "t", "i/o error", "old", true},
      {"the folder refuses the temporary file: in place", "t",
       [](World& w) { fail(w, "open_unnamed", kDenied); }, "", "", "new", true},
      {"the folder refuses the name: in place", "t",
       [](World& w) { fail(w, "link_unnamed", kDenied); }, "", "", "new", true},
      {"the folder refuses a new target's file: the folder is named", "d/t",
       [](World& w) { fail(w, "open_unnamed", kDenied); }, "d/", "denied", "", false},
      {"a folder that is not there is named", "missing/t", nullptr, "missing/", "missing", "",
       false},
      {"the folder of the current one is named '.'", "t",
       [](World& w) { fail(w, "open_unnamed", kIo); }, ".", "i/o error", "old", false},
      {"the temporary file cannot be named", "t", [](World& w) { fail(w, "link_unnamed", kIo); },
       ".", "i/o error", "old", false},
      {"a failure after the rename", "t", [](World& w) { fail(w, "sync_folder", kIo); }, "t",
       kFlushFailed, "new", false},
      {"the target is the source: nothing is done", "s", nullptr, "", "", "new", false},
      {"a read-only target is refused", "t", [](World& w) { w.files["t"].writable = false; }, "t",
       "denied", "old", false},
      {"a failure in reading names the source", "t",
       [](World& w) { fail(w, "copy_data", kIo, 0, true); }, "s", "i/o error", "old", false},
      {"a failure in writing names the target", "t", [](World& w) { fail(w, "copy_data", kIo); },
       "t", "i/o error", "old", false},
      {"no room for the temporary file: the target is unchanged", "t",
       [](World& w) { fail(w, "copy_data", kNoSpace); }, "t", kNoRoomBeside, "old", false},
      {"no room to name it", "t", [](World& w) { fail(w, "link_unnamed", kNoSpace); }, ".",
       "no space; the target is unchanged: " + kBeside, "old", false},
      {"in place, no room to write over the target: it is not begun", "t",
       [](World& w) {
         fail(w, "replace_file", kCrossDevice);
         fail(w, "check_room", kNoSpace);
       },
       "t", "no space; the target is unchanged: the new content would not fit in writing over it",
       "old", true},
      {"in place, over the file-size limit: it is not begun", "t",
       [](World& w) {
         fail(w, "replace_file", kCrossDevice);
         fail(w, "check_room", kTooLarge);
       },
       "t", "too large; the target is unchanged: the new content would not fit in writing over it",
       "old", true},
      {"in place, the disk runs out after all: no claim", "t",
       [](World& w) {
         fail(w, "replace_file", kCrossDevice);
         fail(w, "copy_data", kNoSpace, 2);
       },
       "t", "no space", "old", true},
      {"in place, a failure in reading names the source", "t",
       [](World& w) {
         fail(w, "replace_file", kCrossDevice);
         fail(w, "copy_data", kIo, 2, true);
       },
       "s", "i/o error", "old", true},
      {"in place, and the target will not open", "t",
       [](World& w) {
         fail(w, "replace_file", kCrossDevice);
         fail(w, "open_in_place", kDenied);
       },
       "t", "denied", "old", true},
      {"a flush that fails", "t", [](World& w) { fail(w, "flush_file", kIo); }, "t", "i/o error",
       "old", false},
      {"a close that fails", "t", [](World& w) { fail(w, "close_file", kIo, 1); }, "t", "i/o error",
       "old", false},
      {"a rename that fails otherwise", "t", [](World& w) { fail(w, "replace_file", kIo); }, "t",
       "i/o error", "old", false},
      {"a new target is never written in place", "d/t",
       [](World& w) { fail(w, "replace_file", kCrossDevice); }, "d/t", "cross-device", "", false},
      {"no unnamed files: a named one", "t", [](World& w) { w.unnamed_files = false; }, "", "",
       "new", false},
      {"a name already taken: the next one", "t",
       [](World& w) {
         w.unnamed_files = false;
         fail(w, "create_new", kExists, 1);
       },
       "", "", "new", false},
      {"a named file refused by the folder: in place", "t",
       [](World& w) {
         w.unnamed_files = false;
         fail(w, "create_new", kDenied);
       },
       "", "", "new", true},
      {"a named file that cannot be kept", "t",
       [](World& w) {
         w.unnamed_files = false;
         fail(w, "keep_temporary", kIo);
       },
       ".", "i/o error", "old", false},
      {"a named file, and a flush that fails", "t",
       [](World& w) {
         w.unnamed_files = false;
         fail(w, "flush_file", kIo);
       },
       "t", "i/o error", "old", false},
      {"a target that is not a regular file", "t", [](World& w) { w.files["t"].regular = false; },
       "t", "Not a regular file", "old", false},
      {"a source that is not a regular file", "t", [](World& w) { w.files["s"].regular = false; },
       "s", "Not a regular file", "old", false},
      {"a source that is a folder", "t", [](World& w) { w.files["s"].folder = true; }, "s",
       "a folder", "old", false},
      {"no room for a new target's file: no target is made", "d/t",
       [](World& w) { fail(w, "copy_data", kNoSpace); }, "d/t", "no space; the target was not made",
       "", false},
      {"a folder that takes no new files: in place", "t",
       [](World& w) { fail(w, "open_unnamed", kNoNewFiles); }, "", "", "new", true},
      {"a folder that takes no new files, and a new target: the target is named", "d/t",
       [](World& w) { fail(w, "open_unnamed", kNoNewFiles); }, "d/t", "no new files", "", false},
      {"the target changed before the rename: nothing is replaced", "t",
       [](World& w) { w.changed_from = 2; }, "t", "changed", "old", false},
      {"the target changed before the write in place: nothing is written", "t",
       [](World& w) {
         fail(w, "replace_file", kCrossDevice);
         w.changed_from = 3;
       },
       "t", "changed", "old", false},
      {"a new target that came to be during the copy is left alone", "d/t",
       [](World& w) { w.changed_from = 2; }, "d/t", "changed", "", false},
      {"a link that leads nowhere is refused", "dangling",
       [](World& w) { w.files["dangling"].link = "d/nothing"; }, "dangling", "dangling", "", false},
      {"a link into a folder that is not there names that folder", "dangling",
       [](World& w) { w.files["dangling"].link = "gone/t"; }, "gone/", "missing", "", false},
      {"the chosen name leads elsewhere after the menu: nothing is copied", "t",
       [](World& w) { w.source_changed_from = 2; }, "s", kChangedAfterMenu, "old", false},
      {"a chosen file swapped while the menu held it", "t",
       [](World& w) { fail(w, "hold_source", kTargetChanged, 1); }, "s", kChangedAfterMenu, "old",
       false},
      {"a chosen file the menu could not hold: its error, and no new open", "t",
       [](World& w) { fail(w, "hold_source", kDenied, 1); }, "s", "denied", "old", false},
      {"a link to another of the choices is refused", "t",
       [](World& w) {
         add_choice(w, "v", "variant");
         w.files["t"].link = "v";
       },
       "t", kLeadsToV, "old", false},
      {"a link to the chosen file is left as it is", "t",
       [](World& w) {
         add_choice(w, "v", "variant");
         w.files["t"].link = "s";
       },
       "", "", "old", false},
      {"the live file among the choices is replaced", "t", [](World& w) { w.shown.push_back("t"); },
       "", "", "new", false},
      {"a target hard-linked to a choice gets a new file", "t",
       [](World& w) { add_choice(w, "v", "old").inode = "t"; }, "", "", "new", false},
      {"in place, a target hard-linked to a choice is refused", "t",
       [](World& w) {
         add_choice(w, "v", "old").inode = "t";
         fail(w, "replace_file", kCrossDevice);
       },
       "t", kLeadsToV, "old", false},
      {"in place, the live file among the choices is written", "t",
       [](World& w) {
         w.shown.push_back("t");
         fail(w, "replace_file", kCrossDevice);
       },
       "", "", "new", true},
      {"a file that takes a new target's name meanwhile is not replaced", "d/t",
       [](World& w) { w.before_replace = [](World& w) { w.files["d/t"] = file("theirs", 0644); }; },
       "d/t", "changed", "theirs", false},
      {"a replace in steps sets the old target aside and removes it", "t",
       [](World& w) { w.in_steps = true; }, "", "", "new", false},
      {"a replace in steps stopped half-way keeps both contents", "t",
       [](World& w) {
         w.in_steps = true;
         fail(w, "replace_file", kIo);
       },
       "t", "i/o error; the old content is kept beside it as {aside} and the new content as {kept}",
       "", false, true, true},
      {"an old target that cannot be removed from aside is named", "t",
       [](World& w) {
         w.in_steps = true;
         fail(w, "remove_aside", kIo);
       },
       "t",
       "the new content is in place, but the old content is left beside it as {aside}: i/o error",
       "new", false, true},
  };
  for (const Case& c : cases) {
    World w = make_world();
    if (c.set_up)
      c.set_up(w);
    std::set<std::string> before;
    std::map<std::string, std::string> data_before;
    for (const auto& file : w.files) {
      before.insert(file.first);
      data_before[file.first] = file.second.data;
    }
    g_world = &w;
    std::optional<CopyFailure> failure = copy(c.target);
    g_world = nullptr;

    SCOPED_TRACE(c.what);
    std::string reason = c.reason;
    const std::pair<std::string, std::string> names[] = {{"{aside}", w.aside}, {"{kept}", w.kept}};
    for (const auto& [field, name] : names) {
      std::size_t at = reason.find(field);
      if (at != std::string::npos)
        reason.replace(at, field.size(), name);
    }
    if (c.failed.empty()) {
      EXPECT_FALSE(failure) << failure->file << ": " << failure->reason;
    } else {
      EXPECT_TRUE(failure);
      if (failure) {
        EXPECT_EQ(failure->file, c.failed);
        EXPECT_EQ(failure->reason + failure->other + failure->after, reason);
      }
    }
    // A failure changes no file but the target; a success no other file
    // than the one the target's link leads to.
    std::string link = w.files.count(c.target) != 0 ? w.files.at(c.target).link : "";
    for (const auto& file : data_before) {
      if (file.first != c.target && (failure || file.first != link)) {
        EXPECT_EQ(w.files.count(file.first) != 0 ? w.files.at(file.first).data : "-", file.second)
            << file.first;
      }
    }
    auto target = w.files.find(c.target);
    EXPECT_EQ(target != w.files.end() ? target->second.data : "", c.content);
    EXPECT_EQ(w.used("open_in_place"), c.in_place);
    // No temporary file is left, whatever happened, but the contents a
    // replace could not put right.
    std::set<std::string> after;
    for (const auto& file : w.files)
      after.insert(file.first);
    after.erase(c.target);
    before.erase(c.target);
    if (c.aside_kept) {
      EXPECT_EQ(w.files[w.aside].data, "old");
      before.insert(w.aside);
    }
    if (c.new_kept) {
      EXPECT_EQ(w.files[w.kept].data, "new");
      before.insert(w.kept);
    }
    EXPECT_EQ(after, before);
    EXPECT_TRUE(w.open.empty()) << "a file left open";
    EXPECT_EQ(w.holds, 0);
  }
}

TEST(CopyFile, IdentityOfTheNewFile) {
  World w = make_world();
  g_world = &w;
  EXPECT_FALSE(copy("t"));
  EXPECT_FALSE(copy("d/new"));
  w.unnamed_files = false;
  EXPECT_FALSE(copy("d/named"));
  g_world = nullptr;
  EXPECT_EQ(w.files["t"].mode, 0640u) << "an existing target keeps its bits";
  EXPECT_EQ(w.files["d/new"].mode, 0755u) << "a new target gets the source's";
  EXPECT_EQ(w.files["d/named"].mode, 0755u);
}

TEST(CopyFile, FolderTargetAndLinks) {
  World w = make_world();
  w.files["link"].link = "t";
  g_world = &w;
  EXPECT_FALSE(copy("out"));
  EXPECT_FALSE(copy("link"));
  w.files[in_folder("out", "s")].writable = false;
  std::optional<CopyFailure> refused = copy("out");
  g_world = nullptr;
  EXPECT_EQ(w.files[in_folder("out", "s")].data, "new") << "the file under its own name";
  EXPECT_EQ(w.files["t"].data, "new") << "the file a link leads to";
  EXPECT_EQ(w.files["link"].link, "t") << "the link stays a link";
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->file, in_folder("out", "s"));
}

TEST(CopyFile, TemporaryNameLivesOnlyWithTheSignalsHeld) {
  // A named temporary file is registered for removal by the signals from
  // the moment it exists until it has been renamed, and never without the
  // signals held while the two change together.
  World w = make_world();
  w.unnamed_files = false;
  g_world = &w;
  EXPECT_FALSE(copy("t"));
  EXPECT_EQ(w.registered, nullptr);
  w.failures["flush_file"] = Failure{0, kIo};
  EXPECT_TRUE(copy("t"));
  g_world = nullptr;
  EXPECT_EQ(w.registered, nullptr);
  EXPECT_EQ(w.holds, 0);
  EXPECT_NE(std::find(w.log.begin(), w.log.end(), "remove_file"), w.log.end());
}

TEST(TemporaryName, FreshEachTime) {
  std::set<std::string> seen;
  for (int i = 0; i < 3000; ++i) {
    std::string name = temporary_name();
    ASSERT_EQ(name.size(), 26u) << name;
    EXPECT_EQ(name.compare(0, 10, ".pickcopy-"), 0) << name;
    EXPECT_EQ(name.find_first_not_of("0123456789abcdef", 10), std::string::npos) << name;
    EXPECT_TRUE(seen.insert(name).second) << "repeated " << name;
  }
}

}  // namespace
