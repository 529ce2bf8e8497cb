"""Fixtures of the okccamera module tests: a private settings folder, simulated
cameras, and the library's C interface (ctypes) in the same process, to compare
what the module delivers with what the exported functions deliver."""
import ctypes
import os
import tempfile

import pytest

# Settings the tests change stay out of the user's folder (read when a camera opens).
os.environ["XDG_CONFIG_HOME"] = tempfile.mkdtemp(prefix="okccamera-python-tests-")

import okccamera  # noqa: E402


@pytest.fixture
def clib():
    """The shared library the module uses, with the calls the tests make."""
    lib = ctypes.CDLL(os.environ["OKC_LIBRARY"])
    lib.getImageData.restype = ctypes.c_bool
    lib.getImageData.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_ulong]
    lib.setImageFormat.restype = ctypes.c_bool
    lib.setImageFormat.argtypes = [ctypes.c_int] * 4
    return lib


def simulated(models):
    assert okccamera.use_simulated(models) == len(models.split(","))


@pytest.fixture
def tavc():
    simulated("TAVC")
    with okccamera.Camera(0) as cam:
        cam.exposure = 10000
        yield cam
