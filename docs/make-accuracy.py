#!/usr/bin/python3
"""Writes docs/accuracy.md, docs/accuracy.json and the figures in docs/accuracy/: the model
against the measurements of data/validation/measurements.csv.

    cmake --build build --target tersolv_python
    PYTHONPATH=build/python /usr/bin/python3 docs/make-accuracy.py [--check]

With --check nothing is written: the statistics are recomputed and compared with
docs/accuracy.json, and the exit code is 1 when any of them moved (a change of the
model shows up here as a changed accuracy, to be accepted by rerunning the script).
"""

import argparse
import json
import pathlib
import statistics
import sys

import numpy as np

import tersolv
import tersolv.plot
from tersolv import validate as validation

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATA = ROOT / "data" / "validation" / "measurements.csv"
PAGE = ROOT / "docs" / "accuracy.md"
JSON = ROOT / "docs" / "accuracy.json"
FIGURES = ROOT / "docs" / "accuracy"
TOLERANCE = 5e-4  # percent: the statistics are stored with four decimals

GROUPS = {
    "h2s_in_water": "H2S solubility in water",
    "h2s_in_brine": "H2S solubility in NaCl solutions",
    "nacl_activity": "Osmotic and activity coefficients of NaCl(aq)",
    "halite_solubility": "Halite solubility",
    "nacl_density": "Density of NaCl solutions",
}
# The figures' colour-blind-safe palette, and markers that tell the data sets apart in grey too.
COLOURS = tersolv.plot.PALETTE
MARKERS = ("o", "s", "^", "D", "v", "P", "X", "*")


def moved(old, new):
    """What differs between two statistics tables, in words."""
    changes = [f"{key}: no longer computed" for key in old if key not in new]
    changes += [f"{key}: new" for key in new if key not in old]
    for key in (k for k in new if k in old):
        for name in ("n", "not_compared", "bias_pct", "mean_abs_pct", "median_abs_pct", "max_abs_pct"):
            a, b = old[key].get(name), new[key].get(name)
            same = a == b or (isinstance(a, float) and isinstance(b, float) and abs(a - b) <= TOLERANCE)
            if not same:
                changes.append(f"{key}: {name} {a} -> {b}")
    return changes


# ---------------------------------------------------------------- figures

def model_curve(layout, key, T, P, m_nacl=0.0, scale=1.0):
    """The model's values along a curve, NaN where it rejects a point (a gap in the line)."""
    if layout == "components":
        out = tersolv.components(T, P)
    else:
        out = tersolv.ternary(T, P, 0.0, m_nacl)
    values = np.where(out["status"] == 0, out[key], np.nan)
    return values * scale


def points_of(comparisons, group):
    return [c for c in comparisons if c.point.group == group]


def draw_points(ax, comparisons, x, y, key_of, **style):
    """Scatter points by data set (hollow markers for flagged rows)."""
    for i, key in enumerate(sorted({key_of(c) for c in comparisons})):
        chosen = [c for c in comparisons if key_of(c) == key]
        for flagged in (False, True):
            cs = [c for c in chosen if bool(c.point.flag) == flagged]
            if cs:
                colour = style.get("colour", COLOURS[i % len(COLOURS)])
                ax.plot([x(c) for c in cs], [y(c) for c in cs], linestyle="none",
                        marker=style.get("marker", MARKERS[i % len(MARKERS)]), markersize=5,
                        markerfacecolor="none" if flagged else colour, markeredgecolor=colour,
                        label=key + (" (FLAG)" if flagged else "") if style.get("legend", True) else None)


def deviation_panel(ax, comparisons, x, xlabel):
    done = [c for c in comparisons if not c.reason]
    draw_points(ax, done, x, lambda c: c.deviation, lambda c: c.point.dataset)
    ax.axhline(0.0, color="0.5", linewidth=0.8)
    ax.set_xlabel(xlabel)
    ax.set_ylabel("deviation, model − measured (%)")
    ax.grid(alpha=0.3)
    ax.legend(fontsize=8, ncol=2)


