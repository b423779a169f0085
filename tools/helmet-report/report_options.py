"""helmet-report's command line: the options, their defaults and the checks
that make a bad one a user error."""

import argparse
import os

CONTRACT = "HelmetDetectionTest"
CERTIFICATION = "HelmetCertificationTest"
TOOLS = ("helmet-bench", "helmet-eval", "helmet-detect")
# The contract program's own path names inside a staged folder.
STAGED_MODEL = r"C:\Programs\DemoAssets\ModelsForTELMAR\ZOR_Helmet(GPU)_v1.0"
STAGED_VIDEO = r"C:\Programs\DemoAssets\Videos\Helmet\HM2.mp4"


class UserError(Exception):
    pass


def parse_arguments(argv, launcher_dir):
    installed = os.path.isfile(os.path.join(launcher_dir, CONTRACT))
    checkout_build = os.path.normpath(os.path.join(launcher_dir, os.pardir, os.pardir, "build"))
    parser = argparse.ArgumentParser(prog="helmet-report", description=(
        "Runs the contract program, the certification program, helmet-bench, helmet-eval and helmet-detect on the "
        "library they are built against and writes one self-contained HTML page."))
    parser.add_argument("--programs", default=launcher_dir if installed else os.path.join(checkout_build, "bin"),
                        help="folder with %s and the tools (default: %%(default)s)" % CONTRACT)
    parser.add_argument("--staged", default=None if installed else os.path.join(checkout_build, "staged"),
                        required=installed, help="staged assets: the folder the test programs run in, with the "
                        "model and video under the contract program's path names (default: %(default)s)")
    parser.add_argument("--model", help="model directory for the tools (default: the staged model)")
    parser.add_argument("--video", help="video for helmet-bench, helmet-eval and helmet-detect (default: the staged "
                        "video)")
    parser.add_argument("--labels", help="the video's ground truth for helmet-eval (default: assets/HM2-labels.txt "
                        "beside the staged folder, if there)")
    parser.add_argument("--images", help="score this labelled image folder with helmet-eval instead of the video")
    parser.add_argument("--classes", help="helmet-eval's --classes map: dataset class id to the library's class name, "
                        "e.g. 1:helmet,0:head (default: helmet-eval's)")
    parser.add_argument("--certification", help="the certification program (default: %s among the programs, if "
                        "there)" % CERTIFICATION)
    parser.add_argument("--bench-frames", type=positive, default=300, help="helmet-bench's measured calls "
                        "(default: %(default)s)")
    parser.add_argument("--eval-frames", type=positive, help="score only the first N frames or images (default: all)")
    parser.add_argument("--detect-frames", type=positive, help="helmet-detect's frames (default: all)")
    parser.add_argument("--timeout", type=positive, default=1800, help="seconds each program may run "
                        "(default: %(default)s)")
    parser.add_argument("--out", default="helmet-report.html", help="the page to write (default: %(default)s)")
    parser.add_argument("--keep", help="keep the programs' raw outputs in this folder (default: a temporary one)")
    options = parser.parse_args(argv)
    # Absolute paths: the test programs run in the staged folder.
    for name in ("programs", "staged", "model", "video", "labels", "images", "certification", "out", "keep"):
        if getattr(options, name) is not None:
            setattr(options, name, os.path.abspath(getattr(options, name)))
    options.model = options.model or os.path.join(options.staged, STAGED_MODEL)
    options.video = options.video or os.path.join(options.staged, STAGED_VIDEO)
    if options.labels is None and options.images is None:
        beside = os.path.join(options.staged, os.pardir, "assets", "HM2-labels.txt")
        options.labels = os.path.normpath(beside) if os.path.isfile(beside) else None
    if options.certification is None:
        options.certification = os.path.join(options.programs, CERTIFICATION)
    return options


def positive(text):
    value = int(text)
    if value <= 0:
        raise argparse.ArgumentTypeError("must be a positive integer, not %s" % text)
    return value


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
    if options.images is not None and not os.path.isdir(options.images):
        raise UserError("no --images folder %s" % options.images)
    out_dir = os.path.dirname(os.path.abspath(options.out))
    if not os.path.isdir(out_dir):
        raise UserError("no folder %s for --out" % out_dir)
