"""The README's runnable Python blocks run as pasted, each in a fresh interpreter, so the README
cannot drift from the code."""

import os
import pathlib
import subprocess
import sys

import pytest

import vantrel

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
MARK = "<!-- runnable -->"


def runnable_blocks():
    """(line number, code) of every ```python block right after a line holding only MARK, and
    the line numbers of marks that no such block follows."""
    lines = README.read_text(encoding="utf-8").splitlines()
    blocks, stray = [], []
    for at, line in enumerate(lines):
        if line.strip() != MARK:
            continue
        if at + 1 < len(lines) and lines[at + 1] == "```python" and "```" in lines[at + 2:]:
            end = lines.index("```", at + 2)
            blocks.append((at + 3, "\n".join(lines[at + 2:end]) + "\n"))
        else:
            stray.append(at + 1)
    return blocks, stray


BLOCKS, STRAY_MARKS = runnable_blocks()


def test_the_readme_marks_its_examples():
    # A mark without a Python block would test nothing, silently.
    assert not STRAY_MARKS, f"README lines {STRAY_MARKS}: {MARK} not followed by a ```python block"
    # The examples a reader is promised, each by what it must show; a renamed mark would leave none.
    shown = {
        "the Python policy": ".pre_trade(",
        "the opening example": ".market_data(",
        "a cancel": "last_trade=None, leaves_quantity=Quantity(\"1\"), lock=lock, is_final=True",
        "a buy-by-volume remainder returned": 'adjust("USD", balance="53.14825", held="-53.14825")',
        "incoming not spendable": 'adjust("USD", incoming="100")',
        "a market buy refused without a mark": '("MarkPriceUnavailable", "mark price unavailable")',
        "the two meanings of available": 'adjust("USD", balance="1600", held="-600")',
    }
    missing = [what for what, text in shown.items() if not any(text in code for _, code in BLOCKS)]
    assert not missing, f"README: no runnable block shows {missing}"


@pytest.mark.parametrize("first_line, code", BLOCKS, ids=[f"README.md:{n}" for n, _ in BLOCKS])
def test_runnable_block_runs_as_pasted(first_line, code, tmp_path):
    # A fresh interpreter, outside the tree, that imports the same vantrel as this suite.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(pathlib.Path(vantrel.__file__).parents[1]), os.environ.get("PYTHONPATH", "")]))
    script = tmp_path / f"readme_line_{first_line}.py"
    script.write_text(code, encoding="utf-8")
    run = subprocess.run([sys.executable, str(script)], cwd=tmp_path, env=env, capture_output=True, text=True,
                         timeout=120)
    assert run.returncode == 0, f"README.md block from line {first_line}:\n{run.stderr}"
