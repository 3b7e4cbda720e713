"""What the end-to-end programs share: building a program with quill in a
scratch directory, running it, the language's rounding and edit pictures
worked out independently with decimal arithmetic, and comparing texts."""
import difflib
import os
import shutil
import subprocess
import sys
import tempfile
from decimal import Decimal, ROUND_HALF_UP

HERE = os.path.dirname(os.path.abspath(__file__))


class Program:
    """NAME.QWR built in a fresh directory, which is also where it runs."""

    def __init__(self, quill, name):
        self.name = name
        self.dir = tempfile.mkdtemp(prefix=f"qw_{name}_")
        shutil.copy(os.path.join(HERE, f"{name}.QWR"), self.dir)
        built = subprocess.run([quill, "build", name], cwd=self.dir,
                               capture_output=True, text=True)
        if built.returncode != 0:
            sys.exit(f"quill build {name}: status {built.returncode}\n"
                     f"{built.stdout}{built.stderr}")
        self.failures = 0

    def path(self, file):
        return os.path.join(self.dir, file)

    def write(self, file, text):
        with open(self.path(file), "w", encoding="latin-1") as f:
            f.write(text)

    def read(self, file):
        with open(self.path(file), encoding="latin-1") as f:
            return f.read()

    def start(self, env=None, args=()):
        environment = dict(os.environ, **(env or {}))
        return subprocess.Popen([f"./{self.name}", *args], cwd=self.dir, env=environment,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def run(self, env=None, args=(), status=0):
        proc = self.start(env, args)
        out, err = proc.communicate(timeout=60)
        self.expect(f"exit status (standard error: {err.strip()!r})", proc.returncode, status)
        return out

    def expect(self, what, actual, expected):
        if actual == expected:
            return
        self.failures += 1
        print(f"{self.name}: {what} differs")
        if isinstance(actual, str) and isinstance(expected, str):
            sys.stdout.writelines(difflib.unified_diff(
                expected.splitlines(True), actual.splitlines(True), "expected", "actual"))
        else:
            print(f"  expected {expected!r}, actual {actual!r}")

    def finish(self):
        if self.failures == 0:
            shutil.rmtree(self.dir)
            return 0
        print(f"(kept {self.dir})")
        return 1


def places_of(picture):
    """Decimal places of an edit picture: digit positions after the point."""
    if "." not in picture:
        return 0
    return sum(c in "9#" for c in picture.split(".", 1)[1])


def rounded(value, picture_or_places):
    """A step's result brought to the destination's places, half up on the
    magnitude."""
    p = picture_or_places if isinstance(picture_or_places, int) else places_of(picture_or_places)
    return Decimal(value).quantize(Decimal(1).scaleb(-p), rounding=ROUND_HALF_UP)


def edit(value, picture):
    """The text of a number shown through its picture: every last character
    but 9 is the sign position (- for a negative value, + otherwise); leading
    zeros and commas among them are blank where the picture has # or follows
    a #, up to the point and never in the last position; a value too wide
    shows * first."""
    units = int(rounded(value, picture).scaleb(places_of(picture)))
    mag = abs(units)
    out = list(picture)
    n = len(picture)
    if picture[-1] != "9":
        n -= 1
        out[n] = "-" if units < 0 else "+"
    for i in range(n - 1, -1, -1):
        if picture[i] not in ".,":
            out[i] = str(mag % 10)
            mag //= 10
    for j in range(len(picture) - 1):
        if out[j] > "0" or out[j] == ".":
            break
        if picture[j] == "#" or (j > 0 and picture[j - 1] == "#"):
            out[j] = " "
    if mag:
        out[0] = "*"
    return "".join(out)


def field(text, width):
    """A word of `width` characters: cut or blank padded."""
    return text[:width].ljust(width)
