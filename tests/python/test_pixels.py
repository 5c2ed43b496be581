"""The nine functions on pixels in memory: a PIL.Image.Image or a numpy
uint8 array in, the same kind out, with the pixels the file call gives.

Needs Debian's python3-pil and python3-numpy; without them the cases are
reported as skipped, by name.
"""

import os
import pathlib
import shutil
import tempfile
import unittest

import imgfilter

from test_imgfilter import LIBRARY

try:
    import numpy
except ImportError:
    numpy = None
try:
    from PIL import Image
except ImportError:
    Image = None

CASES = [
    ("vignette", {"strength": 0.7}),
    ("blur", {"radius": 1.5}),
    ("sharpen", {"amount": 2.0}),
    ("kernel", {"weights": [0, -1, 0, -1, 5, -1, 0, -1, 0]}),
    ("emboss", {}),
    ("edge_detect", {}),
    ("denoise", {"strength": 6}),
    ("pixelate", {"block_size": 3}),
    ("oil_paint", {"radius": 2}),
]


def picture(width, height, alpha):
    """Bytes of an RGB or RGBA picture with every channel varying."""
    data = bytearray()
    for y in range(height):
        for x in range(width):
            data += bytes(((x * 37 + y * 11) % 256, (x * 5 + y * 53) % 256, (x * y * 7 + 40) % 256))
            if alpha:
                data.append((x * 29 + y * 17 + 3) % 256)
    return bytes(data)


class PixelsTest(unittest.TestCase):
    def setUp(self):
        imgfilter.load_library(LIBRARY)
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="imgfilter-py-pixels-"))
        self.addCleanup(shutil.rmtree, self.dir)
        # The binding's private temporary directories land here, so the test
        # sees that none is left behind.
        self.temp = self.dir / "tmp"
        self.temp.mkdir()
        previous = tempfile.tempdir
        tempfile.tempdir = str(self.temp)
        self.addCleanup(setattr, tempfile, "tempdir", previous)
        self.addCleanup(lambda: self.assertEqual(list(self.temp.iterdir()), []))

    def file_result(self, name, parameters, image):
        """The file call's result, decoded, in the input image's mode."""
        source, target = self.dir / f"{name}-in.png", self.dir / f"{name}-out.png"
        image.save(source)
        getattr(imgfilter, name)(source, target, **parameters)
        with Image.open(target) as result:
            return result.convert(image.mode)

    @unittest.skipUnless(Image, "needs Pillow (Debian: python3-pil)")
    def test_pil_images_give_the_pixels_of_the_file_call(self):
        for mode in ("RGB", "RGBA"):
            image = Image.frombytes(mode, (11, 7), picture(11, 7, mode == "RGBA"))
            for name, parameters in CASES:
                with self.subTest(mode=mode, name=name):
                    result = getattr(imgfilter, name)(image, **parameters)
                    self.assertIsInstance(result, Image.Image)
                    self.assertEqual((result.mode, result.size), (mode, image.size))
                    self.assertEqual(result.tobytes(), self.file_result(name, parameters, image).tobytes())

    @unittest.skipUnless(Image and numpy, "needs Pillow and numpy (Debian: python3-pil, python3-numpy)")
    def test_numpy_arrays_give_the_pixels_of_the_file_call(self):
        for channels in (3, 4):
            array = numpy.frombuffer(picture(9, 6, channels == 4), dtype=numpy.uint8).reshape(6, 9, channels)
            image = Image.fromarray(array)
            for name, parameters in CASES:
                with self.subTest(channels=channels, name=name):
                    result = getattr(imgfilter, name)(array, **parameters)
                    self.assertIsInstance(result, numpy.ndarray)
                    self.assertEqual((result.dtype, result.shape), (numpy.uint8, array.shape))
                    self.assertTrue(result.flags.writeable)
                    expected = numpy.asarray(self.file_result(name, parameters, image))
                    self.assertTrue(numpy.array_equal(result, expected))

    @unittest.skipUnless(numpy, "needs numpy (Debian: python3-numpy)")
    def test_views_and_slices_are_read_as_they_look(self):
        array = numpy.frombuffer(picture(8, 8, False), dtype=numpy.uint8).reshape(8, 8, 3)
        view = array[::2, 1:6]  # not contiguous
        self.assertTrue(numpy.array_equal(imgfilter.pixelate(view, block_size=1), view))

    @unittest.skipUnless(numpy, "needs numpy (Debian: python3-numpy)")
    def test_arrays_of_other_shapes_or_types_are_refused(self):
        with self.assertRaises(TypeError):
            imgfilter.emboss(numpy.zeros((4, 4, 3), dtype=numpy.float32))
        for shape in ((4, 4), (4, 4, 2), (4, 4, 5), (0, 4, 3)):
            with self.subTest(shape=shape):
                with self.assertRaises(ValueError):
                    imgfilter.emboss(numpy.zeros(shape, dtype=numpy.uint8))

    @unittest.skipUnless(Image, "needs Pillow (Debian: python3-pil)")
    def test_other_modes_come_back_rgb_or_rgba(self):
        grey = Image.frombytes("L", (4, 3), bytes(range(0, 240, 20)))
        self.assertEqual(imgfilter.emboss(grey).mode, "RGB")
        self.assertEqual(imgfilter.emboss(grey.convert("LA")).mode, "RGBA")
        self.assertEqual(imgfilter.emboss(grey.convert("RGB")).tobytes(), imgfilter.emboss(grey).tobytes())

    @unittest.skipUnless(Image, "needs Pillow (Debian: python3-pil)")
    def test_an_output_path_writes_the_file_and_returns_none(self):
        image = Image.frombytes("RGB", (5, 5), picture(5, 5, False))
        out = self.dir / "out.png"
        self.assertIsNone(imgfilter.blur(image, out, radius=1.0))
        image.save(self.dir / "in.png")
        imgfilter.blur(self.dir / "in.png", self.dir / "ref.png", radius=1.0)
        self.assertEqual(out.read_bytes(), (self.dir / "ref.png").read_bytes())

    @unittest.skipUnless(Image, "needs Pillow (Debian: python3-pil)")
    def test_a_refusal_is_the_same_exception_as_for_files(self):
        image = Image.frombytes("RGB", (2, 2), picture(2, 2, False))
        with self.assertRaises(ValueError) as caught:
            imgfilter.blur(image, radius=0)
        self.assertEqual(caught.exception.message, "blur: radius must be positive, got 0")
