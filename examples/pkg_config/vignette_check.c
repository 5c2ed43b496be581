/* Darkens the corners of a photograph with imgfilter and checks the result.
 *   vignette_check PHOTO OUTDIR
 * Writes OUTDIR/vignette.bmp at strength 1 and reads it back: 32-bit pixels,
 * B, G, R, A, rows bottom-up; the four corners must be opaque black. Also
 * checks that a missing input fails with the library's message. */
#include <imgfilter.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static unsigned long field(const unsigned char* bytes, size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 | (unsigned long)bytes[offset + 3] << 24;
}

/* The whole file in a malloc'd block; NULL when it cannot be read. */
static unsigned char* read_file(const char* path, size_t* size) {
    FILE* file = fopen(path, "rb");
    unsigned char* bytes = NULL;
    long length;
    if (!file) return NULL;
    if (fseek(file, 0, SEEK_END) == 0 && (length = ftell(file)) > 0 && fseek(file, 0, SEEK_SET) == 0) {
        bytes = malloc((size_t)length);
        if (bytes && fread(bytes, 1, (size_t)length, file) != (size_t)length) {
            free(bytes);
            bytes = NULL;
        }
        *size = (size_t)length;
    }
    fclose(file);
    return bytes;
}

int main(int argc, char** argv) {
    char output[4096], missing[4096], expected[4200];
    unsigned char* bmp;
    size_t size = 0;
    long width, height, x, y;
    int corner, good = 1;

    if (argc != 3) {
        fprintf(stderr, "usage: vignette_check PHOTO OUTDIR\n");
        return 2;
    }
    snprintf(output, sizeof output, "%s/vignette.bmp", argv[2]);
    snprintf(missing, sizeof missing, "%s/no-such-photo.jpg", argv[2]);

    if (!imgfilter_vignette(argv[1], output, 1.0f)) {
        fprintf(stderr, "vignette_check: %s\n", imgfilter_last_error());
        return 1;
    }
    bmp = read_file(output, &size);
    if (!bmp || size < 54 || bmp[0] != 'B' || bmp[1] != 'M') {
        fprintf(stderr, "vignette_check: %s is not a BMP file\n", output);
        free(bmp);
        return 1;
    }
    width = (long)field(bmp, 18);
    height = (long)field(bmp, 22);
    if ((size_t)width * (size_t)height * 4 + field(bmp, 10) > size) good = 0;
    for (corner = 0; good && corner < 4; ++corner) {
        x = corner & 1 ? width - 1 : 0;
        y = corner & 2 ? height - 1 : 0;
        if (field(bmp, field(bmp, 10) + ((size_t)y * (size_t)width + (size_t)x) * 4) != 0xff000000ul) good = 0;
    }
    free(bmp);
    if (!good) {
        fprintf(stderr, "vignette_check: the corners of %s are not black\n", output);
        return 1;
    }

    snprintf(expected, sizeof expected, "vignette: cannot read input file '%s'", missing);
    if (imgfilter_vignette(missing, output, 0.5f) || strcmp(imgfilter_last_error(), expected) != 0) {
        fprintf(stderr, "vignette_check: unexpected message for a missing input: '%s'\n", imgfilter_last_error());
        return 1;
    }
    printf("vignette_check: %ldx%ld ok\n", width, height);
    return 0;
}
