"""tersolv.dataframe on pandas DataFrames, and the same function over a Dask cluster of two processes."""

import numpy as np
import pandas as pd
import pytest

import tersolv


def random_frame(n, seed, ternary=True):
    """Points over the default range and a little beyond, on a shuffled, non-default index."""
    rng = np.random.default_rng(seed)
    P = rng.uniform(-1, 105, n).astype(object)
    P[rng.uniform(size=n) < 0.1] = "sat"
    frame = pd.DataFrame({"T": rng.uniform(-5, 330, n), "P": P},
                         index=pd.Index(rng.permutation(n) * 3 + 1000, name="sample"))
    if ternary:
        frame["m_h2s"] = rng.uniform(0, 2, n)
        frame["m_nacl"] = rng.uniform(-0.1, 6.5, n)
    return frame


@pytest.mark.parametrize("ternary", [False, True])
def test_dataframe_keeps_the_index_and_equals_the_arrays(ternary):
    frame = random_frame(500, 4, ternary)
    frame["note"] = "ignored"
    result = tersolv.dataframe(frame)
    assert result.index.equals(frame.index)
    arrays = (tersolv.ternary(frame["T"], frame["P"].to_numpy(), frame["m_h2s"], frame["m_nacl"]) if ternary
              else tersolv.components(frame["T"], frame["P"].to_numpy()))
    assert list(result.columns) == list(arrays)
    pd.testing.assert_frame_equal(result, pd.DataFrame(arrays, index=frame.index), check_exact=True)
    assert 0 < (result["status"] == 0).sum() < len(frame)  # some rejected, most computed


def test_dataframe_missing_values_and_columns():
    frame = pd.DataFrame({"T": pd.array([25.0, None], dtype="Float64"), "P": [10.0, 10.0]})
    assert list(tersolv.dataframe(frame)["status"]) == [0, 2]
    with pytest.raises(KeyError):
        tersolv.dataframe(frame.assign(m_h2s=0.1))
    with pytest.raises(KeyError):
        tersolv.dataframe(frame.drop(columns="P"))


def test_dask_cluster_of_two_processes_equals_the_local_result():
    import dask.dataframe as dd
    import distributed

    frame = random_frame(20000, 5)
    expected = tersolv.dataframe(frame)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster, distributed.Client(cluster):
        got = dd.from_pandas(frame, npartitions=8).map_partitions(tersolv.dataframe).compute()
    pd.testing.assert_frame_equal(got.loc[expected.index], expected, check_exact=True)
