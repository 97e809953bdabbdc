"""The tools as Python sees them: factories, argument defaults and names, copies, errors."""
import numpy as np
import pytest

import duzavod


def trajectory(n, samples=0):
    """Way points (i, 0, 0), i < n; with eleven points, sixteen samples sit at x = 1, 1.5, ..., 8.5 exactly."""
    t = duzavod.make_trajectory()
    t.setPoints([np.array([float(i), 0.0, 0.0]) for i in range(n)])
    t.fit()
    if samples:
        t.sample(samples)
    return t


def test_factories_class_hierarchy_and_copies():
    assert isinstance(duzavod.make_trajectory(), duzavod.poseTrajectory)
    assert issubclass(duzavod.poseTrajectory, duzavod.trajectory3d)
    p = duzavod.make_tpPoint()
    assert isinstance(p, duzavod.trajectoryPoint3d) and list(p.getPosition()) == [0, 0, 0]
    q = duzavod.trajectoryPoint3d()
    q.data[0] = 5.0  # a read is a copy
    assert list(q.data) == [0, 0, 0]
    line = duzavod.debugLine()
    line.vertices = [np.zeros(3), np.ones(3)]
    first = line.vertices[0]
    line.vertices = []  # a vertex read earlier is a copy that stays valid
    first[0] = 9.0
    assert first[0] == 9.0 and line.vertices == []


def test_controller_arguments_and_defaults():
    with pytest.raises(TypeError):
        duzavod.make_controller(Kp=1.0, Kd=0.5, timestep=0.01)  # factory arguments are positional
    for pd in (duzavod.make_controller(2.0, 0.5, 0.1), duzavod.PDControl1D(Kp=2.0, Kd=0.5, timestep=0.1)):
        pd.set_value(1.0)
        pd.set_dvalue(3.0)
        assert pd.feedback(value=0.2, timestep=0.1) == pytest.approx(0.8 * 2 + (3 - 2) * 0.5, abs=1e-12)
        pd.set_value()  # no argument: the targets become 0
        pd.set_dvalue()
        assert pd.feedback(0.2, 0.1) == pytest.approx(-0.4, abs=1e-12)
    with pytest.raises(ValueError, match="timestep"):
        duzavod.PDControl1D(1.0, 1.0, 0.0)


def test_window_queries_take_the_index_by_value_and_look_ten_segments_ahead():
    t = trajectory(11, 16)
    idx = 0
    target = t.getTargetPose(np.array([2.2, 0.3, 0.0]), idx, 5)  # between samples 2 and 3
    assert idx == 0 and t.getLastIdx() == 2
    assert list(target.getPosition()) == [2.5, 0.0, 0.0] == list(target.data)
    t.getTargetPose(position=np.array([2.2, 0.3, 0.0]), preSampleIdx=4, look_forward=5)
    assert t.getLastIdx() == 4
    assert t.getReferencePose(np.array([2.25, 1.0, 0.0])) == 2 / 16  # the nearest sample, first of two
    far = np.array([6.2, 0.0, 0.0])  # in segment 10: a window of ten segments from 0 stops at sample 10
    assert t.getReferencePose(far, 0) == 10 / 16
    assert t.getReferencePose(far, 0, 11) == pytest.approx(10.4 / 16, abs=1e-12)
    np.testing.assert_allclose(t.getCurvature(0.5), [0, 0, 0], atol=1e-6)
    doc = duzavod.poseTrajectory.getReferencePose.__doc__
    assert "Get Pose t using spline" in doc and "Get Pose t using samples within lookforward range" in doc


def test_errors_become_python_exceptions(tmp_path):
    t = duzavod.make_trajectory()
    with pytest.raises(ValueError, match="not fitted"):
        t.getPose(0.5)
    t.setPoints([np.zeros(3)] * 3)
    with pytest.raises(ValueError, match="at least 4"):
        t.fit()
    t.setPoints([np.zeros(3), np.array([np.nan, 0, 0]), np.ones(3), np.ones(3)])
    with pytest.raises(ValueError, match="way point 1"):
        t.fit()
    with pytest.raises(IndexError):
        t.getReferencePose(np.zeros(3), 0)
    with pytest.raises(TypeError):
        t.sample(-1)
    s = trajectory(11, 16)
    with pytest.raises(IndexError, match="last"):
        s.getTargetPose(np.array([20.0, 0, 0]), 12, 10)
    with pytest.raises(IndexError, match="past"):
        s.getReferencePose(np.zeros(3), 16)
    line = duzavod.debugLine()
    line.vertices = [np.array([0.0, np.inf, 0])]
    with pytest.raises(ValueError, match="not finite"):
        duzavod.VTKWriter.writeLines([line], str(tmp_path / "bad.vtk"))
    with pytest.raises(ValueError, match="NUL"):
        duzavod.VTKWriter.writeLines([], str(tmp_path / "a\0b.vtk"))
    with pytest.raises(ValueError, match="not fitted"):
        duzavod.VTKWriter.writeTrajectory(duzavod.make_trajectory(), str(tmp_path / "t.vtk"))
    assert duzavod.VTKWriter.writeTrajectory(trajectory=s, file_path=str(tmp_path / "no" / "t.vtk")) is False
    assert list(tmp_path.iterdir()) == []
