"""End-to-end tests of what only the Windows build has: its search of a
folder, its copy with ReplaceFileW, Ctrl-C and Wine's console, a user of
Wine's own, and the executable's resources. e2e.py runs them with the
rest; each skips where the binary is not the Windows one.
"""
import os
import re
import signal
import subprocess
import time
import unittest

import harness
from harness import CHANGED, PROMPT, USER, Folder, as_user, echo, menu, native, run, windows


def code_page_932(test):
    """The environment in which Wine's ANSI code page is 932 (Japanese, whose
    double-byte characters may end in the byte of '\\'): glibc's
    ja_JP.UTF-8, made by localedef into a folder of the test's own."""
    harness.need_tool(test, "localedef", "libc-bin")
    source = "/usr/share/i18n/locales/ja_JP"
    harness.need(test, os.path.exists(source), "no %s (Debian's locales)" % source)
    where = Folder(test)
    made = subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", where / "ja_JP.UTF-8"],
                          capture_output=True, text=True)
    harness.need(test, os.path.exists(where / "ja_JP.UTF-8/LC_CTYPE"),
                 "localedef could not make ja_JP.UTF-8: %s" % made.stderr.strip())
    return dict(os.environ, LC_ALL="ja_JP.UTF-8", LOCPATH=where.path)


class WindowsSearch(unittest.TestCase):
    """What the Windows directory search delivers, as seen through the
    whole program."""

    def setUp(self):
        if not windows():
            self.skipTest("the Windows directory search")

    def test_names_carry_the_prefix_up_to_the_last_separator(self):
        folder = Folder(self)
        folder.write("dir/a.txt", "in dir\n")
        folder.write("a.txt", "a bare name would show this\n")
        for pattern, name in (("dir\\a*.txt", "dir\\a.txt"), ("dir/a*.txt", "dir/a.txt"),
                              ("dir\\a.txt", "dir\\a.txt")):
            folder.write("t", "old\n")
            r = run(folder, ["t", pattern], "a\n")
            self.assertEqual(r.out, menu("in dir\n") + "\n" + echo(name, "t"), pattern)
            self.assertEqual(folder.read("t"), b"in dir\n", pattern)

    def test_names_reach_the_system_as_given_and_as_found(self):
        # Each name goes to the system as the wide string that the command
        # line or the search gave, whatever the code page makes of it: in
        # code page 932 the second byte of many characters is that of '\',
        # and in 1252 the bytes of "\u00ce\u00a9" are the UTF-8 of "\u03a9".
        # What a search found is opened exactly as found ("conf." is not
        # "conf"), what the user typed by Windows' rules, and no pattern
        # matches through a short name ("*.txt" and SETT~53I.TXT). Pipes
        # carry each name in the code page's bytes.
        cp932 = lambda name: name.encode("cp932").decode("latin-1")
        soft = "\u30bd\u30d5\u30c8"  # its first and third characters end in 0x5C
        confs = {"conf": "plain\n", "conf.": "dot\n", "conf ": "space\n"}
        backups = {"settings.txt": "kept\n", "settings.txt~": "backup\n", "settings.txtold": "older\n"}
        none = ["can't open\n"] * 2  # "." and ".."
        # code page, files, arguments, the first lines shown (in any order),
        # the one chosen, the echo, and files afterwards
        cases = [
            ("932", {"\u30fb/x": "x\n", "src.txt": "new\n"}, ["\u8868.txt", "src.txt"], ["new\n"],
             "new\n", "copy src.txt " + cp932("\u8868.txt"), {"\u8868.txt": "new\n", "\u30fb/x": "x\n"}),
            ("932", {soft + "/t.txt": "old\n", "src.txt": "new\n"}, [soft + "\\t.txt", "src.txt"],
             ["new\n"], "new\n", "copy src.txt " + cp932(soft + "\\t.txt"), {soft + "/t.txt": "new\n"}),
            ("932", {soft + ".cfg": "soft\n"}, ["t", soft + "*"], ["soft\n"], "soft\n",
             "copy %s t" % cp932(soft + ".cfg"), {"t": "soft\n"}),
            (None, {"\u03a9.txt": "omega\n", "\u00ce\u00a9.txt": "latin\n"},
             ["\u00ce\u00a9.txt", "\u03a9.txt"], ["omega\n"], "omega\n",
             "copy \xce\xa9.txt \xce\xa9.txt", {"\u03a9.txt": "omega\n", "\u00ce\u00a9.txt": "omega\n"}),
            (None, confs, ["t", "conf*"], confs.values(), "dot\n", "copy conf. t", dict(confs, t="dot\n")),
            (None, confs, ["t", "conf*"], confs.values(), "space\n", "copy conf  t",
             dict(confs, t="space\n")),
            (None, {"s": "new\n"}, ["new. ", "s"], ["new\n"], "new\n", "copy s new. ", {"new": "new\n"}),
            (None, backups, ["t", "*.txt"], ["kept\n"], None, None, {}),
            (None, backups, ["t", "*~*"], ["backup\n"], None, None, {}),
            (None, {"noext": "none\n"}, ["t", "*.*"], none + ["none\n"], None, None, {}),
        ]
        env = None
        for code_page, files, args, shown, chosen, echoed, after in cases:
            with self.subTest(args=args, chosen=chosen):
                if code_page and env is None:
                    env = code_page_932(self)
                folder = Folder(self)
                for name, data in files.items():
                    folder.write(name, data.encode())
                r = run(folder, args, "z\n", env=code_page and env)
                lines = [l[3:] + "\n" for l in r.out.splitlines() if l[1:3] == ") "]
                self.assertEqual(sorted(lines), sorted(shown), r.out)
                if not chosen:
                    continue
                r = run(folder, args, chr(ord("a") + lines.index(chosen)) + "\n",
                        env=code_page and env)
                self.assertEqual(r.rc, 0, r.err)
                self.assertTrue(r.out.endswith("The command is: %s\n" % echoed), r.out)
                for name, data in after.items():
                    self.assertEqual(folder.read(name), data.encode(), name)

    def test_dot_entries_are_delivered_and_cannot_be_opened(self):
        folder = Folder(self)
        folder.write("sub/a.txt", "a\n")
        r = run(folder, ["t", "sub\\*"], "a\n")
        self.assertTrue(r.out.startswith(menu("can't open\n", "can't open\n", "a\n")), r.out)
        chosen = r.out.split("The command is: copy ")[1]
        self.assertIn(chosen, ("sub\\. t\n", "sub\\.. t\n"))
        self.assertEqual(r.rc, 1)
        self.assertFalse(os.path.exists(os.path.join(folder.path, "t")))


