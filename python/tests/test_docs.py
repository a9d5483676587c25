"""The README's Python example runs as written against the simulator."""

import os
import re
import subprocess
import sys

from conftest import running_sim

README = os.environ.get("VELTRA_README", os.path.join(os.path.dirname(__file__), "..", "..", "README.md"))


def test_readme_example_runs_unchanged():
    text = open(README, encoding="utf-8").read()
    example = re.search(r"```python\n(.*?)```", text, re.S).group(1)
    with running_sim() as (_, path):
        run = subprocess.run([sys.executable, "-c", example], env={**os.environ, "VELTRA_DEVICE": path},
                             capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert lines[:5] == [f"frame {n}: exposed for 20.0 ms" for n in range(1, 6)]
    assert lines[5].startswith("Status(shutter='close', mode='fast'") and "exposure=00:00:00.020.0" in lines[5]
