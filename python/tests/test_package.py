"""The Python package against the C++ API, bit for bit, and its argument checks."""
import os
import re
import struct
import subprocess

import numpy as np
import pandas as pd
import pytest

import zalk3071 as z
from conftest import SOURCE

SAMPLE = SOURCE / "data" / "sample"

FOUR_LAYERS = [[3.5, 450e3, 0.35, 1.0], [9.0, 42e3, 0.40, 1.0], [30.0, 11e3, 0.45, 1.0],
               [0.0, 25e3, 0.45, 1.0]]
THREE_LOADS = [[0.0, 0.0, 90.0, 5.9], [13.5, 0.0, 100.0, 3.8], [0.0, 20.0, 80.0, 4.5]]
POINTS = [[0, 0, 0], [6, 2, 1.75], [13.5, 0, 8.0], [2, 3, 20.0], [0, 10, 60.0], [24, 0, 100.0]]


def cpp(text):
    """Runs the C++ API on the problem text; its results as Python floats."""
    exe = os.environ.get("ZALK_API_DUMP")
    if not exe:
        pytest.skip("ZALK_API_DUMP is not set (run through ctest)")
    out = subprocess.run([exe], input=text, capture_output=True, text=True, check=True).stdout
    return [float.fromhex(v) for v in out.split()]


def hexes(rows):
    return "\n".join(" ".join(float(v).hex() for v in row) for row in rows)


def test_analysis_equals_the_cpp_api_bit_for_bit():
    r = z.analyse(FOUR_LAYERS, THREE_LOADS, POINTS)
    text = f"analyse 4 3 {len(POINTS)}\n" + hexes(FOUR_LAYERS) + "\n" + hexes(THREE_LOADS) + "\n" + hexes(POINTS)
    want = np.array(cpp(text)).reshape(len(POINTS), 15)
    got = np.column_stack([r.w, r.u_x, r.u_y, r.stress, r.strain])
    assert got.tobytes() == want.tobytes()
    assert list(r.layer) == [1, 1, 2, 3, 4, 4]
    frame = r.to_frame()
    assert len(frame) == len(POINTS) and frame["w"].tolist() == r.w.tolist()
    assert {"stress_xx", "strain_xz", "principal_stress_1"} <= set(frame.columns)


def test_rating_equals_the_cpp_api_bit_for_bit(table, sample, rated):
    sections, tests = sample
    got = rated
    assert len(got) == len(tests)
    for k, sid in enumerate(sections["section"]):
        mine = tests[tests["section"] == sid]
        section = sections.iloc[k][z.SECTION_COLUMNS[1:]].astype(float).tolist()
        rows = mine[["hour", "load_lb", "reps_per_year", "surface_temp_f"] +
                    [f"d{x}_mils" for x in (0, 8, 12, 18, 24, 36)]].astype(float).values
        want = np.array(cpp(f"rate {table} {len(mine)}\n" + hexes([section]) + "\n" + hexes(rows)))
        cols = ["allowable_load", "e_surface", "e_surface_72f", "e_base", "e_subgrade", "depth_in"]
        mine_got = got[got["section"] == sid][cols].to_numpy()
        assert mine_got.tobytes() == want.reshape(-1, 6).tobytes(), sid
    assert got["test"].iloc[0] == 1 and list(got.columns) == z.RESULT_COLUMNS
    # frame.<column> must mean the column, never one of pandas' own attributes.
    assert not set(z.RESULT_COLUMNS + z.OVERLAY_RESULT_COLUMNS) & set(dir(pd.DataFrame))


@pytest.mark.parametrize("args, error, words", [
    (dict(layers="soil"), TypeError, "layers: numbers expected"),
    (dict(layers=[[1, 2], [3, 4]]), ValueError, "layers: shape (n, 3 or 4)"),
    (dict(layers=[[4, np.nan, .35], [0, 1e4, .45]]), ValueError, "layers: row 0, column 1 is nan"),
    (dict(loads=[[0, 0, 100]]), ValueError, "loads: shape (n, 4)"),
    (dict(points=np.zeros((0, 3))), ValueError, "points: no rows"),
    (dict(points=[[0, 0, 1j]]), TypeError, "points: real numbers"),
    (dict(units="feet"), ValueError, "units"),
])
def test_bad_arguments_are_named_before_any_work(args, error, words):
    call = dict(layers=FOUR_LAYERS, loads=THREE_LOADS, points=POINTS)
    call.update(args)
    with pytest.raises(error) as e:
        z.analyse(**call)
    assert words in str(e.value)


