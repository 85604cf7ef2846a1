"""Each example runs on its own, exits 0 and prints the verdicts it is there to show."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

import vantrel

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"

# Compared with runs of blanks squeezed to one, so column widths may change.
SHOWS = {
    "risk_desk.py": [
        "#1 buy 1 BTC @ 60,000 accepted USD 100,000 / 0 -> 40,000 / 60,000",
        "#2 buy 0 BTC @ 60,000 REFUSED USD 40,000 / 60,000 unchanged "
        "OrderValidationPolicy InvalidFieldValue order quantity must be non-zero",
        "#3 buy 3 BTC @ 60,000 REFUSED USD 40,000 / 60,000 unchanged "
        "OrderSizeLimitPolicy OrderExceedsLimit order size exceeded requested quantity 3, max allowed: 2;",
        "#4 buy 1 BTC @ 60,000 REFUSED USD 40,000 / 60,000 unchanged SpotFundsPolicy InsufficientFunds "
        "spot funds insufficient account 1, asset USD: available 40000, requested 60000",
        "#5 buy 2 ETH @ market accepted USDT 20,000 / 0 -> 13,994 / 6,006",
        "#9 buy 0.1 BTC @ 59,950 REFUSED USD 4,055 / 95,945 unchanged RateLimitPolicy RateLimitExceeded "
        "rate limit exceeded: broker barrier submitted 9 orders in 1s window, max allowed: 8",
        "4 accepted, 6 refused",
        "#1 buy 1 BTC @ 60,000 committed USD 4,055 / 95,945 unchanged",
        "#7 buy 0.5 BTC @ 59,900 rolled back USD 4,055 / 95,945 -> 34,005 / 65,995",
        "#11 buy 1 ETH @ market REFUSED USDT 13,994 / 6,006 unchanged "
        "SpotFundsPolicy MarkPriceUnavailable mark price unavailable",
        "#1 buy 1 BTC @ 60,000 filled USD 34,005 / 65,995 -> 34,025 / 5,995 at 59,980 BTC 0 / 0 -> 1 / 0",
        "pnl -590, fee 15: realized USD P&L -1004 ACCOUNT 1 BLOCKED PnlBoundsKillSwitchPolicy PnlKillSwitchTriggered "
        "pnl kill switch triggered realized pnl -1004, settlement asset USD, account 1",
        "#14 buy 0.1 BTC @ 58,800 REFUSED USD 99,065 / 0 unchanged PnlBoundsKillSwitchPolicy PnlKillSwitchTriggered",
        re.compile(r"limit buy, accepted, rolled back [\d,]+ orders/s \d+\.\d\d µs each"),
    ],
    "quickstart.py": [
        "locked prices Lock([(7, 64000.5)])",
        "held after rollback 4.0 BTC",
        "OrderValidationPolicy: InvalidFieldValue - order quantity must be non-zero",
        "ExposureLimit: RiskLimitExceeded - exposure limit exceeded",
        "AccountAdjustmentBatchResult(ok=True)",
    ],
}


@pytest.mark.parametrize("example", sorted(SHOWS))
def test_example_runs_and_shows_its_verdicts(example):
    # The example imports the same vantrel as this suite, whichever build that is.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(pathlib.Path(vantrel.__file__).parents[1]), os.environ.get("PYTHONPATH", "")]))
    run = subprocess.run([sys.executable, str(EXAMPLES / example)], env=env, capture_output=True, text=True,
                         timeout=120)
    assert run.returncode == 0, run.stderr
    out = " ".join(run.stdout.split())
    missing = [s for s in SHOWS[example] if not (s.search(out) if isinstance(s, re.Pattern) else s in out)]
    assert not missing, run.stdout
