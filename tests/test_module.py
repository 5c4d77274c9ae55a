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
    assert ext.__all__ == ["__version__", "audio"]
    assert ext.__version__ == "3.1.0"
    assert ext.audio.__name__ == "audio"
    assert ext.audio.__all__ == ["validate_effects_chain", "apply_effects", "apply_effects_i32"]
    for module in (ext, ext.audio):
        for name in module.__all__:
            assert hasattr(module, name)


def test_submodules_are_attributes_not_imports():
    assert "corvala.ext.audio" not in sys.modules
    with pytest.raises(ModuleNotFoundError):
        __import__("corvala.ext.audio")


def test_import_imports_nothing_else():
    code = "import sys; import corvala.ext; print('numpy' in sys.modules)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "False"


@pytest.mark.parametrize(
    "function, signature",
    [
        (ext.audio.validate_effects_chain, "(chain)"),
        (ext.audio.apply_effects, "(buffer, chain)"),
        (ext.audio.apply_effects_i32, "(buffer, chain)"),
    ],
)
def test_text_signatures(function, signature):
    assert function.__text_signature__ == signature
    assert str(inspect.signature(function)) == signature
    # Nothing follows the signature block in these docstrings.
    assert function.__doc__ is None


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
    submodules = {"_AudioModule": ext.audio}
    runtime = {
        (cls, name): list(inspect.signature(getattr(module, name)).parameters)
        for cls, module in submodules.items()
        for name in module.__all__
    }
    assert stubbed == runtime


def test_the_only_exported_symbol_is_the_init_function():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    out = subprocess.run([nm, "-D", "--defined-only", ext.__file__], capture_output=True, text=True, check=True)
    assert [line.split()[-1] for line in out.stdout.splitlines()] == ["PyInit_ext"]
