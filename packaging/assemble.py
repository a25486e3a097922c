#!/usr/bin/env python3
"""Puts the release builds into reproducible archives; called by
packaging/release.

Every archive member gets the time SOURCE_DATE_EPOCH, owner root and a
fixed mode, in sorted order; gzip headers carry no time or name.
"""
import argparse
import gzip
import hashlib
import io
import os
import re
import shutil
import subprocess
import tarfile
import zipfile

ARGS = None
EPOCH = int(os.environ["SOURCE_DATE_EPOCH"])
SUMMARY = "copy one of a set of files, chosen from a menu of their first lines, onto a file"
DESCRIPTION = """\
pickcopy shows a lettered menu of candidate files, each represented by its
first line, in natural order, and copies the chosen one onto a target file:
atomically where the system allows it, keeping the target's owner,
permissions and attributes, and never through a shell."""


def built(name, *parts):
    return os.path.join(ARGS.work, name, *parts)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def stripped(binary, strip="strip"):
    out = binary + ".stripped"
    subprocess.run([strip, "-o", out, binary], check=True)
    return read(out)


def gzipped(data):
    buf = io.BytesIO()
    with gzip.GzipFile(filename="", mode="wb", fileobj=buf, mtime=0, compresslevel=9) as f:
        f.write(data)
    return buf.getvalue()


def crlf(data):
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


# A Markdown link, [text](target); nothing in README.md's code looks like one.
LINK = re.compile(r"\[((?:[^\[\]]|\[[^\]]*\])*)\]\(([^\s)]*)\)")


def archive_readme(name, shipped):
    """README.md as the archive's `name`: a link to a file the archive ships
    leads to it there (`shipped`: the file in the repository, and its name
    in the archive), and a link to anything else is left as its text."""
    shipped = dict(shipped, **{"README.md": name})

    def rewrite(link):
        text, target = link.group(1), link.group(2)
        if re.match(r"[A-Za-z][A-Za-z0-9+.-]*:", target):
            return link.group(0)  # a web address stays
        path, _, anchor = target.partition("#")
        there = shipped.get(path or "README.md")
        if there is None or (anchor and not there.endswith(".md")):
            return text
        return "[%s](%s)" % (text, there + ("#" + anchor if anchor else ""))
    return LINK.sub(rewrite, read("README.md").decode()).encode()


def manual_text(page):
    ascii_page = subprocess.run(["mandoc", "-T", "ascii", page], check=True,
                                capture_output=True).stdout
    return subprocess.run(["col", "-bx"], input=ascii_page, check=True,
                          capture_output=True).stdout


def write_tar_gz(path, members):
    """members: (name, data, mode), directories implied."""
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w", format=tarfile.GNU_FORMAT) as tar:
        dirs = sorted({os.path.dirname(n) for n, _, _ in members} - {""})
        for d in dirs:
            info = tarfile.TarInfo(d)
            info.type, info.mode = tarfile.DIRTYPE, 0o755
            info.mtime, info.uid, info.gid, info.uname, info.gname = EPOCH, 0, 0, "root", "root"
            tar.addfile(info)
        for name, data, mode in sorted(members):
            info = tarfile.TarInfo(name)
            info.size, info.mode = len(data), mode
            info.mtime, info.uid, info.gid, info.uname, info.gname = EPOCH, 0, 0, "root", "root"
            tar.addfile(info, io.BytesIO(data))
    with open(path, "wb") as f:
        f.write(gzipped(buf.getvalue()))


def write_zip(path, members):
    import time
    stamp = time.gmtime(max(EPOCH, 315532800))[:6]  # zip times start in 1980
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data, mode in sorted(members):
            info = zipfile.ZipInfo(name, stamp)
            info.external_attr = mode << 16
            info.create_system = 3
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)


def linux_tarball(arch, strip):
    top = "pickcopy-%s-linux-%s" % (ARGS.version, arch)
    write_tar_gz(os.path.join(ARGS.dist, top + ".tar.gz"), [
        (top + "/pickcopy", stripped(built("linux-" + arch, "pickcopy"), strip), 0o755),
        (top + "/pickcopy.1", read(built("linux-" + arch, "pickcopy.1")), 0o644),
        (top + "/README.md", archive_readme("README.md", {
            "src/dialogue/pickcopy.1.in": "pickcopy.1", "LICENSE": "LICENSE"}), 0o644),
        (top + "/LICENSE", read("LICENSE"), 0o644),
    ])


def windows_zip(bits, strip):
    write_zip(os.path.join(ARGS.dist, "pickcopy-%s-win%s.zip" % (ARGS.version, bits)), [
        ("pickcopy.exe", stripped(built("win" + bits, "pickcopy.exe"), strip), 0o755),
        ("pickcopy.txt", crlf(manual_text(built("win" + bits, "pickcopy.1"))), 0o644),
        ("README.txt", crlf(archive_readme("README.txt", {
            "src/dialogue/pickcopy-windows.1.in": "pickcopy.txt", "LICENSE": "LICENSE.txt"})),
         0o644),
        ("LICENSE.txt", crlf(read("LICENSE")), 0o644),
    ])


def copyright_file():
    return ("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
            "Upstream-Name: pickcopy\n\n"
            "Files: *\nCopyright: 2026 The pickcopy authors\nLicense: MIT\n" +
            "".join(" " + l if l.strip() else " .\n" for l in
                    read("LICENSE").decode().split("\n", 3)[3].splitlines(True))).encode()


