#!/usr/bin/env python3
"""A fish swims through water by beating its tail.

The fish is the build's generated model (build/models/fish.fbx): a 0.45 m body with a tail joint and a
caudal-fin joint. The script writes its skeleton as JSON, turns it into a swimmer there (joint kinds,
drives, limits, masses), reads it back, and couples the body to a lattice Boltzmann fluid in TWO_WAY mode:
the tail and the fin follow phase-shifted sine targets through PD controllers, the water pushes back, and
the fish moves forward. It prints its progress, saves scenes (body and fluid VTK files), and ends with
the distance swum, the speed and a PNG of the flow.

    /usr/bin/python3 examples/swimmer.py [--steps 4000] [--nodes-per-length 40] [--output swimmer_output]

The root slides along the fish's axis (a prismatic joint): this rail takes the lateral and yaw recoil, as
the carriage of a self-propelled model in a towing tank does. A free planar root at the density of water
would make the explicit fluid-body coupling unstable at these resolutions.
"""
import argparse
import json
import math
import os
import signal
import sys
import time

import numpy as np

BUILD = os.environ.get("DUZAVOD_BUILD_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build"))

WATER_DENSITY = 1000.0  # kg/m^3
VISCOSITY = 1e-3  # m^2/s: a Reynolds number of a few hundred, where a tail beat makes thrust
TAIL_SPEED = 1.0  # m/s, reference velocity: the lattice velocity 0.1 stands for it
BEAT_HZ = 2.0
# Amplitudes (rad) of the tail and the fin joint; the fin lags the tail, so a wave runs down the body.
TAIL_AMPLITUDE, FIN_AMPLITUDE, FIN_LAG = 0.3, 0.35, 1.0
FRONT, TAIL, FIN = "[link]body::tail", "[link]tail::caudal", "[link]caudal::caudal_end"


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--steps", type=int, default=4000, help="lattice time steps (default 4000)")
    parser.add_argument("--nodes-per-length", type=int, default=40,
                        help="lattice nodes along the fish's length (default 40)")
    parser.add_argument("--save-every", type=int, default=500, help="steps between saved scenes (default 500)")
    parser.add_argument("--output", default="swimmer_output", help="output folder (default swimmer_output)")
    parser.add_argument("--no-png", action="store_true", help="skip the picture of the flow")
    args = parser.parse_args()
    if args.steps < 1 or args.nodes_per_length < 4 or args.save_every < 1:
        parser.error("--steps and --save-every must be positive, --nodes-per-length at least 4")
    return args


def link_slices(skeleton):
    """Length, height and width (m) of the body part around each link, measured on the skin."""
    render = skeleton.getRenderData()
    points = np.array(render.pos)
    sizes = {}
    for link in skeleton.links:
        frame = link.getWorldTrans()
        local = (points - frame[:3, 3]) @ frame[:3, :3]  # link axes: x along the link
        length = link.size[0]
        inside = local[np.abs(local[:, 0]) <= 0.5 * length]
        sizes[link.name] = (length, 2 * np.abs(inside[:, 1]).max(), 2 * np.abs(inside[:, 2]).max())
    return sizes


def skin_volume_and_area(skeleton):
    render = skeleton.getRenderData()
    tri = np.array(render.pos)[np.array(render.indices).reshape(-1, 3)]
    volume = np.einsum("ij,ij->i", tri[:, 0], np.cross(tri[:, 1], tri[:, 2])).sum() / 6  # closed meshes
    area = 0.5 * np.linalg.norm(np.cross(tri[:, 1] - tri[:, 0], tri[:, 2] - tri[:, 0]), axis=1).sum()
    return volume, area


def fish_length(skeleton):
    """From the snout (the front of the skin) to the fin tip (the last joint)."""
    xs = [j.node.getWorldTrans()[0, 3] for j in skeleton.joints] + list(np.array(skeleton.getRenderData().pos)[:, 0])
    return max(xs) - min(xs)


