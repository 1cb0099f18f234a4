// The picture record: life cycle, sizes, errors and hook, pack, bounds, resize, crop and undo protection.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "picture/tpicture.h"

namespace vantrel {
namespace {

using Runs = std::vector<int32_t>;

struct Reported {
  RastError code;
  std::string routine;
  bool operator==(const Reported&) const = default;
};

std::vector<Reported>& reported() {
  static std::vector<Reported> list;
  return list;
}

void recordHook(RastError code, const char* routine) {
  reported().push_back({code, routine});
}

// Resets the toolkit state of this thread, records what reaches the hook, and checks that the test gave
// back all accounted memory.
class PictureTest : public ::testing::Test {
 protected:
  PictureTest() {
    rioFailAllocationAfter(-1);
    rastClearLastError();
    reported().clear();
    rastSetErrorHook(recordHook);
  }
  ~PictureTest() override {
    rioFailAllocationAfter(-1);
    rastSetErrorHook(nullptr);
    EXPECT_EQ(rioBytesInUse(), base_) << "accounted memory not given back";
  }

 private:
  int64_t base_ = rioBytesInUse();
};

template <class P>
class PictureTestP : public PictureTest, public ::testing::WithParamInterface<P> {};

Runs rowRuns(const TPicture* p, int32_t row) {
  std::vector<int32_t> buf(static_cast<size_t>(slineValues(std::max(p->width, 1))));
  ExtractRunsTPicture(p, row, buf.data(), 0, p->width - 1);
  Runs v;
  for (const int32_t* r = buf.data(); !rioSlineEnd(r); r += 2) {
    v.push_back(r[0]);
    v.push_back(r[1]);
  }
  return v;
}

void span(TPicture* p, int32_t row, int32_t start, int32_t end, int colour = 1) {
  ASSERT_TRUE(WriteSpanTPicture(p, row, start, end, colour));
}

// A block of black pixels [r0, r1) x [c0, c1).
void block(TPicture* p, int32_t r0, int32_t r1, int32_t c0, int32_t c1, int colour = 1) {
  for (int32_t r = r0; r < r1; ++r) span(p, r, c0, c1, colour);
}

std::vector<Runs> allRows(const TPicture* p) {
  std::vector<Runs> rows;
  for (int32_t r = 0; r < p->height; ++r) rows.push_back(rowRuns(p, r));
  return rows;
}

// ---------------------------------------------------------------------------------------------------------
// PictureSizes.

struct SizeCase {
  int32_t height, width;
  int32_t tileRows, tilesAcross;
};

using PictureSizes = PictureTestP<SizeCase>;

TEST_P(PictureSizes, TileCountsAndWhiteDirectory) {
  const SizeCase& c = GetParam();
  TPicturePtr p(AllocTPicture(c.height, c.width));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->magic, kTPictureMagic);
  EXPECT_EQ(p->tileRows, c.tileRows);
  EXPECT_EQ(p->tilesAcross, c.tilesAcross);
  EXPECT_EQ(p->tileCount, c.tileRows * c.tilesAcross);
  for (int32_t i = 0; i < p->tileCount; ++i) EXPECT_EQ(p->directory[i], kWhiteEntry);
  EXPECT_EQ(p->undoList, nullptr);
  EXPECT_EQ(p->columnDpi, 0.0f);
}

TEST_F(PictureTest, StorageBytesAreTheAccountedBytes) {
  int64_t before = rioBytesInUse();
  TPicturePtr p(AllocTPicture(1000, 1500));
  EXPECT_EQ(rioBytesInUse() - before, TPictureStorageBytes(p.get()));
  for (int32_t r = 0; r < 1000; r += 5) span(p.get(), r, r, r + 300);
  EXPECT_EQ(rioBytesInUse() - before, TPictureStorageBytes(p.get()));
  ASSERT_TRUE(UndoProtectTPicture(p.get()));
  EXPECT_EQ(rioBytesInUse() - before, TPictureStorageBytes(p.get()));
}

INSTANTIATE_TEST_SUITE_P(Vectors, PictureSizes,
                         ::testing::Values(SizeCase{33, 33, 2, 2}, SizeCase{32, 32, 1, 1},
                                           SizeCase{1, 1, 1, 1}, SizeCase{0, 0, 0, 0}, SizeCase{0, 100, 0, 4},
                                           SizeCase{100, 0, 4, 0}, SizeCase{64, 65, 2, 3},
                                           SizeCase{1, (1 << 24) + 1, 1, (1 << 19) + 1}));

struct RefusedCase {
  int32_t height, width;
  RastError error;
};

using PictureRefusedSizes = PictureTestP<RefusedCase>;

TEST_P(PictureRefusedSizes, FailCleanlyWithTheirError) {
  const RefusedCase& c = GetParam();
  EXPECT_EQ(AllocTPicture(c.height, c.width), nullptr);
  EXPECT_EQ(rastGetLastError(), c.error);
  EXPECT_EQ(reported(), (std::vector<Reported>{{c.error, "AllocTPicture"}}));
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, PictureRefusedSizes,
    ::testing::Values(RefusedCase{INT32_MAX, INT32_MAX, kRastOutOfMemory},
                      RefusedCase{1, INT32_MAX, kRastOutOfMemory},            // padded width
                      RefusedCase{1 << 20, 1 << 20, kRastOutOfMemory},        // 2^30 tiles
                      RefusedCase{(1 << 19) + 1, 1 << 19, kRastOutOfMemory},  // just over 2^28
                      RefusedCase{-1, 10, kRastBadSize}, RefusedCase{10, INT32_MIN, kRastBadSize}));

struct ToolkitSizeCase {
  double height, width;
  bool made;
  RastError error;
};

using PictureToolkitSizes = PictureTestP<ToolkitSizeCase>;

TEST_P(PictureToolkitSizes, RoundAndRefuse) {
  const ToolkitSizeCase& c = GetParam();
  TPicturePtr p(rastAllocImage(c.height, c.width));
  EXPECT_EQ(p != nullptr, c.made);
  EXPECT_EQ(rastGetLastError(), c.error);
  if (p) {
    EXPECT_EQ(p->height, static_cast<int32_t>(c.height + 0.5));
    EXPECT_EQ(p->width, static_cast<int32_t>(c.width + 0.5));
  }
}

INSTANTIATE_TEST_SUITE_P(Vectors, PictureToolkitSizes,
                         ::testing::Values(ToolkitSizeCase{10.4, 20.5, true, 0},
                                           ToolkitSizeCase{0.2, 0, true, 0},
                                           ToolkitSizeCase{3e9, 10, false, kRastBadSize},
                                           ToolkitSizeCase{2147483647.6, 1, false, kRastBadSize},
                                           ToolkitSizeCase{-3, 10, false, kRastBadSize},
                                           ToolkitSizeCase{10, 2147483647.0, false, kRastOutOfMemory}));

// ---------------------------------------------------------------------------------------------------------
// Errors and the hook.

struct StatusCase {
  RioStatus status;
  RastError error;
};

class PictureStatusMapping : public ::testing::TestWithParam<StatusCase> {};

TEST_P(PictureStatusMapping, FixedTable) {
  EXPECT_EQ(rastErrorFromStatus(GetParam().status), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Vectors, PictureStatusMapping,
                         ::testing::Values(StatusCase{0, 0}, StatusCase{-1, 0}, StatusCase{-16, 10},
                                           StatusCase{-15, 9}, StatusCase{-14, 9}, StatusCase{-12, 13},
                                           StatusCase{-11, 11}, StatusCase{-2, 11}, StatusCase{-10, 17},
                                           StatusCase{-8, 17}, StatusCase{-3, 1}, StatusCase{-4, 18},
                                           StatusCase{-13, 18}, StatusCase{-18, 18}, StatusCase{2, 18},
                                           StatusCase{13, 18}));

struct NullCase {
  const char* routine;
  std::function<void()> call;
};

void PrintTo(const NullCase& c, std::ostream* os) {
  *os << c.routine;
}

using PictureNoPicture = PictureTestP<NullCase>;

TEST_P(PictureNoPicture, StoresError7WithItsName) {
  GetParam().call();
  EXPECT_EQ(rastGetLastError(), kRastNoPicture);
  EXPECT_TRUE(rastIsLastError(kRastNoPicture));
  EXPECT_EQ(reported(), (std::vector<Reported>{{kRastNoPicture, GetParam().routine}}));
  rastClearLastError();
  EXPECT_EQ(rastGetLastError(), kRastNoError);
}

INSTANTIATE_TEST_SUITE_P(
    EntryPoints, PictureNoPicture,
    ::testing::Values(
        NullCase{"rastGetImageHeight", [] { EXPECT_EQ(rastGetImageHeight(nullptr), 0.0); }},
        NullCase{"rastGetImageWidth", [] { EXPECT_EQ(rastGetImageWidth(nullptr), 0.0); }},
        NullCase{"rastGetImageRowDPI", [] { EXPECT_EQ(rastGetImageRowDPI(nullptr), 0.0); }},
        NullCase{"rastGetImageColumnDPI", [] { EXPECT_EQ(rastGetImageColumnDPI(nullptr), 0.0); }},
        NullCase{"rastFreeImage", [] { EXPECT_FALSE(rastFreeImage(nullptr)); }},
        NullCase{"rastClearImage", [] { EXPECT_FALSE(rastClearImage(nullptr)); }},
        NullCase{"rastAllocRegisterImage", [] { EXPECT_EQ(rastAllocRegisterImage(nullptr), nullptr); }},
        NullCase{"rastResizeImage", [] { EXPECT_EQ(rastResizeImage(nullptr, 5, 5), nullptr); }},
        NullCase{"rastSetImageDPI", [] { EXPECT_FALSE(rastSetImageDPI(nullptr, 1, 1)); }},
        NullCase{"rastImageIsAllWhite", [] { EXPECT_FALSE(rastImageIsAllWhite(nullptr)); }},
        NullCase{"rastGetImageBounds",
                 [] { EXPECT_FALSE(rastGetImageBounds(nullptr, nullptr, nullptr, nullptr, nullptr)); }},
        NullCase{"rastPixelIsBlack", [] { EXPECT_FALSE(rastPixelIsBlack(nullptr, 0, 0)); }},
        NullCase{"rastUndoProtectImage", [] { EXPECT_FALSE(rastUndoProtectImage(nullptr)); }},
        NullCase{"rastUndoToggleImage", [] { EXPECT_FALSE(rastUndoToggleImage(nullptr)); }}),
    [](const auto& info) { return std::string(info.param.routine); });

TEST_F(PictureTest, DefaultHookDoesNothingAndErrorsArePerThread) {
  rastSetErrorHook(nullptr);
  rastSetError(kRastStopped, "ImportTPicture");
  EXPECT_EQ(rastGetLastError(), kRastStopped);
  EXPECT_TRUE(reported().empty());
  RastError seen = -1;
  std::thread([&] { seen = rastGetLastError(); }).join();
  EXPECT_EQ(seen, kRastNoError);
  EXPECT_EQ(rastSetErrorHook(recordHook), nullptr);
  EXPECT_EQ(rastSetErrorHook(recordHook), &recordHook);
}

// ---------------------------------------------------------------------------------------------------------
// Life cycle and memory.

TEST_F(PictureTest, FreeGivesEveryByteBack) {
  int64_t before = rioBytesInUse();
  TPicture* p = AllocTPicture(500, 700);
  for (int32_t r = 0; r < 500; r += 3) span(p, r, r % 700, std::min(700, r + 100));
  ASSERT_TRUE(UndoProtectTPicture(p));
  ClearTPicture(p);  // the old tiles now belong to the undo list
  block(p, 0, 40, 0, 700);
  EXPECT_EQ(rioBytesInUse() - before, TPictureStorageBytes(p));
  EXPECT_TRUE(rastFreeImage(p));
  EXPECT_EQ(rioBytesInUse(), before);
}

TEST_F(PictureTest, ReleasedTilesAreReused) {
  TPicturePtr p(AllocTPicture(256, 256));
  block(p.get(), 0, 256, 0, 256);
  EXPECT_EQ(TPictureTileCount(p.get()), 64);
  int64_t bytes = TPictureStorageBytes(p.get());
  for (int round = 0; round < 5; ++round) {
    ClearTPicture(p.get());
    EXPECT_EQ(TPictureTileCount(p.get()), 0);
    block(p.get(), 0, 256, 0, 256);
  }
  EXPECT_EQ(TPictureStorageBytes(p.get()), bytes) << "the pool grew although tiles were free";
}

TEST_F(PictureTest, CopyIsDeepAndDropsMarks) {
  TPicturePtr p(AllocTPicture(70, 90));
  rastSetImageDPI(p.get(), 300, 400);
  block(p.get(), 0, 32, 0, 32);
  PackBlackTPicture(p.get());
  span(p.get(), 40, 5, 80);
  p->directory[2] |= kSavedMark;  // a marked white entry
  TPicturePtr c(CopyTPicture(p.get()));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->directory[0], kBlackEntry);
  EXPECT_EQ(c->directory[2], kWhiteEntry);
  EXPECT_EQ(c->rowDpi, 300.0f);
  EXPECT_EQ(c->columnDpi, 400.0f);
  EXPECT_EQ(allRows(c.get()), allRows(p.get()));
  span(p.get(), 40, 0, 90, 0);
  EXPECT_EQ(rowRuns(c.get(), 40), (Runs{5, 80}));
  EXPECT_EQ(c->undoList, nullptr);
}

TEST_F(PictureTest, FailedCopyFreesThePartialCopy) {
  TPicturePtr p(AllocTPicture(300, 300));
  for (int32_t r = 0; r < 300; r += 2) span(p.get(), r, 0, 300);
  for (int64_t n = 0; n < 3; ++n) {
    rioFailAllocationAfter(n);
    TPicture* c = CopyTPicture(p.get());
    rioFailAllocationAfter(-1);
    EXPECT_EQ(c, nullptr) << n;
    EXPECT_EQ(rastGetLastError(), kRastOutOfMemory);
  }
  EXPECT_EQ(reported().back().routine, "CopyTPicture");
}

TEST_F(PictureTest, RegisterImageKeepsSizeAndDpis) {
  TPicturePtr p(AllocTPicture(40, 50));
  span(p.get(), 1, 0, 10);
  ASSERT_TRUE(rastSetImageDPI(p.get(), 200, 300));
  TPicturePtr q(rastAllocRegisterImage(p.get()));
  ASSERT_TRUE(q);
  EXPECT_EQ(rastGetImageHeight(q.get()), 40.0);
  EXPECT_EQ(rastGetImageWidth(q.get()), 50.0);
  EXPECT_EQ(rastGetImageRowDPI(q.get()), 200.0);
  EXPECT_EQ(rastGetImageColumnDPI(q.get()), 300.0);
  EXPECT_TRUE(rastImageIsAllWhite(q.get()));
}

// ---------------------------------------------------------------------------------------------------------
// Pack, bounds, pixels.

TEST_F(PictureTest, AllWhiteTestReleasesAZeroTile) {
  TPicturePtr p(AllocTPicture(64, 64));
  span(p.get(), 10, 3, 9);
  span(p.get(), 10, 0, 64, 0);
  EXPECT_EQ(TPictureTileCount(p.get()), 1);
  EXPECT_TRUE(rastImageIsAllWhite(p.get()));
  EXPECT_EQ(TPictureTileCount(p.get()), 0);
  EXPECT_EQ(p->directory[0], kWhiteEntry);
  span(p.get(), 40, 40, 41);
  EXPECT_FALSE(rastImageIsAllWhite(p.get()));
}

TEST_F(PictureTest, PackKeepsMarksAndAllBlackTest) {
  TPicturePtr p(AllocTPicture(64, 64));
  block(p.get(), 0, 64, 0, 64);
  p->directory[1] |= kSavedMark;
  p->directory[2] |= kSavedMark;
  span(p.get(), 40, 0, 32, 0);
  block(p.get(), 32, 64, 0, 32, 0);  // tile 2 all zero again, marked
  PackWhiteTPicture(p.get());
  EXPECT_EQ(p->directory[2], kWhiteMarked);
  EXPECT_FALSE(rastImageIsAllBlack(p.get()));
  EXPECT_EQ(p->directory[0], kBlackEntry);
  EXPECT_EQ(p->directory[1], kBlackMarked);
  block(p.get(), 32, 64, 0, 32);
  EXPECT_TRUE(rastImageIsAllBlack(p.get()));
  EXPECT_EQ(TPictureTileCount(p.get()), 0);
}

struct BoundsCase {
  std::vector<std::array<int32_t, 3>> pixels;  // row, start, end
  double left, top, right, bottom;
};

using PictureBounds = PictureTestP<BoundsCase>;

TEST_P(PictureBounds, TileGranular) {
  TPicturePtr p(AllocTPicture(200, 300));
  for (const auto& px : GetParam().pixels) span(p.get(), px[0], px[1], px[2]);
  double l = -1, t = -1, r = -1, b = -1;
  ASSERT_TRUE(rastGetImageBounds(p.get(), &l, &t, &r, &b));
  EXPECT_EQ(l, GetParam().left);
  EXPECT_EQ(t, GetParam().top);
  EXPECT_EQ(r, GetParam().right);
  EXPECT_EQ(b, GetParam().bottom);
}

INSTANTIATE_TEST_SUITE_P(Vectors, PictureBounds,
                         ::testing::Values(BoundsCase{{}, 0, 0, 0, 0}, BoundsCase{{{0, 0, 1}}, 0, 0, 31, 31},
                                           BoundsCase{{{70, 100, 101}}, 96, 64, 127, 95},
                                           BoundsCase{{{199, 299, 300}, {33, 40, 41}}, 32, 32, 319, 223}));

TEST_F(PictureTest, PixelTests) {
  TPicturePtr p(AllocTPicture(50, 50));
  span(p.get(), 20, 10, 12);
  EXPECT_TRUE(rastPixelIsBlack(p.get(), 20, 10));
  EXPECT_TRUE(rastPixelIsBlack(p.get(), 20.7, 11.9));
  EXPECT_FALSE(rastPixelIsWhite(p.get(), 20, 11));
  EXPECT_TRUE(rastPixelIsWhite(p.get(), 20, 12));
  EXPECT_TRUE(rastPixelIsWhite(p.get(), 60, 10));  // outside is white
  EXPECT_TRUE(rastPixelIsWhite(p.get(), 20, -1e12));
  EXPECT_FALSE(rastPixelIsBlack(p.get(), 20, 1e12));
}

// ---------------------------------------------------------------------------------------------------------
// Resize and crop.

TEST_F(PictureTest, ResizeLargerKeepsTopLeft) {
  TPicture* p = AllocTPicture(40, 50);
  rastSetImageDPI(p, 150, 250);
  span(p, 0, 0, 50);
  span(p, 39, 45, 50);
  block(p, 5, 37, 0, 32);
  PackBlackTPicture(p);
  auto before = allRows(p);
  TPicture* q = ResizeTPicture(p, 130, 170);
  ASSERT_NE(q, p);
  EXPECT_EQ(q->height, 130);
  EXPECT_EQ(q->width, 170);
  EXPECT_EQ(q->rowDpi, 150.0f);
  EXPECT_EQ(q->columnDpi, 250.0f);
  for (int32_t r = 0; r < 130; ++r)
    EXPECT_EQ(rowRuns(q, r), r < 40 ? before[static_cast<size_t>(r)] : Runs{}) << r;
  FreeTPicture(q);
}

TEST_F(PictureTest, ResizeSmallerClearsTheNewPadding) {
  TPicture* p = AllocTPicture(64, 64);
  block(p, 0, 64, 0, 64);
  PackBlackTPicture(p);  // four black entries
  p = ResizeTPicture(p, 40, 45);
  EXPECT_EQ(p->tileRows, 2);
  EXPECT_EQ(p->tilesAcross, 2);
  for (int32_t r = 0; r < 40; ++r) EXPECT_EQ(rowRuns(p, r), (Runs{0, 45})) << r;
  // A later left-right mirror would make the padding part of the picture: it must be white.
  EXPECT_EQ(p->directory[0], kBlackEntry);
  for (int i = 1; i < 4; ++i) {
    ASSERT_TRUE(entryIsTile(p->directory[i])) << i;
    const uint32_t* w = tileWords(p, p->directory[i]);
    for (int row = 0; row < 32; ++row) {
      uint32_t area = (i == 1 || row < 8) ? 0xFFFFFFFFu : 0u;
      if (i != 2) area &= maskBefore(13);
      EXPECT_EQ(w[row], area) << i << " row " << row;
    }
  }
  FreeTPicture(p);
}

TEST_F(PictureTest, FailedResizeReturnsTheSamePicture) {
  TPicture* p = AllocTPicture(64, 64);
  block(p, 0, 64, 0, 64);
  PackBlackTPicture(p);  // shrinking to 45 columns needs tiles for the black edge entries
  ASSERT_TRUE(UndoProtectTPicture(p));
  UndoDisableTPicture(p);
  auto before = allRows(p);
  int failures = 0;
  for (int64_t n = 0;; ++n) {
    rioFailAllocationAfter(n);
    TPicture* q = ResizeTPicture(p, 40, 45);
    rioFailAllocationAfter(-1);
    if (q != p) {
      p = q;
      break;
    }
    ++failures;
    EXPECT_EQ(rastGetLastError(), kRastOutOfMemory);
    EXPECT_EQ(p->height, 64);
    EXPECT_EQ(allRows(p), before);
    EXPECT_NE(p->undoList, nullptr);
  }
  EXPECT_GE(failures, 3);  // record, directory, undo list, tiles
  EXPECT_NE(p->undoList, nullptr) << "the new picture gets a list of its own";
  EXPECT_EQ(p->undoEnabled, 0);
  FreeTPicture(p);
}

TEST_F(PictureTest, CropMovesTheContentRectangleToTheCorner) {
  TPicture* p = AllocTPicture(300, 400);
  span(p, 70, 100, 101);   // tile (2, 3)
  span(p, 150, 170, 180);  // tile (4, 5)
  int32_t left = -1, top = -1;
  TPicture* q = CropTPicture(p, &left, &top);
  ASSERT_NE(q, p);
  EXPECT_EQ(left, 96);
  EXPECT_EQ(top, 64);
  EXPECT_EQ(q->height, 96);
  EXPECT_EQ(q->width, 96);
  EXPECT_EQ(rowRuns(q, 6), (Runs{4, 5}));
  EXPECT_EQ(rowRuns(q, 86), (Runs{74, 84}));
  EXPECT_EQ(TPictureTileCount(q), 2);
  FreeTPicture(q);
}

TEST_F(PictureTest, CropOfAllWhiteGives32By32AtOrigin) {
  TPicture* p = AllocTPicture(100, 100);
  int32_t left = -1, top = -1;
  p = rastCropImage(p, &left, &top);
  EXPECT_EQ(p->height, 32);
  EXPECT_EQ(p->width, 32);
  EXPECT_EQ(left, 0);
  EXPECT_EQ(top, 0);
  FreeTPicture(p);
}

TEST_F(PictureTest, CropWithUndoListIsRefused) {
  TPicture* p = AllocTPicture(100, 100);
  span(p, 90, 90, 91);
  ASSERT_TRUE(rastUndoProtectImage(p));
  int32_t left = -1, top = -1;
  EXPECT_EQ(CropTPicture(p, &left, &top), p);
  EXPECT_EQ(left, 0);
  EXPECT_EQ(top, 0);
  EXPECT_EQ(p->height, 100);
  FreeTPicture(p);
}

TEST_F(PictureTest, SwapDirectoryKeepsThePool) {
  TPicture* p = AllocTPicture(40, 100);
  span(p, 35, 70, 75);  // tile (1, 2)
  TileEntry* old = SwapTPictureDirectory(p, 100, 40);
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(p->tileRows, 4);
  EXPECT_EQ(p->tilesAcross, 2);
  tileRowEntries(p, 2)[1] = old[1 * 4 + 2];  // a transpose of the directory, moved by the caller
  rioFree(old);
  EXPECT_EQ(TPictureTileCount(p), 1);
  EXPECT_TRUE(rastPixelIsBlack(p, 67, 38));  // the tile itself is not transposed
  rioFailAllocationAfter(0);
  EXPECT_EQ(SwapTPictureDirectory(p, 10, 10), nullptr);
  EXPECT_EQ(p->height, 100);
  FreeTPicture(p);
}

// ---------------------------------------------------------------------------------------------------------
// Undo protection.

TEST_F(PictureTest, ProtectClearToggleInquireRoundTrip) {
  TPicturePtr p(AllocTPicture(64, 96));
  block(p.get(), 0, 32, 0, 32);
  PackBlackTPicture(p.get());  // tile 0: black entry
  span(p.get(), 40, 40, 50);   // tile 4: a real tile
  auto original = allRows(p.get());
  ASSERT_TRUE(rastUndoProtectImage(p.get()));
  EXPECT_TRUE(TPictureIsProtected(p.get()));
  ASSERT_TRUE(rastUndoProtectImage(p.get()));  // again: the list exists
  ASSERT_TRUE(rastClearImage(p.get()));
  EXPECT_EQ(p->undoCount, 2);
  for (int32_t i = 0; i < p->tileCount; ++i) {
    EXPECT_EQ(p->directory[i], (i == 0 || i == 4) ? kWhiteMarked : kWhiteEntry) << i;
  }
  EXPECT_TRUE(rastImageIsAllWhite(p.get()));
  EXPECT_EQ(TPictureTileCount(p.get()), 1) << "the saved tile is kept by the list";

  TPicturePtr diff(rastAllocRegisterImage(p.get()));
  ASSERT_TRUE(rastUndoInquireImage(p.get(), diff.get()));
  EXPECT_EQ(allRows(diff.get()), original);
  EXPECT_EQ(diff->directory[0], kBlackEntry);

  ASSERT_TRUE(rastUndoToggleImage(p.get()));  // undo
  EXPECT_EQ(allRows(p.get()), original);
  EXPECT_EQ(p->directory[0], kBlackMarked);
  ASSERT_TRUE(rastUndoToggleImage(p.get()));  // redo
  EXPECT_TRUE(rastImageIsAllWhite(p.get()));
  ASSERT_TRUE(rastUndoToggleImage(p.get()));
  ASSERT_TRUE(rastUndoResetImage(p.get()));  // commit the undone state
  EXPECT_EQ(p->undoCount, 0);
  EXPECT_EQ(p->directory[0], kBlackEntry);
  EXPECT_FALSE(entryMarked(p->directory[4]));
  EXPECT_EQ(allRows(p.get()), original);

  ASSERT_TRUE(rastUndoDisableImage(p.get()));
  EXPECT_FALSE(TPictureIsProtected(p.get()));
  ASSERT_TRUE(rastClearImage(p.get()));  // not recorded
  EXPECT_EQ(p->undoCount, 0);
  EXPECT_EQ(TPictureTileCount(p.get()), 0);
  ASSERT_TRUE(rastUndoEnableImage(p.get()));
  EXPECT_TRUE(TPictureIsProtected(p.get()));
  ASSERT_TRUE(rastUndoAbandonImage(p.get()));
  EXPECT_EQ(p->undoList, nullptr);
  EXPECT_FALSE(rastUndoEnableImage(p.get()));
}

TEST_F(PictureTest, ResetReleasesSavedTilesAndAbandonOnFree) {
  TPicture* p = AllocTPicture(64, 64);
  block(p, 0, 64, 0, 64, 1);
  ASSERT_TRUE(UndoProtectTPicture(p));
  ClearTPicture(p);
  span(p, 3, 0, 5);  // a change after the clear: a tile under the marked entry
  EXPECT_TRUE(entryMarked(p->directory[0]));
  ClearTPicture(p);  // not recorded twice
  EXPECT_EQ(p->undoCount, 4);
  EXPECT_EQ(TPictureTileCount(p), 4);
  UndoResetTPicture(p);
  EXPECT_EQ(TPictureTileCount(p), 0);
  for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(p->directory[i], kWhiteEntry);
  block(p, 0, 10, 0, 64);
  ClearTPicture(p);
  FreeTPicture(p);  // abandons the list with its saved tiles; the fixture checks the bytes
}

enum class Kind { kWhite, kBlack, kTileA, kTileB };

struct InquireCase {
  const char* name;
  Kind saved;
  Kind current;
  bool reservedBlack;  // the difference is a black entry
  bool reservedWhite;
};

void PrintTo(const InquireCase& c, std::ostream* os) {
  *os << c.name;
}

using PictureInquire = PictureTestP<InquireCase>;

// Writes a kind into tile (0, 0) of a 32 x 32 picture.
void makeKind(TPicture* p, Kind k) {
  switch (k) {
    case Kind::kWhite:
      block(p, 0, 32, 0, 32, 0);
      PackWhiteTPicture(p);
      break;
    case Kind::kBlack:
      block(p, 0, 32, 0, 32, 1);
      PackBlackTPicture(p);
      break;
    case Kind::kTileA:
      block(p, 0, 32, 0, 32, 0);
      block(p, 2, 20, 3, 9);
      break;
    case Kind::kTileB:
      block(p, 0, 32, 0, 32, 0);
      block(p, 10, 30, 5, 25);
      break;
  }
}

TEST_P(PictureInquire, DifferenceOfPresentAndBefore) {
  const InquireCase& c = GetParam();
  TPicturePtr before(AllocTPicture(32, 32));
  makeKind(before.get(), c.saved);
  TPicturePtr after(AllocTPicture(32, 32));
  makeKind(after.get(), c.current);

  TPicturePtr p(AllocTPicture(32, 32));
  makeKind(p.get(), c.saved);
  ASSERT_TRUE(UndoProtectTPicture(p.get()));
  ClearTPicture(p.get());
  makeKind(p.get(), c.current);
  TPicturePtr diff(AllocTPicture(32, 32));
  span(diff.get(), 0, 0, 3);  // stale content is replaced
  ASSERT_TRUE(UndoInquireTPicture(p.get(), diff.get()));
  for (int32_t r = 0; r < 32; ++r) {
    for (int32_t col = 0; col < 32; ++col) {
      bool expect = rastPixelIsBlack(before.get(), r, col) != rastPixelIsBlack(after.get(), r, col);
      ASSERT_EQ(rastPixelIsBlack(diff.get(), r, col), expect) << r << "," << col;
    }
  }
  EXPECT_EQ(diff->directory[0] == kBlackEntry, c.reservedBlack);
  EXPECT_EQ(diff->directory[0] == kWhiteEntry, c.reservedWhite);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PictureInquire,
    ::testing::Values(InquireCase{"BlackToWhite", Kind::kBlack, Kind::kWhite, true, false},
                      InquireCase{"BlackToBlack", Kind::kBlack, Kind::kBlack, false, true},
                      InquireCase{"BlackToTile", Kind::kBlack, Kind::kTileA, false, false},
                      InquireCase{"TileToWhite", Kind::kTileA, Kind::kWhite, false, false},
                      InquireCase{"TileToBlack", Kind::kTileA, Kind::kBlack, false, false},
                      InquireCase{"TileToTile", Kind::kTileA, Kind::kTileB, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PictureTest, InquireRefusesMismatchedOrProtectedTargets) {
  TPicturePtr p(AllocTPicture(32, 32));
  TPicturePtr small(AllocTPicture(31, 32));
  ASSERT_TRUE(UndoProtectTPicture(p.get()));
  EXPECT_FALSE(UndoInquireTPicture(p.get(), small.get()));
  EXPECT_EQ(rastGetLastError(), kRastBadSize);
  TPicturePtr guarded(AllocTPicture(32, 32));
  ASSERT_TRUE(UndoProtectTPicture(guarded.get()));
  EXPECT_FALSE(UndoInquireTPicture(p.get(), guarded.get()));
  EXPECT_EQ(rastGetLastError(), kRastProtected);
}

TEST_F(PictureTest, InquireOfAnEdgeTileKeepsPaddingWhite) {
  TPicturePtr p(AllocTPicture(40, 40));
  p->directory[3] = kBlackEntry;  // a black edge entry, as a whole-tile move may leave one
  ASSERT_TRUE(UndoProtectTPicture(p.get()));
  ClearTPicture(p.get());
  span(p.get(), 33, 35, 36);  // now: one black pixel; before: black, so the difference is its inverse
  TPicturePtr diff(AllocTPicture(40, 40));
  ASSERT_TRUE(UndoInquireTPicture(p.get(), diff.get()));
  ASSERT_TRUE(entryIsTile(diff->directory[3]));
  const uint32_t* w = tileWords(diff.get(), diff->directory[3]);
  for (int r = 0; r < 32; ++r) {
    uint32_t area = r < 8 ? maskBefore(8) : 0u;
    if (r == 1) area &= ~maskSpan(3, 4);
    EXPECT_EQ(w[r], area) << r;
  }
}

}  // namespace
}  // namespace vantrel
