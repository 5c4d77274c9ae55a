"""KernelSession construction, its frozen plan and its accessors."""

import inspect
from types import SimpleNamespace as NS

import pytest

from corvala import ext


def source(file_id=1, start=0, loop=False, pre=(), post=()):
    return NS(effects=NS(pre=list(pre), post=list(post)), file_id=file_id, loop=loop, start=start)


def mixture(name="m", samples=16000, sources=None, mask_id=None, seed=0):
    return NS(name=name, samples=samples, all_sources=sources if sources is not None else {"speech": source()},
              spectral_mask_id=mask_id, spectral_mask_seed=seed)


def snapshot(mixtures, files=None, masks=None):
    files = files if files is not None else {1: NS(name="$CORVALA_TEST_ROOT/a.wav", truth_configs={})}
    return NS(mixtures_by_id=mixtures, source_files_by_id=files, spectral_masks_by_id=masks or {})


FT = NS(length=512, overlap=128, bin_start=0, bin_end=256, ttype="stft-olsa-hanns")


def session(snap=None, declared=None, truth_parameters=None, location="", epoch=2, cache_bytes=1 << 20, **kw):
    snap = snap if snap is not None else snapshot({1: mixture()})
    declared = declared if declared is not None else [["mixture_audio"]] * len(snap.mixtures_by_id)
    args = dict(snapshot=snap, declared_by_mixid=declared, truth_callback=None, gain_callback=None, ft_config=FT,
                feature_mode="hun-wrn", truth_parameters=truth_parameters or {}, location=location,
                kernel_epoch=epoch, cache_bytes=cache_bytes)
    args.update(kw)
    return ext.KernelSession(**args)


def test_class_identity_and_signatures():
    cls = ext.KernelSession
    assert cls.__module__ == "corvala.ext" and cls.__qualname__ == "KernelSession"
    assert str(inspect.signature(cls)) == (
        "(snapshot, declared_by_mixid, truth_callback, gain_callback, ft_config, feature_mode, "
        "truth_parameters, location, kernel_epoch, cache_bytes)")
    assert cls.source_path.__text_signature__ == "($self, file_id)"
    assert str(inspect.signature(cls.realize)) == "(self, /, m_id, want, force=False, cache=False)"
    assert cls.completed.__text_signature__ == "($self)"
    assert cls.num_mixtures.__doc__ == "Number of mixtures whose plan is frozen in the session."


def test_accessors(monkeypatch):
    monkeypatch.setenv("CORVALA_TEST_ROOT", "/data")
    snap = snapshot(
        {1: mixture("first", 32000, {"speech": source(1, 5, 1, ["gain -3"], ["norm"]), "noise": source(2)}, 7, 11),
         2: mixture("second", -5)},
        files={1: NS(name="$CORVALA_TEST_ROOT/a.wav", truth_configs={"sed": NS(stride_reduction="max")}),
               2: NS(name="${CORVALA_TEST_ROOT}/b.wav", truth_configs={})},
        masks={7: NS(f_max_width=1, f_num=2, t_max_width=3, t_num=4, t_max_percent=5)})
    s = session(snap, declared=[["noise", "sources", "noise"], ["gains", "truth_t"]], cache_bytes=1234,
                truth_parameters={"b": {"z": 1, "a": None}, "a": {"x": 2}})
    assert (s.num_mixtures, s.kernel_epoch, s.feature_mode, s.cache_capacity_bytes) == (2, 2, "hun-wrn", 1234)
    assert s.completed() == 0
    assert list(s.ft_config().items()) == [("length", 512), ("overlap", 128), ("bin_start", 0), ("bin_end", 256),
                                           ("ttype", "stft-olsa-hanns")]
    tp = s.truth_parameters()
    assert list(tp) == ["a", "b"] and list(tp["b"].items()) == [("a", None), ("z", 1)]
    assert s.source_path(1) == "/data/a.wav" and s.source_path(file_id=2) == "/data/b.wav"
    assert s.declared_inputs(0) == ["sources", "noise"] and s.declared_inputs(1) == ["truth_t", "gains"]
    plan = s.mixture_plan(0)
    assert list(plan) == ["name", "samples", "spectral_mask_id", "spectral_mask_seed", "sources"]
    assert plan["name"] == "first" and plan["spectral_mask_id"] == 7 and plan["spectral_mask_seed"] == 11
    assert plan["sources"][0] == {"category": "speech", "file_id": 1, "pre_effects": ["gain -3"],
                                  "post_effects": ["norm"], "loop": True, "start": 5}
    assert list(plan["sources"][0]) == ["category", "file_id", "pre_effects", "post_effects", "loop", "start"]
    assert [x["category"] for x in plan["sources"]] == ["speech", "noise"]
    assert s.mixture_plan(1)["spectral_mask_id"] is None and s.mixture_plan(1)["samples"] == -5


