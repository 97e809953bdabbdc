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


def test_factories_class_hierarchy_and_point_data():
    assert isinstance(duzavod.make_trajectory(), duzavod.trajectory3d)
    assert isinstance(duzavod.make_trajectory(), duzavod.poseTrajectory)
    p = duzavod.make_tpPoint()
    assert isinstance(p, duzavod.trajectoryPosePoint3d) and isinstance(p, duzavod.trajectoryPoint3d)
    assert list(p.getPosition()) == [0, 0, 0] and list(p.getOrientation()) == [0, 0, 0]
    q = duzavod.trajectoryPoint3d()
    q.data[0] = 5.0  # a read is a copy
    assert list(q.data) == [0, 0, 0]
    q.data = np.array([1.0, 2.0, 3.0])
    assert list(q.data) == [1, 2, 3]
    with pytest.raises(TypeError):
        q.data = np.array([1.0, 2.0])


def test_controller_entries_defaults_and_reset():
    with pytest.raises(TypeError):
        duzavod.make_controller(Kp=1.0, Kd=0.5, timestep=0.01)  # factory arguments are positional
    for pd in (duzavod.PDControl1D(2.0, 0.5, 0.1), duzavod.make_controller(2.0, 0.5, 0.1),
               duzavod.PDControl1D(Kp=2.0, Kd=0.5, timestep=0.1)):
        pd.set_value(1.0)
        assert pd.feedback(0.2, 0.1) == pytest.approx(0.6, abs=1e-12)
        assert pd.feedback(value=0.2, timestep=0.1) == pytest.approx(1.6, abs=1e-12)
        pd.set_dvalue(3.0)
        assert pd.feedback(0.2, 0.1) == pytest.approx(1.6 + 1.5, abs=1e-12)
        pd.set_value()  # no argument: the targets become 0
        pd.set_dvalue()
        assert pd.feedback(0.2, 0.1) == pytest.approx(-0.4, abs=1e-12)
        pd.reset()
        assert pd.feedback(0.3, 0.05) == pytest.approx(-0.3 * 2.0 - (0.3 / 0.05) * 0.5, abs=1e-12)


def test_index_argument_is_passed_by_value():
    t = trajectory(11, 16)
    x = np.array([2.2, 0.3, 0.0])  # projects between samples 2 and 3
    idx = 0
    target = t.getTargetPose(x, idx, 5)
    assert idx == 0 and t.getLastIdx() == 2
    assert isinstance(target, duzavod.trajectoryPosePoint3d)
    assert list(target.getPosition()) == [2.5, 0.0, 0.0] == list(target.data)
    target = t.getTargetPose(position=x, preSampleIdx=4, look_forward=5)  # the index never falls back
    assert t.getLastIdx() == 4 and target.getPosition()[0] == 3.5


def test_reference_pose_overloads_and_the_look_forward_default():
    t = trajectory(11, 16)
    assert t.getReferencePose(np.array([2.25, 1.0, 0.0])) == 2 / 16  # first of two equal distances
    assert t.getLastIdx() == 0
    # X in segment 10: a window of ten segments from 0 stops at sample 10, eleven reach the segment.
    far = np.array([6.2, 0.0, 0.0])
    assert t.getReferencePose(far, 0) == 10 / 16
    assert t.getLastIdx() == 10
    assert t.getReferencePose(far, 0, 11) == pytest.approx(10.4 / 16, abs=1e-12)  # 0.4 of segment 10 covered
    assert t.getReferencePose(far, 3) == pytest.approx(10.4 / 16, abs=1e-12)  # windowed, not nearest
    doc = duzavod.poseTrajectory.getReferencePose.__doc__
    assert "Get Pose t using spline" in doc and "Get Pose t using samples within lookforward range" in doc


def test_pose_and_curvature():
    t = trajectory(6)
    assert t.getSampleNum() == 0
    # t = 0.5 is u = 1.5 for the pose (segment 1, s = 0.5) but u = 0.5 for the curvature (segment 0).
    np.testing.assert_allclose(t.getPose(0.5).getPosition(), [2.5, 0, 0], atol=1e-6)
    np.testing.assert_allclose(t.getPose(0.5).getOrientation(), [1, 0, 0], atol=1e-6)
    np.testing.assert_allclose(t.getCurvature(0.5), [0, 0, 0], atol=1e-6)


def test_errors_become_python_exceptions():
    t = duzavod.make_trajectory()
    with pytest.raises(ValueError, match="not fitted"):
        t.getPose(0.5)
    with pytest.raises(ValueError, match="not fitted"):
        t.sample(10)
    t.setPoints([np.zeros(3)] * 3)
    with pytest.raises(ValueError, match="at least 4"):
        t.fit()
    with pytest.raises(IndexError):
        t.getReferencePose(np.zeros(3), 0)
    assert np.isnan(t.getReferencePose(np.zeros(3)))
    with pytest.raises(TypeError):
        t.sample(-1)
    s = trajectory(11, 16)
    with pytest.raises(IndexError, match="last"):
        s.getTargetPose(np.array([20.0, 0, 0]), 12, 10)
    with pytest.raises(IndexError, match="past"):
        s.getReferencePose(np.zeros(3), 16)
    assert s.getLastIdx() == 0
    s.setPoints([np.zeros(3), np.array([np.nan, 0, 0]), np.ones(3), np.ones(3)])
    with pytest.raises(ValueError, match="way point 1"):
        s.fit()
    with pytest.raises(ValueError, match="timestep"):
        duzavod.PDControl1D(1.0, 1.0, 0.0)


def test_writers(tmp_path):
    line = duzavod.debugLine()
    assert line.vertices == []
    line.vertices = [np.array([0.0, 0, 0]), np.array([1.0, 0, 0]), np.array([1.0, 1, 0])]
    first = line.vertices[0]
    first[0] = 9.0  # a read is a copy, and stays valid when the list is replaced
    line.vertices = line.vertices[:1]
    assert first[0] == 9.0 and line.vertices[0][0] == 0.0
    path = tmp_path / "lines.vtk"
    assert duzavod.VTKWriter.writeLines([line], str(path)) is True
    assert path.read_text().endswith("POINTS 1 double\n0.0000 0.0000 0.0000\nLINES 1 2\n1 0\n\n")
    assert duzavod.VTKWriter.writeLines([line], str(tmp_path / "missing" / "lines.vtk")) is False
    line.vertices = [np.array([0.0, np.inf, 0])]
    with pytest.raises(ValueError, match="not finite"):
        duzavod.VTKWriter.writeLines([line], str(tmp_path / "bad.vtk"))
    with pytest.raises(ValueError, match="NUL"):
        duzavod.VTKWriter.writeLines([], str(tmp_path / "a\0b.vtk"))
    assert not (tmp_path / "bad.vtk").exists() and not (tmp_path / "a").exists()

    with pytest.raises(ValueError):
        duzavod.VTKWriter.writeTrajectory(duzavod.make_trajectory(), str(tmp_path / "t.vtk"))
    out = tmp_path / "t.vtk"
    assert duzavod.VTKWriter.writeTrajectory(trajectory=trajectory(4), file_path=str(out)) is True
    assert out.read_text().split("\n")[4] == "POINTS 800 double"
    assert duzavod.VTKWriter.writeTrajectory(trajectory(4), str(tmp_path / "missing" / "t.vtk")) is False
