"""The page's sections, each from what one program run left behind."""

import os
import shlex

from figures import figure, plain_numbers
from html_page import image, not_run, run_failure, section, table, text
from latency_histogram import histogram_svg


def identity_section(library, bench, paths):
    rows = []
    if library.problem:
        rows.append(("library file", '<span class="failed">%s</span>' % text(library.problem)))
    else:
        rows += [("library file", "<code>%s</code>" % text(library.path)),
                 ("size", "%d bytes" % library.size),
                 ("SHA-256", "<code>%s</code>" % text(library.sha256))]
    if bench:
        rows.append(("label map", text(bench.get("labels", ""))))
    else:
        rows.append(("label map", '<span class="notrun">unknown: helmet-bench did not finish</span>'))
    rows += [(name, "<code>%s</code>" % text(value)) for name, value in paths]
    body = table(None, rows)
    if bench:
        parameters = bench.get("parameters", {})
        body += "<h3>ConfigureParameters</h3>"
        body += table(("name", "value"), [(text(k), text(v)) for k, v in parameters.items()]) if parameters \
            else not_run("ConfigureParameters gave no entries")
    return section("identity", "Library", body)


def tests_section(anchor, title, suite, run, reason_not_run=""):
    if run is None:
        return section(anchor, title, not_run(reason_not_run))
    stopped = ""
    if run.user_error:  # e.g. a data option it refused, or every test skipped
        stopped = '<p class="skipped">Stopped on a user error: %s</p>' % text(run.reason())
    if suite.problem:
        return section(anchor, title, stopped or '<p class="failed">%s (%s).</p>%s' % (
            text(suite.problem), text(run.outcome()), run_failure(run, title)))
    verdict = "passed" if suite.passed_all and run.succeeded else "skipped" if run.user_error else "failed"
    if verdict == "passed" and suite.count("skipped"):
        verdict = "skipped"
    summary = '<p class="%s">%d passed, %d failed, %d skipped (%s).</p>' % (
        verdict, suite.count("passed"), suite.count("failed"), suite.count("skipped"), text(run.outcome()))
    rows = []
    for test in suite.tests:
        messages = "".join("<pre>%s</pre>" % text(plain_numbers(message)) for message in test.messages if message)
        rows.append((text(test.name), '<span class="%s">%s</span>' % (test.result, test.result),
                     figure(test.seconds, 3, "\u00a0s"), messages))
    return section(anchor, title, stopped + summary + table(("test", "result", "time", "failure or skip message"),
                                                            rows))


def latency_section(bench, latencies, run):
    if not bench:
        return section("latency", "Latency (helmet-bench)", run_failure(run, "helmet-bench"))
    latency = bench["latency_ms"]
    warmup = bench.get("warmup_ms")
    context = "%s, %dx%d; %d camera(s) x %d frames (+%d warm-up), threshold %s, backend %s, OpenCV threads %d" % (
        bench["source"], bench["frame_width"], bench["frame_height"], bench["cameras"], bench["frames_per_camera"],
        bench["warmup_per_camera"], figure(bench["threshold"]), bench.get("backend") or "-", bench["opencv_threads"])
    rows = [("Initialize", figure(bench["initialize_ms"], 2, " ms")),
            ("first call", figure(bench["first_call_ms"], 2, " ms"))]
    if warmup:
        rows.append(("warm-up calls (%d)" % warmup["count"], "mean %s, max %s" % (
            figure(warmup["mean"], 2, " ms"), figure(warmup["max"], 2, " ms"))))
    rows += [("latency %s" % name, figure(latency[name], 2, " ms")) for name in ("mean", "p50", "p90", "p99", "max")]
    rows += [("throughput", "%s frames/s (%d frames)" % (figure(bench["throughput_fps"], 2), bench["measured_frames"])),
             ("detections per frame", figure(bench["detections_per_frame"], 2)),
             ("peak resident memory", figure(bench["peak_rss_mb"], 1, " MB")),
             ("resident memory", "%s before Initialize, %s after the run" % (
                 figure(bench["rss_before_initialize_mb"], 1, " MB"), figure(bench["rss_after_run_mb"], 1, " MB")))]
    markers = [("p50", latency["p50"]), ("p99", latency["p99"])]
    body = "<p>%s</p>%s<h3>Latency per measured call</h3>%s" % (
        text(context), table(("figure", "value"), rows, numeric_from=1), histogram_svg(latencies, markers))
    return section("latency", "Latency (helmet-bench)", body)


def accuracy_section(evaluation, curves_dir, run, reason_not_run=""):
    title = "Accuracy (helmet-eval)"
    if run is None:
        return section("accuracy", title, not_run(reason_not_run))
    if not evaluation:
        return section("accuracy", title, run_failure(run, "helmet-eval"))
    context = "%s: %d %s; detect threshold %s, operating threshold %s, IoU %s; mean RunInference %s" % (
        evaluation["data"], evaluation["frames"], "frames" if evaluation["input"] == "video" else "images",
        figure(evaluation["detectThreshold"]), figure(evaluation["threshold"]), figure(evaluation["iou"]),
        figure(evaluation["meanInferenceMs"], 2, " ms"))
    rows = [(text(c["name"]), c["groundTruth"], c["detections"], c["detectionsAtThreshold"], figure(c["ap50"], 3),
             figure(c["ap50to95"], 3), figure(c["precision"], 3), figure(c["recall"], 3), figure(c["f1"], 3))
            for c in evaluation["classes"]]
    body = "<p>%s</p>%s<p>mean AP50 %s, mean AP50:95 %s</p>" % (
        text(context), table(("class", "GT", "dets", "dets>=T", "AP50", "AP50:95", "precision", "recall", "F1"), rows,
                             numeric_from=1), figure(evaluation["meanAp50"], 3), figure(evaluation["meanAp50to95"], 3))
    curves = sorted(name for name in os.listdir(curves_dir) if name.endswith(".png"))
    body += '<h3>Precision-recall curves</h3><div class="curves">%s</div>' % "".join(
        image(os.path.join(curves_dir, name), name[:-4]) for name in curves)
    return section("accuracy", title, body)


def contact_sheet_section(sheet_path, run):
    title = "Contact sheet (helmet-detect)"
    if not run.succeeded or not os.path.isfile(sheet_path):
        return section("contact-sheet", title, run_failure(run, "helmet-detect"))
    # helmet-detect's last line, without the (temporary) output folder it names.
    summary = (run.stdout.strip().splitlines() or [""])[-1].split("; results in ")[0]
    return section("contact-sheet", title, "<p>%s</p>%s" % (text(summary), image(sheet_path, "contact sheet", "sheet")))


def runs_section(runs):
    rows = [(text(name), "<code>%s</code>" % text(shlex.join(run.command)), text(run.outcome())) for name, run in runs]
    return section("runs", "Programs run", table(("program", "command", "outcome"), rows))
