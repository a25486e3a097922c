#!/usr/bin/env python3
"""pickcopy's performance, each figure beside a peer measured in the same run.

Called by bench/run. Prints a Markdown table: medians of --runs runs and the
ratio to the peer, with the goal of each row; then the copies of 1 GiB side
by side, each run onto a fresh target, as copy_runs() describes.
"""
import argparse
import atexit
import contextlib
import json
import math
import os
import pty
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ARGS = None


def log(text):
    print(text, file=sys.stderr, flush=True)


def prepare(cache):
    """Makes the data once; a marker file says a folder is complete."""
    def once(name, make):
        path = os.path.join(cache, name)
        if not os.path.exists(path + ".done"):
            log("preparing %s ..." % name)
            subprocess.run(["rm", "-rf", path], check=True)
            os.makedirs(path)
            make(path)
            open(path + ".done", "w").close()
        return path

    def files(count, text):
        def make(path):
            for i in range(count):
                with open(os.path.join(path, "f%07d.txt" % i), "w") as f:
                    f.write(text % i if "%" in text else text)
        return make

    def large(path):
        # Sparse files: what is measured is that only a first line is read.
        for i in range(25):
            with open(os.path.join(path, "v%02d.bin" % i), "wb") as f:
                f.write(b"variant %d of 200 MiB\n" % i)
                f.truncate(200 << 20)

    def sparse(path):
        # 1 GiB with 8 KiB of data: 4 KiB at the start, 4 KiB in the middle.
        with open(os.path.join(path, "sparse-1g"), "wb") as f:
            f.write(os.urandom(4096))
            f.seek(512 << 20)
            f.write(os.urandom(4096))
            f.truncate(1 << 30)

    os.makedirs(cache, exist_ok=True)
    # The copies' files are real data, made for each run and deleted after
    # it (copy_files); earlier versions kept 2 GiB of them here.
    if os.path.exists(os.path.join(cache, "copy.done")):
        log("removing the kept copy data of an earlier version ...")
        subprocess.run(["rm", "-rf", os.path.join(cache, "copy"), os.path.join(cache, "copy.done")],
                       check=True)
    if ARGS.only:
        return {"sparse": once("sparse", sparse)}
    return {
        "sparse": once("sparse", sparse),
        "big": once("big", files(1000000, "")),
        "small": once("small", files(100, "")),
        "names": once("names", files(50000, "name %d\n")),
        "large": once("large", large),
        "tiny": once("tiny", files(25, "tiny %03d\n")),
    }


