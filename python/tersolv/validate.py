"""The model against measurements: each measured point beside the model's value at the same state.

A measurement file is a CSV file with the columns

    group, dataset, T_C, P_MPa, m_NaCl, quantity, value, unit[, provenance, note]

one measured value per row: T in °C; P in MPa (a number; "sat" for the
saturation pressure of water; 0 for the same but at least 0.1 MPa; a number
followed by a remark in parentheses, such as "0.101325 (default)"; or
"p_sat(...)" for a saturation pressure the source does not give); m(NaCl) in
mol per kg of water ("—" or empty where the quantity is one of pure water).
``group`` and ``dataset`` name where a row belongs in the statistics. A row
whose ``note`` holds "FLAG", or whose quantity or note says the value is
"author-extrapolated", is compared but kept out of its data set's statistics
and reported apart.

How each quantity is compared (``QUANTITIES``): the measured value is turned
into the quantity the model computes, and the deviation is
100 (model - measured) / measured, in percent, of that quantity.
"""

import csv
import io
import json
import math
import re
import statistics
from dataclasses import dataclass

import numpy as np

from ._numbers import finite_number

COLUMNS = ("group", "dataset", "T_C", "P_MPa", "m_NaCl", "quantity", "value", "unit")
M_WATER = 0.0180153  # kg/mol: the molar mass with which the compilation turns x into m


def _h2s_molality(x):
    """Molality of H2S (mol/kg) from its mole fraction on a salt-free (H2O + H2S) basis."""
    return x / ((1.0 - x) * M_WATER)


@dataclass(frozen=True)
class Quantity:
    """A measured quantity, and the model's value it is compared with."""

    name: str          # how the quantity column begins, e.g. "osmotic coefficient"
    slug: str          # short name in the keys of data sets holding several quantities
    units: tuple       # (unit text, how many of it make the model's unit), the first one the usual
    water: str         # "components" or "ternary": where the model value comes from at m(NaCl) = 0
    brine: str         # the same at m(NaCl) > 0 ("" where the quantity is one of pure water)
    key: str           # the model's result key
    convert: object    # measured value (in the model's unit) -> the model's quantity
    mapping: str       # the comparison, in words

    def layout(self, m_nacl):
        return self.water if m_nacl == 0 else self.brine


QUANTITIES = (
    Quantity("x(H2S)", "x_h2s", (("mole fraction", 1.0),), "components", "ternary", "h2s_solubility",
             _h2s_molality,
             "mole fraction of H2S in the liquid at the measured total pressure, turned into molality on a "
             "salt-free basis, m = x / ((1 - x) 0.0180153 kg/mol); compared with the solubility of H2S in "
             "pure water (Components) or in the NaCl solution of that molality (Ternary system, m(H2S) = 0)"),
    Quantity("osmotic coefficient", "phi", (("1", 1.0),), "ternary", "ternary", "osmotic_coefficient",
             None, "osmotic coefficient of the solution (Ternary system, m(H2S) = 0)"),
    Quantity("mean activity coeff", "gamma", (("1", 1.0),), "ternary", "ternary", "nacl_activity_coefficient",
             None, "mean ionic activity coefficient of NaCl, molal scale (Ternary system, m(H2S) = 0)"),
    Quantity("saturation molality of halite", "m_halite", (("mol/kg H2O", 1.0), ("mol/kg", 1.0)),
             "components", "", "halite_solubility", None,
             "molality of NaCl in water saturated with halite (Components, halite solubility)"),
    Quantity("density", "rho", (("kg/m3", 1000.0), ("g/cm3", 1.0)), "ternary", "ternary", "density",
             None, "density of the solution (Ternary system, m(H2S) = 0)"),
)


class BadRows(ValueError):
    """Rows of a measurement file that cannot be read; ``rows`` holds (line, message) pairs."""

    def __init__(self, path, rows):
        self.rows = rows
        super().__init__("\n".join(f"{path}, line {line}: {message}" for line, message in rows))