def write_swimmer_json(dz, fish, fbx, path, spacing):
    """The fish's skeleton (loaded from fbx) as JSON, edited into a swimmer. Returns the skeleton read back."""
    dz.SkeletonToJson(path, fish)
    with open(path) as f:
        desc = json.load(f)
    desc["model_file"] = os.path.abspath(fbx)
    desc["baseLinkName"] = FRONT  # forward is this link's +x axis, towards the snout
    # The fluid box follows the tail joint, which rides the rail: wake room behind, water ahead.
    desc["baseFrameName"] = TAIL
    joints = desc["joints"]
    joints["body"].update(type="prismatic", axis=[[1.0, 0.0, 0.0]], actuator="passive", useLimits=False)
    # Both beating joints turn about the fish's up axis. They are driven by commanded accelerations, a
    # prescribed stroke: torque-driven, the light fin would make the explicit fluid coupling unstable.
    for name, amplitude in (("tail", TAIL_AMPLITUDE), ("caudal", FIN_AMPLITUDE)):
        joints[name].update(type="revolute", axis=[[0.0, 1.0, 0.0]], actuator="acceleration", useLimits=True)
        joints[name]["limit"] = {"lower": [-1.5 * amplitude], "upper": [1.5 * amplitude], "effort": [100.0],
                                 "velocity": [100.0]}
    # As dense as water: the skin's volume of water, shared by the links as their ellipsoids share it. In one
    # step the surface forcing moves about the water in a layer one lattice spacing thick around the skin;
    # the explicit coupling is stable only for a body heavier than that layer, so a coarse lattice makes
    # the fish heavier.
    volume, area = skin_volume_and_area(fish)
    mass = WATER_DENSITY * max(volume, area * spacing)
    if volume < area * spacing:
        print(f"A coarse lattice: the fish weighs {mass:.2f} kg, not {WATER_DENSITY * volume:.2f} kg, "
              "to keep the coupling stable")
    sizes = link_slices(fish)
    ellipsoids = {name: math.pi / 6 * l * h * w for name, (l, h, w) in sizes.items()}
    for name, link in desc["links"].items():
        link["size"] = list(sizes[name])
        link["mass"] = mass * ellipsoids[name] / sum(ellipsoids.values())
    with open(path, "w") as f:
        json.dump(desc, f, indent=4)
    return dz.skeletonFromJson(path, 0)


def fluid_box(dz, length, nodes_per_length):
    p = dz.simParam()
    p.setup_mode = dz.SETUP_MODE.MANUAL
    p.l0p, p.N = length, float(nodes_per_length)
    p.u0p, p.u0k = TAIL_SPEED, 0.1
    p.rou0p, p.visp = WATER_DENSITY, VISCOSITY
    # The box follows the fish and its faces hold the water around it at rest, so they also hold back the
    # water the fish pushes aside: with sides of 0.7 x 0.9 lengths the fish swam 13 % slower than with
    # these, which a box twice as wide again changes by 1 %.
    p.width, p.height, p.depth = 2.6 * length, 1.4 * length, 1.8 * length
    return p


class Beat:
    """The sine target of one joint, ramped up over the first beat, and its PD controller."""

    def __init__(self, dz, joint, amplitude, lag, dt):
        omega = 2 * math.pi * BEAT_HZ
        self.joint, self.amplitude, self.lag, self.omega = joint, amplitude, lag, omega
        # A critically damped error, ten times faster than the beat.
        rate = 10 * omega
        self.pd = dz.PDControl1D(rate * rate, 2 * rate, dt)

    def command(self, t, dt):
        ramp, dramp = (BEAT_HZ * t, BEAT_HZ) if t < 1 / BEAT_HZ else (1.0, 0.0)
        phase = self.omega * t - self.lag
        target = ramp * self.amplitude * math.sin(phase)
        self.pd.set_value(target)
        self.pd.set_dvalue(self.amplitude * (ramp * self.omega * math.cos(phase) + dramp * math.sin(phase)))
        # The joint acceleration: the PD correction plus the target's own acceleration.
        self.joint.setCommand(0, self.pd.feedback(self.joint.getPositions()[0], dt) - self.omega**2 * target)


def read_fluid_header(data):
    """The keyed lines of a saved fluid file's header, and where its binary data start."""
    header, pos = {}, 0
    for _ in range(9):
        end = data.index(b"\n", pos)
        key, _, value = data[pos:end].decode().partition(" ")
        header[key], pos = value, end + 1
    return header, pos


