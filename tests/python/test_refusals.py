"""Each refusal of a script's values walked at its edges: every check for a finite value with NaN and both
infinities (or those of them it refuses), every value that enters the dynamics at its bound and just beyond it
too, every signed check with zero and the negative value nearest it, every index below its first and past its
last, every enum taken from a script with a value below its first member and one past its last."""
import json
import re

import numpy as np
import pytest

import duzavod as dz

from conftest import body, box, fish
from test_module import edited, line, tail, trajectory, written_json

NAN, INF = float("nan"), float("inf")
EDGES = (NAN, INF, -INF)


def at1(v):
    """(0, v, 0): the bad value in the middle of a vector."""
    return np.array([0.0, v, 0.0])


def rows(v):
    return np.array([at1(v)])


def record(field, **others):
    return lambda v, tmp: dz.simulator3D(box(**{field: v}, **others), 0)


def link(index, field, value):
    return edited(lambda s: setattr(s.links[index], field, value))


def committed(tmp):
    sim = dz.simulator3D(box(), 0)
    sim.attachWorld(dz.DartWorld())
    sim.commitInit()
    sim.mainDataFolderPath = str(tmp) + "/"
    return sim


def sampled():
    t = trajectory([(i, 0, 0) for i in range(6)])
    t.fit()
    t.sample(8)
    return t


def to_json(skeleton, tmp):
    dz.SkeletonToJson(str(tmp / "x.json"), skeleton)


TAIL_SETTERS = ["setCommand", "setForce", "setPosition", "setVelocity", "setAcceleration"]
NODE_EDITS = ["set_force", "set_velocity"]