def figure_h2s_water(comparisons, plt):
    cs = [c for c in points_of(comparisons, "h2s_in_water") if not c.reason]
    fig, (left, right) = plt.subplots(1, 2, figsize=(12, 5))
    isotherms = (30.05, 60.1, 90.05, 120.1, 150.0, 180.1)  # the temperatures of Lee & Mather's runs
    P = np.linspace(0.05, 7.0, 70)
    for i, T in enumerate(isotherms):
        colour = COLOURS[i]
        left.plot(P, model_curve("components", "h2s_solubility", T, P), color=colour, label=f"model {T:.0f} °C")
        near = [c for c in cs if abs(c.point.T - T) <= 1.0 and c.P_used <= 7.0]
        left.plot([c.P_used for c in near], [c.measured for c in near], linestyle="none", marker="o",
                  markersize=4, markerfacecolor="none", markeredgecolor=colour)
    left.set_xlabel("P (MPa)")
    left.set_ylabel("m(H2S) in water (mol/kg)")
    left.set_title("Isotherms: model lines, measured points within 1 K (all data sets)", fontsize=10)
    left.grid(alpha=0.3)
    left.legend(fontsize=8)
    deviation_panel(right, cs, lambda c: c.point.T, "T (°C)")
    right.set_title("Every point, by data set", fontsize=10)
    return [fig]


def figure_h2s_brine(comparisons, plt):
    cs = [c for c in points_of(comparisons, "h2s_in_brine") + points_of(comparisons, "h2s_in_water")
          if not c.reason]
    fig, (left, right) = plt.subplots(1, 2, figsize=(12, 5))
    T = np.linspace(0.5, 99.5, 100)
    at_1_atm = [c for c in cs if c.point.dataset == "BAL88"]
    for i, m in enumerate(range(6)):
        colour = COLOURS[i]
        left.plot(T, model_curve("ternary" if m else "components", "h2s_solubility", T, 0.101325, m),
                  color=colour, label=f"model {m} mol/kg NaCl")
        mine = [c for c in at_1_atm if round(c.point.m_nacl) == m]
        draw_points(left, mine, lambda c: c.point.T, lambda c: c.measured, lambda c: "BAL88",
                    colour=colour, marker="o", legend=False)
    left.set_yscale("log")
    left.set_ylim(3e-3, 0.3)
    left.set_xlabel("T (°C)")
    left.set_ylabel("m(H2S) (mol/kg water)")
    left.set_title("At 1 atm total pressure: model lines, Barrett et al. 1988 points\n"
                   "(hollow: flagged rows)", fontsize=10)
    left.grid(alpha=0.3)
    left.legend(fontsize=8)
    deviation_panel(right, [c for c in cs if c.point.group == "h2s_in_brine"], lambda c: c.point.m_nacl,
                    "m(NaCl) (mol/kg)")
    right.set_title("Every brine point, by data set (salt-free mole-fraction basis)", fontsize=10)
    return [fig]


def add_points(ax, comparisons, x, y, colour_of, legend_title):
    """Measured points on a figure of tersolv.plot: the colour of the line they belong to, a
    marker per data set (hollow: flagged rows), in a legend of their own beside the lines'."""
    from matplotlib.lines import Line2D

    lines_legend = ax.get_legend()
    datasets = sorted({c.point.dataset for c in comparisons})
    for c in comparisons:
        colour = colour_of(c)
        marker = MARKERS[datasets.index(c.point.dataset) % len(MARKERS)]
        ax.plot([x(c)], [y(c)], linestyle="none", marker=marker, markersize=5, markeredgecolor=colour,
                markerfacecolor="none" if c.point.flag else colour)
    handles = [Line2D([], [], linestyle="none", marker=MARKERS[i % len(MARKERS)], color="#444444",
                      label=f"{d}, measured") for i, d in enumerate(datasets)]
    if lines_legend is None:  # a panel without a legend of its lines: inside, where the curves leave room
        ax.legend(handles=handles, title=legend_title, loc="upper left", fontsize=8)
        return
    # One legend (the layout makes room for one only): the lines', then the points'.
    ax.legend(handles=ax.get_legend_handles_labels()[0] + handles, title=lines_legend.get_title().get_text(),
              loc="upper left", bbox_to_anchor=(1.02, 1.0), frameon=False)


def line_colour(temperatures, T):
    """The colour of tersolv.plot's line of the temperature nearest T, or None beyond 1 K."""
    i = int(np.argmin([abs(T - t) for t in temperatures]))
    return tersolv.plot.PALETTE[i % len(tersolv.plot.PALETTE)] if abs(temperatures[i] - T) <= 1.0 else None


