import os
import sys

# The extension is built into <build>/python; DUZAVOD_BUILD_DIR names another build folder.
_build = os.environ.get("DUZAVOD_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
sys.path.insert(0, os.path.abspath(os.path.join(_build, "python")))
