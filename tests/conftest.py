import importlib.util
import os
import pathlib
import sys

import pytest

from corvala import ext

ROOT = pathlib.Path(__file__).resolve().parents[1]


def _find_testing_module() -> None:
    """The test-only module lives in the build tree: CORVALA_BUILD_DIR, else build/dev."""
    if importlib.util.find_spec("_corvala_testing") is not None:
        return
    build = pathlib.Path(os.environ.get("CORVALA_BUILD_DIR", ROOT / "build" / "dev"))
    sys.path.append(str(build))


_find_testing_module()


@pytest.fixture(scope="session")
def audio():
    return ext.audio


@pytest.fixture(scope="session")
def testing():
    import _corvala_testing

    return _corvala_testing
