"""Comparing the model with measurements: reading a measurement file, the mappings, the statistics
and `python3 -m tersolv validate`."""

import json
import math
import os
import subprocess
import sys

import pytest

import tersolv
from tersolv import validate as validation

HEADER = "group,dataset,T_C,P_MPa,m_NaCl,quantity,value,unit,provenance,note\n"


def text(*rows, header=HEADER):
    return (header + "".join(row + "\n" for row in rows)).encode()


def write(tmp_path, content):
    path = tmp_path / "data.csv"
    path.write_bytes(content)
    return path


# A measured row, what the model is asked (layout, T, P, m(NaCl)) and the measured value in the
# model's quantity (worked out by hand).
MAPPINGS = [
    ("w,A,25,1.5,0,x(H2S) liquid,0.02,mole fraction,,", "components", 25.0, 1.5, 0.0,
     "h2s_solubility", 0.02 / 0.98 / 0.0180153),
    ("b,A,60,2,3,x(H2S) liquid,0.01,mole fraction,,", "ternary", 60.0, 2.0, 3.0,
     "h2s_solubility", 0.01 / 0.99 / 0.0180153),
    ("a,A,150,sat,2,osmotic coefficient φ,0.95,1,,", "ternary", 150.0, "sat", 2.0, "osmotic_coefficient", 0.95),
    ("a,A,25,≈0.1 (not stated),1,mean activity coeff. γ± (molal),0.657,1,,", "ternary", 25.0, 0.1, 1.0,
     "nacl_activity_coefficient", 0.657),
    ("h,A,250,p_sat(solution) (not given),—,saturation molality of halite,9.07,mol/kg H2O,,", "components",
     250.0, "sat", 0.0, "halite_solubility", 9.07),
    ("d,A,80,40,0.5,density ρ,1010.5,kg/m3,,", "ternary", 80.0, 40.0, 0.5, "density", 1.0105),
    ("d,A,80,40,0.5,density ρ,1.0105,g/cm3,,", "ternary", 80.0, 40.0, 0.5, "density", 1.0105),
]


def test_each_quantity_is_compared_with_the_model_value_at_its_state(tmp_path):
    points = validation.read_measurements(write(tmp_path, text(*(row for row, *_ in MAPPINGS))))
    for c, (row, layout, T, P, m, key, measured) in zip(validation.compare(points), MAPPINGS):
        expected = (tersolv.components(T, P) if layout == "components" else tersolv.ternary(T, P, 0.0, m))[key]
        assert c.model == pytest.approx(float(expected), rel=1e-15), row
        assert c.measured == pytest.approx(measured, rel=1e-12), row
        assert c.deviation == pytest.approx(100.0 * (c.model / measured - 1.0), rel=1e-9), row
        assert not c.reason, row


# A row that cannot be read, and what its message says.
BAD_ROWS = [
    ("w,A,hot,1,0,x(H2S) liquid,0.02,mole fraction,,", "T_C 'hot' is not a number"),
    ("w,A,25,,0,x(H2S) liquid,0.02,mole fraction,,", "empty or missing P_MPa"),
    ("w,A,25,-1,0,x(H2S) liquid,0.02,mole fraction,,", "P_MPa '-1' is negative"),
    ("w,A,25,1,-2,x(H2S) liquid,0.02,mole fraction,,", "m_NaCl '-2' is negative"),
    ("w,A,25,1,,osmotic coefficient φ,0.9,1,,", "m_NaCl is needed"),
    ("w,A,25,1,1,saturation molality of halite,6.1,mol/kg,,", "property of pure water"),
    ("w,A,25,1,0,x(H2S) liquid,1.2,mole fraction,,", "value '1.2' is out of range"),
    ("w,A,25,1,0,x(H2S) liquid,nan,mole fraction,,", "not a finite number"),
    ("w,A,25,1,0,x(H2S) liquid,0.02,ppm,,", "unit 'ppm' of 'x(H2S)'"),
    ("w,A,25,1,0,viscosity,1.1,mPa s,,", "quantity 'viscosity' is not one that can be compared"),
    ("w,A,25,1,0,x(H2S) liquid,0.02,mole fraction,,,extra", "11 cells, the header has 10"),
]


GOOD = "w,A,25,1,0,x(H2S) liquid,0.02,mole fraction,,"
# Files that cannot be read, and each (line, message): every bad row is named (the header is line 1, the good
# rows lines 2 and 3-4), a file that is not readable CSV text where it goes wrong, no row after it taken.
BAD_FILES = [
    (text(GOOD, '"w","A","25","1","0","x(H2S) liquid","0.02","mole fraction","a note\nof two lines",""',
          *(row for row, _ in BAD_ROWS)), [(5 + i, message) for i, (_, message) in enumerate(BAD_ROWS)]),
    (text() + b"w,A,25,1,0,x(H2S) liquid,0.02,mole fraction,caf\xe9,\n", [(2, "byte 0xe9 is not UTF-8")]),
    (text('w,A,25,1,0,x(H2S) liquid,0.02,mole fraction,"open,', GOOD), [(2, "a quote left open?")]),
    (text("25,1,0.02", header="T_C,P_MPa,value\n"), [(1, "the header lacks the column(s) group, dataset, m_NaCl")]),
]


