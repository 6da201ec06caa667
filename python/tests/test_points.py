"""tersolv.components and tersolv.ternary against `tersolv point --json`, bit for bit, point by point."""

import math
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import tersolv
from conftest import run_point

# The sheet's texts of the statuses a point can get.
STATUS_OF_TEXT = {"Unexpected error": 1, "Format error or incorrect keyword": 2, "T/P/D value(s) out of range": 4,
                  "Saturation vapor pressure does not exist": 5, "Illegal value of m(H2S)": 6,
                  "Illegal value of m(NaCl)": 7}

# (T, P, extended range, expected status) of "Components" points: computed,
# "not found", at saturation, and rejected at each status.
COMPONENTS = [
    (25.0, 10.0, False, 0),
    (25.0, 0.0, False, 0),  # at least 0.1 MPa
    (100.0, "sat", False, 0),
    (300.0, 50.0, False, 0),  # no halite solubility found
    (0.0, 100.0, False, 0),
    (325.0, "0", False, 0),
    (350.0, 10.0, False, 4),  # T beyond 325 C
    (25.0, 150.0, False, 4),  # P beyond 100 MPa
    (25.0, -1.0, False, 4),
    (2000.0, 10.0, True, 4),  # below the density floor of liquid water
    (25.0, float("nan"), False, 2),
    (25.0, "steam", False, 2),
    (float("inf"), 10.0, False, 2),
    (380.0, "sat", True, 5),
    (350.0, 50.0, True, 0),
    (400.0, 50.0, True, 8),  # no H2S solubility above the critical point
    (25.0, 1e-320, False, 4),  # subnormal: out of the range of numbers
    (1e-310, 10.0, False, 4),
    (25.0, 1e308, True, 4),  # beyond the range once in bar
]

# (T, P, m(H2S), m(NaCl), extended range, expected status) of "Ternary system" points.
TERNARY = [
    (25.0, 10.0, 0.05, 7.0, False, 0),  # beyond halite saturation
    (25.0, 0.1, 0.5, 7.0, False, 0),  # beyond both
    (150.0, "sat", 0.1, 1.0, False, 0),  # no H2S dissolves: no salting-out coefficient
    (100.0, 10.0, 0.1, 1.0, False, 0),
    (60.0, 0.0, 0.0, 0.0, False, 0),
    (250.0, 30.0, 1.5, 4.0, False, 0),
    (25.0, 10.0, -0.1, 1.0, False, 6),
    (25.0, 10.0, 0.1, -1.0, False, 7),
    (25.0, 10.0, float("nan"), 1.0, False, 2),
    (25.0, 10.0, 0.1, float("inf"), False, 2),
    (25.0, 10.0, 1e-315, 1.0, False, 6),
    (330.0, 10.0, 0.1, 1.0, False, 4),
    (400.0, "sat", 0.1, 1.0, True, 5),
    (400.0, 50.0, 0.1, 1.0, True, 8),
]


def random_points(count, seed, ternary):
    """Points over a little more than the default range, so that some are rejected."""
    rng = np.random.default_rng(seed)
    def point():
        T, P = float(rng.uniform(-5, 330)), "sat" if rng.uniform() < 0.15 else float(rng.uniform(-1, 105))
        return (T, P, float(rng.uniform(-0.1, 2)), float(rng.uniform(-0.2, 6.5))) if ternary else (T, P)
    return [(*point(), False, None) for _ in range(count)]


def identical(a, b):
    """The same values bit for bit (NaN equal to NaN, -0.0 not equal to 0.0)."""
    return np.array_equal(*(np.asarray(x).view(np.int64) if np.asarray(x).dtype == np.float64 else x for x in (a, b)))


def expect_as_command_line(result, i, row):
    """Point i of `result` is what `tersolv point` prints for `row` (and has the expected status)."""
    *inputs, extended, expected = row
    code, printed, stderr = run_point(*(repr(v) if isinstance(v, float) else v for v in inputs),
                                      *(["--extended-range"] if extended else []))
    status, message = int(result["status"][i]), str(result["message"][i])
    values = {key: float(array[i]) for key, array in result.items()
              if key not in ("status", "message", "mark")}
    if expected is not None:
        assert status == expected, (row, message)
    if code == 0:
        assert (status, message) == (0, "")
        assert set(result) == set(printed) | {"status", "message"}
        for key, value in printed.items():
            if key == "mark":
                assert result["mark"][i] == value
            elif key in ("T", "P"):  # the numbers given; the sheet may show them converted and back
                assert math.isclose(values[key], value, rel_tol=1e-15, abs_tol=1e-13), (row, key)
            elif isinstance(value, float):
                assert identical(values[key], value), (row, key)
            else:  # "not found" or null: no number
                assert math.isnan(values[key]), (row, key)
        return
    if code == 4:  # a run-time error: the values computed before it stand
        assert status == 8 and message and message in stderr, row
        return
    text = next(text for text in STATUS_OF_TEXT if text in stderr)
    assert code == 3 and status == STATUS_OF_TEXT[text], row
    assert message.startswith(text), row
    assert all(math.isnan(value) for key, value in values.items() if key not in ("T", "P")), row