@dataclass(frozen=True)
class Measurement:
    line: int            # line of the file where the row begins
    group: str
    dataset: str
    T: float             # °C
    P: object            # MPa, or "sat"
    P_remark: str        # what the pressure cell said beside its number ("" for a plain number)
    m_nacl: float        # mol/kg
    quantity: Quantity
    value: float         # as measured, in the file's unit
    unit: str
    per_unit: float      # values in the file's unit per one of the model's
    flag: str            # why the row is kept out of the statistics ("" when it is not)


_NUMBER = r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?"
_ANNOTATED = re.compile(rf"^≈?\s*({_NUMBER})\s*\((.*)\)$")




def _pressure(text):
    """(P, remark): P in MPa or "sat"."""
    t = text.strip()
    if t.lower() == "sat" or t.lower().startswith("p_sat"):
        return "sat", "" if t.lower() == "sat" else "saturation pressure of water taken for: " + t
    match = _ANNOTATED.match(t)
    if match:
        return finite_number(match.group(1), "P_MPa"), t
    P = finite_number(t, "P_MPa")
    if P < 0:
        raise ValueError(f"P_MPa {t!r} is negative")
    return P, ""


def _quantity(name, unit):
    for quantity in QUANTITIES:
        if name.strip().startswith(quantity.name):
            for text, per_unit in quantity.units:
                if unit.strip() == text:
                    return quantity, per_unit
            known = ", ".join(repr(u) for u, _ in quantity.units)
            raise ValueError(f"unit {unit!r} of {quantity.name!r} is not one of {known}")
    known = ", ".join(repr(q.name) for q in QUANTITIES)
    raise ValueError(f"quantity {name!r} is not one that can be compared (its text begins with one of {known})")


def _flag(row):
    note, quantity = row.get("note") or "", row["quantity"]
    if "FLAG" in note:
        return note[note.index("FLAG"):].removeprefix("FLAG").lstrip(": ").strip() or "flagged"
    if "author-extrapolated" in quantity or "author-extrapolated" in note:
        return "molality extrapolated by the authors, not measured"
    return ""


def _measurement(line, row):
    missing = [c for c in COLUMNS if not (row.get(c) or "").strip()
               and not (c == "m_NaCl" and row.get(c) is not None)]
    if missing:
        raise ValueError("empty or missing " + ", ".join(missing))
    quantity, per_unit = _quantity(row["quantity"], row["unit"])
    T = finite_number(row["T_C"], "T_C")
    P, remark = _pressure(row["P_MPa"])
    m_text = row["m_NaCl"].strip()
    if m_text in ("", "—", "-"):
        if quantity.brine:
            raise ValueError(f"m_NaCl is needed for {quantity.name!r}")
        m_nacl = 0.0
    else:
        m_nacl = finite_number(m_text, "m_NaCl")
        if m_nacl < 0:
            raise ValueError(f"m_NaCl {m_text!r} is negative")
        if m_nacl > 0 and not quantity.brine:
            raise ValueError(f"{quantity.name!r} is a property of pure water: m_NaCl must be 0 or empty")
    value = finite_number(row["value"], "value")
    if value < 0 or (quantity.convert is _h2s_molality and not value < 1):
        raise ValueError(f"value {row['value']!r} is out of range for {quantity.name!r}")
    return Measurement(line, row["group"].strip(), row["dataset"].strip(), T, P, remark, m_nacl,
                       quantity, value, row["unit"].strip(), per_unit, _flag(row))


def _text(path):
    """The file's text; BadRows names the line of a byte that is not UTF-8."""
    with open(path, "rb") as file:
        data = file.read()
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as fault:
        line = data[:fault.start].count(b"\n") + 1
        raise BadRows(path, [(line, f"byte 0x{data[fault.start]:02x} is not UTF-8 text")]) from None