class WindowsCopy(unittest.TestCase):
    """The copy's rules in Windows terms, each case beside what the
    command interpreter's copy does."""

    def setUp(self):
        if not windows():
            self.skipTest("the Windows copy")

    def wine(self, folder, *args):
        return subprocess.run(harness.ARGS.runner + list(args), cwd=folder.path, capture_output=True)

    def attributes(self, folder, name):
        """The attribute letters that attrib shows before the path."""
        out = self.wine(folder, "attrib", name).stdout.decode("latin-1")
        return set(out[:out.index(":") - 1].replace(" ", "")) if ":" in out else set()

    def test_cases(self):
        long_dir = "/".join("d%02d" % i + "x" * 40 for i in range(8))  # over 300 characters
        # case, target, source, set-up, status, target content afterwards
        cases = [
            ("read-only target", "t", "src.txt", "read_only", 1, b"old\n"),
            ("hidden and system target", "t", "src.txt", "hidden", 0, b"new\n"),
            ("target held open, sharing reading and writing", "t", "src.txt", "held", 0, b"new\n"),
            ("target held open, sharing nothing", "t", "src.txt", "held none", 1, b"old\n"),
            ("symbolic link to the target", "link", "src.txt", "link", 0, None),
            ("names outside the ANSI code page", "\u03a9 t", "\u4e2d.txt", None, 0, b"new\n"),
            ("an emoji", "t", "\U0001f600.txt", None, 0, b"new\n"),
            ("long relative paths", long_dir + "/t", long_dir + "/src.txt", None, 0, b"new\n"),
            ("long absolute paths", "ABS/" + long_dir + "/t", "ABS/" + long_dir + "/src.txt",
             None, 0, b"new\n"),
            # Cut first, so a file that cannot be cut is refused before any byte is written.
            ("target held and mapped, new content shorter", "t", "src.txt", "held map", 1,
             b"old\n" * 1000),
            # Wine's ReplaceFileW sets the target aside, and then the name leads
            # to the other file, under which neither can be put back.
            ("a name in another case beside the target", "conf.txt", "src.txt", "twin", 1, None),
        ]
        # The system's words: "Access is denied." (Wine: "Access denied."), or
        # that another program has the file ("Sharing violation."), or maps it.
        reasons = {
            "held none": "(?:The process cannot access the file because it is being used by "
                         "another process|Sharing violation)\\.",
            "held map": "(?:The requested operation cannot be performed on a file with a "
                        "user-mapped section open|File has a user-mapped section)\\.",
            "twin": ".+; the old content is kept beside it as (\\.pickcopy-[0-9a-f]{16}) "
                    "and the new content as (\\.pickcopy-[0-9a-f]{16})",
        }
        for case, target, src, setup, rc, content in cases:
            with self.subTest(case=case):
                folder = Folder(self)
                absolute = "Z:" + folder.path.replace("/", "\\") + "\\"
                t_path, s_path = (n.replace("ABS/", "") for n in (target, src))
                folder.write(s_path, "new\n")
                folder.write(t_path, "old\n" * (1000 if setup == "held map" else 1))
                holder = None
                if setup == "read_only":
                    os.chmod(os.path.join(folder.path, t_path), 0o444)
                elif setup == "hidden":
                    self.wine(folder, "attrib", "+h", t_path)  # Wine's attrib takes one
                    self.wine(folder, "attrib", "+s", t_path)
                    self.assertLessEqual({"H", "S"}, self.attributes(folder, t_path))
                elif setup and setup.startswith("held"):
                    holder = subprocess.Popen(harness.ARGS.runner + [harness.ARGS.hold_open, t_path] +
                                              setup.split()[1:], cwd=folder.path,
                                              stdin=subprocess.PIPE, stdout=subprocess.PIPE)
                    self.assertEqual(holder.stdout.readline().strip(), b"held")
                elif setup == "link":
                    folder.write("real", "old\n")
                    os.unlink(os.path.join(folder.path, "link"))
                    os.symlink("real", os.path.join(folder.path, "link"))
                elif setup == "twin":
                    folder.write("Conf.txt", "other\n")
                names = [native(n.replace("ABS/", absolute)) for n in (target, src)]
                before = sorted(os.listdir(folder.path))
                r = run(folder, names, "a\n".encode())
                if holder:
                    holder.communicate(b"", timeout=60)
                self.assertEqual(r.rc, rc, (case, r.err))
                kept = ()  # the old content and the new, where a replace kept both
                if rc:
                    reason = reasons.get(setup, "Access (?:is )?denied\\.")
                    message = re.match("%spickcopy: %s: %s\n$" % (
                        PROMPT, re.escape(names[0]), reason), r.err)
                    self.assertTrue(message, r.err)
                    kept = message.groups()
                    self.assertEqual(os.access(os.path.join(folder.path, t_path), os.F_OK), not kept)
                if kept:
                    self.assertEqual([folder.read(n) for n in kept + ("Conf.txt",)],
                                     [b"old\n", b"new\n", b"other\n"])
                if content is not None:
                    self.assertEqual(folder.read(t_path), content, case)
                if setup == "hidden":
                    self.assertLessEqual({"H", "S"}, self.attributes(folder, t_path))
                if setup == "link":
                    self.assertTrue(os.path.islink(os.path.join(folder.path, "link")))
                    self.assertEqual(folder.read("real"), b"new\n")
                # No file of pickcopy's nor of the system's replace is left,
                # but the only copies of two contents.
                if kept:
                    before = sorted(set(before) - {t_path} | set(kept))
                self.assertEqual(sorted(os.listdir(folder.path)), before, case)

    def interrupt(self, token, sig):
        """`sig` for the Windows process whose command line holds `token`
        (Wine turns SIGINT into the console's Ctrl-C event; SIGKILL ends it
        as a forced end or a crash would)."""
        for pid in os.listdir("/proc"):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    cmdline = f.read()
            except OSError:
                continue
            if token.encode() in cmdline and b"pickcopy.exe" in cmdline:
                os.kill(int(pid), sig)

    def test_ctrl_c_and_a_kill_at_the_prompt_and_during_the_copy(self):
        # STATUS_CONTROL_C_EXIT; a POSIX parent sees its low byte.
        control_c_exit = 0xC000013A & 0xFF
        folder = Folder(self)
        folder.write("target.txt", "old\n")
        big = folder.write("big.bin", "")
        os.truncate(big, 2 << 30)  # sparse here; the copy writes real data
        # answer, token, signal, status (None: what Wine's start.exe makes of
        # a process that was killed)
        runs = [(None, "prompt-token", signal.SIGINT, control_c_exit),
                (b"a\n", "copy-token", signal.SIGINT, control_c_exit),
                (b"a\n", "kill-token", signal.SIGKILL, None)]
        for answer, token, sig, status in runs:
            cmd, _ = harness.command(["target.txt", "big.bin", token])
            proc = subprocess.Popen(cmd, cwd=folder.path, stdin=subprocess.PIPE,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if answer:
                proc.stdin.write(answer)
                proc.stdin.flush()
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline:
                busy = any(n.startswith(".pickcopy-") for n in os.listdir(folder.path))
                if busy or (not answer and time.monotonic() > deadline - 57):
                    break
                time.sleep(0.05)
            if answer:
                self.assertTrue(busy, "no temporary file seen: %s" % token)
            self.interrupt(token, sig)
            code = proc.wait(timeout=60)
            if status is not None:
                self.assertEqual(code, status, token)
            proc.stdin.close()
            self.assertEqual(folder.read("target.txt"), b"old\n", token)
            # The system removes a file marked for deletion once its handle
            # is gone, which Wine's server does a moment after the kill.
            for _ in range(100):
                if sorted(os.listdir(folder.path)) == ["big.bin", "target.txt"]:
                    break
                time.sleep(0.1)
            self.assertEqual(sorted(os.listdir(folder.path)), ["big.bin", "target.txt"], token)

    def test_a_folder_moved_during_the_copy_is_not_written(self):
        # The target's folder is moved away while the new content is
        # written, and a link to another folder takes its name. The copy
        # stops at its check, with its temporary file still open and marked
        # for deletion, and writes nothing anywhere.
        folder = Folder(self)
        folder.write("sub/t", "old\n")
        folder.write("other/t", "theirs\n")
        os.truncate(folder.write("big.bin", ""), 128 << 20)  # sparse here; the copy writes it
        proc = harness.start(folder, [native("sub/t"), "big.bin"])
        proc.stdin.write(b"a\n")
        proc.stdin.flush()
        deadline = time.monotonic() + 60
        while not any(n.startswith(".pickcopy-") for n in os.listdir(folder / "sub")):
            self.assertLess(time.monotonic(), deadline, "no temporary file seen")
            time.sleep(0.01)
        os.rename(folder / "sub", folder / "moved")
        os.symlink("other", folder / "sub")
        r = harness.Result(proc, *proc.communicate(timeout=120))
        self.assertEqual((r.rc, r.err), (1, PROMPT + "pickcopy: sub\\t: %s\n" % CHANGED))
        self.assertEqual([folder.read("moved/t"), folder.read("other/t")], [b"old\n", b"theirs\n"])
        self.assertEqual(os.listdir(folder / "other"), ["t"])
        # Windows removes a file marked for deletion wherever its folder has
        # gone. Wine removes it by the path it was created under, which now
        # leads into "other", and leaves it in the moved folder.
        if not harness.wine():
            self.assertEqual(os.listdir(folder / "moved"), ["t"])

    def test_as_an_unprivileged_user_with_its_own_prefix(self):
        # Wine run by root writes anywhere; these need a user of their own.
        if os.geteuid() != 0:
            self.skipTest("needs root, to take on another user")
        home = os.path.join(os.path.dirname(harness.ARGS.binary), "wine-user")
        os.makedirs(home, exist_ok=True)
        os.chown(home, USER, USER)
        env = ["env", "HOME=" + home, "WINEPREFIX=" + os.path.join(home, "prefix")]

        def wrap(cmd):
            return as_user(env + cmd, groups=())

        # folder, its owner, target mode, status, target content afterwards
        cases = [("ro", 0, 0o644, 0, b"new\n"),    # a folder the user may not write
                 ("rw", USER, 0o444, 1, b"old\n")]  # a read-only target
        for sub, owner, mode, rc, content in cases:
            with self.subTest(folder=sub, mode=oct(mode)):
                folder = Folder(self)
                os.chmod(folder.path, 0o755)
                folder.write("src.txt", "new\n")
                t = folder.write(sub + "/t", "old\n")
                os.chown(t, USER, USER)
                os.chmod(t, mode)
                os.chown(os.path.dirname(t), owner, owner)
                r = run(folder, [native(sub + "/t"), "src.txt"], "a\n", wrap=wrap)
                self.assertEqual(r.rc, rc, r.err)
                self.assertEqual(folder.read(sub + "/t"), content)
                self.assertEqual(sorted(os.listdir(os.path.dirname(t))), ["t"])
                self.assertEqual(os.stat(t).st_uid, USER)

    def test_executable_has_version_and_manifest(self):
        import binaries
        self.assertEqual(binaries.windows_resources(harness.ARGS.binary), [])
