"""One sweep runner: a reader's plug-in hands it cases, it packs, compares, counts and reports.

A case is a file to pack and the RGB cube its reference reader's samples make (Case), or a
pack the converter must refuse in one line (Refusal). Every pack goes through the same checks:
exit 0 and nothing on standard error, the side N the cube must have, the samples within the
case's tolerance where --pad puts them, and nothing in the padding. The summary is one line in
one format, then each problem; any problem makes the exit status 1.
"""
import dataclasses
import functools
import os
import subprocess
import tempfile

import numpy

from . import orientation, vol

# The options that pack any shape without resampling, into a cube of its longest side.
PADDED = ("--pad", "--spacing", "1,1,1")


@dataclasses.dataclass
class Case:
    """A file packed with options and extra, to match expected (x, y, z, 3 in the file's
    axes) turned by turn. tolerance: 0 for the byte, 1 where the reference rounds otherwise;
    quiet: whether standard error must stay empty."""
    label: str
    path: str
    expected: numpy.ndarray
    turn: numpy.ndarray = dataclasses.field(default_factory=lambda: orientation.ARRAY)
    extra: tuple = ()
    tolerance: int = 1
    options: tuple = PADDED
    quiet: bool = True


@dataclasses.dataclass
class Refusal:
    """A pack of path with options that must exit 1 with one line on standard error that names
    the file and holds words."""
    path: str
    options: tuple = ("--pad",)
    words: str = ""


class Sweep:
    """The tally of one sweep: its files, what matched, what was refused as expected, and
    every problem, in the sweep's scratch folder."""

    def __init__(self, name, tool, scratch, timeout=120):
        self.name, self.tool, self.scratch, self.timeout = name, tool, scratch, timeout
        self.paths, self.problems, self.notes = set(), [], []
        self.packed = self.refused = 0

    def file(self, name):
        """A path in the scratch folder, for the files a plug-in writes."""
        return os.path.join(self.scratch, name)

    def run(self, *arguments):
        """The converter run with arguments, its output captured as text."""
        return subprocess.run([self.tool, *arguments], capture_output=True, text=True,
                              errors="replace", timeout=self.timeout)

    def problem(self, text):
        """Records a problem: the sweep fails, and the summary lists it."""
        self.problems.append(text)

    def tally(self, problem, refused=False):
        """Counts one outcome a plug-in judged itself: a problem, or a match (or refusal)."""
        if problem:
            self.problem(problem)
        elif refused:
            self.refused += 1
        else:
            self.packed += 1
        return not problem

    def pack(self, case):
        """The packed cube[x, y, z, colour] of case, or None where pack failed; a copy, so that
        it outlives the next pack's output."""
        self.paths.add(case.path)
        out = self.file("out.vol")
        if os.path.exists(out):
            os.remove(out)
        result = self.run("pack", case.path, "-o", out, *case.options, *case.extra)
        if result.returncode != 0 or (case.quiet and result.stderr):
            self.problem("%s: exit %d, %r" % (case.label, result.returncode, result.stderr))
            return None
        return numpy.array(vol.packed_cube(out))

    def check(self, case):
        """Packs case and compares it; the cube where it matched, else None."""
        cube = self.pack(case)
        if cube is None:
            return None
        problem = difference(cube, case)
        self.tally(problem and "%s: %s" % (case.label, problem))
        return None if problem else cube

    def refuse(self, refusal, counted=True):
        """Whether the pack was refused in the one line expected; counted: whether it counts
        as a refusal (not where it checks a file that packs with other options)."""
        self.paths.add(refusal.path)
        result = self.run("pack", refusal.path, "-o", self.file("out.vol"), *refusal.options)
        lines = result.stderr.splitlines()
        good = (result.returncode == 1 and len(lines) == 1
                and lines[0].startswith(refusal.path + ": ") and refusal.words in lines[0])
        if not good:
            self.problem("%s: %s gave exit %d, %r (expected one line with %r)" % (
                refusal.path, " ".join(refusal.options), result.returncode, result.stderr,
                refusal.words))
        elif counted:
            self.refused += 1
        return good

    def summary(self, reference):
        """The one summary line, naming the reference readers and any notes."""
        notes = "".join("; " + note for note in self.notes)
        return ("%s sweep: %d files, %d packed and matched, %d refused as expected, %d failed "
                "(%s)%s" % (self.name, len(self.paths), self.packed, self.refused,
                            len(self.problems), reference, notes))


def difference(cube, case):
    """What is wrong with cube as the pack of case, in words; "" when it matches."""
    n = max(case.expected.shape[:3])
    if "--pad" in case.options and cube.shape[0] != n:
        return "packed to N = %d, the reference has %d" % (cube.shape[0], n)
    inside, turned = orientation.placed(cube, case.expected, case.turn)
    if inside.shape != turned.shape:
        return "packed as %s, expected %s" % (inside.shape, turned.shape)
    inside = inside.astype(numpy.float64)
    worst = float(numpy.abs(inside - turned).max())
    outside = int(numpy.count_nonzero(cube)) - int(numpy.count_nonzero(inside))
    if worst > case.tolerance or outside != 0:
        return "samples differ from the reference by up to %g (padding holds %d nonzero)" % (
            worst, outside)
    return ""


def part_name(part):
    """A plug-in's part in words: its function's name, and the input it was given."""
    if isinstance(part, functools.partial):
        return " ".join([part.func.__name__, *map(str, part.args)])
    return part.__name__


def main(plugin, tool, arguments):
    """Runs plugin.sweep(sweep, arguments) in a scratch folder, each of its writers' failures a
    problem; prints the summary and the problems; returns the exit status."""
    with tempfile.TemporaryDirectory() as scratch:
        sweep = Sweep(plugin.TITLE, tool, scratch, getattr(plugin, "TIMEOUT", 120))
        for part in plugin.parts(arguments):
            try:
                part(sweep)
            except subprocess.TimeoutExpired as error:
                sweep.problem("%s: the converter took more than %g s: %s" % (
                    part_name(part), error.timeout, " ".join(error.cmd[1:3])))
            except Exception as error:  # a reference that fails: fix the sweep
                sweep.problem("%s: %s: %s" % (part_name(part), type(error).__name__, error))
        print(sweep.summary(plugin.REFERENCE))
    for problem in sweep.problems:
        print("  " + problem)
    return 1 if sweep.problems else 0
