"""Cache artifacts through data_io: layout, keys, conversions, failures, atomic replacement.

Oracles: hashlib for keys, the safetensors package for the file format, sqlite3 for the digest.
"""

import hashlib
import json
import os
import sqlite3
import stat
import struct
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest
from safetensors import safe_open
from safetensors.numpy import load_file, save_file

from corvala import ext

io = ext.data_io
EPOCH = io.KERNEL_EPOCH


def set_digest(location, digest):
    location.mkdir(parents=True, exist_ok=True)
    with sqlite3.connect(location / "mixdb.db") as db:
        db.execute("CREATE TABLE IF NOT EXISTS top (id INTEGER PRIMARY KEY, plan_digest TEXT)")
        db.execute("INSERT OR REPLACE INTO top VALUES (1, ?)", (digest,))
    db.close()


@pytest.fixture
def ds(tmp_path):
    location = tmp_path / "ds"
    set_digest(location, "plan-1")
    return location


def key_of(digest, name, index, item, epoch):
    return hashlib.sha256(f"{digest}\0{name}\0{index}\0{item}\0{epoch}".encode()).hexdigest()


def write(location, items, name="mixture", index="m1", epoch=EPOCH):
    io.write_cached_data(str(location), name, index, items, epoch)


def read(location, items, name="mixture", index="m1", epoch=EPOCH):
    return io.read_cached_data(str(location), name, index, items, epoch)


def artifact(location, item, name="mixture", index="m1"):
    return location / name / index / f"{item}.safetensors"


def raw_header(path):
    data = path.read_bytes()
    (length,) = struct.unpack("<Q", data[:8])
    text = data[8 : 8 + length]
    # Padded with spaces only, to a multiple of 8.
    assert length % 8 == 0 and text.rstrip(b" ").endswith(b"}")
    return json.loads(text)


def write_raw(path, tensors, metadata):
    """A safetensors file laid out by hand: tensors is [(name, dtype, shape, bytes)]."""
    header, data = {"__metadata__": metadata}, b""
    for name, dtype, shape, payload in tensors:
        header[name] = {"dtype": dtype, "shape": shape, "data_offsets": [len(data), len(data) + len(payload)]}
        data += payload
    text = json.dumps(header).encode()
    text += b" " * (-len(text) % 8)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(struct.pack("<Q", len(text)) + text + data)


def good_metadata(item, str_keys="[]", digest="plan-1"):
    return {"key": key_of(digest, "mixture", "m1", item, EPOCH), "kernel_epoch": str(EPOCH), "str_keys": str_keys}


# --- round trips -----------------------------------------------------------------------------

DTYPES = [
    ("?", "BOOL", "|b1"), ("u1", "U8", "|u1"), ("i1", "I8", "|i1"),
    ("<i2", "I16", "<i2"), (">i2", "I16", "<i2"), ("<u2", "U16", "<u2"), (">f2", "F16", "<f2"),
    ("<i4", "I32", "<i4"), (">u4", "U32", "<u4"), ("<f4", "F32", "<f4"), (">c8", "C64", "<c8"),
    ("<f8", "F64", "<f8"), (">f8", "F64", "<f8"), ("<i8", "I64", "<i8"), (">u8", "U64", "<u8"),
]


@pytest.mark.parametrize("numpy_type, st_dtype, read_type", DTYPES)
def test_every_dtype_round_trips_and_is_read_by_the_package(ds, numpy_type, st_dtype, read_type):
    value = (np.arange(24).reshape(2, 3, 4) % 7 * 3 - 5).astype(numpy_type)
    write(ds, {"a": value, "empty": np.zeros((0, 3), numpy_type)})
    got = read(ds, ["a", "empty"])
    for original, back in ((value, got["a"]), (np.zeros((0, 3), numpy_type), got["empty"])):
        assert back.dtype.str == read_type and back.shape == original.shape
        assert back.flags.writeable and back.flags.owndata
        np.testing.assert_array_equal(back, original)
    header = raw_header(artifact(ds, "a"))
    assert header["__value__"]["dtype"] == st_dtype and header["__value__"]["shape"] == [2, 3, 4]
    # The package reads what we write (little-endian on disk whatever the input order).
    np.testing.assert_array_equal(load_file(artifact(ds, "a"))["__value__"], value)


