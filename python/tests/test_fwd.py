"""zalk3071.read_fwd on the synthetic field files of tests/data/fwd: every
drop with its metadata as the generator listed it, the sensor offsets in each
form, and files that are not field files."""
import csv
import math

import pytest

from conftest import SOURCE

import zalk3071 as z

FWD = SOURCE / "tests" / "data" / "fwd"


def expected(name):
    return [r for r in csv.DictReader(open(FWD / "expected.csv")) if r["file"] == name]


@pytest.mark.parametrize("name, fmt, operator", [
    ("device_a.f25", "F25", "OPR A"), ("device_b.f25", "F25", "OPR B"), ("survey.dat", "JILS", "xy")])
def test_every_drop_with_its_metadata(name, fmt, operator):
    drops = z.read_fwd(FWD / name)
    want = expected(name)
    assert drops.attrs["format"] == fmt and drops.attrs["read"]
    assert drops.attrs["metadata"]["operator"] == operator
    assert drops.attrs["rejected_lines"] == []
    assert len(drops) == len(want)
    mils = fmt == "JILS"
    for (_, d), e in zip(drops.iterrows(), want):
        assert d["line"] == int(e["line"]) and d["station"] == float(e["station"]) and d["lane"] == e["lane"]
        assert d["time"].strftime("%Y-%m-%d %H:%M") == f"{e['date']} {e['time']}"
        assert d["latitude"] == pytest.approx(float(e["latitude"]), abs=1e-12)
        assert d["longitude"] == pytest.approx(float(e["longitude"]), abs=1e-12)
        load = float(e["load"]) * 1000 if mils else float(e["load"]) * math.pi * 0.15 ** 2 * 1000 / 4.4482216152605
        assert d["load_lb"] == pytest.approx(load, rel=1e-14)
        scale = 25.4 if mils else 1.0
        assert list(d["deflections_um"]) == [float(v) * scale for v in e["deflections"].split(";")]
        assert bool(d["implausible"]) == (e["flagged"] == "1")
        # C in the F25 files, F in JILS: the frame gives F.
        surface = float(e["surface"]) if mils else float(e["surface"]) * 9 / 5 + 32
        assert d["surface_temp_f"] == pytest.approx(surface, rel=1e-15)


@pytest.mark.parametrize("offsets, first_mm", [
    (None, (0.0, 8 * 25.4)), ("0,8,12,18,24,36,48,60,72in", (0.0, 8 * 25.4)),
    ("0, 200, 300, 450, 600, 900, 1200, 1500, 1800mm", (0.0, 200.0)),
    ([0, 250, 300, 450, 600, 900, 1200, 1500, 1800], (0.0, 250.0))])
def test_sensor_offsets_in_each_form(offsets, first_mm):
    drops = z.read_fwd(FWD / "survey.dat", sensor_offsets=offsets)
    assert drops["offsets_mm"][0][:2] == pytest.approx(first_mm, rel=1e-15)


@pytest.mark.parametrize("offsets, error, words", [
    ("0,8,12", ValueError, "unit"), ("0,12,8in", ValueError, "not beyond"), ([0, 300, 200], ValueError, "increasing"),
    ([0, float("nan")], ValueError, "finite"), (object(), TypeError, "sensor_offsets")])
def test_bad_offsets_are_named(offsets, error, words):
    with pytest.raises(error, match=words):
        z.read_fwd(FWD / "survey.dat", sensor_offsets=offsets)


def test_a_file_of_another_format_gives_no_rows_and_says_why(tmp_path):
    other = tmp_path / "other.csv"
    other.write_text("section,hour\nS1,9\n")
    drops = z.read_fwd(other)
    assert len(drops) == 0 and not drops.attrs["read"]
    assert "neither an F25" in drops.attrs["diagnostics"][0]["message"]
