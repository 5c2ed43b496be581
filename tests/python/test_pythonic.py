"""The binding behaves as Python code is expected to: exceptions of the
built-in kinds, refusals before any call, the tool's defaults, a version, type
information, an installable package and a library found where users put it.

Environment (set by CTest) as for test_imgfilter.
"""

import errno
import importlib.util
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

import imgfilter

from test_imgfilter import CLI, LIBRARY, PACKAGE_DIR, gradient, write_bmp24

SOURCE_DIR = PACKAGE_DIR.parent.parent


class Scratch(unittest.TestCase):
    def setUp(self):
        imgfilter.load_library(LIBRARY)
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="imgfilter-py-"))
        self.addCleanup(shutil.rmtree, self.dir)
        self.input = self.dir / "in.bmp"
        write_bmp24(self.input, 5, 4, gradient)


class ExceptionTest(Scratch):
    def test_missing_input_is_file_not_found_with_errno(self):
        missing = self.dir / "missing.png"
        with self.assertRaises(FileNotFoundError) as caught:
            imgfilter.blur(missing, self.dir / "out.png")
        error = caught.exception
        self.assertIsInstance(error, imgfilter.FilterError)
        self.assertEqual(error.errno, errno.ENOENT)
        self.assertEqual(error.filename, str(missing))
        self.assertEqual(error.message, f"blur: cannot read input file '{missing}'")
        self.assertEqual(str(error), error.message)

    def test_unreadable_inputs_and_outputs_are_os_errors(self):
        directory = self.dir / "folder.png"
        directory.mkdir()
        with self.assertRaises(IsADirectoryError):
            imgfilter.emboss(directory, self.dir / "out.png")
        with self.assertRaises(FileNotFoundError) as caught:
            imgfilter.emboss(self.input, self.dir / "no" / "such" / "out.png")
        self.assertEqual(caught.exception.message,
                         f"emboss: cannot write output file '{self.dir / 'no' / 'such' / 'out.png'}'")
        empty = self.dir / "empty.png"
        empty.write_bytes(b"")
        with self.assertRaises(imgfilter.FilterOSError):
            imgfilter.emboss(empty, self.dir / "out.png")
        if os.geteuid() != 0:  # root reads whatever the mode says
            locked = self.dir / "locked.bmp"
            shutil.copy(self.input, locked)
            locked.chmod(0)
            with self.assertRaises(PermissionError):
                imgfilter.emboss(locked, self.dir / "out.png")

    def test_refused_parameters_are_value_errors(self):
        for call in (lambda: imgfilter.blur(self.input, self.dir / "o.png", radius=0),
                     lambda: imgfilter.denoise(self.input, self.dir / "o.png", strength=11),
                     lambda: imgfilter.kernel(self.input, self.dir / "o.png", weights=[1.0] * 16, size=4)):
            with self.assertRaises(ValueError) as caught:
                call()
            self.assertIsInstance(caught.exception, imgfilter.FilterError)
            self.assertNotIsInstance(caught.exception, OSError)

    def test_a_file_that_is_no_image_is_a_plain_filter_error(self):
        junk = self.dir / "junk.png"
        junk.write_bytes(b"not an image at all")
        with self.assertRaises(imgfilter.FilterError) as caught:
            imgfilter.emboss(junk, self.dir / "o.png")
        self.assertNotIsInstance(caught.exception, (OSError, ValueError))


class RefusedBeforeAnyCallTest(Scratch):
    def test_nul_in_a_path_is_a_value_error_and_writes_nothing(self):
        for output in ("x.jpg\0.png", b"x.jpg\0.png", pathlib.PurePath("x.jpg\0.png")):
            with self.subTest(output=output):
                with self.assertRaisesRegex(ValueError, "embedded null byte"):
                    imgfilter.emboss(self.input, os.path.join(os.fspath(self.dir).encode() if isinstance(
                        output, bytes) else str(self.dir), output))
        with self.assertRaisesRegex(ValueError, "embedded null byte"):
            imgfilter.emboss(str(self.input) + "\0.bmp", self.dir / "out.png")
        with self.assertRaisesRegex(ValueError, "embedded null byte"):
            imgfilter.load_library(LIBRARY + "\0")
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["in.bmp"])

    def test_a_number_must_be_a_number(self):
        out = self.dir / "out.png"
        for call in (lambda: imgfilter.blur(self.input, out, radius="2"),
                     lambda: imgfilter.blur(self.input, out, radius=True),
                     lambda: imgfilter.vignette(self.input, out, strength=None),
                     lambda: imgfilter.kernel(self.input, out, weights=["1"] * 9),
                     lambda: imgfilter.pixelate(self.input, out, block_size="8"),
                     lambda: imgfilter.kernel(self.input, out)):
            with self.assertRaises(TypeError):
                call()
        self.assertFalse(out.exists())
        # Numbers of other kinds are fine.
        from fractions import Fraction
        imgfilter.blur(self.input, out, radius=Fraction(3, 2))
        self.assertTrue(out.exists())

    def test_a_path_input_needs_an_output(self):
        with self.assertRaises(TypeError):
            imgfilter.emboss(self.input)