def unwrapped(text):
    """The reporter's lines joined again: its continuation lines start with ' ***'."""
    return re.sub(r"\n \*\*\* +", " ", text)


def _refused_poisson(rater, sections, tests):
    z.analyse([[4, 5e5, 0.6], [0, 1e4, 0.45]], THREE_LOADS, POINTS)


def _refused_days(rater, sections, tests):
    bad = sections.copy()
    bad.loc[0, "days_fall"] = -5.0
    rater.rate(bad, tests.iloc[:2])


def _refused_increment(rater, sections, tests):
    rater.overlay(sections, tests, z.read_overlay(SAMPLE / "overlay.csv"), dh_in=-1.0)


def _missing_table(rater, sections, tests):
    z.Rater("/nonexistent/backdefl.txt")


@pytest.mark.parametrize("call, routine, code, errc, input_error", [
    (_refused_poisson, "zalk::analyse", 7, "api_poisson", True),
    (_refused_days, "zalk::Rater", 19, "api_section_value", True),
    (_refused_increment, "zalk::Rater", 26, "api_increment", True),
    (_missing_table, "DEFLTAB", 1, "table_table_missing", False),   # a file the library cannot read, not a bad value
])
def test_library_refusals_are_zalk_errors_with_the_printed_text(rater, sample, call, routine, code, errc,
                                                                input_error):
    with pytest.raises(z.ZalkError) as e:
        call(rater, *sample)
    err = e.value
    assert (err.routine, err.code, err.type) == (routine, code, 5)
    assert err.errc is z.Errc[errc]  # the program's branch, by name
    assert "ERROR" in str(err) and err.text == str(err) and err.message in unwrapped(err.text)
    assert isinstance(err, z.ZalkInputError) == input_error
    assert isinstance(err, ValueError) == input_error


def test_bad_frames_are_named(rater, sample):
    sections, tests = sample
    with pytest.raises(ValueError, match="missing column"):
        rater.rate(sections, tests.drop(columns=["d8_mils"]))
    bad = tests.copy()
    bad.loc[3, "d12_mils"] = np.nan
    with pytest.raises(ValueError, match="d12_mils row 3"):
        rater.rate(sections, bad)
    with pytest.raises(ValueError, match="not in sections"):
        rater.rate(sections.iloc[:1], tests)
    with pytest.raises(TypeError):
        rater.rate(sections.values, tests)
    with pytest.raises(ValueError, match="method"):
        rater.rate(sections, tests.iloc[:2], method="guess")
    with pytest.raises(ValueError, match="depth must be"):
        rater.rate(sections, tests.iloc[:2], method="fit", fit=z.FitSettings(depth="deep"))
    with pytest.raises(ValueError, match="fit.lower: value 1 is nan"):
        rater.rate(sections, tests.iloc[:2], fit=z.FitSettings(lower=(5e4, np.nan, 2e3)))
    with pytest.raises(TypeError, match="fit: a FitSettings"):
        rater.rate(sections, tests.iloc[:2], fit=["continuous"])
    items = z.read_overlay(SAMPLE / "overlay.csv")
    with pytest.raises(ValueError, match="section S4 has no test"):
        rater.overlay(sections, tests[tests["section"] != "S4"], items, 1.0)
    with pytest.raises(ValueError, match="items: missing column"):
        rater.overlay(sections, tests, items.drop(columns=["e_base"]), 1.0)


def test_back_calculate_one_test(rater, sample, rated):
    sections, tests = sample
    one = z.back_calculate(rater, sections.iloc[0], tests.iloc[0])
    whole = rated.iloc[0]
    assert one["e_surface"] == whole["e_surface"] and one["allowable_load"] == whole["allowable_load"]


