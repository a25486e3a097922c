"""What every test driver of pickcopy shares: the binary and how it is
started, temporary folders, the dialogue's own texts, and the rule for
skips.

A driver parses its options with parser() and hands them to configure();
ARGS then holds them for the whole run. --runner starts the binary through
an emulator (qemu-user, wine); --sep is the platform's path separator.
"""
import argparse
import os
import re
import shlex
import shutil
import stat
import struct
import subprocess
import sys
import tempfile

ARGS = None

PROMPT = "please indicate your choice "
# The reason given where the target's name has come to lead elsewhere.
CHANGED = "changed by another program during the copy; left as it is"
USAGE = (
    "Usage:\n\n    pickcopy  file-name  choices\n\n"
    "file-name is the file that will be modified by copying one of\n"
    "a set of files into it.\n"
    "choices is a wild-card specification indicating the set of files\n"
    "from which the user makes a selection.  The first line of each such\n"
    "file is displayed together with a letter on the screen.  The user\n"
    "chooses from this menu.\n")
# What --help writes: the usage text and three lines more.
HELP = USAGE + (
    "pickcopy --version shows the version.\n"
    "The manual page pickcopy(1) tells more.\n"
    "Each pattern gives at most 25 names.\n")


def project_version():
    """The version CMakeLists.txt gives the project, which --version shows."""
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    with open(os.path.join(top, "CMakeLists.txt")) as f:
        return re.search(r"^project\(pickcopy VERSION (\S+)", f.read(), re.M).group(1)


VERSION = project_version()


def parser(description):
    p = argparse.ArgumentParser(description=description)
    p.add_argument("--binary", required=True)
    p.add_argument("--runner", default="", help="a program that starts the binary")
    p.add_argument("--sep", default="/", help="the platform's path separator")
    return p


def configure(args):
    global ARGS
    ARGS = args
    ARGS.binary = os.path.abspath(ARGS.binary)
    ARGS.runner = shlex.split(ARGS.runner)
    if wine():
        start_wine()
    return ARGS


def windows():
    return ARGS.sep == "\\"


def wine():
    return bool(ARGS.runner) and os.path.basename(ARGS.runner[0]).startswith("wine")


def qemu():
    return bool(ARGS.runner) and os.path.basename(ARGS.runner[0]).startswith("qemu-")


def start_wine():
    """A persistent wineserver saves most of Wine's start-up on every run.
    Wine's own services start with the first program and would hold its
    pipes open, so a first program with no pipes starts them."""
    import atexit
    if os.path.basename(ARGS.runner[0]) == "wine64":
        # Wine's own programs (cmd, attrib) start through the same loader.
        os.environ.setdefault("WINELOADER", ARGS.runner[0])
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL, check=False)
    subprocess.run(["wineserver", "-p"], **quiet)
    atexit.register(subprocess.run, ["wineserver", "-k"], **quiet)
    subprocess.run(ARGS.runner + ["cmd", "/c", "exit"], **quiet)


def require_all():
    return os.environ.get("PICKCOPY_REQUIRE_ALL") == "1"


def need(test, present, reason):
    """Skips `test` with `reason` unless `present`; under
    PICKCOPY_REQUIRE_ALL=1 a missing part fails it instead."""
    if present:
        return
    if require_all():
        test.fail("%s, and PICKCOPY_REQUIRE_ALL=1" % reason)
    test.skipTest(reason)


def need_tool(test, program, package):
    """Skips `test` where `program` (from Debian's `package`) is missing;
    under PICKCOPY_REQUIRE_ALL=1 a missing tool fails it instead."""
    need(test, shutil.which(program), "no %s (Debian's %s)" % (program, package))


# The status of a suite that skipped every case, which CTest shows as
# skipped (SKIP_RETURN_CODE in tests/CMakeLists.txt).
SKIPPED = 77


def skips(result):
    """What a unittest result skipped: the cases skipped whole, the number
    of rows (subtests) skipped in each other case, and each reason once, in
    the order first given."""
    whole, rows, reasons = set(), {}, []
    for case, reason in result.skipped:
        parent = getattr(case, "test_case", None)  # a subtest's own case
        if parent is None:
            whole.add(case.id())
        else:
            rows[parent.id()] = rows.get(parent.id(), 0) + 1
        if reason not in reasons:
            reasons.append(reason)
    return whole, {k: n for k, n in rows.items() if k not in whole}, reasons


def skip_words(whole, rows, reasons, cases):
    """The skips in one line: "skipped 2 of 4 cases, and 3 rows in 1 more:
    reason; reason"."""
    def many(n, word):
        return "%d %s%s" % (n, word, "" if n == 1 else "s")
    counted = []
    if whole:
        counted.append("%d of %s" % (len(whole), many(cases, "case")))
    if rows:
        within = "%d more" % len(rows) if whole else "%d of %s" % (len(rows), many(cases, "case"))
        counted.append("%s in %s" % (many(sum(rows.values()), "row"), within))
    return "skipped %s: %s" % (", and ".join(counted), "; ".join(reasons))


