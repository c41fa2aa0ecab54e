"""Finding and running the kavrel executable."""

from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
from pathlib import Path

from .errors import KavrelError

REPOSITORY = Path(__file__).resolve().parents[2]
BUILD_HINT = ("build it from the repository root with: cmake -S . -B build -DKAVREL_TESTS=OFF && "
              "cmake --build build -j2 --target kavrel (or set KAVREL to its path)")


class ExecutableNotFound(KavrelError):
    """No kavrel executable was found."""


def find_executable(executable: str | os.PathLike[str] | None = None) -> str:
    """The kavrel executable: the argument, else $KAVREL, else build/kavrel, else PATH."""
    if executable is not None:
        path = Path(executable)
        if not (path.is_file() and os.access(path, os.X_OK)):
            raise ExecutableNotFound(f"kavrel executable {str(path)!r} not found or not executable")
        return str(path)
    env = os.environ.get("KAVREL")
    if env:
        path = Path(env)
        if not (path.is_file() and os.access(path, os.X_OK)):
            raise ExecutableNotFound(f"KAVREL={env!r} is not an executable file; {BUILD_HINT}")
        return str(path)
    built = REPOSITORY / "build" / "kavrel"
    if built.is_file() and os.access(built, os.X_OK):
        return str(built)
    found = shutil.which("kavrel")
    if found:
        return found
    raise ExecutableNotFound(f"no kavrel executable: not in $KAVREL, {built} or PATH; {BUILD_HINT}")


def run_kavrel(text: str, executable: str | os.PathLike[str] | None = None) -> bytes:
    """Run kavrel on ``text`` and return its standard output."""
    program = find_executable(executable)
    # Output can run to hundreds of megabytes: a file takes it faster than a pipe.
    with tempfile.TemporaryFile() as sink:
        try:
            completed = subprocess.run([program], input=text.encode("latin-1", "replace"),
                                       stdout=sink, stderr=subprocess.PIPE, check=False)
        except OSError as error:
            raise KavrelError(f"cannot run {program}: {error}") from error
        if completed.returncode != 0:
            detail = completed.stderr.decode("latin-1", "replace").strip()
            raise KavrelError(f"{program} failed with status {completed.returncode}" +
                              (f": {detail}" if detail else ""))
        sink.seek(0)
        return sink.read()
