"""How helmet-report ends, the same way as the C++ tools (src/tools-common/ToolExit.h):
  0  done: the page is written
  1  the run failed: something went wrong that the user did not cause
  2  user error: an option, a file or a folder the user can fix
Whatever stops it is one line on standard error: "helmet-report: <reason>"."""

import sys

EXIT_DONE, EXIT_FAILED, EXIT_USER_ERROR = 0, 1, 2


class UserError(Exception):
    """A mistake the user can fix; the tool exits with EXIT_USER_ERROR."""


class RunFailure(Exception):
    """The run cannot go on for a reason the user did not cause; exits with EXIT_FAILED."""


def run_tool_main(tool_name, body):
    """Runs `body` and turns what escapes it into the exit status and one line."""
    try:
        return body()
    except UserError as error:
        print("%s: %s" % (tool_name, error), file=sys.stderr)
        return EXIT_USER_ERROR
    except (RunFailure, OSError) as error:
        print("%s: %s" % (tool_name, error), file=sys.stderr)
    except KeyboardInterrupt:
        print("%s: interrupted" % tool_name, file=sys.stderr)
    except Exception as error:  # a fault of the tool itself: still one line, not a traceback
        print("%s: %s: %s" % (tool_name, type(error).__name__, error), file=sys.stderr)
    return EXIT_FAILED