def read_fluid_vtk(path):
    """Velocity (lattice units, nz x ny x nx x 3), origin and spacing of a saved fluid file."""
    with open(path, "rb") as f:
        data = f.read()
    header, pos = read_fluid_header(data)
    nx, ny, nz = map(int, header["DIMENSIONS"].split())
    velocity = np.frombuffer(data, ">f4", 3 * nx * ny * nz, pos).reshape(nz, ny, nx, 3)
    return velocity, np.array(header["ORIGIN"].split(), float), float(header["SPACING"].split()[0])


def read_body_vtk(path):
    """Points (n x 3) and triangles (m x 3) of a saved body surface."""
    with open(path) as f:
        lines = f.read().split("\n")
    at = {line.split()[0]: i for i, line in enumerate(lines) if line[:1].isalpha()}
    n, m = int(lines[at["POINTS"]].split()[1]), int(lines[at["POLYGONS"]].split()[1])
    points = np.loadtxt(lines[at["POINTS"] + 1:at["POINTS"] + 1 + n]).reshape(-1, 3)
    triangles = np.loadtxt(lines[at["POLYGONS"] + 1:at["POLYGONS"] + 1 + m], dtype=int).reshape(-1, 4)[:, 1:]
    return points, triangles


def save_png(path, fluid_file, body_files, time_s, speed_scale):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no picture")
        return None
    velocity, origin, dx = read_fluid_vtk(fluid_file)
    nz, ny, nx, _ = velocity.shape
    plane = velocity[:, min(max(int(round(-origin[1] / dx)), 0), ny - 1)]  # the fish's mid-plane, y = 0
    speed = np.linalg.norm(plane, axis=-1) * speed_scale
    x, z = origin[0] + dx * np.arange(nx), origin[2] + dx * np.arange(nz)
    fig, ax = plt.subplots(figsize=(10, 4.2))
    image = ax.pcolormesh(x, z, speed, shading="auto", cmap="viridis")
    fig.colorbar(image, ax=ax, label="flow speed (m/s)")
    for body_file in body_files:
        points, triangles = read_body_vtk(body_file)
        ax.triplot(points[:, 0], points[:, 2], triangles, color="white", lw=0.3)
    ax.set_aspect("equal")
    ax.set_xlabel("x (m), swimming direction")
    ax.set_ylabel("z (m)")
    ax.set_title(f"Mid-plane flow speed and the fish seen from above, t = {time_s:.2f} s")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)
    return path


class CtrlC:
    """The first Ctrl-C asks the run to stop after the step under way, a second one stops it at once."""

    def __init__(self):
        self.pressed = False
        signal.signal(signal.SIGINT, self._press)

    def _press(self, signum, frame):
        self.pressed = True
        signal.signal(signal.SIGINT, signal.default_int_handler)


