"""The simulation record, world and simulator as Python sees them: defaults, argument names, errors, and a
fish in the flow whose saved scene VTK's own legacy reader loads."""
import os
import re
import subprocess
import sys

import numpy as np
import pytest
import vtk
from vtk.util.numpy_support import vtk_to_numpy

import duzavod as dz

from conftest import box, fish


def read_vtk(path):
    reader = vtk.vtkGenericDataObjectReader()
    reader.SetFileName(str(path))
    reader.ReadAllVectorsOn()
    reader.Update()
    assert reader.GetErrorCode() == 0
    return reader.GetOutput()


def test_sim_param_defaults_and_completion(capfd):
    for p in (dz.simParam(), dz.make_simParams()):
        assert (p.x0, p.y0, p.z0, p.width, p.height, p.depth) == (0, 0, 0, 10, 4, 4)
        assert (p.N, p.l0p, p.u0p, p.dx, p.dtp, p.slip_ratio, p.pml_width) == (-1, -1, -1, -1, -1, 0, 0)
        assert p.u0k == pytest.approx(0.1, rel=1e-7) and p.visp == pytest.approx(0.001, rel=1e-7)
        assert p.rou0p == 1.25 and p.setup_mode == dz.SETUP_MODE.GRAVITY
    p.setup_mode = dz.SETUP_MODE.MANUAL
    p.visp = 1e-6  # single precision
    assert p.visp == pytest.approx(1e-6, rel=1e-7) and p.get_tp() == pytest.approx(0.0003, rel=1e-6)
    assert (p.N, p.l0p, p.dx) == (256, 4, 0.015625) and "u0p auto calculated" in capfd.readouterr().out


def test_simulator_errors_before_and_after_commit(tmp_path):
    sim = dz.make_simulator(box(), 0)
    with pytest.raises(RuntimeError, match="commitInit: no world attached"):
        sim.commitInit()
    with pytest.raises(RuntimeError, match="step: the simulator is not committed"):
        sim.step(dz.COUPLE_MODE.TWO_WAY)
    sim.attachWorld(dz.make_skWorld(np.zeros(3)))
    sim.commitInit()
    plain = tmp_path / "plain"
    plain.write_text("x")
    sim.mainDataFolderPath = str(plain) + "/"
    errors = [
        (lambda: sim.getIterPerSave(0), ValueError, "frame_rate"),
        (lambda: sim.step(dz.COUPLE_MODE(7)), ValueError, "couple_mode 7 names no coupling mode"),
        (lambda: sim.set_force(0, 0, 0, 1, 1, 1, 1), IndexError, "scale 1"),
        (lambda: sim.set_force_all(np.zeros((2, 3)), np.zeros((3, 3))), ValueError, "2 positions but 3 forces"),
        (lambda: sim.set_velocity_all(np.zeros((2, 2)), np.zeros((2, 2))), ValueError, "N x 3 arrays, got 2 x 2"),
        (lambda: sim.set_velocity(0, 0, 0, np.nan, 0, 0), ValueError, r"the value must be finite, not \(nan, 0, 0\)"),
        (lambda: sim.set_velocity_all(np.array([[0, np.nan, 0]]), np.zeros((1, 3))), ValueError, "positions row 0"),
        (lambda: sim.saveScene(1, dz.SAVE_FLAG.FLUID), RuntimeError, str(plain)),
    ]
    for call, error, match in errors:
        with pytest.raises(error, match=match):
            call()


# Records that cannot give a working lattice, refused naming field and value; beside them, values at or near
# each limit that may be meant, which run.
BAD_RECORDS = [
    (dict(x0=float("nan")), "x0 = nan must be finite"),
    (dict(width=0.0), "width = 0 must be positive"),
    (dict(N=-4.0), "N = -4 must be positive"),
    (dict(dx=0.05), r"dx = 0.05 differs from l0p / N = 0.25 \(l0p = 1, N = 4\)"),
    (dict(visp=0.0), "visp = 0 must be positive"),
    (dict(rou0p=0.0), "rou0p = 0 must be positive"),
    (dict(u0p=0.0), "u0p = 0 must be positive"),
    (dict(u0k=0.0), "u0k = 0 must lie between 0 and the lattice sound speed"),
    (dict(u0k=0.6), "u0k = 0.6 must lie between 0 and the lattice sound speed"),
    (dict(slip_ratio=-0.5), "slip_ratio = -0.5 must not be negative"),
    (dict(pml_width=-1), "pml_width = -1 must not be negative"),
    (dict(pml_width=2), r"pml_width = 2 is wider than half the lattice, whose axis z has 4 nodes \(at most 1\)"),
    (dict(pml_width=2**31 - 1), r"pml_width = 2147483647 is wider than half the lattice, whose axis x has 8 nodes"),
]


