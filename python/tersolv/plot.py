"""Figures of the model's results, drawn with matplotlib.

    h2s_solubility(T, P, m_nacl)          H2S solubility against temperature, a line per pressure and brine
    halite_solubility(T, P)               halite solubility in water against temperature, a line per pressure
    activity(m_nacl, T, P)                mean activity coefficient of NaCl and osmotic coefficient against
                                          molality, a line per temperature
    density(m_nacl, T, P)                 density of the NaCl solution against molality, a line per temperature
    saturation_map(T, m_nacl, P, m_h2s)   the (T, m(NaCl)) plane coloured by the sheet's marks

Units are the sheet's: T in °C, P in MPa ("sat" for the saturation pressure of
water, 0 for the same but at least 0.1 MPa), molalities in mol/kg of water.
Each argument takes a number, a sequence, or a text as on the command line
("0:325:1" is 0, 1, ..., 325; "sat,1,5,10" a list); None takes the default that
``python3 -m tersolv plot --help`` shows. The arguments a figure draws one line
for, or keeps fixed, take a list or a single value as that help says.

Every value is computed by ``tersolv.components`` or ``tersolv.ternary``: the
pure-water H2S solubility and the halite solubility as a "Components" sheet
computes them, everything else as a "Ternary system" sheet (with m(H2S) = 0
unless the figure takes it). Points the model rejects or cannot compute, and
halite solubilities "not found", are gaps in the lines, never zeros.

Each function returns a matplotlib ``Figure`` (not registered with pyplot:
save it with ``figure.savefig``, or let a notebook show it); ``table`` gives the
plotted values as columns. matplotlib is imported when the first figure is
drawn, so the rest of the package does not need it.
"""

import csv
import math
import os
import sys
from collections import namedtuple

import numpy as np

from . import components, ternary
from ._numbers import finite_number

__all__ = ["h2s_solubility", "halite_solubility", "activity", "density", "saturation_map", "table", "save", "KINDS"]

# Okabe and Ito (2008), "Color Universal Design": colours that stay apart for
# every common form of colour-vision deficiency (their yellow left out: too
# pale on white).
PALETTE = ("#0072B2", "#D55E00", "#009E73", "#CC79A7", "#E69F00", "#56B4E9", "#000000")
# Brines are told apart by the line's dashes, pressures and temperatures by colour.
DASHES = ("-", "--", ":", "-.", (0, (6, 2, 1, 2, 1, 2)), (0, (1, 3)))

# The sheet's marks (font colours, red + 256 green + 65536 blue).
MARK_NACL, MARK_H2S, MARK_BOTH = 255, 16711680, 16711935

FORMATS = ("png", "svg", "pdf")
MAX_POINTS = 10_000_000  # per figure: its results and table take a few GB

# The arguments a figure can take: option on the command line, what it is, unit.
_ARGUMENTS = {
    "T": ("--T", "temperature", "°C"),
    "P": ("--P", "pressure", "MPa; sat = saturation pressure of water, 0 = the same but at least 0.1 MPa"),
    "m_nacl": ("--m-nacl", "molality of NaCl", "mol/kg"),
    "m_h2s": ("--m-h2s", "molality of H2S", "mol/kg"),
}

# A figure's kind: one line of help, and per argument its role ("axis": the
# values along an axis, "lines": a line each, "one": a single value) and default.
Kind = namedtuple("Kind", "help arguments")
KINDS = {
    "h2s_solubility": Kind(
        "H2S solubility against temperature, a line per pressure and brine",
        {"T": ("axis", "0:325:1"), "P": ("lines", "sat,1,5,10,20"), "m_nacl": ("lines", "0,2,4")}),
    "halite_solubility": Kind(
        "halite solubility in water against temperature, a line per pressure",
        {"T": ("axis", "0:325:1"), "P": ("lines", "sat,10,50,100")}),
    "activity": Kind(
        "mean activity coefficient of NaCl and osmotic coefficient against m(NaCl), a line per temperature",
        {"m_nacl": ("axis", "0:6:0.05"), "T": ("lines", "25,100,200,300"), "P": ("one", "10")}),
    "density": Kind(
        "density of the NaCl solution against m(NaCl), a line per temperature",
        {"m_nacl": ("axis", "0:6:0.05"), "T": ("lines", "25,100,200,300"), "P": ("one", "10")}),
    "saturation_map": Kind(
        "the (T, m(NaCl)) plane coloured by the sheet's marks, with the saturation boundaries",
        {"T": ("axis", "0:325:1"), "m_nacl": ("axis", "0:10:0.05"), "P": ("one", "10"), "m_h2s": ("one", "1")}),
}

