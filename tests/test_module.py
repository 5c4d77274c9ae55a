"""What Python sees after the import: registration, signatures, stubs, the fault type."""

import ast
import inspect
import pathlib
import shutil
import subprocess
import sys

import pytest

import corvala
from corvala import ext


def test_registration_order_and_constants():
    assert ext.__all__ == ["__version__", "asl_p56_internal", "asl_p56", "audio", "data_io", "KernelSession"]
    assert ext.__version__ == "3.1.0"
    assert ext.audio.__name__ == "audio"
    assert ext.audio.__all__ == ["validate_effects_chain", "apply_effects", "apply_effects_i32"]
    assert ext.asl_p56_internal.__name__ == "asl_p56_internal"
    assert ext.asl_p56_internal.__all__ == [
        "compute_envelope", "count_activity", "bin_interp", "compute_asl_from_thresholds"]
    assert ext.asl_p56.__module__ == "corvala.ext"
    assert ext.data_io.__name__ == "data_io"
    assert ext.data_io.__all__ == ["KERNEL_EPOCH", "read_cached_data", "write_cached_data"]
    assert type(ext.data_io.KERNEL_EPOCH) is int and ext.data_io.KERNEL_EPOCH == 2
    for module in (ext, ext.audio, ext.asl_p56_internal, ext.data_io):
        for name in module.__all__:
            assert hasattr(module, name)


@pytest.mark.parametrize("name", ["audio", "asl_p56_internal", "data_io"])
def test_submodules_are_attributes_not_imports(name):
    assert f"corvala.ext.{name}" not in sys.modules
    with pytest.raises(ModuleNotFoundError):
        __import__(f"corvala.ext.{name}")


def test_import_imports_nothing_else():
    code = "import sys; import corvala.ext; print('numpy' in sys.modules)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "False"


P56 = ext.asl_p56_internal


@pytest.mark.parametrize(
    "function, signature, documented",
    [
        (P56.compute_envelope, "(audio, sample_rate)", True),
        (P56.count_activity, "(q, c, h_samples, length)", True),
        (P56.bin_interp, "(u_cnt, l_cnt, u_thr, l_thr, margin, tol)", True),
        (P56.compute_asl_from_thresholds, "(a, c, sq, eps, margin)", True),
        (ext.asl_p56, "(audio)", True),
        (ext.audio.validate_effects_chain, "(chain)", False),
        (ext.audio.apply_effects, "(buffer, chain)", False),
        (ext.audio.apply_effects_i32, "(buffer, chain)", False),
    ],
)
def test_text_signatures(function, signature, documented):
    assert function.__text_signature__ == signature
    assert str(inspect.signature(function)) == signature
    if not documented:
        # Nothing follows the signature block in these docstrings.
        assert function.__doc__ is None
        return
    # Markdown sections: one bullet per argument, in signature order, then what is returned.
    doc = function.__doc__
    arguments, returns = doc.split("\n# Arguments\n\n")[1].split("\n# Returns\n\n")
    names = list(inspect.signature(function).parameters)
    bullets = [line for line in arguments.splitlines() if line.startswith("* ")]
    assert [b.split("`")[1] for b in bullets] == names
    assert all(b.startswith(f"* `{n}` - ") for b, n in zip(bullets, names))
    assert returns.strip()


def test_asl_p56_docstring_names_the_method():
    assert ext.asl_p56.__doc__.startswith("Calculate the active speech level using ITU-T P.56 Method B.\n")
    assert "mean-square" in ext.asl_p56.__doc__.split("# Returns")[1]


@pytest.mark.parametrize(
    "function, text",
    [
        (
            ext.data_io.read_cached_data,
            "Read cached data from content-addressed, versioned safetensors artifacts.\n\n"
            "A missing, key-mismatched (stale config or kernel epoch), or unparsable\n"
            "(corrupt) artifact reads as `None` for that item rather than raising.",
        ),
        (
            ext.data_io.write_cached_data,
            "Write data to content-addressed safetensors artifacts, one atomic file per item.",
        ),
    ],
)
def test_cache_function_signatures_and_docstrings(function, text):
    assert function.__text_signature__ == "(location, name, index, items, kernel_epoch)"
    assert str(inspect.signature(function)) == "(location, name, index, items, kernel_epoch)"
    assert function.__doc__ == text


def test_native_fault_derives_from_base_exception():
    assert ext.NativeFault.__bases__ == (BaseException,)
    assert not issubclass(ext.NativeFault, Exception)
    assert "native code" in ext.NativeFault.__doc__
    assert "BaseException" in ext.NativeFault.__doc__
    assert "NativeFault" not in ext.__all__


def _stub_protocol_methods():
    """Parameter names of every submodule function declared in ext.pyi."""
    stub = pathlib.Path(corvala.__file__).with_name("ext.pyi")
    tree = ast.parse(stub.read_text())
    methods = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef) and node.name.endswith("Module"):
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    methods[(node.name, item.name)] = [a.arg for a in item.args.args[1:]]
    return methods


def test_submodule_stubs_match_text_signatures():
    # stubtest checks the top module; the submodule protocols are checked here.
    stubbed = _stub_protocol_methods()
    submodules = {
        "_AslP56InternalModule": ext.asl_p56_internal, "_AudioModule": ext.audio, "_DataIoModule": ext.data_io}
    runtime = {
        (cls, name): list(inspect.signature(getattr(module, name)).parameters)
        for cls, module in submodules.items()
        for name in module.__all__
        if callable(getattr(module, name))
    }
    assert stubbed == runtime


def test_the_only_exported_symbol_is_the_init_function():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    out = subprocess.run([nm, "-D", "--defined-only", ext.__file__], capture_output=True, text=True, check=True)
    assert [line.split()[-1] for line in out.stdout.splitlines()] == ["PyInit_ext"]
