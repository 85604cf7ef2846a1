"""The README's runnable Python blocks run as pasted, each in a fresh interpreter, so the README
cannot drift from the code."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

import vantrel

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
MARK = "<!-- runnable -->"


def runnable_blocks():
    """(line number, code) of every ```python block right after a line holding only MARK."""
    lines = README.read_text(encoding="utf-8").splitlines()
    blocks = []
    for at, line in enumerate(lines):
        if line.strip() != MARK:
            continue
        # A mark not followed by a Python block would silently test nothing.
        assert at + 1 < len(lines) and lines[at + 1] == "```python", f"README line {at + 1}: {MARK} without a block"
        end = lines.index("```", at + 2)
        blocks.append((at + 3, "\n".join(lines[at + 2:end]) + "\n"))
    return blocks


BLOCKS = runnable_blocks()


def test_the_readme_marks_its_examples():
    # The opening example and the Python policy at least; a renamed mark would leave none.
    assert len(BLOCKS) >= 2
    assert any(".pre_trade(" in code for _, code in BLOCKS)
    assert any(".market_data(" in code for _, code in BLOCKS)


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
