"""Tersolv from Python: properties of water + H2S + NaCl for arrays of state points.

Units are those of the spreadsheet: temperature T in °C, pressure P in MPa
(0 or "sat" for the saturation pressure of water, 0 taking at least 0.1 MPa),
molalities in mol per kg of water.

``components(T, P)`` gives the results of a "Components" sheet (water, H2S and
their solubilities) and ``ternary(T, P, m_h2s, m_nacl)`` those of a "Ternary
system" sheet, as dicts of NumPy arrays keyed as ``tersolv point --json`` keys
its results, plus ``T``, ``P`` (the pressure used), ``mark`` (ternary),
``status`` and ``message``. ``dataframe(df)`` does the same on a pandas
DataFrame and ``calc(path)`` calculates a workbook file as ``tersolv calc``.

Every point stands alone: its ``status`` is

    0  accepted and computed
    1  "Unexpected error" (a run-time error while the point was checked)
    2  "Format error or incorrect keyword" (not a number: NaN, infinity, a text)
    4  "T/P/D value(s) out of range" (also a number so small that it is subnormal)
    5  "Saturation vapor pressure does not exist"
    6  "Illegal value of m(H2S)"
    7  "Illegal value of m(NaCl)"
    8  a run-time error of the calculation (its text in ``message``)

(status 3, "Unrecognized worksheet", belongs to sheets only). A point that is
rejected or fails has NaN in the values it has not computed; NaN also stands
where the sheet leaves a cell empty or writes "not found". ``message`` is the
sheet's text of the status, the run-time error's text, or "" for a fine point.
"""

import operator
import os

import numpy as np

from . import _tersolv

__version__ = _tersolv.__version__

#: The result columns of each function, in order: (key, caption, unit) tuples ("" where a
#: quantity has no unit), as the sheets and ``tersolv point`` name them.
RESULT_COLUMNS = {"components": tuple(_tersolv.components_columns),
                  "ternary": tuple(_tersolv.ternary_columns)}

#: The colour marks of ternary points ({colour: meaning}; red + 256 green + 65536 blue).
MARKS = dict(_tersolv.marks)

__all__ = ["components", "ternary", "dataframe", "calc", "RESULT_COLUMNS", "MARKS",
           "TersolvError", "InputRejected", "CalculationError", "WorkbookError"]

_COMPONENTS, _TERNARY = 1, 2


def _pressure(P):
    """P as MPa values and a flag of "sat" (NaN where P is neither a number nor "sat")."""
    P = np.asarray(P)
    if P.dtype.kind in "biuf":
        return P.astype(np.float64), np.zeros(P.shape, dtype=bool)
    if P.dtype.kind != "U":
        P = P.astype(object)  # bytes among them compare with "sat" one by one
    saturation = np.asarray(P == "sat", dtype=bool)
    try:  # numbers, number texts and "sat" (the common case, without a loop in Python)
        return np.where(saturation, 0.0, P).astype(np.float64), saturation
    except (TypeError, ValueError):
        pass
    values = np.empty(P.shape, dtype=np.float64)
    saturation = np.zeros(P.shape, dtype=bool)
    for index, p in np.ndenumerate(P):
        if isinstance(p, bytes):
            p = p.decode("utf-8", "replace")
        if isinstance(p, str) and p.strip().lower() == "sat":
            saturation[index] = True
            values[index] = 0.0
            continue
        try:
            values[index] = float(p)
        except (TypeError, ValueError):
            values[index] = np.nan  # rejected with status 2, as the sheet rejects such a cell
    return values, saturation


def _threads(threads):
    """The thread count for the module: a whole number >= 0 (0: one per core)."""
    count = operator.index(threads)
    if count < 0:
        raise ValueError(f"threads must be 0 (one per core) or more, not {count}")
    return min(count, 1 << 16)  # the driver never uses more threads than blocks of points anyway


def _evaluate(kind, T, P, molalities, extended_range, threads):
    P, saturation = _pressure(P)
    arrays = np.broadcast_arrays(np.asarray(T, dtype=np.float64), P, saturation,
                                 *(np.asarray(m, dtype=np.float64) for m in molalities))
    shape = arrays[0].shape
    flat = [np.ascontiguousarray(a).ravel() for a in arrays]
    T, P, saturation = flat[:3]
    m_h2s, m_nacl = flat[3:] if kind == _TERNARY else (T[:0], T[:0])
    result = _tersolv.evaluate(kind, T, P, saturation, m_h2s, m_nacl, bool(extended_range), _threads(threads))
    return {key: value.reshape(shape) for key, value in result.items()}


def components(T, P, *, extended_range=False, threads=0):
    """Water, H2S and the solubilities at each point, as a "Components" sheet computes them.

    T : array_like, °C (0 to 325 unless extended_range)
    P : array_like, MPa (up to 100 unless extended_range); 0 or "sat" for the
        saturation pressure of water (an object array may mix numbers and "sat")
    extended_range : lifts the limits of temperature and pressure
    threads : threads that compute the points (0: one per core)

    The arguments broadcast against each other (scalars too). Returns a dict of
    arrays of the broadcast shape:

    T, P                    °C as given, MPa: the pressure used (the saturation pressure for "sat")
    water_density           g/cm3
    water_molar_volume      cm3/mol
    water_fugacity          MPa
    h2s_density             g/cm3
    h2s_molar_volume        cm3/mol
    h2s_fugacity            MPa
    h2s_solubility          mol/kg, in pure water
    halite_solubility       mol/kg, in water (NaN where the sheet says "not found")
    status, message         see the package's documentation (0 and "" when fine)
    """
    return _evaluate(_COMPONENTS, T, P, (), extended_range, threads)


