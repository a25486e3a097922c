#!/usr/bin/env python3
"""The copy on the file systems people use, each really mounted: from small
sparse images on loop devices, through FUSE, and over SFTP to an sshd of the
test's own on 127.0.0.1.

    filesystems.py --binary PATH [unittest args]

One table, run as root. Each row says how the target's file system is
mounted and who copies, and checks the outcome (status and message), whether
the target was replaced atomically or written in place (its inode), its
content, the identity that survived (owner, bits, extended attributes and
ACLs, read on the server's side for sshfs), shared extents where the file
system can share them, and that no stray file is left. Every mount is
undone and every image deleted, whatever happens.
"""
import contextlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import OTHER, PROMPT, USER, as_user, identity  # noqa: E402

MIB = 1 << 20


def sh(*args, **kwargs):
    return subprocess.run(args, check=True, capture_output=True, **kwargs)


def give_identity(path):
    """The target's identity as a user would have set it: an owner, bits,
    an extended attribute and an ACL entry."""
    os.chown(path, USER, USER)
    os.chmod(path, 0o640)
    os.setxattr(path, "user.k", b"kept")
    sh("setfacl", "-m", "u:%d:rw-" % OTHER, path)


def file_flags(path):
    """A file's project ID and flags as lsattr(1) shows them; None where its
    file system has none."""
    r = subprocess.run(["lsattr", "-dp", path], capture_output=True)
    return r.stdout.split()[:2] if r.returncode == 0 else None


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


class Mounts:
    """Makes the mounts of one row, and undoes them when the row is done."""

    def __init__(self, work):
        self.work = work
        self.stack = contextlib.ExitStack()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stack.close()

    def folder(self, name):
        path = os.path.join(self.work, name)
        os.makedirs(path, exist_ok=True)
        return path

    def mount(self, *args, at):
        sh(*args)
        self.stack.callback(self.unmount, at)
        return at

    def unmount(self, at):
        for attempt in range(50):
            if subprocess.run(["umount", at], capture_output=True).returncode == 0:
                return
            time.sleep(0.1)  # a FUSE daemon that is still closing
        subprocess.run(["umount", "-l", at], capture_output=True)

    def image(self, kind, mib, *mkfs):
        path = os.path.join(self.work, kind + ".img")
        with open(path, "wb") as f:
            f.truncate(mib * MIB)  # sparse: only what is written takes room
        self.stack.callback(os.unlink, path)
        sh(*mkfs, path)
        return path

    def loop(self, image):
        device = sh("losetup", "--find", "--show", image).stdout.decode().strip()
        self.stack.callback(subprocess.run, ["losetup", "-d", device], capture_output=True)
        return device

    def block(self, kind, mib, mkfs, options=""):
        image = self.image(kind, mib, *mkfs)
        at = self.folder("m")
        args = ["mount", "-o", "loop" + ("," + options if options else ""), image, at]
        return self.mount(*args, at=at)


