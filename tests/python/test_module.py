"""The module's surface (names in registration order, classes, enums, properties) and the rules every entry
keeps: what a read returns, how long objects live, and that bad script input raises instead of crashing."""
import os
import subprocess
import sys

import numpy as np
import pytest

import duzavod as dz

from conftest import FISH, HIPS, _build, body, box, fish

FACTORIES = ["make_simulator", "make_simParams", "make_skeletonSystem", "make_skDynamics", "make_skWorld",
             "make_trajectory", "make_tpPoint", "make_controller"]
ENUMS = {
    "SETUP_MODE": {"GRAVITY": 1, "MANUAL": 0},
    "COUPLE_MODE": {"NO_FLUID": 2, "ONE_WAY": 1, "TWO_WAY": 0, "EMPIRICAL": 3},
    "actuatorType": {"force": 0, "passive": 1, "servo": 2, "mimic": 3, "acceleration": 4, "locked": 6},
    "jointType": {"revolute": 1, "continuous": 2, "prismatic": 3, "fixed": 4, "floating": 5, "planar": 6, "ball": 7,
                  "universal": 8},
    "SAVE_FLAG": {"BODY": 1, "FLUID": 2},
}
# Class, bound base, whether Python can construct it, its members in registration order (a trailing "*"
# marks a read-only property).
CLASSES = [
    ("RenderData", None, False, "pos normal uv indices"),
    ("simParam", None, True, "x0 y0 z0 width height depth N l0p u0k u0p rou0p visp slip_ratio pml_width setup_mode "
                             "dx dtp get_tp"),
    ("hierachyNode", None, False, "rotation getWorldTrans"),
    ("Limit", None, False, "effort lower upper velocity"),
    ("Dynamics", None, False, "friction damping"),
    ("SkeletonJoint", None, False, "node limit dynamics useLimits useDynamics axis type actuator springStiffness name*"),
    ("SkeletonLink", None, False, "getWorldTrans name* size mass"),
    ("SkeletonSystem", None, True, "getRenderData update joints links"),
    ("skJoint", None, False, "getJointType getName getNumDofs setCommand setForce setPositions setPosition "
                             "getPositions getVelocities setVelocity getAccelerations setAcceleration "
                             "getPositionLowerLimits getPositionUpperLimits getForceLowerLimits getForceUpperLimits "
                             "getVelocityLowerLimits getVelocityUpperLimits"),
    ("skLink", None, False, "getMass getName getAngularVelocity getLinearVelocity getAngularAcceleration "
                            "getLinearAcceleration getPosition getRotation getFrame applyForce"),
    ("Markers", None, False, "getMarkersPos getMarkersNormal getMarkersPressure getMarkersVel"),
    ("SkeletonDynamics", None, True, "setHead sample getBaseLinkFwd getBaseLinkRight getBaseLinkUp getBaseLink "
                                     "baseLinkName* beCollided* getLink getJoint getJoints getLinks update getNumDofs "
                                     "getVelocities getPositions getAccelerations getCOM getMass getCOMLinearVelocity "
                                     "getCOMAngularVelocity getCOMLinearAcceleration getForceUpperLimits "
                                     "getForceLowerLimits getCommands setCommands getMarkers setRefFrame "
                                     "empirical_force_amplifier getRenderData"),
    ("DartWorld", None, True, "addSkeleton getSkeleton setTimestep getTimestep setGravity reset time*"),
    ("skFrame", None, False, ""),
    ("trajectoryPoint3d", None, True, "data"),
    ("trajectoryPosePoint3d", "trajectoryPoint3d", True, "getPosition getOrientation"),
    ("trajectory3d", None, True, "setPoints fit"),
    ("poseTrajectory", "trajectory3d", True, "sample getLastIdx getTargetPose getSampleNum getPose getCurvature "
                                             "getReferencePose"),
    ("debugLine", None, True, "vertices"),
    ("VTKWriter", None, False, "writeLines writeTrajectory"),
    ("simulator3D", None, True, "attachWorld mainDataFolderPath fluidFolderName objectsFolderName log commitInit step "
                                "saveScene saveObjectsData saveFluidData set_force set_force_all set_velocity_all "
                                "set_velocity getIterNum getIterPerSave dismissinlet reset"),
    ("PDControl1D", None, True, "feedback set_value set_dvalue reset"),
]
FILE_FUNCTIONS = ["skeletonFromJson", "SkeletonToJson", "skeletonFromFBX"]


