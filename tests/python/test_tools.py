import numpy as np
import pytest

import duzavod


def straight_sixteen():
    """Way points (i, 0, 0), i = 0..10: sixteen samples at x = 1, 1.5, ..., 8.5, exact in binary."""
    t = duzavod.make_trajectory()
    t.setPoints([np.array([float(i), 0.0, 0.0]) for i in range(11)])
    t.fit()
    t.sample(16)
    return t


def test_tool_entries_follow_the_registration_order():
    order = ["make_simulator", "make_simParams", "make_skeletonSystem", "make_skDynamics", "make_skWorld",
             "make_trajectory", "make_tpPoint", "make_controller", "SETUP_MODE", "COUPLE_MODE", "actuatorType",
             "jointType", "SAVE_FLAG", "RenderData", "simParam", "hierachyNode", "Limit", "Dynamics",
             "SkeletonJoint", "SkeletonLink", "SkeletonSystem", "skJoint", "skLink", "Markers", "SkeletonDynamics",
             "DartWorld", "skFrame", "trajectoryPoint3d", "trajectoryPosePoint3d", "trajectory3d", "poseTrajectory",
             "debugLine", "VTKWriter", "simulator3D", "PDControl1D"]
    registered = [name for name in vars(duzavod) if name in order]
    assert registered == [name for name in order if name in registered]
    for name in ["make_trajectory", "make_tpPoint", "make_controller", "trajectoryPoint3d", "trajectoryPosePoint3d",
                 "trajectory3d", "poseTrajectory", "debugLine", "VTKWriter", "PDControl1D"]:
        assert name in registered


def test_factories_and_class_hierarchy():
    t = duzavod.make_trajectory()
    assert isinstance(t, duzavod.poseTrajectory) and isinstance(t, duzavod.trajectory3d)
    p = duzavod.make_tpPoint()
    assert isinstance(p, duzavod.trajectoryPosePoint3d) and isinstance(p, duzavod.trajectoryPoint3d)
    assert list(p.data) == [0, 0, 0]
    assert list(p.getPosition()) == [0, 0, 0] and list(p.getOrientation()) == [0, 0, 0]
    assert list(duzavod.trajectoryPoint3d().data) == [0, 0, 0]
    with pytest.raises(TypeError):
        duzavod.make_controller(Kp=1.0, Kd=0.5, timestep=0.01)  # factory arguments are positional


def test_point_data_is_read_as_a_copy_and_assigned_whole():
    p = duzavod.trajectoryPoint3d()
    p.data[0] = 5.0
    assert list(p.data) == [0, 0, 0]
    p.data = np.array([1.0, 2.0, 3.0])
    assert list(p.data) == [1, 2, 3]
    with pytest.raises(TypeError):
        p.data = np.array([1.0, 2.0])


def test_controller_constructor_and_factory_agree():
    a = duzavod.PDControl1D(1.0, 0.5, 0.01)
    b = duzavod.make_controller(1.0, 0.5, 0.01)
    c = duzavod.PDControl1D(Kp=1.0, Kd=0.5, timestep=0.01)
    for pd in (a, b, c):
        pd.set_value(2.0)
    outputs = [(pd.feedback(0.3, 0.01), pd.feedback(0.4, 0.01)) for pd in (a, b, c)]
    assert outputs[0] == outputs[1] == outputs[2]
    assert outputs[0][0] == pytest.approx((2.0 - 0.3) * 1.0 - (0.3 / 0.01) * 0.5, abs=1e-12)


def test_controller_sequence_defaults_and_reset():
    pd = duzavod.PDControl1D(2.0, 0.5, 0.1)
    pd.set_value(1.0)
    assert pd.feedback(0.2, 0.1) == pytest.approx(0.6, abs=1e-12)
    assert pd.feedback(value=0.2, timestep=0.1) == pytest.approx(1.6, abs=1e-12)
    pd.set_dvalue(3.0)
    assert pd.feedback(0.2, 0.1) == pytest.approx(1.6 + 1.5, abs=1e-12)
    pd.set_value()  # no argument: the target becomes 0
    pd.set_dvalue()
    assert pd.feedback(0.2, 0.1) == pytest.approx(-0.4, abs=1e-12)
    pd.reset()
    assert pd.feedback(0.3, 0.05) == pytest.approx(-0.3 * 2.0 - (0.3 / 0.05) * 0.5, abs=1e-12)


def test_index_argument_is_passed_by_value():
    t = straight_sixteen()
    x = np.array([2.2, 0.3, 0.0])  # projects between samples 2 and 3
    idx = 0
    target = t.getTargetPose(x, idx, 5)
    assert idx == 0
    assert t.getLastIdx() == 2
    assert list(target.getPosition()) == [2.5, 0.0, 0.0]
    assert isinstance(target, duzavod.trajectoryPosePoint3d)
    assert list(target.data) == list(target.getPosition())
    target = t.getTargetPose(position=x, preSampleIdx=4, look_forward=5)  # the index never falls back
    assert t.getLastIdx() == 4 and target.getPosition()[0] == 3.5


