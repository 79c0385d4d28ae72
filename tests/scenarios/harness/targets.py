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
from . import support_programs
from . import wine_env
from . import wine_services


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


def write_tree(scenario, resolve, place_support=None):
    """Creates the scenario's folders and files on a target. A file spec
    {"copy": NAME} is placed by `place_support`(NAME, real path), the
    target's way of putting a support program there."""
    now = scenario_now(scenario)
    for folder in scenario.get("folders", []):
        os.makedirs(resolve(scenario_path(scenario, folder)), exist_ok=True)
    for path, spec in scenario.get("files", {}).items():
        real = resolve(scenario_path(scenario, path))
        os.makedirs(os.path.dirname(real), exist_ok=True)
        if isinstance(spec, dict) and "copy" in spec:
            if place_support is None:
                raise SetupError("this target cannot place support programs")
            place_support(spec["copy"], real)
        else:
            with open(real, "wb") as handle:
                handle.write(_content_of(spec))
        if isinstance(spec, dict):
            when = None
            if "mtime" in spec:
                when = datetime.datetime.strptime(spec["mtime"], TIME_FORMAT)
            elif "age_days" in spec:
                when = now - datetime.timedelta(days=spec["age_days"])
            elif "modified_days_ago" in spec:
                day = now.date() - datetime.timedelta(days=spec["modified_days_ago"])
                when = datetime.datetime.combine(
                    day, datetime.time.fromisoformat(spec.get("modified_at", "12:00:00")))
            if when is not None:
                stamp = when.timestamp()
                os.utime(real, (stamp, stamp))
            if spec.get("readonly"):
                os.chmod(real, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
    for path, spec in scenario.get("links", {}).items():
        spec = spec if isinstance(spec, dict) else {"target": spec}
        real = resolve(scenario_path(scenario, path))
        os.makedirs(os.path.dirname(real), exist_ok=True)
        os.symlink(resolve(scenario_path(scenario, spec["target"])), real)
        if "age_days" in spec:
            stamp = (now - datetime.timedelta(days=spec["age_days"])).timestamp()
            os.utime(real, (stamp, stamp), follow_symlinks=False)
        if "target_age_days" in spec:
            stamp = (now - datetime.timedelta(days=spec["target_age_days"])).timestamp()
            os.utime(real, (stamp, stamp))


def apply_step(scenario, step, resolve, place_support=None):
    """The changes that a later run of a scenario makes to the machine before
    it starts: "delete" (paths), then "files" (written as in write_tree)."""
    for path in step.get("delete", []):
        remove_tree(resolve(scenario_path(scenario, path)))
    if step.get("files"):
        changes = dict(scenario, files=step["files"], folders=[], links={})
        if step.get("now"):
            changes["now"] = step["now"]
        write_tree(changes, resolve, place_support)


def step_clock(step, prepared_date):
    """The local time a run's clock starts at when the run moves it, else None:
    "now", or "days_later" (noon of the day that many days after the day the
    machine was prepared, so that a file born then is exactly that many
    calendar days old whatever the time of day)."""
    if step.get("now"):
        return datetime.datetime.strptime(step["now"], TIME_FORMAT)
    if step.get("days_later") is not None:
        day = prepared_date + datetime.timedelta(days=step["days_later"])
        return datetime.datetime.combine(day, datetime.time(12, 0, 0))
    return None


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
    lines = []
    for name, state in services.items():
        if state == wine_services.DRIVER:
            lines.append("%s\trunning\tkernel_driver\n" % name)
        elif state is not None:
            lines.append("%s\t%s\n" % (name, state))
    return "".join(lines)


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
        if scn.moves_clock(scenario) and shutil.which("faketime") is None:
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
        self.services = scenario.get("services")
        # A run that moves the clock by days counts from the day the files
        # were born; birth times cannot be set, so all must be born on one day.
        drives = os.path.join(self.machine, "drives")
        for _attempt in range(3):
            self.prepared_date = datetime.date.today()
            os.makedirs(os.path.join(drives, "c"), exist_ok=True)
            write_tree(scenario, self.resolve, support_programs.place_host_standin)
            if datetime.date.today() == self.prepared_date:
                break
            remove_tree(drives)
        else:
            raise SetupError("the files could not be made within one day")

    def apply_step(self, step):
        apply_step(self.scenario, step, self.resolve, support_programs.place_host_standin)
        if step.get("services") is not None:
            table = dict(self.services) if isinstance(self.services, dict) else {}
            table.update(step["services"])
            self.services = table
            with open(os.path.join(self.machine, "services"), "w") as handle:
                handle.write(services_text(table))

    def run_clock(self, step):
        return step_clock(step, self.prepared_date)

    def finish(self):
        pass

    def watched_trees(self):
        return {"machine folder": self.machine}

    def run(self, step=None):
        step = step if step is not None else self.scenario
        command = step["command"]
        args = [self.quillet] + ([command] if command != "" else [])
        clock = self.run_clock(step)
        if clock is not None:
            args = ["faketime", "-f", "@" + clock.strftime(TIME_FORMAT)] + args
        env = dict(os.environ)
        env["QUILLET_MACHINE"] = self.machine
        for name, value in self.scenario.get("host_env", {}).items():
            env[name] = value.replace("{machine}", self.machine)
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
        for name in support_programs.support_copies(scenario):
            if not os.path.isfile(self._support_path(name)):
                return "%s is not built (%s); build the windows preset" % (
                    name, self._support_path(name))
        return None

    def _support_path(self, name):
        # the support programs are built beside rawlaunch.exe
        return os.path.join(os.path.dirname(self.rawlaunch), name)

    def _place_support(self, name, real_path):
        shutil.copyfile(self._support_path(name), real_path)

    def scenario_skip(self, scenario):
        if scn.moves_clock(scenario):
            return "the clock cannot be moved under Wine (the scenario sets now or days_later)"
        for table in [scenario.get("services")] + [step.get("services")
                                                   for step in scn.runs_of(scenario)]:
            reason = wine_services.unsupported(table)
            if reason:
                return reason
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

    def _scenario_roots(self):
        """The folders C:\\QTest\\X that the scenario's absolute paths use
        besides its install folder (a link's target outside the agent)."""
        scenario = self.scenario
        paths = list(scenario.get("files", {})) + list(scenario.get("folders", []))
        for link, spec in scenario.get("links", {}).items():
            paths += [link, spec["target"] if isinstance(spec, dict) else spec]
        roots = set()
        for path in paths:
            parts = scn.fill_placeholders(path, scenario).split("\\")
            if len(parts) > 2 and parts[0].lower() == "c:" and parts[1].lower() == "qtest":
                roots.add(self.resolve("C:\\QTest\\" + parts[2]))
        return sorted(roots)

    def prepare(self):
        scenario = self.scenario
        for path in [self.resolve(scn.install_path(scenario)), self.cwd] + self._scenario_roots():
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
        write_tree(scenario, self.resolve, self._place_support)
        self.services = wine_services.WineServices(
            self.prefix, self.work, self._support_path(wine_services.TEST_SERVICE), self._wine)
        if scn.uses_services(scenario):
            wine_env.start_keeper(self.prefix, self.log_path)
        self.services.begin(scenario.get("services"))

    def apply_step(self, step):
        apply_step(self.scenario, step, self.resolve, self._place_support)
        if step.get("services"):
            self.services.change(step["services"])

    def run_clock(self, _step):
        return None

    def finish(self):
        services = getattr(self, "services", None)
        if services is not None:
            services.end()

    def watched_trees(self):
        return {"C:\\QTest": os.path.join(self.drive_c, "QTest"),
                "C:\\ (top level)": (self.drive_c, 1)}

    def run(self, step=None):
        step = step if step is not None else self.scenario
        whole_line = step.get("windows_command_line")
        text = (whole_line if whole_line is not None else step["command"])
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