def figure_activity(comparisons, plt):
    cs = [c for c in points_of(comparisons, "nacl_activity") if not c.reason]
    temperatures = [25.0, 75.0, 150.0, 200.0, 250.0, 300.0]
    # P = 0: the saturation pressure of water, at least 0.1 MPa (the pressures the data carry).
    curves = tersolv.plot.activity(m_nacl="0.01:10.5:0.05", T=temperatures, P=0)
    for ax, slug in zip(curves.axes, ("gamma", "phi")):
        mine = [c for c in cs if c.point.quantity.slug == slug and line_colour(temperatures, c.point.T)]
        add_points(ax, mine, lambda c: c.point.m_nacl, lambda c: c.measured,
                   lambda c: line_colour(temperatures, c.point.T), "measured\n(within 1 K\nof a line)")
    deviations, ax = plt.subplots(figsize=(7.5, 4.5))
    deviation_panel(ax, cs, lambda c: c.point.m_nacl, "m(NaCl) (mol/kg)")
    ax.set_title("Every point, by data set (φ and γ±; hollow: flagged, extrapolated molality)", fontsize=10)
    return [curves, deviations]


def figure_halite(comparisons, plt):
    cs = [c for c in points_of(comparisons, "halite_solubility") if not c.reason]
    curves = tersolv.plot.halite_solubility(T="0:325:2.5", P=[0])
    add_points(curves.axes[0], cs, lambda c: c.point.T, lambda c: c.measured,
               lambda c: COLOURS[1 + sorted({d.point.dataset for d in cs}).index(c.point.dataset)],
               "measured\n(hollow: flagged)")
    return [curves]


def figure_density(comparisons, plt):
    cs = [c for c in points_of(comparisons, "nacl_density") if not c.reason]
    temperatures = [25.0, 75.0, 125.0, 150.0, 200.0]
    curves = tersolv.plot.density(m_nacl="0:6.2:0.1", T=temperatures, P=19.9)
    near = [c for c in cs if c.point.dataset == "AMT12" and abs(c.P_used - 19.9) < 0.2
            and line_colour(temperatures, c.point.T)]
    add_points(curves.axes[0], near, lambda c: c.point.m_nacl, lambda c: c.measured,
               lambda c: line_colour(temperatures, c.point.T), "measured\n(within 1 K\nof a line)")
    deviations, ax = plt.subplots(figsize=(7.5, 4.5))
    deviation_panel(ax, cs, lambda c: c.point.T, "T (°C)")
    ax.legend(fontsize=8, ncol=2, loc="lower left")
    ax.set_title("Every point the model computes, by data set", fontsize=10)
    return [curves, deviations]


FIGURE_OF = {"h2s_in_water": figure_h2s_water, "h2s_in_brine": figure_h2s_brine,
             "nacl_activity": figure_activity, "halite_solubility": figure_halite,
             "nacl_density": figure_density}


# ---------------------------------------------------------------- the page

def subset(comparisons, **where):
    """Statistics of the unflagged, computed points that satisfy every condition."""
    chosen = [c for c in comparisons if not c.point.flag and not c.reason
              and all(test(c) for test in where.values())]
    return validation.statistics_of(chosen)


def signed(x, digits=0):
    """"8 % high" or "27 % low"."""
    return f"{abs(x):.{digits}f} % {'high' if x >= 0 else 'low'}"


def relabelled_density(comparisons, m_nacl):
    """Deviations of the flagged, computed density rows when taken at another molality."""
    cs = [c for c in comparisons if c.point.group == "nacl_density" and c.point.flag and not c.reason]
    model = model_curve("ternary", "density", np.array([c.point.T for c in cs]),
                        np.array([c.point.P for c in cs], dtype=object), m_nacl)
    return [100.0 * (value / c.measured - 1.0) for value, c in zip(model, cs)]