# The project has no maintainer address of its own; a packager gives
# theirs, "Name <address>", in PICKCOPY_MAINTAINER.
MAINTAINER = os.environ.get("PICKCOPY_MAINTAINER", "The pickcopy authors")
# Without an address, Debian's tools call the contact malformed; the
# package says why in its lintian overrides.
OVERRIDES = b"""\
# pickcopy has no maintainer address; set PICKCOPY_MAINTAINER to give one.
pickcopy: malformed-contact *
pickcopy: syntax-error-in-debian-changelog *
"""


def changelog():
    date = subprocess.run(["date", "-R", "-u", "-d", "@%d" % EPOCH], check=True,
                          capture_output=True, text=True).stdout.strip()
    return ("pickcopy (%s) unstable; urgency=medium\n\n  * Release %s.\n\n -- %s  %s\n" % (
        ARGS.version, ARGS.version, MAINTAINER, date)).encode()


def stage_linux(root, extra=None):
    """The installed tree of the Linux package under `root`."""
    files = dict(extra or {})
    files.update({
        "usr/bin/pickcopy": (stripped(built("linux-package", "pickcopy")), 0o755),
        "usr/share/man/man1/pickcopy.1.gz":
            (gzipped(read(built("linux-package", "pickcopy.1"))), 0o644),
        "usr/share/doc/pickcopy/copyright": (copyright_file(), 0o644),
        "usr/share/doc/pickcopy/changelog.gz": (gzipped(changelog()), 0o644),
    })
    for name, (data, mode) in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, mode)
    return files


def clamp_times(root):
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            os.utime(os.path.join(dirpath, name), (EPOCH, EPOCH), follow_symlinks=False)
    os.utime(root, (EPOCH, EPOCH))


def debian_package():
    root = os.path.join(ARGS.work, "deb")
    shutil.rmtree(root, ignore_errors=True)
    extra = {}
    if "<" not in MAINTAINER:
        extra["usr/share/lintian/overrides/pickcopy"] = (OVERRIDES, 0o644)
    files = stage_linux(root, extra)
    os.makedirs(os.path.join(root, "DEBIAN"))
    size = sum((len(d) + 1023) // 1024 for d, _ in files.values())
    control = (
        "Package: pickcopy\nVersion: %s\nArchitecture: amd64\n"
        "Maintainer: %s\n"
        "Installed-Size: %d\nDepends: libc6 (>= 2.35)\nSection: utils\nPriority: optional\n"
        "Description: %s\n%s\n") % (
            ARGS.version, MAINTAINER, size, SUMMARY,
            "\n".join(" " + l for l in DESCRIPTION.splitlines()))
    with open(os.path.join(root, "DEBIAN", "control"), "w") as f:
        f.write(control)
    with open(os.path.join(root, "DEBIAN", "md5sums"), "w") as f:
        for name in sorted(files):
            f.write("%s  %s\n" % (hashlib.md5(files[name][0]).hexdigest(), name))
    for name in ("control", "md5sums"):
        os.chmod(os.path.join(root, "DEBIAN", name), 0o644)
    clamp_times(root)
    subprocess.run(["dpkg-deb", "--root-owner-group", "-Zxz", "--build", root,
                    os.path.join(ARGS.dist, "pickcopy_%s_amd64.deb" % ARGS.version)],
                   check=True, stdout=subprocess.DEVNULL)


def rpm_package():
    top = os.path.abspath(os.path.join(ARGS.work, "rpm"))
    shutil.rmtree(top, ignore_errors=True)
    root = os.path.join(top, "root")
    files = stage_linux(root)
    clamp_times(root)
    spec = os.path.join(top, "pickcopy.spec")
    with open(spec, "w") as f:
        f.write("Name: pickcopy\nVersion: %s\nRelease: 1\nSummary: %s\nLicense: MIT\n"
                "BuildArch: x86_64\n\n%%description\n%s\n\n%%install\n"
                "cp -a %s/. %%{buildroot}/\n\n%%files\n%s\n" % (
                    ARGS.version, SUMMARY, DESCRIPTION, root,
                    "\n".join("/" + n for n in sorted(files))))
    defines = {
        "_topdir": top, "_buildhost": "pickcopy", "debug_package": "%{nil}",
        "__os_install_post": "%{nil}", "_build_id_links": "none",
        "use_source_date_epoch_as_buildtime": "1", "clamp_mtime_to_source_date_epoch": "1",
        "source_date_epoch_from_changelog": "0", "_binary_payload": "w9.gzdio",
    }
    cmd = ["rpmbuild", "-bb", "--quiet"]
    for k, v in defines.items():
        cmd += ["--define", "%s %s" % (k, v)]
    subprocess.run(cmd + [spec], check=True, stdout=subprocess.DEVNULL)
    rpm = "pickcopy-%s-1.x86_64.rpm" % ARGS.version
    shutil.copy(os.path.join(top, "RPMS", "x86_64", rpm), os.path.join(ARGS.dist, rpm))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--dist", required=True)
    ARGS = parser.parse_args()
    linux_tarball("x86_64", "strip")
    linux_tarball("aarch64", "aarch64-linux-gnu-strip")
    windows_zip("32", "i686-w64-mingw32-strip")
    windows_zip("64", "x86_64-w64-mingw32-strip")
    debian_package()
    rpm_package()
    names = sorted(os.listdir(ARGS.dist))
    with open(os.path.join(ARGS.dist, "SHA256SUMS"), "w") as f:
        for name in names:
            f.write("%s  %s\n" % (hashlib.sha256(read(os.path.join(ARGS.dist, name))).hexdigest(),
                                  name))
    for name in names + ["SHA256SUMS"]:
        print("dist/" + name)


if __name__ == "__main__":
    main()
