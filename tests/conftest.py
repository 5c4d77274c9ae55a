import pytest

from corvala import ext


@pytest.fixture(scope="session")
def audio():
    return ext.audio