def paragraphs(comparisons, kept):
    """A short account per group of where the model is good and where it is not."""
    s = lambda key: kept[key]  # noqa: E731
    water = [c for c in comparisons if c.point.group == "h2s_in_water"]
    brine = [c for c in comparisons if c.point.group == "h2s_in_brine"]
    cool = subset(water, t=lambda c: c.point.T <= 150)
    hot = subset(water, t=lambda c: c.point.T > 200)
    lm_hot = subset(water, d=lambda c: c.point.dataset == "LM77", t=lambda c: c.point.T > 150)
    zmw_hot = subset(water, d=lambda c: c.point.dataset == "ZMW11", t=lambda c: c.point.T > 150)
    bal_cool = subset(brine, d=lambda c: c.point.dataset == "BAL88", t=lambda c: c.point.T < 70)
    bal_hot = subset(brine, d=lambda c: c.point.dataset == "BAL88", t=lambda c: c.point.T > 75)
    medians = [kept[f"h2s_in_brine/{key}"]["median_abs_pct"] for key in ("KCM13", "XPRM00", "SK94")]
    ions = [c for c in brine if not c.point.flag and not c.reason]
    # The other reading of the brines' mole fractions: Na+ and Cl- counted beside H2O and H2S.
    with_ions = statistics.fmean(100.0 * (c.model / (c.measured * (1 + 2 * c.point.m_nacl * validation.M_WATER))
                                          - 1.0) for c in ions)
    without_ions = statistics.fmean(c.deviation for c in ions)
    density = [c for c in comparisons if c.point.group == "nacl_density"]
    relabelled = relabelled_density(comparisons, 2.0)
    hot_halite, = validation.compare([c.point for c in comparisons
                                      if c.point.group == "halite_solubility" and c.reason], extended_range=True)
    beyond = validation.compare([c.point for c in density if c.reason and not c.point.flag], extended_range=True)
    beyond_gt = validation.statistics_of([c for c in beyond if c.point.dataset == "GT81"])
    beyond_cww = validation.statistics_of([c for c in beyond if c.point.dataset == "CWW93"])
    amt_low = min(c.deviation for c in density if c.point.dataset == "AMT12" and not c.reason)
    dense_hot = subset(density, d=lambda c: c.point.dataset == "AMT12", t=lambda c: c.point.T > 150,
                       m=lambda c: c.point.m_nacl > 5)
    return {
        "h2s_in_water":
            f"Up to 150 °C the agreement is good: Lee & Mather's 139 points (30–180 °C, to 6.7 MPa) have a "
            f"median |deviation| of {s('h2s_in_water/LM77')['median_abs_pct']:.1f} % and a bias of "
            f"{s('h2s_in_water/LM77')['bias_pct']:+.1f} %, and all points up to 150 °C together "
            f"{cool['median_abs_pct']:.1f} % (median, n = {cool['n']}). Between 150 and 180 °C the measurements "
            f"disagree among themselves: the model agrees with Lee & Mather (bias {lm_hot['bias_pct']:+.1f} %, "
            f"n = {lm_hot['n']}), while Zezin et al. 2011 (150–325 °C) find less H2S "
            f"than the model computes: bias {zmw_hot['bias_pct']:+.0f} % above 150 °C (n = {zmw_hot['n']}). "
            f"Above 200 °C every data set that reaches there has the model high (all points: bias "
            f"{hot['bias_pct']:+.0f} %, n = {hot['n']}; Gillespie & Wilson's one point at 316 °C "
            f"+{max(c.deviation for c in water if c.point.dataset == 'GW80'):.0f} %): read the model's H2S "
            f"solubility above 200 °C as an upper estimate, uncertain by tens of percent. At 1 atm near the "
            f"boiling point (Barrett et al., 94 °C) the partial pressure of H2S is a small difference "
            f"P − p(H2O), and the model is up to {abs(min(c.deviation for c in water if c.point.dataset == 'BAL88')):.0f} % low. "
            f"The largest deviations of Selleck et al. (smoothed by its authors) lie at 104–138 °C, where "
            f"Lee & Mather agree with the model.",
        "h2s_in_brine":
            f"Where the pressure is well above that of water vapour, the model's H2S solubility in brines "
            f"is within {min(medians):.0f}–{max(medians):.0f} % (median |deviation|) of the measurements: "
            f"Koschel et al. (1–5 mol/kg, 50–120 °C, to 31 MPa) "
            f"median |deviation| {s('h2s_in_brine/KCM13')['median_abs_pct']:.1f} %, Xia et al. (4 and 6 mol/kg, "
            f"40–120 °C) median {s('h2s_in_brine/XPRM00')['median_abs_pct']:.1f} % with a bias of "
            f"{s('h2s_in_brine/XPRM00')['bias_pct']:+.1f} %, Suleimenov & Krupp (155–320 °C, to 2.5 mol/kg) bias "
            f"{s('h2s_in_brine/SK94')['bias_pct']:+.1f} %. At 1 atm (Barrett et al.) the model is "
            f"{signed(bal_cool['bias_pct'])} on average below 70 °C (n = {bal_cool['n']}, more so the saltier the "
            f"brine) and {signed(bal_hot['bias_pct'])} above 75 °C (n = {bal_hot['n']}, up to "
            f"{s('h2s_in_brine/BAL88')['max_abs_pct']:.0f} %), where the H2S partial pressure is a small "
            f"remainder of the total: the model is weak for brines at 1 atm near boiling. These statistics read the compilation's mole "
            f"fractions on a salt-free basis (H2O + H2S), which is likely but not verified; had Na+ and Cl- been "
            f"counted, the measured molalities would be higher by 1 + 2 m(NaCl) · 0.018 (7 % at 2 mol/kg, 22 % at "
            f"6 mol/kg) and the mean deviation of all brine points would move from {without_ions:+.1f} % to "
            f"{with_ions:+.1f} %. Three flagged Barrett et al. rows (inconsistent with their fresh-water "
            f"points) are reported apart.",
        "nacl_activity":
            f"The activity model of NaCl(aq) agrees with these data to about 1 % (the median |deviation| of "
            f"every set is at most {max(v['median_abs_pct'] for k, v in kept.items() if k.startswith('nacl_activity/')):.1f} %): "
            f"at 25 °C with the tables of Pitzer & Mayorga and of Pitzer, Peiper & Busey to better than "
            f"{max(s('nacl_activity/PM73')['max_abs_pct'], s('nacl_activity/PPB84')['max_abs_pct']):.1f} %; from 75 to "
            f"300 °C with Liu's osmotic coefficients up to 8 mol/kg (median |deviation| "
            f"{s('nacl_activity/L71')['median_abs_pct']:.2f} %). The largest deviations, up to "
            f"{max(s('nacl_activity/LL70')['max_abs_pct'], s('nacl_activity/GJN63')['max_abs_pct']):.1f} %, are in "
            f"0.1–3 mol/kg solutions above 120 °C (Liu & Lindsay, bias {s('nacl_activity/LL70')['bias_pct']:+.1f} %; "
            f"Gardner et al., bias {s('nacl_activity/GJN63')['bias_pct']:+.1f} %). γ± was compared only at 0–75 °C, "
            f"with tabulated rather than measured values.",
        "halite_solubility":
            f"Halite solubility agrees with the handbook values at 0–90 °C to "
            f"{s('halite_solubility/CRC')['max_abs_pct']:.1f} % and with Potter et al.'s equation at 150 and 250 °C "
            f"to {s('halite_solubility/PBB77')['max_abs_pct']:.1f} % (model low); their 350 °C point lies outside the "
            f"model's default range (T ≤ 325 °C); computed with the extended range it comes out "
            f"{signed(hot_halite.deviation, 1)}. Liu's saturation molalities are extrapolations by the "
            f"authors and are reported apart (model {validation.statistics_of([c for c in comparisons if c.point.group == 'halite_solubility' and c.point.flag])['bias_pct']:+.1f} %). "
            f"Few points: this shows agreement, not its limits.",
        "nacl_density":
            f"Solution densities agree to a few tenths of a percent: Al Ghafri et al. (25–200 °C, to 68 MPa, "
            f"1–6 mol/kg) bias {s('nacl_density/AMT12')['bias_pct']:+.2f} %, at most "
            f"{s('nacl_density/AMT12')['max_abs_pct']:.1f} %, the model "
            f"{'high at every point' if amt_low > 0 else 'mostly high'} and most so at 6 mol/kg above 150 °C "
            f"(bias {dense_hot['bias_pct']:+.2f} %); Grant-Taylor at 20 MPa to 325 °C median "
            f"{s('nacl_density/GT81')['median_abs_pct']:.2f} %. Every point above 325 °C (Crovetto et al. at "
            f"350 °C, and {s('nacl_density/GT81')['not_compared']} of Grant-Taylor's) lies outside the model's "
            f"default range and is listed below, not compared. Computed with the extended range, Grant-Taylor's "
            f"{beyond_gt['n']} at 20 MPa stay within {beyond_gt['max_abs_pct']:.1f} %, while Crovetto et al.'s "
            f"{beyond_cww['n']} at 15–17 MPa, near the critical point of water, come out "
            f"{signed(beyond_cww['bias_pct'])} on average (up to {beyond_cww['max_abs_pct']:.0f} %). Three Grant-Taylor rows labelled 1.0 mol/kg "
            f"that continue the 2.0 mol/kg series are flagged and reported apart; computed at 2.0 mol/kg, "
            f"the {len(relabelled)} of them in range deviate by at most {max(map(abs, relabelled)):.2f} %.",
    }


