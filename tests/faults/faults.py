#!/usr/bin/env python3
"""Faults, signals and races against the real pickcopy binary.

    faults.py --binary PATH [--shim PATH] [--runner CMD] [--size-mib N] [--kills N]

FaultInjection walks a fault over every system call of a real copy (with
the fault shim); CrashLoop kills copies of a large file at random moments;
Race runs two copies onto one target at once. --runner starts the binary
through qemu-user (the 32-bit build on a host that runs no 32-bit program).
The defaults are the short forms of the default suite; tests/stress runs
the long ones.
"""
import errno
import hashlib
import os
import random
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import harness  # noqa: E402
from harness import CHANGED, PROMPT, Folder  # noqa: E402

ARGS = None


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def make_file(path, size, seed):
    rng = random.Random(seed)
    with open(path, "wb") as f:
        f.write(b"variant %d\n" % seed)
        block = rng.randbytes(1 << 20)
        left = size
        while left > 0:
            f.write(block[:left])
            left -= len(block)


def default_signals():
    # A test run in the background may have inherited an ignored SIGINT.
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def start(folder, args, env=None):
    return harness.start(folder, args, env=env, preexec_fn=default_signals)


def make_sparse(path, seed):
    """A file of 24 MiB and 64 KiB with 320 KiB of data: 128 KiB at its
    start and 64 KiB at 8, 16 and 24 MiB; the rest are holes. It spans
    three chunks of the writing behind the copy, so that the copy hands its
    data to the disk and waits for them as it goes, with little to copy."""
    rng = random.Random(seed)
    with open(path, "wb") as f:
        f.write(b"variant %d\n" % seed + rng.randbytes(128 << 10)[11:])
        for mib in (8, 16, 24):
            f.seek(mib << 20)
            f.write(rng.randbytes(64 << 10))


def allocated(path):
    return os.stat(path).st_blocks * 512


