#!/usr/bin/env python3
"""What a power cut during a copy may leave on the disk, replayed state by
state on ext4, xfs and btrfs.

    crash_states.py --binary PATH --blocklog PATH [--shim PATH] [--deep] [unittest args]

A killed program still has all of its writes written back by the kernel;
after a power cut only what was flushed survives, and of the writes made
since the last flush any subset may have reached the disk. So each row
records a real copy by the real binary onto a file system on a loop device
whose backing file is served by blocklog (tests/crash/blocklog.cpp), which
logs every write and flush in the order of arrival. From the log it builds
the crash states: for each flush after the start mark (flush 0 is the
mark), the image with every write before that flush, plus a subset of the
writes up to the next one (none, each single one, all but one, some seeded
random ones; after the last flush also all), large writes cut into units
so that partial writes are among them. Each state is mounted read-write,
so that its journal replays, its target read, then unmounted and checked
with the file system's own check. The oracles:

  - before the program's exit, the target is the old content whole or the
    new content whole (for a new target: absent or new whole);
  - after its exit (every flush it made is in), the new content, and no
    temporary file ".pickcopy-*" is left;
  - the file system's check is clean.

The write in place (the rows where pickcopy may not make a file beside the
target) may tear: its states are counted, not judged, until the exit.

Only the recorded order of the writes is explored, and the device is taken
to honour its flushes. A negative control, a copy whose file flush does
nothing (the fault shim's FAULT_SKIP), must be caught on xfs and btrfs.
--deep cuts the writes into 4 KiB units, tries more random subsets, and
copies a larger file (tests/stress).
"""
import bisect
import collections
import contextlib
import os
import random
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import harness  # noqa: E402
from harness import PROMPT, USER, Folder  # noqa: E402

ARGS = None
KIB, MIB = 1 << 10, 1 << 20
TEMPORARY = ".pickcopy-"

# The default suite's sweep and the deep one: the unit a write is cut into,
# the random subsets of each flush's writes, the size of the new content.
QUICK = dict(unit=128 * KIB, randoms=2, size=256 * KIB)
DEEP = dict(unit=4 * KIB, randoms=16, size=1 * MIB)

# file system: image MiB, mkfs, options of a replayed state's mount, check.
# Every mkfs without discards (-K) and with all its tables written now, so
# that no later initialisation writes into the log.
FILESYSTEMS = {
    "ext4": (32, ["mkfs.ext4", "-q", "-F", "-b", "4096", "-m", "0",
                  "-E", "lazy_itable_init=0,lazy_journal_init=0,nodiscard"],
             "", ["e2fsck", "-fn"]),
    "xfs": (300, ["mkfs.xfs", "-q", "-f", "-K"], "nouuid", ["xfs_repair", "-n", "-f"]),
    "btrfs": (128, ["mkfs.btrfs", "-q", "-f", "-K"], "", ["btrfs", "check", "--readonly"]),
}
TOOLS = {"ext4": [("mkfs.ext4", "e2fsprogs"), ("e2fsck", "e2fsprogs")],
         "xfs": [("mkfs.xfs", "xfsprogs"), ("xfs_repair", "xfsprogs")],
         "btrfs": [("mkfs.btrfs", "btrfs-progs"), ("btrfs", "btrfs-progs")]}


def as_user(cmd):
    return harness.as_user(cmd, groups=())


def without_proc(cmd):
    """In a mount namespace of its own without /proc, pickcopy cannot name
    an unnamed file, and makes a named temporary file instead."""
    return ["unshare", "--mount", "sh", "-c", 'umount -l /proc && exec "$@"', "sh"] + cmd


Row = collections.namedtuple("Row", "name wrap target_exists in_place named env")

