"""What can be checked of a binary without running it: its format and CPU,
the libraries it needs, and the system calls it imports.

    python3 tests/binaries.py BUILD BINARY [VERSION]

checks BINARY as the build BUILD (windows32, windows64, freebsd,
macos-arm64, macos-x86_64) makes it; tests/run calls check() for each such
build. Read with LLVM's tools (llvm-readobj, llvm-nm, llvm-objdump), which
read every format.
"""
import re
import subprocess
import sys

# DLLs that every Windows has: the binary needs no runtime of the compiler.
WINDOWS_DLLS = {"kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll", "advapi32.dll",
                "ntdll.dll"}

# build: the file's header facts, the libraries it may need (and must), and
# the system calls it must and must not import: the facilities the feature
# tests should have chosen there.
EXPECTED = {
    "windows32": dict(header=["Machine: IMAGE_FILE_MACHINE_I386"]),
    "windows64": dict(header=["Machine: IMAGE_FILE_MACHINE_AMD64"]),
    "freebsd": dict(
        header=["Format: elf64-x86-64", "OS/ABI: FreeBSD"],
        libraries={"libc.so.7", "libc++.so.1", "libcxxrt.so.1", "libm.so.5", "libgcc_s.so.1",
                   "libthr.so.3"},
        required_libraries={"libc.so.7", "libc++.so.1"},
        # copy_file_range for the data, the portable directory reader, no
        # attribute calls (an existing target is written in place there),
        # and the target held: its folder's calls, and its name asked again.
        imports={"copy_file_range", "opendir", "readdir", "fsync", "openat", "fstatat",
                 "readlinkat", "renameat", "faccessat"},
        absent={"getdents", "getdents64", "fcopyfile", "extattr_get_fd", "flistxattr", "rename",
                "readlink"}),
    "macos-arm64": dict(header=["Format: Mach-O arm64", "CpuType: Arm64"]),
    "macos-x86_64": dict(header=["Format: Mach-O 64-bit x86-64", "CpuType: X86-64"]),
}
for _arch in ("macos-arm64", "macos-x86_64"):
    EXPECTED[_arch].update(
        libraries={"/usr/lib/libSystem.B.dylib", "/usr/lib/libc++.1.dylib"},
        required_libraries={"/usr/lib/libSystem.B.dylib", "/usr/lib/libc++.1.dylib"},
        # fcopyfile for the data, fcntl for F_FULLFSYNC, Darwin's xattr calls
        # on the held descriptors, statfs's type names for whose word on
        # attributes counts, the target held through its folder, and a new
        # target renamed into place without replacing.
        imports={"fcopyfile", "fcntl", "flistxattr", "fgetxattr", "fsetxattr", "fremovexattr",
                 "opendir", "readdir", "fstatfs", "openat", "fstatat", "renameat", "renameatx_np"},
        absent={"copy_file_range", "getdents64", "listxattr", "getxattr", "rename", "readlink"})


def tool(*args):
    return subprocess.run(args, capture_output=True, text=True, errors="replace",
                          check=True).stdout


def imported_symbols(build, binary):
    if build.startswith("macos"):
        # C names carry a '_', and some a variant's suffix (readdir$INODE64).
        names = tool("llvm-nm", "-u", binary).split()
        return {n[1:].split("$")[0] for n in names if n.startswith("_")}
    lines = tool("llvm-nm", "-D", "--undefined-only", binary).splitlines()
    return {line.split()[-1].split("@")[0] for line in lines if line.split()}


def needed_libraries(build, binary):
    if build.startswith("windows"):
        text = tool("llvm-readobj", "--coff-imports", binary)
        return {m.lower() for m in re.findall(r"^\s*Name: (\S+\.dll)$", text, re.M | re.I)}
    if build.startswith("macos"):
        text = tool("llvm-objdump", "--macho", "--dylibs-used", binary)
        return set(re.findall(r"^\s+(\S+) \(compatibility", text, re.M))
    text = tool("llvm-readobj", "--needed-libs", binary)
    listed = text.split("NeededLibraries [", 1)[1].split("]", 1)[0]
    return set(listed.split())


def windows_resources(binary, version=""):
    """What the version resource and the manifest of pickcopy.exe say."""
    problems = []
    with open(binary, "rb") as f:
        data = f.read()
    for value in ["ProductName", "pickcopy"] + (["ProductVersion", version] if version else []):
        if value.encode("utf-16-le") not in data:
            problems.append("version resource lacks %r" % value)
    for word in (b"supportedOS", b"asInvoker", b"longPathAware"):
        if word not in data:
            problems.append("manifest lacks %s" % word.decode())
    return problems


def check(build, binary, version=""):
    """The list of what is wrong with `binary` as `build` makes it."""
    want = EXPECTED[build]
    header = tool("llvm-readobj", "--file-headers", binary)
    problems = ["header lacks %r" % h for h in want["header"] if h not in header]
    libraries = needed_libraries(build, binary)
    if build.startswith("windows"):
        problems += ["imports %s, not a system DLL" % n for n in sorted(libraries - WINDOWS_DLLS)]
        resources = tool("llvm-readobj", "--coff-resources", binary)
        problems += ["no %s resource" % kind for kind in ("VERSIONINFO", "MANIFEST")
                     if "Type: %s" % kind not in resources]
        return problems + windows_resources(binary, version)
    problems += ["needs %s" % n for n in sorted(libraries - want["libraries"])]
    problems += ["does not need %s" % n for n in sorted(want["required_libraries"] - libraries)]
    symbols = imported_symbols(build, binary)
    problems += ["does not call %s" % n for n in sorted(want["imports"] - symbols)]
    problems += ["calls %s" % n for n in sorted(want["absent"] & symbols)]
    return problems


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__.strip().splitlines()[2])
    problems = check(*sys.argv[1:])
    for problem in problems:
        print("%s: %s" % (sys.argv[2], problem))
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
