#!/bin/sh
# pip install ./python, as a new user runs it: a fresh virtual environment
# (seeing Debian's setuptools and wheel, so no network is needed), no
# libimgfilter on the library path, the calls made from outside the checkout.
# The package must load its own bundled copy and filter files and arrays.
# pip builds in the tree it is given, so it is given a copy of the checkout.
# Usage: pip_install.sh PYTHON SOURCE_DIR SCRATCH_DIR
set -eu
python=$1 scratch=$3
rm -rf "$scratch"
mkdir -p "$scratch/elsewhere" "$scratch/checkout"
tar -C "$2" --exclude=./build --exclude=./out --exclude=./.git --exclude=./python/build \
  --exclude='*.egg-info' --exclude=__pycache__ -cf - . | tar -C "$scratch/checkout" -xf -
source=$scratch/checkout
"$python" -m venv --system-site-packages "$scratch/env"
env -u IMGFILTER_LIBRARY -u IMGFILTER_NATIVE -u PYTHONPATH -u LD_LIBRARY_PATH \
  "$scratch/env/bin/pip" install --no-build-isolation --no-index --quiet "$source/python"
cp "$source/samples/rocket.jpg" "$scratch/elsewhere/in.jpg"
cd "$scratch/elsewhere"
env -u IMGFILTER_LIBRARY -u IMGFILTER_NATIVE -u PYTHONPATH -u LD_LIBRARY_PATH \
  "$scratch/env/bin/python" - "$scratch/env" <<'PYTHON'
import importlib.metadata, os, sys
import imgfilter

wheel = importlib.metadata.distribution("imgfilter").read_text("WHEEL")
assert "Root-Is-Purelib: false" in wheel and "py3-none-any" not in wheel, wheel

environment = os.path.realpath(sys.argv[1])
for path in (imgfilter.__file__, imgfilter.library_path()):
    assert os.path.realpath(path).startswith(environment + os.sep), f"{path} is not the bundled copy"
imgfilter.blur("in.jpg", "out.png", radius=1.5)
assert os.path.getsize("out.png") > 0
try:
    import numpy
except ImportError:
    print("numpy not installed: arrays not tried")
else:
    array = numpy.arange(5 * 7 * 3, dtype=numpy.uint8).reshape(5, 7, 3)
    assert imgfilter.pixelate(array, block_size=1).tolist() == array.tolist()
    from imgfilter import _native
    assert os.path.realpath(_native.module().path).startswith(environment + os.sep), _native.module().path
print("bundled:", imgfilter.library_path())
PYTHON
