// The copy, written once over the operations of file_ops.h.
//
// 1. The source is the file the menu held for the chosen entry; the target
//    is resolved through symbolic links and, when it is a folder, to the
//    source's last name component inside it, and its folder and the file
//    are held open.
// 2. An existing target the user may not write is refused, a target that
//    is the source itself is left as it is, and one whose links lead to
//    another of the shown choices is refused. Then the chosen name must
//    still lead to the held source.
// 3. Atomic replace: a temporary file in the held folder takes the data and
//    the held target's identity, is flushed, and, once the target's name is
//    seen to lead to the held file still, is renamed over it. A new target
//    replaces nothing that has come to have its name. A replace that the
//    system does in steps and that stopped half-way keeps both files.
// 4. Where the system refuses that (the folder, the mount or the identity
//    will not allow it), the data are written over the held target in place,
//    unless that file is another of the shown choices.
#include "copy/copy_file.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <utility>

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
  // The file goes into the folder as it was held, reached by the same rule
  // for links, not into whatever its name leads to by now.
  Held folder = std::move(t->held);
  std::string name = source.substr(folder_part_length(source));
  t->shown = folder.path;
  if (!t->shown.empty() && !is_separator(t->shown.back()))
    t->shown += preferred_separator();
  t->shown += name;
  return hold_in_folder(folder, name, &t->held);
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

// No error while the chosen name still leads, through the same folder, to
// the file the menu read: held anew, the two are compared, and `*mode`
// receives the file's permission bits. The data are read from the held
// file whatever the name leads to, so this look decides only whether the
// copy goes ahead. It comes as late as it can while nothing has been
// touched, after the target's checks and just before the data, so that a
// swap during the whole of the user's pause and the target's checks is
// seen, and a refusal still leaves everything as it was.
SysError check_source(const Choice& source, unsigned* mode) {
  Held again;
  SysError err = hold_source(source.name, &again, mode);
  if (err.code == kTargetChanged || err.code == kGuardedLink || err.code == kNotRegularFile ||
      names_no_file(err))
    return kTargetChanged;
  if (!err && !same_target(source.held, again))
    return kTargetChanged;
  return err;
}

// Another of the shown choices that the copy would overwrite through the
// target: one whose name the target's links lead to, which the replace
// would rename over; or, `in_place`, one that is the very file a write in
// place would write. The target named as it is, not through a link, is
// not another choice even where a pattern took it in: that live file is
// replaced as ever. A target hard-linked to a choice gets a new file from
// the replace, and the choice keeps its content.
const Choice* overwritten_choice(const std::vector<Choice>& shown, std::size_t chosen,
                                 const Held& target, bool in_place) {
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const Choice& other = shown[i];
    if (i == chosen || other.error)
      continue;
    bool named = same_place(other.held, target);
    if (named && !target.through_link)
      continue;
    if (named || (in_place && same_file(*other.held.file, target)))
      return &other;
  }
  return nullptr;
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

  // Makes the file stay under a name once closed, just before the rename
  // and after the last check, so that until then whatever ends the copy
  // leaves nothing: a file without a name gets one, a named one stops
  // being marked to go.
  SysError settle(bool new_target) {
    if (!name_.empty())
      return keep_temporary(*file_, new_target);
    return take_name([&](const std::string& name) { return link_unnamed(*file_, target_, name); });
  }

  File& file() { return *file_; }
  const std::string& name() const { return name_; }
  SysError close() { return close_file(std::move(file_)); }

  // Puts the file in the target's place, the old target set aside under
  // `aside` on the way where the system replaces in steps. A replace
  // stopped half-way keeps the file, as the only copy of the new content
  // beside the only copy of the old.
  SysError replace(const std::string& aside) {
    SignalHold hold(cleanup_);
    SysError err = replace_file(target_, name_, aside);
    if (!err || err.half_done)
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
  kCheck,
  kName,
  kClose,
  kRename,
  kAside,
  kSyncFolder,
  kDone
};