def run_cases(argv):
    """Runs the cases that unittest's command line `argv` names and exits:
    0 when they passed, SKIPPED when every case was skipped, 1 otherwise.
    What was skipped is said last, and added as one line to the file that
    PICKCOPY_SKIPS names, for tests/run's summary."""
    import unittest
    result = unittest.main(argv=argv, verbosity=2, exit=False).result
    whole, rows, reasons = skips(result)
    if reasons:
        words = skip_words(whole, rows, reasons, result.testsRun)
        print("\n" + words, file=sys.stderr)
        if os.environ.get("PICKCOPY_SKIPS"):
            suite = os.environ.get("PICKCOPY_SUITE") or os.path.basename(argv[0])
            with open(os.environ["PICKCOPY_SKIPS"], "a") as f:
                f.write("%s: %s\n" % (suite, words))
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(SKIPPED if result.testsRun and len(whole) == result.testsRun else 0)


def native(path):
    """A path written with '/' in the tests, in the platform's own form."""
    return path.replace("/", ARGS.sep)


def menu(*texts):
    return "".join("%c) %s" % (chr(ord("A") + i), t) for i, t in enumerate(texts))


def echo(name, target):
    return "The command is: copy %s %s\n" % (name, target)


class Folder:
    """A temporary folder in which a test writes files, removed after it."""

    def __init__(self, test, prefix="pickcopy-test-"):
        self.path = tempfile.mkdtemp(prefix=prefix)
        test.addCleanup(subprocess.run, ["rm", "-rf", self.path])

    def __truediv__(self, name):
        return os.path.join(self.path, *name.split("/"))

    def write(self, name, data):
        path = self / name
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data.encode("latin-1") if isinstance(data, str) else data)
        return path

    def read(self, name):
        with open(self / name, "rb") as f:
            return f.read()

    def names(self):
        return sorted(os.listdir(self.path))

    def listing(self):
        """Every entry below the folder: its path, mode and content."""
        found = []
        for root, dirs, files in os.walk(self.path):
            for name in sorted(dirs + files):
                full = os.path.join(root, name)
                st = os.lstat(full)
                data = b""
                if stat.S_ISREG(st.st_mode):
                    with open(full, "rb") as f:
                        data = f.read()
                found.append((os.path.relpath(full, self.path), st.st_mode, data))
        return sorted(found)


def command(args, env=None):
    """The command line and environment that start pickcopy with `args`.
    A fault shim in LD_PRELOAD belongs to the guest under qemu: in the
    host's environment the host's loader would load it into qemu itself."""
    cmd = ARGS.runner + [ARGS.binary] + list(args)
    if env and "LD_PRELOAD" in env and qemu():
        env = dict(env)
        cmd = ARGS.runner[:1] + ["-E", "LD_PRELOAD=" + env.pop("LD_PRELOAD")] + cmd[1:]
    return cmd, env


class Result:
    def __init__(self, proc, out, err):
        self.rc = proc.returncode
        if windows():
            # Text-mode streams: a newline reaches the pipe as CR LF.
            out, err = out.replace(b"\r\n", b"\n"), err.replace(b"\r\n", b"\n")
        self.out = out.decode("latin-1")
        self.err = err.decode("latin-1")


def start(folder, args, env=None, wrap=None, **kwargs):
    """Starts pickcopy in `folder` (a Folder or a path) with pipes on all
    three streams; `wrap` may put the command inside another (another user,
    a mount namespace)."""
    cmd, env = command(args, env)
    if wrap:
        cmd = wrap(cmd)
    cwd = folder if isinstance(folder, str) else folder.path
    return subprocess.Popen(cmd, cwd=cwd, env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)


def run(folder, args, answer="", wrap=None, env=None, **kwargs):
    """Runs pickcopy in `folder` to its end with `answer` on its input."""
    proc = start(folder, args, env=env, wrap=wrap, **kwargs)
    data = answer.encode("latin-1") if isinstance(answer, str) else answer
    out, err = proc.communicate(data, timeout=120)
    return Result(proc, out, err)


# What a terminal is shown as '?': the C0 controls but newline and tab,
# DEL, and the C1 controls. In a locale whose character set is not UTF-8
# these are the bytes below; in UTF-8 the characters U+0080 to U+009F, and
# the bytes 0x80 to 0x9F that are no part of a valid character.
CONTROLS = bytes(c for c in range(32) if c not in (9, 10)) + b"\x7f" + bytes(range(0x80, 0xA0))