def test_empty_snapshot():
    s = session(snapshot({}), declared=[])
    assert s.num_mixtures == 0
    with pytest.raises(ValueError, match=r"^m_id 0 out of range \(0\.\.0\)$"):
        s.declared_inputs(0)


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        (dict(declared=[["sources"], ["noise"]]), ValueError,
         "declared_by_mixid has 2 entries but the snapshot has 1 mixtures"),
        (dict(declared=[["sources", "Sources"]]), ValueError, "unknown RealizedNode in baked declaration: Sources"),
        (dict(snap=snapshot({0: mixture()})), ValueError, "snapshot mixtures_by_id is missing record id 1 (m_id 0)"),
        (dict(declared=["sources"]), TypeError, "'str' object cannot be taken as a sequence of strings"),
        (dict(declared=5), TypeError, "'int' object is not an instance of 'Sequence'"),
        (dict(truth_parameters=[("a", 1)]), TypeError, "'list' object is not an instance of 'PyDict'"),
        (dict(truth_parameters={"a": 3}), TypeError, "'int' object is not an instance of 'PyDict'"),
        (dict(snap=snapshot([])), TypeError, "'list' object is not an instance of 'PyDict'"),
        (dict(cache_bytes=-1), OverflowError, None),
        (dict(feature_mode=3), TypeError, "'int' object is not an instance of 'str'"),
    ],
)
def test_construction_errors(kwargs, error, message):
    with pytest.raises(error) as info:
        session(**kwargs)
    if message is not None:
        assert str(info.value) == message


def test_host_exceptions_propagate_unchanged():
    class Boom(Exception):
        pass

    class Record:
        name = "m"
        samples = 1
        all_sources = {}
        spectral_mask_id = None

        @property
        def spectral_mask_seed(self):
            raise Boom("seed")

    with pytest.raises(Boom, match="seed"):
        session(snapshot({1: Record()}))
    bad_source = mixture(sources={"speech": source(file_id="x")})
    with pytest.raises(TypeError):
        session(snapshot({1: bad_source}))


def test_mutating_a_snapshot_dict_during_construction_is_a_native_fault():
    sources = {}

    class Source:
        effects = NS(pre=[], post=[])
        loop = False
        start = 0

        @property
        def file_id(self):
            sources["extra"] = source()
            return 1

    sources["speech"] = Source()
    with pytest.raises(ext.NativeFault, match="dictionary changed size during iteration"):
        session(snapshot({1: mixture(sources=sources)}))


def test_tokenized_expand_leaves_unknown_variables():
    snap = snapshot({1: mixture()}, files={1: NS(name="$CORVALA_UNSET_VARIABLE_X/a.wav", truth_configs={})})
    assert session(snap).source_path(1) == "$CORVALA_UNSET_VARIABLE_X/a.wav"
    with pytest.raises(ValueError, match=r"^no source file with id 9$"):
        session(snap).source_path(9)
