"""Shared helpers: the command line built beside the module, and PNGs read with OpenImageIO."""
import os
import subprocess
from pathlib import Path

import numpy
import pytest

SOURCE = Path(os.environ.get("LUMETS_SOURCE", Path(__file__).resolve().parents[2]))
EXAMPLES = SOURCE / "examples"


def run_cli(*args, check=True):
    """Runs the built lumets; returns the finished process (text output)."""
    cli = os.environ["LUMETS_CLI"]
    done = subprocess.run([cli, *map(str, args)], capture_output=True, text=True, timeout=120)
    if check:
        assert done.returncode == 0, done.stderr
    return done


def read_png(path):
    """A 16-bit PNG's words as an array (height, width, channels) of uint16."""
    import OpenImageIO as oiio

    # The words as stored: no multiplication by alpha on reading.
    config = oiio.ImageSpec()
    config.attribute("oiio:UnassociatedAlpha", 1)
    image = oiio.ImageInput.open(str(path), config)
    assert image, oiio.geterror()
    try:
        pixels = image.read_image(oiio.UINT16)
    finally:
        image.close()
    return numpy.asarray(pixels, dtype=numpy.uint16)


def cli_error(*args):
    """The command line's one-line message for a failing command (without "lumets: ")."""
    done = run_cli(*args, check=False)
    assert done.returncode != 0
    line = done.stderr.strip().splitlines()[-1]
    assert line.startswith("lumets: ")
    return line[len("lumets: "):]


@pytest.fixture(scope="session")
def lumets():
    import lumets as module

    return module