def terminal_safe(data, utf8=True):
    """`data` as pickcopy shows it on a terminal in a UTF-8 locale, or
    (`utf8` false) in any other."""
    if not utf8:
        return data.translate(bytes.maketrans(CONTROLS, b"?" * len(CONTROLS)))
    # Each byte that is no part of a valid character decodes to a surrogate
    # of its own, U+DC80 to U+DCFF.
    def control(c):
        code = ord(c) - 0xDC00 if 0xDC80 <= ord(c) <= 0xDCFF else ord(c)
        return code < 256 and code in CONTROLS
    text = data.decode("utf-8", "surrogateescape")
    return "".join("?" if control(c) else c for c in text).encode("utf-8", "surrogateescape")


def run_on_terminal(folder, args, answer="a", env=None, signal_on=None, locale="C.UTF-8",
                    columns=0):
    """Runs pickcopy in `folder` with all three streams on a new
    pseudo-terminal, types `answer` and Enter at the first prompt, and
    returns its exit status and every byte written to the terminal. The
    terminal neither echoes what is typed nor turns a newline into CR LF,
    so natively the bytes are exactly pickcopy's; under Wine they are what
    Wine's console paints, which screen_lines() reads back. Enter is a
    newline natively and a carriage return for Wine's console, and reaches
    either unchanged: Wine may set the terminal raw only after the prompt.
    `signal_on` (bytes, signal) sends that signal once the bytes are seen
    after the answer. `locale` is the terminal's (LC_ALL). `columns` sets
    the terminal's width; 0 leaves it unset, as a new pseudo-terminal's is."""
    import fcntl
    import pty
    import select
    import termios
    cmd, env = command(args, env)
    pid, fd = pty.fork()
    if pid == 0:
        try:
            attrs = termios.tcgetattr(0)
            attrs[0] &= ~termios.ICRNL
            attrs[1] &= ~termios.OPOST
            attrs[3] &= ~termios.ECHO
            termios.tcsetattr(0, termios.TCSANOW, attrs)
            if columns:
                fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
            os.chdir(folder.path)
            # Wine's console paints in the terminal's character set.
            os.environ.update(env or {}, LC_ALL=locale, WINEDEBUG="-all")
            os.execvp(cmd[0], cmd)
        finally:
            os._exit(127)
    seen, typed = b"", False
    try:
        while True:
            ready, _, _ = select.select([fd], [], [], 60)
            if not ready:
                os.kill(pid, 9)
                os.waitpid(pid, 0)
                raise AssertionError("pickcopy on a terminal stalled: %r" % seen)
            chunk = os.read(fd, 4096)
            if not chunk:
                break
            seen += chunk
            if not typed and PROMPT.rstrip().encode() in screen_text(seen):
                os.write(fd, answer.encode() + (b"\r" if wine() else b"\n"))
                typed, answered_at = True, len(seen)
            elif typed and signal_on and signal_on[0] in seen[answered_at:]:
                os.kill(pid, signal_on[1])
                signal_on = None
    except OSError:
        pass  # the terminal is gone with the program
    finally:
        os.close(fd)
    _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status), seen


def screen_text(data):
    """The text that a terminal shows of `data` as Wine's console paints it:
    a move of the cursor to the right stands for blanks, its other
    sequences (erase, show or hide the cursor) and carriage returns for
    nothing."""
    text = re.sub(rb"\x1b\[(\d*)C", lambda m: b" " * int(m.group(1) or 1), data)
    return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", text).replace(b"\r", b"")


def screen_lines(data):
    return screen_text(data).split(b"\n")


def final_screen(data, columns=0):
    """What a plain terminal shows at the end of `data`: a carriage return
    goes back to the line's start, and what follows writes over it. A
    terminal `columns` wide (0: endless lines) moves to the next line when
    a character comes after its last column is written."""
    lines, column = [bytearray()], 0
    for byte in data:
        if byte == 0x0A:
            lines.append(bytearray())
            column = 0
        elif byte == 0x0D:
            column = 0
        else:
            if columns and column == columns:
                lines.append(bytearray())
                column = 0
            line = lines[-1]
            line[column:column + 1] = bytes([byte])
            column += 1
    return [bytes(line).rstrip(b" ") for line in lines]


# The other users are made up for the tests: ids without an account, taken
# on with setpriv, so nothing on the machine changes.
USER, OTHER, GROUP2 = 42424, 42425, 42426


def as_user(cmd, groups=(USER, GROUP2)):
    """`cmd` run as USER, with `groups` as its groups (none: cleared)."""
    joined = ["--groups=" + ",".join(map(str, groups))] if groups else ["--clear-groups"]
    return ["setpriv", "--reuid=%d" % USER, "--regid=%d" % USER] + joined + ["--"] + cmd


def identity(path):
    """A file's permission bits, owner, group and extended attributes
    (none where its file system keeps none)."""
    st = os.stat(path)
    try:
        attrs = {n: os.getxattr(path, n) for n in os.listxattr(path)}
    except OSError:
        attrs = {}
    return stat.S_IMODE(st.st_mode), st.st_uid, st.st_gid, attrs


def note(text):
    """A figure worth seeing in the log (not a skip: those are unittest's)."""
    print("\n  " + text, file=sys.stderr)
