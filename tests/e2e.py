#!/usr/bin/env python3
"""End-to-end tests: the real pickcopy binary in real temporary folders.

    e2e.py --binary PATH [--sep SEP] [--runner CMD] [--sanitized]
           [--hold-open PATH] [unittest args]

--sep is the platform's path separator ('\\' for the Windows build) and
--runner a program that starts the binary (qemu-user, wine). On Windows the
streams are in text mode, so a newline reaches the pipe as CR LF; the
driver compares the dialogue after folding CR LF back.
"""
import errno
import os
import re
import signal
import stat
import subprocess
import sys
import time
import unittest

from harness import (GROUP2, HELP, OTHER, PROMPT, USAGE, USER, Folder, as_user, echo, identity,
                     menu, native, need_tool, run, windows)
import harness
from e2e_windows import WindowsCopy, WindowsSearch  # noqa: F401 (run with the rest)

ARGS = None


def posix_only(test):
    """Marks a case that cannot exist on Windows (links, modes, FIFOs...)."""
    def wrapper(self):
        if windows():
            self.skipTest("cannot exist on Windows")
        test(self)
    wrapper.__name__ = test.__name__
    return wrapper



class Usage(unittest.TestCase):
    def test_too_few_arguments_help_and_version(self):
        folder = Folder(self)
        version = "pickcopy %s\n" % harness.VERSION
        no_entries = ("\n", PROMPT + "\npickcopy: standard input: end of input\n")
        # arguments, status, standard output, standard error
        cases = [
            ([], 1, "", USAGE),
            (["target.txt"], 1, "", USAGE),
            (["--help"], 0, HELP, ""),
            (["--version"], 0, version, ""),
            (["/?"], 0, HELP, "") if windows() else (["/?"], 1, "", USAGE),
            (["-h"], 1, "", USAGE),
            (["-help"], 1, "", USAGE),
            (["--HELP"], 1, "", USAGE),
            (["--help "], 1, "", USAGE),
            (["-?"], 1, "", USAGE),
            (["--version=1"], 1, "", USAGE),
            (["-V"], 1, "", USAGE),
            # With a pattern after it, each is a target's name like any other.
            (["--help", "nothing*"], 1) + no_entries,
            (["--version", "nothing*"], 1) + no_entries,
            (["/?", "nothing*"], 1) + no_entries,
        ]
        for args, rc, out, err in cases:
            r = run(folder, args)
            self.assertEqual((r.rc, r.out, r.err), (rc, out, err), args)
        self.assertEqual(os.listdir(folder.path), [])

    @posix_only
    def test_help_and_version_that_cannot_be_written_fail(self):
        with open("/dev/full", "wb") as full:
            for args in (["--help"], ["--version"]):
                cmd, _ = harness.command(args)
                proc = subprocess.run(cmd, stdout=full, stderr=subprocess.PIPE, timeout=60)
                self.assertEqual((proc.returncode, proc.stderr),
                                 (1, b"pickcopy: standard output: No space left on device\n"), args)

    def test_one_pattern_shows_the_menu(self):
        folder = Folder(self)
        folder.write("only.txt", "first\n")
        r = run(folder, ["t.txt", "only.txt"], "a\n")
        self.assertEqual(r.out, menu("first\n") + "\n" + echo("only.txt", "t.txt"))
        self.assertEqual((r.rc, r.err), (0, PROMPT))


