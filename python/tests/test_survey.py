"""zalk3071.survey and its plot: the columns against closed forms and an
mpmath solution of the E_p equation, sections of a synthetic survey, the
statistics against numpy, bad arguments named."""
import os

import numpy as np
import pytest

import zalk3071 as z
from zalk3071 import plot

OFFSETS = (0.0, 8.0, 12.0, 18.0, 24.0, 36.0)


def basins(d0, spread):
    r = np.asarray(OFFSETS)
    return np.array([a * s / np.sqrt(r * r + s * s) for a, s in zip(d0, spread)])


def test_indices_are_the_closed_forms_and_scale_with_load():
    d = basins([20, 35, 12], [15, 10, 30])
    loads = np.array([9000, 12000, 6000])
    ix = z.survey.indices(d, loads, reference_load=9000)
    np.testing.assert_allclose(ix["sci_mils"], d[:, 0] - d[:, 2], rtol=1e-15)
    np.testing.assert_allclose(ix["bci_mils"], d[:, 4] - d[:, 5], rtol=1e-15)
    area = 6 * (1 + 2 * d[:, 2] / d[:, 0] + 2 * d[:, 4] / d[:, 0] + d[:, 5] / d[:, 0])
    np.testing.assert_allclose(ix["area_in"], area, rtol=1e-15)
    np.testing.assert_allclose(ix["d0_mils_norm"], d[:, 0] * 9000 / loads, rtol=1e-15)
    assert "d0_mils_norm" not in z.survey.indices(d, loads).columns


def test_aashto93_solves_the_equation_and_chooses_the_sensor():
    mp = pytest.importorskip("mpmath")
    mp.mp.dps = 40
    d = basins([20, 35, 8], [15, 10, 40])
    loads, thick = np.array([9000.0, 12000.0, 9000.0]), np.array([8.0, 4.0, 30.0])
    nd = z.survey.aashto93(d, loads, thick, c=0.5)
    a = 5.9
    for i, row in nd.iterrows():
        p = mp.mpf(loads[i]) / (mp.pi * a * a)
        cand = [k for k, r in enumerate(OFFSETS) if r > a]
        for k in cand:  # inside out, the first with r >= 0.7 a_e
            mr = mp.mpf("0.24") * loads[i] / (mp.mpf(d[i, k]) / 1000 * OFFSETS[k])
            D = mp.mpf(thick[i])
            f = lambda ep: 1.5 * p * a * (1 / (mr * mp.sqrt(1 + (D / a * mp.cbrt(ep / mr)) ** 2))
                                           + (1 - 1 / mp.sqrt(1 + (D / a) ** 2)) / ep) - mp.mpf(d[i, 0]) / 1000
            ep = mp.findroot(f, (mp.mpf(1), mp.mpf(1e10)), solver="anderson")
            ae = mp.sqrt(a * a + (D * mp.cbrt(ep / mr)) ** 2)
            if OFFSETS[k] >= 0.7 * ae:
                break
        assert row["mr_offset_in"] == OFFSETS[k]
        assert abs(row["ep_psi"] / ep - 1) < 1e-9
        assert abs(row["mr_design_psi"] / (0.5 * mr) - 1) < 1e-13
        assert ("mr_sensor_too_close" in row["flags"]) == (OFFSETS[k] < 0.7 * ae)
    assert "mr_sensor_too_close" in nd["flags"][2]


def survey():
    """Stations 1 apart: means 10, 20 and 12 (noise up to 1.5, never across
    the survey's mean of 14.1), then 30 stations of 30."""
    rng = np.random.default_rng(28)
    means = np.repeat([10.0, 20.0, 12.0, 30.0], [400, 300, 300, 30])
    return np.arange(means.size, dtype=float), means + rng.uniform(-1.5, 1.5, means.size)


def test_segment_finds_three_sections_and_merges_the_short_stretch():
    x, v = survey()
    seg = z.survey.segment(x, v, min_length=100)
    assert list(zip(seg.units["station_from"], seg.units["station_to"])) == [(0, 399), (400, 699), (700, 1029)]
    st = seg.statistics(v)
    assert len(z.survey.segment(x, v, min_length=0).units) == 4
    for k, (lo, hi) in enumerate([(0, 400), (400, 700), (700, 1030)]):
        part = v[lo:hi]
        np.testing.assert_allclose(st.loc[k, ["mean", "sd", "p15", "p85"]],
                                   [part.mean(), part.std(ddof=1), np.percentile(part, 15), np.percentile(part, 85)],
                                   rtol=1e-12)
    assert seg.problems == []


def test_segment_names_bad_stations_and_arguments():
    seg = z.survey.segment([0, 10, 5, 20], [1, 1, 9, 5], min_length=50)
    assert seg.problems[0][0] == 2 and "station 5 is lower" in seg.problems[0][1]
    assert seg.problems[1][0] is None and "minimum length 50" in seg.problems[1][1]
    with pytest.raises(ValueError, match="values: 3 values expected"):
        z.survey.segment([0, 1, 2], [1, 2])
    with pytest.raises(ValueError, match="deflections: shape"):
        z.survey.indices(np.ones((2, 5)), [9000, 9000])
    with pytest.raises(ValueError, match="reference_load"):
        z.survey.indices(basins([20], [15]), 9000, reference_load=0)


def test_plot_shows_the_sections_and_their_means():
    x, v = survey()
    seg = z.survey.segment(x, v, min_length=100)
    path = os.path.join(os.environ.get("ZALK_TEST_TMP", "/tmp"), "survey_sections.png")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    fig = plot.survey_sections(x, v, seg, label="d0 (mils)", path=path)
    ax = fig.axes[0]
    levels = [c for c in ax.collections if c.get_label() == "section mean" or c.get_label().startswith("_")]
    segs = np.concatenate([np.asarray(c.get_segments()) for c in levels])
    np.testing.assert_allclose(sorted(segs[:, 0, 1]), sorted(seg.units["mean"]))
    assert [l.get_xdata()[0] for l in ax.lines[1:]] == [400, 700]
    assert os.path.getsize(path) > 5000
