// The copy, written once over the operations of file_ops.h.
//
// 1. The source must be a regular file; the target is resolved through
//    symbolic links and, when it is a folder, to the source's last name
//    component inside it.
// 2. An existing target the user may not write is refused, and a target that
//    is the source itself is left as it is.
// 3. Atomic replace: a temporary file beside the target takes the data and
//    the target's identity, is flushed, and is renamed over the target.
// 4. Where the system refuses that (the folder, the mount or the identity
//    will not allow it), the data are written over the target in place.
#include "copy/copy_file.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "copy/file_ops.h"
#include "path/path.h"

namespace {

// Names tried for a temporary file before giving up: each is random, so a
// clash means someone else's file of that very name.
constexpr int kNameAttempts = 100;

struct Target {
  std::string shown;  // the name messages give: the user's, or the file in a folder
  std::string real;   // the file that is replaced, links followed
  PathStatus status;
};

SysError resolve_target(const std::string& target, const std::string& source, Target* t) {
  t->shown = target;
  SysError err = follow_links(t->shown, &t->real);
  if (!err)
    err = path_status(t->real, &t->status);
  if (err || !t->status.folder)
    return err;
  std::string_view separators = path_separators();
  t->shown = t->real;
  if (!t->shown.empty() && !is_separator(t->shown.back(), separators))
    t->shown += separators.front();
  t->shown += last_component(source, separators);
  if ((err = follow_links(t->shown, &t->real)))
    return err;
  return path_status(t->real, &t->status);
}

// Holds off the signals that end the program for a scope.
class SignalHold {
 public:
  explicit SignalHold(ExitCleanup* cleanup) : cleanup_(cleanup) { cleanup_->hold(); }
  ~SignalHold() { cleanup_->release(); }
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;

 private:
  ExitCleanup* cleanup_;
};

// The temporary file's life: removed on every way out but the rename, and
// on the signals that end the program while it has a name. A name comes
// and goes together with its registration, with the signals held.
class Replacement {
 public:
  Replacement(ExitCleanup* cleanup, std::string folder)
      : cleanup_(cleanup), folder_(std::move(folder)) {}
  ~Replacement() { discard(); }
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Opens the file without a name where the system allows, else under a
  // fresh one.
  SysError create(unsigned mode) {
    SysError err = open_unnamed(folder_, mode, &file_);
    if (!err || !unsupported(err))
      return err;
    return take_name([&](const std::string& name) { return create_new(name, mode, &file_); });
  }

  // Makes the file stay under a name once closed, just before the rename:
  // a file without a name gets one, a named one stops being marked to go.
  SysError settle(bool new_target) {
    if (!name_.empty())
      return keep_temporary(*file_, new_target);
    return take_name([&](const std::string& name) { return link_unnamed(*file_, name); });
  }

  File& file() { return *file_; }
  SysError close() { return close_file(std::move(file_)); }

  SysError replace(const std::string& target) {
    SignalHold hold(cleanup_);
    SysError err = replace_file(name_, target);
    if (!err)
      forget();
    return err;
  }

 private:
  // Tries fresh names until `make` takes one.
  template <typename Make>
  SysError take_name(Make make) {
    SysError err;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      std::string name = temporary_name(folder_);
      SignalHold hold(cleanup_);
      if (!(err = make(name))) {
        name_ = std::move(name);
        cleanup_->remove_on_exit(name_.c_str());
        return {};
      }
      if (!name_taken(err))
        return err;
    }
    return err;
  }

  void discard() {
    file_.reset();
    SignalHold hold(cleanup_);
    if (!name_.empty())
      remove_file(name_);
    forget();
  }

  void forget() {
    cleanup_->remove_on_exit(nullptr);
    name_.clear();
  }

  ExitCleanup* cleanup_;
  std::string folder_;
  FilePtr file_;
  std::string name_;  // empty while the file has none
};

// The steps of the atomic replace, in order.
enum class Step { kCreate, kData, kIdentity, kFlush, kName, kClose, kRename, kSyncFolder, kDone };

// Where the atomic replace stopped, and why.
struct Stop {
  Step step;
  SysError err;
};

Stop replace_atomically(File& in, unsigned source_mode, const Target& t, ExitCleanup* cleanup,
                        CopyProgress* progress) {
  const std::string folder(folder_part(t.real, path_separators()));
  Replacement r(cleanup, folder);
  // A new target gets the source's bits, less what the system takes away
  // from a new file (the umask, a default ACL); an existing one gets its
  // own identity below.
  if (SysError err = r.create(t.status.exists ? 0600 : source_mode))
    return {Step::kCreate, err};
  if (SysError err = copy_data(in, r.file(), false, progress))
    return {Step::kData, err};
  if (t.status.exists)
    if (SysError err = carry_identity(t.real, r.file()))
      return {Step::kIdentity, err};
  if (SysError err = flush_file(r.file()))
    return {Step::kFlush, err};
  if (SysError err = r.settle(!t.status.exists))
    return {Step::kName, err};
  if (SysError err = r.close())
    return {Step::kClose, err};
  if (SysError err = r.replace(t.real))
    return {Step::kRename, err};
  if (SysError err = sync_folder(folder))
    return {Step::kSyncFolder, err};
  return {Step::kDone, {}};
}

