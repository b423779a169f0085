"""helmet-report's command line: the options, their defaults and the checks
that make a bad one a user error."""

import os
import textwrap
from dataclasses import dataclass
from types import SimpleNamespace

import command_line
from tool_exit import UserError

CONTRACT = "HelmetDetectionTest"
CERTIFICATION = "HelmetCertificationTest"
TOOLS = ("helmet-bench", "helmet-eval", "helmet-detect")
# The contract program's own path names inside a staged folder.
STAGED_MODEL = r"C:\Programs\DemoAssets\ModelsForTELMAR\ZOR_Helmet(GPU)_v1.0"
STAGED_VIDEO = r"C:\Programs\DemoAssets\Videos\Helmet\HM2.mp4"


@dataclass(frozen=True)
class Option:
    name: str
    value: str  # what the value is, for the usage
    meaning: str  # {programs} and {staged} stand for their defaults
    kind: str = "path"  # "path" (made absolute), "count" (a positive integer) or "text" (as given)
    default: object = None


OPTIONS = (
    Option("programs", "DIR", "folder with %s and the tools, default {programs}" % CONTRACT),
    Option("staged", "DIR", "staged assets: the folder the test programs run in, with the model and video under the "
           "contract program's path names, default {staged}"),
    Option("model", "DIR", "model directory for the tools, default the staged model"),
    Option("video", "FILE", "video for helmet-bench, helmet-eval and helmet-detect, default the staged video"),
    Option("labels", "FILE", "the video's ground truth for helmet-eval, default the package's when the video is the "
           "package's test video"),
    Option("images", "DIR", "score this labelled image folder with helmet-eval instead of the video"),
    Option("classes", "TEXT", "helmet-eval's --classes map: dataset class id to the library's class name, e.g. "
           "1:helmet,0:head, default helmet-eval's", "text"),
    Option("certification", "FILE", "the certification program, default %s among the programs, if there"
           % CERTIFICATION),
    Option("photos", "DIR", "labelled photos (images/, labels/) for the certification program, default {photos}, if "
           "there"),
    Option("site-photos", "DIR", "photos whose images without a hard hat add to the certification program's "
           "false-alarm test, default {site-photos}, if there"),
    Option("bench-frames", "N", "helmet-bench's measured calls, default 300", "count", 300),
    Option("eval-frames", "N", "score only the first N frames or images, default all", "count"),
    Option("detect-frames", "N", "helmet-detect's frames, default all", "count"),
    Option("timeout", "S", "seconds each program may run, default 1800", "count", 1800),
    Option("out", "FILE", "the page to write, default helmet-report.html", default="helmet-report.html"),
    Option("keep", "DIR", "keep the programs' raw outputs in this folder, default a temporary one"),
)


def default_paths(launcher_dir):
    """Where the programs, the staged folder and the package's data (the test
    video and its ground truth, the certification program's photo samples) are
    when not given: the launcher's own folder (bin/) and share/ beside it when
    installed, else the checkout's build/, whose share/ mirrors the install's
    with links. None: no default. No path of the machine that built the
    package is kept."""
    installed = os.path.isfile(os.path.join(launcher_dir, CONTRACT))
    programs = launcher_dir if installed else os.path.normpath(
        os.path.join(launcher_dir, os.pardir, os.pardir, "build", "bin"))
    data = os.path.normpath(os.path.join(programs, os.pardir, "share", "ZORCustomHelmetDetection"))
    return {"programs": programs,
            "staged": None if installed else os.path.normpath(os.path.join(programs, os.pardir, "staged")),
            "photos": os.path.join(data, "hard-hat-sample"),
            "site-photos": os.path.join(data, "site-sample"),
            "test video": os.path.join(data, "video", "HM2.avi"),
            "test video labels": os.path.join(data, "video", "HM2-labels.txt")}


