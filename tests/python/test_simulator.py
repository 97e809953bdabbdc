import os

import numpy as np
import pytest

import duzavod

from conftest import _build

FISH = os.path.abspath(os.path.join(_build, "models", "fish.fbx"))


def box():
    """2 x 1.5 x 1 m, spacing 0.25 m: 8 x 6 x 4 nodes, tp = 0.025 s."""
    p = duzavod.simParam()
    p.setup_mode = duzavod.SETUP_MODE.MANUAL
    p.width, p.height, p.depth = 2.0, 1.5, 1.0
    p.N, p.l0p, p.u0p = 4.0, 1.0, 1.0
    return p


def test_positional_factories():
    with pytest.raises(TypeError):
        duzavod.make_simulator(param=box(), gpuId=0)
    with pytest.raises(TypeError):
        duzavod.make_skWorld(Gravity=np.zeros(3))
    assert duzavod.DartWorld().time == 0.0


def test_script_errors_become_python_exceptions(tmp_path):
    sim = duzavod.make_simulator(box(), 0)
    with pytest.raises(RuntimeError, match="commitInit: no world attached"):
        sim.commitInit()
    with pytest.raises(RuntimeError, match="step: the simulator is not committed"):
        sim.step(duzavod.COUPLE_MODE.TWO_WAY)
    sim.attachWorld(duzavod.make_skWorld(np.zeros(3)))
    sim.commitInit()
    plain = tmp_path / "plain"
    plain.write_text("x")
    sim.mainDataFolderPath = str(plain) + "/"
    errors = [
        (lambda: sim.getIterPerSave(0), ValueError, "frame_rate"),
        (lambda: sim.set_force(0, 0, 0, 1, 1, 1, 1), IndexError, "scale 1"),
        (lambda: sim.set_force_all(np.zeros((2, 3)), np.zeros((3, 3))), ValueError, "2 positions but 3 forces"),
        (lambda: sim.set_velocity_all(np.zeros((2, 2)), np.zeros((2, 2))), TypeError, r"float64\[m, 3\]"),
        (lambda: duzavod.DartWorld().getSkeleton(0), IndexError, "index 0"),
        (lambda: sim.saveScene(1, duzavod.SAVE_FLAG.FLUID), RuntimeError, str(plain)),
        (lambda: duzavod.make_simulator(duzavod.simParam(), 0), ValueError, "dx = -1"),
    ]
    for call, error, match in errors:
        with pytest.raises(error, match=match):
            call()


def test_a_fish_in_the_flow_steps_and_saves(tmp_path):
    world = duzavod.DartWorld(Gravity=np.zeros(3))
    body = duzavod.SkeletonDynamics(duzavod.skeletonFromFBX(FISH, 0), 100)
    world.addSkeleton(SkeletonDynamics=body)
    assert world.getSkeleton(0) is body
    sim = duzavod.simulator3D(param=box(), gpuId=0)
    sim.attachWorld(world)
    sim.commitInit()
    assert world.getTimestep() == pytest.approx(0.025)
    sim.set_velocity_all(np.array([[0.9, 0.0, 0.0]]), np.array([[-0.05, 0.0, 0.0]]))
    for mode in duzavod.COUPLE_MODE.__members__.values():
        sim.step(mode)
    assert sim.getIterNum() == 4 and world.time == pytest.approx(0.1)
    sim.mainDataFolderPath = str(tmp_path) + "/"
    sim.saveScene(7, duzavod.SAVE_FLAG.BODY | duzavod.SAVE_FLAG.FLUID)
    assert sorted(str(p.relative_to(tmp_path)) for p in tmp_path.rglob("*.vtk")) == [
        "Fluid/0_vis_fluid00007.vtk", "Objects/00_vis_object_00007.vtk", "Objects/10_vis_object_00007.vtk"]
    sim.reset()
    assert sim.getIterNum() == 0 and world.time == 0.0
