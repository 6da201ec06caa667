"""tersolv.plot and `python3 -m tersolv plot`: the figures draw the package's own values with gaps where
points are rejected, the files are what their names say, and bad arguments end with exit code 2."""

import csv
import os
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import numpy as np
import pytest

import tersolv
from tersolv import plot
from tersolv.__main__ import main

T = np.array([0.0, 150.0, 330.0])  # 330 °C lies beyond the sheet's range
M = np.array([0.0, 2.0, 6.0])


# kind, arguments, and per panel its lines as (x, the package's results, key), in the order drawn; the H2S
# solubility in pure water as the "Components" sheet computes it, in brines as the "Ternary system"
LINE_FIGURES = [
    ("h2s_solubility", dict(T=T, P=["sat", 1, 150], m_nacl=[0, 3]),
     lambda: [[(T, tersolv.ternary(T, p, 0.0, m) if m else tersolv.components(T, p), "h2s_solubility")
               for p in ("sat", 1, 150) for m in (0, 3)]]),
    ("halite_solubility", dict(T=T, P="sat,100"),  # 0 °C at 100 MPa: "not found"
     lambda: [[(T, tersolv.components(T, p), "halite_solubility") for p in ("sat", 100)]]),
    ("activity", dict(m_nacl=M, T=[25, 330], P=10),
     lambda: [[(M, tersolv.ternary(t, 10, 0.0, M), key) for t in (25, 330)]
              for key in ("nacl_activity_coefficient", "osmotic_coefficient")]),
    ("density", dict(m_nacl=M, T=[25, 330], P="sat"),
     lambda: [[(M, tersolv.ternary(t, "sat", 0.0, M), "density") for t in (25, 330)]]),
]


@pytest.mark.parametrize("kind, arguments, expected", LINE_FIGURES, ids=[case[0] for case in LINE_FIGURES])
def test_lines_draw_the_packages_values_and_leave_out_rejected_points(kind, arguments, expected):
    figure = getattr(plot, kind)(**arguments)
    panels = expected()
    assert len(figure.axes) == len(panels)
    gaps = 0
    for ax, lines in zip(figure.axes, panels):
        assert len(ax.get_lines()) == len(lines)
        for line, (x, result, key) in zip(ax.get_lines(), lines):
            computed = (result["status"] == 0) & np.isfinite(result[key])
            np.testing.assert_array_equal(line.get_xdata(), x)
            np.testing.assert_array_equal(line.get_ydata(), np.where(computed, result[key], np.nan))
            gaps += (~computed).sum()
    assert gaps  # each case has points that are not drawn


# The sheet's marks at 10 MPa for m(NaCl) = 1, 7 (rows) and T = 25, 330 °C (columns): 0 none, 1 H2S above
# its solubility (about 1.6 mol/kg at m(NaCl) = 1), 2 NaCl above halite saturation, 3 both, 4 not computed.
@pytest.mark.parametrize("m_h2s, categories", [(0.05, [[0, 4], [2, 4]]), (3.0, [[1, 4], [3, 4]])])
def test_saturation_map_colours_each_point_by_its_mark(m_h2s, categories):
    figure = plot.saturation_map(T=[25, 330], m_nacl=[1, 7], P=10, m_h2s=m_h2s)
    mesh = figure.axes[0].collections[0]
    np.testing.assert_array_equal(np.reshape(mesh.get_array(), (2, 2)), categories)


def test_saturation_map_draws_the_boundaries_where_the_brine_saturates():
    def boundaries(m_h2s):
        figure = plot.saturation_map(T=[25, 100, 175], m_nacl=np.arange(0, 11), P=10, m_h2s=m_h2s)
        return [collection.get_paths()[0].vertices for collection in figure.axes[0].collections[1:]]

    # on the H2S boundary the solubility is m(H2S), to the grid's linear interpolation
    h2s, _ = boundaries(1.0)
    solubility = tersolv.ternary(h2s[:, 0], 10, 1.0, h2s[:, 1])["h2s_solubility"]
    np.testing.assert_allclose(solubility, 1.0, rtol=0.05)
    # with hardly any H2S (below its solubility everywhere) only the halite boundary is drawn, half a
    # step (0.5 mol/kg) from the halite solubility in water
    (halite,) = boundaries(0.01)
    at = halite[np.isin(halite[:, 0], [25, 100, 175])]
    water = tersolv.components(at[:, 0], 10)["halite_solubility"]
    np.testing.assert_allclose(at[:, 1], water, atol=0.5 + 0.05)