# The paths of a copy. "in_place": written over the target, since the
# copying user owns the target but may not write its folder (root's,
# 0555). "named": the temporary file has a name from its start, so that
# some state between its flush and the rename shows it.
PATHS = [
    Row("unnamed temporary file", None, True, False, False, {}),
    Row("named temporary file (no /proc)", without_proc, True, False, True, {}),
    Row("new target", None, False, False, False, {}),
    Row("in place (folder not the user's)", as_user, True, True, False, {}),
]
# The negative control: the file's flush (the copy's first fsync) does
# nothing. xfs and btrfs then name a file whose data never reached the
# disk; ext4 may write those data itself when a file is renamed over
# another (its auto_da_alloc), so there a missing flush may go unseen.
BROKEN = Row("unnamed temporary file, its flush a no-op", None, True, False, False,
             {"FAULT_SKIP": "fsync:1"})
CONTROL = [("ext4", False), ("xfs", True), ("btrfs", True)]  # file system, always caught


def sh(*args):
    done = subprocess.run(args, capture_output=True)
    if done.returncode != 0:
        raise AssertionError("%s: %s" % (" ".join(args), done.stderr.decode().strip()))
    return done


def forget(fs):
    """btrfs keeps the devices it has seen; each state's image is another
    device with the same file system's identity."""
    if fs == "btrfs":
        subprocess.run(["btrfs", "device", "scan", "--forget"], capture_output=True)


def sparse(path, mib):
    with open(path, "wb") as f:
        f.truncate(mib * MIB)  # only what is written takes room


def content(seed, size):
    """A file whose first line names it, the rest seeded bytes."""
    head = b"content %d\n" % seed
    return head + random.Random(seed).randbytes(size - len(head))


# The log blocklog writes: records of three 64-bit words, kind, offset,
# length, and for a write its bytes.
HEADER = struct.Struct("=QQQ")
WRITE, DISCARD, FLUSH = ord("W"), ord("D"), ord("F")


def read_log(path, marks):
    """The records of a log, and for each mark (a size the log had) how
    many records were whole by then."""
    with open(path, "rb") as f:
        data = memoryview(f.read())
    records, ends, at = [], [], 0
    while at + HEADER.size <= len(data):
        kind, offset, length = HEADER.unpack_from(data, at)
        end = at + HEADER.size + (length if kind == WRITE else 0)
        if end > len(data):
            break
        body = data[at + HEADER.size:end] if kind == WRITE else None
        records.append((kind, offset, length, body))
        ends.append(end)
        at = end
    return records, [bisect.bisect_right(ends, mark) for mark in marks]


def epochs(records, unit):
    """The writes between one flush and the next, each cut into units of
    at most `unit` bytes; a discard is one unit."""
    found = [[]]
    for kind, offset, length, body in records:
        if kind == FLUSH:
            found.append([])
        elif kind == DISCARD:
            found[-1].append((offset, length, None))
        else:
            for at in range(0, length, unit):
                found[-1].append((offset + at, min(unit, length - at), body[at:at + unit]))
    return found


def subsets(n, randoms, rng, last):
    """The subsets of n units tried: none, each single one, all but one,
    `randoms` random ones, and all only after the last flush (elsewhere
    all is the next flush's none)."""
    every = tuple(range(n))
    tried = [()] + [(i,) for i in every] + [every[:i] + every[i + 1:] for i in every]
    for _ in range(randoms if n > 2 else 0):
        tried.append(tuple(sorted(rng.sample(every, rng.randint(1, n - 1)))))
    if last:
        tried.append(every)
    seen = set()
    for chosen in tried:
        if chosen not in seen and (last or len(chosen) < n or n == 0):
            seen.add(chosen)
            yield chosen


def copy_sparse(source, target):
    """Copies `source` to `target` extent by extent, holes left holes."""
    with open(source, "rb") as src, open(target, "wb") as dst:
        size = os.fstat(src.fileno()).st_size
        dst.truncate(size)
        at = 0
        while at < size:
            try:
                at = os.lseek(src.fileno(), at, os.SEEK_DATA)
            except OSError:
                break  # only a hole is left
            end = os.lseek(src.fileno(), at, os.SEEK_HOLE)
            while at < end:
                at += os.copy_file_range(src.fileno(), dst.fileno(), end - at, at, at)


