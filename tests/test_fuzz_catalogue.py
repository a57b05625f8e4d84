"""The fuzz and hostile-server catalogue in its short mode; `python
tests/fuzz_catalogue.py --long` runs the long one. QOV_FUZZ_ARGS adds options
(a sanitizer run: "--time-factor 3 --rss-mib 2048", with QOV_CHILD_LD_PRELOAD)."""
import os
import shlex

import fuzz_catalogue


def test_short_catalogue_finds_no_crash_hang_or_bad_result(tls, tmp_path):
    options = ["--short", "--seed", "1", "--failures", str(tmp_path / "failures.json")]
    failed, report = fuzz_catalogue.main(options + shlex.split(os.environ.get("QOV_FUZZ_ARGS", "")), tls, tmp_path)
    assert not failed, report