def test_any_memory_layout_is_written_in_c_order(ds):
    base = np.arange(60, dtype=np.float32).reshape(3, 4, 5)
    layouts = {"t": base.transpose(2, 0, 1), "s": base[:, ::2, 1:4], "r": base[::-1], "f": np.asfortranarray(base)}
    write(ds, layouts)
    for name, value in read(ds, list(layouts)).items():
        np.testing.assert_array_equal(value, layouts[name])
        assert value.flags.c_contiguous


@pytest.mark.parametrize(
    "value, expected, kind",
    [
        (np.float32(1.5), 1.5, float),
        (2.25, 2.25, float),
        (-7, -7, int),
        (np.uint64(2**64 - 1), 2**64 - 1, int),
        (True, True, bool),
        (np.complex64(1 - 2j), 1 - 2j, complex),
        (np.array(3, dtype=">i2"), 3, int),
    ],
)
def test_zero_dimensional_values_read_back_as_python_scalars(ds, value, expected, kind):
    write(ds, {"x": value})
    got = read(ds, ["x"])["x"]
    assert type(got) is kind and got == expected
    assert raw_header(artifact(ds, "x"))["__value__"]["shape"] == []


def test_nested_items_and_text_leaves(ds):
    snr = np.array([1.0, 2.0], np.float32)
    write(ds, {"meta": {"speech": {"snr": snr, "label": "abc"}, "name": "ünï ✓", "": {"x": np.int8(1)}}, "t": "hi"})
    header = raw_header(artifact(ds, "meta"))
    assert set(header) == {"__metadata__", "speech/snr", "speech/label", "name", "/x"}
    assert header["__metadata__"]["str_keys"] == '["name","speech/label"]'
    assert header["speech/label"] == {"dtype": "U8", "shape": [3], "data_offsets": header["speech/label"]["data_offsets"]}
    got = read(ds, ["meta", "t"])
    np.testing.assert_array_equal(got["meta"]["speech"]["snr"], snr)
    assert got["meta"]["speech"]["label"] == "abc" and got["meta"]["name"] == "ünï ✓"
    assert got["meta"][""] == {"x": 1}
    assert got["t"] == "hi" and raw_header(artifact(ds, "t"))["__metadata__"]["str_keys"] == '["__value__"]'


def test_path_names_split_at_every_slash(ds):
    write(ds, {"p": {"a//b": np.int16(1), "a/c": np.int16(2)}, "only_dicts": {}, "v": {"__value__": "s"}})
    assert read(ds, ["p", "only_dicts", "v"]) == {"p": {"a": {"": {"b": 1}, "c": 2}}, "only_dicts": {}, "v": "s"}


def test_a_leaf_where_a_dict_is_needed_is_a_type_error_and_a_later_leaf_replaces_a_dict(ds):
    write(ds, {"bad": {"a": np.int8(1), "a/b": np.int8(2)}, "ok": {"a/b": np.int8(2), "a": np.int8(1)}})
    with pytest.raises(TypeError, match="not an instance of 'dict'"):
        read(ds, ["bad"])
    assert read(ds, ["ok"]) == {"ok": {"a": 1}}


def test_missing_items_and_repeated_names(ds):
    write(ds, {"a": np.int8(5)})
    assert read(ds, ["never", "a", "a"]) == {"never": None, "a": 5}
    assert read(ds, []) == {}


# --- keys and compatibility ------------------------------------------------------------------


@pytest.mark.parametrize(
    "digest, name, index, item, epoch",
    [("plan-1", "mixture", "m1", "x", 2), ("", "", "", "", 0), ("δ", "a/b", "0 1", "it.em", -3),
     ("d", "n", "i", "t", 2**63 - 1), ("d", "n", "i", "t", -(2**63))],
)
def test_keys_are_sha256_of_the_key_material(testing, digest, name, index, item, epoch):
    assert testing.artifact_key(digest, name, index, item, epoch) == key_of(digest, name, index, item, epoch)


def test_written_metadata(ds, tmp_path):
    write(ds, {"x": np.int8(1)}, epoch=-5)
    with safe_open(artifact(ds, "x"), "np") as f:
        assert f.metadata() == {"key": key_of("plan-1", "mixture", "m1", "x", -5), "kernel_epoch": "-5", "str_keys": "[]"}
    bare = tmp_path / "no_db"
    write(bare, {"x": np.int8(1)})
    assert raw_header(artifact(bare, "x"))["__metadata__"]["key"] == key_of("no-plan-digest", "mixture", "m1", "x", EPOCH)
    assert read(bare, ["x"]) == {"x": 1}