def apply(image, units):
    with open(image, "r+b") as f:
        for offset, length, body in units:
            f.seek(offset)
            f.write(body if body is not None else bytes(length))


class Recording:
    """A copy recorded: the image as made, the log's records before the
    start mark and those from it to the program's exit."""

    def __init__(self, records, start, done, pristine):
        self.before = records[:start]
        self.during = records[start:done]
        self.pristine = pristine
        self.writes = sum(r[0] == WRITE for r in self.during)
        self.flushes = sum(r[0] == FLUSH for r in self.during)


class Outcome:
    """What the states of one recording held."""

    def __init__(self):
        self.states = 0
        self.counts = collections.Counter()
        self.bad = []

    def summary(self):
        return ", ".join("%s %d" % kv for kv in sorted(self.counts.items()))


class CrashStates(unittest.TestCase):

    def setUp(self):
        need = harness.need
        need(self, os.geteuid() == 0, "needs root, to mount")
        need(self, ARGS.blocklog and os.path.exists(ARGS.blocklog),
             "no blocklog: libfuse3-dev (Debian's) was missing when the build was configured")
        need(self, os.path.exists("/dev/fuse"), "no FUSE here (/dev/fuse)")
        for tool, package in (("losetup", "mount"), ("fusermount3", "fuse3"),
                              ("setpriv", "util-linux"), ("unshare", "util-linux")):
            harness.need_tool(self, tool, package)
        loops = subprocess.run(["losetup", "--find"], capture_output=True).returncode == 0
        need(self, loops, "no loop devices here")
        self.depth = DEEP if ARGS.deep else QUICK

    # The table: every path on each file system.
    def test_ext4(self):
        self.sweep("ext4", PATHS)

    def test_xfs(self):
        self.sweep("xfs", PATHS)

    def test_btrfs(self):
        self.sweep("btrfs", PATHS)

    def test_a_copy_without_its_file_flush_is_caught(self):
        """The negative control: the same copy with its file's flush a no-op
        leaves the target torn, empty or old in some state."""
        harness.need(self, bool(ARGS.shim), "no fault shim (LD_PRELOAD) in this build")
        for fs, always in CONTROL:
            with self.subTest(fs):
                self.need_file_system(fs)
                outcome = self.run_row(fs, BROKEN)
                if always:
                    self.assertNotEqual(outcome.bad, [], "%s: the missing flush unseen" % fs)

    def need_file_system(self, fs):
        for tool, package in TOOLS[fs]:
            harness.need_tool(self, tool, package)

    def sweep(self, fs, rows):
        self.need_file_system(fs)
        for row in rows:
            with self.subTest(row.name):
                outcome = self.run_row(fs, row)
                self.assertEqual(outcome.bad[:5], [], "%s, %s: %d bad of %d states"
                                 % (fs, row.name, len(outcome.bad), outcome.states))
                if row.named:
                    shown = sum(n for held, n in outcome.counts.items() if TEMPORARY in held)
                    self.assertGreater(shown, 0, "%s, %s: no state shows a named temporary "
                                       "file; is this path still reached?" % (fs, row.name))

    def run_row(self, fs, row):
        began = time.monotonic()
        work = Folder(self, "pickcopy-crash-")
        os.chmod(work.path, 0o755)
        size = self.depth["size"]
        new = content(2, size)
        old = content(1, size * 3 // 4 + 1000) if row.target_exists else None
        env = None
        if row.env:
            env = dict(os.environ, LD_PRELOAD=ARGS.shim, **row.env)
        rec = self.record(work, fs, row, old, new, env)
        outcome = self.replay(work, fs, row, rec, old, new)
        harness.note("%s, %s: %d writes, %d flushes, %d states: %s; %d bad; %.1f s"
                     % (fs, row.name, rec.writes, rec.flushes, outcome.states,
                        outcome.summary(), len(outcome.bad), time.monotonic() - began))
        for bad in outcome.bad[:3]:
            harness.note("  bad: " + bad)
        return outcome

    # Recording.
    def record(self, work, fs, row, old, new, env):
        mib, mkfs, _, _ = FILESYSTEMS[fs]
        image, pristine, log = work / "disk.img", work / "pristine.img", work / "log"
        sparse(image, mib)
        sh(*(mkfs + [image]))
        copy_sparse(image, pristine)
        source = work.write("src/new", new)
        os.chmod(os.path.dirname(source), 0o755)
        os.chmod(source, 0o644)
        with contextlib.ExitStack() as stack:
            device = self.serve(stack, work, image, log)
            at = work / "mounted"
            os.mkdir(at)
            sh("mount", device, at)
            stack.callback(self.unmount, fs, at)
            folder = self.prepare(at, row, old)
            subprocess.run(["sync"], check=True)
            with open(device, "rb") as f:
                os.fsync(f.fileno())  # sync leaves the device's buffers
            start = os.path.getsize(log)
            inode = os.stat(os.path.join(folder, "t")).st_ino if old else None
            r = harness.run(folder, ["t", source], "a\n", wrap=row.wrap, env=env)
            done = os.path.getsize(log)
            self.check_live(folder, row, r, inode, new)
        records, (start, done) = read_log(log, [start, done])
        os.unlink(image)
        return Recording(records, start, done, pristine)

    def serve(self, stack, work, image, log):
        """blocklog serving `image`, and a loop device over it."""
        served = work / "served"
        os.mkdir(served)
        errors = open(work / "blocklog.err", "w+")
        stack.callback(errors.close)
        daemon = subprocess.Popen([ARGS.blocklog, image, log, served],
                                  stdout=errors, stderr=errors)
        stack.callback(self.stop, daemon, served)
        for _ in range(200):
            if os.path.ismount(served) or daemon.poll() is not None:
                break
            time.sleep(0.02)
        if not os.path.ismount(served):
            errors.seek(0)
            self.fail("blocklog did not mount: " + errors.read())
        device = sh("losetup", "--find", "--show", os.path.join(served, "disk"))
        device = device.stdout.decode().strip()
        stack.callback(subprocess.run, ["losetup", "-d", device], capture_output=True)
        return device

    @staticmethod
    def stop(daemon, served):
        subprocess.run(["fusermount3", "-u", served], capture_output=True)
        try:
            daemon.wait(timeout=10)
        except subprocess.TimeoutExpired:
            daemon.kill()
            daemon.wait()

    @staticmethod
    def unmount(fs, at):
        for _ in range(50):
            if subprocess.run(["umount", at], capture_output=True).returncode == 0:
                break
            time.sleep(0.1)
        else:
            subprocess.run(["umount", "-l", at], capture_output=True)
        forget(fs)

    @staticmethod
    def prepare(at, row, old):
        folder = os.path.join(at, "d")
        os.mkdir(folder)
        if old is not None:
            with open(os.path.join(folder, "t"), "wb") as f:
                f.write(old)
        if row.in_place:
            os.chown(os.path.join(folder, "t"), USER, USER)
            os.chmod(folder, 0o555)
        return folder

    def check_live(self, folder, row, r, inode, new):
        """The copy as it ran: status, message, content and which way."""
        where = "%s: %s" % (row.name, r.err)
        self.assertEqual((r.rc, r.err), (0, PROMPT), where)
        target = os.path.join(folder, "t")
        with open(target, "rb") as f:
            self.assertEqual(f.read(), new, where)
        if inode is not None:
            replaced = os.stat(target).st_ino != inode
            self.assertEqual(replaced, not row.in_place, "%s: which way" % row.name)
        self.assertEqual(sorted(os.listdir(folder)), ["t"], "%s: a stray file" % row.name)

    # Replaying.
    def replay(self, work, fs, row, rec, old, new):
        """Builds and checks every crash state of `rec`."""
        base, state = rec.pristine, work / "state.img"
        apply(base, [u for units in epochs(rec.before, MIB) for u in units])
        at = work / "look"
        os.mkdir(at)
        rng = random.Random(24)
        outcome = Outcome()
        found = epochs(rec.during, self.depth["unit"])
        for k, units in enumerate(found):
            last = k == len(found) - 1
            for chosen in subsets(len(units), self.depth["randoms"], rng, last):
                copy_sparse(base, state)
                apply(state, [units[i] for i in chosen])
                verdict, problem = self.judge(fs, state, at, row, old, new, last)
                outcome.states += 1
                outcome.counts[verdict] += 1
                if problem:
                    outcome.bad.append("after flush %d of %d, units %s of %d: %s"
                                       % (k, len(found) - 1, list(chosen), len(units), problem))
            apply(base, units)
        os.unlink(state)
        return outcome

    def judge(self, fs, state, at, row, old, new, after_exit):
        """What one state holds, and what is wrong with it ("" if nothing)."""
        _, _, options, check = FILESYSTEMS[fs]
        mount = ["mount", "-o", "loop" + ("," + options if options else ""), state, at]
        for attempt in range(3):
            mounted = subprocess.run(mount, capture_output=True)
            if mounted.returncode == 0:
                break
            # A mount can fail for a moment when another program scans or
            # forgets btrfs devices; a state that is truly broken fails on.
            forget(fs)
            time.sleep(0.2)
        else:
            return "unmountable", "does not mount: " + mounted.stderr.decode().strip()
        try:
            held, names = self.read_target(os.path.join(at, "d"), old, new)
        finally:
            self.unmount(fs, at)
        checked = subprocess.run(check + [state], capture_output=True)
        if checked.returncode != 0:
            return held, "%s says %d: %s" % (check[0], checked.returncode,
                                              checked.stdout.decode()[-300:])
        left = [n for n in names if n.startswith(TEMPORARY)]
        verdict = held + (" with a temporary file %s*" % TEMPORARY if left else "")
        if after_exit:
            if held != "new" or left:
                return verdict, "after the exit: " + verdict
        elif held not in self.before_exit(row):
            return verdict, "before the exit: " + verdict
        return verdict, ""

    @staticmethod
    def before_exit(row):
        """What the target may be before the program's exit: the write in
        place may tear, and its tears are counted, not judged."""
        if row.in_place:
            return ("old", "new", "empty", "torn")
        return ("old" if row.target_exists else "absent", "new")

    @staticmethod
    def read_target(folder, old, new):
        """What `folder` holds as "t" (absent, old, new, empty or torn),
        and the names in it."""
        try:
            names = os.listdir(folder)
        except OSError as e:
            return "no folder (%s)" % e.strerror, []
        if "t" not in names:
            return "absent", names
        try:
            with open(os.path.join(folder, "t"), "rb") as f:
                data = f.read()
        except OSError as e:
            return "unreadable (%s)" % e.strerror, names
        if data == new:
            return "new", names
        if data == old:
            return "old", names
        return ("empty" if not data else "torn"), names


def main():
    global ARGS
    p = harness.parser("crash states of a copy on ext4, xfs and btrfs")
    p.add_argument("--blocklog", default="", help="the block-log FUSE file system")
    p.add_argument("--shim", default="", help="the fault shim, for the negative control")
    p.add_argument("--deep", action="store_true", help="4 KiB units, more subsets, larger files")
    args, rest = p.parse_known_args()
    ARGS = harness.configure(args)
    ARGS.blocklog = os.path.abspath(ARGS.blocklog) if ARGS.blocklog else ""
    ARGS.shim = os.path.abspath(ARGS.shim) if ARGS.shim else ""
    harness.run_cases([sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