H2O = "H$_2$O"
H2S = "H$_2$S"
MOLALITY_UNIT = f"mol/kg {H2O}"


# ---------------------------------------------------------------- arguments

def parse_values(text, allow_sat=False):
    """The values of an argument's text: numbers, ranges start:stop:step (stop
    included when a whole number of steps away) and, for pressures, "sat",
    separated by commas. Raises ValueError with a message for the user."""
    values = []
    for item in str(text).split(","):
        item = item.strip().lower()
        if allow_sat and item == "sat":
            values.append("sat")
        elif ":" in item:
            values.extend(_parse_range(item))
        else:
            try:
                values.append(finite_number(item))
            except ValueError:
                if allow_sat:
                    raise ValueError(f"{item!r} is neither a number nor sat") from None
                raise
    return values


def _parse_range(text):
    parts = text.split(":")
    if len(parts) != 3:
        raise ValueError(f"{text!r}: a range is start:stop:step")
    start, stop, step = map(finite_number, parts)
    if step <= 0 or stop < start:
        raise ValueError(f"{text!r}: a range needs start <= stop and a step above 0")
    count = math.floor((stop - start) / step * (1 + 1e-12) + 1e-9) + 1
    if count > 1_000_000:
        raise ValueError(f"{text!r}: more than a million values")
    # 12 significant digits: 0.1 * 3 is 0.3 and a stop a whole number of steps away is the stop itself
    return [float(f"{start + step * i:.12g}") for i in range(count)]


def _values(name, value):
    """An argument as a list of floats (and "sat" for pressures)."""
    allow_sat = name == "P"
    if isinstance(value, str):
        return parse_values(value, allow_sat)
    values = []
    for item in np.asarray(value, dtype=object).ravel():
        if allow_sat and isinstance(item, str) and item.strip().lower() == "sat":
            values.append("sat")
        else:
            values.append(finite_number(item) if isinstance(item, str) else float(item))
            if not math.isfinite(values[-1]):
                raise ValueError(f"{item!r} is not a finite number")
    return values


def arguments(kind, **given):
    """The arguments of a kind of figure with defaults filled in and checked:
    a dict of lists (a single value for those the figure keeps fixed). Raises
    ValueError naming the argument that is wrong."""
    if kind not in KINDS:
        raise ValueError(f"unknown kind of figure {kind!r}; the kinds are {', '.join(KINDS)}")
    roles = KINDS[kind].arguments
    unknown = set(given) - set(roles)
    if unknown:
        raise ValueError(f"{kind} takes no argument {', '.join(sorted(unknown))}")
    result = {}
    for name, (role, default) in roles.items():
        value = given.get(name)
        option = _ARGUMENTS[name][0]
        try:
            values = _values(name, default if value is None else value)
        except (TypeError, ValueError) as error:
            raise ValueError(f"{option}: {error}") from None
        if not values:
            raise ValueError(f"{option}: no value")
        if role == "one":
            if len(values) != 1:
                raise ValueError(f"{option}: {kind} takes one value, not {len(values)}")
            values = values[0]
        elif role == "axis" and kind == "saturation_map" and len(values) < 2:
            raise ValueError(f"{option}: the map needs at least two values along each axis")
        result[name] = values
    points = math.prod(len(values) for values in result.values() if isinstance(values, list))
    if points > MAX_POINTS:
        raise ValueError(f"{kind}: {points} points; a figure takes at most {MAX_POINTS}")
    return result


# ---------------------------------------------------------------- values

