"""The two places a scenario runs: the host binary over a machine folder, and
quillet.exe under Wine. Both take the same scenario and expose the same view
of the result: Windows paths resolved to real files, an exit status."""

import datetime
import os
import shutil
import stat
import subprocess
import time

from . import registry
from . import scenario as scn
from . import wine_env


class SetupError(Exception):
    """The machine could not be prepared; the scenario fails."""


TIME_FORMAT = "%Y-%m-%d %H:%M:%S"


def split_windows_path(path):
    """("c", ["QTest", "x"]) for C:\\QTest\\x."""
    if len(path) < 2 or path[1] != ":" or not path[0].isalpha():
        raise ValueError("not an absolute Windows path: %r" % path)
    parts = [p for p in path[2:].split("\\") if p]
    return path[0].lower(), parts


def scenario_path(scenario, path):
    """A path of a scenario table, relative to the install folder unless absolute."""
    path = scn.fill_placeholders(path, scenario)
    if len(path) >= 2 and path[1] == ":":
        return path
    return scn.install_dir_text(scenario) + path


def scenario_now(scenario):
    if scenario.get("now"):
        return datetime.datetime.strptime(scenario["now"], TIME_FORMAT)
    return datetime.datetime.now()


def _content_of(spec):
    if isinstance(spec, (bytes, str)):
        return as_bytes(spec)
    if "content" in spec:
        return as_bytes(spec["content"])
    return scn.filler(spec.get("size", 0))


def as_bytes(content):
    return content.encode(registry.ANSI) if isinstance(content, str) else content


def write_tree(scenario, resolve):
    """Creates the scenario's folders and files on a target."""
    now = scenario_now(scenario)
    for folder in scenario.get("folders", []):
        os.makedirs(resolve(scenario_path(scenario, folder)), exist_ok=True)
    for path, spec in scenario.get("files", {}).items():
        real = resolve(scenario_path(scenario, path))
        os.makedirs(os.path.dirname(real), exist_ok=True)
        with open(real, "wb") as handle:
            handle.write(_content_of(spec))
        if isinstance(spec, dict):
            when = None
            if "mtime" in spec:
                when = datetime.datetime.strptime(spec["mtime"], TIME_FORMAT)
            elif "age_days" in spec:
                when = now - datetime.timedelta(days=spec["age_days"])
            if when is not None:
                stamp = when.timestamp()
                os.utime(real, (stamp, stamp))
            if spec.get("readonly"):
                os.chmod(real, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)


def remove_tree(path):
    if not os.path.lexists(path):
        return

    def make_writable(function, failed_path, _info):
        os.chmod(failed_path, stat.S_IRWXU)
        function(failed_path)

    if os.path.isdir(path) and not os.path.islink(path):
        for folder, dirs, _files in os.walk(path):
            os.chmod(folder, stat.S_IRWXU)
        shutil.rmtree(path, onerror=make_writable)
    else:
        os.remove(path)


def registry_file(scenario):
    values = scenario.get("registry")
    fill = lambda text: scn.fill_placeholders(text, scenario)  # noqa: E731

    def filled(table):
        if table is None:
            return None
        return {name: (fill(v) if isinstance(v, str) else v.map_text(fill))
                for name, v in table.items()}

    subkeys = {path: filled(table) for path, table in scenario.get("registry_keys", {}).items()}
    return registry.reg_file_bytes(filled(values), subkeys, scenario.get("registry_format", "v5"))


def services_text(services):
    if isinstance(services, str):
        return services
    return "".join("%s\t%s\n" % (name, state) for name, state in services.items())


# The host runs in a time zone of its own, 5:45 ahead of UTC, so that a
# program that takes UTC, or the build machine's zone, for local time shows.
HOST_TIME_ZONE = "QTZ-05:45"


class HostTarget:
    name = "host"

    def __init__(self, quillet, work):
        self.quillet = quillet
        self.work_root = os.path.join(work, "host")
        # the runner's own clock (file ages, the run's time window) in the same zone
        os.environ["TZ"] = HOST_TIME_ZONE
        time.tzset()

    def unavailable(self, scenario):
        if not os.path.isfile(self.quillet):
            return "the host binary %s is not built" % self.quillet
        if scenario.get("now") and shutil.which("faketime") is None:
            return "faketime is not installed (the scenario moves the clock)"
        return None

    def begin(self, scenario):
        self.scenario = scenario
        self.work = os.path.join(self.work_root, scenario["name"])
        remove_tree(self.work)
        self.machine = os.path.join(self.work, "machine")
        self.cwd = os.path.join(self.work, "cwd")
        os.makedirs(self.machine)
        os.makedirs(self.cwd)

    def resolve(self, windows_path):
        drive, parts = split_windows_path(windows_path)
        return os.path.join(self.machine, "drives", drive, *parts)

    def prepare(self):
        scenario = self.scenario
        with open(os.path.join(self.machine, "registry.reg"), "wb") as handle:
            handle.write(registry_file(scenario))
        if scenario.get("services") is not None:
            with open(os.path.join(self.machine, "services"), "w") as handle:
                handle.write(services_text(scenario["services"]))
        for program, script in scenario.get("host_bin", {}).items():
            path = os.path.join(self.machine, "bin", program)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as handle:
                handle.write(script)
            os.chmod(path, 0o755)
        os.makedirs(os.path.join(self.machine, "drives", "c"), exist_ok=True)
        write_tree(scenario, self.resolve)

    def watched_trees(self):
        return {"machine folder": self.machine}

    def run(self):
        command = self.scenario["command"]
        args = [self.quillet] + ([command] if command != "" else [])
        if self.scenario.get("now"):
            args = ["faketime", "-f", "@" + self.scenario["now"]] + args
        env = dict(os.environ)
        env["QUILLET_MACHINE"] = self.machine
        try:
            done = subprocess.run(args, cwd=self.cwd, env=env, stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=90)
        except subprocess.TimeoutExpired:
            return None, "the program ran longer than 90 s and was ended"
        output = (done.stdout + done.stderr).decode("utf-8", "replace")
        return done.returncode, output