class Ssh:
    """An sshd of the test's own on 127.0.0.1, with throw-away keys; it is
    stopped by its pid."""

    def __init__(self, test, m):
        folder = os.path.join(m.work, "ssh")
        os.makedirs(folder)
        for key in ("host", "id"):
            sh("ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(folder, key))
        shutil.copy(os.path.join(folder, "id.pub"), os.path.join(folder, "authorized"))
        self.port = 20000 + os.getpid() % 20000
        config = os.path.join(folder, "config")
        with open(config, "w") as f:
            f.write("Port %d\nListenAddress 127.0.0.1\nHostKey %s/host\nPidFile %s/pid\n"
                    "AuthorizedKeysFile %s/authorized\nPermitRootLogin prohibit-password\n"
                    "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                    "StrictModes no\nUsePAM no\nSubsystem sftp internal-sftp\n"
                    % (self.port, folder, folder, folder))
        os.makedirs("/run/sshd", exist_ok=True)
        self.sshd = subprocess.Popen(["/usr/sbin/sshd", "-f", config, "-D", "-e"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        m.stack.callback(self.stop)
        self.id = os.path.join(folder, "id")
        for _ in range(100):  # until it listens
            if subprocess.run(["ssh", "-p", str(self.port)] + self.options() +
                              ["root@127.0.0.1", "true"], capture_output=True).returncode == 0:
                return
            time.sleep(0.1)
        test.fail("sshd did not start")

    def options(self):
        return ["-o", "IdentityFile=" + self.id, "-o", "StrictHostKeyChecking=no",
                "-o", "UserKnownHostsFile=/dev/null", "-o", "BatchMode=yes"]

    def stop(self):
        self.sshd.kill()
        self.sshd.wait()


class FileSystems(unittest.TestCase):
    """The target's file system, and what becomes of the target."""

    # Each set-up mounts a file system, writes the target "t" ("old") and
    # the source, gives the target what identity the file system keeps,
    # and returns (folder to run in, source, folder whose "t" holds the
    # identity, who copies). The rows below name one each.

    def ext4(self, m):
        at = m.block("ext4", 64, ["mkfs.ext4", "-q", "-m", "0"])
        return self.plain(m, at)

    def xfs(self, m):
        at = m.block("xfs", 320, ["mkfs.xfs", "-q", "-m", "reflink=1"])
        return self.plain(m, at, source_inside=True)

    def btrfs(self, m):
        at = m.block("btrfs", 128, ["mkfs.btrfs", "-q"])
        return self.plain(m, at, source_inside=True)

    def btrfs_flags(self, m):
        at = m.block("btrfs", 128, ["mkfs.btrfs", "-q"])
        target = os.path.join(at, "t")
        write(target, b"")
        sh("chattr", "+C", target)  # btrfs takes it only on an empty file
        write(target, b"old\n")
        give_identity(target)
        sh("chattr", "+S", "+d", "+A", target)
        return at, self.source(m), at, "root"

    def xfs_folder_flags(self, m):
        # A new file in the folder takes its flags, which the target lacks;
        # the target has a project ID, which the folder does not give.
        at = m.block("xfs", 320, ["mkfs.xfs", "-q"])
        setup = self.plain(m, at)
        sh("chattr", "-p", "7", os.path.join(at, "t"))
        sh("chattr", "+S", "+d", "+A", at)
        return setup

    def tmpfs(self, m):
        at = m.mount("mount", "-t", "tmpfs", "-o", "size=16m", "tmpfs", m.folder("m"),
                     at=m.folder("m"))
        return self.plain(m, at)

    def overlay(self, m):
        lower, upper, work = m.folder("lower"), m.folder("upper"), m.folder("work")
        write(os.path.join(lower, "t"), b"old\n")
        give_identity(os.path.join(lower, "t"))
        at = m.folder("m")
        m.mount("mount", "-t", "overlay", "overlay", "-o",
                "lowerdir=%s,upperdir=%s,workdir=%s" % (lower, upper, work), at, at=at)
        self.lower = os.path.join(lower, "t")
        return at, self.source(m), at, "root"

    def exfat_fuse(self, m):
        harness.need_tool(self, "mount.exfat-fuse", "exfat-fuse")
        harness.need_tool(self, "mkfs.exfat", "exfatprogs")
        device = m.loop(m.image("exfat", 64, "mkfs.exfat"))
        at = m.mount("mount.exfat-fuse", device, m.folder("m"), at=m.folder("m"))
        write(os.path.join(at, "t"), b"old\n")
        return at, self.source(m), at, "user"  # every file 0777 root

    def vfat_fuse(self, m):
        harness.need_tool(self, "fusefat", "fusefat")
        harness.need_tool(self, "mkfs.vfat", "dosfstools")
        image = m.image("vfat", 64, "mkfs.vfat")
        at = m.mount("fusefat", "-o", "rw+", image, m.folder("m"), at=m.folder("m"))
        write(os.path.join(at, "t"), b"old\n")
        return at, self.source(m), at, "root"

    def sshfs(self, m, server_options=()):
        harness.need_tool(self, "sshfs", "sshfs")
        harness.need_tool(self, "/usr/sbin/sshd", "openssh-server")
        ssh = Ssh(self, m)
        served = m.folder("served")
        write(os.path.join(served, "t"), b"old\n")
        give_identity(os.path.join(served, "t"))
        at = m.folder("m")
        options = ",".join(o.replace("-o ", "") for o in ssh.options()[1::2])
        m.mount("sshfs", "root@127.0.0.1:" + served, at, "-p", str(ssh.port), "-o", options,
                *server_options, at=at)
        return at, self.source(m), served, "root"

    def sshfs_no_posix_rename(self, m):
        # The server refuses the rename that replaces a file (OpenSSH's
        # posix-rename extension); plain SFTP renames never replace.
        return self.sshfs(m, ["-o", "sftp_server=/usr/lib/openssh/sftp-server "
                                    "-P posix-rename@openssh.com"])

    def read_only(self, m):
        image = m.image("ro", 16, "mkfs.ext4", "-q")
        at = m.folder("m")
        m.mount("mount", "-o", "loop", image, at, at=at)
        write(os.path.join(at, "t"), b"old\n")
        sh("mount", "-o", "remount,ro", at)
        return at, self.source(m), at, "root"

    def squashfs(self, m):
        harness.need_tool(self, "mksquashfs", "squashfs-tools")
        content = m.folder("content")
        write(os.path.join(content, "t"), b"old\n")
        image = os.path.join(m.work, "squash.img")
        sh("mksquashfs", content, image, "-quiet", "-no-progress")
        m.stack.callback(os.unlink, image)
        at = m.folder("m")
        m.mount("mount", "-o", "loop", "-t", "squashfs", image, at, at=at)
        return at, self.source(m), at, "root"

    def nearly_full(self, m, new_mib=5):
        # 4 MiB free beside the 3 MiB target: a new content of 5 MiB fits
        # only where the old one is counted, one of 10 MiB not even so.
        at = m.block("full", 32, ["mkfs.ext4", "-q", "-m", "0"])
        write(os.path.join(at, "t"), os.urandom(3 * MIB))
        free = os.statvfs(at).f_bavail * os.statvfs(at).f_frsize
        with open(os.path.join(at, "filler"), "wb") as f:
            os.posix_fallocate(f.fileno(), 0, free - 4 * MIB)
        source = self.source(m, os.urandom(new_mib * MIB))
        return at, source, at, "root"

    def full(self, m):
        return self.nearly_full(m, new_mib=10)

    def full_in_place(self, m):
        # The folder is not the user's: the target must be written in place,
        # and would be torn half-way.
        at, source, _, _ = self.nearly_full(m, new_mib=10)
        os.chown(os.path.join(at, "t"), USER, USER)
        os.chmod(at, 0o755)
        os.chmod(source, 0o644)
        return at, source, at, "user"

    def bind_mounted(self, m):
        at = m.block("ext4", 64, ["mkfs.ext4", "-q", "-m", "0"])
        write(os.path.join(at, "t"), b"placeholder\n")
        write(os.path.join(at, "mounted"), b"old\n")
        give_identity(os.path.join(at, "mounted"))
        m.mount("mount", "--bind", os.path.join(at, "mounted"), os.path.join(at, "t"),
                at=os.path.join(at, "t"))
        return at, self.source(m), at, "root"

    # Helpers of the set-ups.
    def source(self, m, data=b"new\n"):
        path = os.path.join(m.work, "src", "new.bin")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write(path, data)
        os.chmod(os.path.dirname(path), 0o755)
        return path

    def plain(self, m, at, source_inside=False):
        write(os.path.join(at, "t"), b"old\n")
        give_identity(os.path.join(at, "t"))
        source = self.source(m)
        if source_inside:  # where extents can be shared, beside the target
            source = os.path.join(at, "new.bin")
            write(source, os.urandom(MIB))
        return at, source, at, "root"

    # row, set-up, status, how, message (after "pickcopy: t: "), extents shared
    ROWS = [
        ("ext4", "ext4", 0, "atomic", None, False),
        ("xfs with reflink", "xfs", 0, "atomic", None, True),
        ("btrfs", "btrfs", 0, "atomic", None, True),
        ("btrfs, chattr +S +d +A +C", "btrfs_flags", 0, "atomic", None, False),
        ("xfs, the folder's flags not the target's, a project ID",
         "xfs_folder_flags", 0, "atomic", None, False),
        ("tmpfs", "tmpfs", 0, "atomic", None, False),
        ("overlayfs, target only in the lower layer", "overlay", 0, "atomic", None, False),
        ("exFAT through FUSE, as a user", "exfat_fuse", 0, "atomic", None, False),
        ("vfat through FUSE", "vfat_fuse", 0, "in place", None, False),
        ("sshfs", "sshfs", 0, "in place", None, False),
        ("sshfs, the server refuses posix-rename", "sshfs_no_posix_rename", 0, "in place", None,
         False),
        ("read-only ext4", "read_only", 1, "refused", "Read-only file system", False),
        ("squashfs", "squashfs", 1, "refused", "Read-only file system", False),
        ("nearly full ext4", "nearly_full", 1, "refused",
         "No space left on device; the target is unchanged: replacing it needs room for the "
         "new content beside the old", False),
        ("full ext4", "full", 1, "refused",
         "No space left on device; the target is unchanged: replacing it needs room for the "
         "new content beside the old", False),
        ("full ext4, written in place", "full_in_place", 1, "refused",
         "No space left on device; the target is unchanged: the new content would not fit in "
         "writing over it", False),
        ("a bind-mounted file", "bind_mounted", 0, "in place", None, False),
    ]

    def test_file_systems(self):
        if os.geteuid() != 0:
            self.skipTest("needs root, to mount")
        for tool, package in (("losetup", "mount"), ("mkfs.xfs", "xfsprogs"),
                              ("mkfs.btrfs", "btrfs-progs"), ("setfacl", "acl"),
                              ("filefrag", "e2fsprogs")):
            harness.need_tool(self, tool, package)
        loops = subprocess.run(["losetup", "--find"], capture_output=True).returncode == 0
        fuse = os.path.exists("/dev/fuse")
        for row, setup, rc, how, message, shared in self.ROWS:
            with self.subTest(row):
                needs_fuse = "fuse" in setup or "sshfs" in setup
                if needs_fuse and not fuse:
                    self.skipTest("no FUSE here (/dev/fuse)")
                if not loops and setup not in ("tmpfs", "overlay") and "sshfs" not in setup:
                    self.skipTest("no loop devices here")
                self.check(row, setup, rc, how, message, shared)

    def check(self, row, setup, rc, how, message, shared):
        work = tempfile.mkdtemp(prefix="pickcopy-fs-")
        try:
            os.chmod(work, 0o755)
            with Mounts(work) as m:
                self.copy_and_compare(m, row, setup, rc, how, message, shared)
        finally:
            shutil.rmtree(work, True)

    def copy_and_compare(self, m, row, setup, rc, how, message, shared):
        try:
            at, source, kept_in, who = getattr(self, setup)(m)
        except subprocess.CalledProcessError as e:
            self.fail("%s: setting up failed: %s %s" % (row, e.cmd, e.stderr.decode()))
        target = os.path.join(kept_in, "t")
        before = identity(target)
        flags = file_flags(target)
        inode = os.stat(target).st_ino
        names = sorted(os.listdir(at))
        with open(source, "rb") as f:
            new = f.read()
        with open(target, "rb") as f:
            old = f.read()
        wrap = (lambda cmd: as_user(cmd, groups=())) if who == "user" else None
        r = harness.run(at, ["t", source], "a\n", wrap=wrap)
        where = "%s: %s" % (row, r.err)
        self.assertEqual(r.rc, rc, where)
        if message:
            self.assertEqual(r.err, PROMPT + "pickcopy: t: %s\n" % message, where)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), new if rc == 0 else old, where)
        self.assertEqual(sorted(os.listdir(at)), names, "%s: a stray file" % row)
        self.assertEqual(identity(target), before, "%s: the identity" % row)
        self.assertEqual(file_flags(target), flags, "%s: the file flags" % row)
        if how == "atomic":
            self.assertNotEqual(os.stat(target).st_ino, inode, "%s: not replaced" % row)
        elif how == "in place" or how == "refused":
            self.assertEqual(os.stat(target).st_ino, inode, "%s: replaced" % row)
        if shared:
            extents = sh("filefrag", "-v", target).stdout.decode()
            self.assertIn("shared", extents, "%s: no extent shared with the source" % row)
        if setup == "overlay":
            with open(self.lower, "rb") as f:
                self.assertEqual(f.read(), b"old\n", "the lower layer was written")


def main():
    args, rest = harness.parser("pickcopy on real file systems").parse_known_args()
    harness.configure(args)
    harness.run_cases([sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