// True when the target may still be written in place after `stop`: the
// folder or the mount would not take the replace, or the new file could
// not take the target's identity, which a write in place keeps.
bool in_place_instead(const Stop& stop) {
  switch (stop.step) {
    case Step::kCreate:
    case Step::kName:
    case Step::kRename:
      return refuses_replace(stop.err);
    case Step::kIdentity:
      return true;
    default:
      return false;
  }
}

SysError write_over(File& in, FilePtr out, CopyProgress* progress) {
  if (SysError err = copy_data(in, *out, true, progress))
    return err;
  if (SysError err = flush_file(*out))
    return err;
  return close_file(std::move(out));
}

CopyFailure failure(const std::string& file, SysError err) {
  return CopyFailure{file, describe_error(err)};
}

// A failure that left the target as it was, for want of room: the
// system's words, then why the room was needed.
CopyFailure no_room(const std::string& file, SysError err, const char* why) {
  return CopyFailure{file, describe_error(err) + "; the target is unchanged: " + why};
}

// The file a failure of the atomic replace concerns: the source where
// reading it failed, the target's folder where the folder would not take a
// new file, else the target.
std::string concerned(const Stop& stop, const std::string& source, const Target& t) {
  if (stop.err.in_source)
    return source;
  if (stop.step != Step::kCreate && stop.step != Step::kName)
    return t.shown;
  std::string folder(folder_part(t.shown, path_separators()));
  return folder.empty() ? "." : folder;
}

// SplitMix64's output function: a bijection that spreads every bit of its
// input over the whole word.
std::uint64_t mix(std::uint64_t x) {
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

}  // namespace

std::optional<CopyFailure> copy_file(const std::string& source, const std::string& target,
                                     CopyProgress* progress) {
  FilePtr in;
  unsigned source_mode = 0;
  if (SysError err = open_source(source, &in, &source_mode))
    return failure(source, err);
  Target t;
  if (SysError err = resolve_target(target, source, &t))
    return failure(t.shown, err);
  if (t.status.exists) {
    if (!t.status.regular)
      return failure(t.shown, kNotRegularFile);
    if (same_file(*in, t.real))
      return std::nullopt;  // already a copy of itself
    if (SysError err = check_writable(t.real))
      return failure(t.shown, err);
  }

  ExitCleanup cleanup;
  Stop stop = replace_atomically(*in, source_mode, t, &cleanup, progress);
  if (stop.step == Step::kDone)
    return std::nullopt;
  if (stop.step == Step::kSyncFolder)
    return CopyFailure{t.shown,
                       "the new content is in place, but its folder could not be flushed to "
                       "disk: " + describe_error(stop.err)};
  if (!t.status.exists || !in_place_instead(stop)) {
    // Before the rename the target has not been touched: the temporary
    // file alone ran out of room, beside the old content.
    if (out_of_room(stop.err) && !stop.err.in_source)
      return no_room(concerned(stop, source, t), stop.err,
                     "replacing it needs room for the new content beside the old");
    return failure(concerned(stop, source, t), stop.err);
  }

  // In place: the target is torn if the writing stops half-way, so it is
  // begun only where it can be finished.
  FilePtr out;
  if (SysError err = open_in_place(t.real, &out))
    return failure(t.shown, err);
  if (SysError err = check_room(*in, *out)) {
    if (err.in_source)
      return failure(source, err);
    return no_room(t.shown, err, "the new content would not fit in writing over it");
  }
  if (SysError err = write_over(*in, std::move(out), progress))
    return failure(err.in_source ? source : t.shown, err);
  return std::nullopt;
}

std::string temporary_name(const std::string& folder) {
  // Creation is exclusive and retried on a clash, so the name need only be
  // unlikely to be taken, not secret. SplitMix64 seeded once from the clocks
  // and where this process's stack lies: no two names of one run repeat,
  // and runs start far apart. (No std::random_device: it would tie the
  // binary to a newer C library than it needs.)
  static std::uint64_t state = [] {
    int local = 0;
    return mix(static_cast<std::uint64_t>(
               std::chrono::system_clock::now().time_since_epoch().count())) ^
           mix(static_cast<std::uint64_t>(
               std::chrono::steady_clock::now().time_since_epoch().count())) ^
           mix(reinterpret_cast<std::uintptr_t>(&local));
  }();
  state += 0x9e3779b97f4a7c15u;
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(mix(state)));
  return folder + ".pickcopy-" + suffix;
}