class LikeTheToolTest(Scratch):
    def test_defaults_are_the_tools(self):
        for name in ("vignette", "blur", "sharpen", "denoise", "pixelate", "oil_paint", "emboss", "edge_detect"):
            with self.subTest(name=name):
                ours, theirs = self.dir / f"py-{name}.png", self.dir / f"cli-{name}.png"
                getattr(imgfilter, name)(self.input, ours)
                subprocess.run([CLI, name, str(self.input), str(theirs)], check=True, capture_output=True)
                self.assertEqual(ours.read_bytes(), theirs.read_bytes())

    def test_version_is_the_tools(self):
        tool = subprocess.run([CLI, "--version"], check=True, capture_output=True, text=True).stdout.split()[1]
        self.assertEqual(imgfilter.__version__, tool)

    def test_typed(self):
        self.assertTrue((PACKAGE_DIR / "py.typed").is_file())
        hints = imgfilter.blur.__annotations__
        self.assertEqual(set(hints), {"input_path", "output_path", "radius", "return"})


def fresh_python(code, pythonpath, cwd, **extra_env):
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_LIBRARY_PATH", "IMGFILTER_LIBRARY")}
    env.update(PYTHONPATH=str(pythonpath), **extra_env)
    return subprocess.run([sys.executable, "-c", "import imgfilter\n" + code], env=env, cwd=cwd,
                          capture_output=True, text=True)


class FindingTheLibraryTest(Scratch):
    def test_environment_variable(self):
        site = self.dir / "site"
        shutil.copytree(PACKAGE_DIR, site / "imgfilter", ignore=shutil.ignore_patterns("__pycache__"))
        result = fresh_python("print(imgfilter.library_path())", site, self.dir, IMGFILTER_LIBRARY=LIBRARY)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), LIBRARY)

    def test_a_source_checkout_after_the_demo_build(self):
        # The layout ./run demo leaves: python/imgfilter beside CMakeLists.txt,
        # the library in build/release/src.
        checkout = self.dir / "checkout"
        shutil.copytree(PACKAGE_DIR, checkout / "python" / "imgfilter", ignore=shutil.ignore_patterns("__pycache__"))
        (checkout / "CMakeLists.txt").write_text("project(imgfilter)\n")
        (checkout / "include").mkdir()
        shutil.copy(SOURCE_DIR / "include" / "imgfilter.h", checkout / "include")
        (checkout / "build" / "release" / "src").mkdir(parents=True)
        built = checkout / "build" / "release" / "src" / "libimgfilter.so.1"
        shutil.copy(LIBRARY, built)
        result = fresh_python("print(imgfilter.library_path())\nimgfilter.emboss('../in.bmp', 'out.png')",
                              checkout / "python", checkout)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), str(built))
        self.assertTrue((checkout / "out.png").exists())


@unittest.skipUnless(importlib.util.find_spec("setuptools"), "needs setuptools (Debian: python3-setuptools)")
class PackagingTest(unittest.TestCase):
    def test_the_project_builds_a_wheel_that_works(self):
        # A copy, since a build leaves its working files beside the sources;
        # built as Debian builds it, for the system's library (pip's build,
        # which bundles the library, is Python.PipInstallsAWorkingPackage).
        scratch = pathlib.Path(tempfile.mkdtemp(prefix="imgfilter-wheel-"))
        self.addCleanup(shutil.rmtree, scratch)
        project = scratch / "project"
        shutil.copytree(PACKAGE_DIR.parent, project, ignore=shutil.ignore_patterns("__pycache__"))
        build = subprocess.run(
            [sys.executable, "-c",
             "import sys, setuptools.build_meta as b; print(b.build_wheel(sys.argv[1]))", str(scratch / "dist")],
            cwd=project, capture_output=True, text=True, env=dict(os.environ, IMGFILTER_USE_SYSTEM_LIBRARY="1"))
        self.assertEqual(build.returncode, 0, build.stderr)
        wheel = scratch / "dist" / build.stdout.strip().splitlines()[-1]
        self.assertEqual(wheel.name, f"imgfilter-{imgfilter.__version__}-py3-none-any.whl")
        with zipfile.ZipFile(wheel) as archive:
            names = set(archive.namelist())
            self.assertTrue({"imgfilter/__init__.py", "imgfilter/py.typed", "imgfilter/_pixels.py"} <= names, names)
            archive.extractall(scratch / "site")
        write_bmp24(scratch / "in.bmp", 3, 3, gradient)
        result = fresh_python("print(imgfilter.__version__)\nimgfilter.emboss('in.bmp', 'out.png')",
                              scratch / "site", scratch, IMGFILTER_LIBRARY=LIBRARY)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), imgfilter.__version__)

    def test_a_copy_without_the_source_tree_is_refused_with_the_way_out(self):
        scratch = pathlib.Path(tempfile.mkdtemp(prefix="imgfilter-wheel-"))
        self.addCleanup(shutil.rmtree, scratch)
        project = scratch / "project"
        shutil.copytree(PACKAGE_DIR.parent, project, ignore=shutil.ignore_patterns("__pycache__"))
        environment = {k: v for k, v in os.environ.items() if k != "IMGFILTER_USE_SYSTEM_LIBRARY"}
        build = subprocess.run(
            [sys.executable, "-c", "import sys, setuptools.build_meta as b; b.build_wheel(sys.argv[1])",
             str(scratch / "dist")], cwd=project, capture_output=True, text=True, env=environment)
        self.assertNotEqual(build.returncode, 0)
        self.assertIn("pip install ./python", build.stdout + build.stderr)


if __name__ == "__main__":
    unittest.main()
