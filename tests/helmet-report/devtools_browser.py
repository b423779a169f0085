"""Headless chromium driven over its DevTools pipe (standard library only):
load a page, see every request the page makes, read its DOM, take a screenshot."""

import base64
import json
import os
import subprocess


class Browser:
    def __init__(self, executable, profile):
        # Chromium reads commands from its descriptor 3 and answers on 4.
        self._commands_read, self._commands = os.pipe()
        self._answers, self._answers_write = os.pipe()
        self.process = subprocess.Popen(
            [executable, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--hide-scrollbars",
             "--remote-debugging-pipe", "--user-data-dir=" + profile, "about:blank"],
            pass_fds=(3, 4, self._commands_read, self._answers_write), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, preexec_fn=self._move_pipes)
        os.close(self._commands_read)
        os.close(self._answers_write)
        self._next_id, self._buffer, self.events = 0, b"", []
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        for domain in ("Page", "Network", "Runtime"):
            self.call(domain + ".enable", session=True)

    def _move_pipes(self):
        # Through a spare descriptor: either end may already sit on 3 or 4.
        commands_read, answers_write = os.dup(self._commands_read), os.dup(self._answers_write)
        os.dup2(commands_read, 3)
        os.dup2(answers_write, 4)

    def _message(self):
        while b"\0" not in self._buffer:
            chunk = os.read(self._answers, 1 << 20)
            if not chunk:
                raise RuntimeError("chromium closed its DevTools pipe")
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, session=False, **params):
        self._next_id += 1
        request = {"id": self._next_id, "method": method, "params": params}
        if session:
            request["sessionId"] = self.session
        os.write(self._commands, json.dumps(request).encode() + b"\0")
        while True:
            message = self._message()
            if message.get("id") == self._next_id:
                if "error" in message:
                    raise RuntimeError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            self.events.append(message)

    def wait_for(self, method):
        while not any(event.get("method") == method for event in self.events):
            self.events.append(self._message())

    def load(self, url, width=1100, height=1600):
        """Loads `url`; returns the URLs the page requested (the page's own included)."""
        self.events.clear()
        self.call("Emulation.setDeviceMetricsOverride", session=True, width=width, height=height,
                  deviceScaleFactor=1, mobile=False)
        self.call("Page.navigate", session=True, url=url)
        self.wait_for("Page.loadEventFired")
        return [event["params"]["request"]["url"] for event in self.events
                if event.get("method") == "Network.requestWillBeSent"]

    def evaluate(self, expression):
        return self.call("Runtime.evaluate", session=True, expression=expression, returnByValue=True)["result"]["value"]

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", session=True, format="png")["data"]
        with open(path, "wb") as image:
            image.write(base64.b64decode(data))

    def close(self):
        try:
            self.call("Browser.close")
        except (RuntimeError, OSError):
            pass
        self.process.wait(timeout=30)
        os.close(self._commands)
        os.close(self._answers)