def read_measurements(path):
    """The rows of a measurement file; BadRows names every row that cannot be read."""
    rows, bad = [], []
    # strict: a quote left open is an error, not a cell that swallows the rows after it
    reader = csv.DictReader(io.StringIO(_text(path), newline=""), strict=True)
    line = 1
    try:
        absent = [c for c in COLUMNS if c not in (reader.fieldnames or [])]
        if absent:
            raise BadRows(path, [(1, "the header lacks the column(s) " + ", ".join(absent))])
        line = reader.line_num + 1
        for row in reader:
            try:
                if None in row:
                    raise ValueError(f"{len(reader.fieldnames) + len(row[None])} cells, the header has "
                                     f"{len(reader.fieldnames)}")
                rows.append(_measurement(line, row))
            except ValueError as fault:
                bad.append((line, str(fault)))
            line = reader.line_num + 1
    except csv.Error as fault:
        bad.append((line, f"not CSV from here on ({fault}; a quote left open?)"))
    if bad:
        raise BadRows(path, bad)
    return rows


@dataclass(frozen=True)
class Comparison:
    point: Measurement
    measured: float      # in the model's quantity and unit
    model: float         # NaN where the model rejected the point
    P_used: float        # MPa (the saturation pressure where P is "sat"; NaN for "sat" rejected)
    reason: str          # why the point has no deviation ("" when it has one)

    @property
    def deviation(self):
        """100 (model - measured) / measured, percent (NaN where there is none)."""
        return math.nan if self.reason else 100.0 * (self.model - self.measured) / self.measured


def _used_pressure(given, used):
    """The pressure of a point in MPa: the model's (which gives the saturation pressure for "sat"), or the
    given one where the model rejected the point."""
    if math.isfinite(used) or given == "sat":
        return used
    return given


def compare(points, *, extended_range=False, threads=0):
    """Each point beside the model's value, in the order of ``points``."""
    from . import components, ternary

    results = [None] * len(points)
    for layout in ("components", "ternary"):
        chosen = [i for i, p in enumerate(points) if p.quantity.layout(p.m_nacl) == layout]
        if not chosen:
            continue
        T = np.array([points[i].T for i in chosen], dtype=np.float64)
        P = np.array([points[i].P for i in chosen], dtype=object)
        if layout == "components":
            out = components(T, P, extended_range=extended_range, threads=threads)
        else:
            m = np.array([points[i].m_nacl for i in chosen], dtype=np.float64)
            out = ternary(T, P, 0.0, m, extended_range=extended_range, threads=threads)
        for j, i in enumerate(chosen):
            p = points[i]
            model = float(out[p.quantity.key][j])
            if out["status"][j] != 0:
                reason = str(out["message"][j]) or f"status {int(out['status'][j])}"
            elif not math.isfinite(model):
                reason = f"no {p.quantity.key.replace('_', ' ')} found"
            elif p.value == 0:
                reason = f"measured value 0 (no relative deviation; the model gives {model:.4g})"
            else:
                reason = ""
            value = p.value / p.per_unit
            measured = p.quantity.convert(value) if p.quantity.convert else value
            results[i] = Comparison(p, measured, model if out["status"][j] == 0 else math.nan,
                                    _used_pressure(p.P, float(out["P"][j])), reason)
    return results


def dataset_keys(points):
    """The key of each point's data set: "group/dataset", with the quantity's short name
    appended where a data set of a group holds several quantities."""
    quantities = {}
    for p in points:
        quantities.setdefault((p.group, p.dataset), set()).add(p.quantity.slug)
    return [f"{p.group}/{p.dataset}" + (f"/{p.quantity.slug}" if len(quantities[p.group, p.dataset]) > 1 else "")
            for p in points]


def statistics_of(comparisons):
    """n, bias and the mean, median and largest |deviation| in percent, and the ranges of T, P and m."""
    deviations = [c.deviation for c in comparisons if not c.reason]
    absolute = [abs(d) for d in deviations]
    stats = {"n": len(deviations),
             "bias_pct": statistics.fmean(deviations) if deviations else math.nan,
             "mean_abs_pct": statistics.fmean(absolute) if deviations else math.nan,
             "median_abs_pct": statistics.median(absolute) if deviations else math.nan,
             "max_abs_pct": max(absolute) if deviations else math.nan,
             "not_compared": sum(1 for c in comparisons if c.reason)}
    for name, values in (("T_C", [c.point.T for c in comparisons]),
                         ("P_MPa", [c.P_used for c in comparisons if math.isfinite(c.P_used)]),
                         ("m_NaCl", [c.point.m_nacl for c in comparisons])):
        stats[name] = [min(values), max(values)] if values else []
    return stats


