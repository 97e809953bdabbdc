"""simParam as Python sees it: defaults, attributes in single precision, completion by get_tp."""
import pytest

import duzavod


def test_constructor_and_factory_give_the_documented_defaults():
    for p in (duzavod.simParam(), duzavod.make_simParams()):
        assert (p.x0, p.y0, p.z0, p.width, p.height, p.depth) == (0, 0, 0, 10, 4, 4)
        assert (p.N, p.l0p, p.u0p, p.dx, p.dtp, p.slip_ratio, p.pml_width) == (-1, -1, -1, -1, -1, 0, 0)
        assert p.u0k == pytest.approx(0.1, rel=1e-7) and p.visp == pytest.approx(0.001, rel=1e-7)
        assert p.rou0p == 1.25 and p.setup_mode == duzavod.SETUP_MODE.GRAVITY


def test_attributes_round_trip_in_single_precision():
    p = duzavod.simParam()
    values = {"x0": 1.5, "y0": -2.25, "z0": 0.125, "width": 7.0, "height": 3.5, "depth": 2.0, "N": 64.0,
              "l0p": 2.0, "u0k": 0.05, "u0p": 3.0, "rou0p": 1000.0, "visp": 1e-6, "slip_ratio": 0.5, "dx": 0.25,
              "dtp": 0.001, "pml_width": 3, "setup_mode": duzavod.SETUP_MODE.MANUAL}
    for name, value in values.items():
        setattr(p, name, value)
    for name, value in values.items():
        assert getattr(p, name) == pytest.approx(value, rel=1e-7), name
    with pytest.raises(TypeError):
        p.pml_width = "three"


def test_get_tp_completes_the_record(capfd):
    p = duzavod.simParam()
    p.setup_mode = duzavod.SETUP_MODE.MANUAL
    assert p.get_tp() == pytest.approx(0.0003, rel=1e-6)
    assert "[Info] u0p auto calculated!  u0p = 5.208333 \n" in capfd.readouterr().out
    assert (p.N, p.l0p, p.dx) == (256, 4, 0.015625)
    assert p.get_tp() == pytest.approx(0.0003, rel=1e-6) and capfd.readouterr().out == ""
    g = duzavod.simParam()  # GRAVITY: the reference length is the width, N = 10 / dx
    g.dx = 0.5
    assert g.get_tp() == pytest.approx(10 * 0.1 / ((2 * 9.800000190734863 * 10) ** 0.5 * 20), rel=1e-6)


def test_default_record_without_spacing_cannot_build_a_lattice():
    with pytest.raises(ValueError, match="dx = -1"):
        duzavod.make_simulator(duzavod.simParam(), 0)
