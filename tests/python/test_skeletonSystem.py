import os

import numpy as np
import pytest

import duzavod

from conftest import _build

MODELS = os.path.abspath(os.path.join(_build, "models"))
HIPS = os.path.join(MODELS, "hips.fbx")


def test_three_ways_to_build_and_the_factory_takes_positional_arguments_only():
    built = [duzavod.SkeletonSystem(model_file=HIPS, gpuId=0), duzavod.make_skeletonSystem(HIPS, 0),
             duzavod.skeletonFromFBX(fbx_name=HIPS, gpuId=0)]
    assert len({tuple(j.name for j in s.joints) for s in built}) == 1
    with pytest.raises(TypeError):
        duzavod.make_skeletonSystem(model_file=HIPS, gpuId=0)


def test_lists_are_copies_and_reject_none():
    s = duzavod.skeletonFromFBX(HIPS, 0)
    joints, links = s.joints, s.links
    joints.pop()
    assert len(s.joints) == len(joints) + 1
    assert s.joints[0] is not None and s.links[0].name == links[0].name
    s.links = links[:1]
    assert [l.name for l in s.links] == [links[0].name]
    with pytest.raises(ValueError, match="joints"):
        s.joints = [None]


def test_render_data_is_a_snapshot_of_copies():
    s = duzavod.skeletonFromFBX(HIPS, 0)
    s.update(False, False)
    r = s.getRenderData()
    assert len(r.pos) == len(r.normal) == len(r.uv) == len(r.indices) > 0
    assert r.pos[0].shape == (3,) and r.uv[0].shape == (2,) and isinstance(r.indices[0], int)
    r.pos[0][0] = 99.0
    assert r.pos[0][0] != 99.0
    r.indices = [0, 1, 2]
    assert r.indices == [0, 1, 2]


def test_json_round_trip_prints_success(tmp_path, capfd):
    path = str(tmp_path / "hips.json")
    duzavod.SkeletonToJson(json_name=path, skeleton=duzavod.skeletonFromFBX(HIPS, 0))
    assert capfd.readouterr().out == '[ Process]Generate json success at "%s"\n' % path
    s = duzavod.skeletonFromJson(json_name=path, gpuId=0)
    assert {j.name for j in s.joints} >= {"Hips", "Spine"}


def test_errors_reach_python(tmp_path, capfd):
    missing = str(tmp_path / "missing.fbx")
    for build in (duzavod.SkeletonSystem, duzavod.make_skeletonSystem, duzavod.skeletonFromFBX):
        with pytest.raises(FileNotFoundError, match="missing.fbx"):
            build(missing, 0)
    junk = tmp_path / "junk.fbx"
    junk.write_text("not a model")
    with pytest.raises(RuntimeError, match="junk.fbx"):
        duzavod.skeletonFromFBX(str(junk), 0)
    with pytest.raises(FileNotFoundError, match="missing.json"):
        duzavod.skeletonFromJson(str(tmp_path / "missing.json"), 0)
    bad = tmp_path / "bad.json"
    bad.write_text('{"model_file": 3}')
    with pytest.raises(RuntimeError):
        duzavod.skeletonFromJson(str(bad), 0)
    bad.write_text('{"model_file": "missing.fbx"}')
    with pytest.raises(FileNotFoundError):
        duzavod.skeletonFromJson(str(bad), 0)
    s = duzavod.skeletonFromFBX(HIPS, 0)
    capfd.readouterr()
    for path in (str(tmp_path / "no" / "x.json"), str(tmp_path)):
        with pytest.raises(RuntimeError, match="cannot write"):
            duzavod.SkeletonToJson(path, s)
    with pytest.raises(ValueError):
        duzavod.SkeletonToJson(str(tmp_path / "x.json"), None)
    assert capfd.readouterr().out == ""
    assert sorted(os.listdir(tmp_path)) == ["bad.json", "junk.fbx"]
