"""The scenario tests' options and the machine they run on (README.md)."""

import os
import pathlib
import tempfile

import pytest

from harness import scenario as scn
from harness import targets
from harness import wine

BUILD = pathlib.Path(__file__).resolve().parents[2] / "build"


def pytest_addoption(parser):
    add = parser.addoption
    add("--target", choices=scn.TARGETS, default="host")
    add("--topic", help="only the scenarios of topic_TOPIC.py")
    add("--quillet", default=BUILD / "host" / "quillet")
    add("--quillet-exe", default=BUILD / "windows" / "quillet.exe")
    add("--rawlaunch", default=BUILD / "windows" / "tests" / "support" / "rawlaunch.exe")
    add("--prefix", default=BUILD / "host" / "wineprefix")
    add("--work", help="where each session makes its run-XXXXXX folder (default: pytest's)")


@pytest.fixture(scope="session")
def target(request, tmp_path_factory):
    """The target of the session, its machines in a folder of the session's
    own (two test runs of one build folder never clear each other's machines),
    which is kept when a scenario failed."""
    option = request.config.getoption
    base = option("work") or tmp_path_factory.getbasetemp()
    os.makedirs(base, exist_ok=True)
    work = tempfile.mkdtemp(prefix="run-", dir=os.path.abspath(base))
    if option("target") == "host":
        yield targets.HostTarget(os.path.abspath(option("quillet")), work)
    else:
        prefix = os.path.abspath(option("prefix"))
        # without the ctest fixture nobody has made the prefix yet
        if not wine.missing_tools() and not os.path.exists(os.path.join(prefix, wine.READY_MARK)):
            wine.setup(prefix, os.path.join(work, "wine-setup.log"))
        yield targets.WineTarget(os.path.abspath(option("quillet_exe")),
                                 os.path.abspath(option("rawlaunch")), prefix, work)
    if request.session.testsfailed == 0:
        targets.remove_tree(work)
