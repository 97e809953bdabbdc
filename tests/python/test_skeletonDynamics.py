import pytest

import duzavod


def public(cls):
    return [name for name in vars(cls) if not name.startswith("_")]


@pytest.mark.parametrize("cls, methods", [
    (duzavod.skJoint, ["getJointType", "getName", "getNumDofs", "setCommand", "setForce", "setPositions",
                       "setPosition", "getPositions", "getVelocities", "setVelocity", "getAccelerations",
                       "setAcceleration", "getPositionLowerLimits", "getPositionUpperLimits",
                       "getForceLowerLimits", "getForceUpperLimits", "getVelocityLowerLimits",
                       "getVelocityUpperLimits"]),
    (duzavod.skLink, ["getMass", "getName", "getAngularVelocity", "getLinearVelocity", "getAngularAcceleration",
                      "getLinearAcceleration", "getPosition", "getRotation", "getFrame", "applyForce"]),
    (duzavod.skFrame, []),
])
def test_wrappers_have_their_methods_in_order_and_no_constructor(cls, methods):
    assert public(cls) == methods
    with pytest.raises(TypeError, match="No constructor defined!"):
        cls()


def test_link_force_docstring():
    assert "apply force to link" in duzavod.skLink.applyForce.__doc__