# Name, call with the bad value, the message ("{}" stands for the value's text), the values refused.
FINITE = [
    *[(f, record(f), f + " = {} must be finite", EDGES) for f in ("x0", "y0", "z0")],
    *[(f, record(f), f + " = {} must be positive and finite", EDGES)
      for f in ("width", "height", "depth", "l0p", "N", "visp", "rou0p", "u0p")],
    ("dx", record("dx"), r"dx = {} differs from l0p / N", EDGES),
    ("GRAVITY dx", record("dx", setup_mode=dz.SETUP_MODE.GRAVITY), "dx = {} must be positive and finite", EDGES),
    ("u0k", record("u0k"), "u0k = {} must lie between 0 and", EDGES),
    ("slip_ratio", record("slip_ratio"), "slip_ratio = {} must not be negative", EDGES),

    *[("limit." + f, lambda v, tmp, f=f: body(tail("limit." + f, [v])), r'"tail": limit.%s\[0\] is NaN' % f, (NAN,))
      for f in ("lower", "upper", "velocity", "effort")],
    *[("limit." + f, lambda v, tmp, f=f: body(tail("limit." + f, [v])),
       r'"tail": limit.%s\[0\] must not be negative, not {}' % f, (-INF,)) for f in ("velocity", "effort")],
    ("limit.lower", lambda v, tmp: body(tail("limit.lower", [v])),
     r"limit.lower\[0\] = {} is above limit.upper\[0\] = 0", (INF,)),
    ("limit.upper", lambda v, tmp: body(tail("limit.upper", [v])),
     r"limit.lower\[0\] = 0 is above limit.upper\[0\] = {}", (-INF,)),
    ("axis", lambda v, tmp: body(tail("axis", [at1(v)])), r'"tail": axis 0 must be finite, not \(0, {}, 0\)', EDGES),
    *[(f + " point", lambda v, tmp, f=f: getattr(committed(tmp), f)(0, v, 0, 0, 0, 0),
       r"%s: the point must be finite, not \(0, {}, 0\)" % f, EDGES) for f in NODE_EDITS],
    *[(f + " value", lambda v, tmp, f=f: getattr(committed(tmp), f)(0, 0, 0, 0, v, 0),
       r"%s: the value must be finite, not \(0, {}, 0\)" % f, EDGES) for f in NODE_EDITS],
    *[(f + "_all positions", lambda v, tmp, f=f: getattr(committed(tmp), f + "_all")(rows(v), rows(0.0)),
       r"%s_all: positions row 0 must be finite, not \(0, {}, 0\)" % f, EDGES) for f in NODE_EDITS],
    *[(f + "_all " + what, lambda v, tmp, f=f: getattr(committed(tmp), f + "_all")(rows(0.0), rows(v)),
       r"%s_all: %s row 0 must be finite, not \(0, {}, 0\)" % (f, what), EDGES)
      for f, what in zip(NODE_EDITS, ("forces", "velocities"))],

    ("getPose", lambda v, tmp: sampled().getPose(v), "getPose: t must be a number, not nan", (NAN,)),
    ("getCurvature", lambda v, tmp: sampled().getCurvature(v), "getCurvature: t must be a number, not nan", (NAN,)),
    ("getReferencePose spline", lambda v, tmp: sampled().getReferencePose(at1(v)),
     r"getReferencePose: the position must be finite, not \(0, {}, 0\)", EDGES),
    ("getReferencePose window", lambda v, tmp: sampled().getReferencePose(at1(v), 0),
     r"getReferencePose: the position must be finite, not \(0, {}, 0\)", EDGES),
    ("getTargetPose", lambda v, tmp: sampled().getTargetPose(at1(v), 0, 5),
     r"getTargetPose: the position must be finite, not \(0, {}, 0\)", EDGES),
    ("PDControl1D", lambda v, tmp: dz.PDControl1D(1.0, 1.0, v), "PDControl1D: timestep {} is not finite and positive",
     EDGES),
    ("feedback", lambda v, tmp: dz.PDControl1D(1.0, 1.0, 0.1).feedback(1.0, v),
     "PDControl1D.feedback: timestep {} is not finite and positive", EDGES),
    ("writeLines", lambda v, tmp: dz.VTKWriter.writeLines([line((0, 0, 0), (0, v, 0))], str(tmp / "l.vtk")),
     r"writeLines: vertex 1 of line 0 \(0, {}, 0\) is not finite", EDGES),

    # JSON has no NaN or infinity: the writer would put null where the reader wants a number.
    ("json mass", lambda v, tmp: to_json(link(0, "mass", v), tmp),
     r"/links/\[link\]body::tail/mass is {}, not a finite number", EDGES),
    ("json size", lambda v, tmp: to_json(link(1, "size", at1(v)), tmp),
     r"/links/\[link\]tail::caudal/size/1 is {}, not a finite number", EDGES),
    *[("json " + f, lambda v, tmp, f=f: to_json(tail(f, v), tmp), "/joints/tail/%s is {}, not a finite number" % path,
       EDGES) for f, path in (("springStiffness", "springStiffness"), ("dynamics.damping", "dynamics/damping"),
                              ("dynamics.friction", "dynamics/friction"))],
    *[("json " + f, lambda v, tmp, f=f: to_json(tail("limit." + f, [v]), tmp),
       "/joints/tail/limit/%s/0 is {}, not a finite number" % f, EDGES)
      for f in ("lower", "upper", "velocity", "effort")],
    ("json axis", lambda v, tmp: to_json(tail("axis", [at1(v)]), tmp),
     "/joints/tail/axis/0/1 is {}, not a finite number", EDGES),
]


def text(value):
    """A value as the messages print it: the shortest text that reads back as the same number."""
    return str(value).removesuffix(".0")


def cases(table):
    return [pytest.param(call, match.replace("{}", re.escape(text(v))), v, id="%s-%s" % (name, v))
            for name, call, match, values in table for v in values]


@pytest.mark.parametrize("call, match, value", cases(FINITE))
def test_each_finite_value_check_refuses_nan_and_the_infinities(call, match, value, tmp_path, capfd):
    with pytest.raises(ValueError, match=match):
        call(value, tmp_path)
    assert list(tmp_path.iterdir()) == [] and "success" not in capfd.readouterr().out


def from_file(tmp, edit):
    """A fish body from its skeleton file, edited as a dict by edit."""
    path = written_json(tmp)
    with open(path) as f:
        data = json.load(f)
    edit(data)
    with open(path, "w") as f:
        json.dump(data, f)
    return body(dz.skeletonFromJson(path, 0))


