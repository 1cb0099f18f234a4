// Raster stream: buffered reads and writes, seeking, spooling of pipes and sinks, read windows, bit reversal.
#include "rio/stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "rio/alloc.h"
#include "rio/status.h"
#include "tests/support/scratch_dir.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Bytes that do not repeat with any small period, so a misplaced block shows.
Bytes pattern(size_t n, uint32_t seed = 1) {
  Bytes b(n);
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b[i] = static_cast<uint8_t>(x >> 24);
  }
  return b;
}

Bytes slice(const Bytes& b, size_t from, size_t n) {
  from = std::min(from, b.size());
  n = std::min(n, b.size() - from);
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

Bytes readN(RasterStream* s, int32_t n) {
  Bytes b(static_cast<size_t>(n));
  const int32_t got = streamRead(s, b.data(), n);
  b.resize(static_cast<size_t>(std::max(got, 0)));
  return b;
}

// A scratch folder whose "spool" folder the streams' settings name for spool files, so they can be watched.
class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    dir_ = scratch_.path();
    spoolDir_ = dir_ / "spool";
    fs::create_directory(spoolDir_);
    settings_.tempDir = spoolDir_.string();
    inUse_ = rioBytesInUse();
  }
  void TearDown() override {
    EXPECT_EQ(rioBytesInUse(), inUse_) << "stream memory not released";
  }

  std::string path(const char* name) const { return (dir_ / name).string(); }

  std::FILE* fileWith(const Bytes& data) {
    const std::string p = path("input.bin");
    std::FILE* f = std::fopen(p.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (!data.empty()) { EXPECT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size()); }
    std::fclose(f);
    f = std::fopen(p.c_str(), "rb");
    EXPECT_NE(f, nullptr);
    return f;
  }

  static Bytes readFile(const std::string& p) {
    Bytes b;
    std::FILE* f = std::fopen(p.c_str(), "rb");
    if (!f) return b;
    uint8_t buf[4096];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + got);
    std::fclose(f);
    return b;
  }

  size_t spoolFiles() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(spoolDir_), fs::directory_iterator()));
  }

  testsupport::ScratchDir scratch_{"vantrel-stream"};
  fs::path dir_;
  fs::path spoolDir_;
  RioSettings settings_;
  int64_t inUse_ = 0;
};

// A pipe whose far end a thread writes (input) or drains (output).
struct InputPipe {
  explicit InputPipe(Bytes data) : data_(std::move(data)) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    file = fdopen(fds[0], "rb");
    writer_ = std::thread([fd = fds[1], this] {
      size_t done = 0;
      while (done < data_.size()) {
        const ssize_t n = write(fd, data_.data() + done, data_.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      close(fd);
    });
  }
  ~InputPipe() {
    // Drain whatever the test left so the writer ends, then join.
    uint8_t buf[4096];
    while (file && std::fread(buf, 1, sizeof buf, file) > 0) {
    }
    writer_.join();
    if (file) std::fclose(file);
  }
  std::FILE* file = nullptr;

 private:
  Bytes data_;
  std::thread writer_;
};

struct OutputPipe {
  OutputPipe() {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    file = fdopen(fds[1], "wb");
    reader_ = std::thread([fd = fds[0], this] {
      uint8_t buf[4096];
      ssize_t n;
      while ((n = read(fd, buf, sizeof buf)) > 0) received.insert(received.end(), buf, buf + n);
      close(fd);
    });
  }
  // Closes the writing end and waits for everything to arrive.
  Bytes finish() {
    std::fclose(file);
    file = nullptr;
    reader_.join();
    return received;
  }
  ~OutputPipe() {
    if (file) finish();
  }
  std::FILE* file = nullptr;
  Bytes received;

 private:
  std::thread reader_;
};

// A FILE over memory that counts the calls reaching it, to prove when a stream leaves its file alone.
struct CountingFile {
  explicit CountingFile(Bytes d) : data(std::move(d)) {
    cookie_io_functions_t io{};
    io.read = [](void* c, char* buf, size_t n) -> ssize_t {
      auto* self = static_cast<CountingFile*>(c);
      ++self->reads;
      const size_t left = self->data.size() - std::min(self->data.size(), self->pos);
      n = std::min(n, left);
      std::memcpy(buf, self->data.data() + self->pos, n);
      self->pos += n;
      return static_cast<ssize_t>(n);
    };
    io.seek = [](void* c, off64_t* where, int whence) -> int {
      auto* self = static_cast<CountingFile*>(c);
      ++self->seeks;
      const int64_t from = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<int64_t>(self->pos)
                                                                        : static_cast<int64_t>(self->data.size());
      if (from + *where < 0) return -1;
      self->pos = static_cast<size_t>(from + *where);
      *where = static_cast<off64_t>(self->pos);
      return 0;
    };
    file = fopencookie(this, "rb", io);
  }
  ~CountingFile() { std::fclose(file); }
  int calls() const { return reads + seeks; }

  Bytes data;
  size_t pos = 0;
  int reads = 0;
  int seeks = 0;
  std::FILE* file = nullptr;
};

// A write sink that records what it took; limits[i] caps call i (missing entries: take all).
struct RecordingSink {
  Bytes data;
  std::vector<size_t> calls;
  std::vector<size_t> limits;
  size_t defaultLimit = SIZE_MAX;

