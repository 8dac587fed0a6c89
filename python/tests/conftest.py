"""Shared fixtures: the pictures of the test data and the vekconv program.

CTest passes VEKCONV (the built converter) and VEK_TEST_DATA (tests/data);
PYTHONPATH points at the package assembled in the build folder.
"""

import os
import subprocess

import pytest

DATA = os.environ.get("VEK_TEST_DATA", os.path.join(os.path.dirname(__file__), "..", "..", "tests", "data"))
SUITE = os.path.join(DATA, "bmpsuite", "g")
# Accepted pictures of every bit count and header kind.
PICTURES = {
    8: "pal8.bmp",
    16: "rgb16.bmp",
    24: "rgb24.bmp",
    32: "rgb32.bmp",
}
MORE_PICTURES = ["pal8-0.bmp", "pal8gs.bmp", "pal8nonsquare.bmp", "pal8v5.bmp", "pal8w126.bmp", "rgb24pal.bmp"]


def suite_path(name):
    return os.path.join(SUITE, name)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


@pytest.fixture(scope="session")
def vekconv(tmp_path_factory):
    """Runs vekconv: vekconv("e"|"d", input bytes) -> the output's bytes."""
    program = os.environ.get("VEKCONV")
    if not program:
        pytest.skip("VEKCONV is not set (run the tests through ctest)")
    folder = tmp_path_factory.mktemp("vekconv")
    count = [0]

    def run(command, data):
        count[0] += 1
        source, output = folder / f"in{count[0]}", folder / f"out{count[0]}"
        source.write_bytes(data)
        subprocess.run([program, command, str(source), str(output)], check=True, stdout=subprocess.DEVNULL)
        return output.read_bytes()

    return run
