import os
import sys

import pytest

# The extension is built into <build>/python; DUZAVOD_BUILD_DIR names another build folder.
_build = os.path.abspath(
    os.environ.get("DUZAVOD_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build")))
sys.path.insert(0, os.path.join(_build, "python"))


@pytest.fixture
def build_dir():
    return _build
