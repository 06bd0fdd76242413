"""The package's answers to misuse: a Rater shared by threads, section ids
given twice or missing, a failing section among good ones, odd CSV text."""
import threading

import pandas as pd
import pytest

import zalk3071 as z
from zalk3071 import distributed


def test_one_rater_shared_by_two_threads_gives_the_serial_results(rater, sample):
    sections, tests = sample
    few = tests.iloc[:4]
    serial = rater.rate(sections, few)
    for run in range(100):
        results, failures = [None, None], []

        def work(k):
            try:
                results[k] = rater.rate(sections, few)
            except Exception as e:  # noqa: BLE001 - reported below with its run
                failures.append(e)

        threads = [threading.Thread(target=work, args=(k,)) for k in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert not failures, (run, failures)
        for r in results:
            pd.testing.assert_frame_equal(r, serial, check_exact=True)


def test_a_section_given_twice_is_refused_and_no_tests_give_no_rows(rater, sample):
    sections, tests = sample
    with pytest.raises(ValueError, match=r"section\(s\) S1 given more than once"):
        rater.rate(pd.concat([sections.iloc[:1], sections]), tests.iloc[:2])
    empty = rater.rate(sections, tests.iloc[:0])
    assert len(empty) == 0 and list(empty.columns) == z.RESULT_COLUMNS


@pytest.mark.parametrize("line, section", [
    ("NA", "NA"),          # not read as a missing value
    ("S#2", "S#2"),        # a '#' inside a field is kept
])
def test_section_ids_are_read_as_written(tmp_path, line, section):
    path = tmp_path / "tests.csv"
    path.write_text("# a comment line\n" + ",".join(z.TEST_COLUMNS) + "\n"
                    + f"{line},15.94,9453,23.25,17.99,14.70,10.84,7.84,4.15,151700,47.3\n")
    frame = z.read_tests(path)
    assert list(frame["section"]) == [section] and frame["load_lb"].iloc[0] == 9453


def test_surveys_refuse_unknown_sections_and_keep_the_others_results(table, sample, tmp_path):
    sections, tests = sample
    few = tests.groupby("section").head(2)
    survey = tmp_path / "a.csv"
    few.to_csv(survey, index=False)
    with pytest.raises(ValueError, match=r"not in sections \(first: .*a.csv row 1\)"):
        distributed.rate_surveys([survey], sections.iloc[1:], table)
    hot = sections.copy()
    hot.loc[0, "air_fall_f"] = 1e300  # refused by the library's range check
    with pytest.raises(distributed.SurveyError) as e:
        distributed.rate_surveys([survey], hot, table)
    failed = str(sections["section"].iloc[0])
    assert list(e.value.errors) == [failed] and isinstance(e.value.errors[failed], z.ZalkError)
    good = distributed.rate_surveys([survey], sections, table)
    expected = good[few["section"].astype(str).to_numpy() != failed].reset_index(drop=True)
    pd.testing.assert_frame_equal(e.value.results, expected, check_exact=True)


def test_a_basin_beyond_any_pavement_is_flagged_and_the_others_rated(rater, sample):
    sections, tests = sample
    few = tests.iloc[:3].copy()
    defl = [c for c in few.columns if c.endswith("_mils")]
    few.loc[few.index[1], defl] = few.loc[few.index[1], defl] * 1e298
    got = rater.rate(sections, few, method="fit")
    assert "not_fitted" in got["flag_names"].iloc[1] and "cannot be fitted: deflection 1" in got["message"].iloc[1]
    assert got["allowable_load"].drop(index=1).notna().all() and got["message"].drop(index=1).eq("").all()
