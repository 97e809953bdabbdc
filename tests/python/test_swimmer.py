"""The main example at a tiny size: it runs, reports, and writes its files."""
import importlib.util
import json
import os
import subprocess
import sys

from conftest import _build

SWIMMER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "swimmer.py")


def test_swimmer_runs_and_writes_its_files(tmp_path):
    out = tmp_path / "out"
    env = dict(os.environ, DUZAVOD_BUILD_DIR=os.path.abspath(_build), OMP_NUM_THREADS="2")
    run = subprocess.run([sys.executable, SWIMMER, "--steps", "6", "--nodes-per-length", "12", "--save-every", "3",
                          "--output", str(out)], env=env, capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    assert "m forward in 0.0" in run.stdout and f"Output in {out}" in run.stdout
    frames = ["00000", "00003", "00006"]
    expected = ["fish.json"] + [f"Fluid/0_vis_fluid{f}.vtk" for f in frames] + [
        f"Objects/{mesh}0_vis_object_{f}.vtk" for mesh in (0, 1) for f in frames]
    if importlib.util.find_spec("matplotlib"):
        expected.append("swimmer.png")
    assert sorted(str(p.relative_to(out)) for p in out.rglob("*") if p.is_file()) == sorted(expected)
    with open(out / "fish.json") as f:
        joints = json.load(f)["joints"]
    assert (joints["body"]["type"], joints["tail"]["actuator"]) == ("prismatic", "acceleration")
