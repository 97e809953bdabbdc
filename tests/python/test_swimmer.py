"""The main example at a tiny size: it runs, reports, and writes its files."""
import importlib.util
import json
import os
import re
import signal
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


def test_ctrl_c_stops_the_swimmer_with_a_summary(tmp_path):
    out = tmp_path / "out"
    env = dict(os.environ, DUZAVOD_BUILD_DIR=os.path.abspath(_build), OMP_NUM_THREADS="2", PYTHONUNBUFFERED="1")
    run = subprocess.Popen([sys.executable, SWIMMER, "--steps", "100000", "--nodes-per-length", "12", "--save-every",
                            "2", "--output", str(out), "--no-png"], env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True)
    try:
        seen = []
        for line in run.stdout:  # up to the heading of the progress table: the run is under way
            seen.append(line)
            if line.split()[:1] == ["step"]:
                break
        run.send_signal(signal.SIGINT)
        stdout, stderr = run.communicate(timeout=120)
    finally:
        run.kill()
    stdout = "".join(seen) + stdout
    assert run.returncode == 130 and "Traceback" not in stderr, stderr
    done = int(re.search(r"Stopped by Ctrl-C after (\d+) of 100000 steps \([\d.]+ s\): swam -?[\d.]+ m forward",
                         stdout).group(1))
    frames = (done + 1) // 2  # steps 0, 2, ... before the stop
    assert len(list(out.glob("Fluid/*.vtk"))) == frames and len(list(out.glob("Objects/*.vtk"))) == 2 * frames
    assert f"{frames} frames saved in {out}" in stdout