def parse_options(argv, launcher_dir):
    """The options, with absolute paths (the test programs run in the staged
    folder); None when the usage was asked for and printed."""
    defaults = default_paths(launcher_dir)
    arguments = command_line.parse(argv, [option.name for option in OPTIONS])
    if arguments.help_requested:
        print(usage(defaults))
        return None
    options = SimpleNamespace()
    for option in OPTIONS:
        text = arguments.values.get(option.name)
        value = defaults.get(option.name, option.default) if text is None else _read(option, text)
        if option.kind == "path" and value is not None:
            value = os.path.abspath(value)
        setattr(options, option.name.replace("-", "_"), value)
    if options.staged is None:
        raise UserError("give --staged: the folder the test programs run in, staged with helmet-stage (see --help)")
    options.model = options.model or os.path.join(options.staged, STAGED_MODEL)
    options.video = options.video or os.path.join(options.staged, STAGED_VIDEO)
    if options.labels is None and options.images is None:
        labels = defaults["test video labels"]
        ours = _same_file(options.video, defaults["test video"])  # its ground truth fits no other video
        options.labels = labels if ours and os.path.isfile(labels) else None
    if options.certification is None:
        options.certification = os.path.join(options.programs, CERTIFICATION)
    for name in ("photos", "site_photos"):  # a default sample that is not there: the program's own default
        if arguments.values.get(name.replace("_", "-")) is None and not os.path.isdir(getattr(options, name) or ""):
            setattr(options, name, None)
    return options


def certification_arguments(options):
    """The certification program's data options: the tools' model, video and
    labels, and the photo samples, so that none of its tests skips when they exist."""
    arguments = ["--model=" + options.model, "--video=" + options.video]
    for name, value in (("video-labels", options.labels), ("photos", options.photos),
                        ("site-photos", options.site_photos)):
        if value is not None:
            arguments.append("--%s=%s" % (name, value))
    return arguments


def _same_file(one, other):
    try:
        return os.path.samefile(one, other)
    except OSError:
        return False


def _read(option, text):
    if not text:
        raise UserError("option --%s needs a value (see --help)" % option.name)
    if option.kind != "count":
        return text
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value <= 0:
        raise UserError("--%s must be a positive integer, not '%s'" % (option.name, text))
    return value


def usage(defaults):
    lines = ["helmet-report: runs the contract program, the certification program, helmet-bench, helmet-eval and",
             "helmet-detect on the library they are built against and writes one self-contained HTML page.",
             "Usage: helmet-report [options]",
             "Options take --name=value or --name value."]
    shown = {name: value or "none" for name, value in defaults.items()}
    shown["staged"] = defaults["staged"] or "none: required"
    for option in OPTIONS:
        lines += textwrap.wrap(option.meaning.format(**shown), 110, initial_indent="  %-24s" % (
            "--%s %s" % (option.name, option.value)), subsequent_indent=" " * 26, break_on_hyphens=False)
    lines += ["  %-24s%s" % ("--help", "this help"),
              "Exit status: 0 the page was written and everything was checked (whatever the library's results);",
              "2 a user error: a bad option or a missing program, folder or file (no page), or a page that is",
              "incomplete (a test skipped or a program stopped on a user error); 1 the run failed (no page)."]
    return "\n".join(lines)


def check_out(path):
    """--out before anything runs: its folder must exist and the page must not be a folder."""
    out_dir = os.path.dirname(path)
    if not os.path.isdir(out_dir):
        raise UserError("no folder %s for --out" % out_dir)
    if os.path.isdir(path):
        raise UserError("--out %s is a folder, not the page's file name" % path)


def check_inputs(options):
    for program in (CONTRACT,) + TOOLS:
        if not os.access(os.path.join(options.programs, program), os.X_OK):
            raise UserError("no program %s in %s (--programs)" % (program, options.programs))
    for path, what in ((options.staged, "--staged folder"), (options.model, "model directory")):
        if not os.path.isdir(path):
            raise UserError("no %s %s" % (what, path))
    for path, what in ((options.video, "video"), (options.labels, "--labels file")):
        if path is not None and not os.path.isfile(path):
            raise UserError("no %s %s" % (what, path))
    for path, option in ((options.images, "--images"), (options.photos, "--photos"),
                         (options.site_photos, "--site-photos")):
        if path is not None and not os.path.isdir(path):
            raise UserError("no %s folder %s" % (option, path))


def staged_problems(staged):
    """What the contract program will miss in the staged folder (its tests skip)."""
    missing = [what for what, path, exists in (("model folder", STAGED_MODEL, os.path.isdir),
                                               ("video", STAGED_VIDEO, os.path.isfile))
               if not exists(os.path.join(staged, path))]
    return ["the --staged folder %s has no %s under the contract program's name" % (staged, " and no ".join(missing))] \
        if missing else []
