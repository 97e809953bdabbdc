import gc
import json
import os

import numpy as np
import pytest

import duzavod

from conftest import _build

FISH = os.path.abspath(os.path.join(_build, "models", "fish.fbx"))


def fish():
    return duzavod.skeletonFromFBX(FISH, 0)


def pose(body):
    return [np.concatenate([l.getPosition(), l.getRotation()]) for l in body.getLinks()[1:-1]]


def test_property_values():
    body = duzavod.SkeletonDynamics(fish(), 100)
    assert body.baseLinkName == "" and body.beCollided is False
    assert body.empirical_force_amplifier == 1000.0
    body.empirical_force_amplifier = 5.0
    assert body.empirical_force_amplifier == 5.0


def test_constructor_defaults_and_the_factory_without_them():
    explicit = (5000, 0, np.zeros(3), np.ones(3), np.ones(3))
    bodies = [duzavod.SkeletonDynamics(fish()), duzavod.SkeletonDynamics(fish(), *explicit),
              duzavod.make_skDynamics(fish(), *explicit)]
    for body in bodies[1:]:
        np.testing.assert_array_equal(np.array(pose(body)), np.array(pose(bodies[0])))
    turned = duzavod.SkeletonDynamics(fish(), 100, 0, np.zeros(3), np.zeros(3))
    assert not np.allclose(pose(turned)[0][3:], pose(bodies[0])[0][3:])
    with pytest.raises(TypeError):
        duzavod.make_skDynamics(fish())


def test_link_and_joint_lists_are_new_lists_of_lasting_objects():
    body = duzavod.SkeletonDynamics(fish(), 100)
    links, again = body.getLinks(), body.getLinks()
    assert links is not again and all(a is b for a, b in zip(links, again))
    assert [l.getName() for l in links] == ["World", "[link]body::tail", "[link]tail::caudal",
                                           "[link]caudal::caudal_end", "simple_frame"]
    joints = body.getJoints()
    assert [j.getName() for j in joints] == ["body", "tail", "caudal"]
    assert body.getLink("nowhere") is None and body.getJoint("nowhere") is None
    assert body.getNumDofs() == 3 and len(body.getPositions(False)) == 2
    del body, again
    gc.collect()
    assert links[1].getMass() > 0 and joints[1].getNumDofs() == 1


def test_bad_values_are_value_errors(tmp_path):
    with pytest.raises(ValueError, match="3 actuated"):
        duzavod.SkeletonDynamics(fish(), 100).setCommands([1.0])
    path = str(tmp_path / "fish.json")
    duzavod.SkeletonToJson(path, fish())
    with open(path) as f:
        data = json.load(f)
    data["baseLinkName"] = "nowhere"
    with open(path, "w") as f:
        json.dump(data, f)
    with pytest.raises(ValueError, match='"nowhere"'):
        duzavod.SkeletonDynamics(duzavod.skeletonFromJson(path, 0), 100)
