"""A writer killed with SIGKILL at any point of an artifact write leaves no artifact that reads as
anything but a miss or a whole, correct value."""

import itertools
import os
import random
import signal
import time

import numpy as np

from corvala import ext

EPOCH = ext.data_io.KERNEL_EPOCH
KILLS = 30
# Sizes on both sides of the writer's 1 MiB buffer, so that kills land inside multi-write files.
ITEMS = {f"i{j}": n for j, n in enumerate([10, 3_000, 70_000, 300_000, 600_000])}


def value(item, generation):
    """The value written for an item in one generation: its parts must agree with each other."""
    n = ITEMS[item]
    return {"data": np.full(n, generation, np.int32), "generation": str(generation),
            "tail": np.arange(generation % 7 + 1, dtype=np.float64)}


def writer(location, generation):
    """Runs in the forked child: writes every item again and again, in two generations, until killed."""
    values = [{item: value(item, g) for item in ITEMS} for g in (generation, generation + 1)]
    for r in itertools.count():
        for item, v in values[r % 2].items():
            ext.data_io.write_cached_data(location, "crash", "m", {item: v}, EPOCH)


def check_artifacts(location):
    got = ext.data_io.read_cached_data(location, "crash", "m", list(ITEMS), EPOCH)
    for item, read in got.items():
        if read is None:
            continue
        generation = int(read["generation"])
        want = value(item, generation)
        assert read["data"].dtype == np.int32 and read["data"].shape == (ITEMS[item],), item
        assert (read["data"] == generation).all(), item
        np.testing.assert_array_equal(read["tail"], want["tail"])
    return got


def test_a_killed_writer_leaves_misses_or_whole_artifacts(tmp_path):
    location = str(tmp_path)
    rng = random.Random(20240611)
    hits = 0
    for kill in range(KILLS):
        pid = os.fork()
        if pid == 0:  # the child never returns into pytest
            try:
                writer(location, 10 * kill)
            finally:
                os._exit(1)
        # A kill after 1 to 25 ms: before the first write, inside one, or between two.
        time.sleep(rng.uniform(0.001, 0.025))
        os.kill(pid, signal.SIGKILL)
        _, status = os.waitpid(pid, 0)
        assert os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGKILL
        hits += sum(v is not None for v in check_artifacts(location).values())
    # The kills happened while writes were under way, and finished writes were read.
    assert hits > 0
    # What a kill can leave besides the artifacts is one unrenamed temporary (about one kill in ten
    # lands inside the file's write), which is never read.
    names = os.listdir(tmp_path / "crash" / "m")
    temporaries = [n for n in names if n.startswith(".tmp")]
    assert set(names) - set(temporaries) <= {f"{item}.safetensors" for item in ITEMS}
    assert len(temporaries) <= KILLS