@pytest.mark.parametrize("changes, match", BAD_RECORDS)
def test_records_that_cannot_run_are_refused(changes, match):
    with pytest.raises(ValueError, match=match):
        dz.simulator3D(box(**changes), 0)


def test_records_at_the_limits_run_and_edits_before_the_commit_are_checked():
    p = box(dx=0.25, u0k=0.5, slip_ratio=1.5, pml_width=1, visp=1e-9)
    sim = dz.simulator3D(p, 0)
    sim.attachWorld(dz.DartWorld())
    sim.commitInit()
    sim.step(dz.COUPLE_MODE.TWO_WAY)
    p.N = 8.0  # the lattice was laid out with dx = 0.25
    with pytest.raises(ValueError, match=r"simParam.N = 8 differs from 4, the value the lattice was built with"):
        sim.commitInit()


# Each script runs in an interpreter of its own: limit(room) caps its address space (the soft limit; or the
# data segment) at room bytes above what it holds, lift() restores the address space, and attempt(call) prints what the call raised, or "done".
MEMORY_PRELUDE = """
import resource, sys
sys.path.insert(0, {tests!r})
from conftest import body, box, dz, fish
import numpy as np
MB = 2**20
_, hard = resource.getrlimit(resource.RLIMIT_AS)
def limit(room, kind=resource.RLIMIT_AS, held="VmSize:"):
    held = int(open("/proc/self/status").read().split(held)[1].split()[0]) * 1024
    resource.setrlimit(kind, (held + room, resource.getrlimit(kind)[1]))
def lift():
    resource.setrlimit(resource.RLIMIT_AS, (hard, hard))
def attempt(call):
    try:
        call()
        print("> done")
    except Exception as e:
        print("> " + type(e).__name__ + ": " + str(e))
def committed(world, p):
    sim = dz.simulator3D(p, 0)
    sim.attachWorld(world)
    sim.commitInit()
    return sim
"""
LEAVES = r"bytes that the address-space limit \(RLIMIT_AS\) leaves this process"
# N = 32 lays out 64 x 48 x 32 nodes of 372 bytes, 36.6 MB: the host lattice fits in 55 MB, its device mirror
# (host memory here) does not.
MEMORY_CASES = [
    ("lattice", "limit(55 * MB)\nattempt(lambda: committed(dz.DartWorld(), box(N=32.0)))",
     [r"MemoryError: initFlow: a lattice of 64 x 48 x 32 nodes \(372 bytes per node, and as many for its device "
      rf"mirror\) needs {64 * 48 * 32 * 744} bytes, more than the \d+ " + LEAVES]),
    ("lattice under a data limit",
     "limit(55 * MB, resource.RLIMIT_DATA, 'VmData:')\nattempt(lambda: committed(dz.DartWorld(), box(N=32.0)))",
     [r"MemoryError: initFlow: a lattice of 64 x 48 x 32 nodes .* bytes that the data-segment limit \(RLIMIT_DATA\) "
      "leaves this process"]),
    ("commit", """
sim = dz.simulator3D(box(N=32.0), 0)
sim.attachWorld(dz.DartWorld())
limit(20 * MB)
attempt(sim.commitInit)
attempt(lambda: sim.step(dz.COUPLE_MODE.TWO_WAY))
lift()
attempt(sim.commitInit)
attempt(lambda: sim.step(dz.COUPLE_MODE.TWO_WAY))""",
     [r"MemoryError: commitInit: the device mirror of a lattice of 64 x 48 x 32 nodes \(372 bytes per node\) needs "
      r"\d+ bytes, more than the \d+ " + LEAVES,
      "RuntimeError: step: the simulator is not committed; call commitInit first", "done", "done"]),
    ("new body", "skeleton = fish()\nlimit(60 * MB)\nattempt(lambda: body(skeleton, 200000))",
     [r"MemoryError: IBSamplerMesh::sample: 200000 points \(\d+ candidates on the largest mesh\) needs \d+ bytes, "
      r"more than the \d+ " + LEAVES]),
    ("points of a living body", """
world = dz.DartWorld(np.zeros(3))
b = body(fish(), 100)
world.addSkeleton(b)
sim = committed(world, box())
limit(60 * MB)
attempt(lambda: b.sample(200000))
attempt(lambda: sim.step(dz.COUPLE_MODE.TWO_WAY))""",
     [r"MemoryError: IBSamplerMesh::sample: 200000 points .*", "done"]),
]