def test_files_written_by_the_package_are_read_when_the_key_matches(ds):
    tensors = {"speech/snr": np.arange(6, dtype=np.float64).reshape(2, 3), "speech/label": np.frombuffer(b"abc", np.uint8)}
    artifact(ds, "pkg").parent.mkdir(parents=True)
    save_file(tensors, str(artifact(ds, "pkg")), metadata=good_metadata("pkg", '["speech/label"]'))
    got = read(ds, ["pkg"])["pkg"]
    np.testing.assert_array_equal(got["speech"]["snr"], tensors["speech/snr"])
    assert got["speech"]["label"] == "abc"
    save_file(tensors, str(artifact(ds, "nokey")))
    assert read(ds, ["nokey"]) == {"nokey": None}


def test_epoch_digest_and_triple_changes_miss(ds):
    write(ds, {"x": np.int8(1)})
    assert read(ds, ["x"]) == {"x": 1}
    assert read(ds, ["x"], epoch=3) == {"x": None}
    # A file copied to another triple's path carries the wrong key.
    artifact(ds, "x", index="m2").parent.mkdir(parents=True)
    artifact(ds, "x", index="m2").write_bytes(artifact(ds, "x").read_bytes())
    assert read(ds, ["x"], index="m2") == {"x": None}
    set_digest(ds, "plan-2")
    assert read(ds, ["x"]) == {"x": None}
    (ds / "mixdb.db").unlink()
    assert read(ds, ["x"]) == {"x": None}


# --- corrupt files ---------------------------------------------------------------------------


def valid_bytes(ds):
    write(ds, {"x": np.arange(10, dtype=np.float32)})
    return artifact(ds, "x").read_bytes()


@pytest.mark.parametrize(
    "corrupt",
    [
        lambda b: b"",
        lambda b: b[:7],
        lambda b: b[:20],
        lambda b: b[:-1],
        lambda b: b"\x00" * len(b),
        lambda b: os.urandom(len(b)),
        lambda b: struct.pack("<Q", len(b)) + b[8:],
        lambda b: struct.pack("<Q", 100_000_008) + b[8:],
        lambda b: struct.pack("<Q", 2**64 - 1) + b[8:],
        lambda b: b.replace(b'"F32"', b'"F16"'),
        lambda b: b.replace(b'"F32"', b'"X32"'),
        lambda b: b.replace(b"[0,40]", b"[4,44]"),
        lambda b: b.replace(b"[10]", b"[11]"),
        lambda b: b.replace(b'"key"', b'"kez"'),
    ],
)
def test_corrupt_files_are_misses(ds, corrupt):
    data = valid_bytes(ds)
    assert corrupt(data) != data
    artifact(ds, "x").write_bytes(corrupt(data))
    assert read(ds, ["x"]) == {"x": None}


def test_inconsistent_offsets_with_a_valid_key_are_misses(ds):
    four = b"\x00" * 4
    cases = [
        [("a", "F32", [1], four), ("b", "F32", [2], four)],  # b claims 8 bytes
        [("a", "F32", [1], four * 2)],  # a is shorter than its range
        [("a", "U8", [2**40, 2**40, 2**40], four)],  # product overflows
    ]
    for i, tensors in enumerate(cases):
        write_raw(artifact(ds, f"c{i}"), tensors, good_metadata(f"c{i}"))
        # The offsets above follow the bytes, not the shapes; the reader checks they agree.
        assert read(ds, [f"c{i}"]) == {f"c{i}": None}
    # Overlapping ranges, patched into an otherwise valid file.
    write_raw(artifact(ds, "ov"), [("a", "F32", [1], four), ("b", "F32", [1], four)], good_metadata("ov"))
    path = artifact(ds, "ov")
    assert b"[4, 8]" in path.read_bytes()
    path.write_bytes(path.read_bytes().replace(b"[4, 8]", b"[2, 6]"))
    assert read(ds, ["ov"]) == {"ov": None}
    write_raw(artifact(ds, "fine"), [("a", "F32", [1], four), ("b", "F32", [1], four)], good_metadata("fine"))
    assert read(ds, ["fine"])["fine"]["b"].shape == (1,)


