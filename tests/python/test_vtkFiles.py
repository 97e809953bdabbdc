"""Every VTK file the project writes, loaded by VTK's own legacy reader."""
import os
import subprocess

import numpy as np
import vtk
from vtk.util.numpy_support import vtk_to_numpy

import duzavod


def read(path):
    reader = vtk.vtkGenericDataObjectReader()
    reader.SetFileName(str(path))
    reader.ReadAllVectorsOn()
    reader.Update()
    assert reader.GetErrorCode() == 0
    return reader.GetOutput()


def cells(polydata):
    lines, ids = [], vtk.vtkIdList()
    polydata.GetLines().InitTraversal()
    while polydata.GetLines().GetNextCell(ids):
        lines.append([ids.GetId(k) for k in range(ids.GetNumberOfIds())])
    return lines


def test_lines(tmp_path):
    a, b = duzavod.debugLine(), duzavod.debugLine()
    a.vertices = [np.array([0.0, 0, 0]), np.array([1.25, -2, 3.5])]
    b.vertices = [np.array([4.0, 5, 6]), np.array([7.0, 8, 9]), np.array([-1.0, 0.5, 1e-5])]
    assert duzavod.VTKWriter.writeLines([a, b], str(tmp_path / "lines.vtk"))
    data = read(tmp_path / "lines.vtk")
    np.testing.assert_allclose(vtk_to_numpy(data.GetPoints().GetData()), np.array(a.vertices + b.vertices), atol=5e-5)
    assert cells(data) == [[0, 1], [2, 3, 4]]


def test_trajectory(tmp_path):
    t = duzavod.make_trajectory()
    t.setPoints([np.array(p, dtype=float) for p in [(0, 0, 0), (1, 2, 0), (3, 1, 1), (4, 4, 2)]])
    t.fit()
    assert duzavod.VTKWriter.writeTrajectory(t, str(tmp_path / "trajectory.vtk"))
    data = read(tmp_path / "trajectory.vtk")
    points = vtk_to_numpy(data.GetPoints().GetData())
    tangents = vtk_to_numpy(data.GetPointData().GetArray("tagents"))
    assert points.shape == tangents.shape == (800, 3)
    assert cells(data) == [list(range(800))]
    for i in range(0, 800, 53):  # 200 points per way point at equal parameter steps of the one segment
        pose = t.getPose(i / 800)
        np.testing.assert_allclose(points[i], pose.getPosition(), atol=1e-4)
        np.testing.assert_allclose(tangents[i] / np.linalg.norm(tangents[i]), pose.getOrientation(), atol=1e-3)


def test_fluid(tmp_path, build_dir):
    # Two steps of the towed plate of the main example, a 64 x 32 x 32 box of 1/32 m spacing.
    subprocess.run([os.path.join(build_dir, "examples", "moving_plate"), str(tmp_path), "2"], check=True,
                   stdout=subprocess.DEVNULL, env=dict(os.environ, OMP_NUM_THREADS="1"))
    data = read(tmp_path / "vis_fluid00002.vtk")
    assert data.GetDimensions() == (64, 32, 32)
    np.testing.assert_allclose(data.GetOrigin(), (-1, -0.5, -0.5))
    np.testing.assert_allclose(data.GetSpacing(), (1 / 32,) * 3)
    velocity = vtk_to_numpy(data.GetPointData().GetArray("cell_velocity")).reshape(32, 32, 64, 3)
    density = vtk_to_numpy(data.GetPointData().GetArray("density")).reshape(32, 32, 64, 3)
    assert (density == density[..., :1]).all() and np.abs(density - 1).max() < 0.05
    # The plate at x = -0.5 m (node 16) has dragged the fluid along +x in the second step.
    speed = np.abs(velocity[..., 0])
    assert speed.max() > 0 and abs(np.unravel_index(speed.argmax(), speed.shape)[2] - 16) <= 2
    assert velocity[16, 16, 16, 0] > 0