def summarise(comparisons):
    """{data set key: statistics} of the unflagged points, and the same of the flagged ones."""
    keys = dataset_keys([c.point for c in comparisons])
    kept, flagged = {}, {}
    for key, c in zip(keys, comparisons):
        (flagged if c.point.flag else kept).setdefault(key, []).append(c)
    return ({key: statistics_of(cs) for key, cs in kept.items()},
            {key: statistics_of(cs) for key, cs in flagged.items()})


def statistics_json(comparisons):
    """{key: statistics} rounded for the JSON file; flagged rows under "<key>/FLAG"."""
    kept, flagged = summarise(comparisons)
    table = dict(kept)
    table.update({key + "/FLAG": s for key, s in flagged.items()})

    def rounded(x):
        if isinstance(x, float):
            return round(x, 4) if math.isfinite(x) else None
        if isinstance(x, list):
            return [rounded(v) for v in x]
        return x
    return {key: {name: rounded(value) for name, value in s.items()} for key, s in table.items()}


def json_text(table):
    """One data set per line."""
    rows = [f" {json.dumps(key)}: {json.dumps(s, ensure_ascii=False)}" for key, s in table.items()]
    return "{\n" + ",\n".join(rows) + "\n}\n"


def points_json(comparisons):
    """The statistics (as ``statistics_json``) and every point, as JSON text."""
    keys = dataset_keys([c.point for c in comparisons])
    points = [{"line": c.point.line, "dataset": key, "T_C": c.point.T, "P_MPa": c.P_used if math.isfinite(c.P_used)
               else None, "m_NaCl": c.point.m_nacl, "value": c.point.value, "unit": c.point.unit,
               "compared_as": c.measured, "model": c.model if math.isfinite(c.model) else None,
               "deviation_pct": None if c.reason else c.deviation, "flag": c.point.flag, "reason": c.reason}
              for key, c in zip(keys, comparisons)]
    rows = [f"  {json.dumps(p, ensure_ascii=False)}" for p in points]
    return ('{"statistics": ' + json_text(statistics_json(comparisons)).rstrip("\n") + ',\n"points": [\n'
            + ",\n".join(rows) + "\n]}\n")


def _g(x, digits=4):
    return "–" if x is None or (isinstance(x, float) and not math.isfinite(x)) else f"{x:.{digits}g}"


def _range(values, digits=4):
    if not values:
        return "–"
    low, high = values
    return _g(low, digits) if low == high else f"{_g(low, digits)}–{_g(high, digits)}"


def statistics_table(stats):
    """A Markdown table of {key: statistics}."""
    lines = ["| data set | n | bias % | mean \\|dev\\| % | median \\|dev\\| % | max \\|dev\\| % | not compared "
             "| T °C | P MPa | m(NaCl) mol/kg |",
             "|---|---:|---:|---:|---:|---:|---:|---|---|---|"]
    for key, s in stats.items():
        lines.append(f"| {key} | {s['n']} | {s['bias_pct']:+.2f} | {s['mean_abs_pct']:.2f} | "
                     f"{s['median_abs_pct']:.2f} | {s['max_abs_pct']:.2f} | {s['not_compared']} | "
                     f"{_range(s['T_C'])} | {_range(s['P_MPa'])} | {_range(s['m_NaCl'])} |"
                     if s["n"] else
                     f"| {key} | 0 | – | – | – | – | {s['not_compared']} | {_range(s['T_C'])} | "
                     f"{_range(s['P_MPa'])} | {_range(s['m_NaCl'])} |")
    return "\n".join(lines)


def flag_reasons(comparisons):
    """Why rows are flagged: a line per data set and reason, with the number of rows."""
    counts = {}
    for key, c in zip(dataset_keys([c.point for c in comparisons]), comparisons):
        if c.point.flag:
            counts[key, c.point.flag] = counts.get((key, c.point.flag), 0) + 1
    return "\n".join(f"- {key} ({n} row{'s' if n > 1 else ''}): {flag}" for (key, flag), n in counts.items())


