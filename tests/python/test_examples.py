"""The quickstart example runs and says what it should."""

import pathlib
import runpy

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "quickstart.py"


def test_quickstart_runs(capsys):
    runpy.run_path(str(EXAMPLE), run_name="__main__")
    out = capsys.readouterr().out
    assert "Lock([(7, 64000.5)])" in out
    assert "held after rollback                    4.0 BTC" in out
    assert "OrderValidationPolicy: InvalidFieldValue - order quantity must be non-zero" in out
    assert "ExposureLimit: RiskLimitExceeded - exposure limit exceeded" in out
    assert "AccountAdjustmentBatchResult(ok=True)" in out