def test_names_in_registration_order_and_the_docstrings():
    assert [n for n in vars(dz) if not n.startswith("__")] == (
        FACTORIES + list(ENUMS) + [c[0] for c in CLASSES] + FILE_FUNCTIONS)
    assert dz.__doc__ == "pybind11 example plugin"
    assert "apply force to link" in dz.skLink.applyForce.__doc__
    doc = dz.poseTrajectory.getReferencePose.__doc__
    assert "Get Pose t using spline" in doc and "Get Pose t using samples within lookforward range" in doc


@pytest.mark.parametrize("name, members", ENUMS.items())
def test_enums_are_arithmetic_and_reached_through_the_enum(name, members):
    enum = getattr(dz, name)
    assert [(n, int(v)) for n, v in enum.__members__.items()] == list(members.items())
    a, b = list(enum.__members__.values())[:2]
    assert not any(hasattr(dz, n) for n in members)
    assert (a | b, a & b, a ^ b, a < b, hash(a)) == (int(a) | int(b), int(a) & int(b), int(a) ^ int(b), int(a) < int(b),
                                                     hash(int(a)))


@pytest.mark.parametrize("name, base, constructible, members", CLASSES)
def test_class_surface(name, base, constructible, members):
    cls = getattr(dz, name)
    listed = members.split()
    assert [m for m in vars(cls) if not m.startswith("_")] == [m.rstrip("*") for m in listed]
    assert [b.__name__ for b in cls.__bases__] == [base or "pybind11_object"]
    for member in listed:
        attribute = vars(cls)[member.rstrip("*")]
        if isinstance(attribute, property):
            assert (attribute.fset is None) == member.endswith("*"), member
    if not constructible:
        with pytest.raises(TypeError, match="No constructor defined!"):
            cls()
    if name == "VTKWriter":
        assert all(isinstance(vars(cls)[m], staticmethod) for m in listed)


def test_members_are_the_owners_records_and_reads_of_lists_and_arrays_are_copies():
    skeleton = fish()
    joint = skeleton.joints[1]
    joint.limit.lower.append(1.0)
    joint.limit.lower[0] = 1.0
    joint.node.rotation[0] = 45.0
    joint.axis[0][0] = 1.0
    assert joint.limit.lower == [0.0] and joint.node.rotation[0] == 0.0 and list(joint.axis[0]) == [0, 1, 0]
    limit, node = joint.limit, joint.node
    limit.lower = [-0.5]
    node.rotation = np.array([45.0, 0.0, 0.0])
    joint.dynamics.damping = 0.25
    assert joint.limit.lower == [-0.5] and joint.node.rotation[0] == 45.0 and joint.dynamics.damping == 0.25
    assert skeleton.joints[1].node is node

    joints, links = skeleton.joints, skeleton.links
    joints.pop()
    assert len(skeleton.joints) == len(joints) + 1
    skeleton.links = links[:1]
    assert [l.name for l in skeleton.links] == [links[0].name]
    r = skeleton.getRenderData()
    assert len(r.pos) == len(r.normal) == len(r.uv) == len(r.indices) > 0
    assert r.pos[0].shape == (3,) and r.uv[0].shape == (2,) and isinstance(r.indices[0], int)
    r.pos[0][0] = 99.0
    assert r.pos[0][0] != 99.0
    r.indices = [0, 1, 2]
    assert r.indices == [0, 1, 2]


