import math

import pytest

import duzavod


def test_constructor_and_factory_give_the_same_defaults():
    for p in (duzavod.simParam(), duzavod.make_simParams()):
        assert (p.x0, p.y0, p.z0) == (0.0, 0.0, 0.0)
        assert (p.width, p.height, p.depth) == (10.0, 4.0, 4.0)
        assert p.N == -1.0 and p.l0p == -1.0 and p.u0p == -1.0
        assert p.u0k == pytest.approx(0.1, rel=1e-7)
        assert p.rou0p == 1.25
        assert p.visp == pytest.approx(0.001, rel=1e-7)
        assert p.slip_ratio == 0.0
        assert p.pml_width == 0
        assert p.dx == -1.0 and p.dtp == -1.0
        assert p.setup_mode == duzavod.SETUP_MODE.GRAVITY


def test_attributes_round_trip_in_single_precision():
    p = duzavod.simParam()
    values = {"x0": 1.5, "y0": -2.25, "z0": 0.125, "width": 7.0, "height": 3.5, "depth": 2.0, "N": 64.0,
              "l0p": 2.0, "u0k": 0.05, "u0p": 3.0, "rou0p": 1000.0, "visp": 1e-6, "slip_ratio": 0.5, "dx": 0.25,
              "dtp": 0.001}
    for name, value in values.items():
        setattr(p, name, value)
    for name, value in values.items():
        assert getattr(p, name) == pytest.approx(value, rel=1e-7), name
    p.pml_width = 3
    p.setup_mode = duzavod.SETUP_MODE.MANUAL
    assert p.pml_width == 3
    assert p.setup_mode == duzavod.SETUP_MODE.MANUAL
    with pytest.raises(TypeError):
        p.pml_width = "three"


def test_get_tp_completes_a_manual_record(capfd):
    p = duzavod.simParam()
    p.setup_mode = duzavod.SETUP_MODE.MANUAL
    assert p.get_tp() == pytest.approx(0.0003, rel=1e-6)
    out = capfd.readouterr().out
    assert " [warning] N or l0p not setted!!! set N= 256 ,l0p =4 as default \n" in out
    assert "[Info] u0p auto calculated!  u0p = 5.208333 \n" in out
    assert p.N == 256.0 and p.l0p == 4.0 and p.dx == 0.015625
    assert p.u0p == pytest.approx(0.1 * 0.015625 / 0.0003, rel=1e-6)
    assert p.get_tp() == pytest.approx(0.0003, rel=1e-6)
    assert capfd.readouterr().out == ""  # completed once, silent afterwards


def test_get_tp_in_gravity_mode_uses_the_spacing():
    p = duzavod.simParam()
    p.dx = 0.5
    tp = p.get_tp()
    u0p = math.sqrt(2 * 9.800000190734863 * 10)
    assert p.N == 20.0 and p.l0p == 10.0
    assert tp == pytest.approx(10 * 0.1 / (u0p * 20), rel=1e-6)


def test_default_record_without_spacing_cannot_build_a_lattice():
    with pytest.raises(ValueError, match="dx = -1"):
        duzavod.make_simulator(duzavod.simParam(), 0)