def run_once(cmd, stdin=b"", cwd=None):
    """Wall time of one run, and its peak resident set in KiB where the
    command is started through the RSS probe (0 otherwise)."""
    env = dict(os.environ)
    rss_file = None
    if os.path.basename(cmd[0]) == "rss_probe":
        fd, rss_file = tempfile.mkstemp()
        os.close(fd)
        env["RSS_OUT"] = rss_file
    t0 = time.perf_counter()
    subprocess.run(cmd, cwd=cwd, input=stdin, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - t0
    rss = 0
    if rss_file:
        with open(rss_file) as f:
            rss = int(f.read() or 0)
        os.unlink(rss_file)
    return elapsed, rss, 0


def run_set(cmds):
    """Runs the commands back to back: summed wall time, peak RSS of the
    first."""
    total, rss = 0.0, 0
    for i, (cmd, stdin, cwd) in enumerate(cmds):
        t, r, _ = run_once(cmd, stdin, cwd)
        total += t
        if i == 0:
            rss = r
    return total, rss


def compare(mine, peer, runs=None, before=None):
    """Medians of `runs` runs of each, taken in turn (mine, peer, mine...)
    so that a drift of the machine touches both alike; and the largest peak
    RSS of each."""
    result = {"mine": ([], 0), "peer": ([], 0)}
    for _ in range(runs or ARGS.runs):
        for key, cmds in (("mine", mine), ("peer", peer)):
            if before:
                before()
            t, r = run_set(cmds)
            times, rss = result[key]
            times.append(t)
            result[key] = (times, max(rss, r))
    return [(statistics.median(result[k][0]), result[k][1]) for k in ("mine", "peer")]


MIB = 1 << 20


def write_data(path, mib, seed):
    """A file of real data: `mib` MiB, each MiB a block made from `seed`
    with its own number in front, flushed to the disk."""
    block = bytearray(random.Random(seed).randbytes(MIB))
    with open(path, "wb") as f:
        for i in range(mib):
            block[:8] = i.to_bytes(8, "little")
            f.write(block)
        f.flush()
        os.fsync(f.fileno())


def drop_caches():
    """Flushes everything and drops the page cache, so that every run reads
    its source from the disk. Returns why it could not drop it, or ""."""
    subprocess.run(["sync"], check=True)
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        return ""
    except OSError as e:
        return e.strerror + ("" if os.geteuid() == 0 else " (not run as root)")


def copy_runs(folder, tools, size_mib):
    """Times each tool's copy of `src` onto `target` in `folder`, ARGS.runs
    times. Before every run the target is made afresh: the old one removed,
    a new one of other content of the same size written and flushed, and
    the page cache dropped where that can be done, so that each tool starts
    from the same state. The order of the tools is rotated from run to run.
    tools: (name, [(command, stdin)...]); the first command of each is
    started through the RSS probe. Returns {name: (times, peak RSS)} and
    why the cache was not dropped ("" where it was)."""
    result = {name: ([], 0) for name, _ in tools}
    target = os.path.join(folder, "target")
    source_size = os.stat(os.path.join(folder, "src")).st_size
    not_dropped = ""
    for run in range(ARGS.runs):
        turn = run % len(tools)
        for name, cmds in tools[turn:] + tools[:turn]:
            if os.path.exists(target):
                os.unlink(target)
            write_data(target, size_mib, seed=1000 + run)
            why = drop_caches()
            if why and not not_dropped:
                log("  the page cache cannot be dropped before the runs: %s" % why)
            not_dropped = why or not_dropped
            t, rss = 0.0, 0
            fd, rss_file = tempfile.mkstemp()
            os.close(fd)
            for i, (cmd, stdin) in enumerate(cmds):
                if i == 0:
                    cmd = [os.path.abspath(ARGS.rss_probe)] + cmd
                t0 = time.perf_counter()
                done = subprocess.run(cmd, cwd=folder, input=stdin, capture_output=True,
                                      env=dict(os.environ, RSS_OUT=rss_file))
                t += time.perf_counter() - t0
                if done.returncode != 0:
                    sys.exit("%s failed (status %d): %s" % (" ".join(cmd), done.returncode,
                                                            done.stderr.decode(errors="replace")))
            with open(rss_file) as f:
                rss = int(f.read() or 0)
            os.unlink(rss_file)
            with open(target, "rb") as a, open(os.path.join(folder, "src"), "rb") as b:
                same = os.fstat(a.fileno()).st_size == source_size and a.read(MIB) == b.read(MIB)
            if not same:
                sys.exit("%s left a target that is not the source" % name)
            times, peak = result[name]
            times.append(t)
            result[name] = (times, max(peak, rss))
            log("  run %d, %s: %s" % (run + 1, name, fmt_time(t)))
    os.unlink(target)
    return result, not_dropped


def fmt_time(t):
    return "%.1f ms" % (t * 1e3) if t < 10 else "%.2f s" % t


def unwritten():
    """The data the machine holds that are not yet on their disks: Dirty:
    and Writeback: of /proc/meminfo, in bytes."""
    total = 0
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith(("Dirty:", "Writeback:")):
                total += int(line.split()[1]) << 10
    return total


class UnwrittenPeak:
    """While in use, samples unwritten() every 10 ms on a thread of its
    own; `peak` is the most it rose above what it was at the start."""

    def __enter__(self):
        self.base, self.peak = unwritten(), 0
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.sample)
        self.thread.start()
        return self

    def sample(self):
        while not self.done.wait(0.01):
            self.peak = max(self.peak, unwritten() - self.base)

    def __exit__(self, *exc):
        self.done.set()
        self.thread.join()
        self.peak = max(self.peak, unwritten() - self.base)


