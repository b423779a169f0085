"""The command line read the way the C++ tools read theirs (src/tools-common/CommandLine.h):
"--name=value" or "--name value" (one dash works too); "--help", "-h" and "-?" ask
for the usage. An unknown option, a missing value, an option given twice and a
stray argument are user errors."""

from tool_exit import UserError

HELP_NAMES = ("help", "h", "?")


class Arguments:
    def __init__(self):
        self.help_requested = False
        self.values = {}  # option name without dashes -> its text


def parse(argv, value_options):
    """`value_options`: the names (without dashes) that take a value."""
    arguments = Arguments()
    index = 0
    while index < len(argv):
        argument = argv[index]
        index += 1
        if len(argument) < 2 or not argument.startswith("-"):
            raise UserError("unexpected argument '%s' (see --help)" % argument)
        name, equals, value = argument[2 if argument.startswith("--") else 1:].partition("=")
        if name in HELP_NAMES and not equals:
            arguments.help_requested = True
            continue
        if name not in value_options:
            raise UserError("unknown option '%s' (see --help)" % argument)
        if not equals:
            # Like the C++ tools: "--a --b" is a missing value, not the value "--b".
            if index == len(argv) or argv[index].startswith("--"):
                raise UserError("option --%s needs a value (see --help)" % name)
            value = argv[index]
            index += 1
        if name in arguments.values:
            raise UserError("option --%s is given twice" % name)
        arguments.values[name] = value
    return arguments