def mimicking(tmp, multiplier=1.0, offset=0.0):
    """The fish from its skeleton file, its tail mimicking the body joint."""
    return from_file(tmp, lambda data: data["joints"]["tail"].update(
        actuator="mimic", mimic=dict(joint="body", multiplier=multiplier, offset=offset)))


def node_rotation(j, v):
    return body(edited(lambda s: setattr(s.joints[j].node, "rotation", at1(v))))


BOUND = 1e8  # on the magnitude of every value that enters the dynamics
BEYOND = (np.nextafter(BOUND, np.inf), -1e308, 1e308)
FLOAT_BEYOND = (100000008.0, 2.0 ** 100)  # 100000008 is the first float beyond the bound

# Every road by which a script's value enters the dynamics: name, call with the value, the message for NaN and
# the infinities ("{}" stands for the value's text; none where the road carries no such value), the name the
# refusal beyond the bound gives the value (none where no value beyond it can be made), the values beyond it.
BOUNDED = [
    *[(f, lambda v, tmp, f=f: getattr(body().getJoint("tail"), f)(0, v),
       'skJoint::%s: the value for "tail" must be finite, not {}' % f, 'skJoint::%s: the value for "tail"' % f, BEYOND)
      for f in TAIL_SETTERS],
    ("setPositions", lambda v, tmp: body().getJoint("tail").setPositions(np.array([v])),
     r'setPositions: the positions of "tail" must be finite, not \({}\)', 'setPositions: the positions of "tail"',
     BEYOND),
    ("applyForce", lambda v, tmp: body().getLinks()[1].applyForce(at1(v)),
     r'applyForce: the force on "\[link\]body::tail" must be finite, not \(0, {}, 0\)',
     'applyForce: the force on "[link]body::tail"', BEYOND),
    ("setCommands", lambda v, tmp: body().setCommands(at1(v)), r"setCommands: the commands must be finite, not \(0, {}",
     "setCommands: the commands", BEYOND),
    ("setHead position", lambda v, tmp: body().setHead(at1(v), np.ones(3)),
     r"setHead: the position must be finite, not \(0, {}", "setHead: the position", BEYOND),
    ("setHead orientation", lambda v, tmp: body().setHead(np.zeros(3), at1(v)),
     "setHead: the target orientation must be finite", "setHead: the target orientation", BEYOND),
    ("translation", lambda v, tmp: dz.SkeletonDynamics(fish(), 100, 0, at1(v), np.zeros(3)),
     r"skSystem: the translation must be finite, not \(0, {}, 0\)", "skSystem: the translation", BEYOND),
    ("rotation", lambda v, tmp: dz.SkeletonDynamics(fish(), 100, 0, np.zeros(3), at1(v)),
     r"skSystem: the rotation must be finite, not \(0, {}, 0\)", "skSystem: the rotation", BEYOND),
    ("scaling", lambda v, tmp: dz.SkeletonDynamics(fish(), 100, 0, np.zeros(3), np.zeros(3), at1(v)),
     r"skSystem: the scaling must be finite, not \(0, {}, 0\)", "skSystem: the scaling", BEYOND),
    # A rotation that is not finite spoils the root's node transform first; one beyond the bound, in degrees,
    # is still a rotation there, refused where the root is placed.
    ("body rotation", lambda v, tmp: node_rotation(0, v), '"body": the node transform must be finite',
     'the rotation of the root joint "body"', BEYOND),
    ("tail rotation", lambda v, tmp: node_rotation(1, v), '"tail": the node transform must be finite', None, ()),
    *[(f, lambda v, tmp, f=f: body(tail(f, v)), '"tail": %s must be finite, not {}' % f, '"tail": ' + f, BEYOND)
      for f in ("springStiffness", "dynamics.damping", "dynamics.friction")],
    # JSON has no NaN or infinity.
    ("mimic multiplier", lambda v, tmp: mimicking(tmp, multiplier=v), None, '"tail": the mimic multiplier', BEYOND),
    ("mimic offset", lambda v, tmp: mimicking(tmp, offset=v), None, '"tail": the mimic offset', BEYOND),
    ("amplifier", lambda v, tmp: setattr(body(), "empirical_force_amplifier", v),
     "empirical_force_amplifier must be finite, not {}", "empirical_force_amplifier", BEYOND),
    ("gravity", lambda v, tmp: dz.DartWorld(at1(v)), r"DartWorld: the gravity must be finite, not \(0, {}, 0\)",
     "DartWorld: the gravity", BEYOND),
    ("setGravity", lambda v, tmp: dz.DartWorld().setGravity(at1(v)), r"setGravity: the gravity must be finite",
     "setGravity: the gravity", BEYOND),
    ("setTimestep", lambda v, tmp: dz.DartWorld().setTimestep(v), "setTimestep: the time step must be finite, not {}",
     "setTimestep: the time step", FLOAT_BEYOND),
    ("fit", lambda v, tmp: trajectory([(0, 0, 0), (0, v, 0), (1, 1, 1), (2, 2, 2)]).fit(),
     r"fit: way point 1 \(0, {}, 0\) is not finite", "fit: way point 1", BEYOND),
]