def on_terminal(cmd, cwd, answer):
    """Runs `cmd` on a new pseudo-terminal and types `answer` at its prompt.
    Returns the seconds from the answer to the end, the seconds the screen
    was silent at the end (since the last progress line was drawn, or
    since the answer where none was), the longest the screen was silent
    (between two lines drawn, after the last, or after the answer less the
    quiet first second), and how many lines were drawn."""
    pid, fd = pty.fork()
    if pid == 0:
        try:
            os.chdir(cwd)
            os.execvp(cmd[0], cmd)
        finally:
            os._exit(127)
    seen, answered, drawn = b"", None, []
    while True:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break  # the terminal is gone with the program
        if not chunk:
            break
        now = time.perf_counter()
        seen += chunk
        if answered is None and b"please indicate your choice" in seen:
            os.write(fd, answer)
            answered = now
        elif answered is not None:
            drawn += [now] * chunk.count(b"%")
    os.close(fd)
    _, status = os.waitpid(pid, 0)
    end = time.perf_counter()
    if os.waitstatus_to_exitcode(status) != 0 or answered is None:
        sys.exit("%s failed: %r" % (" ".join(cmd), seen[-300:]))
    changes = [answered + 1.0] + drawn + [end]
    longest = max(max(b - a for a, b in zip(changes, changes[1:])), 0)
    return end - answered, end - (drawn[-1] if drawn else answered), longest, len(drawn)
def run_checked(args, **kwargs):
    done = subprocess.run(args, capture_output=True, **kwargs)
    if done.returncode != 0:
        sys.exit("%s: %s" % (" ".join(args), done.stderr.decode(errors="replace").strip()))
    return done.stdout.decode().strip()


@contextlib.contextmanager
def slow_disk(folder, rate_mb, gib):
    """ext4 on a disk that reads and writes `rate_mb` MB/s: a loop device
    over the tests' blocklog with a rate limit and no log, as the crash-state
    test mounts it. The disk's image lies in a tmpfs of its own, so that
    what the disk holds never counts as the machine's unwritten data.
    Yields the folder where the file system is mounted."""
    with contextlib.ExitStack() as stack:
        ram, served, mounted = (os.path.join(folder, n) for n in ("ram", "served", "slow"))
        for path in (ram, served, mounted):
            os.mkdir(path)
        run_checked(["mount", "-t", "tmpfs", "-o", "size=%dm" % ((gib << 10) + 256), "tmpfs", ram])
        stack.callback(subprocess.run, ["umount", ram])
        image = os.path.join(ram, "disk.img")
        with open(image, "wb") as f:
            f.truncate(gib << 30)
        run_checked(["mkfs.ext4", "-q", "-F", "-E",
                     "lazy_itable_init=0,lazy_journal_init=0,nodiscard", image])
        daemon = subprocess.Popen([os.path.abspath(ARGS.blocklog), "--rate", str(rate_mb), image,
                                   "-", served], stdout=subprocess.DEVNULL)

        def stop():
            subprocess.run(["fusermount3", "-u", served], capture_output=True)
            try:
                daemon.wait(timeout=10)
            except subprocess.TimeoutExpired:
                daemon.kill()
                daemon.wait()
        stack.callback(stop)
        for _ in range(200):
            if os.path.ismount(served) or daemon.poll() is not None:
                break
            time.sleep(0.02)
        if not os.path.ismount(served):
            sys.exit("blocklog did not mount")
        device = run_checked(["losetup", "--find", "--show", os.path.join(served, "disk")])
        stack.callback(subprocess.run, ["losetup", "-d", device])
        run_checked(["mount", device, mounted])
        stack.callback(subprocess.run, ["umount", mounted])
        yield mounted