# A link, a joint, a frame and a limit kept by a script outlive the body, world, simulator and skeleton
# they came from. Run apart: a dangling reference would take the interpreter down.
LIFETIME = """
import gc, sys
import numpy as np
sys.path.insert(0, {python!r})
import duzavod as dz
p = dz.simParam()
p.setup_mode = dz.SETUP_MODE.MANUAL
p.width, p.height, p.depth, p.N, p.l0p, p.u0p = 1.0, 0.5, 0.5, 10.0, 1.0, 1.0
skeleton = dz.skeletonFromFBX({fish!r}, 0)
body = dz.SkeletonDynamics(skeleton, 100)
world = dz.DartWorld(np.zeros(3))
world.addSkeleton(body)
sim = dz.simulator3D(p, 0)
sim.attachWorld(world)
sim.commitInit()
sim.step(dz.COUPLE_MODE.TWO_WAY)
links, joint, limit = body.getLinks(), body.getJoint("tail"), skeleton.joints[1].limit
frame, markers = links[1].getFrame(), body.getMarkers()
before = links[1].getPosition()
del sim, world, body, skeleton
gc.collect()
others = [dz.SkeletonDynamics(dz.skeletonFromFBX({fish!r}, 0), 100) for _ in range(3)]  # reuse freed memory
others[0].setRefFrame(frame)
others[0].update()
assert np.array_equal(links[1].getPosition(), before) and links[1].getMass() > 0
joint.setPosition(0, 0.1)
assert joint.getName() == "tail" and joint.getPositions()[0] == 0.1
assert limit.lower == [0.0] and markers.getMarkersPos() == []
for bodiless in (links[0], links[-1]):
    try:
        bodiless.getMass()
        raise SystemExit("a link without body answered getMass")
    except RuntimeError as e:
        assert "has no body" in str(e)
print("alive")
"""


def test_objects_handed_to_python_outlive_their_owners():
    script = LIFETIME.format(python=os.path.join(_build, "python"), fish=FISH)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert (run.returncode, run.stdout.split()[-1:]) == (0, ["alive"]), run.stderr


def edited(edit):
    skeleton = fish()
    edit(skeleton)
    return skeleton


def planar_axes(*axes):
    def edit(s):
        s.joints[1].type = dz.jointType.planar
        s.joints[1].axis = [np.array(a, float) for a in axes]
        s.joints[1].useLimits = False
    return edit


def tail(*settings):
    """The fish with settings of its tail joint changed: pairs of a name (dotted below limit and dynamics) and a
    value; its dynamics are used."""
    def edit(s):
        joint = s.joints[1]
        joint.useDynamics = True
        for field, value in zip(settings[::2], settings[1::2]):
            owner, _, name = field.rpartition(".")
            setattr(getattr(joint, owner) if owner else joint, name, value)
    return edited(edit)


def written_json(tmp, **changes):
    """The fish's skeleton file with top-level members changed."""
    import json
    path = str(tmp / "fish.json")
    dz.SkeletonToJson(path, fish())
    with open(path) as f:
        data = json.load(f)
    data.update(changes)
    with open(path, "w") as f:
        json.dump(data, f)
    return path


def trajectory(points):
    t = dz.make_trajectory()
    t.setPoints([np.array(p, float) for p in points])
    return t


def line(*vertices):
    result = dz.debugLine()
    result.vertices = [np.array(v, float) for v in vertices]
    return result


NEGATIVE, ONES = '"tail": %s must not be negative, not -1$', np.ones(3)

