import os

import pytest


def pytest_addoption(parser):
    parser.addoption("--ubin-sample", help="the sample directory folder (default: $UBIN_SAMPLE_DIR)")


@pytest.fixture(scope="session")
def sample_folder(request):
    folder = request.config.getoption("--ubin-sample") or os.environ.get("UBIN_SAMPLE_DIR")
    if not folder:
        pytest.skip("no sample directory: set UBIN_SAMPLE_DIR or pass --ubin-sample")
    return folder


@pytest.fixture(scope="session")
def directory(sample_folder):
    import ubin

    return ubin.Directory(sample_folder)