@pytest.mark.parametrize("function, rows", [(tersolv.components, COMPONENTS + random_points(15, 1, False)),
                                            (tersolv.ternary, TERNARY + random_points(25, 2, True))],
                         ids=["components", "ternary"])
def test_points_equal_the_command_line(function, rows):
    inputs = [np.array(column, dtype=object if k == 1 else float) for k, column in enumerate(zip(*rows))][:-2]
    for extended in (False, True):
        result = function(*inputs, extended_range=extended)
        for i, row in enumerate(rows):
            if row[-2] == extended:
                expect_as_command_line(result, i, row)


def test_thread_counts_agree_bit_for_bit():
    rng = np.random.default_rng(3)
    points = [rng.uniform(0, top, 6000) for top in (325, 100, 2, 6)]
    one = tersolv.ternary(*points, threads=1)
    for threads in (0, 3):
        many = tersolv.ternary(*points, threads=threads)
        assert all(identical(one[key], many[key]) for key in one), threads
    for bad, error in ((-1, ValueError), (1.5, TypeError)):
        with pytest.raises(error, match="threads|integer"):
            tersolv.components(25.0, 1.0, threads=bad)


def test_broadcasting_and_scalars():
    T = np.array([[25.0], [100.0], [350.0]])  # the last one rejected
    P = np.array([0.0, 10.0, 50.0, 100.0])
    grid = tersolv.ternary(T, P, 0.1, [[1.0], [2.0], [3.0]])
    assert all(value.shape == (3, 4) for value in grid.values())
    for i, j in np.ndindex(3, 4):
        alone = tersolv.ternary(float(T[i, 0]), float(P[j]), 0.1, i + 1.0)
        for key, value in alone.items():
            assert value.shape == () and identical(grid[key][i, j], value), key
    assert list(grid["status"][2]) == [4] * 4
    assert tersolv.components([], [])["water_density"].shape == (0,)


def test_pressure_forms():
    numbers = tersolv.components(100.0, [0.0, 0, "0", "sat", " SAT ", "10", b"10", 10.0, None])
    P = numbers["P"]
    assert P[0] == P[1] == P[2] and P[3] == P[4] and P[5] == P[6] == P[7] == 10.0
    assert abs(P[3] - 0.101418) < 1e-6
    assert list(numbers["status"]) == [0] * 8 + [2]


def test_ctrl_c_stops_a_long_call():
    """SIGINT during a call of some seconds ends it with KeyboardInterrupt, long before it would be done."""
    child = subprocess.Popen([sys.executable, "-c", """if True:
        import numpy as np, tersolv
        rng = np.random.default_rng(6)
        points = [rng.uniform(0, top, 4_000_000) for top in (325, 100)]
        print("computing", flush=True)
        try:
            tersolv.ternary(*points, 0.1, 1.0)
            print("done")
        except KeyboardInterrupt:
            print("interrupted")
        """], stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "computing\n"
    time.sleep(0.5)
    child.send_signal(signal.SIGINT)
    out, _ = child.communicate(timeout=60)
    assert out == "interrupted\n"  # the whole call takes tens of seconds: it did not run to its end


def test_other_threads_run_while_points_are_computed():
    """The GIL is released during the calculation: a Python thread keeps ticking through a call."""
    ticks, done = [], threading.Event()

    def tick():
        while not done.wait(0.001):
            ticks.append(time.perf_counter())

    rng = np.random.default_rng(7)
    points = [rng.uniform(0, 325, 20000), rng.uniform(1, 100, 20000), 0.1, 1.0]
    ticker = threading.Thread(target=tick)
    ticker.start()
    start = time.perf_counter()
    tersolv.ternary(*points, threads=1)
    end = time.perf_counter()
    done.set()
    ticker.join()
    gaps = np.diff([start, *(t for t in ticks if start <= t <= end), end])
    assert gaps.max() < (end - start) / 2, (gaps.max(), end - start)