// Where the atomic replace stopped, and why; the names of the files a
// replace stopped half-way kept, or of the old target left aside.
struct Stop {
  Step step;
  SysError err;
  std::string aside = {};
  std::string kept = {};
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
  // What the new file takes only while it is empty counts as its identity.
  if (exists)
    if (SysError err = ready_new_file(t.held, r.file()))
      return {Step::kIdentity, err};
  if (SysError err = copy_data(in, r.file(), false, progress))
    return {Step::kData, err};
  if (exists)
    if (SysError err = carry_identity(t.held, r.file()))
      return {Step::kIdentity, err};
  if (progress != nullptr)
    progress->flushing();
  if (SysError err = flush_file(r.file()))
    return {Step::kFlush, err};
  if (SysError err = check_unchanged(t))
    return {Step::kCheck, err};
  if (SysError err = r.settle(!exists))
    return {Step::kName, err};
  if (SysError err = r.close())
    return {Step::kClose, err};
  const std::string aside = temporary_name();
  const std::string kept = r.name();
  if (SysError err = r.replace(aside)) {
    // A new target's name that some file has taken meanwhile.
    if (!exists && name_taken(err))
      return {Step::kCheck, kTargetChanged};
    return {Step::kRename, err, aside, kept};
  }
  if (SysError err = remove_aside(t.held, aside))
    return {Step::kAside, err, aside};
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

// A failure in words: what it concerns, and why.
CopyFailure said(const std::string& file, std::string reason) {
  return CopyFailure{file, std::move(reason), {}, {}};
}

CopyFailure failure(const std::string& file, SysError err) {
  return said(file, describe_error(err));
}

CopyFailure changed_after_menu(const std::string& source) {
  return said(source, "changed after the menu was shown; nothing was copied");
}

CopyFailure leads_to(const Target& t, const Choice& other) {
  return CopyFailure{t.shown, "leads to ", other.name,
                     ", another of the choices; nothing was copied"};
}

// A failure that left the target as it was, for want of room: the
// system's words, then why the room was needed.
CopyFailure no_room(const std::string& file, SysError err, const char* why) {
  return said(file, describe_error(err) + "; the target is unchanged: " + why);
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

std::optional<CopyFailure> copy_file(const std::vector<Choice>& shown, std::size_t chosen,
                                     const std::string& target, CopyProgress* progress) {
  const Choice& chosen_entry = shown[chosen];
  const std::string& source = chosen_entry.name;
  // A file swapped while the menu held it counts as one swapped after.
  if (chosen_entry.error)
    return chosen_entry.error.code == kTargetChanged ? changed_after_menu(source)
                                                     : failure(source, chosen_entry.error);
  File& in = *chosen_entry.held.file;
  Target t;
  if (SysError err = resolve_target(target, source, &t))
    return failure(err.in_folder ? folder_shown(t.held) : t.shown, err);
  const PathStatus& status = t.held.status;
  if (status.exists) {
    if (!status.regular)
      return failure(t.shown, kNotRegularFile);
    if (same_file(in, t.held))
      return std::nullopt;  // already a copy of itself
    if (const Choice* other = overwritten_choice(shown, chosen, t.held, false))
      return leads_to(t, *other);
    if (SysError err = check_writable(t.held))
      return failure(t.shown, err);
  }
  unsigned source_mode = 0;
  if (SysError err = check_source(chosen_entry, &source_mode))
    return err.code == kTargetChanged ? changed_after_menu(source) : failure(source, err);

  ExitCleanup cleanup;
  Stop stop = replace_atomically(in, source_mode, t, &cleanup, progress);
  if (stop.step == Step::kDone)
    return std::nullopt;
  if (stop.step == Step::kSyncFolder)
    return said(t.shown,
                "the new content is in place, but its folder could not be flushed to disk: " +
                    describe_error(stop.err));
  if (stop.step == Step::kAside)
    return said(t.shown, "the new content is in place, but the old content is left beside it as " +
                             stop.aside + ": " + describe_error(stop.err));
  if (stop.step == Step::kRename && stop.err.half_done)
    return said(t.shown, describe_error(stop.err) + "; the old content is kept beside it as " +
                             stop.aside + " and the new content as " + stop.kept);
  if (stop.step == Step::kCheck)
    return failure(t.shown, stop.err);
  if (!status.exists || !in_place_instead(stop)) {
    // Before the rename the target has not been touched: the temporary
    // file alone ran out of room, beside the old content or none.
    if (out_of_room(stop.err) && !stop.err.in_source)
      return status.exists ? no_room(concerned(stop, source, t), stop.err,
                                     "replacing it needs room for the new content beside the old")
                           : said(concerned(stop, source, t),
                                  describe_error(stop.err) + "; the target was not made");
    return failure(concerned(stop, source, t), stop.err);
  }

  // In place: the target is torn if the writing stops half-way, so it is
  // begun only where it can be finished, and only on the file that was
  // checked, still under its name, and never on another of the choices.
  if (const Choice* other = overwritten_choice(shown, chosen, t.held, true))
    return leads_to(t, *other);
  FilePtr out;
  if (SysError err = check_unchanged(t))
    return failure(t.shown, err);
  if (SysError err = open_in_place(t.held, &out))
    return failure(t.shown, err);
  if (SysError err = check_room(in, *out)) {
    if (err.in_source)
      return failure(source, err);
    return no_room(t.shown, err, "the new content would not fit in writing over it");
  }
  if (SysError err = ready_in_place(t.held, *out))
    return failure(t.shown, err);
  if (SysError err = write_over(in, std::move(out), progress))
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
