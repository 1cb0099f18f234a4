// The input side of a run: a reading RCB, or, with a rotation, the whole page read into a picture and
// served turned line by line through a bare RCB (a quarter turn a tile column at a time, a half turn
// after mirroring the picture). Either way the copy loop asks for the next line and finds it in
// rcb()->curSline.
#pragma once

#include <cstdio>

#include "picture/tpicture.h"
#include "picture/turned_rows.h"
#include "rio/rcb.h"
#include "rio/settings.h"
#include "rio/stream.h"
#include "run/watch.h"

namespace vantrel {

// The memory a turned page's picture may take (directory, tile pool and the room the turn itself needs)
// unless the front end gives another budget.
inline constexpr int64_t kDefaultPictureBudget = int64_t{2} << 30;

// A page past the input's last one was asked for.
inline constexpr RioStatus kRunNoSuchPage = -101;

class RunInput {
 public:
  // A reader on the stream; the format 0 is recognised.
  [[nodiscard]] RioStatus openReader(RasterStream* stream, RasterFormatId format);
  // The file imported whole, turned counter-clockwise by `degrees`, served row by row. `dpi` (when above
  // 0) replaces the picture's resolutions. *formatRead receives the format the import recognised. The
  // turned page must be a page the line buffers hold, and its picture must stay within `budget` bytes
  // (0: the default): both are checked when the header is read, before a line is imported.
  // `page` (from 0) is the page of the document imported; kRunNoSuchPage when it has fewer pages.
  [[nodiscard]] RioStatus openTurned(std::FILE* file, RasterFormatId format, int32_t degrees, double dpi,
                                     const RioSettings* settings, RasterFormatId* formatRead,
                                     int64_t budget = 0, int32_t page = 0);

  // The pages of the input document (1 for a one-page format), and the move to page `index` (from 0): the
  // reader's next page, or, turning, that page imported and turned as the first was.
  [[nodiscard]] RioStatus countPages(int32_t* count);
  [[nodiscard]] RioStatus readPage(int32_t index);

  RCB* rcb() const { return rcb_.get(); }
  // The next line into rcb()->curSline; false when none is left (the RCB's status says why).
  [[nodiscard]] bool next();
  // No error, or the end of the page after every line of the height.
  bool endedWell() const;
  // Rows read are counted into the watch, which may stop the run (the RCB's status then says so); none:
  // unwatched.
  void watch(RunWatch* watch);
  // Closes the RCB (the reader's close); the picture stays until the run ends.
  void closeReader() {
    if (rcb_) readFailed_ = !endedWell();
    rcb_.reset();
  }
  // Whether the reader had failed when it was closed (the input, not the output, is the run's cause).
  bool readFailed() const { return readFailed_; }

 private:
  // The picture of the turned source's current page, turned, behind a bare RCB.
  [[nodiscard]] RioStatus turnPage();

  RcbPtr rcb_;
  TPicturePtr picture_;
  TurnedRows turnedRows_;  // a quarter turn's rows, over picture_
  bool turning_ = false;
  bool readFailed_ = false;
  RunWatch* watch_ = nullptr;
  int32_t pages_ = 0;  // counted by the turned source
  // Turning: the document's reader, kept for the pages after the first (the stream outlives the RCB), and
  // how each page is turned.
  StreamPtr sourceStream_;
  RcbPtr source_;
  struct Turn {
    int32_t degrees = 0;
    double dpi = 0;
    int64_t budget = 0;
  } turned_;
};

}  // namespace vantrel