class Dialogue(unittest.TestCase):
    def setUp(self):
        self.folder = Folder(self)
        self.folder.write("cfg/opt10.txt", "ten\n")
        self.folder.write("cfg/opt1.txt", "one\r\n")
        self.folder.write("cfg/opt2.txt", "two\n")
        self.folder.write("target.txt", "old\n")
        self.pattern = native("cfg/opt*.txt")
        self.shown = menu("one\n", "two\n", "ten\n")

    def test_typical_run(self):
        # Natural order holds behind a folder part that both names share.
        for pattern in ("cfg/opt*.txt", "./cfg/opt*.txt", "../%s/cfg/opt*.txt"):
            self.folder.write("target.txt", "old\n")
            if "%s" in pattern:
                pattern = pattern % os.path.basename(self.folder.path)
            r = run(self.folder, ["target.txt", native(pattern)], "c\n")
            name = native(pattern.replace("*", "10"))
            self.assertEqual(r.out, self.shown + "\n" + echo(name, "target.txt"), pattern)
            self.assertEqual((r.rc, r.err), (0, PROMPT))
            self.assertEqual(self.folder.read("target.txt"), b"ten\n")

    @posix_only
    def test_wildcards_in_folder_names_and_names_the_shell_gave(self):
        for name, line in (("cfg/b/app.conf", "b\n"), ("cfg/a/app.conf", "a\n"),
                           ("cfg/a/other", "x\n"), ("cfg/.hidden/app.conf", "h\n"),
                           ("cfx/c/app.conf", "c\n"), ("cfg/file", "f\n"),
                           ("a1.txt", "1\n"), ("a[1].txt", "[1]\n"), ("b*.txt", "*\n"),
                           ("bx.txt", "x\n")):
            self.folder.write(name, line)
        # The patterns of a row are its words.
        for patterns, shown in (("cf?/*/app.conf", ["a\n", "b\n", "c\n"]),
                                ("cfg/*/", ["can't open\n"] * 2),
                                ("cfg/[a-b]/a*", ["a\n", "b\n"]),
                                ("./c*/.*/app.conf", ["h\n"]),
                                ("cfg/*/nothing", []),
                                # a*.txt b*.txt, as the shell expands them
                                ("a1.txt a[1].txt b*.txt bx.txt", ["1\n", "[1]\n", "*\n", "x\n"])):
            r = run(self.folder, ["target.txt"] + patterns.split(), "z\n")
            self.assertEqual(r.out, menu(*shown) + "\nincorrect response\n\n", patterns)

    def test_answer_forms_select_the_second_entry(self):
        for answer in ("b\n", "B\n", "bcdef\n", "banana\n", "   \tb\n", "b"):
            self.folder.write("target.txt", "old\n")
            r = run(self.folder, ["target.txt", self.pattern], answer)
            self.assertEqual(r.rc, 0, answer)
            self.assertEqual(self.folder.read("target.txt"), b"two\n", answer)

    def test_blank_answers_repeat_only_the_prompt(self):
        r = run(self.folder, ["target.txt", self.pattern], "\n  \t\nb\n")
        self.assertEqual(r.out, self.shown + "\n" + echo(native("cfg/opt2.txt"), "target.txt"))
        self.assertEqual(r.err, PROMPT * 3)

    def test_incorrect_response(self):
        r = run(self.folder, ["target.txt", self.pattern], "d\n1\nA\n")
        bad = "incorrect response\n"
        self.assertEqual(r.out, self.shown + "\n" + bad + "\n" + bad + "\n" +
                         echo(native("cfg/opt1.txt"), "target.txt"))
        self.assertEqual((r.rc, r.err), (0, PROMPT * 3))

    def test_long_input_line_is_read_in_pieces(self):
        r = run(self.folder, ["target.txt", self.pattern], "x" * 400 + "\nb\n")
        bad = "\nincorrect response\n"
        self.assertEqual(r.out, self.shown + bad * 3 + "\n" + echo(native("cfg/opt2.txt"), "target.txt"))
        self.assertEqual(r.err, PROMPT * 4)

    def test_end_of_input_stops_without_touching_the_target(self):
        for answer in ("", "\n \n", "zz\n", "q"):
            r = run(self.folder, ["target.txt", self.pattern], answer)
            self.assertEqual(r.rc, 1, answer)
            self.assertTrue(r.err.endswith("\npickcopy: standard input: end of input\n"), r.err)
            self.assertEqual(r.err.count("pickcopy: "), 1)
            self.assertNotIn("The command is", r.out)
            self.assertEqual(self.folder.read("target.txt"), b"old\n")

    def test_arbitrary_bytes_on_input(self):
        # No piece of this starts with a valid letter: a NUL ends each text.
        junk = (b"\0\0\xff\xfe" + b"\x80" * 100000 + b"\n\0a\n" +
                bytes(range(0x80, 0x100)) * 40 + b" \t\r\v\f" * 500)
        r = run(self.folder, ["target.txt", self.pattern], junk)
        self.assertEqual(r.rc, 1)
        self.assertEqual(self.folder.read("target.txt"), b"old\n")
        r = run(self.folder, ["target.txt", self.pattern], b"\xff\0\n\0\0\nc\n")
        self.assertEqual(r.rc, 0)
        self.assertEqual(self.folder.read("target.txt"), b"ten\n")

    @posix_only
    def test_non_blocking_input_is_waited_for(self):
        read_end, write_end = os.pipe()
        os.set_blocking(read_end, False)
        cmd, _ = harness.command(["target.txt", self.pattern])
        proc = subprocess.Popen(cmd, cwd=self.folder.path, stdin=read_end, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        os.close(read_end)
        time.sleep(0.3)
        os.write(write_end, b"b\n")
        os.close(write_end)
        out, err = proc.communicate(timeout=60)
        self.assertEqual((proc.returncode, err), (0, PROMPT.encode()))
        self.assertEqual(self.folder.read("target.txt"), b"two\n")

    def test_no_entries_every_answer_is_incorrect(self):
        r = run(self.folder, ["target.txt", native("nodir/*"), "none*.txt"], "a\n")
        self.assertEqual(r.out, "\nincorrect response\n\n")
        self.assertEqual(r.rc, 1)


class Menu(unittest.TestCase):
    def entries(self, count, answer):
        folder = Folder(self)
        for i in range(count):
            folder.write("m/f%02d.txt" % i, "line %d\n" % i)
        return run(folder, ["t", native("m/f*.txt")], answer)

    def test_empty_line_only_below_23_entries(self):
        bad = "incorrect response\n"
        r = self.entries(22, "z\na\n")
        body = menu(*["line %d\n" % i for i in range(22)])
        self.assertEqual(r.out, body + "\n" + bad + "\n" + echo(native("m/f00.txt"), "t"))
        r = self.entries(23, "z\na\n")
        body = menu(*["line %d\n" % i for i in range(23)])
        self.assertEqual(r.out, body + bad + echo(native("m/f00.txt"), "t"))

    def test_first_25_names_of_a_pattern_in_search_order(self):
        folder = Folder(self)
        for i in range(30):
            folder.write("m/f%02d.txt" % i, "line %d\n" % i)
        r = run(folder, ["t", native("m/f*.txt")], "z\ny\n")
        shown = [l for l in r.out.splitlines() if l[1:3] == ") "]
        self.assertEqual(len(shown), 25)
        self.assertEqual(r.out.count("incorrect response\n"), 1)
        if not windows():
            # os.listdir reads the directory in the same order as pickcopy.
            delivered = os.listdir(os.path.join(folder.path, "m"))[:25]
            numbers = sorted(int(n[1:3]) for n in delivered)
            self.assertEqual([l[3:] for l in shown], ["line %d" % n for n in numbers])

    def test_two_patterns_over_25_in_total(self):
        folder = Folder(self)
        for i in range(20):
            folder.write("a/n%d.txt" % i, "a%d\n" % i)
            folder.write("b/n%d.txt" % i, "b%d\n" % i)
        r = run(folder, ["t", native("b/n*"), native("a/n*")], "z\ny\n")
        expected = ["a%d" % i for i in range(20)] + ["b%d" % i for i in range(5)]
        self.assertEqual([l[3:] for l in r.out.splitlines() if l[1:3] == ") "], expected)
        self.assertIn(echo(native("b/n4.txt"), "t"), r.out)

    def test_plain_names_stand_for_themselves_short_or_long(self):
        # Each argument is a name as it is, whether a short string holds it
        # or not; the menu shows the first 25 in its order, not the
        # command line's.
        folder = Folder(self)
        names = ["s%02d" % i for i in range(15)] + \
                ["a-long-name-%02d-that-no-short-string-holds.txt" % i for i in range(15)]
        for name in names:
            folder.write(name, name + "\n")
        r = run(folder, ["t"] + names[::-1], "y\n")
        self.assertEqual([l[3:] for l in r.out.splitlines() if l[1:3] == ") "], sorted(names)[:25])
        self.assertIn(echo("s09", "t"), r.out)
        self.assertEqual(folder.read("t"), b"s09\n")

    def test_same_file_from_two_patterns_is_listed_twice(self):
        folder = Folder(self)
        folder.write("same.txt", "same\n")
        r = run(folder, ["t", "same.txt", "s*.txt"], "b\n")
        self.assertEqual(r.out, menu("same\n", "same\n") + "\n" + echo("same.txt", "t"))

    def test_first_lines(self):
        folder = Folder(self)
        chapter = ("Chapter ten: the long one, whose first line runs on well past the "
                   "seventy-five column limit of the menu")
        files = [
            ("f01", "crlf\r\nsecond\r\n", "crlf\n"),
            ("f02", "before\x1aafter\n", "before"),
            ("f03", "", "can't open\n"),
            ("f04", "\x1a", "can't open\n"),
            ("f05", "nul\0hidden\n", "nul"),
            ("f06", "x" * 600 + "\n", None),
            ("f07", chapter + "\n", chapter[:65] + "\n     " + chapter[65:] + "\n"),
            ("f08", "last line without newline", "last line without newline"),
        ]
        for name, data, _ in files:
            folder.write(name, data)
        os.mkdir(os.path.join(folder.path, "f09"))
        # The empty file shows "can't open", yet it was opened: it is chosen.
        folder.write("t", "old\n")
        r = run(folder, ["t"] + [f[0] for f in files] + ["f09"], "c\n")
        long_line = "\n     ".join(["x" * 75] * 6) + "\n     " + "x" * 49
        expected = [f[2] if f[2] is not None else long_line for f in files] + ["can't open\n"]
        self.assertEqual(r.out, menu(*expected) + "\n" + echo("f03", "t"))
        self.assertEqual((r.rc, folder.read("t")), (0, b""))


class Names(unittest.TestCase):
    HOSTILE = ["a b.txt", "it's.txt", "semi;colon.txt", "amp&er.txt", "dollar$HOME.txt",
               "back`id`.txt", "paren(s).txt", "-dash.txt", "x&del t.txt"]
    POSIX_HOSTILE = ["quo\"te.txt", "pi|pe.txt", "new\nline.txt", "$(touch pwned).txt",
                     "star*.txt", "que?.txt"]

    def test_hostile_names_are_listed_and_copied_as_they_are(self):
        names = self.HOSTILE + ([] if windows() else self.POSIX_HOSTILE)
        for name in names:
            folder = Folder(self)
            line = "content of %s\n" % name.replace("\n", "|")
            folder.write(name, line)
            target = "-t " + name[:3] + ".out"
            r = run(folder, [target, name], "a\n")
            self.assertEqual(r.rc, 0, (name, r.err))
            self.assertEqual(r.out, menu(line) + "\n" + echo(name, target))
            self.assertEqual(folder.read(target), line.encode("latin-1"))
            self.assertEqual(sorted(os.listdir(folder.path)), sorted([name, target]))

    def test_long_paths(self):
        folder = Folder(self)
        deep = "/".join(["d%03d" % i + "x" * 96 for i in range(14)])
        folder.write(deep + "/choice.txt", "deep\n")
        self.assertGreater(len(deep + "/choice.txt"), 1400)
        if windows():
            self.skipTest("the Windows build keeps the platform's path length")
        r = run(folder, [deep + "/target.txt", deep + "/c*.txt"], "a\n")
        self.assertEqual(r.rc, 0, r.err)
        self.assertEqual(r.out, menu("deep\n") + "\n" + echo(deep + "/choice.txt", deep + "/target.txt"))
        self.assertEqual(folder.read(deep + "/target.txt"), b"deep\n")

    @posix_only
    def test_literal_name_and_dot_files(self):
        folder = Folder(self)
        folder.write("a[1].txt", "bracket\n")
        folder.write(".hidden", "hidden\n")
        folder.write("shown", "shown\n")
        r = run(folder, ["t", "a[1].txt", "*"], "a\n")
        self.assertEqual(r.out, menu("bracket\n", "bracket\n", "shown\n") + "\n" + echo("a[1].txt", "t"))


class Copy(unittest.TestCase):
    def choose(self, folder, target, name="src.bin", pattern=None, answer="a\n", **kwargs):
        return run(folder, [target, pattern or name], answer, **kwargs)

    def test_exact_binary_copy_onto_existing_and_new_targets(self):
        folder = Folder(self)
        data = bytes(range(256)) * 4099 + b"\r\n\x1a\0tail"
        folder.write("src.bin", data)
        folder.write("old.bin", "previous contents that are longer than nothing")
        for target in ("old.bin", "new.bin"):
            r = self.choose(folder, target)
            self.assertEqual(r.rc, 0, r.err)
            self.assertEqual(folder.read(target), data)
        self.assertEqual(sorted(os.listdir(folder.path)), ["new.bin", "old.bin", "src.bin"])

    def test_directory_target_receives_the_file_under_its_name(self):
        folder = Folder(self)
        folder.write("in/src.bin", "payload\n")
        os.mkdir(os.path.join(folder.path, "out"))
        r = self.choose(folder, "out", pattern=native("in/src.*"))
        self.assertEqual(r.rc, 0, r.err)
        self.assertEqual(r.out, menu("payload\n") + "\n" + echo(native("in/src.bin"), "out"))
        self.assertEqual(folder.read("out/src.bin"), b"payload\n")

    def test_copy_onto_itself_leaves_it_intact(self):
        folder = Folder(self)
        folder.write("self.txt", "myself\n")
        r = self.choose(folder, "self.txt", "self.txt")
        self.assertEqual(folder.read("self.txt"), b"myself\n")
        self.assertEqual(os.listdir(folder.path), ["self.txt"])
        self.assertEqual(r.rc, 0, r.err)

    def assert_failed(self, r, folder, before, file_name):
        self.assertEqual(r.rc, 1)
        lines = r.err[len(PROMPT):].splitlines()
        self.assertEqual(len(lines), 1, r.err)
        self.assertTrue(lines[0].startswith("pickcopy: " + file_name + ": "), r.err)
        self.assertGreater(len(lines[0]), len("pickcopy: " + file_name + ": "))
        self.assertEqual(folder.listing(), before)
        self.assertIn("The command is: ", r.out)

    def test_failed_copies_leave_everything_as_it_was(self):
        folder = Folder(self)
        folder.write("target.txt", "keep me\n")
        os.mkdir(os.path.join(folder.path, "adir"))
        before = folder.listing()
        # The chosen entry is a directory: shown as "can't open", then refused.
        r = self.choose(folder, "target.txt", "adir")
        self.assertTrue(r.out.startswith(menu("can't open\n")))
        self.assert_failed(r, folder, before, "adir")
        # The target's folder does not exist: the message names the folder.
        r = self.choose(folder, native("missing/target.txt"), "target.txt")
        self.assert_failed(r, folder, before, native("missing/"))

    @posix_only
    def test_write_failure_leaves_target_and_folder_unchanged(self):
        import resource
        folder = Folder(self)
        folder.write("big.bin", os.urandom(1 << 20))
        folder.write("target.txt", "keep me\n")
        before = folder.listing()

        # SIGXFSZ ignored, and at its default, which would kill the copy
        # with its temporary file left behind.
        for disposition in (signal.SIG_IGN, signal.SIG_DFL):
            def limit():
                signal.signal(signal.SIGXFSZ, disposition)
                resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
            r = self.choose(folder, "target.txt", "big.bin", preexec_fn=limit)
            self.assert_failed(r, folder, before, "target.txt")
            self.assertIn("File too large", r.err)

    # candidate, the reason it cannot be copied
    SPECIAL = [("fifo", "Not a regular file"), ("socket", "Not a regular file"),
               ("/dev/null", "Not a regular file"), ("dangling", os.strerror(errno.ENOENT))]

    @posix_only
    def test_unreadable_and_special_candidates(self):
        import socket
        folder = Folder(self)
        folder.write("target.txt", "keep me\n")
        os.mkfifo(os.path.join(folder.path, "fifo"))
        os.symlink("nowhere", os.path.join(folder.path, "dangling"))
        listening = socket.socket(socket.AF_UNIX)
        self.addCleanup(listening.close)
        listening.bind(os.path.join(folder.path, "socket"))
        before = folder.listing()
        for name, reason in self.SPECIAL:
            r = self.choose(folder, "target.txt", name)
            self.assertTrue(r.out.startswith(menu("can't open\n")), name)
            self.assert_failed(r, folder, before, name)
            self.assertTrue(r.err.endswith(": %s\n" % reason), r.err)
        # Nor is a target that is not a regular file replaced.
        r = self.choose(folder, "fifo", "target.txt")
        self.assert_failed(r, folder, before, "fifo")

    # target, status, message: in a folder that takes no new files, an
    # existing file is written in place and a new one is named as missing
    KERNEL_FILES = [("/proc/self/comm", 0, ""),
                    ("/proc/self/new", 1, "pickcopy: /proc/self/new: No such file or directory\n")]

    @posix_only
    def test_files_the_kernel_keeps(self):
        if not os.path.isdir("/proc/self") or harness.qemu():
            self.skipTest("needs Linux's own /proc")
        folder = Folder(self)
        folder.write("name.txt", "renamed\n")
        for target, rc, message in self.KERNEL_FILES:
            r = run(folder, [target, "name.txt"], "a\n")
            self.assertEqual((r.rc, r.err), (rc, PROMPT + message), target)

    @posix_only
    def test_permissions_and_links(self):
        folder = Folder(self)
        src = folder.write("src.txt", "new\n")
        os.chmod(src, 0o755)
        old = folder.write("kept.txt", "old\n")
        os.chmod(old, 0o640)
        folder.write("real.txt", "old\n")
        os.symlink("real.txt", os.path.join(folder.path, "link.txt"))
        for target in ("kept.txt", "fresh.txt", "link.txt"):
            r = run(folder, [target, "src.txt"], "a\n", preexec_fn=lambda: os.umask(0o027))
            self.assertEqual(r.rc, 0, r.err)
        mode = lambda n: stat.S_IMODE(os.lstat(os.path.join(folder.path, n)).st_mode)
        self.assertEqual(mode("kept.txt"), 0o640)
        self.assertEqual(mode("fresh.txt"), 0o750)
        self.assertTrue(os.path.islink(os.path.join(folder.path, "link.txt")))
        self.assertEqual(folder.read("real.txt"), b"new\n")

    # case, the target, where it leads (None: a file of its own), status,
    # the message after the target's name, the variants afterwards
    VARIANTS = [
        ("the target a link to another variant", ".gitconfig", "dotfiles/gitconfig.work", 1,
         "leads to dotfiles/gitconfig.work, another of the choices; nothing was copied",
         (b"home\n", b"work\n")),
        ("the live file among its candidates", "dotfiles/gitconfig.work", None, 0, None,
         (b"home\n", b"home\n")),
        ("the target a link to the chosen variant", ".gitconfig", "dotfiles/gitconfig.home", 0,
         None, (b"home\n", b"work\n")),
    ]

    def test_a_variant_is_never_overwritten_through_the_target(self):
        for case, target, leads_to, rc, message, variants in self.VARIANTS:
            with self.subTest(case):
                if leads_to and windows():
                    self.skipTest("links are made on Windows by the system's own tools")
                folder = Folder(self)
                folder.write("dotfiles/gitconfig.home", "home\n")
                folder.write("dotfiles/gitconfig.work", "work\n")
                if leads_to:
                    os.symlink(leads_to, folder / target)
                # Each candidate is held open from the menu on, the live
                # file too: on Windows that must not keep it from the replace.
                args = [native(target), native("dotfiles/gitconfig.*")]
                menu_lines = run(folder, args, "z\n").out.splitlines()
                home = [line[0] for line in menu_lines if line[3:] == "home"]
                r = run(folder, args, home[0].lower() + "\n")
                failure = "pickcopy: %s: %s\n" % (target, message) if message else ""
                self.assertEqual((r.rc, r.err), (rc, PROMPT + failure))
                self.assertEqual((folder.read("dotfiles/gitconfig.home"),
                                  folder.read("dotfiles/gitconfig.work")), variants)
                self.assertEqual(os.path.islink(folder / target), bool(leads_to))


class FileFlags(unittest.TestCase):
    def test_no_dump_and_no_atime_stay_through_the_atomic_replace(self):
        # Read and set through the build's own requests, on every system
        # that runs it (big-endian s390x among them), where the temporary
        # folder's file system keeps such flags (ext4, xfs, btrfs, tmpfs).
        if windows() or ARGS.no_file_flags:
            self.skipTest("no Linux file flags in this build")
        need_tool(self, "chattr", "e2fsprogs")
        folder = Folder(self)
        folder.write("src.txt", "new\n")
        target = folder.write("t", "old\n")
        if subprocess.run(["chattr", "+d", "+A", target], capture_output=True).returncode != 0:
            self.skipTest("the temporary folder's file system keeps no file flags")
        lsattr = lambda: subprocess.run(["lsattr", target], capture_output=True,
                                        check=True).stdout.split()[0]
        flags, inode = lsattr(), os.stat(target).st_ino
        r = run(folder, ["t", "src.txt"], "a\n")
        self.assertEqual((r.rc, r.err), (0, PROMPT))
        self.assertEqual(folder.read("t"), b"new\n")
        self.assertNotEqual(os.stat(target).st_ino, inode, "written in place")
        self.assertEqual(lsattr(), flags)


class Sparse(unittest.TestCase):
    @posix_only
    def test_holes_stay_holes_onto_new_and_old_targets(self):
        # 5 GiB, with data past 4 GiB: offsets beyond 32 bits on every CPU.
        folder = Folder(self)
        src = folder.write("sparse.bin", "first line\n")
        with open(src, "r+b") as f:
            f.seek(9 << 29)
            f.write(b"x" * 8192)
            f.truncate(5 << 30)
        # A folder the user may not write: the old target is written in
        # place, over data that must not show through the holes.
        old = folder.write("ro/old.bin", os.urandom(1 << 20))
        os.chmod(os.path.dirname(old), 0o555)
        wrap = None
        if os.geteuid() == 0:
            os.chmod(folder.path, 0o777)
            os.chown(old, USER, USER)
            wrap = as_user
        for target in ("new.bin", "ro/old.bin"):
            r = run(folder, [target, "sparse.bin"], "a\n", wrap=wrap)
            self.assertEqual(r.rc, 0, r.err)
            self.assertTrue(r.out.startswith(menu("first line\n")), r.out)
            path = os.path.join(folder.path, target)
            self.assertEqual(os.path.getsize(path), 5 << 30)
            # Where holes cannot be punched, the old 1 MiB is overwritten
            # with zeros; nothing past it is written.
            self.assertLessEqual(os.stat(path).st_blocks * 512, 2 << 20, target)
            with open(path, "rb") as f:
                self.assertEqual(f.read(11), b"first line\n")
                f.seek(1 << 20)
                self.assertEqual(f.read(4096), bytes(4096))  # the old data are gone
                f.seek(9 << 29)
                self.assertEqual(f.read(8193), b"x" * 8192 + b"\0")


CAPABILITY = b"\x01\x00\x00\x02\x00\x20\x00\x00" + b"\x00" * 12  # cap_net_raw+ep


def in_namespace(setup):
    """Runs the command in a mount namespace of its own after `setup`."""
    return lambda cmd: ["unshare", "--mount", "sh", "-c", setup + ' && exec "$@"', "sh"] + cmd


# Each setup makes the target in a folder and returns (target, file to
# check, namespace set-up or None); the rows of Situations name them.
def read_only(f):
    t = f.write("t", "old\n")
    os.chown(t, USER, USER)
    os.chmod(t, 0o444)
    return "t", "t", None

def locked_folder(f):
    t = f.write("ro/t", "old\n")
    os.chown(t, USER, USER)
    os.chmod(os.path.dirname(t), 0o555)
    return "ro/t", "ro/t", None

def sticky_folder(f):
    t = f.write("tmp/t", "old\n")
    os.chown(t, OTHER, OTHER)
    os.chmod(t, 0o666)
    os.chmod(os.path.dirname(t), 0o1777)
    return "tmp/t", "tmp/t", None

def setgid_folder(f):
    t = f.write("sg/t", "old\n")
    os.chown(os.path.dirname(t), USER, USER)
    os.chmod(os.path.dirname(t), 0o2775)
    os.chown(t, USER, GROUP2)
    os.chmod(t, 0o664)
    return "sg/t", "sg/t", None

def set_user_id(f):
    t = f.write("t", "old\n")
    os.chown(t, OTHER, OTHER)
    os.chmod(t, 0o4755)
    return "t", "t", None

def acl_and_attributes(f):
    t = f.write("t", "old\n")
    os.chown(t, USER, USER)
    os.chmod(t, 0o640)
    os.setxattr(t, "user.note", b"kept")
    subprocess.run(["setfacl", "-m", "u:%d:rw-" % OTHER, t], check=True)
    return "t", "t", None

def default_acl_folder(f):
    t = f.write("d/t", "old\n")
    os.chown(t, USER, USER)
    os.chmod(os.path.dirname(t), 0o777)
    subprocess.run(["setfacl", "-d", "-m", "u:%d:rwx" % OTHER, os.path.dirname(t)], check=True)
    return "d/t", "d/t", None

def capability(f):
    t = f.write("t", "old\n")
    os.chown(t, USER, USER)
    os.chmod(t, 0o755)
    os.setxattr(t, "security.capability", CAPABILITY)
    return "t", "t", None

def hard_link(f):
    # In a folder the user may write, so that the replace is atomic.
    t = f.write("h/t", "old\n")
    os.chown(t, USER, USER)
    os.chown(os.path.dirname(t), USER, USER)
    os.link(t, os.path.join(f.path, "variant"))
    return "h/t", "h/t", None

def bind_mount(f):
    t = f.write("t", "placeholder\n")
    m = f.write("mounted", "old\n")
    for path in (t, m):
        os.chown(path, USER, USER)
    return "t", "mounted", "mount --bind mounted t"

def no_proc(f):
    t = f.write("t", "old\n")
    os.chown(t, USER, USER)
    return "t", "t", "umount -l /proc"



class Situations(unittest.TestCase):
    """Targets as users have them, replaced by root and by an unprivileged
    user: status, content, mode, owner and attributes afterwards."""

    # situation, who, status, content afterwards, attributes that go
    CASES = [
        (read_only, "user", 1, "old", []),
        (read_only, "root", 0, "new", []),
        (locked_folder, "user", 0, "new", []),
        (sticky_folder, "user", 0, "new", []),
        (setgid_folder, "user", 0, "new", []),
        (setgid_folder, "root", 0, "new", []),
        (set_user_id, "root", 0, "new", []),
        (acl_and_attributes, "user", 0, "new", []),
        (acl_and_attributes, "root", 0, "new", []),
        (default_acl_folder, "user", 0, "new", []),
        (capability, "root", 0, "new", ["security.capability"]),
        (hard_link, "user", 0, "new", []),
        (bind_mount, "root", 0, "new", []),
        (bind_mount, "user", 0, "new", []),
        (no_proc, "user", 0, "new", []),
        (no_proc, "root", 0, "new", []),
    ]

    @posix_only
    def test_situations(self):
        if os.geteuid() != 0:
            self.skipTest("needs root, to make the users, groups and mounts")
        namespaces = subprocess.run(["unshare", "--mount", "true"],
                                    capture_output=True).returncode == 0
        for setup, who, rc, content, dropped in self.CASES:
            situation = setup.__name__
            with self.subTest(situation=situation, who=who):
                if setup in (bind_mount, no_proc) and not namespaces:
                    self.skipTest("no mount namespaces here")
                if "acl" in situation:
                    need_tool(self, "setfacl", "acl")
                if setup is no_proc and ARGS.sanitized:
                    # The sanitizers read their options and check for leaks
                    # through /proc, and end the program without it.
                    self.skipTest("the sanitizer build needs /proc")
                self.check(setup, who, rc, content, dropped)

    def check(self, make, who, rc, content, dropped):
        situation = make.__name__
        f = Folder(self)
        os.chmod(f.path, 0o755)
        f.write("src.txt", "new\n")
        target, checked, setup = make(f)
        path = os.path.join(f.path, checked)
        mode, uid, gid, attrs = identity(path)
        names = f.listing()
        wrap = as_user if who == "user" else None
        if setup:
            inner = wrap or (lambda cmd: cmd)
            wrap = lambda cmd: in_namespace(setup)(inner(cmd))
        r = run(f, [target, "src.txt"], "a\n", wrap=wrap)
        where = "%s as %s: %s" % (situation, who, r.err)
        self.assertEqual(r.rc, rc, where)
        self.assertEqual(f.read(checked), b"new\n" if content == "new" else b"old\n", where)
        for name in dropped:
            del attrs[name]
        self.assertEqual(identity(path), (mode, uid, gid, attrs), where)
        self.assertEqual([n for n, _, _ in f.listing()], [n for n, _, _ in names], where)
        if rc == 1:
            self.assertEqual(r.err, PROMPT + "pickcopy: %s: Permission denied\n" % target)
        if make is hard_link:
            self.assertEqual(f.read("variant"), b"old\n")


class OtherUsers(unittest.TestCase):
    """Another user acting beside a copy that root runs, against files of
    root's own in a folder only root may enter: links planted in folders
    that everyone may write, and files and folders swapped under a copy
    held at a chosen call."""

    SECRET, SUID = b"root's secret\n", b"#!/bin/sh\nid\n"

    def setUp(self):
        if windows() or os.geteuid() != 0:
            self.skipTest("needs root on POSIX, to act as another user")
        self.f = Folder(self)
        os.chmod(self.f.path, 0o755)
        self.root_only = self.f / "root-only"
        for name, data, mode in (("secret", self.SECRET, 0o600), ("suid", self.SUID, 0o4755),
                                 ("app.conf", self.SECRET, 0o600)):
            os.chmod(self.f.write("root-only/" + name, data), mode)
        os.chmod(self.root_only, 0o700)

    def folder(self, name, owner, mode):
        path = self.f / name
        os.makedirs(path, exist_ok=True)
        os.chown(path, owner, owner)
        os.chmod(path, mode)
        return path

    def untouched(self, where):
        """Root's files as they were, and no set-user-ID file of root's
        anywhere else."""
        for name, data, mode in (("secret", self.SECRET, 0o600), ("suid", self.SUID, 0o4755)):
            st = os.lstat(os.path.join(self.root_only, name))
            self.assertEqual((self.f.read("root-only/" + name), stat.S_IMODE(st.st_mode)),
                             (data, mode), where)
        self.assertEqual(sorted(os.listdir(self.root_only)), ["app.conf", "secret", "suid"], where)
        for root, _, files in os.walk(self.f.path):
            for name in files:
                st = os.lstat(os.path.join(root, name))
                if root != self.root_only and stat.S_ISREG(st.st_mode):
                    self.assertFalse(st.st_uid == 0 and st.st_mode & stat.S_ISUID, where)
                self.assertFalse(name.startswith(".pickcopy-"), where)

    def without_kernel_guard(self):
        """Turns the kernel's own guard for sticky folders off for the
        test, so that it cannot be what refuses a link."""
        knob = "/proc/sys/fs/protected_symlinks"
        try:
            with open(knob) as f:
                before = f.read().strip()
            if before != "0":
                with open(knob, "w") as f:
                    f.write("0")
                self.addCleanup(lambda: open(knob, "w").write(before))
        except OSError as e:
            self.skipTest("cannot turn the kernel's guard off: %s" % e.strerror)

    # case, the link's owner, its folder's owner and mode, where it leads,
    # the arguments, status, message (None: followed, and the file it
    # leads to replaced)
    TARGET = ("shared/t", "src.txt")
    LINKS = [
        ("another user's link in a sticky folder", OTHER, 0, 0o1777, "root-only/secret", TARGET,
         1, "Permission denied"),
        ("root's own link in a sticky folder", 0, 0, 0o1777, "root-only/secret", TARGET, 0, None),
        ("the folder owner's link in a sticky folder", USER, USER, 0o1777, "root-only/secret",
         TARGET, 0, None),
        ("a link that leads nowhere", 0, 0, 0o755, "root-only/created", TARGET, 1,
         "a symbolic link that leads nowhere"),
        ("another user's link in a folder not everyone may write", OTHER, OTHER, 0o755,
         "root-only/secret", TARGET, 0, None),
        ("another user's folder link given with a slash", OTHER, 0, 0o1777, "root-only",
         ("shared/t/", "src.txt"), 1, "Permission denied"),
        ("the same given as the folder's '.'", OTHER, 0, 0o1777, "root-only",
         ("shared/t/.", "src.txt"), 1, "Permission denied"),
        ("another user's candidate link in a sticky folder", OTHER, 0, 0o1777, "root-only/secret",
         ("copy.txt", "shared/t"), 1, "Permission denied"),
    ]

    def test_links_are_followed_only_as_the_kernel_guard_allows(self):
        self.without_kernel_guard()
        for case, owner, folder_owner, mode, leads_to, args, rc, message in self.LINKS:
            with self.subTest(case):
                self.setUp()
                os.chmod(self.f.write("src.txt", "other user's text\n"), 0o644)
                self.folder("shared", folder_owner, mode)
                link = self.f / "shared/t"
                os.symlink(self.f / leads_to, link)
                os.lchown(link, owner, owner)
                r = run(self.f, list(args), "a\n")
                self.assertEqual(r.rc, rc, case + ": " + r.err)
                self.assertTrue(os.path.islink(link), case)
                candidate = args[1] == "shared/t"
                self.assertEqual(r.out.split("\n")[0] + "\n",
                                 menu("can't open\n" if candidate else "other user's text\n"))
                if message:
                    named = args[1] if candidate else args[0]
                    self.assertEqual(r.err, PROMPT + "pickcopy: %s: %s\n" % (named, message))
                    self.untouched(case)
                    self.assertFalse(os.path.exists(self.f / "copy.txt"), case)
                else:
                    self.assertEqual(self.f.read(leads_to), b"other user's text\n", case)

    # case, how the name leads to root's program, the fault shim's steer
    # ("": none)
    SET_ID = [
        ("a hard link, replaced", os.link, ""),
        ("a hard link, written in place, the rename refused as over a mount", os.link,
         "renameat:0:%d" % errno.EXDEV),
        ("a symbolic link, replaced", os.symlink, ""),
    ]

    def test_no_set_id_bits_on_a_name_another_user_planted(self):
        # The other user links root's set-user-ID program into a folder of
        # its own: a hard link, as it may where the kernel's guard for hard
        # links is off (made here by root, which reaches the program), or a
        # symbolic one; root then copies the user's program onto that name.
        program = b"#!/bin/sh\necho the user's program\n"
        for case, plant, steer in self.SET_ID:
            with self.subTest(case):
                if steer and not ARGS.shim:
                    self.skipTest("no fault shim in this build, to steer the copy")
                self.setUp()
                self.folder("home", USER, 0o755)
                variant = self.f.write("home/variant", program)
                os.chown(variant, USER, USER)
                os.chmod(variant, 0o755)
                plant(os.path.join(self.root_only, "suid"), self.f / "home/app.conf")
                if plant is os.symlink:  # a hard link is root's program itself
                    os.lchown(self.f / "home/app.conf", USER, USER)
                env = dict(os.environ, LD_PRELOAD=os.path.abspath(ARGS.shim),
                           FAULT_FORCE=steer) if steer else None
                r = run(self.f, ["home/app.conf", "home/variant"], "a\n", env=env)
                self.assertEqual((r.rc, r.err), (0, PROMPT), case)
                self.assertEqual(self.f.read("home/app.conf"), program, case)
                for root, _, files in os.walk(self.f.path):
                    for name in files:
                        path = os.path.join(root, name)
                        with open(path, "rb") as f:
                            planted = f.read() == program
                        set_id = os.lstat(path).st_mode & (stat.S_ISUID | stat.S_ISGID)
                        self.assertFalse(set_id and planted, path)
                if plant is os.link and not steer:
                    self.untouched(case)
                else:  # the program itself was written: the bits went first
                    self.assertEqual(stat.S_IMODE(os.stat(os.path.join(self.root_only, "suid")).st_mode),
                                     0o755, case)

    # case, the target, the other user's act, and when: while the copy is
    # held at a call (before it flushes the new file; at the next folder it
    # opens once it holds the target folder and its parent), or after the
    # menu, while the answer is held back
    RACES = [
        ("the file swapped for a link to a set-user-ID program", "home/app.conf",
         "ln -s {root}/suid home/x.l && mv -T home/x.l home/app.conf", "fsync:1"),
        ("the same in a sticky folder", "tmp/app.conf",
         "ln -s {root}/suid tmp/x.l && mv -T tmp/x.l tmp/app.conf", "fsync:1"),
        ("the file swapped for another of the user's", "home/app.conf",
         "echo other > home/x.l && mv -T home/x.l home/app.conf", "fsync:1"),
        ("the folder swapped for a link", "home/sub/app.conf",
         "mv home/sub home/gone && ln -s {root} home/sub", "fsync:1"),
        ("a target folder swapped for a link once held", "home/sub",
         "mv home/sub home/gone && ln -s {root} home/sub", "open_folder:3"),
        ("the candidate swapped for a link to root's secret", "home/app.conf",
         "ln -sf {root}/secret home/variant", "menu"),
        ("a file made under a new target's name", "home/new.conf",
         "echo theirs > home/new.conf", "renameat2:1"),
    ]

    def test_a_swap_during_the_copy_changes_nothing(self):
        for case, target, act, when in self.RACES:
            with self.subTest(case):
                if when != "menu" and not ARGS.shim:
                    self.skipTest("no fault shim in this build, to hold the copy")
                self.setUp()
                self.folder("home/sub", USER, 0o755)
                self.folder("home", USER, 0o755)
                self.folder("tmp", 0, 0o1777)
                for name in ("home/app.conf", "tmp/app.conf", "home/sub/app.conf",
                             "home/variant"):
                    path = self.f.write(name, "%s of the other user\n" % name)
                    os.chown(path, USER, USER)
                self.race(case, target, act.format(root=self.root_only), when)

    def race(self, case, target, act, when):
        other_user = lambda: subprocess.run(as_user(["sh", "-c", act]), cwd=self.f.path,
                                            check=True)
        err = b""
        if when == "menu":
            # The menu's files are held before the prompt; the answer waits.
            proc = harness.start(self.f, [target, "home/variant"])
            while PROMPT.encode() not in err:
                chunk = proc.stderr.read1(4096)
                self.assertTrue(chunk, case + ": no prompt")
                err += chunk
            other_user()
            proc.stdin.write(b"a\n")
            proc.stdin.close()
        else:
            signal_file = self.f / "held"
            env = dict(os.environ, LD_PRELOAD=os.path.abspath(ARGS.shim),
                       FAULT_PAUSE=when + ":" + signal_file)
            proc = harness.start(self.f, [target, "home/variant"], env=env)
            proc.stdin.write(b"a\n")
            proc.stdin.close()
            for _ in range(3000):
                if os.path.exists(signal_file) or proc.poll() is not None:
                    break
                time.sleep(0.01)
            if not os.path.exists(signal_file) and when.startswith("renameat2"):
                proc.wait(timeout=60)
                proc.stdout.close()
                proc.stderr.close()
                self.skipTest("this build renames a new target with renameat")
            self.assertTrue(os.path.exists(signal_file), case + ": the copy was not held")
            other_user()
            os.unlink(signal_file)
        err = (err + proc.stderr.read()).decode("latin-1")
        out = proc.stdout.read().decode("latin-1")
        proc.stdout.close()
        proc.stderr.close()
        self.assertEqual(proc.wait(timeout=60), 1, case + ": " + err)
        if when == "menu":
            self.assertTrue(out.startswith(menu("home/variant of the other user\n")), out)
            expected = "home/variant: changed after the menu was shown; nothing was copied"
            self.assertEqual(self.f.read(target), b"%s of the other user\n" % target.encode())
        else:
            changed = target + "/variant" if target == "home/sub" else target
            expected = "%s: %s" % (changed, harness.CHANGED)
        self.assertEqual(err, PROMPT + "pickcopy: %s\n" % expected, case)
        if target == "home/new.conf":
            self.assertEqual(self.f.read(target), b"theirs\n", case)
        self.untouched(case)
        self.assertEqual(self.f.read("root-only/app.conf"), self.SECRET, case)


def native_terminal(test):
    """Marks a case for a POSIX pseudo-terminal. Wine paints its console onto
    one with escape sequences, so the Windows build has cases of its own."""
    def wrapper(self):
        if windows() or os.name != "posix":
            self.skipTest("needs a POSIX pseudo-terminal")
        test(self)
    wrapper.__name__ = test.__name__
    return wrapper


class Progress(unittest.TestCase):
    """The line a long copy shows on a terminal, made long by the fault
    shim: 4 MiB through the buffer (the kernel's copy refused), each piece
    written after a pause; or 40 MiB, five chunks of the writing behind the
    copy, each handing to the disk and each wait for it after a pause."""

    SLOW = {"FAULT_FORCE": "copy_file_range:0:%d" % errno.EXDEV, "FAULT_SLOW": "pwrite:60"}
    SLOW_DISK = {"FAULT_FORCE": "", "FAULT_SLOW": "sync_file_range:300"}

    def setUp(self):
        if windows() or os.name != "posix":
            self.skipTest("needs a POSIX pseudo-terminal")
        if not ARGS.shim:
            self.skipTest("no fault shim in this build")

    def copy(self, extra=None, slow=True, signal_on=None, mib=4, columns=0):
        folder = Folder(self)
        folder.write("src.bin", b"first\n" + os.urandom(mib << 20))
        folder.write("t", "old\n")
        env = dict(LD_PRELOAD=os.path.abspath(ARGS.shim), **(self.SLOW if slow else {}))
        env.update(extra or {})
        rc, seen = harness.run_on_terminal(folder, ["t", "src.bin"], env=env, signal_on=signal_on,
                                           columns=columns)
        return folder, rc, seen

    def makes_call(self, name):
        """Skips where the build makes no `name` call in a copy of 40 MiB."""
        folder = Folder(self)
        folder.write("src.bin", os.urandom(40 << 20))
        env = dict(os.environ, LD_PRELOAD=os.path.abspath(ARGS.shim), FAULT_LOG=folder / "calls")
        harness.run(folder, ["t", "src.bin"], "a\n", env=env)
        with open(folder / "calls") as f:
            if name not in f.read().split():
                self.skipTest("this build makes no %s call" % name)

    def test_shown_while_slow_and_gone_after(self):
        # case, extra faults, MiB copied, the terminal's columns (0: not
        # set), status, the screen's last lines, a signal sent once the
        # line is shown
        cases = [
            ("a slow copy", {}, 4, 0, 0, [b""], None),
            ("a slow copy that fails", {"FAULT_CALL": "fsync", "FAULT_NTH": "1",
                                        "FAULT_ERRNO": str(errno.EIO)}, 4, 0, 1,
             [b"pickcopy: t: " + os.strerror(errno.EIO).encode(), b""], None),
            ("a slow copy interrupted", {}, 4, 0, -signal.SIGINT, [b""], signal.SIGINT),
            ("a slow copy terminated", {}, 4, 0, -signal.SIGTERM, [b""], signal.SIGTERM),
            ("a disk slow to take what is written behind", self.SLOW_DISK, 40, 0, 0, [b""], None),
            ("a terminal 30 columns wide", {}, 4, 30, 0, [b""], None),
        ]
        _, quick_rc, quick = self.copy(slow=False)
        self.assertEqual(quick_rc, 0)
        self.assertNotIn(b"%", quick, "a quick copy shows no progress")
        for case, extra, mib, columns, rc, last, sig in cases:
            with self.subTest(case):
                if extra is self.SLOW_DISK:
                    self.makes_call("sync_file_range")
                folder, got_rc, seen = self.copy(extra, signal_on=sig and (b"%", sig), mib=mib,
                                                 columns=columns)
                self.assertEqual(got_rc, rc, seen)
                updates = re.findall(rb"\r *(\d+)%(  [\d.]+ [KM]i?B( of [\d.]+ MiB)?)?", seen)
                self.assertTrue(updates, "no progress line: %r" % seen)
                if rc >= 0:
                    # Each update tells more, up to 100% before the flush.
                    percents = [int(u[0]) for u in updates]
                    self.assertEqual(percents, sorted(percents), seen)
                    self.assertGreater(len(set(percents)), 1, seen)
                    self.assertEqual(percents[-1], 100, seen)
                    if not columns:
                        self.assertIn(b"  writing to disk", seen)
                if columns:
                    self.assertNotIn(b"/s", seen, "the rate is dropped where it does not fit")
                screen = harness.final_screen(seen, columns)
                self.assertEqual(screen[-len(last):], last, screen)
                if rc != 1:
                    self.assertEqual(screen, harness.final_screen(quick, columns),
                                     "the progress line was not erased")
                if rc == 0:
                    self.assertEqual(folder.read("t")[:6], b"first\n")
                if rc < 0:
                    self.assertEqual((folder.read("t"), folder.names()), (b"old\n", ["src.bin", "t"]))


class Terminal(unittest.TestCase):
    @native_terminal
    def test_entry_without_newline_is_on_screen_before_the_prompt(self):
        folder = Folder(self)
        folder.write("one", "no newline")
        rc, seen = harness.run_on_terminal(folder, ["t", "one"])
        self.assertEqual(rc, 0)
        self.assertEqual(seen, b"A) no newline\n" + PROMPT.encode() + b"The command is: copy one t\n")
        self.assertEqual(folder.read("t"), b"no newline")

    # case, candidates (name, first line), target, status, the menu, the
    # echo, the failure message, all as pipes carry them
    CASES = [
        ("escape sequences and a bell in a first line",
         [("esc.txt", "\x1b[2J\x1b]0;owned\x07 after\n")], "t", 0,
         "A) \x1b[2J\x1b]0;owned\x07 after\n", echo("esc.txt", "t"), ""),
        ("a carriage return that would overwrite a label, backspace, DEL, VT, FF",
         [("cr.txt", "B) fake\rback\x08\x7f\x0b\x0c\n"), ("z.txt", "z\n")], "t", 0,
         "A) B) fake\rback\x08\x7f\x0b\x0c\nB) z\n", echo("cr.txt", "t"), ""),
        ("a long line keeps its wrap",
         [("long.txt", "\x1b\x1b\x1b" + "a" * 66 + " tail\x07\n")], "t", 0,
         "A) \x1b\x1b\x1b" + "a" * 66 + "\n      tail\x07\n", echo("long.txt", "t"), ""),
        ("UTF-8, Latin-1 and tabs pass; a lone C1 byte does not",
         [("u.txt", "caf\xc3\xa9 \xe2\x80\x94\tcaf\xe9 \x9b\xff\n")], "t", 0,
         "A) caf\xc3\xa9 \xe2\x80\x94\tcaf\xe9 \x9b\xff\n", echo("u.txt", "t"), ""),
        ("control bytes in a name and in the target",
         [("n\x1b[1m\x07.txt", "named\n")], "t\x1b]2;x\x07", 0,
         "A) named\n", echo("n\x1b[1m\x07.txt", "t\x1b]2;x\x07"), ""),
        ("a failure message names its file safely",
         [("ok.txt", "ok\n")], "miss\x1b[K/t", 1,
         "A) ok\n", echo("ok.txt", "miss\x1b[K/t"),
         "pickcopy: miss\x1b[K/: No such file or directory\n"),
    ]

    @native_terminal
    def test_control_bytes_show_as_question_marks_and_pipes_carry_them(self):
        for case, files, target, rc, shown, echoed, failure in self.CASES:
            with self.subTest(case=case):
                folder = Folder(self)
                for name, line in files:
                    folder.write(name, line)
                args = [target] + [name for name, _ in files]
                r = run(folder, args, "a\n")
                self.assertEqual((r.rc, r.out, r.err), (rc, shown + "\n" + echoed, PROMPT + failure))
                status, seen = harness.run_on_terminal(folder, args)
                safe = harness.terminal_safe
                expected = (safe(shown.encode("latin-1")) + b"\n" + PROMPT.encode() +
                            safe(echoed.encode("latin-1")) + safe(failure.encode("latin-1")))
                self.assertEqual((status, seen), (rc, expected))
                self.assertEqual(len(seen), len(shown + "\n" + PROMPT + echoed + failure))
                self.assertEqual(harness.terminal_safe(seen), seen, "a control is left")
        # The wrap is the raw line's: one byte for one.
        self.assertEqual(harness.terminal_safe(self.CASES[2][4].encode()),
                         b"A) ???" + b"a" * 66 + b"\n      tail?\n")

    # The terminal's locale (LC_ALL), then the menu entry and the echo as a
    # terminal in it is shown them. The candidate's name and first line hold
    # CSI (U+009B) as a UTF-8 character and as a lone byte, and letters whose
    # later bytes lie in 0x80 to 0x9F (\u0100, \u011b, an em dash).
    C1_NAME = "c1\u009b.txt"  # C2 9B in the file system's UTF-8
    C1_LINE = "csi \xc2\x9b2J \x9b2J \xc4\x80\xc4\x9b\xe2\x80\x94 caf\xe9\n"
    C1_CASES = [
        ("C.UTF-8", "A) csi ?2J ?2J \xc4\x80\xc4\x9b\xe2\x80\x94 caf\xe9\n",
         "The command is: copy c1?.txt t\n"),
        ("C", "A) csi \xc2?2J ?2J \xc4?\xc4?\xe2?? caf\xe9\n",
         "The command is: copy c1\xc2?.txt t\n"),
        # A locale this system does not have counts by its name.
        ("xx_NOWHERE.utf8", "A) csi ?2J ?2J \xc4\x80\xc4\x9b\xe2\x80\x94 caf\xe9\n",
         "The command is: copy c1?.txt t\n"),
    ]

    @native_terminal
    def test_c1_controls_go_by_the_terminals_character_set(self):
        folder = Folder(self)
        folder.write(self.C1_NAME, self.C1_LINE.encode("latin-1"))
        args = ["t", self.C1_NAME]
        r = run(folder, args, "a\n")
        self.assertEqual(r.out, "A) " + self.C1_LINE + "\n" + echo("c1\xc2\x9b.txt", "t"))
        for locale, entry, echoed in self.C1_CASES:
            with self.subTest(locale=locale):
                status, seen = harness.run_on_terminal(folder, args, locale=locale)
                shown = (entry + "\n" + PROMPT + echoed).encode("latin-1")
                self.assertEqual((status, seen), (0, shown))
                self.assertEqual(seen, harness.terminal_safe(
                    r.out.encode("latin-1").replace(b"\n\n", b"\n\n" + PROMPT.encode()),
                    utf8=locale != "C"))

    def test_windows_console_shows_names_and_first_lines_in_their_characters(self):
        # Under Wine a program on a terminal gets a console, which Wine paints
        # onto the terminal in its character set (UTF-8 here): what pickcopy
        # wrote with WriteConsoleW comes back as UTF-8.
        if not harness.wine():
            self.skipTest("the Windows console, as Wine gives it on a terminal")
        folder = Folder(self)
        e_acute = "\u00e9".encode()
        folder.write("\u03a9.txt", "\u03a9mega first\n".encode())
        folder.write("b.txt", b"caf\xe9 latin\n")  # the ANSI code page's bytes
        folder.write("c.txt", b"esc\x1b[31m red\n")
        folder.write("long.txt", e_acute * 40 + b"\n")  # the wrap cuts a character
        args = ["\u4e2d.txt", "*.txt"]
        # Through pipes the bytes are as they were: names outside the ANSI code
        # page in UTF-8, first lines as the files hold them.
        r = run(folder, args, "a\n")
        cut = (e_acute * 40)[:75]
        self.assertEqual(r.out.encode("latin-1"),
                         b"A) \xce\xa9mega first\nB) caf\xe9 latin\nC) esc\x1b[31m red\nD) " +
                         cut + b"\n     " + (e_acute * 40)[75:] + b"\n\n" +
                         b"The command is: copy \xce\xa9.txt \xe4\xb8\xad.txt\n")
        os.unlink(folder / "\u4e2d.txt")
        rc, seen = harness.run_on_terminal(folder, args)
        self.assertEqual(rc, 0, seen)
        lines = harness.screen_lines(seen)
        replacement = "\ufffd".encode()
        for line in ("A) \u03a9mega first".encode(), "B) caf\u00e9 latin".encode(),
                     b"C) esc?[31m red", b"D) " + e_acute * 37 + replacement,
                     b"     " + replacement + e_acute * 2,
                     "The command is: copy \u03a9.txt \u4e2d.txt".encode()):
            self.assertIn(line, lines, seen)
        self.assertEqual(folder.read("\u4e2d.txt"), "\u03a9mega first\n".encode())
        # A failure message names its file in its characters too.
        rc, seen = harness.run_on_terminal(folder, [native("\u03a9dir/t"), "b.txt"])
        self.assertEqual(rc, 1, seen)
        self.assertTrue(any(l.startswith("pickcopy: \u03a9dir\\: ".encode())
                            for l in harness.screen_lines(seen)), seen)

    def test_windows_console_shows_c1_controls_as_question_marks(self):
        # U+009B (CSI) in a UTF-8 first line and in a name, beside letters
        # whose UTF-8 has bytes 0x80 to 0x9F, which are not controls there.
        if not harness.wine():
            self.skipTest("the Windows console, as Wine gives it on a terminal")
        folder = Folder(self)
        folder.write("c1\u009b.txt", "csi \u009b2J \u0100\u2014\n".encode())
        rc, seen = harness.run_on_terminal(folder, ["t", "c1*.txt"])
        self.assertEqual(rc, 0, seen)
        lines = harness.screen_lines(seen)
        for line in ("A) csi ?2J \u0100\u2014".encode(), b"The command is: copy c1?.txt t"):
            self.assertIn(line, lines, seen)


def main():
    global ARGS
    p = harness.parser("pickcopy end to end")
    p.add_argument("--sanitized", action="store_true")
    p.add_argument("--hold-open", default="")
    p.add_argument("--shim", default="", help="the fault shim, to make a copy slow")
    p.add_argument("--no-file-flags", action="store_true", help="the build carries no file flags")
    args, rest = p.parse_known_args()
    ARGS = harness.configure(args)
    harness.run_cases([sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
