"""The page's file: claimed under a temporary name beside it before any program
runs (so that a folder it cannot be written in stops the report at once), renamed
to the page's name when written, and removed whatever stops the report first."""

import os
import tempfile

from tool_exit import UserError


class PageFile:
    def __init__(self, path):
        self.path, self.temporary = path, None

    def __enter__(self):
        folder, name = os.path.split(self.path)
        try:
            descriptor, self.temporary = tempfile.mkstemp(prefix="." + name + ".", suffix=".partial", dir=folder)
        except OSError as error:
            raise UserError("cannot write --out %s: %s" % (self.path, error.strerror or error)) from error
        os.close(descriptor)
        return self

    def write(self, html):
        with open(self.temporary, "w", encoding="utf-8") as page:
            page.write(html)
        os.chmod(self.temporary, 0o644 & ~_umask())  # mkstemp's file is private; a page is not
        os.replace(self.temporary, self.path)  # no half-written page under the final name
        self.temporary = None

    def __exit__(self, *raised):
        if self.temporary is not None:
            try:
                os.remove(self.temporary)
            except OSError:
                pass
        return False


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask
