"""The README's Python code runs as written against the simulator and prints
what the README shows; its acquisition loop is examples/acquire.py."""

import contextlib
import os
import re
import subprocess
import sys

import pytest

from conftest import running_sim

HERE = os.path.dirname(__file__)
README = os.environ.get("VELTRA_README", os.path.join(HERE, "..", "..", "README.md"))
EXAMPLES = os.environ.get("VELTRA_EXAMPLES", os.path.join(HERE, "..", "..", "examples"))
# The fragments drive `device`, "the controller's path as in the loop above".
PRELUDE = "import os\ndevice = os.environ['VELTRA_DEVICE']\n"


def python_blocks():
    """(code, the plain output block right after it or None) of each Python block."""
    text = open(README, encoding="utf-8").read()
    text = text[text.index("## From Python"):]
    for m in re.finditer(r"```python\n(.*?)```\n(?:\n```\n(.*?)```\n)?", text, re.S):
        yield m.group(1), m.group(2)


def masked(text):
    """Output with what changes from run to run (numbers, terminals) masked."""
    return re.sub(r"\d+", "0", re.sub(r"/dev/pts/\d+", "DEV", text))


def only_traffic(text):
    """Traffic lines and nothing else, a command sent among them."""
    return re.fullmatch(r"(\S+ (TX|RX) \S+( [0-9A-F]{2})+\n)+", text) and " TX " in text


# One check per block, found by a line of its code: how it runs and what it must print.
CHECKS = [
    ("frames = 5", "python", lambda out, readme, _: (
        out.stdout.splitlines()[:5] == ["frame %d: exposed for 20.0 ms" % n for n in range(1, 6)]
        and out.stdout.splitlines()[5] == readme.strip())),
    ('c.repeat(3)', "python", lambda out, readme, _: masked(out.stdout) == masked(readme)),
    ('c.repeat("continuous")', "python", lambda out, readme, _: (
        [line.split()[1] for line in out.stdout.splitlines()][:10] == [str(n) for n in range(1, 11)])),
    ("basicConfig", "python", lambda out, readme, _: (
        re.search(r"INFO veltra: \S+ opened at 9600 baud", out.stderr)
        and re.search(r"DEBUG veltra: \S+ TX \S+ CC$", out.stderr, re.M)
        and re.search(r"INFO veltra: \S+ closed$", out.stderr, re.M)
        and masked(readme).splitlines()[:2] == masked(out.stderr).splitlines()[:2])),
    ('FileHandler("traffic.log")', "python", lambda out, readme, cwd: (
        only_traffic(open(os.path.join(cwd, "traffic.log")).read()) and not out.stderr)),
    ('veltra.Simulator("--exposure-ms", "20")', "no device", lambda out, readme, _: out.stdout == "0:00:00.020000\n"),
    ("def test_exposure_is_programmed", "pytest", lambda out, readme, _: re.search(r"^1 passed", out.stdout, re.M)),
]


def check_for(code):
    found = [c for c in CHECKS if c[0] in code]
    assert len(found) == 1, "README block without its one check here:\n" + code
    return found[0]


BLOCKS = [b for b in python_blocks() if "rfc2217://" not in b[0]]


@pytest.mark.parametrize("code,readme", BLOCKS, ids=[check_for(code)[0] for code, _ in BLOCKS])
def test_readme_block_runs_as_written(tmp_path, code, readme):
    _, how, expected = check_for(code)
    env = {k: v for k, v in os.environ.items() if k != "VELTRA_DEVICE"}
    if how == "pytest":
        (tmp_path / "test_block.py").write_text(code)
        command = [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", "test_block.py"]
    else:
        command = [sys.executable, "-c", (PRELUDE if how == "python" else "") + code]
    # The Simulator blocks start their own.
    with running_sim() if how == "python" else contextlib.nullcontext((None, None)) as (_, path):
        if path:
            env["VELTRA_DEVICE"] = path
        out = subprocess.run(command, env=env, cwd=tmp_path, capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stdout + out.stderr
    assert expected(out, readme, str(tmp_path)), "README block printed:\n%s%s" % (out.stdout, out.stderr)


def test_the_acquisition_loop_is_the_example_script():
    loop = next(code for code, _ in python_blocks())
    script = open(os.path.join(EXAMPLES, "acquire.py"), encoding="utf-8").read()
    assert script.endswith(loop), "the README's loop and examples/acquire.py differ"
