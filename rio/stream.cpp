#include "rio/stream.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "rio/alloc.h"
#include "rio/status.h"

namespace vantrel {
namespace {

constexpr int32_t kModeRead = 0;
constexpr int32_t kModeWrite = 1;
constexpr char kSpoolPattern[] = "/vantrel-XXXXXX";
constexpr char kDefaultTempDir[] = "/tmp";
// Bounds on read windows: tiled readers use a few hundred at most, each far below these.
constexpr int32_t kMaxWindows = 65536;
constexpr int64_t kMaxWindowBlock = int64_t{1} << 30;

size_t fileWrite(const void* data, size_t size, size_t count, void* ctx) {
  if (!ctx) return 0;
  return std::fwrite(data, size, count, static_cast<std::FILE*>(ctx));
}

// The file the stream reads or positions: the spool once spooling, else its own file.
std::FILE* dataFile(const RasterStream* s) { return s->spooling ? s->spoolFile : s->file; }

bool seekFile(std::FILE* f, int64_t position) {
  return f && position >= 0 && fseeko(f, static_cast<off_t>(position), SEEK_SET) == 0;
}

// An empty buffer claims no data: cur and end both at base.
void emptyBuffer(RasterStream* s) { s->cur = s->end = s->base; }

// Sends the buffered bytes (base..cur) to the spool file or the sink; returns the bytes accepted. Nothing
// buffered means no call at all.
int64_t sinkWrite(RasterStream* s) {
  const size_t n = static_cast<size_t>(s->cur - s->base);
  if (n == 0) return 0;
  size_t written;
  if (s->spooling) {
    written = s->spoolFile ? std::fwrite(s->base, 1, n, s->spoolFile) : 0;
  } else {
    written = s->writeFn(s->base, 1, n, s->writeCtx);
    s->writeFnUsed = true;
  }
  return static_cast<int64_t>(written < n ? written : n);
}

// Sink write of the buffer with its bookkeeping: offset advances, the buffer empties, a short write clears
// ok for good. Once ok is cleared the sink is never called again: the buffered bytes are dropped. Returns
// the bytes that went out (*complete: all of them).
int64_t flushBuffer(RasterStream* s, bool* complete = nullptr) {
  const int64_t n = s->cur - s->base;
  const int64_t written = s->ok ? sinkWrite(s) : 0;
  s->offset += written;
  s->cur = s->base;
  if (written < n) s->ok = false;
  if (complete) *complete = written == n;
  return written;
}

// After a complete flush (the buffer is empty): a stream writing its own file that has sent enough takes
// the large buffer. When it cannot be had the small one stays.
void growWriteBuffer(RasterStream* s) {
  if (s->offset < kStreamGrowAfter || s->end - s->base >= kStreamLargeBuffer || s->spooling || s->windows ||
      s->writeFn != fileWrite || s->writeCtx != s->file || s->base != s->block || s->cur != s->base)
    return;
  auto* large = static_cast<uint8_t*>(rioMalloc(kStreamLargeBuffer));
  if (!large) return;
  rioFree(s->block);
  s->block = s->base = s->cur = large;
  s->end = large + kStreamLargeBuffer;
}

void dropSpool(RasterStream* s) {
  if (s->spoolFile) std::fclose(s->spoolFile);
  s->spoolFile = nullptr;
  s->spoolName[0] = '\0';
  s->spooling = false;
}

// Creates the spool file in the settings' folder (else /tmp), without a name: unnamed from the start where
// the system offers that, else unlinked right after it is made. Returns false when it cannot be made.
bool createSpool(RasterStream* s) {
  const bool given = s->settings && !s->settings->tempDir.empty();
  const char* dir = given ? s->settings->tempDir.c_str() : kDefaultTempDir;
  const size_t dirLength = std::strlen(dir);
  if (dirLength + sizeof kSpoolPattern > sizeof s->spoolName) return false;
  std::memcpy(s->spoolName, dir, dirLength);
  std::memcpy(s->spoolName + dirLength, kSpoolPattern, sizeof kSpoolPattern);
  int fd = -1;
#ifdef O_TMPFILE
  fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
  if (fd < 0) {
    fd = mkstemp(s->spoolName);
    if (fd >= 0) unlink(s->spoolName);
  }
  if (fd >= 0) s->spoolFile = fdopen(fd, "w+b");
  if (!s->spoolFile) {
    if (fd >= 0) close(fd);
    s->spoolName[0] = '\0';
    return false;
  }
  return true;
}

// Whether the file itself can be positioned. Asks the descriptor where there is one, so a refused seek on a
// pipe leaves the stdio buffer alone.
bool fileSeekable(std::FILE* f) {
  if (!f) return false;
  const int fd = fileno(f);
  if (fd >= 0) return lseek(fd, 0, SEEK_CUR) >= 0;
  return fseeko(f, 0, SEEK_CUR) == 0;
}

int32_t spoolInput(RasterStream* s) {
  const int64_t held = s->end - s->base;
  const int64_t position = streamTell(s);
  if (!createSpool(s)) return kStreamSpoolOpen;
  bool good = std::fwrite(s->base, 1, static_cast<size_t>(held), s->spoolFile) == static_cast<size_t>(held);
  // The buffer's bytes are in the spool now, so the buffer serves as the copy block.
  const size_t block = static_cast<size_t>(s->windowSize);
  while (good && s->file) {
    const size_t got = std::fread(s->base, 1, block, s->file);
    if (got == 0) break;
    s->taken += static_cast<int64_t>(got);
    good = std::fwrite(s->base, 1, got, s->spoolFile) == got;
  }
  if (good && s->file && std::ferror(s->file)) good = false;  // an incomplete copy is no copy
  if (good) good = std::fflush(s->spoolFile) == 0;
  if (good) {
    s->spooling = true;
    good = seekFile(s->spoolFile, 0);
  }
  if (good) {
    s->offset = 0;
    s->fillOffset = 0;
    good = streamFill(s) >= held;
  }
  if (!good) {
    dropSpool(s);
    emptyBuffer(s);
    return kStreamSpoolCopy;
  }
  // The buffer again starts at position 0, so the read position carries over.
  s->cur = s->base + position;
  s->seekable = true;
  return 0;
}

}  // namespace

RasterStream* streamOpen(std::FILE* file, const char* modeText, const RioSettings* settings) {
  RasterStream* s = rioNew<RasterStream>();
  if (!s) return nullptr;
  s->block = static_cast<uint8_t*>(rioMalloc(kStreamBufferSize));
  if (!s->block) {
    rioDelete(s);
    return nullptr;
  }
  s->file = file;
  s->settings = settings;
  s->base = s->block;
  s->mode = modeText && modeText[0] == 'r' ? kModeRead : kModeWrite;
  if (s->mode == kModeRead) {
    emptyBuffer(s);
  } else {
    s->cur = s->base;
    s->end = s->base + kStreamBufferSize;
    s->writeFn = fileWrite;
    s->writeCtx = file;
  }
  return s;
}

int32_t streamFill(RasterStream* s) {
  if (!s || s->mode != kModeRead) return 0;
  emptyBuffer(s);
  std::FILE* f = dataFile(s);
  if (!f || s->offset < 0) return 0;
  if (s->offset != s->fillOffset) {
    if (!seekFile(f, s->offset)) {
      s->fillOffset = -1;  // position unknown: the next fill seeks again
      return 0;
    }
    s->fillOffset = s->offset;
  }
  const size_t got = std::fread(s->base, 1, static_cast<size_t>(s->windowSize), f);
  if (!s->spooling) s->taken += static_cast<int64_t>(got);
  s->end = s->base + got;
  s->offset += static_cast<int64_t>(got);
  s->fillOffset = s->offset;
  return static_cast<int32_t>(got);
}

int32_t streamRead(RasterStream* s, void* dest, int32_t n) {
  if (!s || s->mode != kModeRead || !dest || n <= 0) return 0;
  auto* out = static_cast<uint8_t*>(dest);
  int32_t done = 0;
  while (done < n) {
    if (s->cur >= s->end && streamFill(s) <= 0) break;
    const int64_t avail = s->end - s->cur;
    const int32_t chunk = static_cast<int32_t>(avail < n - done ? avail : n - done);
    std::memcpy(out + done, s->cur, static_cast<size_t>(chunk));
    s->cur += chunk;
    done += chunk;
  }
  return done;
}

int32_t streamWrite(RasterStream* s, const void* src, int32_t n) {
  // After the first lost block the stream takes nothing more: writers stop at once.
  if (!s || s->mode != kModeWrite || !src || n <= 0 || !s->ok) return 0;
  const auto* in = static_cast<const uint8_t*>(src);
  int32_t done = 0;
  while (done < n) {
    const int64_t space = s->end - s->cur;
    const int32_t chunk = static_cast<int32_t>(space < n - done ? space : n - done);
    std::memcpy(s->cur, in + done, static_cast<size_t>(chunk));
    s->cur += chunk;
    done += chunk;
    if (s->cur == s->end) {
      const int64_t buffered = s->end - s->base;
      bool complete = false;
      const int64_t written = flushBuffer(s, &complete);
      if (!complete) {
        // The buffer held buffered - chunk bytes from before this chunk: count only this call's bytes
        // that reached the sink, so the answer is below n.
        const int64_t reached = written - (buffered - chunk);
        return done - chunk + static_cast<int32_t>(reached > 0 ? reached : 0);
      }
      growWriteBuffer(s);
    }
  }
  return done;
}

int64_t streamTell(const RasterStream* s) {
  if (!s) return 0;
  if (s->mode == kModeRead) return s->offset - (s->end - s->cur);
  return s->offset + (s->cur - s->base);
}

int32_t streamSeek(RasterStream* s, int64_t position) {
  if (!s || !s->seekable) return kStreamNotSeekable;
  if (position < 0) return kStreamSeekFailed;
  if (s->mode == kModeRead) {
    const int64_t first = s->offset - (s->end - s->base);
    if (s->end > s->base && position >= first && position < s->offset) {
      s->cur = s->base + (position - first);
      return 0;
    }
    // The file already stands there when the last fill left it at that position.
    if (position != s->fillOffset) {
      if (!seekFile(dataFile(s), position)) return kStreamSeekFailed;
      s->fillOffset = position;
    }
    s->offset = position;
    emptyBuffer(s);
    return 0;
  }
  bool flushed = false;
  (void)flushBuffer(s, &flushed);
  if (!s->ok) return kStreamFlushFailed;  // a block lost earlier: the output is incomplete for good
  if (!seekFile(dataFile(s), position)) return flushed ? kStreamSeekFailed : kStreamFlushFailed;
  s->offset = position;
  return flushed ? 0 : kStreamFlushFailed;
}

bool streamFileSize(RasterStream* s, int64_t* size) {
  std::FILE* f = s->spooling ? s->spoolFile : s->file;
  if (!f || fseeko(f, 0, SEEK_END) != 0) return false;
  const off_t end = ftello(f);
  s->fillOffset = -1;  // the file has moved: the next fill seeks again
  if (end < 0) return false;
  *size = end;
  return true;
}

int32_t streamMakeSeekable(RasterStream* s) {
  if (!s) return kStreamNotSeekable;
  if (s->seekable) return 0;
  // A write stream is positioned through its file only while the sink is that file.
  const bool sinkIsFile = s->mode == kModeRead || (s->writeFn == fileWrite && s->writeCtx == s->file);
  if (sinkIsFile && fileSeekable(s->file)) {
    s->seekable = true;
    return 0;
  }
  if (s->mode == kModeRead) {
    // Spooling can only recover what the buffer still holds: the input from its first byte on.
    const bool allBuffered = s->taken == s->offset && s->offset - (s->end - s->base) == 0;
    if (s->taken > kStreamBufferSize || !allBuffered) return kStreamSpoolTooLate;
    return spoolInput(s);
  }
  // Bytes already sent to the sink cannot be taken back into a spool.
  if (s->writeFnUsed || s->offset > 0) return kStreamSpoolTooLate;
  if (!createSpool(s)) return kStreamSpoolOpen;
  s->spooling = true;
  s->seekable = true;
  return 0;
}

void streamReverseBits(RasterStream* s) {
  if (!s) return;
  for (uint8_t* p = s->cur; p < s->end; ++p) {
    if (!s->reverseAll) {
      if (s->reverseCount <= 0) break;
      --s->reverseCount;
    }
    *p = kBitReverse[*p];
  }
}

void streamSetReverseLimit(RasterStream* s, int32_t n) {
  if (!s) return;
  s->reverseAll = false;
  s->reverseCount = n > 0 ? n : 0;
}

int32_t streamSetWriteCallback(RasterStream* s, StreamWriteFn fn, void* ctx) {
  if (!s || !fn || s->mode != kModeWrite || s->writeFnUsed) return 0;
  s->writeFn = fn;
  s->writeCtx = ctx;
  return 1;
}

int32_t streamSetWindows(RasterStream* s, int32_t count, int32_t minSize) {
  if (!s || s->mode != kModeRead || s->windowCount != 0 || count < 1 || count > kMaxWindows) return 0;
  int64_t size = s->windowSize / count;
  bool newBlock = false;
  if (size < minSize || size < 1) {
    const int64_t wanted = minSize > 1 ? minSize : 1;
    size = (wanted + 3) & ~int64_t{3};
    newBlock = true;
  }
  int64_t total;
  if (size > INT32_MAX || !checkedMul(count, size, &total) || total > kMaxWindowBlock) return 0;
  auto* table = static_cast<StreamWindow*>(rioCalloc(static_cast<size_t>(count), sizeof(StreamWindow)));
  if (!table) return 0;
  uint8_t* block = s->block;
  if (newBlock) {
    block = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(total)));
    if (!block) {
      rioFree(table);
      return 0;
    }
    rioFree(s->block);
    s->block = block;
  }
  for (int32_t i = 0; i < count; ++i) {
    uint8_t* base = block + static_cast<int64_t>(i) * size;
    new (&table[i]) StreamWindow{0, base, base, base};
  }
  s->windows = table;
  s->windowCount = count;
  s->windowSize = static_cast<int32_t>(size);
  s->window = 0;
  s->base = table[0].base;
  emptyBuffer(s);
  s->offset = 0;
  return 1;
}

