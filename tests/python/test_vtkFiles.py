"""Every VTK file the project writes, loaded by VTK's own legacy reader."""
import os

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


def test_scene(tmp_path, build_dir):
    """The fluid and body files of a saved scene: a fish in a 8 x 6 x 4 box of spacing 0.25 m, the fluid at
    rest but for one node given the lattice velocity (-0.05, 0, 0)."""
    p = duzavod.simParam()
    p.setup_mode = duzavod.SETUP_MODE.MANUAL
    p.width, p.height, p.depth = 2.0, 1.5, 1.0
    p.N, p.l0p, p.u0p = 4.0, 1.0, 1.0
    fish = duzavod.skeletonFromFBX(os.path.join(build_dir, "models", "fish.fbx"), 0)
    world = duzavod.DartWorld(Gravity=np.zeros(3))
    world.addSkeleton(duzavod.SkeletonDynamics(fish, 100))
    sim = duzavod.simulator3D(param=p, gpuId=0)
    sim.attachWorld(world)
    sim.commitInit()
    sim.set_velocity_all(np.array([[0.9, 0.0, 0.0]]), np.array([[-0.05, 0.0, 0.0]]))  # node (7, 3, 2)
    sim.mainDataFolderPath = str(tmp_path) + "/"
    sim.saveScene(0, duzavod.SAVE_FLAG.BODY | duzavod.SAVE_FLAG.FLUID)

    fluid = read(tmp_path / "Fluid" / "0_vis_fluid00000.vtk")
    assert fluid.GetDimensions() == (8, 6, 4)
    np.testing.assert_allclose(fluid.GetOrigin(), (-1, -0.75, -0.5))
    np.testing.assert_allclose(fluid.GetSpacing(), (0.25,) * 3)
    velocity = vtk_to_numpy(fluid.GetPointData().GetArray("cell_velocity")).reshape(4, 6, 8, 3)
    expected = np.zeros_like(velocity)
    expected[2, 3, 7] = (-0.05, 0, 0)
    np.testing.assert_allclose(velocity, expected, atol=1e-7)
    np.testing.assert_array_equal(vtk_to_numpy(fluid.GetPointData().GetArray("density")), np.ones((192, 3)))

    body, surface = read(tmp_path / "Objects" / "00_vis_object_00000.vtk"), fish.getRenderData()
    np.testing.assert_allclose(vtk_to_numpy(body.GetPoints().GetData()), np.array(surface.pos), atol=5e-5)
    np.testing.assert_allclose(vtk_to_numpy(body.GetPointData().GetNormals()), np.array(surface.normal), atol=5e-5)
    np.testing.assert_allclose(vtk_to_numpy(body.GetPointData().GetTCoords()), np.array(surface.uv), atol=5e-5)
    triangles = vtk_to_numpy(body.GetPolys().GetData()).reshape(-1, 4)
    assert (triangles[:, 0] == 3).all() and triangles[:, 1:].ravel().tolist() == list(surface.indices)
