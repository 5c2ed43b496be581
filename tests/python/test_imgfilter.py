"""The Python binding, against the freshly built library.

Environment (set by CTest): IMGFILTER_LIBRARY, the built shared library;
IMGFILTER_CLI, the built command-line tool; PYTHONPATH holding python/.
Standard library only: images are written and read as BMP by hand.
"""

import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

import imgfilter

LIBRARY = os.environ["IMGFILTER_LIBRARY"]
CLI = os.environ["IMGFILTER_CLI"]
PACKAGE_DIR = pathlib.Path(imgfilter.__file__).parent


def run_in_threads(worker, count):
    """Runs worker(0) .. worker(count - 1) in threads of their own, all at once."""
    threads = [threading.Thread(target=worker, args=(n,)) for n in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def write_bmp24(path, width, height, pixel):
    """A 24-bit bottom-up BMP whose pixel (x, y) is pixel(x, y) -> (r, g, b)."""
    pad = (-width * 3) % 4
    rows = []
    for y in reversed(range(height)):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        rows.append(bytes(row) + b"\0" * pad)
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    pathlib.Path(path).write_bytes(header + info + data)


def read_bmp32(path):
    """(width, height, {(x, y): (r, g, b, a)}) of a 32-bit bottom-up BMP."""
    data = pathlib.Path(path).read_bytes()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    pixels = {}
    for y in range(height):
        for x in range(width):
            b, g, r, a = data[offset + ((height - 1 - y) * width + x) * 4:][:4]
            pixels[(x, y)] = (r, g, b, a)
    return width, height, pixels


def gradient(x, y):
    return (x * 40 % 256, y * 50 % 256, (x * 17 + y * 29) % 256)


class BindingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        imgfilter.load_library(LIBRARY)

    def setUp(self):
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="imgfilter-py-"))
        self.addCleanup(shutil.rmtree, self.dir)
        self.input = self.dir / "in.bmp"
        write_bmp24(self.input, 6, 5, gradient)

    def cli(self, *arguments):
        subprocess.run([CLI, *arguments], check=True, capture_output=True)

    def test_every_filter_matches_the_tool_byte_for_byte(self):
        # The tool calls the C functions directly; equal files mean the binding
        # passed each parameter with its C type and value.
        cases = [
            ("vignette", {"strength": 0.35}, ["--strength", "0.35"]),
            ("blur", {"radius": 1.3}, ["--radius", "1.3"]),
            ("sharpen", {"amount": 2.5}, ["--amount", "2.5"]),
            ("kernel", {"weights": [0, -1, 0, -1, 5, -1, 0, -1, 0]}, ["--weights", "0,-1,0,-1,5,-1,0,-1,0"]),
            ("kernel", {"weights": [[0.04] * 5] * 5}, ["--weights", ",".join(["0.04"] * 25)]),
            ("emboss", {}, []),
            ("edge_detect", {}, []),
            ("denoise", {"strength": 7}, ["--strength", "7"]),
            ("pixelate", {"block_size": 4}, ["--block-size", "4"]),
            ("oil_paint", {"radius": 2}, ["--radius", "2"]),
        ]
        for index, (name, parameters, flags) in enumerate(cases):
            with self.subTest(name=name, parameters=parameters):
                ours, theirs = self.dir / f"py{index}.png", self.dir / f"cli{index}.png"
                getattr(imgfilter, name)(self.input, ours, **parameters)
                self.cli(name.replace("_", "-"), *flags, str(self.input), str(theirs))
                self.assertEqual(ours.read_bytes(), theirs.read_bytes())

    def test_result_pixels(self):
        # Strength 1 blackens the corners and leaves the centre's neighbourhood lit.
        out = self.dir / "out.bmp"
        imgfilter.vignette(str(self.input), str(out), strength=1.0)
        width, height, pixels = read_bmp32(out)
        self.assertEqual((width, height), (6, 5))
        self.assertEqual(pixels[(0, 0)], (0, 0, 0, 255))
        self.assertEqual(pixels[(5, 4)], (0, 0, 0, 255))
        # One block covering the whole image: every pixel is the mean, halves rounded up.
        imgfilter.pixelate(self.input, out, block_size=6)
        _, _, pixels = read_bmp32(out)
        means = [(sum(gradient(x, y)[c] for x in range(6) for y in range(5)) + 15) // 30 for c in range(3)]
        self.assertEqual(set(pixels.values()), {(*means, 255)})

    def test_paths_may_be_str_bytes_or_pathlike(self):
        for index, (source, target) in enumerate([
                (str(self.input), str(self.dir / "a.png")),
                (bytes(self.input), os.fsencode(self.dir / "b.png")),
                (self.input, self.dir / "c.png")]):
            with self.subTest(kind=type(source).__name__):
                imgfilter.emboss(source, target)
                self.assertTrue(os.path.exists(target))

    def test_failures_raise_filter_error_with_the_library_message(self):
        missing = self.dir / "missing.png"
        cases = [
            (lambda: imgfilter.blur(missing, self.dir / "o.png", radius=2.0),
             f"blur: cannot read input file '{missing}'"),
            (lambda: imgfilter.blur(self.input, self.dir / "o.png", radius=-1.5),
             "blur: radius must be positive, got -1.5"),
            (lambda: imgfilter.sharpen(self.input, self.dir / "o.png", amount=5.25),
             "sharpen: amount 5.25 out of range 0.0..5.0"),
            (lambda: imgfilter.denoise(self.input, self.dir / "o.png", strength=11),
             "denoise: strength 11 out of range 1..10"),
            (lambda: imgfilter.pixelate(self.input, self.dir / "o.png", block_size=-3),
             "pixelate: block_size must be >= 1, got -3"),
            (lambda: imgfilter.oil_paint(self.input, self.dir / "o.png", radius=0),
             "oil_paint: radius must be >= 1, got 0"),
            (lambda: imgfilter.kernel(self.input, self.dir / "o.png", weights=[1.0] * 16, size=4),
             "kernel: size must be 3 or 5, got 4"),
        ]
        for call, message in cases:
            with self.subTest(message=message):
                with self.assertRaises(imgfilter.FilterError) as caught:
                    call()
                self.assertEqual(caught.exception.message, message)
                self.assertEqual(str(caught.exception), message)
        self.assertFalse((self.dir / "o.png").exists())

    def test_arguments_refused_before_the_library_is_called(self):
        out = self.dir / "o.png"
        with self.assertRaises(ValueError):  # the library would read past 9 weights
            imgfilter.kernel(self.input, out, weights=[1.0] * 9, size=5)
        with self.assertRaises(ValueError):
            imgfilter.kernel(self.input, out, weights=[1.0] * 10)
        with self.assertRaises(TypeError):
            imgfilter.denoise(self.input, out, strength=2.5)
        with self.assertRaises(OverflowError):
            imgfilter.pixelate(self.input, out, block_size=2**31)
        with self.assertRaises(TypeError):
            imgfilter.blur(None, out, radius=1.0)
        self.assertFalse(out.exists())

    def test_threads_each_get_their_own_message(self):
        # The library's message is shared by the process; the binding must not
        # let one thread read another's.
        errors = []

        def worker(number):
            for attempt in range(20):
                missing = self.dir / f"missing-{number}-{attempt}.png"
                try:
                    imgfilter.blur(missing, self.dir / f"o{number}.png", radius=1.0)
                except imgfilter.FilterError as error:
                    if error.message != f"blur: cannot read input file '{missing}'":
                        errors.append(error.message)
                imgfilter.vignette(self.input, self.dir / f"ok{number}.png", strength=0.5)

        run_in_threads(worker, 6)
        self.assertEqual(errors, [])


class LoadingTest(unittest.TestCase):
    """Each case runs a fresh interpreter, so the search starts from nothing."""

    def setUp(self):
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="imgfilter-py-load-"))
        self.addCleanup(shutil.rmtree, self.dir)
        write_bmp24(self.dir / "in.bmp", 3, 3, gradient)

    def run_python(self, code, pythonpath, library_path=None):
        env = {k: v for k, v in os.environ.items()
               if k not in ("PYTHONPATH", "LD_LIBRARY_PATH", "IMGFILTER_LIBRARY")}
        env["PYTHONPATH"] = str(pythonpath)
        if library_path:
            env["LD_LIBRARY_PATH"] = str(library_path)
        script = ("import imgfilter, sys\n" + code)
        return subprocess.run([sys.executable, "-c", script], env=env, cwd=self.dir,
                              capture_output=True, text=True)

    def test_explicit_path(self):
        result = self.run_python(
            f"print(imgfilter.load_library({LIBRARY!r}))\nimgfilter.emboss('in.bmp', 'out.png')",
            PACKAGE_DIR.parent)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), LIBRARY)
        self.assertTrue((self.dir / "out.png").exists())

    def test_explicit_path_that_is_not_a_library(self):
        result = self.run_python("imgfilter.load_library('in.bmp')", PACKAGE_DIR.parent)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("OSError", result.stderr)

    def test_next_to_the_package(self):
        bundle = self.dir / "bundle"
        shutil.copytree(PACKAGE_DIR, bundle / "imgfilter", ignore=shutil.ignore_patterns("__pycache__"))
        shutil.copy(LIBRARY, bundle / "imgfilter" / "libimgfilter.so.1")
        result = self.run_python("print(imgfilter.library_path())\nimgfilter.emboss('in.bmp', 'out.png')", bundle)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), str(bundle / "imgfilter" / "libimgfilter.so.1"))

    @unittest.skipUnless(sys.platform.startswith("linux"), "the loader path variable is Linux's")
    def test_system_search(self):
        libdir = self.dir / "lib"
        libdir.mkdir()
        shutil.copy(LIBRARY, libdir / "libimgfilter.so.1")
        # The loader's own search found the copy in libdir (and not some other
        # installed copy): it is the one mapped into the process.
        # The package outside the source tree, as an installed one is: in the
        # tree it would look in the tree's own build first.
        site = self.dir / "site"
        shutil.copytree(PACKAGE_DIR, site / "imgfilter", ignore=shutil.ignore_patterns("__pycache__"))
        result = self.run_python(
            "print(imgfilter.library_path())\nimgfilter.emboss('in.bmp', 'out.png')\n"
            "print(open('/proc/self/maps').read())",
            site, library_path=libdir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.split()[0], "libimgfilter.so.1")
        self.assertIn(str(libdir / "libimgfilter.so.1"), result.stdout)
        self.assertTrue((self.dir / "out.png").exists())


if __name__ == "__main__":
    unittest.main()