class WineTarget:
    name = "wine"

    def __init__(self, quillet_exe, rawlaunch, prefix, work):
        self.quillet_exe = quillet_exe
        self.rawlaunch = rawlaunch
        self.prefix = prefix
        self.work_root = os.path.join(work, "wine")
        self.drive_c = os.path.join(prefix, "drive_c")

    def unavailable(self, scenario):
        missing = wine_env.missing_tools()
        if missing:
            return "Wine is not installed (%s not found)" % ", ".join(missing)
        for label, path in (("quillet.exe", self.quillet_exe), ("rawlaunch.exe", self.rawlaunch)):
            if not os.path.isfile(path):
                return "%s is not built (%s); build the windows preset" % (label, path)
        return None

    def scenario_skip(self, scenario):
        if scenario.get("now"):
            return "the clock cannot be moved under Wine (the scenario sets now)"
        services = scenario.get("services")
        if isinstance(services, dict) and any(s != "stopped" for s in services.values()):
            # hook: register services with `wine sc create` from the test service program
            return "services that run are not available under Wine yet"
        if isinstance(services, str):
            return "a raw services table is host-only"
        return None

    def begin(self, scenario):
        self.scenario = scenario
        self.work = os.path.join(self.work_root, scenario["name"])
        remove_tree(self.work)
        os.makedirs(self.work)
        self.log_path = os.path.join(self.work, "wine.log")
        self.cwd = self.resolve("C:\\QTest\\" + scenario["name"] + ".cwd")

    def resolve(self, windows_path):
        drive, parts = split_windows_path(windows_path)
        if drive != "c":
            raise SetupError("only drive C: exists in the Wine prefix: %s" % windows_path)
        return os.path.join(self.drive_c, *parts)

    def _wine(self, args, timeout=120):
        return wine_env.run_logged(["wine"] + args, self.prefix, self.log_path, timeout,
                                   cwd=self.work)

    def prepare(self):
        scenario = self.scenario
        for path in (self.resolve(scn.install_path(scenario)), self.cwd):
            real = os.path.realpath(path)
            if not real.startswith(os.path.realpath(self.drive_c) + os.sep):
                raise SetupError("refusing to clear %s outside drive_c" % real)
            remove_tree(path)
        os.makedirs(self.cwd)
        # One Wine program for both steps: each start costs about half a second.
        # `reg import` adds to a key and never removes, so the key goes first
        # (a missing key fails the delete, which is fine).
        steps = ["reg", "delete", "HKLM\\Software\\KORBOD", "/f", "/reg:32", ">nul", "2>&1"]
        if scenario.get("registry") is not None or scenario.get("registry_keys"):
            reg_path = os.path.join(self.work, "registry.reg")
            with open(reg_path, "wb") as handle:
                handle.write(registry_file(scenario))
            steps += ["&", "reg", "import", wine_env.windows_path(reg_path), "/reg:32"]
            status = self._wine(["cmd", "/c"] + steps)
            if status != 0:
                raise SetupError("wine reg import failed with status %d (see %s)"
                                 % (status, self.log_path))
        else:
            self._wine(["cmd", "/c"] + steps)
        write_tree(scenario, self.resolve)

    def watched_trees(self):
        return {"C:\\QTest": os.path.join(self.drive_c, "QTest"),
                "C:\\ (top level)": (self.drive_c, 1)}

    def run(self):
        whole_line = self.scenario.get("windows_command_line")
        text = (whole_line if whole_line is not None else self.scenario["command"])
        args = ["wine", self.rawlaunch, "-t", "60"] + (["-f"] if whole_line is not None else [])
        args += [wine_env.windows_path(self.quillet_exe), "x:" + text.encode(registry.ANSI).hex()]
        out_path = os.path.join(self.work, "program-output.txt")
        try:
            with open(out_path, "wb") as out, open(os.devnull, "rb") as nothing:
                status = subprocess.run(args, stdin=nothing, stdout=out, stderr=out,
                                        env=wine_env.wine_env(self.prefix), cwd=self.cwd,
                                        timeout=120).returncode
        except subprocess.TimeoutExpired:
            return None, "wine did not end within 120 s"
        with open(out_path, "rb") as out:
            output = out.read().decode("utf-8", "replace")
        if status == 124:
            output += "\n(quillet.exe ran longer than 60 s and was ended)"
        return status, output