def test_global_search_gives_standard_errors_and_a_band(rater, sample, rated):
    sections, tests = sample
    one = z.back_calculate(rater, sections.iloc[0], tests.iloc[0], method="fit",
                           fit={"depth": "global", "noise_mils": 0.08, "noise_relative": 0.01})
    assert one["fit_rms_pct"] <= rated.iloc[0]["fit_rms_pct"] + 1e-9
    for column in ("e_surface_se_pct", "e_base_se_pct", "e_subgrade_se_pct"):
        assert 0 < one[column] < 1000
    assert one["allowable_load_low"] < one["allowable_load"] < one["allowable_load_high"]
    with pytest.raises(z.ZalkError, match="noise_relative"):
        z.back_calculate(rater, sections.iloc[0], tests.iloc[0], method="fit",
                         fit={"noise_mils": 0.0, "noise_relative": 0.0})
    with pytest.raises(ValueError, match="unknown setting"):
        z.back_calculate(rater, sections.iloc[0], tests.iloc[0], method="fit", fit={"noise": 1})


def test_fit_method_explains_the_basin_at_least_as_well(rater, sample, rated):
    sections, tests = sample
    one = z.back_calculate(rater, sections.iloc[0], tests.iloc[0], method="fit")
    assert one["fit_rms_pct"] <= rated.iloc[0]["fit_rms_pct"] + 1e-9
    assert np.isfinite(one["allowable_load"]) and isinstance(one["flag_names"], str)


CANDIDATES = z.FitSettings()


@pytest.mark.parametrize("settings, check", [
    # Refining the depth between the candidates leaves the basin explained
    # at least as well, at depths no candidate has.
    (z.FitSettings(depth="continuous"),
     lambda got, base: (got["fit_rms_pct"] <= base["fit_rms_pct"] + 1e-9).all()
     and (got["depth_in"] != base["depth_in"]).any()),
    # A surface modulus capped below the unbounded fit's answer is reported.
    (z.FitSettings(upper=(400e3,) + CANDIDATES.upper[1:]),
     lambda got, base: got["flag_names"].str.contains("at_bound").any()
     and not base["flag_names"].str.contains("at_bound").any()),
])
def test_fit_settings_reach_the_library(rater, sample, settings, check):
    sections, tests = sample
    few = tests.iloc[:4]
    base = rater.rate(sections, few, method="fit")
    assert check(rater.rate(sections, few, method="fit", fit=settings), base)


def test_library_warnings_are_issued_and_kept_with_their_test(rater, sample):
    sections, tests = sample
    few = tests.iloc[:3].copy()
    # A basin of a thousandth of a mil gives moduli beyond any material.
    few.loc[few.index[1], [f"d{x}_mils" for x in (0, 8, 12, 18, 24, 36)]] = 1e-3
    with pytest.warns(z.ZalkWarning) as caught:
        got = rater.rate(sections, few)
    w = caught[0].message
    assert caught[0].filename == __file__  # attributed to the caller's line
    assert len(caught) == 1 and (w.routine, w.code) == ("ZALK3071DLL", 3) and w.message in unwrapped(str(w))
    assert got["warnings"].tolist() == ["", w.message, ""] and w.message.startswith("Section 1, test 2:")
    assert np.isnan(got["allowable_load"].iloc[1]) and np.isfinite(got["allowable_load"].iloc[[0, 2]]).all()


def recorded_overlay():
    """The overlay iteration of the sample in 1-inch passes, recorded from the
    legacy core with every fast path off (tests/data/recorded)."""
    rows = []
    lines = (SOURCE / "tests" / "data" / "recorded" / "sample_overlay.txt").read_text().splitlines()
    fields = {f[0]: f[2:] for f in (line.split() for line in lines if not line.startswith("#"))}
    for sid in ("S1", "S2", "S3", "S4"):
        for k, (t, r) in enumerate(zip(fields[f"{sid}.tpass"], fields[f"{sid}.rpass"])):
            rows.append((sid, k + 1, struct.unpack(">d", bytes.fromhex(t))[0],
                         struct.unpack(">d", bytes.fromhex(r))[0]))
    return pd.DataFrame(rows, columns=z.OVERLAY_RESULT_COLUMNS)


def test_overlay_equals_the_recorded_legacy_iteration_bit_for_bit(rater, sample):
    sections, tests = sample
    got = rater.overlay(sections, tests, z.read_overlay(SAMPLE / "overlay.csv"), dh_in=1.0)
    pd.testing.assert_frame_equal(got, recorded_overlay(), check_exact=True, check_dtype=False)
