// The copy, written once over the operations of file_ops.h.
//
// 1. The source must be a regular file; the target is resolved through
//    symbolic links and, when it is a folder, to the source's last name
//    component inside it, and its folder and the file are held open.
// 2. An existing target the user may not write is refused, and a target that
//    is the source itself is left as it is.
// 3. Atomic replace: a temporary file in the held folder takes the data and
//    the held target's identity, is flushed, and, once the target's name is
//    seen to lead to the held file still, is renamed over it.
// 4. Where the system refuses that (the folder, the mount or the identity
//    will not allow it), the data are written over the held target in place.
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
  Held held;          // what was checked, held
};

SysError resolve_target(const std::string& target, const std::string& source, Target* t) {
  t->shown = target;
  SysError err = hold_target(t->shown, &t->held);
  if (err || !t->held.status.folder)
    return err;
  t->shown = t->held.path;
  if (!t->shown.empty() && !is_separator(t->shown.back()))
    t->shown += preferred_separator();
  t->shown += source.substr(folder_part_length(source));
  return hold_target(t->shown, &t->held);
}

// No error while the target's name still leads, through the same folder,
// to what was checked: held anew, the two are compared. Just before the
// rename this leaves a swap only the instant between the two steps, in
// which it can put nothing under the name but a file with the identity of
// one the user may write.
SysError check_unchanged(const Target& t) {
  Held again;
  SysError err = hold_target(t.shown, &again);
  bool elsewhere = err.code == kDanglingLink || err.code == kGuardedLink;
  if (elsewhere || (!err && !same_target(t.held, again)))
    return kTargetChanged;
  err.in_folder = false;
  return err;
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
  Replacement(ExitCleanup* cleanup, const Held& target) : cleanup_(cleanup), target_(target) {}
  ~Replacement() { discard(); }
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Opens the file without a name where the system allows, else under a
  // fresh one.
  SysError create(unsigned mode) {
    SysError err = open_unnamed(target_, mode, &file_);
    if (!err || !unsupported(err))
      return err;
    return take_name(
        [&](const std::string& name) { return create_new(target_, name, mode, &file_); });
  }

  // Makes the file stay under a name once closed, just before the rename:
  // a file without a name gets one, a named one stops being marked to go.
  SysError settle(bool new_target) {
    if (!name_.empty())
      return keep_temporary(*file_, new_target);
    return take_name([&](const std::string& name) { return link_unnamed(*file_, target_, name); });
  }

  File& file() { return *file_; }
  SysError close() { return close_file(std::move(file_)); }

  SysError replace() {
    SignalHold hold(cleanup_);
    SysError err = replace_file(target_, name_);
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
      std::string name = temporary_name();
      SignalHold hold(cleanup_);
      if (!(err = make(name))) {
        name_ = std::move(name);
        cleanup_->remove_on_exit(target_, name_.c_str());
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
      remove_file(target_, name_);
    forget();
  }

  void forget() {
    cleanup_->remove_on_exit(target_, nullptr);
    name_.clear();
  }

  ExitCleanup* cleanup_;
  const Held& target_;
  FilePtr file_;
  std::string name_;  // empty while the file has none
};

// The steps of the atomic replace, in order.
enum class Step {
  kCreate,
  kData,
  kIdentity,
  kFlush,
  kName,
  kClose,
  kCheck,
  kRename,
  kSyncFolder,
  kDone
};

// Where the atomic replace stopped, and why.
struct Stop {
  Step step;
  SysError err;
};

Stop replace_atomically(File& in, unsigned source_mode, const Target& t, ExitCleanup* cleanup,
                        CopyProgress* progress) {
  const bool exists = t.held.status.exists;
  Replacement r(cleanup, t.held);
  // A new target gets the source's bits, less what the system takes away
  // from a new file (the umask, a default ACL); an existing one gets its
  // own identity below, from the file that was checked.
  if (SysError err = r.create(exists ? 0600 : source_mode))
    return {Step::kCreate, err};
  if (SysError err = copy_data(in, r.file(), false, progress))
    return {Step::kData, err};
  if (exists)
    if (SysError err = carry_identity(t.held, r.file()))
      return {Step::kIdentity, err};
  if (progress != nullptr)
    progress->flushing();
  if (SysError err = flush_file(r.file()))
    return {Step::kFlush, err};
  if (SysError err = r.settle(!exists))
    return {Step::kName, err};
  if (SysError err = r.close())
    return {Step::kClose, err};
  if (SysError err = check_unchanged(t))
    return {Step::kCheck, err};
  if (SysError err = r.replace())
    return {Step::kRename, err};
  if (SysError err = sync_folder(t.held))
    return {Step::kSyncFolder, err};
  return {Step::kDone, {}};
}

// True when the target may still be written in place after `stop`: the
// folder or the mount would not take the replace, or the new file could
// not take the target's identity, which a write in place keeps.
bool in_place_instead(const Stop& stop) {
  switch (stop.step) {
    case Step::kCreate:
      return refuses_replace(stop.err) || makes_no_files(stop.err);
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
  if (progress != nullptr)
    progress->flushing();
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

// The folder a failure concerns, as messages name it.
std::string folder_shown(const Held& held) { return held.folder.empty() ? "." : held.folder; }

// The file a failure of the atomic replace concerns: the source where
// reading it failed, the target's folder where the folder would not take
// the temporary file, else the target.
std::string concerned(const Stop& stop, const std::string& source, const Target& t) {
  if (stop.err.in_source)
    return source;
  if ((stop.step != Step::kCreate && stop.step != Step::kName) || makes_no_files(stop.err))
    return t.shown;
  return folder_shown(t.held);
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
    return failure(err.in_folder ? folder_shown(t.held) : t.shown, err);
  const PathStatus& status = t.held.status;
  if (status.exists) {
    if (!status.regular)
      return failure(t.shown, kNotRegularFile);
    if (same_file(*in, t.held))
      return std::nullopt;  // already a copy of itself
    if (SysError err = check_writable(t.held))
      return failure(t.shown, err);
  }

  ExitCleanup cleanup;
  Stop stop = replace_atomically(*in, source_mode, t, &cleanup, progress);
  if (stop.step == Step::kDone)
    return std::nullopt;
  if (stop.step == Step::kSyncFolder)
    return CopyFailure{t.shown,
                       "the new content is in place, but its folder could not be flushed to "
                       "disk: " +
                           describe_error(stop.err)};
  if (stop.step == Step::kCheck)
    return failure(t.shown, stop.err);
  if (!status.exists || !in_place_instead(stop)) {
    // Before the rename the target has not been touched: the temporary
    // file alone ran out of room, beside the old content or none.
    if (out_of_room(stop.err) && !stop.err.in_source)
      return status.exists ? no_room(concerned(stop, source, t), stop.err,
                                     "replacing it needs room for the new content beside the old")
                           : CopyFailure{concerned(stop, source, t),
                                         describe_error(stop.err) + "; the target was not made"};
    return failure(concerned(stop, source, t), stop.err);
  }

  // In place: the target is torn if the writing stops half-way, so it is
  // begun only where it can be finished, and only on the file that was
  // checked, still under its name.
  FilePtr out;
  if (SysError err = check_unchanged(t))
    return failure(t.shown, err);
  if (SysError err = open_in_place(t.held, &out))
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

std::string temporary_name() {
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
  // 16 digits always fit.
  (void)std::snprintf(suffix, sizeof suffix, "%016llx",
                      static_cast<unsigned long long>(mix(state)));
  return std::string(".pickcopy-") + suffix;
}
