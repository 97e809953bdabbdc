"""The tools as Python sees them: factories, argument names and defaults, copies, index errors, and the
VTK files of lines and trajectories, loaded by VTK's own legacy reader."""
import numpy as np
import pytest
import vtk
from vtk.util.numpy_support import vtk_to_numpy

import duzavod as dz

from test_simulator import read_vtk


def trajectory(n, samples=0):
    """Way points (i, 0, 0), i < n; with eleven points, sixteen samples sit at x = 1, 1.5, ..., 8.5 exactly."""
    t = dz.make_trajectory()
    t.setPoints([np.array([float(i), 0.0, 0.0]) for i in range(n)])
    t.fit()
    if samples:
        t.sample(sample_num=samples)
    return t


def test_factories_class_hierarchy_and_copies():
    assert isinstance(dz.make_trajectory(), dz.poseTrajectory)
    p = dz.make_tpPoint()
    assert isinstance(p, dz.trajectoryPoint3d) and list(p.getPosition()) == [0, 0, 0]
    p.data[0] = 5.0  # a read is a copy
    assert list(p.data) == [0, 0, 0]
    line = dz.debugLine()
    line.vertices = [np.zeros(3), np.ones(3)]
    first = line.vertices[0]
    line.vertices = []  # a vertex read earlier is a copy that stays valid
    first[0] = 9.0
    assert first[0] == 9.0 and line.vertices == []


def test_controller_arguments_and_defaults():
    for pd in (dz.make_controller(2.0, 0.5, 0.1), dz.PDControl1D(Kp=2.0, Kd=0.5, timestep=0.1)):
        pd.set_value(desired_value=1.0)
        pd.set_dvalue(desired_dvalue=3.0)
        assert pd.feedback(value=0.2, timestep=0.1) == pytest.approx(0.8 * 2 + (3 - 2) * 0.5, abs=1e-12)
        pd.set_value()  # no argument: the targets become 0
        pd.set_dvalue()
        assert pd.feedback(0.2, 0.1) == pytest.approx(-0.4, abs=1e-12)


def test_window_queries_take_the_index_by_value_and_check_it(tmp_path):
    t = trajectory(11, 16)
    idx = 0
    target = t.getTargetPose(np.array([2.2, 0.3, 0.0]), idx, 5)  # between samples 2 and 3
    assert idx == 0 and t.getLastIdx() == 2 and list(target.getPosition()) == [2.5, 0.0, 0.0] == list(target.data)
    t.getTargetPose(position=np.array([2.2, 0.3, 0.0]), preSampleIdx=4, look_forward=5)
    assert t.getLastIdx() == 4
    assert t.getReferencePose(position=np.array([2.25, 1.0, 0.0])) == 2 / 16  # the spline overload
    far = np.array([6.2, 0.0, 0.0])  # in segment 10: a window of ten segments from 0 stops at sample 10
    assert t.getReferencePose(far, posIdx=0) == 10 / 16
    assert t.getReferencePose(far, 0, look_forward=11) == pytest.approx(10.4 / 16, abs=1e-12)
    np.testing.assert_allclose(t.getCurvature(t=0.5), [0, 0, 0], atol=1e-6)
    with pytest.raises(IndexError, match="last"):
        t.getTargetPose(np.array([20.0, 0, 0]), 12, 10)
    with pytest.raises(IndexError, match="past"):
        t.getReferencePose(np.zeros(3), 16)
    nan, last = np.array([0.0, np.nan, 0.0]), t.getLastIdx()
    for query in (lambda: t.getPose(np.nan), lambda: t.getCurvature(np.nan), lambda: t.getReferencePose(nan),
                  lambda: t.getReferencePose(nan, 0), lambda: t.getTargetPose(nan, 0, 5)):
        with pytest.raises(ValueError, match="nan"):
            query()
    assert t.getLastIdx() == last
    assert dz.VTKWriter.writeTrajectory(trajectory=t, file_path=str(tmp_path / "no" / "t.vtk")) is False
    assert list(tmp_path.iterdir()) == []


def cells(polydata):
    lines, ids = [], vtk.vtkIdList()
    polydata.GetLines().InitTraversal()
    while polydata.GetLines().GetNextCell(ids):
        lines.append([ids.GetId(k) for k in range(ids.GetNumberOfIds())])
    return lines


def test_line_and_trajectory_files(tmp_path):
    a, b = dz.debugLine(), dz.debugLine()
    a.vertices = [np.array([0.0, 0, 0]), np.array([1.25, -2, 3.5])]
    b.vertices = [np.array([4.0, 5, 6]), np.array([7.0, 8, 9]), np.array([-1.0, 0.5, 1e-5])]
    assert dz.VTKWriter.writeLines([a, b], str(tmp_path / "lines.vtk"))
    data = read_vtk(tmp_path / "lines.vtk")
    np.testing.assert_allclose(vtk_to_numpy(data.GetPoints().GetData()), np.array(a.vertices + b.vertices), atol=5e-5)
    assert cells(data) == [[0, 1], [2, 3, 4]]

    t = dz.make_trajectory()
    t.setPoints([np.array(p, dtype=float) for p in [(0, 0, 0), (1, 2, 0), (3, 1, 1), (4, 4, 2)]])
    t.fit()
    assert dz.VTKWriter.writeTrajectory(t, str(tmp_path / "trajectory.vtk"))
    data = read_vtk(tmp_path / "trajectory.vtk")
    points = vtk_to_numpy(data.GetPoints().GetData())
    tangents = vtk_to_numpy(data.GetPointData().GetArray("tagents"))
    assert points.shape == tangents.shape == (800, 3) and cells(data) == [list(range(800))]
    for i in range(0, 800, 53):  # 200 points per way point at equal parameter steps of the one segment
        pose = t.getPose(i / 800)
        np.testing.assert_allclose(points[i], pose.getPosition(), atol=1e-4)
        np.testing.assert_allclose(tangents[i] / np.linalg.norm(tangents[i]), pose.getOrientation(), atol=1e-3)
