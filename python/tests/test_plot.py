"""The plots: rendered to PNG files, and their plotted data equal to the results."""
import os

import numpy as np
import pandas as pd

import zalk3071 as z
from zalk3071 import plot

OUT = os.environ.get("ZALK_TEST_TMP", "/tmp")


def png(name):
    os.makedirs(OUT, exist_ok=True)
    return os.path.join(OUT, name)


def is_png(path):
    with open(path, "rb") as f:
        return f.read(8) == b"\x89PNG\r\n\x1a\n" and os.path.getsize(path) > 5000


def test_basin_plot_shows_measured_and_computed(sample, rated):
    sections, tests = sample
    result = rated.iloc[0]
    t = tests.iloc[0]
    s = sections.iloc[0]
    measured = t[[f"d{x}_mils" for x in (0, 8, 12, 18, 24, 36)]].astype(float).to_numpy()
    computed = plot.computed_basin(result, s["surface_in"], s["base_in"], t["load_lb"])
    # The back-calculated structure explains the measured basin to a few per cent.
    assert np.all(np.abs(computed - measured) < 0.08 * measured[0])
    fig = plot.basin(measured, {"design": computed}, path=png("basin.png"))
    ax = fig.axes[0]
    lines = ax.get_lines()
    assert np.array_equal(lines[0].get_ydata(), measured)
    assert np.array_equal(lines[1].get_ydata(), computed)
    assert "mils" in ax.get_ylabel() and "(in)" in ax.get_xlabel()
    assert is_png(png("basin.png"))


def test_section_plot_carries_the_results(rated):
    results = rated
    fig = plot.section(results, "S1", path=png("section.png"))
    top, middle, bottom = fig.axes
    s1 = results[results["section"] == "S1"]
    assert np.array_equal(top.get_lines()[0].get_ydata(), s1["e_surface"].to_numpy())
    assert np.array_equal(middle.get_lines()[0].get_ydata(), s1["allowable_load"].to_numpy())
    assert np.array_equal(bottom.get_lines()[0].get_ydata(), s1["depth_in"].to_numpy())
    assert top.get_yscale() == "log" and "psi" in top.get_ylabel()
    assert is_png(png("section.png"))


def test_season_plot_bars_equal_the_values(rated):
    values = rated.iloc[0][[f"allowable_{s}" for s in ("fall", "winter", "spring1", "spring2", "summer")]]
    values = [float(v) for v in values]
    assert all(np.isfinite(values))
    fig = plot.seasons(values, path=png("seasons.png"))
    heights = [p.get_height() for p in fig.axes[0].patches]
    assert heights == values
    assert is_png(png("seasons.png"))


def test_report_of_a_tool_run_draws_every_section(tmp_path, rated, sample):
    from zalk3071 import report

    sections, tests = sample
    results = rated.assign(line=range(2, len(rated) + 2))
    results.to_csv(tmp_path / "results.csv", index=False)
    rows = []
    for i in range(2):
        for k, x in enumerate((0, 8, 12, 18, 24, 36)):
            m = float(tests.iloc[i][f"d{x}_mils"])
            rows.append({"section": "S1", "test": i + 1, "sensor": k + 1, "offset_in": x, "measured_mils": m,
                         "computed_mils": m * 1.01, "residual": 0.01})
    pd.DataFrame(rows).to_csv(tmp_path / "residuals.csv", index=False)
    written = report.draw(tmp_path / "results.csv", tmp_path / "residuals.csv", tmp_path / "plots")
    names = sorted(os.path.basename(p) for p in written)
    assert names == ["basin_S1_1.png", "basin_S1_2.png"] + [f"section_{s}.png" for s in sections["section"]]
    assert all(is_png(p) for p in written)