# What a script may hand over that would otherwise end the process or be taken silently: bad device ids,
# missing or unreadable files, NaN, negative, disordered or degenerate values for the dynamics library, keyword
# arguments the factories do not take.
SCRIPT_ERRORS = [
    (lambda tmp: dz.skeletonFromFBX(FISH, 1), ValueError, "gpuId 1 names no device"),
    (lambda tmp: dz.SkeletonDynamics(fish(), 100, -1), ValueError, "gpuId -1"),
    (lambda tmp: dz.simulator3D(dz.simParam(), 3), ValueError, "gpuId 3"),
    (lambda tmp: dz.SkeletonSystem(str(tmp / "missing.fbx"), 0), FileNotFoundError, "missing.fbx"),
    (lambda tmp: dz.skeletonFromFBX(str(tmp / "missing.fbx"), 0), FileNotFoundError, "missing.fbx"),
    (lambda tmp: dz.skeletonFromFBX(__file__, 0), RuntimeError, "test_module.py"),
    (lambda tmp: dz.skeletonFromJson(str(tmp / "missing.json"), 0), FileNotFoundError, "missing.json"),
    (lambda tmp: dz.skeletonFromJson(written_json(tmp, model_file=3), 0), RuntimeError,
     r'fish.json": \[json.exception.type_error.302\]'),
    (lambda tmp: dz.skeletonFromJson(written_json(tmp, model_file="none.fbx"), 0), FileNotFoundError, "none.fbx"),
    (lambda tmp: dz.SkeletonToJson(str(tmp / "no" / "x.json"), fish()), RuntimeError,
     'cannot write ".*x.json": No such file or directory'),
    (lambda tmp: dz.SkeletonToJson(str(tmp), fish()), RuntimeError, "cannot write .*: Is a directory"),
    (lambda tmp: dz.SkeletonToJson(str(tmp / "x.json"), None), ValueError, "no skeleton"),
    (lambda tmp: dz.SkeletonToJson(str(tmp / "a\0b.json"), fish()), ValueError, "NUL"),
    (lambda tmp: dz.SkeletonToJson(str(tmp / "x.json"), edited(lambda s: setattr(s.links[0], "mass", np.nan))),
     ValueError, r"/links/\[link\]body::tail/mass is nan, not a finite number"),
    (lambda tmp: setattr(fish(), "joints", [None]), ValueError, r"joints\[0\] is None"),
    (lambda tmp: dz.make_skeletonSystem(model_file=HIPS, gpuId=0), TypeError, "incompatible"),
    (lambda tmp: dz.make_skDynamics(fish()), TypeError, "incompatible"),
    (lambda tmp: dz.make_simulator(param=box(), gpuId=0), TypeError, "incompatible"),
    (lambda tmp: dz.make_skWorld(Gravity=np.zeros(3)), TypeError, "incompatible"),
    (lambda tmp: dz.make_controller(Kp=1.0, Kd=0.5, timestep=0.01), TypeError, "incompatible"),
    (lambda tmp: body(edited(lambda s: setattr(s.links[0], "mass", 0.0))), ValueError,
     r'link "\[link\]body::tail": mass = 0, below 1e-08'),
    (lambda tmp: body(edited(lambda s: setattr(s.links[1], "size", np.array([0.1, -1, 1])))), ValueError,
     "negative size"),
    (lambda tmp: body(edited(lambda s: setattr(s.joints[1], "axis", [np.zeros(3)]))), ValueError, "axis 0 is zero"),
    (lambda tmp: body(edited(planar_axes([1, 0, 0], [2, 0, 0]))), ValueError, "parallel"),
    (lambda tmp: body(tail("axis", [np.array([1e200, 0, 0])])), ValueError,
     r'"tail": axis 0 \(1e\+200, 0, 0\) is too short or too long'),
    (lambda tmp: body(tail("springStiffness", -1.0)), ValueError, NEGATIVE % "springStiffness"),
    (lambda tmp: body(tail("dynamics.damping", -1.0)), ValueError, NEGATIVE % "dynamics.damping"),
    (lambda tmp: body(tail("dynamics.friction", -1.0)), ValueError, NEGATIVE % "dynamics.friction"),
    (lambda tmp: body(tail("limit.lower", [1.0])), ValueError,
     r'"tail": limit.lower\[0\] = 1 is above limit.upper\[0\] = 0$'),
    (lambda tmp: body(tail("limit.velocity", [-1.0])), ValueError, NEGATIVE % r"limit.velocity\[0\]"),
    (lambda tmp: body(tail("limit.effort", [-1.0])), ValueError, NEGATIVE % r"limit.effort\[0\]"),
    (lambda tmp: body(tail("limit.lower", [1e308], "limit.upper", [1.7e308])), ValueError, "start it at 1.35e"),
    (lambda tmp: body(edited(lambda s: [setattr(s.links[1], "mass", 1e308), setattr(s.links[1], "size", 10 * ONES)])),
     ValueError, r'link "\[link\]tail::caudal": mass = 1e\+308, beyond 1e\+08'),
    (lambda tmp: body(edited(lambda s: setattr(s.joints[1].limit, "upper", [np.nan]))), ValueError,
     r"upper\[0\] is NaN"),
    (lambda tmp: body(dz.skeletonFromJson(written_json(tmp, baseLinkName="nowhere"), 0)), ValueError, '"nowhere"'),
    (lambda tmp: dz.SkeletonDynamics(fish(), 100, 0, np.array([np.nan, 0, 0])), ValueError,
     "translation must be finite"),
    (lambda tmp: body().setCommands(np.full(3, np.inf)), ValueError, "commands must be finite"),
    (lambda tmp: body().setCommands([1.0]), ValueError, "3 actuated"),
    (lambda tmp: body().setHead(np.zeros(3), np.array([np.nan, 0, 0])), ValueError, "target orientation"),
    (lambda tmp: body().getJoint("tail").setPosition(0, np.nan), ValueError, "setPosition"),
    (lambda tmp: body().getLinks()[1].applyForce(np.array([np.nan, 0, 0])), ValueError, "applyForce"),
    (lambda tmp: setattr(body(), "empirical_force_amplifier", -1.0), ValueError, "must not be negative, not -1$"),
    (lambda tmp: setattr(body(), "empirical_force_amplifier", np.inf), ValueError, "amplifier must be finite"),
    (lambda tmp: dz.DartWorld(np.array([0, np.nan, 0])), ValueError, "gravity"),
    (lambda tmp: dz.DartWorld().setTimestep(0.0), ValueError, "not positive"),
    (lambda tmp: dz.DartWorld().setTimestep(-1e-7), ValueError, "time step -1e-07 is not positive"),
    (lambda tmp: dz.DartWorld().setTimestep(1e-60), ValueError,
     r"time step 1e-60 does not fit a float \(it would become 0\)"),
    (lambda tmp: dz.DartWorld().getSkeleton(0), IndexError, "index 0"),
    (lambda tmp: dz.make_simulator(dz.simParam(), 0), ValueError, "dx = -1"),
    (lambda tmp: setattr(dz.simParam(), "pml_width", "three"), TypeError, "incompatible"),
    (lambda tmp: dz.PDControl1D(1.0, 1.0, 0.0), ValueError, "timestep"),
    (lambda tmp: dz.PDControl1D(1.0, 1.0, 0.1).feedback(1.0, 0.0), ValueError, "feedback: timestep 0 "),
    (lambda tmp: dz.make_trajectory().getPose(0.5), ValueError, "not fitted"),
    (lambda tmp: trajectory([(0, 0, 0)] * 3).fit(), ValueError, "at least 4"),
    (lambda tmp: trajectory([(0, 0, 0), (np.nan, 0, 0), (1, 1, 1), (1, 1, 1)]).fit(), ValueError, "way point 1"),
    (lambda tmp: trajectory([(0, 0, 0)] * 3).getReferencePose(np.zeros(3), 0), IndexError, ""),
    (lambda tmp: dz.make_trajectory().sample(-1), TypeError, "incompatible"),
    (lambda tmp: dz.VTKWriter.writeLines([line((0, np.inf, 0))], str(tmp / "bad.vtk")), ValueError, "not finite"),
    (lambda tmp: dz.VTKWriter.writeLines([], str(tmp / "a\0b.vtk")), ValueError, "NUL"),
    (lambda tmp: dz.VTKWriter.writeTrajectory(dz.make_trajectory(), str(tmp / "t.vtk")), ValueError, "not fitted"),
]


@pytest.mark.parametrize("call, error, match", SCRIPT_ERRORS)
def test_bad_script_input_raises_and_leaves_no_file(call, error, match, tmp_path, capfd):
    with pytest.raises(error, match=match):
        call(tmp_path)
    assert capfd.readouterr().out.count("success") == (tmp_path / "fish.json").exists()
    assert [p.name for p in tmp_path.iterdir()] in ([], ["fish.json"])


def test_a_diverged_fluid_raises_instead_of_reaching_the_dynamics():
    world = dz.DartWorld()
    world.addSkeleton(body())
    sim = dz.simulator3D(box(), 0)
    sim.attachWorld(world)
    sim.commitInit()
    sim.set_velocity(0.0, 0.0, 0.0, 1e30, 0.0, 0.0)  # finite, but far past any stable speed
    with pytest.raises(RuntimeError, match="is not finite: the fluid or the coupling has diverged"):
        for _ in range(5):
            sim.step(dz.COUPLE_MODE.TWO_WAY)
