"""tersolv.ternary on 10^6 random points over the default range, as calc_bench draws them.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/ternary_bench.py [points] [repeats]

T 0..325 C, P from the saturation pressure to 100 MPa (5 % "sat"), m(H2S) 0..2 and
m(NaCl) 0..6 mol/kg. Prints the wall time of the calls on all cores and on one
thread, and the wall and CPU time per point, to set beside calc_bench's (the driver
alone on a 32767-row in-memory sheet, without the reader's checks of the rows).
"""

import os
import statistics
import sys
import time

import numpy as np

import tersolv


def random_points(n, seed=20261206):
    rng = np.random.default_rng(seed)
    T = 325 * rng.uniform(size=n)
    grid = np.linspace(0, 325, 3251)
    psat = np.maximum(0.1, tersolv.components(grid, "sat")["P"])
    P = np.interp(T, grid, psat)
    P = (P + (100 - P) * rng.uniform(size=n)).astype(object)
    P[rng.uniform(size=n) < 0.05] = "sat"
    return T, P, 2 * rng.uniform(size=n), 6 * rng.uniform(size=n)


def timed(args, threads, repeats):
    """Wall times of the calls, the least CPU time of one (all threads), the last result."""
    times, cpu = [], []
    for _ in range(repeats):
        start, start_cpu = time.perf_counter(), time.process_time()
        result = tersolv.ternary(*args, threads=threads)
        times.append(time.perf_counter() - start)
        cpu.append(time.process_time() - start_cpu)
    return times, min(cpu), result


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    args = random_points(n)
    print(f"tersolv {tersolv.__version__}, {n} points, {os.cpu_count()} cores, load {os.getloadavg()[0]:.2f}")
    for threads, label in ((0, "all cores"), (1, "one thread")):
        times, cpu, result = timed(args, threads, repeats if threads == 0 else 1)
        best, median = min(times), statistics.median(times)
        statuses = {int(s): int(c) for s, c in zip(*np.unique(result["status"], return_counts=True))}
        print(f"{label:>10}: best {best:.3f} s, median {median:.3f} s of {len(times)}; "
              f"{1e6 * best / n:.2f} us per point, {1e6 * cpu / n:.2f} us of CPU per point; statuses {statuses}")


if __name__ == "__main__":
    main()