int32_t streamSelectWindow(RasterStream* s, int32_t i) {
  if (!s || i < 0 || i >= s->windowCount) return 0;
  s->windows[s->window] = StreamWindow{s->offset, s->base, s->cur, s->end};
  const StreamWindow& w = s->windows[i];
  s->offset = w.offset;
  s->base = w.base;
  s->cur = w.cur;
  s->end = w.end;
  s->window = i;
  return 1;
}

int32_t streamSetWindowOffset(RasterStream* s, int32_t i, int64_t position) {
  if (!s || i < 0 || i >= s->windowCount) return 0;
  StreamWindow& w = s->windows[i];
  w.offset = position;
  w.cur = w.end = w.base;
  if (i == s->window) {
    s->offset = position;
    emptyBuffer(s);
  }
  return 1;
}

void streamDropWindows(RasterStream* s) {
  if (!s || s->windowCount == 0) return;
  const int64_t position = streamTell(s);
  rioFree(s->windows);
  s->windows = nullptr;
  s->windowCount = 0;
  s->window = 0;
  s->windowSize = kStreamBufferSize;
  s->base = s->block;
  s->offset = position;
  emptyBuffer(s);
}

bool streamFlush(RasterStream* s) {
  if (!s || s->mode != kModeWrite) return false;
  (void)flushBuffer(s);
  return s->ok;
}

int32_t streamClose(RasterStream* s) {
  if (!s) return 0;
  if (s->mode == kModeWrite) {
    (void)flushBuffer(s);
    if (s->spooling) {
      // The spool holds the whole output: pass it to the sink in whole blocks from its first byte.
      std::FILE* spool = s->spoolFile;
      s->spooling = false;
      if (!spool || std::fflush(spool) != 0 || !seekFile(spool, 0)) {
        s->ok = false;
      } else {
        while (s->ok) {
          const size_t got = std::fread(s->block, 1, kStreamBufferSize, spool);
          if (got == 0) break;
          const size_t sent = s->writeFn(s->block, 1, got, s->writeCtx);
          s->writeFnUsed = true;
          if (sent < got) s->ok = false;
        }
        if (std::ferror(spool)) s->ok = false;
      }
    }
  }
  dropSpool(s);
  const int32_t ok = s->ok ? 1 : 0;
  rioFree(s->windows);
  rioFree(s->block);
  rioDelete(s);
  return ok;
}

}  // namespace vantrel