def bounded_cases():
    params = []
    for name, call, finite, named, beyond in BOUNDED:
        def param(match, v):
            return pytest.param(call, match, v, id="%s-%s" % (name, v))
        params.append(param(None, BOUND))
        params += [param(finite.replace("{}", re.escape(text(v))), v) for v in (EDGES if finite else ())]
        params += [param(r"%s.*[ (]%s[,)].* beyond 1e\+08 in magnitude" % (re.escape(named), re.escape(text(v))), v)
                   for v in beyond]
    return params


@pytest.mark.parametrize("call, match, value", bounded_cases())
def test_each_value_entering_the_dynamics_is_finite_and_keeps_to_one_bound(call, match, value, tmp_path):
    if match is None:
        call(value, tmp_path)
        return
    with pytest.raises(ValueError, match=match):
        call(value, tmp_path)


FIN, LEAST_MASS = "[link]caudal::caudal_end", 1 / BOUND
# A link's mass keeps between the inverse of the bound and the bound, its size within the bound: a force within
# the bound would accelerate a lighter link beyond 1e16 (near 1e-300 DART's step ends the process), and a gravity
# within it would pull a heavier one beyond 1e16. Values, and whether a body takes them.
LINK_VALUES = [("mass", v, v in (LEAST_MASS, BOUND)) for v in (
    np.nan, np.inf, -np.inf, -1.0, -5e-324, 0.0, 5e-324, 1e-300, np.nextafter(LEAST_MASS, 0), LEAST_MASS, BOUND,
    np.nextafter(BOUND, np.inf), 1e300)] + [("size", v, 0 <= v <= BOUND) for v in (
    np.nan, np.inf, -np.inf, -1.0, -5e-324, 0.0, 5e-324, BOUND, np.nextafter(BOUND, np.inf), 1e300)]
# The roads by which they reach a body: the description's link, and its skeleton file (which holds no NaN).
LINK_ROADS = {
    "link": lambda tmp, field, v: body(edited(lambda s: setattr(
        next(link for link in s.links if link.name == FIN), field, v))),
    "file": lambda tmp, field, v: from_file(tmp, lambda data: data["links"][FIN].update({field: v})),
}


@pytest.mark.parametrize("road, field, v, accepted", [
    pytest.param(road, field, v, accepted, id=f"{road}-{field}-{v!r}") for road in LINK_ROADS
    for field, v, accepted in LINK_VALUES if road == "link" or np.isfinite(v)])
def test_a_link_mass_and_size_keep_within_the_bound(road, field, v, accepted, tmp_path):
    value = v if field == "mass" else [0.09, v, 0.02]
    if not accepted:
        text = re.escape(", ".join(repr(float(x)).removesuffix(".0") for x in np.atleast_1d(value)))
        with pytest.raises(ValueError, match=rf'link "{re.escape(FIN)}": {field}\b.*[ (]{text}([,)]|$)'):
            LINK_ROADS[road](tmp_path, field, value)
        return
    fin = next(link for link in LINK_ROADS[road](tmp_path, field, value).getLinks() if link.getName() == FIN)
    assert field == "size" or fin.getMass() == v