def test_missing_or_unreadable_paths_are_misses(ds):
    artifact(ds, "dir").mkdir(parents=True)
    os.mkfifo(artifact(ds, "fifo"))
    assert read(ds, ["dir", "fifo"]) == {"dir": None, "fifo": None}
    if os.geteuid() != 0:  # root reads whatever the mode says
        write(ds, {"locked": np.int8(1)})
        artifact(ds, "locked").chmod(0)
        assert read(ds, ["locked"]) == {"locked": None}


@pytest.mark.parametrize(
    "tensors, str_keys, message",
    [
        ([("s", "U8", [2], b"\xff\xfe")], '["s"]', "invalid UTF-8 in cached str tensor: s"),
        ([("h", "BF16", [1], b"\x00\x00")], "[]", "unsupported safetensors dtype for cache read: BF16"),
        ([("e", "F8_E4M3", [1], b"\x00")], "[]", "unsupported safetensors dtype for cache read: F8_E4M3"),
        ([("a", "U8", [1], b"a")], "not json", "corrupt str_keys metadata in cache artifact: "),
        ([("a", "U8", [1], b"a")], '{"a": 1}', "corrupt str_keys metadata in cache artifact: "),
        ([("a", "U8", [1], b"a")], "[1]", "corrupt str_keys metadata in cache artifact: "),
    ],
)
def test_read_errors(ds, tensors, str_keys, message):
    write_raw(artifact(ds, "e"), tensors, good_metadata("e", str_keys))
    with pytest.raises(ValueError) as info:
        read(ds, ["e"])
    assert str(info.value).startswith(message)
    if message.endswith(": "):
        assert len(str(info.value)) > len(message)  # the parser's description follows


def test_a_bad_key_hides_read_errors(ds):
    write_raw(artifact(ds, "e"), [("h", "BF16", [1], b"\x00\x00")], dict(good_metadata("e"), key="0" * 64))
    assert read(ds, ["e"]) == {"e": None}


# --- write failures --------------------------------------------------------------------------


@pytest.mark.parametrize(
    "value, type_string",
    [
        (np.zeros(2, np.complex128), "<c16"),
        (np.zeros(2, ">c16"), "<c16"),
        (np.array(["a"]), "<U1"),
        (b"abc", "|S3"),
        (np.zeros(1, "datetime64[ns]"), "<M8[ns]"),
        (None, "|O"),
        ({"deep": {"x": object()}}, "|O"),
    ],
)
def test_unsupported_numpy_types_are_refused(ds, value, type_string):
    with pytest.raises(ValueError) as info:
        write(ds, {"x": value})
    assert str(info.value) == f"unsupported numpy dtype for safetensors cache: {type_string}"
    assert not artifact(ds, "x").exists()


@pytest.mark.parametrize(
    "items, error, text",
    [
        ([("x", 1)], TypeError, "'list' object is not an instance of 'dict'"),
        ({1: np.int8(1)}, TypeError, "'int' object is not an instance of 'str'"),
        ({"x": {2: np.int8(1)}}, TypeError, "'int' object is not an instance of 'str'"),
        ({"x": "lone \udc80"}, UnicodeEncodeError, "surrogates not allowed"),
        ({"x": {"a/b": np.int8(1), "a": {"b": np.int8(2)}}}, ValueError, "duplicate tensor name in cache artifact: a/b"),
        ({"x": {"__metadata__": np.int8(1)}}, ValueError, "duplicate tensor name in cache artifact: __metadata__"),
    ],
)
def test_conversion_errors(ds, items, error, text):
    with pytest.raises(error, match=text):
        write(ds, items)


def test_write_argument_errors_name_the_parameter(ds):
    with pytest.raises(TypeError) as info:
        io.write_cached_data(str(ds), "mixture", "m1", [("x", 1)], EPOCH)
    assert "while processing 'items'" in info.value.__notes__
    with pytest.raises(TypeError) as info:
        io.read_cached_data(str(ds), "mixture", "m1", "x", EPOCH)
    assert "while processing 'items'" in info.value.__notes__
    with pytest.raises(OverflowError):
        io.read_cached_data(str(ds), "mixture", "m1", ["x"], 2**63)
    assert io.read_cached_data(location=str(ds), name="mixture", index="m1", items=["x"], kernel_epoch=EPOCH) == {"x": None}


