#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Runs the README's tour as a reader would, top to bottom in one fresh folder, and compares
every output it shows with what the tools print.

In the tour, a fenced block whose first line starts with "$ " is a transcript: each "$ " line is
a command (a line ending in a backslash goes on), the lines after it are its output, standard
output and standard error together. An output line "…" stands for any number of lines, and "…"
inside a line for any text. A fenced "sh" block is a list of commands that must succeed. The
folder looks like a checkout's build folder (its parent holds tests/), and any PKCS#11 token is
made in a SoftHSM2 store of the test's own.

Every command must exit with 0.

Usage: readme_tour_test.py README BUILD_DIR SOURCE_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

TOOLS = ["bootseal", "bootseal-sign", "bootseal-verify", "bootseal-keygen"]


def tour_blocks(readme):
    """The fenced blocks of the tour: (kind, lines, line number)."""
    text = open(readme, encoding="utf-8").read()
    start = text.index("## A short tour")
    end = text.index("\n## ", start + 1)
    first_line = text[:start].count("\n") + 1
    blocks, current, kind, at = [], None, None, 0
    for number, line in enumerate(text[start:end].split("\n"), first_line):
        if line.startswith("```"):
            if current is None:
                current, kind, at = [], line[3:].strip(), number
            else:
                blocks.append((kind, current, at))
                current = None
        elif current is not None:
            current.append(line)
    return blocks


def commands(lines):
    """Joins continued lines; yields (command, expected output lines)."""
    i, result = 0, []
    while i < len(lines):
        line = lines[i]
        i += 1
        if not line.startswith("$ "):
            continue
        command = line[2:]
        while command.endswith("\\") and i < len(lines):
            command = command[:-1] + " " + lines[i].strip()
            i += 1
        expected = []
        while i < len(lines) and not lines[i].startswith("$ "):
            expected.append(lines[i])
            i += 1
        result.append((command, expected))
    return result


def line_matches(pattern, line):
    parts = [re.escape(part) for part in pattern.split("…")]
    return re.fullmatch(".*".join(parts), line, re.S) is not None


def output_matches(expected, actual):
    """Whether actual lines fit expected, where a line "…" is any number of lines."""
    if not expected:
        return not actual
    if expected[0] == "…":
        return any(output_matches(expected[1:], actual[k:]) for k in range(len(actual) + 1))
    return bool(actual) and line_matches(expected[0], actual[0]) and \
        output_matches(expected[1:], actual[1:])


def main():
    readme, build, source = (os.path.abspath(a) for a in sys.argv[1:4])
    root = tempfile.mkdtemp(prefix="bootseal-tour-")
    failures = 0
    ran = 0
    try:
        os.symlink(os.path.join(source, "tests"), os.path.join(root, "tests"))
        work = os.path.join(root, "build")
        os.mkdir(work)
        for tool in TOOLS:
            os.symlink(os.path.join(build, tool), os.path.join(work, tool))
        shutil.copy(os.path.join(build, "sample-loader.bin"), work)
        tokens = os.path.join(root, "tokens")
        os.mkdir(tokens)
        conf = os.path.join(root, "softhsm2.conf")
        with open(conf, "w") as f:
            f.write("directories.tokendir = %s\nobjectstore.backend = file\n" % tokens)
        env = dict(os.environ, SOFTHSM2_CONF=conf, LC_ALL="C")
        for kind, lines, at in tour_blocks(readme):
            transcript = any(line.startswith("$ ") for line in lines)
            if transcript:
                steps = commands(lines)
            elif kind == "sh":
                joined = "\n".join(lines).replace("\\\n", " ")
                steps = [(c, None) for c in joined.split("\n")
                         if c.strip() and not c.lstrip().startswith("#")]
            else:
                continue
            for command, expected in steps:
                try:
                    run = subprocess.run(command, shell=True, cwd=work, env=env,
                                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                         stderr=subprocess.STDOUT, timeout=120)
                except subprocess.TimeoutExpired as timeout:
                    run = subprocess.CompletedProcess(command, -1, (timeout.output or b"") +
                                                      b"(stopped after 120 seconds)")
                # A page cannot show a carriage return: line ends compare without it.
                actual = run.stdout.decode("utf-8", "replace").replace("\r\n", "\n").split("\n")
                if actual and actual[-1] == "":
                    actual.pop()
                while expected and expected[-1] == "":
                    expected = expected[:-1]
                # Every command of the tour succeeds; a transcript's output must match too.
                ok = run.returncode == 0 and (expected is None or
                                              output_matches(expected, actual))
                ran += 1
                if not ok:
                    failures += 1
                    print("README line %d: %s" % (at, command))
                    print("  status %d; printed:" % run.returncode)
                    print("".join("  | %s\n" % line for line in actual), end="")
                    if expected is not None:
                        print("  the README shows:")
                        print("".join("  | %s\n" % line for line in expected), end="")
    finally:
        shutil.rmtree(root)
    if ran < 10:
        print("README tour: only %d commands found; the tour's blocks were not read" % ran)
        return 1
    print("README tour: %d commands; %s" % (ran, "every shown output matches" if failures == 0
                                           else "%d differ" % failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
