"""The two places a scenario runs: the host binary over a machine folder, and
quillet.exe under Wine. Both prepare a machine from the same scenario, resolve
its Windows paths to real files and run the program."""

import datetime
import os
import shutil
import stat
import subprocess

from . import checks
from . import registry
from . import scenario as scn
from . import support_programs
from . import wine

TIME_FORMAT = "%Y-%m-%d %H:%M:%S"


def remove_tree(path):
    """Removes a file or tree, read-only parts included."""
    if os.path.isdir(path) and not os.path.islink(path):
        for folder, _dirs, _files in os.walk(path):
            os.chmod(folder, stat.S_IRWXU)
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.remove(path)


def file_content(spec):
    return checks.as_bytes(spec.get("content", scn.filler(spec.get("size", 0)))
                           if isinstance(spec, dict) else spec)


def registry_file(scenario):
    return registry.reg_file_bytes(scenario.get("registry"), scenario.get("registry_keys", {}),
                                   lambda text: scn.fill(text, scenario))


class Target:
    def __init__(self, name, work):
        self.name, self.work_root = name, os.path.join(work, name)
        # the runner's own clock (file ages, the run's window) in the program's zone
        self.zone = os.environ.get("TZ", "UTC")

    def start_time(self, run):
        """The local time a run starts at when it moves the clock, else None:
        "now", or noon of the day "days_later" days after the machine was
        prepared (a file born then is exactly that many calendar days old)."""
        if run.get("now"):
            return datetime.datetime.strptime(run["now"], TIME_FORMAT)
        if run.get("days_later") is not None:
            return datetime.datetime.combine(
                self.prepared + datetime.timedelta(days=run["days_later"]), datetime.time(12))
        return None

    def prepare(self, scenario):
        self.scenario = scenario
        self.work = os.path.join(self.work_root, scenario["name"])
        remove_tree(self.work)
        os.makedirs(self.work)
        # A run that moves the clock by days counts from the day the files
        # were born; birth times cannot be set, so all are born on one day.
        for _attempt in range(3):
            self.prepared = datetime.date.today()
            self.make_machine(scenario)
            if datetime.date.today() == self.prepared:
                return
        raise RuntimeError("the files could not be made within one day")

    def write(self, files, folders=(), links=None, now=None):
        """Creates folders, files and links; a file {"copy": NAME} is placed
        by place_support. Ages count from the scenario's (or the run's) "now",
        else from the real time."""
        now = now or self.scenario.get("now")
        now = datetime.datetime.strptime(now, TIME_FORMAT) if now else datetime.datetime.now()

        def dated(real, days=None, calendar_days=None, at="12:00:00", follow=True):
            when = now - datetime.timedelta(days=days) if days is not None else None
            if calendar_days is not None:
                when = datetime.datetime.combine(
                    now.date() - datetime.timedelta(days=calendar_days),
                    datetime.time.fromisoformat(at))
            if when is not None:
                os.utime(real, (when.timestamp(),) * 2, follow_symlinks=follow)

        def place(path):
            real = self.resolve(scn.windows_path(self.scenario, path))
            os.makedirs(os.path.dirname(real), exist_ok=True)
            return real

        for folder in folders:
            os.makedirs(self.resolve(scn.windows_path(self.scenario, folder)), exist_ok=True)
        for path, spec in files.items():
            real = place(path)
            spec = spec if isinstance(spec, dict) else {"content": spec}
            if "copy" in spec:
                self.place_support(spec["copy"], real)
            else:
                with open(real, "wb") as handle:
                    handle.write(file_content(spec))
            dated(real, spec.get("age_days"), spec.get("modified_days_ago"),
                  spec.get("modified_at", "12:00:00"))
            if spec.get("readonly"):
                os.chmod(real, 0o444)
        for path, spec in (links or {}).items():
            spec = spec if isinstance(spec, dict) else {"target": spec}
            real = place(path)
            os.symlink(self.resolve(scn.windows_path(self.scenario, spec["target"])), real)
            dated(real, spec.get("age_days"), follow=False)

    def resolve(self, windows_path):
        drive, _, rest = windows_path.partition(":")
        return os.path.join(self.drive(drive.lower()), *[part for part in rest.split("\\") if part])

    def skip(self, _scenario):
        return None

    def finish(self):
        pass

    def launch(self, args, env, timeout):
        """(exit status, output) of a program run in the working folder;
        the output goes through a file (see harness/wine.py for why)."""
        out_path = os.path.join(self.work, "program-output.txt")
        try:
            with open(out_path, "wb") as out:
                status = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                        env=env, cwd=self.cwd, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return None, "the program ran longer than %d s and was ended" % timeout
        with open(out_path, "rb") as out:
            return status, out.read().decode("utf-8", "replace")

    def change(self, run):
        """What a later run changes before it starts: paths removed, files, links, services."""
        for path in run.get("delete", ()):
            remove_tree(self.resolve(scn.windows_path(self.scenario, path)))
        self.write(run.get("files", {}), links=run.get("links"), now=run.get("now"))
        if run.get("services"):
            self.change_services(run["services"])


# The host runs in a time zone of its own, 5:45 ahead of UTC, so that a
# program that takes UTC, or the build machine's zone, for local time shows.
HOST_TIME_ZONE = "QTZ-05:45"