def slow_disk_runs(folder, source, pickcopy, size_mib):
    """The copy of `source` onto an existing target on a slow disk, by
    pickcopy on a terminal and by `cp` + `sync`, ARGS.runs times each, each
    run from the same state as copy_runs() makes it, the order rotated.
    Returns {name: [(seconds, seconds silent at the end, longest silence,
    peak unwritten bytes, lines drawn)...]}."""
    answer = b"a\n"
    target = os.path.join(folder, "target")

    def pick():
        return on_terminal([pickcopy, "target", source], folder, answer)

    def cp_sync():
        t0 = time.perf_counter()
        run_checked(["cp", source, target])
        run_checked(["sync", target])
        t = time.perf_counter() - t0
        return t, t, t - 1.0, 0

    tools = [("pickcopy", pick), ("cp_sync", cp_sync)]
    result = {name: [] for name, _ in tools}
    for run in range(ARGS.runs):
        turn = run % len(tools)
        for name, copy in tools[turn:] + tools[:turn]:
            if os.path.exists(target):
                os.unlink(target)
            write_data(target, size_mib, seed=1000 + run)
            drop_caches()
            with UnwrittenPeak() as unwritten_peak:
                t, silent, longest, drawn = copy()
            result[name].append((t, silent, longest, unwritten_peak.peak, drawn))
            log("  run %d, %s: %s, silent %.2f s at the end and %.2f s at the longest, %d MiB "
                "unwritten at the peak, %d lines" % (run + 1, name, fmt_time(t), silent, longest,
                                                     unwritten_peak.peak >> 20, drawn))
    return result


def slow_disk_rows(copy, pickcopy, size, rows):
    """The rows of the copies onto a slow disk, added to `rows`; their runs,
    or None where they cannot be made (not root, no blocklog)."""
    why = ("" if ARGS.blocklog else "no blocklog (libfuse3-dev was missing)") or (
        "" if os.geteuid() == 0 else "not run as root, to mount")
    if why:
        log("copies onto a slow disk skipped: %s" % why)
        return None
    log("copies of %s onto a %d MB/s disk, %d runs ..." % (size, ARGS.disk_rate, ARGS.runs))
    gib = 2 * ARGS.copy_mib // 1024 + 1  # the old target and the new beside it
    with slow_disk(copy, ARGS.disk_rate, gib) as disk:
        runs = slow_disk_runs(disk, os.path.join(copy, "src"), pickcopy, ARGS.copy_mib)
    median = {name: statistics.median(r[0] for r in runs[name]) for name in runs}
    most = {name: [max(r[i] for r in runs[name]) for i in (1, 2, 3)] for name in runs}
    ratio = median["pickcopy"] / median["cp_sync"]
    peer = "`cp` + `sync` onto the same disk"
    met = lambda ok: "yes" if ok else "**no**"
    rows.append(("Copy of %s onto a %d MB/s disk" % (size, ARGS.disk_rate),
                 fmt_time(median["pickcopy"]), peer, fmt_time(median["cp_sync"]), "%.2f" % ratio,
                 "<= 1.05", met(ratio <= 1.05)))
    rows.append(("Seconds the screen is silent at the end of that copy, the most of a run",
                 "%.2f s" % most["pickcopy"][0], peer, "%.2f s" % most["cp_sync"][0], "",
                 "<= 1 s", met(most["pickcopy"][0] <= 1)))
    rows.append(("(reference) the longest silence of that copy after its first second",
                 "%.2f s" % most["pickcopy"][1], peer, "%.2f s" % most["cp_sync"][1], "",
                 "reference", ""))
    rows.append(("Unwritten data (Dirty + Writeback) at the peak of that copy, the most of a run",
                 "%d MiB" % (most["pickcopy"][2] >> 20), peer,
                 "%d MiB" % (most["cp_sync"][2] >> 20), "", "<= 256 MiB",
                 met(most["pickcopy"][2] <= 256 << 20)))
    return runs