# The values of a figure: `columns`, a dict of equal-length 1-D arrays (the
# table), and `lines`, the drawn lines as (label, colour, dashes, slice of the
# rows); the map keeps its grid's shape in `shape` (m(NaCl), T).
Data = namedtuple("Data", "kind arguments columns lines shape")


def _pressure_label(p):
    if p == "sat":
        return "sat"
    return "sat, ≥ 0.1 MPa" if p == 0 else f"{p:g} MPa"


def _pressures(values):
    """Pressures as the package takes them: an object array of numbers and "sat"."""
    P = np.empty(len(values), dtype=object)
    P[:] = values
    return P


def _line_data(kind, args, x_name, x, lines, keys):
    """Data of a figure of lines: `lines` is a list of (label, colour, dashes,
    the package's results along x, the line's fixed inputs as a dict)."""
    n = len(x)
    columns = {"line": np.repeat(np.array([line[0] for line in lines], dtype=object), n),
               x_name: np.tile(np.asarray(x, dtype=np.float64), len(lines))}
    for name in lines[0][4]:
        columns[name] = np.repeat([line[4][name] for line in lines], n)
    for name in ("P", *keys, "status", "message"):
        columns[name] = np.concatenate([np.broadcast_to(line[3][name], (n,)) for line in lines])
    columns["message"] = columns["message"].astype(object)
    for name in keys:  # a value that was not computed is no value
        columns[name] = np.where(columns["status"] == 0, columns[name].astype(np.float64), np.nan)
    drawn = [(label, colour, dashes, slice(i * n, (i + 1) * n)) for i, (label, colour, dashes, _, _) in enumerate(lines)]
    return Data(kind, args, columns, drawn, None)


def _h2s_solubility(args, extended_range):
    T, pressures, brines = np.asarray(args["T"]), args["P"], np.asarray(args["m_nacl"])
    P = _pressures(pressures)
    water = components(T[None, :], P[:, None], extended_range=extended_range)
    salt = brines[brines != 0]
    brine = (ternary(T[None, None, :], P[:, None, None], 0.0, salt[None, :, None], extended_range=extended_range)
             if salt.size else None)
    salt_index = np.cumsum(brines != 0) - 1
    lines = []
    for i, p in enumerate(pressures):
        for j, m in enumerate(brines):
            source, index = (water, (i,)) if m == 0 else (brine, (i, salt_index[j]))
            result = {key: value[index] for key, value in source.items()}
            label = f"{_pressure_label(p)}, {m:g} mol/kg"
            lines.append((label, PALETTE[i % len(PALETTE)], DASHES[j % len(DASHES)], result, {"m_nacl": m}))
    return _line_data("h2s_solubility", args, "T", T, lines, ("h2s_solubility",))


def _halite_solubility(args, extended_range):
    T, pressures = np.asarray(args["T"]), args["P"]
    result = components(T[None, :], _pressures(pressures)[:, None], extended_range=extended_range)
    lines = [(_pressure_label(p), PALETTE[i % len(PALETTE)], "-", {key: value[i] for key, value in result.items()}, {})
             for i, p in enumerate(pressures)]
    return _line_data("halite_solubility", args, "T", T, lines, ("halite_solubility",))


def _by_temperature(kind, keys):
    def compute(args, extended_range):
        m, temperatures = np.asarray(args["m_nacl"]), np.asarray(args["T"])
        P = _pressures([args["P"]])[0]
        result = ternary(temperatures[:, None], P, 0.0, m[None, :], extended_range=extended_range)
        lines = [(f"{t:g} °C", PALETTE[i % len(PALETTE)], "-", {key: value[i] for key, value in result.items()},
                  {"T": t}) for i, t in enumerate(temperatures)]
        return _line_data(kind, args, "m_nacl", m, lines, keys)
    return compute