class FaultInjection(unittest.TestCase):
    # Steer the copy onto each of its paths: copy_file_range; the buffered
    # copy (copy_file_range refused); a named temporary file (O_TMPFILE
    # refused); the write in place (the rename refused, as over a mount);
    # and the first through a link to the target, which is followed. Each
    # with the name the copy is given.
    PATHS = [("", "target.txt"), ("copy_file_range:0:%d" % errno.EXDEV, "target.txt"),
             ("open_tmpfile:0:%d" % errno.EOPNOTSUPP, "target.txt"),
             ("renameat:0:%d" % errno.EXDEV, "target.txt"), ("", "link.txt")]
    ERRNOS = [errno.EIO, errno.ENOSPC, errno.EACCES]
    # A failure in carrying the target's identity (its file flags among it),
    # in the check for /proc or in punching a hole sends the copy another
    # way, whatever the error.
    ANOTHER_WAY = {"fchown", "fchmod", "fsetxattr", "fremovexattr", "flistxattr",
                   "listxattr", "getxattr", "ioctl_flags", "access", "fallocate"}
    # A refusal to create, name or rename the temporary file sends the copy
    # in place.
    REFUSABLE = {"open_create", "open_tmpfile", "linkat", "renameat"}
    # Calls whose failure is the source's, not the target's.
    SOURCE_SIDE = {"pread", "lseek"}
    # The calls that move the data.
    DATA_CALLS = {"ioctl", "lseek", "copy_file_range", "pread", "pwrite", "sync_file_range"}

    def run_copy(self, folder, force, given, extra=None):
        env = dict(os.environ, LD_PRELOAD=ARGS.shim, FAULT_FORCE=force)
        env.update(extra or {})
        proc = start(folder, [given, "new.bin"], env)
        out, err = proc.communicate(b"a\n", timeout=60)
        return proc.returncode, err[len(PROMPT):].decode("latin-1")

    def reset_target(self, folder):
        with open(folder / "target.txt", "wb") as f:
            f.write(b"old contents\n" * 40000)
        return digest(folder / "target.txt")

    def test_every_fault_point_of_a_copy(self):
        if not ARGS.shim:
            self.skipTest("no fault shim")
        folder = Folder(self, "pickcopy-faults-")
        make_sparse(folder / "new.bin", 1)
        new = digest(folder / "new.bin")
        injected = 0
        os.symlink("target.txt", folder / "link.txt")
        for force, given in self.PATHS:
            old = self.reset_target(folder)
            before = folder.names()
            trace_file = tempfile.mktemp()
            code, err = self.run_copy(folder, force, given, {"FAULT_LOG": trace_file})
            self.assertEqual((code, err), (0, ""), force)
            self.assertEqual(digest(folder / "target.txt"), new, force)
            in_place = force.startswith("renameat")
            if not in_place:
                # Holes stay holes on every way of the copy: the buffered
                # one too (a copy from ext4 onto tmpfs takes it).
                self.assertLessEqual(allocated(folder / "target.txt"),
                                     allocated(folder / "new.bin") + (64 << 10), force)
            with open(trace_file) as f:
                trace = f.read().split()
            os.unlink(trace_file)
            forced_call, forced_nth, _ = (force + "::").split(":")[:3]
            if force and forced_call not in trace:
                continue  # a facility this build does not use
            renamed_at = trace.index("renameat")
            checked_at = trace.index("faccessat")  # the target is held by then
            # Then the chosen name is held again, to be compared with the
            # file the menu held (whose own opens, before the echo, are not
            # in the trace): a failure there names the chosen file.
            source_from = trace.index("open_folder", checked_at)
            source_to = trace.index("openat", source_from)
            for position, call in enumerate(trace):
                nth = trace[:position + 1].count(call)
                if call == forced_call and int(forced_nth) in (0, nth):
                    continue  # that call already fails, to steer the path
                for err_no in self.ERRNOS:
                    self.reset_target(folder)
                    code, err = self.run_copy(folder, force, given, {
                        "FAULT_CALL": call, "FAULT_NTH": str(nth), "FAULT_ERRNO": str(err_no)})
                    where = "%s #%d %s (%s %s)" % (call, nth, errno.errorcode[err_no], force, given)
                    lines = err.splitlines()
                    state = digest(folder / "target.txt")
                    injected += 1
                    self.assertEqual(folder.names(), before, where)
                    self.assertIn(code, (0, 1), where)
                    if code == 0:
                        # Only a fault that sends the copy another way may
                        # still end in success, with the whole new content.
                        # (Or the closing of the source, which comes last.)
                        # A target the user may not read is held without
                        # reading it (and written in place).
                        unreadable = call == "openat"
                        another_way = call in self.ANOTHER_WAY or (
                            err_no == errno.EACCES and (call in self.REFUSABLE or unreadable))
                        self.assertTrue(another_way, where)
                        self.assertEqual((lines, state), ([], new), where)
                        continue
                    self.assertEqual(len(lines), 1, where)
                    source_side = call in self.SOURCE_SIDE or source_from <= position <= source_to
                    # The folder is held, and the temporary file made and
                    # named in it: there the folder is named.
                    folder_side = call in ("open_tmpfile", "open_create", "linkat") or (
                        call == "open_folder" and position < checked_at)
                    named = "new.bin" if source_side else "." if folder_side else given
                    self.assertTrue(lines[0].startswith("pickcopy: %s: " % named), where)
                    self.assertIn(os.strerror(err_no), lines[0], where)
                    if position > renamed_at and not in_place:
                        # The rename is done: the message says so.
                        self.assertEqual(state, new, where)
                        self.assertIn("new content is in place", lines[0], where)
                    elif position <= renamed_at:
                        self.assertEqual(state, old, where)
        harness.note("fault points injected and survived: %d" % injected)


