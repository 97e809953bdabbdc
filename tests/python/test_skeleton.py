"""Skeleton systems and bodies as Python sees them: the ways to build them, argument names and defaults,
the JSON files, and the lists of links and joints."""
import gc
import json
import os
import re
import stat
import subprocess

import numpy as np
import pytest

import duzavod as dz

from conftest import FISH, HIPS, box, fish


def test_three_ways_to_build_a_skeleton_and_its_json_file(tmp_path, capfd):
    built = [dz.SkeletonSystem(model_file=HIPS, gpuId=0), dz.make_skeletonSystem(HIPS, 0),
             dz.skeletonFromFBX(fbx_name=HIPS, gpuId=0)]
    assert len({tuple(j.name for j in s.joints) for s in built}) == 1
    path = str(tmp_path / "hips.json")
    built[0].joints[1].springStiffness = 2.5
    dz.SkeletonToJson(json_name=path, skeleton=built[0])
    assert capfd.readouterr().out == '[ Process]Generate json success at "%s"\n' % path
    back = dz.skeletonFromJson(json_name=path, gpuId=0)
    assert [j.name for j in back.joints] == [j.name for j in built[0].joints]
    assert back.joints[1].springStiffness == 2.5


def test_a_skeleton_file_is_written_through_a_link_and_one_nested_too_deep_is_refused(tmp_path):
    target, link = tmp_path / "target.json", tmp_path / "link.json"
    target.write_text("{}")
    target.chmod(0o600)
    link.symlink_to(target)
    dz.SkeletonToJson(str(link), fish())
    assert link.is_symlink() and json.loads(target.read_text())["model_file"] == FISH
    assert stat.S_IMODE(target.stat().st_mode) == 0o600
    target.write_text(target.read_text().replace('"markers_placements": []',
                                                 '"markers_placements": ' + "[" * 200000 + "]" * 200000))
    with pytest.raises(RuntimeError, match=re.escape('"%s": values nest deeper than 16 levels' % target)):
        dz.skeletonFromJson(str(target), 0)


# What only the module's translation shows: a file's bytes that are no UTF-8 in the message, and folder names
# holding NUL refused as they are set.
READ_ERRORS = [
    (lambda tmp: (tmp / "bad.json").write_bytes(b'{"model_file": "\xff"}')
     and dz.skeletonFromJson(str(tmp / "bad.json"), 0),
     RuntimeError, r"""bad.json": .*ill-formed UTF-8 byte; last read: '"\\xff'$"""),
] + [(lambda tmp, field=field: setattr(dz.simulator3D(box(), 0), field, "a\0b/"), ValueError,
      r'^%s "a\\0b/" holds a NUL character$' % field)
     for field in ("mainDataFolderPath", "fluidFolderName", "objectsFolderName")]


@pytest.mark.parametrize("call, error, match", READ_ERRORS)
def test_bad_bytes_and_folder_names_raise_naming_them(call, error, match, tmp_path):
    with pytest.raises(error, match=match):
        call(tmp_path)


def test_a_skeleton_file_on_a_pipe_is_read_once_its_writer_writes(tmp_path):
    source, pipe = tmp_path / "fish.json", tmp_path / "pipe.json"
    dz.SkeletonToJson(str(source), fish())
    os.mkfifo(pipe)
    writer = subprocess.Popen(["sh", "-c", 'cat "$0" > "$1"', str(source), str(pipe)])
    assert [j.name for j in dz.skeletonFromJson(str(pipe), 0).joints] == ["body", "tail", "caudal", "caudal_end"]
    assert writer.wait(timeout=60) == 0


def pose(body):
    return [np.concatenate([l.getPosition(), l.getRotation()]) for l in body.getLinks()[1:-1]]


def test_body_defaults_and_properties():
    explicit = (5000, 0, np.zeros(3), np.ones(3), np.ones(3))
    bodies = [dz.SkeletonDynamics(fish()), dz.SkeletonDynamics(fish(), *explicit), dz.make_skDynamics(fish(), *explicit)]
    for body in bodies[1:]:
        np.testing.assert_array_equal(np.array(pose(body)), np.array(pose(bodies[0])))
    turned = dz.SkeletonDynamics(fish(), 100, 0, np.zeros(3), np.zeros(3))
    assert not np.allclose(pose(turned)[0][3:], pose(bodies[0])[0][3:])
    body = bodies[0]
    assert body.baseLinkName == "" and body.beCollided is False and body.empirical_force_amplifier == 1000.0
    body.empirical_force_amplifier = 5.0
    assert body.empirical_force_amplifier == 5.0


def test_link_and_joint_lists_are_new_lists_of_lasting_objects():
    body = dz.SkeletonDynamics(fish(), 100)
    links, again = body.getLinks(), body.getLinks()
    assert links is not again and all(a is b for a, b in zip(links, again))
    assert [l.getName() for l in links] == ["World", "[link]body::tail", "[link]tail::caudal",
                                           "[link]caudal::caudal_end", "simple_frame"]
    joints = body.getJoints()
    assert [j.getName() for j in joints] == ["body", "tail", "caudal"]
    assert body.getLink("nowhere") is None and body.getJoint("nowhere") is None
    assert body.getNumDofs() == 3 and len(body.getPositions(includeBase=False)) == 2
    del body, again
    gc.collect()
    assert links[1].getMass() > 0 and joints[1].getNumDofs() == 1


def test_a_description_serves_one_living_body():
    """A body writes its pose into its description's nodes and mesh: a second body from it would move the first."""
    skeleton = fish()
    first = dz.SkeletonDynamics(skeleton, 100)
    with pytest.raises(ValueError, match=r"used by a living body.*load the description again"):
        dz.SkeletonDynamics(skeleton, 100)
    dz.SkeletonDynamics(fish(), 100)  # the same model loaded again
    del first
    gc.collect()
    dz.SkeletonDynamics(skeleton, 100)  # free again