def print_slow_disk_runs(runs, size):
    print()
    print("Copies of %s onto ext4 on a %d MB/s disk (blocklog with a rate limit under a loop"
          " device), %d runs, each from the same state as above; pickcopy on a terminal."
          % (size, ARGS.disk_rate, ARGS.runs))
    print()
    print("| copy | each run: seconds; silent at the end; the longest silence; MiB unwritten"
          " at the peak; lines drawn |")
    print("|---|---|")
    for name, shown in (("pickcopy", "pickcopy"), ("cp_sync", "`cp` + `sync`")):
        print("| %s | %s |" % (shown, "<br>".join("%.2f s; %.2f s; %.2f s; %d MiB; %d" % (
            t, silent, longest, peak >> 20, drawn)
            for t, silent, longest, peak, drawn in runs[name])))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--sort-bench", required=True)
    parser.add_argument("--rss-probe", required=True)
    parser.add_argument("--cache", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--select-limit", type=int, default=60)
    parser.add_argument("--only", choices=["copy", "slow-disk"],
                        help="run only the copy rows, or only those onto the slow disk")
    parser.add_argument("--copy-mib", type=int, default=1024,
                        help="the size of the copies (1024; less only to try the bench out)")
    parser.add_argument("--windows-binary", default="",
                        help="pickcopy.exe to time under Wine beside the interpreter's copy")
    parser.add_argument("--wine", default="wine", help="the Wine loader for --windows-binary")
    parser.add_argument("--blocklog", default="",
                        help="the tests' blocklog, for the copies onto a slow disk (as root)")
    parser.add_argument("--disk-rate", type=int, default=150, help="the slow disk's MB/s (150)")
    ARGS = parser.parse_args()
    pickcopy = os.path.abspath(ARGS.binary)
    data = prepare(ARGS.cache)
    cache = ARGS.cache
    # The menu rows time the menu and the answer: their target lies in a
    # folder that does not exist, so the copy stops as soon as it starts
    # instead of copying a candidate of 200 MiB.
    scratch = tempfile.mkdtemp(prefix="pickcopy-bench-")
    target = os.path.join(scratch, "missing", "target")
    rss_probe = os.path.abspath(ARGS.rss_probe)
    rows = []

    def row(what, mine, peer_name, peer, goal, ok):
        ratio = mine / peer if peer else float("nan")
        rows.append((what, fmt_time(mine), peer_name, fmt_time(peer), "%.2f" % ratio, goal,
                     "yes" if ok(ratio) else "**no**"))
        log("%s: %s vs %s = %.2f" % (what, fmt_time(mine), fmt_time(peer), ratio))

    answer = b"a\n"
    names_rss = None
    if not ARGS.only:
        log("menu over a folder of 1,000,000 entries ...")
        (big, _), (small, _) = compare([([pickcopy, target, "big/*"], answer, cache)],
                                       [([pickcopy, target, "small/*"], answer, cache)],
                                       runs=2 * ARGS.runs + 1)
        row("Menu for quoted `big/*`, 1,000,000 entries", big, "same over 100 entries", small,
            "<= 1.2", lambda r: r <= 1.2)
        # bash's select lists all the names before it reads; one run, bounded.
        t0 = time.perf_counter()
        try:
            subprocess.run(["bash", "-c", "PS3=; select f in big/*; do break; done"], input=b"1\n",
                           cwd=cache, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=ARGS.select_limit)
            select = fmt_time(time.perf_counter() - t0)
        except subprocess.TimeoutExpired:
            select = "not done after %d s" % ARGS.select_limit
        rows.append(("(reference) bash `select` over `big/*`, one run", select, "", "", "", "", ""))

        log("50,000 names expanded by the shell ...")
        names = sorted("names/" + n for n in os.listdir(data["names"]))
        (mine, _), (peer, _) = compare([([pickcopy, target] + names, answer, cache)],
                                       [(["ls", "-1dv"] + names, b"", cache)], runs=2 * ARGS.runs + 1)
        _, names_rss = run_set([([rss_probe, pickcopy, target] + names, answer, cache)])
        row("50,000 plain names as arguments, menu and answer", mine, "`ls -1dv` over them", peer,
            "<= 0.8", lambda r: r <= 0.8)

        log("25 candidates of 200 MiB ...")
        (mine, _), (peer, _) = compare([([pickcopy, target, "large/*"], answer, cache)],
                                       [([pickcopy, target, "tiny/*"], answer, cache)],
                                       runs=2 * ARGS.runs + 1)
        row("Menu of 25 candidates of 200 MiB", mine, "25 of 10 bytes", peer, "<= 1.2",
            lambda r: r <= 1.2)

    # The copies' files: real data, made here and deleted at the end.
    copy = tempfile.mkdtemp(prefix="copy-", dir=cache)
    atexit.register(shutil.rmtree, copy, True)
    size = "1 GiB" if ARGS.copy_mib == 1024 else "%d MiB" % ARGS.copy_mib
    log("writing %s of data to copy ..." % size)
    write_data(os.path.join(copy, "src"), ARGS.copy_mib, seed=1)
    write_data(os.path.join(copy, "src-1m"), 1, seed=2)
    fast = ARGS.only != "slow-disk"
    memory = []
    if fast:
        log("copies of %s onto a fresh target, %d runs ..." % (size, ARGS.runs))
        # cp rewrites the target in place, which is neither atomic nor what a
        # crash leaves whole; the third is the same atomic, durable replacement
        # done with the usual tools.
        names = ("pickcopy", "`cp` + `sync`", "`cp` to a temporary file, `sync`, `mv`, `sync`")
        copies, not_dropped = copy_runs(copy, [
            (names[0], [([pickcopy, "target", "src"], answer)]),
            (names[1], [(["cp", "src", "target"], b""), (["sync", "target"], b"")]),
            (names[2], [(["cp", "src", ".tmp-cp"], b""), (["sync", ".tmp-cp"], b""),
                        (["mv", ".tmp-cp", "target"], b""), (["sync", "."], b"")]),
        ], ARGS.copy_mib)
        medians = {name: statistics.median(copies[name][0]) for name in names}
        copy_rss, cp_rss = copies[names[0]][1], copies[names[1]][1]
        row("Copy of %s onto an existing target" % size, medians[names[0]], "`cp` + `sync` of the target",
            medians[names[1]], "<= 1.05", lambda r: r <= 1.05)
        row("(reference) the same copy", medians[names[0]],
            "`cp` to a temporary file, `sync` it, `mv` it over the target, `sync` the folder",
            medians[names[2]], "", lambda r: True)
        rows[-1] = rows[-1][:5] + ("reference", "")
        settle = lambda: subprocess.run(["sync"], check=True)
        log("sparse copy of 1 GiB with 8 KiB of data ...")
        sparse_src = os.path.join(data["sparse"], "sparse-1g")
        blocks = lambda name: os.stat(os.path.join(copy, name)).st_blocks * 512
        (mine, _), (peer, _) = compare(
            [([pickcopy, "target-sparse", sparse_src], answer, copy)],
            [(["cp", sparse_src, "target-sparse-cp"], b"", copy),
             (["sync", "target-sparse-cp"], b"", copy)], before=settle)
        row("Copy of a sparse 1 GiB with 8 KiB of data", mine, "`cp` + `sync`", peer,
            "<= 1.2", lambda r: r <= 1.2)
        rows.append(("Blocks allocated by that copy", "%d KiB" % (blocks("target-sparse") >> 10),
                     "`cp`", "%d KiB" % (blocks("target-sparse-cp") >> 10), "",
                     "<= cp", "yes" if blocks("target-sparse") <= blocks("target-sparse-cp") else "**no**"))
        if ARGS.windows_binary:
            # Under Wine the figures are only indicative. The interpreter's copy
            # does not flush; a sync after it makes the two do the same work.
            log("copy of 1 GiB under Wine ...")
            exe = os.path.abspath(ARGS.windows_binary)
            quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-p"], **quiet)
            subprocess.run([ARGS.wine, "cmd", "/c", "exit"], **quiet)
            wine, _ = copy_runs(copy, [
                ("pickcopy.exe", [([ARGS.wine, exe, "target", "src"], answer)]),
                ("copy", [([ARGS.wine, "cmd", "/c", "copy", "/y", "src", "target"], b""),
                          (["sync", "target"], b"")]),
            ], ARGS.copy_mib)
            subprocess.run(["wineserver", "-k"], **quiet)
            row("Copy of %s under Wine, 64-bit `pickcopy.exe`" % size,
                statistics.median(wine["pickcopy.exe"][0]), "`copy` under Wine + `sync`",
                statistics.median(wine["copy"][0]), "<= 1.0", lambda r: r <= 1.0)
        (_, small_rss), (_, cp_small_rss) = compare(
            [([rss_probe, pickcopy, "target-1m", "src-1m"], answer, copy)],
            [([rss_probe, "cp", "src-1m", "target-cp-1m"], b"", copy)], runs=3)
        memory += [
            ("Peak RSS, copy of %s" % size, "%d KiB" % copy_rss, "`cp`", "%d KiB" % cp_rss,
             "<= cp", "yes" if copy_rss <= cp_rss else "**no**"),
            ("Peak RSS, copy of 1 MiB", "%d KiB" % small_rss, "`cp`", "%d KiB" % cp_small_rss,
             "same as 1 GiB", "yes" if abs(small_rss - copy_rss) <= 256 else "**no**"),
        ]
    slow = slow_disk_rows(copy, pickcopy, size, rows)
    subprocess.run(["rm", "-rf", scratch, copy])

    if names_rss is not None:
        memory.append(("Peak RSS, 50,000 names", "%d KiB" % names_rss, "", "", "< 8 MiB",
                       "yes" if names_rss < 8192 else "**no**"))

    print("| What | pickcopy | Peer | Peer's figure | Ratio | Goal | Met |")
    print("|---|---|---|---|---|---|---|")
    for r in rows:
        print("| %s |" % " | ".join(r))
    for r in memory:
        print("| %s | %s | %s | %s | | %s | %s |" % r)

    if fast:
        print()
        print("Copies of %s of real data, %d runs. Before each run the target is made afresh"
              " (%s of other content, written and flushed), %s; the order of the three is"
              " rotated from run to run." % (size, ARGS.runs, size,
                                             "the page cache dropped" if not not_dropped
                                             else "the page cache NOT dropped (%s)" % not_dropped))
        print()
        print("| copy | median | each run, in order | pickcopy's median over this one |")
        print("|---|---|---|---|")
        for name in names:
            ratio = "" if name == names[0] else "%.2fx" % (medians[names[0]] / medians[name])
            print("| %s | %.0f ms | %s | %s |" % (name, medians[name] * 1e3,
                                                 ", ".join("%.0f" % (t * 1e3) for t in copies[name][0]),
                                                 ratio))
    if slow:
        print_slow_disk_runs(slow, size)
    if ARGS.only:
        return

    log("sort benchmark ...")
    out = subprocess.run([ARGS.sort_bench, "--benchmark_format=json",
                          "--benchmark_min_time=1"], capture_output=True, check=True).stdout
    sorts = []
    for b in json.loads(out)["benchmarks"]:
        if b["name"].startswith("BM_sort_choices/"):
            n = int(b["name"].split("/")[1])
            per_name = b["real_time"] * 1e6 / n  # ms -> ns
            sorts.append((n, per_name))
        elif b["name"] == "BM_compare_names":
            compare_ns = b["real_time"]

    print()
    print("`compare_names`: %.1f ns a call." % compare_ns)
    print()
    print("| Names | `sort_choices`, ns a name | ns a name / log2 n | Growth of time a name vs. next smaller size | Growth of log n |")
    print("|---|---|---|---|---|")
    previous = None
    for n, per_name in sorts:
        growth = "%.2f" % (per_name / previous[1]) if previous else ""
        log_growth = "%.2f" % (math.log2(n) / math.log2(previous[0])) if previous else ""
        print("| %d | %.0f | %.1f | %s | %s |" % (n, per_name, per_name / math.log2(n), growth, log_growth))
        previous = (n, per_name)


if __name__ == "__main__":
    main()