class CrashLoop(unittest.TestCase):
    def test_killed_copies_leave_old_or_new_content(self):
        folder = Folder(self, "pickcopy-faults-")
        size = ARGS.size_mib << 20
        make_file(folder / "new.bin", size, 2)
        make_file(folder / "target.bin", size // 2, 3)
        new, old = digest(folder / "new.bin"), digest(folder / "target.bin")
        # How long a whole copy takes, to spread the kills over it.
        t0 = time.monotonic()
        proc = start(folder, ["scratch.bin", "new.bin"])
        proc.communicate(b"a\n", timeout=600)
        span = max(time.monotonic() - t0, 0.05) * 1.2
        os.unlink(folder / "scratch.bin")
        expected = ["new.bin", "target.bin"]
        rng = random.Random(ARGS.seed)
        seen = {"old": 0, "new": 0}
        runs = [(signal.SIGKILL, None), (signal.SIGINT, None), (signal.SIGTERM, None)]
        if ARGS.shim:
            # The same with a named temporary file (O_TMPFILE refused), which
            # the signal handler must remove.
            named = dict(os.environ, LD_PRELOAD=ARGS.shim,
                         FAULT_FORCE="open_tmpfile:0:%d" % errno.EOPNOTSUPP)
            runs += [(signal.SIGINT, named), (signal.SIGHUP, named)]
        for sig, env in runs:
            for _ in range(ARGS.kills):
                proc = start(folder, ["target.bin", "new.bin"], env)
                proc.stdin.write(b"a\n")
                proc.stdin.close()
                time.sleep(rng.uniform(0, span))
                proc.send_signal(sig)
                proc.wait(timeout=600)
                proc.stdout.close()
                proc.stderr.close()
                self.assertIn(proc.returncode, (0, -sig), sig)
                state = digest(folder / "target.bin")
                self.assertIn(state, (old, new), sig)
                seen["new" if state == new else "old"] += 1
                if sig != signal.SIGKILL:
                    self.assertEqual(folder.names(), expected, sig)
                else:
                    # A kill between naming and renaming may leave the named
                    # file; nothing else may.
                    for name in set(folder.names()) - set(expected):
                        self.assertTrue(name.startswith(".pickcopy-"), name)
                        os.unlink(folder / name)
                if state == new:
                    make_file(folder / "target.bin", size // 2, 3)
        harness.note("kills survived: %d (%d left the old content, %d the new)"
                     % (len(runs) * ARGS.kills, seen["old"], seen["new"]))


class Race(unittest.TestCase):
    def test_two_copies_onto_one_target_leave_one_whole_file(self):
        folder = Folder(self, "pickcopy-faults-")
        size = max(ARGS.size_mib << 19, 1 << 20)
        make_file(folder / "a.bin", size, 4)
        make_file(folder / "b.bin", size, 5)
        wanted = {digest(folder / "a.bin"), digest(folder / "b.bin")}
        for _ in range(5):
            procs = [start(folder, ["target.bin", name]) for name in ("a.bin", "b.bin")]
            for proc in procs:
                proc.stdin.write(b"a\n")
                proc.stdin.close()
            # Each copy holds the target it checked: one that finds another
            # file under the name by its rename replaces nothing and says so.
            codes = []
            for proc in procs:
                codes.append(proc.wait(timeout=600))
                err = proc.stderr.read().decode("latin-1")[len(PROMPT):]
                proc.stdout.close()
                proc.stderr.close()
                if codes[-1] == 1:
                    self.assertEqual(err, "pickcopy: target.bin: " + CHANGED + "\n")
            self.assertIn(0, codes)
            self.assertLessEqual(set(codes), {0, 1})
            self.assertIn(digest(folder / "target.bin"), wanted)
            self.assertEqual(folder.names(), ["a.bin", "b.bin", "target.bin"])


def main():
    global ARGS
    p = harness.parser("pickcopy's faults, signals and races")
    p.add_argument("--shim", default="")
    p.add_argument("--size-mib", type=int, default=32)
    p.add_argument("--kills", type=int, default=6)
    p.add_argument("--seed", type=int, default=int(time.time()))
    args, rest = p.parse_known_args()
    ARGS = harness.configure(args)
    ARGS.shim = os.path.abspath(ARGS.shim) if ARGS.shim else ""
    print("seed %d" % ARGS.seed, file=sys.stderr)
    harness.run_cases([sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
