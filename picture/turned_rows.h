// The rows of a picture turned by a quarter, served one at a time without turning the picture as a whole.
// When the rows reach a tile column of the picture, the column's tiles that are not white are turned into
// a band of 32 rows (a word per tile), in the order the rows take them; each row then reads its words
// one after another. No second directory, no pass over the page besides the one that serves it, white
// tiles never looked at again, and the padding of the last tile row masked off when the band is made.
#pragma once

#include <cstdint>

#include "picture/tpicture.h"

namespace vantrel {

class TurnedRows {
 public:
  TurnedRows() = default;
  TurnedRows(const TurnedRows&) = delete;
  TurnedRows& operator=(const TurnedRows&) = delete;
  ~TurnedRows();

  // Serves `picture` turned clockwise or counter-clockwise; the picture must outlive this and stay
  // unchanged. False when memory runs out (the band: 136 bytes per tile row).
  [[nodiscard]] bool open(const TPicture* picture, bool clockwise);
  int32_t width() const { return picture_ ? picture_->height : 0; }
  int32_t height() const { return picture_ ? picture_->width : 0; }
  // Row y (0 <= y < height(), in increasing order) as a run list, terminated; the count of runs.
  int32_t row(int32_t y, int32_t* runs);

 private:
  void load(int32_t tileColumn);

  const TPicture* picture_ = nullptr;
  bool clockwise_ = false;
  uint32_t* band_ = nullptr;  // row r of the loaded tile column: words [r * count_, (r + 1) * count_)
  int32_t* bases_ = nullptr;  // the turned column of each word's pixel 0
  int32_t count_ = 0;         // words a row of the band holds
  int32_t loaded_ = -1;
};

}  // namespace vantrel