def _saturation_map(args, extended_range):
    T, m = np.asarray(args["T"]), np.asarray(args["m_nacl"])
    P = _pressures([args["P"]])[0]
    result = ternary(T[None, :], P, args["m_h2s"], m[:, None], extended_range=extended_range)
    shape = result["status"].shape
    columns = {"T": np.broadcast_to(T[None, :], shape), "m_nacl": np.broadcast_to(m[:, None], shape),
               "m_h2s": np.full(shape, args["m_h2s"])}
    columns.update({key: result[key] for key in ("P", "h2s_solubility", "mark", "status", "message")})
    columns = {key: np.ravel(value) for key, value in columns.items()}
    columns["h2s_solubility"] = np.where(columns["status"] == 0, columns["h2s_solubility"], np.nan)
    return Data("saturation_map", args, columns, [], shape)


_COMPUTE = {
    "h2s_solubility": _h2s_solubility,
    "halite_solubility": _halite_solubility,
    "activity": _by_temperature("activity", ("nacl_activity_coefficient", "osmotic_coefficient")),
    "density": _by_temperature("density", ("density",)),
    "saturation_map": _saturation_map,
}


def compute(kind, *, extended_range=False, **given):
    """The values a figure of this kind draws (a Data tuple); see the module's help."""
    args = arguments(kind, **given)
    return _COMPUTE[kind](args, bool(extended_range))


def table(kind, *, extended_range=False, **given):
    """The values a figure of this kind draws, as a dict of equal-length columns
    (one row per point; NaN in the values of points not computed, with their
    status and message): ``pandas.DataFrame(table(...))`` makes it a frame."""
    return dict(compute(kind, extended_range=extended_range, **given).columns)


# ---------------------------------------------------------------- drawing

def _figure(size=(7.5, 4.5), panels=1):
    from matplotlib.figure import Figure

    figure = Figure(figsize=size, layout="constrained")
    axes = figure.subplots(1, panels, squeeze=False)[0]
    for ax in axes:
        ax.grid(True, color="#dddddd", linewidth=0.6)
        ax.set_axisbelow(True)
    return figure, axes


def _outside_legend(ax, handles=None, title=None, loc="upper left", anchor=(1.02, 1.0)):
    legend = ax.legend(handles=handles, title=title, loc=loc, bbox_to_anchor=anchor, frameon=False)
    legend._legend_box.align = "left"
    return legend


def _isolated(y):
    """Indices of the values without a value beside them: drawn as dots, as a line alone would not show them."""
    finite = np.isfinite(y)
    before = np.concatenate(([False], finite[:-1]))
    after = np.concatenate((finite[1:], [False]))
    return np.flatnonzero(finite & ~before & ~after).tolist()


def _draw_lines(data, axes, keys, x_label, y_labels):
    """A line of each panel's value per line of the data (gaps where not computed)."""
    columns = data.columns
    x_name = "T" if data.kind in ("h2s_solubility", "halite_solubility") else "m_nacl"
    for ax, key, y_label in zip(axes, keys, y_labels):
        for label, colour, dashes, rows in data.lines:
            y = columns[key][rows]
            ax.plot(columns[x_name][rows], y, color=colour, linestyle=dashes,
                    linewidth=1.5, label=label, marker="o", markersize=3, markevery=_isolated(y))
        ax.set_xlabel(x_label)
        ax.set_ylabel(y_label)


def _legend_of_lines(ax, data, title):
    from matplotlib.lines import Line2D

    handles = [Line2D([], [], color=colour, linestyle=dashes, linewidth=1.5, label=label)
               for label, colour, dashes, _ in data.lines]
    _outside_legend(ax, handles, title)


def _draw_h2s_solubility(data):
    from matplotlib.lines import Line2D

    figure, (ax,) = _figure()
    _draw_lines(data, [ax], ["h2s_solubility"], "Temperature (°C)",
                [f"{H2S} solubility (mol/kg {H2O})"])
    pressures, brines = data.arguments["P"], data.arguments["m_nacl"]
    by_pressure = [Line2D([], [], color=PALETTE[i % len(PALETTE)], linewidth=1.5, label=_pressure_label(p))
                   for i, p in enumerate(pressures)]
    by_brine = [Line2D([], [], color="#444444", linestyle=DASHES[j % len(DASHES)], linewidth=1.5,
                       label=f"{m:g} mol/kg") for j, m in enumerate(brines)]
    ax.add_artist(_outside_legend(ax, by_pressure, "Pressure"))
    _outside_legend(ax, by_brine, "m(NaCl)", loc="lower left", anchor=(1.02, 0.0))
    ax.set_title(f"Solubility of {H2S} in water and NaCl solutions")
    return figure