def ternary(T, P, m_h2s, m_nacl, *, extended_range=False, threads=0):
    """The ternary solution water + H2S + NaCl at each point, as a "Ternary system" sheet computes it.

    T : array_like, °C (0 to 325 unless extended_range)
    P : array_like, MPa (up to 100 unless extended_range); 0 or "sat" for the
        saturation pressure of water (an object array may mix numbers and "sat")
    m_h2s, m_nacl : array_like, mol/kg of water (>= 0)
    extended_range : lifts the limits of temperature and pressure
    threads : threads that compute the points (0: one per core)

    The arguments broadcast against each other (scalars too). Returns a dict of
    arrays of the broadcast shape:

    T, P                          °C as given, MPa: the pressure used (the saturation pressure for "sat")
    osmotic_coefficient           dimensionless
    water_activity_coefficient    a_w/x_w, dimensionless
    salting_out_coefficient       kg/mol (NaN where no H2S dissolves)
    h2s_solubility                mol/kg, in the solution
    h2s_activity_coefficient      dimensionless
    nacl_activity_coefficient     mean activity coefficient, dimensionless
    density                       g/cm3, of the solution
    molar_volume                  cm3/mol, of the solution
    mark                          0; 255 (red) NaCl above halite saturation;
                                  16711680 (blue) H2S above its solubility;
                                  16711935 (magenta) both
    status, message               see the package's documentation (0 and "" when fine)
    """
    return _evaluate(_TERNARY, T, P, (m_h2s, m_nacl), extended_range, threads)


def dataframe(df, *, extended_range=False, threads=0):
    """The results of the points of a pandas DataFrame, as a DataFrame with the same index.

    df : DataFrame with columns ``T`` (°C) and ``P`` (MPa, 0 or "sat"), and
         ``m_h2s`` and ``m_nacl`` (mol/kg) for the ternary solution; other
         columns are ignored
    extended_range, threads : as for components and ternary

    The result has the columns of the dict that ``components`` (without
    molality columns) or ``ternary`` (with both) returns. Being a function of
    one partition, it works unchanged as ``ddf.map_partitions(tersolv.dataframe)``
    on a Dask DataFrame.
    """
    import pandas as pd

    molalities = [name for name in ("m_h2s", "m_nacl") if name in df.columns]
    if len(molalities) == 1:
        raise KeyError("the ternary solution needs both columns m_h2s and m_nacl")
    def numbers(name):  # a missing value (None, pd.NA) as NaN: rejected with status 2
        return df[name].to_numpy(dtype=np.float64, na_value=np.nan)

    T, P = numbers("T"), df["P"].to_numpy()
    if molalities:
        result = ternary(T, P, numbers("m_h2s"), numbers("m_nacl"),
                         extended_range=extended_range, threads=threads)
    else:
        result = components(T, P, extended_range=extended_range, threads=threads)
    return pd.DataFrame(result, index=df.index)


class TersolvError(Exception):
    """What ``calc`` raises when a workbook file is not calculated in full."""


class WorkbookError(TersolvError):
    """The workbook file could not be read or saved, or has no such sheet (exit code 5 or 2 of `tersolv calc`)."""


class InputRejected(TersolvError):
    """The sheet's checks rejected the cell at ``row``, ``column`` (1 = A) with ``status`` 1-7 and its
    ``message``; the file is not changed (exit code 3 of `tersolv calc`)."""

    def __init__(self, row, column, status, message):
        super().__init__(f"Row={row}, Col={column}: {message}")
        self.row, self.column, self.status, self.message = row, column, status, message


class CalculationError(TersolvError):
    """A run-time error of the calculation in ``row`` (its ``message``); the rows before it are calculated
    and saved (exit code 4 of `tersolv calc`)."""

    def __init__(self, row, message):
        super().__init__(f"run-time error in row {row}: {message}")
        self.row, self.message = row, message


def calc(path, *, sheet=None, output=None, extended_range=False, threads=0):
    """Calculates a workbook file as ``tersolv calc`` does, and returns the number of its points.

    path : a .xlsx (.xlsm) or .csv file laid out as a "Components" or "Ternary
           system" sheet (a .csv file's sheet is named after the file, or by sheet)
    sheet : the sheet to calculate (default: the workbook's active sheet)
    output : save into this file (of the same format) instead of path, which is left as it is
    extended_range : lifts the limits of temperature and pressure
    threads : threads that check the rows and compute the points (0: one per core)

    Raises InputRejected (nothing saved), CalculationError (the rows before the
    failing one saved) or WorkbookError.
    """
    outcome = _tersolv.calc_file(os.fspath(path), sheet or "", os.fspath(output) if output else "",
                                 bool(extended_range), _threads(threads))
    result, message = outcome["result"], outcome["message"]
    if result in ("open error", "no such file"):
        raise WorkbookError(f"{os.fspath(path)}: {message}")
    if result == "no such sheet":
        raise WorkbookError(f"{os.fspath(path)} has no sheet {sheet!r} (its sheets: "
                            + ", ".join(map(repr, outcome["sheet_names"])) + ")")
    if result == "rejected":
        raise InputRejected(outcome["row"], outcome["column"], outcome["status"], message)
    if outcome["save_error"]:
        raise WorkbookError(f"the results were not saved: {outcome['save_error']}")
    if result == "failed":
        if outcome["link_failure"]:
            raise WorkbookError(f"row {outcome['row']}: {message} (the rows before it are saved)")
        raise CalculationError(outcome["row"], message)
    return outcome["points"]