def test_reference_pose_overloads_and_the_look_forward_default():
    t = straight_sixteen()
    assert t.getReferencePose(np.array([2.25, 1.0, 0.0])) == 2 / 16  # first of two equal distances
    assert t.getLastIdx() == 0
    # X in segment 10: a window of ten segments from 0 stops at sample 10, eleven reach the segment.
    far = np.array([6.2, 0.0, 0.0])
    assert t.getReferencePose(far, 0) == 10 / 16
    assert t.getLastIdx() == 10
    assert t.getReferencePose(far, 0, 11) == pytest.approx(0.2 + 10 / 16, abs=1e-12)
    # Two arguments reach the windowed search (the nearest-sample search would give 10 / 16).
    assert t.getReferencePose(far, 3) == pytest.approx(0.2 + 10 / 16, abs=1e-12)
    doc = duzavod.poseTrajectory.getReferencePose.__doc__
    assert "Get Pose t using spline" in doc
    assert "Get Pose t using samples within lookforward range" in doc


def test_pose_and_curvature():
    t = duzavod.make_trajectory()
    pts = [np.array([0.0, 0.0, 0.0]), np.array([1, 2, 0.5]), np.array([3.0, 1, 1]), np.array([4.0, 4, 2]),
           np.array([6.0, 3, 1]), np.array([7.0, 6, -1])]
    t.setPoints(pts)
    t.fit()
    assert t.getSampleNum() == 0
    np.testing.assert_array_equal(t.getPose(-3).getPosition(), t.getPose(0).getPosition())
    np.testing.assert_array_equal(t.getPose(7).getPosition(), t.getPose(1).getPosition())
    # t = 0.5 is u = 1.5 for the pose (segment 1, s = 0.5) but u = 0.5 for the curvature (segment 0).
    p1, p2, p3, p4 = pts[1:5]
    np.testing.assert_allclose(t.getPose(0.5).getPosition(), (p1 + 23 * p2 + 23 * p3 + p4) / 48, atol=1e-6)
    p0 = pts[0]
    np.testing.assert_allclose(t.getCurvature(0.5), 0.5 * p0 - 0.5 * p1 - 0.5 * p2 + 0.5 * p3, atol=1e-6)
    assert np.linalg.norm(t.getPose(0.2).getOrientation()) == pytest.approx(1.0, abs=1e-12)


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
    s = straight_sixteen()
    with pytest.raises(IndexError, match="last"):
        s.getTargetPose(np.array([20.0, 0, 0]), 12, 10)
    assert s.getLastIdx() == 0


def test_writers(tmp_path):
    line = duzavod.debugLine()
    assert line.vertices == []
    line.vertices = [np.array([0.0, 0, 0]), np.array([1.0, 0, 0]), np.array([1.0, 1, 0])]
    first = line.vertices[0]
    first[0] = 9.0  # a read is a copy, and stays valid when the list is replaced
    assert line.vertices[0][0] == 0.0
    line.vertices = []
    assert first[0] == 9.0 and line.vertices == []
    line.vertices = [np.array([0.0, 0, 0]), np.array([1.0, 0, 0]), np.array([1.0, 1, 0])]
    path = tmp_path / "lines.vtk"
    assert duzavod.VTKWriter.writeLines([line], str(path)) is True
    assert path.read_text() == ("# vtk DataFile Version 3.0\noutput  lines\nASCII\nDATASET POLYDATA\n"
                                "POINTS 3 double\n0.0000 0.0000 0.0000\n1.0000 0.0000 0.0000\n1.0000 1.0000 0.0000\n"
                                "LINES 1 4\n3 0 1 2\n\n")
    assert duzavod.VTKWriter.writeLines([line], str(tmp_path / "missing" / "lines.vtk")) is False

    t = duzavod.make_trajectory()
    with pytest.raises(ValueError):
        duzavod.VTKWriter.writeTrajectory(t, str(tmp_path / "t.vtk"))
    t.setPoints([np.array([float(i), 0, 0]) for i in range(4)])
    t.fit()
    out = tmp_path / "t.vtk"
    assert duzavod.VTKWriter.writeTrajectory(trajectory=t, file_path=str(out)) is True
    lines = out.read_text().split("\n")
    assert lines[4] == "POINTS 800 double" and lines[805] == "LINES 1 801" and lines[807] == "POINT_DATA 800"
    assert duzavod.VTKWriter.writeTrajectory(t, str(tmp_path / "missing" / "t.vtk")) is False
    with pytest.raises(TypeError):
        duzavod.VTKWriter()
