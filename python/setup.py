"""Builds the package with the C library inside it.

pip install ./python, run from a source checkout, configures and builds the
library and the package's private module with CMake from the checkout (the
directory above this one) and puts both in the package, so the installed
package works on its own; a C++17 compiler and CMake are all it needs. The
wheel holds compiled code and is tagged for its platform.

IMGFILTER_USE_SYSTEM_LIBRARY=1 leaves both out: the package then uses the
system's libimgfilter1 for files, as Debian's python3-imgfilter does (its
private module is installed by the library's own build).
"""

import glob
import os
import shutil
import subprocess

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_TREE = os.path.dirname(HERE)
USE_SYSTEM_LIBRARY = os.environ.get("IMGFILTER_USE_SYSTEM_LIBRARY") == "1"


class BuildWithLibrary(build_py):
    """build_py, then the library and the private module built by CMake into the package."""

    def run(self):
        super().run()
        if USE_SYSTEM_LIBRARY:
            return
        if not os.path.isfile(os.path.join(SOURCE_TREE, "CMakeLists.txt")) or \
                not os.path.isfile(os.path.join(SOURCE_TREE, "include", "imgfilter.h")):
            raise SystemExit(
                "imgfilter: the package builds the C library from the source tree around it; run "
                "'pip install ./python' in a checkout (or set IMGFILTER_USE_SYSTEM_LIBRARY=1 to use an "
                "installed libimgfilter1)")
        build_dir = os.path.join(os.path.abspath(self.get_finalized_command("build").build_base), "cmake")
        subprocess.check_call([
            "cmake", "-S", SOURCE_TREE, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
            "-DIMGFILTER_BUILD_TESTS=OFF", "-DIMGFILTER_BUILD_CLI=OFF", "-DIMGFILTER_BUILD_BENCH=OFF",
            "-DIMGFILTER_BUILD_PYTHON_MODULE=ON"])
        subprocess.check_call(["cmake", "--build", build_dir, "--target", "imgfilter", "imgfilter_native",
                               "--parallel", os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))])
        package = os.path.join(self.build_lib, "imgfilter")
        # The name the loader and _library look for; copying follows the links to the real file.
        library, = glob.glob(os.path.join(build_dir, "src", "libimgfilter.so.[0-9]"))
        shutil.copyfile(library, os.path.join(package, os.path.basename(library)))
        shutil.copyfile(os.path.join(build_dir, "python", "native", "_imgfilter_native.so"),
                        os.path.join(package, "_imgfilter_native.so"))


class PlatformDistribution(Distribution):
    """Compiled code inside: the wheel is tagged for the platform, not py3-none-any."""

    def has_ext_modules(self):
        return not USE_SYSTEM_LIBRARY


setup(cmdclass={"build_py": BuildWithLibrary}, distclass=PlatformDistribution)