def test_a_dict_containing_itself_is_refused(ds):
    loop = {}
    loop["self"] = loop
    with pytest.raises(ValueError, match="circular reference"):
        write(ds, {"x": loop})


def test_a_failure_stops_at_its_item_and_keeps_earlier_artifacts(ds):
    with pytest.raises(ValueError):
        write(ds, {"a": np.int8(1), "b": np.zeros(1, complex), "c": np.int8(3)})
    assert read(ds, ["a", "b", "c"]) == {"a": 1, "b": None, "c": None}


def test_directory_creation_failure(tmp_path):
    (tmp_path / "file").write_bytes(b"")
    with pytest.raises(RuntimeError, match="^failed to create cache directory: "):
        write(tmp_path / "file", {"x": np.int8(1)})


def test_persist_failure_removes_the_temporary_file(ds):
    artifact(ds, "x").mkdir(parents=True)
    (artifact(ds, "x") / "keep").write_bytes(b"")
    with pytest.raises(RuntimeError, match="^failed to persist cache artifact: "):
        write(ds, {"x": np.int8(1)})
    assert sorted(p.name for p in artifact(ds, "x").parent.iterdir()) == ["x.safetensors"]


def with_umask(umask, action):
    old = os.umask(umask)
    try:
        action()
    finally:
        os.umask(old)


@pytest.mark.parametrize("umask", [0o000, 0o022, 0o077])
def test_permission_bits(tmp_path, umask):
    with_umask(umask, lambda: write(tmp_path, {"x": np.int8(1)}, name="n", index="deep/er"))
    assert stat.S_IMODE(os.stat(artifact(tmp_path, "x", "n", "deep/er")).st_mode) == 0o600
    for directory in (tmp_path / "n", tmp_path / "n" / "deep", tmp_path / "n" / "deep" / "er"):
        assert stat.S_IMODE(os.stat(directory).st_mode) == 0o777 & ~umask
    # Even a umask that takes the owner's write bit leaves the artifact 0o600.
    with_umask(0o277, lambda: write(tmp_path, {"y": np.int8(1)}, name="n", index="deep/er"))
    assert stat.S_IMODE(os.stat(artifact(tmp_path, "y", "n", "deep/er")).st_mode) == 0o600


def test_a_null_byte_never_reaches_another_file(ds):
    write(ds, {"a": np.int8(1)})
    with pytest.raises(RuntimeError, match="^failed to create cache directory: embedded null byte"):
        write(ds, {"a\0b": np.int8(2)})
    assert read(ds, ["a\0b"]) == {"a\0b": None}
    assert sorted(p.name for p in artifact(ds, "a").parent.iterdir()) == ["a.safetensors"]


def test_parts_are_joined_verbatim(tmp_path):
    write(tmp_path, {"it": np.int8(1)}, name="/abs", index="i")
    assert (tmp_path / "abs" / "i" / "it.safetensors").exists()


# --- atomic replacement ----------------------------------------------------------------------


WRITER = textwrap.dedent(
    """
    import sys, time, numpy as np
    from corvala import ext
    location, seconds = sys.argv[1], float(sys.argv[2])
    values = [np.full(200_000, v, np.float32) for v in (1.0, 2.0)]
    end, n = time.monotonic() + seconds, 0
    while time.monotonic() < end:
        ext.data_io.write_cached_data(location, "mixture", "m1", {"x": values[n % 2]}, 2)
        n += 1
    print(n)
    """
)


def test_a_concurrent_reader_never_sees_a_partial_artifact(ds):
    write(ds, {"x": np.full(200_000, 1.0, np.float32)})
    writer = subprocess.Popen(
        [sys.executable, "-c", WRITER, str(ds), "1.5"], stdout=subprocess.PIPE, env=dict(os.environ)
    )
    reads, seen = 0, set()
    while writer.poll() is None:
        value = read(ds, ["x"])["x"]
        assert value is not None and value.shape == (200_000,)
        assert value[0] in (1.0, 2.0) and (value == value[0]).all()
        # The file at the path is always whole for the package too.
        assert load_file(artifact(ds, "x"))["__value__"].shape == (200_000,)
        seen.add(float(value[0]))
        reads += 1
    out, _ = writer.communicate()
    assert writer.returncode == 0 and int(out) > 10
    assert reads > 10 and seen == {1.0, 2.0}
    assert sorted(p.name for p in artifact(ds, "x").parent.iterdir()) == ["x.safetensors"]