def _draw_halite_solubility(data):
    figure, (ax,) = _figure()
    _draw_lines(data, [ax], ["halite_solubility"], "Temperature (°C)",
                [f"Halite solubility, m(NaCl) ({MOLALITY_UNIT})"])
    _legend_of_lines(ax, data, "Pressure")
    ax.set_title("Solubility of halite (NaCl) in water")
    return figure


def _pressure_phrase(p):
    if p == "sat":
        return "the saturation pressure of water"
    return "the saturation pressure of water, at least 0.1 MPa" if p == 0 else f"{p:g} MPa"


def _draw_activity(data):
    figure, axes = _figure((9.0, 4.2), panels=2)
    _draw_lines(data, axes, ["nacl_activity_coefficient", "osmotic_coefficient"], f"m(NaCl) ({MOLALITY_UNIT})",
                ["Mean activity coefficient of NaCl, γ$_\\pm$", "Osmotic coefficient, φ"])
    _legend_of_lines(axes[-1], data, "Temperature")
    figure.suptitle(f"NaCl solutions at {_pressure_phrase(data.arguments['P'])}")
    return figure


def _draw_density(data):
    figure, (ax,) = _figure()
    _draw_lines(data, [ax], ["density"], f"m(NaCl) ({MOLALITY_UNIT})", ["Density of the solution (g/cm³)"])
    _legend_of_lines(ax, data, "Temperature")
    ax.set_title(f"Density of NaCl solutions at {_pressure_phrase(data.arguments['P'])}")
    return figure


# Categories of the map: (name, colour); the index is the value drawn.
MAP_CATEGORIES = (
    ("below both saturations", "#F4F4F4"),
    (f"{H2S} above its solubility", "#56B4E9"),
    ("NaCl above halite saturation", "#E69F00"),
    ("both", "#CC79A7"),
    ("not computed", "#8C8C8C"),
)


def map_categories(mark, status):
    """The map's category of each point: 0 none, 1 H2S above its solubility,
    2 NaCl above halite saturation, 3 both, 4 not computed."""
    return np.select([status != 0, mark == MARK_BOTH, mark == MARK_H2S, mark == MARK_NACL], [4, 3, 1, 2], 0)


def _draw_saturation_map(data):
    from matplotlib.colors import ListedColormap
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch

    columns, shape = data.columns, data.shape
    T, m = data.arguments["T"], data.arguments["m_nacl"]
    status = columns["status"].reshape(shape)
    category = map_categories(columns["mark"].reshape(shape), status)
    figure, (ax,) = _figure()
    colours = ListedColormap([colour for _, colour in MAP_CATEGORIES])
    ax.pcolormesh(T, m, category, cmap=colours, vmin=-0.5, vmax=len(MAP_CATEGORIES) - 0.5, shading="nearest")
    ax.grid(False)
    handles = [Patch(facecolor=colour, edgecolor="#666666", linewidth=0.5, label=name)
               for index, (name, colour) in enumerate(MAP_CATEGORIES) if index < 4 or (category == 4).any()]
    # The boundaries: where the H2S solubility equals m(H2S), and where the
    # halite mark sets in (half-way between the points either side).
    excess = np.ma.masked_where(status != 0, columns["h2s_solubility"].reshape(shape) - data.arguments["m_h2s"])
    halite = np.ma.masked_where(status != 0, ((category == 2) | (category == 3)).astype(float))
    for field, level, dashes, name in ((excess, 0.0, "-", f"{H2S} solubility = m({H2S})"),
                                       (halite, 0.5, "--", "halite saturation")):
        if field.count() and field.min() < level < field.max():
            ax.contour(T, m, field, levels=[level], colors="black", linewidths=1.4, linestyles=dashes)
            handles.append(Line2D([], [], color="black", linewidth=1.4, linestyle=dashes, label=name))
    ax.set_xlabel("Temperature (°C)")
    ax.set_ylabel(f"m(NaCl) ({MOLALITY_UNIT})")
    ax.set_title(f"Saturation at {_pressure_phrase(data.arguments['P'])}, m({H2S}) = {data.arguments['m_h2s']:g} mol/kg")
    _outside_legend(ax, handles)
    return figure


