"""tersolv.calc against `tersolv calc`: the same files written, its failures as the package's exceptions."""

import os
import shutil
import subprocess

import pytest

import tersolv

HEAD = 'T\nSystem definitions\n"T, C","P, MPa",m(H2S),m(NaCl)\n'

# name, file (contents, or the example workbook), keyword arguments, then the exception with its attributes
# and the command line's exit code
CASES = [
    ("example, active sheet", None, {}, None, {}, 0),
    ("example, components", None, dict(sheet="Components"), None, {}, 0),
    ("example, into another file", None, dict(sheet="Components", output="out.xlsx"), None, {}, 0),
    ("csv", HEAD + "25,10,0.1,1\n100,sat,0.5,7\n", {}, None, {}, 0),
    ("rejected", HEAD + "25,10,0.1,1\n350,10,0.1,1\n", {},
     tersolv.InputRejected, dict(row=5, column=1, status=4, message="T/P/D value(s) out of range"), 3),
    ("run-time error", HEAD + "25,10,0.1,1\n400,50,0.1,1\n25,20,0.1,1\n", dict(extended_range=True),
     tersolv.CalculationError, dict(row=5), 4),
    ("no such sheet", None, dict(sheet="Nope"), tersolv.WorkbookError, {}, 2),
    ("no such file", "", dict(path="absent.xlsx"), tersolv.WorkbookError, {}, 5),
    ("not a workbook file", "", dict(path="data.ods"), tersolv.WorkbookError, {}, 5),
]


def command_line(kwargs, path):
    flags = {"sheet": ["--sheet", kwargs.get("sheet")], "output": ["-o", kwargs.get("output")],
             "extended_range": ["--extended-range"]}
    args = [os.environ["TERSOLV_EXE"], "calc", path, *(a for key, value in kwargs.items() if value for a in flags[key])]
    return subprocess.run(args, capture_output=True, text=True, check=False).returncode


def prepare(folder, contents, kwargs):
    folder.mkdir()
    path = folder / kwargs.get("path", "Example.xlsx" if contents is None else "Ternary system.csv")
    if contents is None:
        shutil.copy(os.environ["TERSOLV_EXAMPLE"], path)
    elif path.suffix == ".csv":
        path.write_text(contents)
    return path


@pytest.mark.parametrize("name, contents, kwargs, error, attributes, exit_code", CASES, ids=[c[0] for c in CASES])
def test_calc_as_the_command_line(tmp_path, monkeypatch, name, contents, kwargs, error, attributes, exit_code):
    ours, theirs = prepare(tmp_path / "py", contents, kwargs), prepare(tmp_path / "cli", contents, kwargs)
    options = {key: value for key, value in kwargs.items() if key != "path"}
    before = ours.read_bytes() if ours.exists() else None
    monkeypatch.chdir(tmp_path / "py")  # an output file's name is relative
    if error is None:
        assert tersolv.calc(ours, **options) > 0
    else:
        with pytest.raises(error) as raised:
            tersolv.calc(ours, **options)
        assert {key: getattr(raised.value, key) for key in attributes} == attributes
    monkeypatch.chdir(tmp_path / "cli")
    assert command_line(options, theirs.name) == exit_code
    written = options.get("output", ours.name)
    if os.path.exists(tmp_path / "cli" / written):
        assert (tmp_path / "py" / written).read_bytes() == (tmp_path / "cli" / written).read_bytes()
    if exit_code in (2, 3) and before is not None:
        assert ours.read_bytes() == before  # not changed