FORMATS = [
    ("figure.png", lambda data: data.startswith(b"\x89PNG\r\n\x1a\n")),
    ("figure.svg", lambda data: ElementTree.fromstring(data).tag == "{http://www.w3.org/2000/svg}svg"),
    ("figure.PDF", lambda data: data.startswith(b"%PDF-")),
]


@pytest.mark.parametrize("name, is_format", FORMATS, ids=[case[0] for case in FORMATS])
def test_each_file_is_what_its_extension_says(tmp_path, name, is_format):
    assert main(["plot", "density", "--T", "25", "--m-nacl", "0,1", "-o", str(tmp_path / name)]) == 0
    assert is_format((tmp_path / name).read_bytes())


def test_csv_holds_the_plotted_values(tmp_path, capsys):
    path = tmp_path / "density.csv"
    assert main(["plot", "density", "--T", "25,330", "--m-nacl", "0,2,6", "--P", "sat", "--csv", str(path)]) == 0
    assert "3 of 6 points not computed (T/P/D value(s) out of range: 3)" in capsys.readouterr().err
    with open(path, newline="", encoding="utf-8") as file:
        rows = list(csv.DictReader(file))
    result = tersolv.ternary(np.array([[25.0], [330.0]]), "sat", 0.0, M[None, :])
    np.testing.assert_array_equal([float(row["density"] or "nan") for row in rows], result["density"].ravel())
    assert [(int(row["status"]), row["message"]) for row in rows] == list(zip(result["status"].ravel(),
                                                                               result["message"].ravel()))


@pytest.mark.parametrize("text, values", [
    ("0:1:0.3", [0.0, 0.3, 0.6, 0.9]),
    ("sat,1, 5:7:1", ["sat", 1.0, 5.0, 6.0, 7.0]),
    ("0:6:0.05", [round(0.05 * i, 2) for i in range(121)]),
    ("0:325:0.1", [round(0.1 * i, 1) for i in range(3251)]),  # ends at 325, not a little beyond
])
def test_ranges_hold_their_values_exactly(text, values):
    assert plot.parse_values(text, allow_sat=True) == values


BAD = [  # arguments, exit code, message
    (["plot"], 2, "required: KIND"),
    (["plot", "pie", "-o", "x.png"], 2, "invalid choice: 'pie'"),
    (["plot", "density", "--T", "25,warm", "-o", "x.png"], 2, "argument --T: 'warm' is not a number"),
    (["plot", "density", "--T", "nan", "-o", "x.png"], 2, "'nan' is not a finite number"),
    (["plot", "h2s_solubility", "--P", "sat,steam", "-o", "x.png"], 2, "'steam' is neither a number nor sat"),
    (["plot", "h2s_solubility", "--T", "100:0:5", "-o", "x.png"], 2, "start <= stop and a step above 0"),
    (["plot", "density", "--P", "1,2", "-o", "x.png"], 2, "--P: density takes one value, not 2"),
    (["plot", "saturation_map", "--T", "25", "-o", "x.png"], 2, "at least two values along each axis"),
    (["plot", "saturation_map", "--T", "0:325:0.01", "--m-nacl", "0:10:0.01", "-o", "x.png"], 2,
     "32533501 points; a figure takes at most 10000000"),
    (["plot", "density", "-o", "x.jpg"], 2, "a figure file ends in .png, .svg or .pdf"),
    (["plot", "density"], 2, "nothing to write"),
    (["plot", "density", "--T", "400", "--m-nacl", "1", "-o", "x.png"], 3, "nothing to draw"),
    (["plot", "density", "--T", "25", "--m-nacl", "1", "-o", "no/such/folder/x.png"], 5, "cannot write"),
]


@pytest.mark.parametrize("argv, code, message", BAD, ids=[" ".join(case[0][1:3]) for case in BAD])
def test_bad_arguments_are_refused_with_a_message(tmp_path, monkeypatch, capsys, argv, code, message):
    monkeypatch.chdir(tmp_path)
    try:
        result = main(argv)
    except SystemExit as exit:
        result = exit.code
    assert result == code
    assert message in capsys.readouterr().err
    assert not os.listdir(tmp_path)


def test_help_lists_the_kinds_and_their_options():
    done = subprocess.run([sys.executable, "-m", "tersolv", "plot", "--help"], capture_output=True, text=True,
                          check=False)
    assert done.returncode == 0
    for kind, entry in plot.KINDS.items():
        assert any(line.split()[:1] == [kind] and all(f"--{name.replace('_', '-')} " in line
                                                      for name in entry.arguments)
                   for line in done.stdout.splitlines())