def main():
    args = parse_args()
    sys.path.insert(0, os.path.join(BUILD, "python"))
    import duzavod as dz

    fbx = os.path.join(BUILD, "models", "fish.fbx")
    if not os.path.exists(fbx):
        sys.exit(f"{fbx} is missing: build the project first (bash scripts/build.sh)")
    out = os.path.abspath(args.output)
    os.makedirs(out, exist_ok=True)

    fish = dz.skeletonFromFBX(fbx, 0)
    length = fish_length(fish)
    spacing = length / args.nodes_per_length
    skeleton = write_swimmer_json(dz, fish, fbx, os.path.join(out, "fish.json"), spacing)
    # About three surface points per lattice cell face of the skin (the fin takes its share), so that the
    # fluid sees a closed surface.
    _, area = skin_volume_and_area(skeleton)
    body = dz.SkeletonDynamics(skeleton, max(100, int(3 * area / spacing**2)), 0, np.zeros(3), np.zeros(3))
    world = dz.DartWorld(np.zeros(3))  # no gravity: the fish is as dense as water
    world.addSkeleton(body)

    sim = dz.simulator3D(fluid_box(dz, length, args.nodes_per_length), 0)
    sim.attachWorld(world)
    sim.commitInit()
    sim.mainDataFolderPath = out + "/"
    sim.log()
    dt = world.getTimestep()
    beats = [Beat(dz, body.getJoint("tail"), TAIL_AMPLITUDE, 0.0, dt),
             Beat(dz, body.getJoint("caudal"), FIN_AMPLITUDE, FIN_LAG, dt)]
    fin = body.getLink(FIN)
    forward = body.getBaseLinkFwd()
    start = body.getCOM()
    ctrl_c, done = CtrlC(), 0  # from here on Ctrl-C ends the run with its summary
    print(f"Fish {length:.3f} m, {body.getMass():.3f} kg; lattice spacing {spacing * 1000:.1f} mm, "
          f"time step {dt * 1000:.3f} ms; {args.steps} steps = {args.steps * dt:.2f} s")
    print(f"{'step':>6} {'time s':>8} {'ms/step':>8} {'speed m/s':>10} {'distance m':>11}")

    report_every = max(1, args.steps // 20)
    beat_steps = max(1, int(round(1 / (BEAT_HZ * dt))))
    fin_sway, last_beat, saved = [], [], []
    wall = 0.0
    for step in range(args.steps):
        if ctrl_c.pressed:
            break
        t = step * dt
        if step % args.save_every == 0:
            sim.saveScene(step, dz.SAVE_FLAG.BODY | dz.SAVE_FLAG.FLUID)
            saved.append(step)
        tick = time.perf_counter()
        for beat in beats:
            beat.command(t, dt)
        sim.step(dz.COUPLE_MODE.TWO_WAY)
        wall += time.perf_counter() - tick
        distance = float((body.getCOM() - start) @ forward)
        if step >= args.steps - beat_steps:
            fin_sway.append(float(fin.getPosition() @ body.getBaseLinkRight()))
            last_beat.append(distance)
        if (step + 1) % report_every == 0 or step + 1 == args.steps:
            speed = float(body.getCOMLinearVelocity() @ forward)
            print(f"{step + 1:6d} {t + dt:8.3f} {1000 * wall / (step + 1):8.2f} {speed:10.4f} {distance:11.4f}",
                  flush=True)
        done = step + 1
    if done < args.steps:
        distance = float((body.getCOM() - start) @ forward)
        print(f"\nStopped by Ctrl-C after {done} of {args.steps} steps ({done * dt:.2f} s): swam {distance:.4f} m "
              f"forward ({distance / length:.2f} body lengths)")
        print(f"{len(saved)} frames saved in {out}"
              + (f" (steps {saved[0]} to {saved[-1]}, every {args.save_every})" if saved else "")
              + ": Fluid/*.vtk and Objects/*.vtk, fish.json")
        sys.exit(130)
    sim.saveScene(args.steps, dz.SAVE_FLAG.BODY | dz.SAVE_FLAG.FLUID)

    duration = args.steps * dt
    distance = last_beat[-1]
    fin_amplitude = 0.5 * (max(fin_sway) - min(fin_sway))
    reynolds = length * 2 * math.pi * BEAT_HZ * fin_amplitude / VISCOSITY
    fluid_file = os.path.join(out, "Fluid", f"0_vis_fluid{args.steps:05d}.vtk")
    with open(fluid_file, "rb") as f:
        dims = read_fluid_header(f.read(1024))[0]["DIMENSIONS"].split()
    print(f"\nSwam {distance:.4f} m forward in {duration:.2f} s ({distance / length:.2f} body lengths): "
          f"mean speed {distance / duration:.4f} m/s", end="")
    if len(last_beat) == beat_steps:
        print(f", {(last_beat[-1] - last_beat[0]) / ((beat_steps - 1) * dt):.4f} m/s over the last beat")
    else:
        print()
    print(f"Tail beat {BEAT_HZ:g} Hz, fin amplitude {fin_amplitude * 100:.1f} cm: Reynolds number "
          f"{reynolds:.0f} (body length, tail-beat speed)")
    print(f"Lattice {' x '.join(dims)}, {args.steps} steps in {wall:.1f} s ({1000 * wall / args.steps:.2f} ms per step)")
    body_files = [os.path.join(out, "Objects", f"{mesh}0_vis_object_{args.steps:05d}.vtk") for mesh in (0, 1)]
    png = None if args.no_png else save_png(os.path.join(out, "swimmer.png"), fluid_file, body_files, duration,
                                            TAIL_SPEED / 0.1)
    print(f"Output in {out}: Fluid/*.vtk and Objects/*.vtk (open them in ParaView), fish.json"
          + (f", {os.path.basename(png)}" if png else ""))


if __name__ == "__main__":
    main()
