"""The plan digest of a dataset's mixdb.db, checked against databases written with sqlite3."""

import os
import sqlite3

import pytest

NO_DIGEST = "no-plan-digest"


def make_db(directory, statements):
    directory.mkdir(parents=True, exist_ok=True)
    with sqlite3.connect(directory / "mixdb.db") as db:
        for statement in statements:
            db.execute(statement)
    db.close()
    return directory


TOP = "CREATE TABLE top (id INTEGER PRIMARY KEY, plan_digest)"


@pytest.mark.parametrize(
    "statements, digest",
    [
        ([TOP, "INSERT INTO top VALUES (1, 'abc')"], "abc"),
        ([TOP, "INSERT INTO top VALUES (1, 'δ plan €')"], "δ plan €"),
        ([TOP, "INSERT INTO top VALUES (1, '')"], ""),
        ([TOP, "INSERT INTO top VALUES (2, 'abc')"], NO_DIGEST),
        ([TOP], NO_DIGEST),
        ([TOP, "INSERT INTO top VALUES (1, NULL)"], NO_DIGEST),
        ([TOP, "INSERT INTO top VALUES (1, 42)"], NO_DIGEST),
        ([TOP, "INSERT INTO top VALUES (1, x'616263')"], NO_DIGEST),
        ([TOP, "INSERT INTO top VALUES (1, CAST(x'61ff62' AS TEXT))"], NO_DIGEST),
        (["CREATE TABLE other (id INTEGER, plan_digest TEXT)", "INSERT INTO other VALUES (1, 'abc')"], NO_DIGEST),
        (["CREATE TABLE top (id INTEGER, digest TEXT)", "INSERT INTO top VALUES (1, 'abc')"], NO_DIGEST),
    ],
)
def test_digest_from_database(testing, tmp_path, statements, digest):
    location = make_db(tmp_path / "ds", statements)
    before = (location / "mixdb.db").read_bytes()
    assert testing.read_plan_digest(str(location)) == digest
    # Read-only and immutable: the file is untouched and no journal appears.
    assert (location / "mixdb.db").read_bytes() == before
    assert sorted(p.name for p in location.iterdir()) == ["mixdb.db"]


@pytest.mark.parametrize("content", [b"", b"not a database at all\n", b"SQLite format 3\x00" + b"\x00" * 84])
def test_files_that_are_not_databases(testing, tmp_path, content):
    (tmp_path / "mixdb.db").write_bytes(content)
    assert testing.read_plan_digest(str(tmp_path)) == NO_DIGEST


def test_missing_and_unusable_paths(testing, tmp_path):
    assert testing.read_plan_digest(str(tmp_path)) == NO_DIGEST
    # A NUL would cut the path short, here at a real database.
    make_db(tmp_path / "ds", [TOP, "INSERT INTO top VALUES (1, 'abc')"])
    assert testing.read_plan_digest(str(tmp_path / "ds" / "mixdb.db") + "\0/x") == NO_DIGEST
    assert testing.read_plan_digest(str(tmp_path / "absent")) == NO_DIGEST
    (tmp_path / "d" / "mixdb.db").mkdir(parents=True)
    assert testing.read_plan_digest(str(tmp_path / "d")) == NO_DIGEST


@pytest.mark.parametrize(
    "name, decoy",
    [
        ("with space", None),
        ("hash#mark", "hash"),
        ("per%cent", None),
        ("per%20cent", "per cent"),
        ("ques?tion", "ques"),
        ("all #%? four", "all "),
        ("ünï ✓", None),
    ],
)
def test_locations_with_uri_characters_open_the_right_file(testing, tmp_path, name, decoy):
    # The decoy sits where an unescaped URI would lead.
    if decoy is not None:
        make_db(tmp_path / decoy, [TOP, "INSERT INTO top VALUES (1, 'decoy')"])
    location = make_db(tmp_path / name, [TOP, f"INSERT INTO top VALUES (1, 'digest of {name}')"])
    assert testing.read_plan_digest(str(location)) == f"digest of {name}"
    assert testing.read_plan_digest(str(location) + "/") == f"digest of {name}"


def test_relative_empty_and_double_slash_locations(testing, tmp_path, monkeypatch):
    location = make_db(tmp_path / "ds", [TOP, "INSERT INTO top VALUES (1, 'rel')"])
    monkeypatch.chdir(location)
    assert testing.read_plan_digest("") == "rel"
    monkeypatch.chdir(tmp_path)
    assert testing.read_plan_digest("ds") == "rel"
    # "//" at the start is still a local path, not a URI authority.
    assert testing.read_plan_digest("/" + str(location)) == "rel"


@pytest.mark.parametrize(
    "path, uri",
    [
        ("/data/mixdb.db", "file:/data/mixdb.db?immutable=1"),
        ("mixdb.db", "file:mixdb.db?immutable=1"),
        ("rel/a b/mixdb.db", "file:rel/a%20b/mixdb.db?immutable=1"),
        ("/x#y%z?w/mixdb.db", "file:/x%23y%25z%3fw/mixdb.db?immutable=1"),
        ("/ü/&=+;/mixdb.db", "file:/ü/&=+;/mixdb.db?immutable=1"),
        ("//srv/mixdb.db", "file:////srv/mixdb.db?immutable=1"),
    ],
)
def test_uri_escapes_exactly_four_characters(testing, path, uri):
    assert testing.plan_digest_uri(path) == uri


def test_uri_replaces_invalid_utf8(testing):
    path = "/a\udc80b/mixdb.db"
    lossy = path.encode("utf-8", "surrogatepass").decode("utf-8", "replace")
    assert testing.plan_digest_uri(path) == f"file:{lossy}?immutable=1"


def test_no_descriptor_is_left_open(testing, tmp_path):
    good = make_db(tmp_path / "good", [TOP, "INSERT INTO top VALUES (1, 'abc')"])
    no_row = make_db(tmp_path / "norow", [TOP])
    (tmp_path / "junk").mkdir()
    (tmp_path / "junk" / "mixdb.db").write_bytes(b"junk" * 100)
    before = len(os.listdir("/proc/self/fd"))
    for _ in range(50):
        for location in (good, no_row, tmp_path / "junk", tmp_path / "absent"):
            testing.read_plan_digest(str(location))
    assert len(os.listdir("/proc/self/fd")) == before
