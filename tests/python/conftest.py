import os
import sys

import numpy as np

# The extension is built into <build>/python; DUZAVOD_BUILD_DIR names another build folder.
_build = os.path.abspath(
    os.environ.get("DUZAVOD_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build")))
sys.path.insert(0, os.path.join(_build, "python"))

import duzavod as dz  # noqa: E402

MODELS = os.path.join(_build, "models")
FISH = os.path.join(MODELS, "fish.fbx")
HIPS = os.path.join(MODELS, "hips.fbx")


def fish():
    return dz.skeletonFromFBX(FISH, 0)


def body(skeleton=None, sample_num=100):
    """A fish body without the default rotation, so that the fish keeps its model axes."""
    return dz.SkeletonDynamics(skeleton or fish(), sample_num, 0, np.zeros(3), np.zeros(3))


def box(**changes):
    """2 x 1.5 x 1 m, spacing 0.25 m: 8 x 6 x 4 nodes, tp = 0.025 s; then the fields given."""
    p = dz.simParam()
    p.setup_mode = dz.SETUP_MODE.MANUAL
    p.width, p.height, p.depth = 2.0, 1.5, 1.0
    p.N, p.l0p, p.u0p = 4.0, 1.0, 1.0
    for name, value in changes.items():
        setattr(p, name, value)
    return p