TINY, TINY32 = 5e-324, 1e-45  # the smallest doubles and floats above zero

# Signed checks walked at zero: the negative value nearest it, and zero itself where zero is refused too
# (so that a check slipped to "below -1" or "not above -1" shows). Float fields take TINY32.
SIGNED = [
    *[(f, record(f), f + " = {} must be positive and finite", (0.0, -TINY32))
      for f in ("width", "height", "depth", "l0p", "N", "visp", "rou0p", "u0p")],
    ("GRAVITY dx", record("dx", setup_mode=dz.SETUP_MODE.GRAVITY), "dx = {} must be positive and finite",
     (0.0, -TINY32)),
    ("u0k", record("u0k"), "u0k = {} must lie between 0 and", (0.0, -TINY32)),
    ("slip_ratio", record("slip_ratio"), "slip_ratio = {} must not be negative", (-TINY32,)),
    *[(f, lambda v, tmp, f=f: body(tail(f, v)), '"tail": %s must not be negative, not {}' % f, (-TINY,))
      for f in ("springStiffness", "dynamics.damping", "dynamics.friction")],
    *[(f, lambda v, tmp, f=f: body(tail("limit." + f, [v])), r'"tail": limit.%s\[0\] must not be negative, not {}' % f,
       (-TINY,)) for f in ("velocity", "effort")],
    ("limit.lower", lambda v, tmp: body(tail("limit.lower", [v])),
     r"limit.lower\[0\] = {} is above limit.upper\[0\] = 0", (TINY,)),
    ("amplifier", lambda v, tmp: setattr(body(), "empirical_force_amplifier", v),
     "empirical_force_amplifier must not be negative, not {}", (-TINY,)),
    ("setTimestep", lambda v, tmp: dz.DartWorld().setTimestep(v), "setTimestep: the time step {} is not positive",
     (0.0, -TINY32)),
    ("PDControl1D", lambda v, tmp: dz.PDControl1D(1.0, 1.0, v), "PDControl1D: timestep {} is not finite and positive",
     (0.0, -TINY)),
    ("feedback", lambda v, tmp: dz.PDControl1D(1.0, 1.0, 0.1).feedback(1.0, v),
     "PDControl1D.feedback: timestep {} is not finite and positive", (0.0, -TINY)),
    ("sampleNum", lambda v, tmp: dz.SkeletonDynamics(fish(), v), r"sampleNum {} outside \[0, ", (-1,)),
    ("sample", lambda v, tmp: body().sample(v), r"sampleNum {} outside \[0, ", (-1,)),
    ("frame_rate", lambda v, tmp: committed(tmp).getIterPerSave(v), "frame_rate must be positive, got {}", (0, -1)),
    # The smallest u0k a record takes makes a lattice step so short that a frame holds no int of them.
    ("steps per frame", lambda v, tmp: dz.simulator3D(box(u0k=v), 0).getIterPerSave(30),
     r"getIterPerSave: the units give no finite number of steps per frame \(N = 4", (TINY32,)),
    ("pml_width", record("pml_width"), "pml_width = {} must not be negative", (-1,)),
]


@pytest.mark.parametrize("call, match, value", cases(SIGNED))
def test_each_signed_check_refuses_the_values_nearest_its_bound(call, match, value, tmp_path):
    with pytest.raises(ValueError, match=match):
        call(value, tmp_path)


def world_of_one():
    world = dz.DartWorld()
    world.addSkeleton(body())
    return world


