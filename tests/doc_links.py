#!/usr/bin/env python3
"""Every relative link in README.md and docs/*.md leads somewhere.

    doc_links.py [--top FOLDER] [--archives FILE...] [unittest args]

A link to a file must name a file or folder inside the repository; a link
with '#anchor' must name a heading of the Markdown file it leads to (or of
the same file), by the anchor GitHub gives that heading. Links with a
scheme (https:, mailto:) are not followed. Text in code blocks and code
spans is not a link. --archives checks the README of each release archive
(.tar.gz, .zip) too, against the files that archive holds. The Rules table runs the checker on small made-up
documents first, so that a checker that lets everything pass fails.
"""
import argparse
import glob
import os
import re
import shutil
import sys
import tempfile
import unittest

import harness

TOP = None
ARCHIVES = []

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
CODE_SPAN = re.compile(r"(`+)(?:.|\n)*?(?<!`)\1(?!`)")
INLINE_LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*(<[^>]*>|[^\s)]*)(?:\s+[\"'(][^)]*)?\s*\)")
REFERENCE = re.compile(r"^ {0,3}\[[^\]]+\]:\s*(<[^>]*>|\S+)", re.M)
ATX_HEADING = re.compile(r"^ {0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


def outside_fences(text):
    """The text with fenced code blocks blanked out; line numbers are kept."""
    lines, fence = [], None
    for line in text.split("\n"):
        m = FENCE.match(line)
        if fence:
            if m and m.group(1)[0] == fence[0] and len(m.group(1)) >= len(fence):
                fence = None
            lines.append("")
        elif m:
            fence = m.group(1)
            lines.append("")
        else:
            lines.append(line)
    return "\n".join(lines)


def prose(text):
    """The text outside code blocks and code spans."""
    return CODE_SPAN.sub(lambda m: " " * len(m.group(0)), outside_fences(text))


def slug(heading):
    """The anchor GitHub gives a heading: its text as shown, lower case,
    with every character but letters, digits, '-', '_' and spaces dropped
    and the spaces made '-'."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link shows its text
    text = re.sub(r"[`*]", "", text).strip().lower()
    text = "".join(c for c in text if c.isalnum() or c in "-_ ")
    return text.replace(" ", "-")


def anchors(path):
    found, seen = set(), {}
    with open(path, encoding="utf-8") as f:
        for line in outside_fences(f.read()).split("\n"):
            m = ATX_HEADING.match(line)
            if not m:
                continue
            base = slug(m.group(2))
            count = seen.get(base, 0)
            seen[base] = count + 1
            found.add(base if count == 0 else "%s-%d" % (base, count))
    return found


def links(text):
    """(line number, target) of every link in the prose."""
    text = prose(text)
    for pattern in (INLINE_LINK, REFERENCE):
        for m in pattern.finditer(text):
            target = m.group(1)
            if target.startswith("<") and target.endswith(">"):
                target = target[1:-1]
            yield text.count("\n", 0, m.start()) + 1, target


def problems(top, path):
    """What is wrong with the links of one Markdown file: (line, target, why)."""
    top = os.path.realpath(top)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    found = []
    for line, target in links(text):
        if not target or SCHEME.match(target) or target.startswith("//"):
            continue
        file_part, _, anchor = target.partition("#")
        where = os.path.realpath(os.path.join(os.path.dirname(path), file_part)) \
            if file_part else os.path.realpath(path)
        why = None
        if os.path.commonpath([top, where]) != top:
            why = "leads out of the repository"
        elif not os.path.exists(where):
            why = "no such file"
        elif anchor and not where.endswith(".md"):
            why = "an anchor into a file that is not Markdown"
        elif anchor and anchor not in anchors(where):
            why = "no heading with that anchor"
        if why:
            found.append((line, target, why))
    return found


def documents(top):
    return [os.path.join(top, "README.md")] + sorted(glob.glob(os.path.join(top, "docs", "*.md")))


def unpacked(archive, into):
    """Unpacks a release archive into `into`: the folder that holds its
    files, and its README there."""
    shutil.unpack_archive(archive, into)
    names = os.listdir(into)
    top = os.path.join(into, names[0]) if len(names) == 1 else into
    readme = [n for n in os.listdir(top) if n.startswith("README")]
    return top, os.path.join(top, readme[0]) if len(readme) == 1 else None


class Rules(unittest.TestCase):
    """The checker on made-up documents: README.md's text, the other files
    of the made-up repository, and the targets it must report."""
    CASES = [
        ("a file that exists", "[l](LICENSE) [d](docs/)", {"LICENSE": "", "docs/x.md": ""}, []),
        ("a file that does not", "see [d](docs/gone.md)", {}, ["docs/gone.md"]),
        ("a heading of the same file", "[q](#quick-start)\n\n## Quick start\n", {}, []),
        ("a heading that is not there", "[q](#quick-start)\n\n## Quick starts\n", {},
         ["#quick-start"]),
        ("a heading of another file, with code and punctuation",
         "[a](docs/t.md#the-builds-what-runs) [b](docs/t.md#pickcopy1-and-more)",
         {"docs/t.md": "## The builds: what runs\n\n# `pickcopy.1` and more!\n"}, []),
        ("a heading of another file that is not there", "[a](docs/t.md#the-suites)",
         {"docs/t.md": "## The builds\n"}, ["docs/t.md#the-suites"]),
        ("headings of the same text are numbered",
         "[a](#a) [b](#a-1) [c](#a-2)\n\n## A\n\n## A\n", {}, ["#a-2"]),
        ("a link out of the repository", "[o](../outside.md)", {"../outside.md": ""},
         ["../outside.md"]),
        ("an anchor into a file that is not Markdown", "[m](page.1.in#name)",
         {"page.1.in": ""}, ["page.1.in#name"]),
        ("a reference definition", "[x][ref]\n\n[ref]: docs/gone.md\n", {}, ["docs/gone.md"]),
        ("an image and a title", '![p](img.png "a title") ![q](gone.png)', {"img.png": ""},
         ["gone.png"]),
        ("code blocks and code spans hold no links",
         "```\n[x](nowhere)\n```\n\n`[y](nowhere)` and ``[z](nowhere)``\n", {}, []),
        ("links with a scheme are not followed",
         "[w](https://example.org/gone) [m](mailto:a@example.org)", {}, []),
    ]

    def test_cases(self):
        for name, readme, files, expected in self.CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as outer:
                top = os.path.join(outer, "repository")
                os.makedirs(os.path.join(top, "docs"))
                for path, text in dict(files, **{"README.md": readme}).items():
                    full = os.path.normpath(os.path.join(top, path))
                    os.makedirs(os.path.dirname(full), exist_ok=True)
                    with open(full, "w", encoding="utf-8") as f:
                        f.write(text)
                reported = [target for _, target, _ in
                            problems(top, os.path.join(top, "README.md"))]
                self.assertEqual(reported, expected)


class Documents(unittest.TestCase):
    def test_every_link_leads_somewhere(self):
        found = []
        for path in documents(TOP):
            found += ["%s:%d: %s: %s" % ((os.path.relpath(path, TOP),) + p)
                      for p in problems(TOP, path)]
        for archive in ARCHIVES:
            with tempfile.TemporaryDirectory() as into:
                top, readme = unpacked(archive, into)
                if readme is None:
                    found.append("%s: no README" % archive)
                    continue
                found += ["%s: %s:%d: %s: %s" % ((archive, os.path.relpath(readme, top)) + p)
                          for p in problems(top, readme)]
        self.assertEqual(found, [], "\n" + "\n".join(found))


def main():
    global TOP
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--top", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument("--archives", nargs="*", default=[], help="release archives")
    args, rest = parser.parse_known_args()
    TOP = os.path.abspath(args.top)
    ARCHIVES.extend(args.archives)
    harness.run_cases([sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
