// The toolkit's entry points on pictures: sizes and positions as doubles, error 7 without a picture. The
// turn, scale, import and export entries are beside their operations.
#include <algorithm>
#include <cmath>

#include "picture/tpicture.h"
#include "picture/tpicture_internal.h"

namespace vantrel {
namespace {

// Sizes named by doubles: add 0.5 and truncate; false when the result is negative or beyond int32.
bool roundSize(double v, int32_t* out) {
  double r = std::trunc(v + 0.5);
  if (!(r >= 0 && r <= 2147483647.0)) return false;
  *out = static_cast<int32_t>(r);
  return true;
}

bool toPixel(double v, int32_t* out) {
  double r = std::trunc(v);
  if (!(r >= INT32_MIN && r <= INT32_MAX)) return false;
  *out = static_cast<int32_t>(r);
  return true;
}

bool needPicture(const TPicture* p, const char* routine) {
  if (p) return true;
  rastSetError(kRastNoPicture, routine);
  return false;
}

}  // namespace

TPicture* rastAllocImage(double height, double width) {
  int32_t h = 0, w = 0;
  if (!roundSize(height, &h) || !roundSize(width, &w)) {
    rastSetError(kRastBadSize, "rastAllocImage");
    return nullptr;
  }
  return AllocTPicture(h, w);
}

TPicture* rastAllocRegisterImage(const TPicture* picture) {
  if (!needPicture(picture, "rastAllocRegisterImage")) return nullptr;
  TPicture* n = AllocTPicture(picture->height, picture->width);
  if (n) {
    n->columnDpi = picture->columnDpi;
    n->rowDpi = picture->rowDpi;
  }
  return n;
}

bool rastFreeImage(TPicture* picture) {
  if (!picture || picture->magic != kTPictureMagic) {
    rastSetError(kRastNoPicture, "rastFreeImage");
    return false;
  }
  FreeTPicture(picture);
  return true;
}

bool rastClearImage(TPicture* picture) {
  if (!needPicture(picture, "rastClearImage")) return false;
  ClearTPicture(picture);
  return true;
}

TPicture* rastResizeImage(TPicture* picture, double height, double width) {
  if (!needPicture(picture, "rastResizeImage")) return nullptr;
  int32_t h = 0, w = 0;
  if (!roundSize(height, &h) || !roundSize(width, &w)) {
    rastSetError(kRastBadSize, "rastResizeImage");
    return picture;
  }
  return ResizeTPicture(picture, h, w);
}

TPicture* rastCropImage(TPicture* picture, int32_t* left, int32_t* top) {
  if (!needPicture(picture, "rastCropImage")) return nullptr;
  return CropTPicture(picture, left, top);
}

bool rastSetImageDPI(TPicture* picture, double rowDpi, double columnDpi) {
  if (!needPicture(picture, "rastSetImageDPI")) return false;
  picture->rowDpi = static_cast<float>(rowDpi);
  picture->columnDpi = static_cast<float>(columnDpi);
  return true;
}

double rastGetImageHeight(const TPicture* picture) {
  return needPicture(picture, "rastGetImageHeight") ? picture->height : 0;
}

double rastGetImageWidth(const TPicture* picture) {
  return needPicture(picture, "rastGetImageWidth") ? picture->width : 0;
}

double rastGetImageRowDPI(const TPicture* picture) {
  return needPicture(picture, "rastGetImageRowDPI") ? picture->rowDpi : 0;
}

double rastGetImageColumnDPI(const TPicture* picture) {
  return needPicture(picture, "rastGetImageColumnDPI") ? picture->columnDpi : 0;
}

bool rastPackWhiteImage(TPicture* picture) {
  if (!needPicture(picture, "rastPackWhiteImage")) return false;
  PackWhiteTPicture(picture);
  return true;
}

bool rastPackBlackImage(TPicture* picture) {
  if (!needPicture(picture, "rastPackBlackImage")) return false;
  PackBlackTPicture(picture);
  return true;
}

bool rastImageIsAllWhite(TPicture* picture) {
  if (!needPicture(picture, "rastImageIsAllWhite")) return false;
  PackWhiteTPicture(picture);
  return std::all_of(picture->directory, picture->directory + picture->tileCount, entryIsWhite);
}

bool rastImageIsAllBlack(TPicture* picture) {
  if (!needPicture(picture, "rastImageIsAllBlack")) return false;
  PackBlackTPicture(picture);
  return std::all_of(picture->directory, picture->directory + picture->tileCount, entryIsBlack);
}

bool rastGetImageBounds(const TPicture* picture, double* left, double* top, double* right, double* bottom) {
  if (!needPicture(picture, "rastGetImageBounds")) return false;
  const TileRect c = contentTiles(picture);
  bool any = c.lastRow >= 0;
  if (left) *left = any ? 32.0 * c.firstColumn : 0;
  if (top) *top = any ? 32.0 * c.firstRow : 0;
  if (right) *right = any ? 32.0 * c.lastColumn + 31 : 0;
  if (bottom) *bottom = any ? 32.0 * c.lastRow + 31 : 0;
  return true;
}

bool rastPixelIsWhite(const TPicture* picture, double row, double column) {
  if (!needPicture(picture, "rastPixelIsWhite")) return false;
  int32_t r = 0, c = 0;
  if (!toPixel(row, &r) || !toPixel(column, &c)) return true;
  int32_t runs[4];
  return ExtractRunsTPicture(picture, r, runs, c, c) == 0;
}

bool rastPixelIsBlack(const TPicture* picture, double row, double column) {
  if (!needPicture(picture, "rastPixelIsBlack")) return false;
  int32_t r = 0, c = 0;
  if (!toPixel(row, &r) || !toPixel(column, &c)) return false;
  int32_t runs[4];
  return ExtractRunsTPicture(picture, r, runs, c, c) != 0;
}

bool rastUndoProtectImage(TPicture* picture) {
  return needPicture(picture, "rastUndoProtectImage") && UndoProtectTPicture(picture);
}

bool rastUndoEnableImage(TPicture* picture) {
  return needPicture(picture, "rastUndoEnableImage") && UndoEnableTPicture(picture);
}

bool rastUndoDisableImage(TPicture* picture) {
  if (!needPicture(picture, "rastUndoDisableImage")) return false;
  UndoDisableTPicture(picture);
  return true;
}

bool rastUndoResetImage(TPicture* picture) {
  if (!needPicture(picture, "rastUndoResetImage")) return false;
  UndoResetTPicture(picture);
  return true;
}

bool rastUndoAbandonImage(TPicture* picture) {
  if (!needPicture(picture, "rastUndoAbandonImage")) return false;
  UndoAbandonTPicture(picture);
  return true;
}

bool rastUndoToggleImage(TPicture* picture) {
  if (!needPicture(picture, "rastUndoToggleImage")) return false;
  UndoToggleTPicture(picture);
  return true;
}

bool rastUndoInquireImage(TPicture* picture, TPicture* diff) {
  if (!needPicture(picture, "rastUndoInquireImage") || !needPicture(diff, "rastUndoInquireImage"))
    return false;
  return UndoInquireTPicture(picture, diff);
}

}  // namespace vantrel
