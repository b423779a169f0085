"""Which library file the programs load, and its fingerprint."""

import hashlib
import os
import re
import subprocess
from dataclasses import dataclass

LIBRARY_NAME = "libZORCustomHelmetDetection"


@dataclass
class LibraryIdentity:
    path: str = ""
    size: int = 0
    sha256: str = ""
    problem: str = ""  # why the file is unknown


def loaded_library(program):
    """The library file the dynamic loader picks for `program` (ldd)."""
    try:
        listing = subprocess.run(["ldd", str(program)], capture_output=True, text=True, timeout=60).stdout
    except (OSError, subprocess.TimeoutExpired) as error:
        return LibraryIdentity(problem="ldd failed: %s" % error)
    match = re.search(r"^\s*%s\S*\s+=>\s+(\S+)" % LIBRARY_NAME, listing, re.M)
    if not match or match.group(1) == "not":
        return LibraryIdentity(problem="ldd finds no %s for %s" % (LIBRARY_NAME, program))
    return fingerprint(os.path.realpath(match.group(1)))


def fingerprint(path):
    digest = hashlib.sha256()
    with open(path, "rb") as library:
        for block in iter(lambda: library.read(1 << 20), b""):
            digest.update(block)
    return LibraryIdentity(path=path, size=os.path.getsize(path), sha256=digest.hexdigest())