@pytest.mark.parametrize("content, expected", BAD_FILES, ids=["bad rows", "not UTF-8", "open quote", "header"])
def test_rows_that_cannot_be_read_are_named_by_their_line(tmp_path, content, expected):
    with pytest.raises(validation.BadRows) as caught:
        validation.read_measurements(write(tmp_path, content))
    assert [line for line, _ in caught.value.rows] == [line for line, _ in expected]
    for (line, message), (_, part) in zip(caught.value.rows, expected):
        assert part in message and f"data.csv, line {line}: {message}" in str(caught.value), part


def test_statistics_flagged_rows_and_points_without_a_deviation(tmp_path):
    rows = [
        "d,S,25,10,1,density ρ,1000,kg/m3,,",
        "d,S,50,10,1,density ρ,1000,kg/m3,,",
        "d,S,75,10,1,density ρ,1000,kg/m3,,",
        "d,S,25,10,2,density ρ,1000,kg/m3,,FLAG: labelled 2 but looks like 1",
        "d,S,340,20,1,density ρ,700,kg/m3,,",                   # beyond 325 °C: rejected by the model
        "w,T,120,0.17,0,x(H2S) liquid,0,mole fraction,,",        # measured 0: no relative deviation
        "a,T,25,0.1,1,osmotic coefficient φ,0.9,1,,",
        "a,T,25,0.1,1,mean activity coeff. γ±,0.6,1,,",
    ]
    comparisons = validation.compare(validation.read_measurements(write(tmp_path, text(*rows))))
    kept, flagged = validation.summarise(comparisons)
    assert list(kept) == ["d/S", "w/T", "a/T/phi", "a/T/gamma"]
    deviations = [c.deviation for c in comparisons[:3]]
    s = kept["d/S"]
    assert (s["n"], s["not_compared"]) == (3, 1)
    assert s["bias_pct"] == pytest.approx(sum(deviations) / 3)
    assert s["median_abs_pct"] == pytest.approx(sorted(map(abs, deviations))[1])
    assert s["max_abs_pct"] == pytest.approx(max(map(abs, deviations)))
    assert s["T_C"] == [25.0, 340.0] and s["P_MPa"] == [10.0, 20.0] and s["m_NaCl"] == [1.0, 1.0]
    assert "out of range" in comparisons[4].reason and math.isnan(comparisons[4].model)
    assert comparisons[5].reason.startswith("measured value 0") and kept["w/T"]["n"] == 0
    assert flagged["d/S"]["n"] == 1 and comparisons[3].point.flag == "labelled 2 but looks like 1"
    table = json.loads(validation.json_text(validation.statistics_json(comparisons)))
    assert table["w/T"]["bias_pct"] is None and table["d/S/FLAG"]["n"] == 1


def run_validate(*args):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    return subprocess.run([sys.executable, "-m", "tersolv", "validate", *map(str, args)],
                          capture_output=True, text=True, env=env, check=False)


def test_validate_prints_and_writes_the_report_and_refuses_bad_rows(tmp_path):
    good = "h2s_in_water,LM77,30.05,1.6595,0,x(H2S) liquid,0.02453,mole fraction,,"
    data = write(tmp_path, text(good, "nacl_density,PPB84,25,0.1,1,density ρ,1036.23,kg/m3,,"))
    done = run_validate(data, "-o", tmp_path / "report.md")
    assert done.returncode == 0, done.stderr
    assert (tmp_path / "report.md").read_text(encoding="utf-8") == done.stdout
    assert "| h2s_in_water/LM77 | 1 |" in done.stdout and "| 3 | nacl_density/PPB84 |" in done.stdout
    done = run_validate(data, "-o", tmp_path / "report.json")
    report = json.loads((tmp_path / "report.json").read_text(encoding="utf-8"))
    assert report["statistics"]["nacl_density/PPB84"]["n"] == 1
    assert [p["line"] for p in report["points"]] == [2, 3] and report["points"][1]["compared_as"] == pytest.approx(1.03623)
    # a bad row (a decimal comma): named, nothing computed, no report written
    data = write(tmp_path, text(good, "h2s_in_water,LM77,30.05,1.9005,0,x(H2S) liquid,0,02806,mole fraction,,"))
    done = run_validate(data, "-o", tmp_path / "bad.md")
    assert (done.returncode, done.stdout) == (3, "") and "data.csv, line 3: " in done.stderr
    assert not (tmp_path / "bad.md").exists()
    assert run_validate(tmp_path / "absent.csv").returncode == 5
