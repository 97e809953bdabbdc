import pytest

import duzavod


def test_joint_type_members_values_and_order():
    assert list(duzavod.jointType.__members__) == ["revolute", "continuous", "prismatic", "fixed", "floating",
                                                   "planar", "ball", "universal"]
    assert [int(v) for v in duzavod.jointType.__members__.values()] == [1, 2, 3, 4, 5, 6, 7, 8]
    assert "invalid" not in duzavod.jointType.__members__


def test_actuator_type_has_no_velocity_member():
    assert list(duzavod.actuatorType.__members__) == ["force", "passive", "servo", "mimic", "acceleration", "locked"]
    assert int(duzavod.actuatorType.locked) == 6
    assert int(duzavod.actuatorType.acceleration) == 4
    assert "velocity" not in duzavod.actuatorType.__members__


def test_kinds_are_arithmetic_enums_reached_through_the_enum():
    assert duzavod.jointType.ball > duzavod.jointType.planar
    assert duzavod.jointType.revolute | duzavod.jointType.continuous == 3
    assert duzavod.actuatorType.servo == 2
    assert hash(duzavod.jointType.fixed) == hash(4)
    assert not hasattr(duzavod, "revolute")
    assert not hasattr(duzavod, "force")


def test_hierachy_node_has_no_constructor():
    with pytest.raises(TypeError, match="No constructor defined!"):
        duzavod.hierachyNode()
    assert isinstance(duzavod.hierachyNode.rotation, property)
    assert duzavod.hierachyNode.rotation.fset is not None
    assert callable(duzavod.hierachyNode.getWorldTrans)



@pytest.mark.parametrize("cls, writable, read_only, methods", [
    ("Limit", ["effort", "lower", "upper", "velocity"], [], []),
    ("Dynamics", ["friction", "damping"], [], []),
    ("SkeletonJoint", ["node", "limit", "dynamics", "useLimits", "useDynamics", "axis", "type", "actuator",
                       "springStiffness"], ["name"], []),
    ("SkeletonLink", ["size", "mass"], ["name"], ["getWorldTrans"]),
    ("Markers", [], [], ["getMarkersPos", "getMarkersNormal", "getMarkersPressure", "getMarkersVel"]),
])
def test_description_and_marker_classes(cls, writable, read_only, methods):
    c = getattr(duzavod, cls)
    with pytest.raises(TypeError, match="No constructor defined!"):
        c()
    for name in writable:
        assert getattr(c, name).fset is not None, name
    for name in read_only:
        assert getattr(c, name).fset is None, name
    for name in methods:
        assert callable(getattr(c, name)), name