# Indices walked below the first and past the last (the module takes unsigned ones as such: -1 is a TypeError).
INDICES = [
    *[(f, lambda v, tmp, f=f: getattr(committed(tmp), f)(0, 0, 0, 0, 0, 0, v),
       "%s: scale {} names no lattice; there are 1" % f, (-1, 1)) for f in NODE_EDITS],
    *[(f + "_all", lambda v, tmp, f=f: getattr(committed(tmp), f + "_all")(rows(0.0), rows(0.0), v),
       "%s_all: scale {} names no lattice; there are 1" % f, (-1, 1)) for f in NODE_EDITS],
    ("dismissinlet", lambda v, tmp: committed(tmp).dismissinlet(v), "dismissinlet: scale {} names no lattice", (-1, 1)),
    *[(f, lambda v, tmp, f=f: getattr(body().getJoint("tail"), f)(v, 0.0),
       'skJoint::%s: index {} is not below the 1 degrees of freedom of "tail"' % f, (1,)) for f in TAIL_SETTERS],
    ("getSkeleton", lambda v, tmp: world_of_one().getSkeleton(v), "getSkeleton: index {} is out of range", (1,)),
]


@pytest.mark.parametrize("call, match, value", cases(INDICES))
def test_each_index_refuses_values_outside_its_range(call, match, value, tmp_path):
    with pytest.raises(IndexError, match=match):
        call(value, tmp_path)


def root_kind(kind):
    return edited(lambda s: setattr(s.joints[0], "type", kind))


def tail_actuator(kind):
    return edited(lambda s: setattr(s.joints[1], "actuator", kind))


def kind_of_a_built_joint(kind):
    skeleton = fish()
    built = body(skeleton)
    skeleton.joints[1].type = kind  # the description edited under the living body
    return built.getJoint("tail").getJointType()


# Enums as a script can make them from any integer, each walked below its first member and past its last
# (jointType 0 and actuatorType 5 have no Python member but are native values).
ENUMS = [
    ("SETUP_MODE simulator3D", lambda v, tmp: dz.simulator3D(box(setup_mode=dz.SETUP_MODE(v)), 0),
     r"setup_mode = {} names no set-up mode \(MANUAL 0, GRAVITY 1\)", (-1, 2)),
    ("SETUP_MODE get_tp", lambda v, tmp: box(setup_mode=dz.SETUP_MODE(v)).get_tp(),
     "setup_mode = {} names no set-up mode", (-1, 2)),
    ("COUPLE_MODE", lambda v, tmp: committed(tmp).step(dz.COUPLE_MODE(v)),
     r"couple_mode {} names no coupling mode \(TWO_WAY 0, ONE_WAY 1, NO_FLUID 2, EMPIRICAL 3\)", (-1, 4)),
    ("SAVE_FLAG", lambda v, tmp: committed(tmp).saveScene(0, dz.SAVE_FLAG(v)),
     r"save_flags {} is no combination of SAVE_FLAG members \(BODY 1, FLUID 2\)", (-1, 4)),
    ("jointType root", lambda v, tmp: body(root_kind(dz.jointType(v))),
     'the root joint "body" makes no DART joint', (-1, 0, 9)),
    ("jointType SkeletonToJson", lambda v, tmp: to_json(root_kind(dz.jointType(v)), tmp),
     r"jointType value {} is outside 0\.\.8", (-1, 9)),
    ("jointType getJointType", lambda v, tmp: kind_of_a_built_joint(dz.jointType(v)),
     r"jointType value {} is outside 0\.\.8", (-1, 9)),
    ("actuatorType build", lambda v, tmp: body(tail_actuator(dz.actuatorType(v))),
     r'"tail": actuator {} names no actuator kind \(force 0 to locked 6\)', (-1, 7)),
    ("actuatorType SkeletonToJson", lambda v, tmp: to_json(tail_actuator(dz.actuatorType(v)), tmp),
     r"actuatorType value {} is outside 0\.\.6", (-1, 7)),
]


@pytest.mark.parametrize("call, match, value", cases(ENUMS))
def test_each_enum_refuses_values_outside_its_members(call, match, value, tmp_path, capfd):
    with pytest.raises(ValueError, match=match):
        call(value, tmp_path)
    assert list(tmp_path.iterdir()) == [] and "success" not in capfd.readouterr().out
