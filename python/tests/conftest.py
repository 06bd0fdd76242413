import os
import pathlib

import pytest

SOURCE = pathlib.Path(os.environ.get("ZALK_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))


@pytest.fixture(scope="session")
def table():
    path = SOURCE / "data" / "backdefl.txt"
    assert path.is_file(), f"the shipped table {path} is missing"
    return str(path)


@pytest.fixture(scope="session")
def sample():
    import zalk3071 as z

    d = SOURCE / "data" / "sample"
    return z.read_sections(d / "sections.csv"), z.read_tests(d / "tests.csv")


@pytest.fixture(scope="session")
def rater(table):
    import zalk3071 as z

    return z.Rater(table)


@pytest.fixture(scope="session")
def rated(rater, sample):
    """The whole sample rated once."""
    sections, tests = sample
    return rater.rate(sections, tests)