def page(comparisons, figures):
    kept, flagged = validation.summarise(comparisons)
    text = paragraphs(comparisons, kept)
    n_flagged = sum(1 for c in comparisons if c.point.flag)
    n_without = sum(1 for c in comparisons if c.reason)
    lines = [
        "# Accuracy: the model against measurements", "",
        f"{len(comparisons)} measured values of water + H2S + NaCl at 0–350 °C, from "
        f"{len({c.point.dataset for c in comparisons})} sources (`data/validation/measurements.csv`; its README gives the "
        "columns, the provenance of every number, the citations and the known doubts), each compared with the "
        "model's value at the same temperature, pressure and NaCl molality. The formulation is fixed: nothing "
        "was fitted to these data. They are about half of a larger compilation, and only what this half shows "
        "is claimed here.", "",
        "Deviation = 100 (model − measured) / measured, in percent of the quantity the model computes; bias = "
        "mean deviation. The default input range applies (0–325 °C, up to 100 MPa). Rows flagged in the "
        f"compilation ({n_flagged}) are compared but kept out of the statistics and shown apart; points without a "
        f"deviation ({n_without}) are listed with the reason at the end. Regenerate this page, "
        "`accuracy.json` and the figures with", "",
        "    cmake --build build --target tersolv_python",
        "    PYTHONPATH=build/python /usr/bin/python3 docs/make-accuracy.py", "",
        "The CTest test `accuracy` (label `validation`) recomputes the statistics and fails when they move. "
        "Your own measurements: `python3 -m tersolv validate DATA.csv [-o REPORT]` with the same columns.", "",
        "## How each quantity is compared", "", validation.mappings_text(comparisons),
        "- Pressures: the measured total pressure; where the source gives none, the value in the data file's "
        "pressure column with its remark (0.1 MPa for the 25 °C tables, 0.101325 MPa for the aqpolypy values, "
        "the saturation pressure of pure water for Potter et al.'s saturated solutions). The osmotic "
        "coefficients carry the pure-water saturation pressure assigned by their compiler.", ""]
    for group, title in GROUPS.items():
        mine = {k: v for k, v in kept.items() if k.startswith(group + "/")}
        lines += [f"## {title}", "", validation.statistics_table(mine), "", text[group], ""]
        lines += [f"![{title}](accuracy/{name})\n" for name in figures[group]]
    lines += ["## Flagged rows (kept out of the statistics above)", "", validation.statistics_table(flagged), "",
              validation.flag_reasons(comparisons), "",
              "## Points without a deviation", "", validation.no_deviation_table(comparisons), ""]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--check", action="store_true", help="compare with docs/accuracy.json, write nothing")
    args = parser.parse_args()
    comparisons = validation.compare(validation.read_measurements(DATA))
    table = validation.statistics_json(comparisons)
    if args.check:
        changes = moved(json.loads(JSON.read_text(encoding="utf-8")), table)
        for change in changes:
            print(change)
        print(f"{len(table)} data sets, {len(changes)} changed")
        return 1 if changes else 0

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    FIGURES.mkdir(exist_ok=True)
    figures = {}
    for group, draw in FIGURE_OF.items():
        figures[group] = []
        for i, fig in enumerate(draw(comparisons, plt)):
            figures[group].append(group + ("" if i == 0 else "-deviation") + ".png")
            if fig.get_layout_engine() is None:
                fig.tight_layout()
            fig.savefig(FIGURES / figures[group][-1], dpi=100)
            plt.close(fig)
    JSON.write_text(validation.json_text(table), encoding="utf-8")
    PAGE.write_text(page(comparisons, figures), encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