@pytest.mark.parametrize("script, expected", [case[1:] for case in MEMORY_CASES], ids=[c[0] for c in MEMORY_CASES])
def test_memory_that_cannot_be_had_raises_memory_error_and_changes_nothing(script, expected):
    code = MEMORY_PRELUDE.format(tests=os.path.dirname(__file__)) + script + "\nprint('> alive')\n"
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    said = [line[2:] for line in run.stdout.splitlines() if line.startswith("> ")]
    assert (run.returncode, said[-1:]) == (0, ["alive"]), run.stderr
    assert len(said) == len(expected) + 1, said
    for line, pattern in zip(said, expected):
        assert re.fullmatch(pattern, line), line


def test_a_fish_in_the_flow_steps_and_saves_files_vtk_reads(tmp_path):
    """The fluid at rest but for one node given the lattice velocity (-0.05, 0, 0)."""
    world = dz.DartWorld(Gravity=np.zeros(3))
    skeleton = fish()
    body = dz.SkeletonDynamics(skeleton, 100)
    world.addSkeleton(SkeletonDynamics=body)
    assert world.getSkeleton(index=0) is body and world.time == 0.0
    sim = dz.simulator3D(param=box(), gpuId=0)
    sim.attachWorld(world=world)
    sim.commitInit()
    assert world.getTimestep() == pytest.approx(0.025)
    sim.set_velocity_all(np.array([[0.9, 0.0, 0.0]]), np.array([[-0.05, 0.0, 0.0]]))  # node (7, 3, 2)
    sim.mainDataFolderPath = str(tmp_path) + "/"
    sim.saveScene(frame=0, save_flags=dz.SAVE_FLAG.BODY | dz.SAVE_FLAG.FLUID)

    fluid = read_vtk(tmp_path / "Fluid" / "0_vis_fluid00000.vtk")
    assert fluid.GetDimensions() == (8, 6, 4)
    np.testing.assert_allclose(fluid.GetOrigin(), (-1, -0.75, -0.5))
    np.testing.assert_allclose(fluid.GetSpacing(), (0.25,) * 3)
    velocity = vtk_to_numpy(fluid.GetPointData().GetArray("cell_velocity")).reshape(4, 6, 8, 3)
    expected = np.zeros_like(velocity)
    expected[2, 3, 7] = (-0.05, 0, 0)
    np.testing.assert_allclose(velocity, expected, atol=1e-7)
    np.testing.assert_array_equal(vtk_to_numpy(fluid.GetPointData().GetArray("density")), np.ones((192, 3)))
    surface, vtk_body = skeleton.getRenderData(), read_vtk(tmp_path / "Objects" / "00_vis_object_00000.vtk")
    np.testing.assert_allclose(vtk_to_numpy(vtk_body.GetPoints().GetData()), np.array(surface.pos), atol=5e-5)
    np.testing.assert_allclose(vtk_to_numpy(vtk_body.GetPointData().GetNormals()), np.array(surface.normal), atol=5e-5)
    np.testing.assert_allclose(vtk_to_numpy(vtk_body.GetPointData().GetTCoords()), np.array(surface.uv), atol=5e-5)
    triangles = vtk_to_numpy(vtk_body.GetPolys().GetData()).reshape(-1, 4)
    assert (triangles[:, 0] == 3).all() and triangles[:, 1:].ravel().tolist() == list(surface.indices)

    for mode in dz.COUPLE_MODE.__members__.values():
        sim.step(couple_mode=mode)
    assert sim.getIterNum() == 4 and world.time == pytest.approx(0.1)
    sim.saveScene(7, dz.SAVE_FLAG.BODY)
    assert sorted(str(p.relative_to(tmp_path)) for p in tmp_path.rglob("*.vtk")) == [
        "Fluid/0_vis_fluid00000.vtk", "Objects/00_vis_object_00000.vtk", "Objects/00_vis_object_00007.vtk",
        "Objects/10_vis_object_00000.vtk", "Objects/10_vis_object_00007.vtk"]
    sim.reset()
    assert sim.getIterNum() == 0 and world.time == 0.0


