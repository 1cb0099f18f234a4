/* libtiff_decode: decodes every row of a bilevel TIFF with libtiff's TIFFReadScanline and folds each row
 * into a checksum, the reference that the translator's decode is timed against in compare.sh.
 *
 *   libtiff_decode in.tif
 *
 * Prints the row count and the checksum; exit status 0 on success, 1 when the file cannot be decoded,
 * 2 for a bad command line. */

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <tiffio.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: libtiff_decode in.tif\n");
    return 2;
  }
  TIFF* tif = TIFFOpen(argv[1], "r");
  if (!tif) return 1;
  uint32_t height = 0;
  uint16_t bits = 1;
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  const tmsize_t size = TIFFScanlineSize(tif);
  uint8_t* row = bits == 1 && size > 0 ? malloc((size_t)size) : NULL;
  if (!row) {
    fprintf(stderr, "libtiff_decode: %s is not a bilevel image\n", argv[1]);
    TIFFClose(tif);
    return 1;
  }
  uint64_t sum = 0;
  int status = 0;
  for (uint32_t y = 0; y < height; ++y) {
    if (TIFFReadScanline(tif, row, y, 0) < 0) {
      status = 1;
      break;
    }
    /* Touch the row: a rotating fold of its bytes. */
    for (tmsize_t i = 0; i < size; ++i) sum = (sum << 1 | sum >> 63) ^ row[i];
  }
  printf("%u rows, checksum %016llx\n", (unsigned)height, (unsigned long long)sum);
  free(row);
  TIFFClose(tif);
  return status;
}