_DRAW = {
    "h2s_solubility": _draw_h2s_solubility,
    "halite_solubility": _draw_halite_solubility,
    "activity": _draw_activity,
    "density": _draw_density,
    "saturation_map": _draw_saturation_map,
}


def draw(data):
    """The Figure of computed values (a Data tuple from ``compute``)."""
    return _DRAW[data.kind](data)


def h2s_solubility(T=None, P=None, m_nacl=None, *, extended_range=False):
    """Solubility of H2S (mol/kg) against T (°C), a line per pressure P (MPa or
    "sat") and brine m_nacl (mol/kg; 0 is pure water, as the "Components"
    sheet computes it). Returns a matplotlib Figure."""
    return draw(compute("h2s_solubility", T=T, P=P, m_nacl=m_nacl, extended_range=extended_range))


def halite_solubility(T=None, P=None, *, extended_range=False):
    """Solubility of halite in water (mol/kg) against T (°C), a line per
    pressure P (MPa or "sat"). Returns a matplotlib Figure."""
    return draw(compute("halite_solubility", T=T, P=P, extended_range=extended_range))


def activity(m_nacl=None, T=None, P=None, *, extended_range=False):
    """Mean activity coefficient of NaCl and osmotic coefficient against
    m_nacl (mol/kg), a line per temperature T (°C), at one pressure P (MPa or
    "sat"); two panels. Returns a matplotlib Figure."""
    return draw(compute("activity", m_nacl=m_nacl, T=T, P=P, extended_range=extended_range))


def density(m_nacl=None, T=None, P=None, *, extended_range=False):
    """Density of the NaCl solution (g/cm3) against m_nacl (mol/kg), a line per
    temperature T (°C), at one pressure P (MPa or "sat"). Returns a matplotlib Figure."""
    return draw(compute("density", m_nacl=m_nacl, T=T, P=P, extended_range=extended_range))


def saturation_map(T=None, m_nacl=None, P=None, m_h2s=None, *, extended_range=False):
    """The plane of T (°C) and m_nacl (mol/kg) at one pressure P and H2S
    molality m_h2s, coloured by the sheet's marks (none, H2S above its
    solubility, NaCl above halite saturation, both; grey where not computed),
    with the two saturation boundaries drawn. Returns a matplotlib Figure."""
    return draw(compute("saturation_map", T=T, m_nacl=m_nacl, P=P, m_h2s=m_h2s, extended_range=extended_range))


# ---------------------------------------------------------------- files

def file_format(path):
    """The figure format a file name asks for ("png", "svg", "pdf"), or None."""
    extension = os.path.splitext(str(path))[1].lower().lstrip(".")
    return extension if extension in FORMATS else None


def save(figure, path, dpi=150):
    """Write a figure as PNG, SVG or PDF, by the file's extension; the files
    carry no date, so that the same figure gives the same file."""
    from matplotlib import rc_context

    kind = file_format(path)
    if kind is None:
        raise ValueError(f"{path}: a figure file ends in .png, .svg or .pdf")
    metadata = {"png": {}, "svg": {"Date": None}, "pdf": {"CreationDate": None}}[kind]
    with rc_context({"svg.hashsalt": "tersolv"}):
        figure.savefig(path, format=kind, dpi=dpi, metadata=metadata)


def write_csv(columns, path):
    """Write columns as a CSV table with a header row; NaN as an empty cell,
    numbers in their shortest exact form."""
    def cell(value):
        if isinstance(value, (float, np.floating)):
            return "" if math.isnan(value) else repr(float(value))
        return value.item() if isinstance(value, np.generic) else value

    names = list(columns)
    with open(path, "w", newline="", encoding="utf-8") as file:
        writer = csv.writer(file)
        writer.writerow(names)
        for row in zip(*(columns[name] for name in names)):
            writer.writerow([cell(value) for value in row])