def lose_tail_node(skeleton, fish_body, world):
    node, skeleton.joints[1].node = skeleton.joints[1].node, None
    return lambda: setattr(skeleton.joints[1], "node", node)


def push_at_the_bound(skeleton, fish_body, world):
    """Every value at the bound (1e8): DART's step drives the state beyond it, and the process lives on."""
    world.setGravity(np.array([0.0, -1e8, 0.0]))
    fish_body.setCommands(np.full(fish_body.getNumDofs(), 1e8))
    for joint in fish_body.getJoints():
        joint.setForce(0, 1e8)
    for link in fish_body.getLinks()[1:-1]:
        link.applyForce(np.full(3, 1e8))
    return world.reset


@pytest.mark.parametrize("spoil, error", [(lose_tail_node, "has no hierarchy node"),
                                          (push_at_the_bound, "has diverged at joint")])
def test_a_refused_step_changes_neither_time_nor_count_nor_state(spoil, error):
    skeleton = fish()
    for joint in skeleton.joints:
        joint.useLimits = False
    fish_body = dz.SkeletonDynamics(skeleton, 100, 0, np.zeros(3), np.zeros(3))
    world = dz.DartWorld()
    world.addSkeleton(fish_body)
    sim = dz.simulator3D(box(), 0)
    sim.attachWorld(world)
    sim.commitInit()
    fish_body.getJoint("tail").setVelocity(0, 0.5)
    sim.step(dz.COUPLE_MODE.TWO_WAY)
    mend = spoil(skeleton, fish_body, world)

    def state():
        return (world.time, sim.getIterNum(), list(fish_body.getPositions()), list(fish_body.getVelocities()),
                list(fish_body.getCommands()))
    before = state()
    for _ in range(2):
        with pytest.raises(RuntimeError, match=error):
            sim.step(dz.COUPLE_MODE.TWO_WAY)
        assert state() == before
    mend()
    sim.step(dz.COUPLE_MODE.TWO_WAY)
    assert sim.getIterNum() == 2


def test_a_body_resampled_in_a_run_feels_the_stream_at_the_next_step():
    """A free fish placed 5 m from where its model stands, in a stream of lattice velocity 0.05 along x on every
    node around it: without points a two-way step leaves it at rest; resampled, the next step pushes it downstream."""
    skeleton = fish()
    skeleton.joints[0].type = dz.jointType.floating
    body = dz.SkeletonDynamics(skeleton, 100, 0, np.array([5.0, 0, 0]), np.zeros(3))
    world = dz.DartWorld()
    world.addSkeleton(body)
    sim = dz.simulator3D(box(x0=5.0), 0)
    sim.attachWorld(world)
    sim.commitInit()
    nodes = np.stack(np.meshgrid(4.125 + 0.25 * np.arange(8), -0.625 + 0.25 * np.arange(6),
                                 -0.375 + 0.25 * np.arange(4), indexing="ij"), axis=-1).reshape(-1, 3)
    sim.set_velocity_all(nodes, np.tile([0.05, 0.0, 0.0], (len(nodes), 1)))
    for count, pushed in ((0, False), (300, True)):
        body.sample(count)
        before = body.getCOMLinearVelocity()
        sim.step(dz.COUPLE_MODE.TWO_WAY)
        assert (body.getCOMLinearVelocity()[0] > before[0] + 1e-3) == pushed, count