def no_deviation_table(comparisons):
    keys = dataset_keys([c.point for c in comparisons])
    lines = ["| line | data set | T °C | P MPa | m(NaCl) | reason |", "|---:|---|---:|---|---:|---|"]
    lines += [f"| {c.point.line} | {key} | {_g(c.point.T)} | {c.point.P if c.point.P == 'sat' else _g(c.point.P)} "
              f"| {_g(c.point.m_nacl)} | {c.reason} |"
              for key, c in zip(keys, comparisons) if c.reason]
    return "\n".join(lines) if len(lines) > 2 else "None."


def points_table(comparisons):
    keys = dataset_keys([c.point for c in comparisons])
    lines = ["| line | data set | T °C | P MPa | m(NaCl) | value | unit | compared as | model | dev % | note |",
             "|---:|---|---:|---:|---:|---:|---|---:|---:|---:|---|"]
    for key, c in zip(keys, comparisons):
        note = c.reason or (("FLAG: " + c.point.flag) if c.point.flag else "")
        dev = "–" if c.reason else f"{c.deviation:+.2f}"
        lines.append(f"| {c.point.line} | {key} | {_g(c.point.T)} | {_g(c.P_used, 5)} | {_g(c.point.m_nacl)} | "
                     f"{_g(c.point.value, 5)} | {c.point.unit} | {_g(c.measured, 5)} | {_g(c.model, 5)} | {dev} | {note} |")
    return "\n".join(lines)


def mappings_text(comparisons):
    used = []
    for c in comparisons:
        if c.point.quantity not in used:
            used.append(c.point.quantity)
    return "\n".join(f"- {q.name}: {q.mapping}." for q in used)


def report(path, comparisons):
    """The Markdown report of ``validate``: statistics, mappings, points without a deviation, every point."""
    kept, flagged = summarise(comparisons)
    parts = [f"# {path} against the model", "",
             "Deviation = 100 (model - measured) / measured, in percent.", "",
             "## Statistics per data set", "", statistics_table(kept), ""]
    if flagged:
        parts += ["## Flagged rows (kept out of the statistics above)", "", statistics_table(flagged), "",
                  flag_reasons(comparisons), ""]
    parts += ["## How each quantity is compared", "", mappings_text(comparisons), "",
              "## Points without a deviation", "", no_deviation_table(comparisons), "",
              "## Every point", "", points_table(comparisons), ""]
    return "\n".join(parts)


def add_command(subparsers):
    """The ``validate`` subcommand of ``python3 -m tersolv``."""
    parser = subparsers.add_parser(
        "validate", help="compare the model with measurements in a CSV file",
        description="Compare the model with measurements: each row of DATA.csv (columns " + ", ".join(COLUMNS)
        + "[, provenance, note]) beside the model's value at the same T, P and m(NaCl); prints the "
        "statistics per data set and the deviation of every point. Rows that cannot be read are named "
        "by their line and nothing is computed (exit code 3).")
    parser.add_argument("data", metavar="DATA.csv")
    parser.add_argument("-o", "--output", metavar="REPORT", help="also write the report into REPORT "
                        "(Markdown; JSON of the statistics and the points where the name ends in .json)")
    parser.add_argument("--extended-range", action="store_true", help="lift the limits of T and P")
    parser.set_defaults(run=run_command)
    return parser


def run_command(args):
    import sys

    try:
        points = read_measurements(args.data)
    except BadRows as bad:
        print(bad, file=sys.stderr)
        return 3
    except OSError as fault:
        print(f"{args.data}: {fault.strerror}", file=sys.stderr)
        return 5
    comparisons = compare(points, extended_range=args.extended_range)
    text = report(args.data, comparisons)
    print(text, end="")
    if args.output:
        if args.output.endswith(".json"):
            text = points_json(comparisons)
        with open(args.output, "w", encoding="utf-8") as file:
            file.write(text)
    return 0