class HostTarget(Target):
    def __init__(self, quillet, work):
        super().__init__("host", work)
        self.quillet, self.zone = quillet, HOST_TIME_ZONE
        self.place_support = support_programs.place_host_standin

    def unavailable(self, scenario):
        if not os.path.isfile(self.quillet):
            return "the host binary %s is not built" % self.quillet
        if scn.moves_clock(scenario) and shutil.which("faketime") is None:
            return "faketime is not installed (the scenario moves the clock)"
        return None

    def drive(self, letter):
        return os.path.join(self.machine, "drives", letter)

    def make_machine(self, scenario):
        self.machine = os.path.join(self.work, "machine")
        self.cwd = os.path.join(self.work, "cwd")
        remove_tree(self.machine)
        os.makedirs(os.path.join(self.machine, "drives", "c"))
        os.makedirs(self.cwd, exist_ok=True)
        with open(os.path.join(self.machine, "registry.reg"), "wb") as handle:
            handle.write(registry_file(scenario))
        self.services = scenario.get("services")
        if self.services is not None:
            self.change_services({})
        for program, script in scenario.get("host_bin", {}).items():
            os.makedirs(os.path.join(self.machine, "bin"), exist_ok=True)
            with open(os.path.join(self.machine, "bin", program), "w") as handle:
                handle.write(script)
            os.chmod(handle.name, 0o755)
        self.write(scenario.get("files", {}), scenario.get("folders", ()), scenario.get("links"))

    def change_services(self, changes):
        self.services = dict(self.services or {}, **changes)
        text = "".join("%s\trunning\tkernel_driver\n" % name if state == "driver" else
                       "%s\t%s\n" % (name, state)
                       for name, state in self.services.items() if state is not None)
        with open(os.path.join(self.machine, "services"), "w") as handle:
            handle.write(text)

    def watched(self):
        return [(self.machine, True)]

    def run(self, run):
        args = [self.quillet] + ([run["command"]] if run["command"] != "" else [])
        start = self.start_time(run)
        if start is not None:
            args = ["faketime", "-f", "@" + start.strftime(TIME_FORMAT)] + args
        env = dict(os.environ, QUILLET_MACHINE=self.machine)
        for name, value in self.scenario.get("host_env", {}).items():
            env[name] = value.replace("{machine}", self.machine)
        return self.launch(args, env, 90)


class WineTarget(Target):
    def __init__(self, quillet_exe, rawlaunch, prefix, work):
        super().__init__("wine", work)
        self.quillet_exe, self.rawlaunch, self.prefix = quillet_exe, rawlaunch, prefix
        self.drive_c = os.path.join(prefix, "drive_c")
        self.services = None
        # the support programs are built beside rawlaunch.exe
        self.support = lambda name: os.path.join(os.path.dirname(rawlaunch), name)

    def place_support(self, name, real_path):
        shutil.copyfile(self.support(name), real_path)

    def unavailable(self, scenario):
        if wine.missing_tools():
            return "Wine is not installed (%s not found)" % ", ".join(wine.missing_tools())
        # the support programs are built with these two
        for path in (self.quillet_exe, self.rawlaunch):
            if not os.path.isfile(path):
                return "%s is not built; build the windows preset" % path
        return None

    def skip(self, scenario):
        if scn.moves_clock(scenario):
            return "the clock cannot be moved under Wine (the scenario sets now or days_later)"
        for run in [scenario] + scenario.get("runs", []):
            if wine.unsupported(run.get("services")):
                return wine.unsupported(run.get("services"))
        return None

    def drive(self, letter):
        if letter != "c":
            raise RuntimeError("only drive C: exists in the Wine prefix")
        return self.drive_c

    def _wine(self, args):
        return wine.run_logged(["wine"] + args, self.prefix, os.path.join(self.work, "wine.log"),
                               cwd=self.work)

    def make_machine(self, scenario):
        # Cleared first: the install folder and C:\QTest, which holds the
        # working folder and the other absolute paths of the scenarios (the
        # prefix serves one scenario at a time).
        self.cwd = self.resolve("C:\\QTest\\" + scenario["name"] + ".cwd")
        for path in ("C:\\QTest", scn.install_path(scenario)):
            remove_tree(self.resolve(path))
        os.makedirs(self.cwd)
        # `reg import` adds to a key and never removes: the key goes first (a
        # missing key fails the delete, which is fine). One Wine start for both.
        command = ["cmd", "/c", "reg", "delete", "HKLM\\Software\\KORBOD", "/f", "/reg:32",
                   ">nul", "2>&1"]
        if scenario.get("registry") is not None or scenario.get("registry_keys"):
            with open(os.path.join(self.work, "registry.reg"), "wb") as handle:
                handle.write(registry_file(scenario))
            command += ["&", "reg", "import", wine.windows_path(handle.name), "/reg:32"]
        if self._wine(command) != 0 and "import" in command:
            raise RuntimeError("wine reg import failed (see %s/wine.log)" % self.work)
        self.write(scenario.get("files", {}), scenario.get("folders", ()), scenario.get("links"))
        self.services = wine.Services(self.prefix, self.work, self.support("test_service.exe"),
                                      self._wine)
        if any(run.get("services") for run in [scenario] + scenario.get("runs", [])):
            wine.start_keeper(self.prefix, os.path.join(self.work, "wine.log"))
        self.services.begin(scenario.get("services"))

    def change_services(self, changes):
        self.services.change(changes)

    def watched(self):
        return [(os.path.join(self.drive_c, "QTest"), True), (self.drive_c, False)]

    def finish(self):
        if self.services is not None:
            self.services.end()
            self.services = None

    def run(self, run):
        args = ["wine", self.rawlaunch, wine.windows_path(self.quillet_exe),
                "x:" + run["command"].encode(registry.ANSI).hex()]
        # The program's events (why a run could not keep its log, say) show in
        # its output: Wine puts an error event on its eventlog channel.
        status, output = self.launch(args, dict(wine.env(self.prefix),
                                                WINEDEBUG="-all,err+eventlog"), 120)
        return status, output + ("\n(quillet.exe ran longer than 60 s and was ended)"
                                 if status == 124 else "")