# ---------------------------------------------------------------- command line

def _help_of_kinds():
    lines = ["kinds and their options (with the defaults):"]
    for kind, entry in KINDS.items():
        options = " ".join(f"{_ARGUMENTS[name][0]} {default}" for name, (_, default) in entry.arguments.items())
        lines.append(f"  {kind:<18} {options}")
    lines += ["",
              "Units: T in °C, P in MPa (sat: the saturation pressure of water; 0: the same, at least 0.1 MPa),",
              "molalities in mol/kg. A value list is comma-separated; start:stop:step is a range;",
              "a list that starts with a minus sign is joined to its option: --T=-10:20:1.",
              "`python3 -m tersolv plot KIND --help` says more of one kind."]
    return "\n".join(lines)


def add_command(commands):
    """Add `plot KIND [options]` to the command line's subcommands."""
    import argparse

    parser = commands.add_parser(
        "plot", help="draw a figure of the model's results (PNG, SVG, PDF) or write its values (CSV)",
        description="Draw a figure of the model's results into a PNG, SVG or PDF file (-o, by its extension) "
                    "and/or write the plotted values as a CSV table (--csv).",
        epilog=_help_of_kinds(), formatter_class=argparse.RawDescriptionHelpFormatter)
    kinds = parser.add_subparsers(title="kinds", metavar="KIND", required=True)
    for kind, entry in KINDS.items():
        sub = kinds.add_parser(kind, help=entry.help, description=f"Draw {entry.help}.")
        for name, (role, default) in entry.arguments.items():
            option, what, unit = _ARGUMENTS[name]
            form = {"axis": "values along the axis", "lines": "a line per value", "one": "one value"}[role]
            sub.add_argument(option, dest=name, metavar="VALUES" if role != "one" else "VALUE",
                             default=default, type=_option_type(name),
                             help=f"{what} ({unit}): {form}; default {default}")
        sub.add_argument("-o", "--output", metavar="FILE", help="figure file: .png, .svg or .pdf")
        sub.add_argument("--csv", metavar="FILE", help="write the plotted values as a CSV table")
        sub.add_argument("--extended-range", action="store_true",
                         help="lift the sheet's limits of temperature and pressure")
        sub.set_defaults(run=_run, kind=kind, parser=sub)
    parser.set_defaults(parser=parser)


def _option_type(name):
    import argparse

    def values(text):
        try:
            return parse_values(text, allow_sat=name == "P")
        except ValueError as error:
            raise argparse.ArgumentTypeError(str(error)) from None
    return values


def _run(options):
    parser, program = options.parser, f"{options.parser.prog}"
    if options.output is None and options.csv is None:
        parser.error("nothing to write: give -o FILE (.png, .svg or .pdf) and/or --csv FILE")
    if options.output is not None and file_format(options.output) is None:
        parser.error(f"-o {options.output}: a figure file ends in .png, .svg or .pdf")
    given = {name: getattr(options, name) for name in KINDS[options.kind].arguments}
    try:
        data = compute(options.kind, extended_range=options.extended_range, **given)
    except ValueError as error:
        parser.error(str(error))
    status, message = data.columns["status"], data.columns["message"]
    failed = status != 0
    if failed.any():
        reasons = "; ".join(f"{text or 'status ' + str(code)}: {count}" for (code, text), count in
                            _counts(zip(status[failed], message[failed])).items())
        print(f"{program}: {failed.sum()} of {failed.size} points not computed ({reasons})", file=sys.stderr)
        if failed.all():
            print(f"{program}: nothing to draw", file=sys.stderr)
            return 3
    try:
        if options.csv is not None:
            write_csv(data.columns, options.csv)
        if options.output is not None:
            save(draw(data), options.output)
    except OSError as error:
        print(f"{program}: cannot write {error.filename}: {error.strerror}", file=sys.stderr)
        return 5
    return 0


def _counts(pairs):
    counts = {}
    for code, text in pairs:
        key = (int(code), str(text))
        counts[key] = counts.get(key, 0) + 1
    return counts
