// The copy, written once over the primitives of file_ops.h.
//
// 1. The source must be a regular file; the target is resolved through
//    symbolic links and, when it is a directory, to the source's last name
//    component inside it.
// 2. An existing target the user may not write is refused, and a target that
//    is the source itself is left as it is.
// 3. Atomic replace: a temporary file beside the target takes the data and
//    the target's identity, is flushed, and is renamed over the target.
// 4. Where the system refuses that (the folder, the mount or the identity
//    will not allow it), the data are written over the target in place.
#include "copy/copy_file.h"

#include "copy/file_ops.h"
#include "path/path.h"

namespace {

// Where a step failed: the error, and whether the target may be written in
// place instead.
struct Outcome {
  SysError err = 0;
  bool in_place_instead = false;
  bool reading = false;    // the failure was in reading the source
  bool in_folder = false;  // the folder would not take the temporary file
};

Outcome failed(SysError err, bool in_place_instead = false) {
  Outcome outcome;
  outcome.err = err;
  outcome.in_place_instead = in_place_instead;
  return outcome;
}

Outcome folder_failed(SysError err) {
  Outcome outcome = failed(err, refuses_replace(err));
  outcome.in_folder = true;
  return outcome;
}

struct Target {
  std::string shown;  // the name messages give: the user's, or the file in a directory
  std::string real;   // the file that is replaced, links followed
  PathStatus status;
};

SysError resolve_target(const std::string& target, const std::string& source, Target* t) {
  t->shown = target;
  SysError err = follow_links(t->shown, &t->real);
  if (err == 0)
    err = path_status(t->real, &t->status);
  if (err != 0 || !t->status.directory)
    return err;
  std::string_view separators = path_separators();
  t->shown = t->real;
  if (!t->shown.empty() && !is_separator(t->shown.back(), separators))
    t->shown += separators.front();
  t->shown += last_component(source, separators);
  err = follow_links(t->shown, &t->real);
  return err != 0 ? err : path_status(t->real, &t->status);
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
  explicit Replacement(ExitCleanup* cleanup) : cleanup_(cleanup) {}
  ~Replacement() { discard(); }

  TempFile temp;

  SysError create(const std::string& directory, unsigned mode) {
    SignalHold hold(cleanup_);
    SysError err = create_temporary(directory, mode, &temp);
    if (err == 0 && !temp.name.empty())
      cleanup_->remove_on_exit(temp.name.c_str());
    return err;
  }

  SysError name(const std::string& directory) {
    SignalHold hold(cleanup_);
    SysError err = name_temporary(directory, &temp);
    if (err == 0 && !temp.name.empty())
      cleanup_->remove_on_exit(temp.name.c_str());
    return err;
  }

  SysError replace(const std::string& target) {
    SignalHold hold(cleanup_);
    SysError err = replace_file(temp.name, target);
    if (err == 0)
      forget();
    return err;
  }

  void discard() {
    temp.file.reset();
    SignalHold hold(cleanup_);
    if (!temp.name.empty())
      remove_file(temp.name);
    forget();
  }

 private:
  void forget() {
    cleanup_->remove_on_exit(nullptr);
    temp.name.clear();
  }

  ExitCleanup* cleanup_;
};

Outcome replace_atomically(File& in, unsigned source_mode, const Target& t,
                           bool* replaced) {
  const std::string directory(directory_part(t.real, path_separators()));
  ExitCleanup cleanup;
  Replacement r(&cleanup);
  // A new target gets the source's bits, less what the system takes away
  // from a new file (the umask, a default ACL); an existing one gets its
  // own identity below.
  SysError err = r.create(directory, t.status.exists ? 0600 : source_mode);
  if (err != 0)
    return folder_failed(err);
  Outcome outcome;
  if ((outcome.err = copy_data(in, *r.temp.file, false, &outcome.reading)) != 0)
    return outcome;
  if (t.status.exists && (err = carry_identity(t.real, *r.temp.file)) != 0)
    return failed(err, true);
  if ((err = flush_file(*r.temp.file)) != 0)
    return failed(err);
  if ((err = r.name(directory)) != 0)
    return folder_failed(err);
  if ((err = close_file(std::move(r.temp.file))) != 0)
    return failed(err);
  if ((err = r.replace(t.real)) != 0)
    return failed(err, refuses_replace(err));
  *replaced = true;
  return failed(sync_directory(directory));
}

Outcome write_in_place(File& in, const Target& t) {
  FilePtr out;
  Outcome outcome;
  if ((outcome.err = open_in_place(t.real, &out)) != 0)
    return outcome;
  if ((outcome.err = copy_data(in, *out, true, &outcome.reading)) != 0)
    return outcome;
  if ((outcome.err = flush_file(*out)) != 0)
    return outcome;
  outcome.err = close_file(std::move(out));
  return outcome;
}

bool fail(CopyFailure* failure, const std::string& file, const std::string& reason) {
  failure->file = file;
  failure->reason = reason;
  return false;
}

// The file a failure concerns: the source where reading it failed, the
// target's folder where the folder would not take a new file, else the
// target.
std::string concerned(const Outcome& outcome, const std::string& source, const Target& t) {
  if (outcome.reading)
    return source;
  if (!outcome.in_folder)
    return t.shown;
  std::string folder(directory_part(t.shown, path_separators()));
  return folder.empty() ? "." : folder;
}

}  // namespace

bool copy_file(const std::string& source, const std::string& target,
               CopyFailure* failure) {
  FilePtr in;
  unsigned source_mode = 0;
  SysError err = open_source(source, &in, &source_mode);
  if (err != 0)
    return fail(failure, source, describe_error(err));
  Target t;
  if ((err = resolve_target(target, source, &t)) != 0)
    return fail(failure, t.shown, describe_error(err));
  if (t.status.exists) {
    if (!t.status.regular)
      return fail(failure, t.shown, describe_error(kNotRegularFile));
    if (same_file(*in, t.real))
      return true;  // already a copy of itself
    if ((err = check_writable(t.real)) != 0)
      return fail(failure, t.shown, describe_error(err));
  }

  bool replaced = false;
  Outcome outcome = replace_atomically(*in, source_mode, t, &replaced);
  if (replaced && outcome.err != 0)
    return fail(failure, t.shown,
                "the new content is in place, but its folder could not be flushed to disk: " +
                    describe_error(outcome.err));
  if (outcome.err != 0 && outcome.in_place_instead && t.status.exists)
    outcome = write_in_place(*in, t);
  if (outcome.err != 0)
    return fail(failure, concerned(outcome, source, t), describe_error(outcome.err));
  return true;
}