  static size_t write(const void* p, size_t size, size_t count, void* ctx) {
    auto* self = static_cast<RecordingSink*>(ctx);
    const size_t n = size * count;
    const size_t call = self->calls.size();
    const size_t take = std::min(n, call < self->limits.size() ? self->limits[call] : self->defaultLimit);
    self->calls.push_back(n);
    const auto* b = static_cast<const uint8_t*>(p);
    self->data.insert(self->data.end(), b, b + take);
    return take / size;
  }
};

RasterStream* sinkStream(RecordingSink* sink, const RioSettings* settings = nullptr) {
  RasterStream* s = streamOpen(nullptr, "w", settings);
  if (s) { EXPECT_EQ(streamSetWriteCallback(s, RecordingSink::write, sink), 1); }
  return s;
}

// --- open and plain reading ---

TEST_F(StreamTest, OpenFailsCleanlyWhenMemoryRunsOut) {
  for (int64_t n : {0, 1}) {
    rioFailAllocationAfter(n);
    EXPECT_EQ(streamOpen(nullptr, "r", &settings_), nullptr);
    rioFailAllocationAfter(-1);
  }
}

TEST_F(StreamTest, OpenStatesByMode) {
  RasterStream* r = streamOpen(nullptr, "rb", &settings_);
  RasterStream* w = streamOpen(nullptr, "wb", &settings_);
  ASSERT_TRUE(r && w);
  EXPECT_EQ(r->mode, 0);
  EXPECT_EQ(w->mode, 1);
  EXPECT_EQ(r->cur, r->end);  // empty
  EXPECT_EQ(w->end - w->base, kStreamBufferSize);
  EXPECT_EQ(streamTell(r), 0);
  EXPECT_EQ(streamTell(w), 0);
  EXPECT_TRUE(r->ok && r->reverseAll && !r->seekable && !r->spooling);
  EXPECT_EQ(streamClose(r), 1);
  EXPECT_EQ(streamClose(w), 1);
}

struct ReadCase {
  size_t fileSize;
  int32_t request;
  int32_t expected;
};

class StreamReadTest : public StreamTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(StreamReadTest, DeliversWhatTheFileHolds) {
  const ReadCase c = GetParam();
  const Bytes data = pattern(c.fileSize);
  std::FILE* f = fileWith(data);
  RasterStream* s = streamOpen(f, "r", &settings_);
  ASSERT_NE(s, nullptr);
  const Bytes got = readN(s, c.request);
  EXPECT_EQ(static_cast<int32_t>(got.size()), c.expected);
  EXPECT_EQ(got, slice(data, 0, static_cast<size_t>(c.expected)));
  EXPECT_EQ(streamTell(s), c.expected);
  EXPECT_EQ(readN(s, 10).size(), std::min<size_t>(10, c.fileSize - static_cast<size_t>(c.expected)));
  EXPECT_EQ(streamClose(s), 1);
  std::fclose(f);
}

INSTANTIATE_TEST_SUITE_P(Sizes, StreamReadTest,
                         ::testing::Values(ReadCase{0, 5, 0}, ReadCase{3, 5, 3}, ReadCase{16384, 16384, 16384},
                                           ReadCase{16385, 20000, 16385}, ReadCase{50000, 40000, 40000},
                                           ReadCase{100, 0, 0}));

TEST_F(StreamTest, GetByteWalksAcrossFills) {
  const Bytes data = pattern(40000);
  std::FILE* f = fileWith(data);
  RasterStream* s = streamOpen(f, "r", &settings_);
  Bytes got;
  for (int b; (b = streamGetByte(s)) >= 0;) got.push_back(static_cast<uint8_t>(b));
  EXPECT_EQ(got, data);
  EXPECT_EQ(streamClose(s), 1);
  std::fclose(f);
}

// --- seeking a read stream ---

struct SeekCase {
  int64_t position;
  bool insideBuffer;  // inside [0, 16384) after the first fill
};

class StreamSeekTest : public StreamTest, public ::testing::WithParamInterface<SeekCase> {};

TEST_P(StreamSeekTest, LandsExactlyAndReadsTheRightBytes) {
  const SeekCase c = GetParam();
  CountingFile cf(pattern(40000));
  RasterStream* s = streamOpen(cf.file, "r", &settings_);
  ASSERT_EQ(streamMakeSeekable(s), 0);
  EXPECT_FALSE(s->spooling);
  ASSERT_EQ(readN(s, 100), slice(cf.data, 0, 100));
  const int callsBefore = cf.calls();
  ASSERT_EQ(streamSeek(s, c.position), 0);
  EXPECT_EQ(streamTell(s), c.position);
  if (c.insideBuffer) { EXPECT_EQ(cf.calls(), callsBefore) << "seek inside the buffer touched the file"; }
  const Bytes got = readN(s, 10);
  if (c.insideBuffer && c.position + 10 <= kStreamBufferSize) { EXPECT_EQ(cf.calls(), callsBefore); }
  EXPECT_EQ(got, slice(cf.data, static_cast<size_t>(c.position), 10));
  EXPECT_EQ(streamTell(s), c.position + static_cast<int64_t>(got.size()));
  EXPECT_EQ(streamClose(s), 1);
}

INSTANTIATE_TEST_SUITE_P(Positions, StreamSeekTest,
                         ::testing::Values(SeekCase{0, true}, SeekCase{50, true}, SeekCase{100, true},
                                           SeekCase{16374, true}, SeekCase{16383, true}, SeekCase{16384, false},
                                           SeekCase{30000, false}, SeekCase{39995, false},
                                           SeekCase{40000, false}, SeekCase{50000, false}));

TEST_F(StreamTest, SeekOutsideLeavesNoStaleBuffer) {
  const Bytes data = pattern(60000);
  std::FILE* f = fileWith(data);
  RasterStream* s = streamOpen(f, "r", &settings_);
  ASSERT_EQ(streamMakeSeekable(s), 0);
  ASSERT_EQ(readN(s, 100).size(), 100u);  // buffer holds [0, 16384)
  ASSERT_EQ(streamSeek(s, 20000), 0);
  // [3616, 20000) would be the old buffer's extent shifted to the new offset: it holds nothing valid.
  ASSERT_EQ(streamSeek(s, 5000), 0);
  EXPECT_EQ(readN(s, 16), slice(data, 5000, 16));
  ASSERT_EQ(streamSeek(s, 45000), 0);
  ASSERT_EQ(streamSeek(s, 44000), 0);
  EXPECT_EQ(readN(s, 16), slice(data, 44000, 16));
  EXPECT_EQ(streamClose(s), 1);
  std::fclose(f);
}

TEST_F(StreamTest, SeekBeforeMakeSeekableAnswers5AndChangesNothing) {
  const Bytes data = pattern(30000);
  std::FILE* f = fileWith(data);
  RasterStream* s = streamOpen(f, "r", &settings_);
  ASSERT_EQ(readN(s, 20).size(), 20u);
  EXPECT_EQ(streamSeek(s, 0), kStreamNotSeekable);
  EXPECT_EQ(streamSeek(s, 20000), kStreamNotSeekable);
  EXPECT_EQ(streamTell(s), 20);
  EXPECT_EQ(readN(s, 20000), slice(data, 20, 20000));
  EXPECT_EQ(streamClose(s), 1);
  std::fclose(f);
}

TEST_F(StreamTest, NegativeSeekAnswers6AndChangesNothing) {
  const Bytes data = pattern(30000);
  std::FILE* f = fileWith(data);
  RasterStream* s = streamOpen(f, "r", &settings_);
  EXPECT_EQ(streamMakeSeekable(s), 0);
  EXPECT_EQ(streamSeek(s, -1), kStreamSeekFailed);  // also from the initial, empty state
  ASSERT_EQ(readN(s, 20).size(), 20u);
  EXPECT_EQ(streamSeek(s, -1), kStreamSeekFailed);
  EXPECT_EQ(streamSeek(s, INT64_MIN), kStreamSeekFailed);
  EXPECT_EQ(streamTell(s), 20);
  EXPECT_EQ(readN(s, 20), slice(data, 20, 20));
  EXPECT_EQ(streamClose(s), 1);
  std::fclose(f);
}

TEST_F(StreamTest, MakeSeekableTwiceIsHarmless) {
  std::FILE* f = fileWith(pattern(10));
  RasterStream* s = streamOpen(f, "r", &settings_);
  EXPECT_EQ(streamMakeSeekable(s), 0);
  EXPECT_EQ(streamMakeSeekable(s), 0);
  EXPECT_FALSE(s->spooling);
  EXPECT_EQ(streamClose(s), 1);
  std::fclose(f);
}

// --- spooling a pipe on input ---

struct PipeCase {
  size_t size;
  int32_t readFirst;  // bytes read before makeSeekable
};

class StreamPipeTest : public StreamTest, public ::testing::WithParamInterface<PipeCase> {};

TEST_P(StreamPipeTest, SpoolsTheWholeInput) {
  const PipeCase c = GetParam();
  const Bytes data = pattern(c.size, 7);
  InputPipe in(data);
  RasterStream* s = streamOpen(in.file, "r", &settings_);
  ASSERT_EQ(readN(s, c.readFirst), slice(data, 0, static_cast<size_t>(c.readFirst)));
  ASSERT_EQ(streamMakeSeekable(s), 0);
  EXPECT_TRUE(s->spooling && s->seekable);
  const std::string spool = s->spoolName;
  EXPECT_EQ(spool.rfind(spoolDir_.string() + "/", 0), 0u) << spool;
  EXPECT_EQ(spoolFiles(), 0u) << "the spool is unlinked as soon as it is open";
  EXPECT_EQ(streamTell(s), std::min<int64_t>(c.readFirst, static_cast<int64_t>(c.size)));
  ASSERT_EQ(streamSeek(s, 0), 0);
  EXPECT_EQ(readN(s, static_cast<int32_t>(c.size) + 10), data);
  if (c.size > 1000) {
    ASSERT_EQ(streamSeek(s, static_cast<int64_t>(c.size) - 1000), 0);
    EXPECT_EQ(readN(s, 2000), slice(data, c.size - 1000, 1000));
  }
  EXPECT_EQ(streamClose(s), 1);
  EXPECT_FALSE(fs::exists(spool));
  EXPECT_EQ(spoolFiles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Pipes, StreamPipeTest,
                         ::testing::Values(PipeCase{0, 0}, PipeCase{0, 5}, PipeCase{10000, 0}, PipeCase{10000, 5},
                                           PipeCase{10000, 10000}, PipeCase{16384, 16384},
                                           PipeCase{100000, 16384}, PipeCase{100000, 7}));

TEST_F(StreamTest, PipePastOneBufferAnswers2AndReadsOn) {
  const Bytes data = pattern(40000, 3);
  InputPipe in(data);
  RasterStream* s = streamOpen(in.file, "r", &settings_);
  ASSERT_EQ(readN(s, 16385), slice(data, 0, 16385));
  EXPECT_EQ(streamMakeSeekable(s), kStreamSpoolTooLate);
  EXPECT_FALSE(s->spooling || s->seekable);
  EXPECT_EQ(s->spoolName[0], '\0');
  EXPECT_EQ(streamSeek(s, 0), kStreamNotSeekable);
  EXPECT_EQ(readN(s, 40000), slice(data, 16385, 40000));
  EXPECT_EQ(streamClose(s), 1);
  EXPECT_EQ(spoolFiles(), 0u);
}

TEST_F(StreamTest, PipeJudgedByBytesTakenNotByPosition) {
  // One wide window takes 40000 bytes in its first fill although only 10 were read.
  const Bytes data = pattern(50000, 4);
  InputPipe in(data);
  RasterStream* s = streamOpen(in.file, "r", &settings_);
  ASSERT_EQ(streamSetWindows(s, 1, 40000), 1);
  ASSERT_EQ(readN(s, 10), slice(data, 0, 10));
  EXPECT_EQ(streamTell(s), 10);
  EXPECT_EQ(streamMakeSeekable(s), kStreamSpoolTooLate);
  EXPECT_EQ(readN(s, 50000), slice(data, 10, 50000));
  EXPECT_EQ(streamClose(s), 1);
}

TEST_F(StreamTest, PipeFromAChildProcessSpools) {
  std::FILE* child = popen("head -c 10000 /dev/zero | tr '\\000' 'z'", "r");
  ASSERT_NE(child, nullptr);
  RasterStream* s = streamOpen(child, "r", &settings_);
  ASSERT_EQ(readN(s, 3), Bytes(3, 'z'));
  ASSERT_EQ(streamMakeSeekable(s), 0);
  ASSERT_EQ(streamSeek(s, 9990), 0);
  EXPECT_EQ(readN(s, 100), Bytes(10, 'z'));
  ASSERT_EQ(streamSeek(s, 0), 0);
  EXPECT_EQ(readN(s, 20000).size(), 10000u);
  EXPECT_EQ(streamClose(s), 1);
  EXPECT_EQ(pclose(child), 0);
  EXPECT_EQ(spoolFiles(), 0u);
}

// The file size, for a plain file and for a spooled pipe; reading goes on where it was afterwards.
TEST_F(StreamTest, FileSizeOfAFileAndOfASpooledPipe) {
  std::FILE* f = fileWith(pattern(12345));
  RasterStream* s = streamOpen(f, "r", &settings_);
  ASSERT_EQ(streamMakeSeekable(s), 0);
  ASSERT_EQ(readN(s, 10), slice(pattern(12345), 0, 10));
  int64_t size = 0;
  ASSERT_TRUE(streamFileSize(s, &size));
  EXPECT_EQ(size, 12345);
  EXPECT_EQ(readN(s, 10), slice(pattern(12345), 10, 10));
  ASSERT_EQ(streamSeek(s, 12340), 0);
  EXPECT_EQ(readN(s, 100).size(), 5u);
  EXPECT_EQ(streamClose(s), 1);
  std::fclose(f);

  std::FILE* child = popen("head -c 10000 /dev/zero | tr '\\000' 'z'", "r");
  ASSERT_NE(child, nullptr);
  s = streamOpen(child, "r", &settings_);
  ASSERT_EQ(streamMakeSeekable(s), 0);
  ASSERT_TRUE(streamFileSize(s, &size));
  EXPECT_EQ(size, 10000);
  EXPECT_EQ(readN(s, 20000).size(), 10000u);
  EXPECT_EQ(streamClose(s), 1);
  EXPECT_EQ(pclose(child), 0);
}

TEST_F(StreamTest, SpoolThatCannotBeCreatedAnswers3) {
  const Bytes data = pattern(5000);
  InputPipe in(data);
  settings_.tempDir = path("missing");
  RasterStream* s = streamOpen(in.file, "r", &settings_);
  ASSERT_EQ(readN(s, 10).size(), 10u);
  EXPECT_EQ(streamMakeSeekable(s), kStreamSpoolOpen);
  EXPECT_FALSE(s->spooling || s->seekable);
  EXPECT_EQ(readN(s, 6000), slice(data, 10, 6000));  // the buffered input is still there
  EXPECT_EQ(streamClose(s), 1);

  RecordingSink sink;
  RasterStream* w = sinkStream(&sink, &settings_);
  EXPECT_EQ(streamMakeSeekable(w), kStreamSpoolOpen);
  EXPECT_FALSE(w->spooling || w->seekable);
  EXPECT_EQ(streamClose(w), 1);
}

// --- writing ---

// The first short block ends the output: the call that met it answers the bytes that arrived, every later
// write is refused at once, and the sink is never called again (not even by close).
TEST_F(StreamTest, ShortSinkEndsTheOutputAndCloseReportsIt) {
  RecordingSink sink;
  sink.limits = {1000};  // the first block goes out short; the sink would take every later one
  RasterStream* s = sinkStream(&sink, &settings_);
  const Bytes data = pattern(40000);
  EXPECT_EQ(streamWrite(s, data.data(), 100), 100);
  EXPECT_EQ(streamWrite(s, data.data() + 100, 39900), 900)
      << "100 earlier bytes and 900 of this call arrived";
  EXPECT_FALSE(s->ok);
  EXPECT_EQ(streamWrite(s, data.data(), 100), 0);
  EXPECT_EQ(streamClose(s), 0);
  EXPECT_EQ(sink.data, slice(data, 0, 1000));
  EXPECT_EQ(sink.calls, (std::vector<size_t>{16384}));
}

TEST_F(StreamTest, SinkTakingNothingEndsTheWrite) {
  RecordingSink sink;
  sink.defaultLimit = 0;
  RasterStream* s = sinkStream(&sink, &settings_);
  const Bytes data = pattern(20000);
  const int32_t accepted = streamWrite(s, data.data(), 20000);
  EXPECT_LT(accepted, 20000);
  EXPECT_FALSE(s->ok);
  EXPECT_EQ(streamClose(s), 0);
  EXPECT_TRUE(sink.data.empty());
}

TEST_F(StreamTest, WriteCallbackOnlyBeforeTheFirstSinkWrite) {
  RecordingSink first, second;
  RasterStream* s = streamOpen(nullptr, "w", &settings_);
  EXPECT_EQ(streamSetWriteCallback(s, RecordingSink::write, &first), 1);
  EXPECT_EQ(streamSetWriteCallback(s, RecordingSink::write, &second), 1);  // nothing sent yet
  const Bytes data = pattern(20000);
  ASSERT_EQ(streamWrite(s, data.data(), 20000), 20000);
  EXPECT_TRUE(s->writeFnUsed);
  EXPECT_EQ(streamSetWriteCallback(s, RecordingSink::write, &first), 0);
  EXPECT_EQ(streamClose(s), 1);
  EXPECT_TRUE(first.data.empty());
  EXPECT_EQ(second.data, data);

  RasterStream* r = streamOpen(nullptr, "r", &settings_);
  EXPECT_EQ(streamSetWriteCallback(r, RecordingSink::write, &first), 0);
  EXPECT_EQ(streamClose(r), 1);
}

struct FlushCase {
  int32_t bytes;
  std::vector<size_t> calls;  // sink calls up to and including close
};

class StreamFlushTest : public StreamTest, public ::testing::WithParamInterface<FlushCase> {};

TEST_P(StreamFlushTest, SinkSeesWholeBuffersAndNoEmptyWrites) {
  const FlushCase c = GetParam();
  RecordingSink sink;
  RasterStream* s = sinkStream(&sink, &settings_);
  const Bytes data = pattern(static_cast<size_t>(c.bytes));
  // Written in odd pieces so buffer boundaries fall inside calls.
  for (int32_t done = 0; done < c.bytes;) {
    const int32_t n = std::min(c.bytes - done, 3001);
    ASSERT_EQ(streamWrite(s, data.data() + done, n), n);
    done += n;
  }
  EXPECT_EQ(streamTell(s), c.bytes);
  EXPECT_EQ(streamClose(s), 1);
  EXPECT_EQ(sink.calls, c.calls);
  EXPECT_EQ(sink.data, data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, StreamFlushTest,
                         ::testing::Values(FlushCase{0, {}}, FlushCase{100, {100}}, FlushCase{16384, {16384}},
                                           FlushCase{16385, {16384, 1}},
                                           FlushCase{40000, {16384, 16384, 7232}}));

// A long output to the stream's own file goes on in large blocks once enough has gone out, and a field
// patched far back still lands; a sink sees small blocks however much is written.
TEST_F(StreamTest, LongFileOutputTakesTheLargeBufferAndSinksDoNot) {
  const Bytes data = pattern(static_cast<size_t>(kStreamGrowAfter) + 3 * kStreamLargeBuffer + 7);
  const std::string p = path("long.bin");
  std::FILE* f = std::fopen(p.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  RasterStream* s = streamOpen(f, "w", &settings_);
  RecordingSink sink;
  RasterStream* t = sinkStream(&sink, &settings_);
  ASSERT_EQ(streamMakeSeekable(s), 0);
  for (size_t done = 0; done < data.size();) {
    const auto n = static_cast<int32_t>(std::min<size_t>(data.size() - done, 3001));
    ASSERT_EQ(streamWrite(s, data.data() + done, n), n);
    ASSERT_EQ(streamWrite(t, data.data() + done, n), n);
    done += static_cast<size_t>(n);
  }
  EXPECT_EQ(s->end - s->base, kStreamLargeBuffer);
  EXPECT_EQ(t->end - t->base, kStreamBufferSize);
  const uint8_t mark[3] = {1, 2, 3};
  ASSERT_EQ(streamSeek(s, 100), 0);
  ASSERT_EQ(streamWrite(s, mark, 3), 3);
  ASSERT_EQ(streamSeek(s, static_cast<int64_t>(data.size())), 0);
  EXPECT_EQ(streamClose(s), 1);
  EXPECT_EQ(streamClose(t), 1);
  std::fclose(f);
  Bytes expected = data;
  std::copy(mark, mark + 3, expected.begin() + 100);
  EXPECT_EQ(readFile(p), expected);
  EXPECT_EQ(sink.data, data);
  EXPECT_LE(*std::max_element(sink.calls.begin(), sink.calls.end()), static_cast<size_t>(kStreamBufferSize));
}

TEST_F(StreamTest, SeekOnAWriteStreamWithAShortFlushAnswers7) {
  RecordingSink sink;
  sink.defaultLimit = 10;
  RasterStream* s = streamOpen(nullptr, "w", &settings_);
  ASSERT_EQ(streamMakeSeekable(s), 0);  // spooled: the sink is only reached at close
  ASSERT_EQ(streamSetWriteCallback(s, RecordingSink::write, &sink), 1);
  const Bytes data = pattern(100);
  ASSERT_EQ(streamWrite(s, data.data(), 100), 100);
  EXPECT_EQ(streamSeek(s, 0), 0);
  EXPECT_EQ(streamClose(s), 0);  // the sink took 10 of 100
  EXPECT_EQ(sink.data, slice(data, 0, 10));

  // A plain file that takes seeks but no bytes.
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  {
    std::setvbuf(full, nullptr, _IONBF, 0);
    RasterStream* w = streamOpen(full, "w", &settings_);
    ASSERT_EQ(streamMakeSeekable(w), 0);
    EXPECT_FALSE(w->spooling);
    ASSERT_EQ(streamWrite(w, data.data(), 100), 100);
    EXPECT_EQ(streamSeek(w, 0), kStreamFlushFailed);
    EXPECT_FALSE(w->ok);
    EXPECT_EQ(streamClose(w), 0);
    std::fclose(full);
  }
}

// --- seekable output ---

TEST_F(StreamTest, PlainFileOutputSeeksAndPatches) {
  const std::string p = path("out.bin");
  std::FILE* f = std::fopen(p.c_str(), "wb");
  RasterStream* s = streamOpen(f, "w", &settings_);
  ASSERT_EQ(streamMakeSeekable(s), 0);
  EXPECT_FALSE(s->spooling);
  Bytes expected = pattern(30000);
  ASSERT_EQ(streamWrite(s, expected.data(), 30000), 30000);
  ASSERT_EQ(streamSeek(s, 5), 0);
  ASSERT_EQ(streamWrite(s, "ABCD", 4), 4);
  EXPECT_EQ(streamTell(s), 9);
  ASSERT_EQ(streamSeek(s, 20000), 0);
  ASSERT_EQ(streamWrite(s, "WXYZ", 4), 4);
  ASSERT_EQ(streamSeek(s, 30000), 0);
  ASSERT_EQ(streamWrite(s, "END", 3), 3);
  EXPECT_EQ(streamClose(s), 1);
  std::fclose(f);
  std::memcpy(expected.data() + 5, "ABCD", 4);
  std::memcpy(expected.data() + 20000, "WXYZ", 4);
  expected.insert(expected.end(), {'E', 'N', 'D'});
  EXPECT_EQ(readFile(p), expected);
}

// Builds the same patched output through any write stream: the body, two patches, a tail.
Bytes writePatched(RasterStream* s) {
  Bytes expected = pattern(40000, 9);
  EXPECT_EQ(streamWrite(s, expected.data(), 100), 100);
  EXPECT_EQ(streamMakeSeekable(s), 0);
  EXPECT_TRUE(s->spooling);
  EXPECT_EQ(streamWrite(s, expected.data() + 100, 39900), 39900);
  EXPECT_EQ(streamSeek(s, 10), 0);
  EXPECT_EQ(streamWrite(s, "ABCD", 4), 4);
  EXPECT_EQ(streamSeek(s, 20000), 0);
  EXPECT_EQ(streamWrite(s, "WXYZ", 4), 4);
  EXPECT_EQ(streamSeek(s, 40000), 0);
  EXPECT_EQ(streamWrite(s, "END", 3), 3);
  std::memcpy(expected.data() + 10, "ABCD", 4);
  std::memcpy(expected.data() + 20000, "WXYZ", 4);
  expected.insert(expected.end(), {'E', 'N', 'D'});
  return expected;
}

TEST_F(StreamTest, SpooledSinkOutputArrivesPatchedAtClose) {
  RecordingSink sink;
  RasterStream* s = sinkStream(&sink, &settings_);
  const Bytes expected = writePatched(s);
  EXPECT_TRUE(sink.calls.empty());  // nothing reaches the sink before close
  EXPECT_FALSE(s->writeFnUsed);
  const std::string spool = s->spoolName;
  EXPECT_EQ(spool.rfind(spoolDir_.string() + "/", 0), 0u) << spool;
  struct stat st{};
  ASSERT_EQ(fstat(fileno(s->spoolFile), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u) << "spool readable by others";
  EXPECT_EQ(st.st_nlink, 0u) << "the spool is unlinked as soon as it is open";
  EXPECT_EQ(spoolFiles(), 0u);
  EXPECT_EQ(streamClose(s), 1);
  EXPECT_EQ(sink.data, expected);
  EXPECT_FALSE(fs::exists(spool));
  EXPECT_EQ(spoolFiles(), 0u);
}

TEST_F(StreamTest, SpooledPipeOutputArrivesPatchedAtClose) {
  OutputPipe out;
  RasterStream* s = streamOpen(out.file, "w", &settings_);
  const Bytes expected = writePatched(s);
  EXPECT_EQ(streamClose(s), 1);
  EXPECT_EQ(out.finish(), expected);
  EXPECT_EQ(spoolFiles(), 0u);
}

TEST_F(StreamTest, FileWithAnotherSinkIsSpooled) {
  // Positioning the file would not position what the sink receives.
  std::FILE* f = std::fopen(path("unused.bin").c_str(), "wb");
  RecordingSink sink;
  RasterStream* s = streamOpen(f, "w", &settings_);
  ASSERT_EQ(streamSetWriteCallback(s, RecordingSink::write, &sink), 1);
  const Bytes expected = writePatched(s);
  EXPECT_EQ(streamClose(s), 1);
  EXPECT_EQ(sink.data, expected);
  std::fclose(f);
  EXPECT_TRUE(readFile(path("unused.bin")).empty());
}

TEST_F(StreamTest, SpoolingTooLateForOutputAlreadySent) {
  RecordingSink sink;
  RasterStream* s = sinkStream(&sink, &settings_);
  const Bytes data = pattern(20000);
  ASSERT_EQ(streamWrite(s, data.data(), 20000), 20000);
  EXPECT_EQ(streamMakeSeekable(s), kStreamSpoolTooLate);
  EXPECT_FALSE(s->spooling || s->seekable);
  EXPECT_EQ(spoolFiles(), 0u);
  EXPECT_EQ(streamClose(s), 1);
  EXPECT_EQ(sink.data, data);
}

TEST_F(StreamTest, FailedSpoolCopyStillRemovesTheSpool) {
  RecordingSink sink;
  sink.defaultLimit = 0;
  RasterStream* s = sinkStream(&sink, &settings_);
  (void)writePatched(s);
  EXPECT_EQ(streamClose(s), 0);
  EXPECT_EQ(spoolFiles(), 0u);
}

// --- windows ---

struct WindowCase {
  int32_t count;
  int32_t minSize;
  int32_t expectedSize;
};

class StreamWindowTest : public StreamTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(StreamWindowTest, WindowsReadIndependentPositions) {
  const WindowCase c = GetParam();
  const Bytes data = pattern(200000, 5);
  std::FILE* f = fileWith(data);
  RasterStream* s = streamOpen(f, "r", &settings_);
  ASSERT_EQ(streamMakeSeekable(s), 0);
  ASSERT_EQ(streamSetWindows(s, c.count, c.minSize), 1);
  EXPECT_EQ(s->windowSize, c.expectedSize);
  EXPECT_EQ(streamSetWindows(s, c.count, c.minSize), 0);  // once only
  const int32_t used = std::min(c.count, 8);  // windows read in turn; the rest stay idle
  std::vector<int64_t> pos(static_cast<size_t>(used));
  for (int32_t i = 0; i < used; ++i) {
    pos[static_cast<size_t>(i)] = (static_cast<int64_t>(i) * 37111) % 150000;
    ASSERT_EQ(streamSetWindowOffset(s, i, pos[static_cast<size_t>(i)]), 1);
  }
  for (int round = 0; round < 4; ++round) {
    for (int32_t i = 0; i < used; ++i) {
      ASSERT_EQ(streamSelectWindow(s, i), 1);
      int64_t& p = pos[static_cast<size_t>(i)];
      ASSERT_EQ(streamTell(s), p) << "window " << i;
      const int32_t n = 3001 + round * 2000;
      ASSERT_EQ(readN(s, n), slice(data, static_cast<size_t>(p), static_cast<size_t>(n))) << "window " << i;
      p += n;
    }
  }
  EXPECT_EQ(streamSelectWindow(s, c.count), 0);
  EXPECT_EQ(streamSelectWindow(s, -1), 0);
  EXPECT_EQ(streamSetWindowOffset(s, c.count, 0), 0);
  EXPECT_EQ(streamClose(s), 1);
  std::fclose(f);
}

INSTANTIATE_TEST_SUITE_P(Layouts, StreamWindowTest,
                         ::testing::Values(WindowCase{1, 0, 16384}, WindowCase{2, 0, 8192},
                                           WindowCase{4, 4096, 4096}, WindowCase{4, 8192, 8192},
                                           WindowCase{3, 10001, 10004}, WindowCase{8, 100, 2048},
                                           WindowCase{5, 0, 3276}, WindowCase{2, 40000, 40000},
                                           WindowCase{20000, 0, 4}));

TEST_F(StreamTest, WindowOffsetOnCurrentAndOtherWindow) {
  const Bytes data = pattern(100000, 11);
  std::FILE* f = fileWith(data);
  RasterStream* s = streamOpen(f, "r", &settings_);
  ASSERT_EQ(streamMakeSeekable(s), 0);
  ASSERT_EQ(streamSetWindows(s, 2, 0), 1);
  ASSERT_EQ(readN(s, 100), slice(data, 0, 100));  // window 0 holds [0, 8192)
  ASSERT_EQ(streamSetWindowOffset(s, 0, 50000), 1);
  EXPECT_EQ(streamTell(s), 50000);
  // The emptied window claims nothing: a seek into the range its old extent would cover reads the file.
  ASSERT_EQ(streamSeek(s, 46000), 0);
  EXPECT_EQ(readN(s, 50), slice(data, 46000, 50));
  ASSERT_EQ(streamSetWindowOffset(s, 1, 70000), 1);
  EXPECT_EQ(streamTell(s), 46050);  // the current window is unaffected
  EXPECT_EQ(readN(s, 50), slice(data, 46050, 50));
  ASSERT_EQ(streamSelectWindow(s, 1), 1);
  EXPECT_EQ(readN(s, 9000), slice(data, 70000, 9000));
  ASSERT_EQ(streamSelectWindow(s, 0), 1);
  EXPECT_EQ(readN(s, 9000), slice(data, 46100, 9000));
  // Another window emptied while it holds data claims nothing once selected again.
  ASSERT_EQ(streamSetWindowOffset(s, 1, 90000), 1);
  ASSERT_EQ(streamSelectWindow(s, 1), 1);
  EXPECT_EQ(streamTell(s), 90000);
  ASSERT_EQ(streamSeek(s, 89900), 0);
  EXPECT_EQ(readN(s, 50), slice(data, 89900, 50));
  // A negative offset delivers nothing rather than data from elsewhere.
  ASSERT_EQ(streamSetWindowOffset(s, 1, -5), 1);
  ASSERT_EQ(streamSelectWindow(s, 1), 1);
  EXPECT_EQ(readN(s, 10).size(), 0u);
  EXPECT_EQ(streamClose(s), 1);
  std::fclose(f);
}

TEST_F(StreamTest, WindowsOverASpooledPipe) {
  const Bytes data = pattern(12000, 13);
  InputPipe in(data);
  RasterStream* s = streamOpen(in.file, "r", &settings_);
  ASSERT_EQ(readN(s, 5).size(), 5u);
  ASSERT_EQ(streamMakeSeekable(s), 0);
  ASSERT_EQ(streamSetWindows(s, 2, 0), 1);
  ASSERT_EQ(streamSetWindowOffset(s, 1, 6000), 1);
  Bytes a, b;
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(streamSelectWindow(s, 0), 1);
    Bytes x = readN(s, 1000);
    a.insert(a.end(), x.begin(), x.end());
    ASSERT_EQ(streamSelectWindow(s, 1), 1);
    Bytes y = readN(s, 1000);
    b.insert(b.end(), y.begin(), y.end());
  }
  EXPECT_EQ(a, slice(data, 0, 6000));
  EXPECT_EQ(b, slice(data, 6000, 6000));
  EXPECT_EQ(streamClose(s), 1);
  EXPECT_EQ(spoolFiles(), 0u);
}

struct WindowRefusal {
  int32_t count;
  int32_t minSize;
};

class StreamWindowRefusalTest : public StreamTest, public ::testing::WithParamInterface<WindowRefusal> {};

TEST_P(StreamWindowRefusalTest, RefusedAndUnchanged) {
  const WindowRefusal c = GetParam();
  const Bytes data = pattern(100);
  std::FILE* f = fileWith(data);
  RasterStream* s = streamOpen(f, "r", &settings_);
  EXPECT_EQ(streamSetWindows(s, c.count, c.minSize), 0);
  EXPECT_EQ(s->windowCount, 0);
  EXPECT_EQ(s->windowSize, kStreamBufferSize);
  EXPECT_EQ(readN(s, 100), data);
  EXPECT_EQ(streamClose(s), 1);
  std::fclose(f);
}

INSTANTIATE_TEST_SUITE_P(Bad, StreamWindowRefusalTest,
                         ::testing::Values(WindowRefusal{0, 0}, WindowRefusal{-1, 100}, WindowRefusal{INT32_MIN, 0},
                                           WindowRefusal{2, INT32_MAX},                // size rounds past int32
                                           WindowRefusal{2, 1 << 30},                  // block too large
                                           WindowRefusal{1 << 30, 1 << 30},            // count * size too large
                                           WindowRefusal{1 << 20, 0},                  // too many windows
                                           WindowRefusal{INT32_MAX, INT32_MAX - 3}));  // 64-bit product

TEST_F(StreamTest, WindowsRefusedOnAWriteStreamAndWhenMemoryRunsOut) {
  RasterStream* w = streamOpen(nullptr, "w", &settings_);
  EXPECT_EQ(streamSetWindows(w, 2, 0), 0);
  EXPECT_EQ(streamClose(w), 1);
  RasterStream* r = streamOpen(nullptr, "r", &settings_);
  for (int64_t n : {0, 1}) {
    rioFailAllocationAfter(n);
    EXPECT_EQ(streamSetWindows(r, 2, 20000), 0);
    rioFailAllocationAfter(-1);
    EXPECT_EQ(r->windowCount, 0);
  }
  EXPECT_EQ(streamSetWindows(r, 2, 20000), 1);
  EXPECT_EQ(streamClose(r), 1);
}

// --- bit reversal ---

TEST(BitReverseTable, FollowsTheBitRule) {
  EXPECT_EQ(kBitReverse[0x01], 0x80);
  EXPECT_EQ(kBitReverse[0x0F], 0xF0);
  EXPECT_EQ(kBitReverse[0xA0], 0x05);
  EXPECT_EQ(kBitReverse[0x00], 0x00);
  EXPECT_EQ(kBitReverse[0xFF], 0xFF);
  for (int v = 0; v < 256; ++v) {
    EXPECT_EQ(kBitReverse[kBitReverse[v]], v);
    for (int b = 0; b < 8; ++b) EXPECT_EQ((kBitReverse[v] >> (7 - b)) & 1, (v >> b) & 1);
  }
}

class StreamReverseTest : public StreamTest, public ::testing::WithParamInterface<int32_t> {};

// -1 stands for no limit (every byte).
TEST_P(StreamReverseTest, ReversesUpToTheLimitAcrossFills) {
  const int32_t limit = GetParam();
  const Bytes data = pattern(40000, 17);
  std::FILE* f = fileWith(data);
  RasterStream* s = streamOpen(f, "r", &settings_);
  if (limit >= 0) streamSetReverseLimit(s, limit);
  Bytes got;
  while (streamFill(s) > 0) {
    streamReverseBits(s);
    got.insert(got.end(), s->cur, s->end);
  }
  ASSERT_EQ(got.size(), data.size());
  const size_t reversed = limit < 0 ? data.size() : std::min<size_t>(static_cast<size_t>(limit), data.size());
  for (size_t i = 0; i < data.size(); ++i)
    ASSERT_EQ(got[i], i < reversed ? kBitReverse[data[i]] : data[i]) << "byte " << i;
  if (limit >= 0) { EXPECT_EQ(s->reverseCount, limit - static_cast<int32_t>(reversed)); }
  EXPECT_EQ(streamClose(s), 1);
  std::fclose(f);
}

INSTANTIATE_TEST_SUITE_P(Limits, StreamReverseTest, ::testing::Values(-1, 0, 1, 100, 16384, 20000, 40000, 50000));

TEST_F(StreamTest, ReversalStartsAtTheReadPosition) {
  const Bytes data = pattern(100, 19);
  std::FILE* f = fileWith(data);
  RasterStream* s = streamOpen(f, "r", &settings_);
  ASSERT_EQ(readN(s, 10), slice(data, 0, 10));
  streamSetReverseLimit(s, 5);
  streamReverseBits(s);
  const Bytes got = readN(s, 90);
  ASSERT_EQ(got.size(), 90u);
  for (size_t i = 0; i < 90; ++i) EXPECT_EQ(got[i], i < 5 ? kBitReverse[data[10 + i]] : data[10 + i]);
  EXPECT_EQ(streamClose(s), 1);
  std::fclose(f);
}

}  // namespace
}  // namespace vantrel
