// The fax coders against stored digests of what they did on the fuzz corpora: every line's status and run
// list from the line decoders (checked and own-line variants), the bytes the encoders make of those lines,
// and what the readers of the fax-coded formats deliver and the CALS and native Group 3 writers make of it.
// A change to the coders that keeps their results keeps every digest; a file whose digest moved is named.
//
// After a change meant to alter those results, the digests are taken again with:
//   vantrel_tests --gtest_also_run_disabled_tests --gtest_filter='*WriteDigests*'
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "codec/fax.h"
#include "formats/open.h"
#include "rio/rcb.h"
#include "rio/sline.h"
#include "rio/stream.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(VANTREL_SOURCE_DIR) / "fuzz" / "corpus";
const fs::path kDigests = fs::path(VANTREL_SOURCE_DIR) / "tests" / "data" / "fax_corpus_digests.txt";

// The raw codec corpora and the corpora of readers that decode fax codes.
const char* const kCodecCorpora[] = {"g4", "g3", "g3_2d"};
const char* const kFormatCorpora[] = {"cals", "tiff", "tiff_pages", "mmr", "cit_dsig4", "c4b4", "filenet", "native"};

struct Digest {
  uint64_t h = 1469598103934665603ull;
  void add(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
  }
  void add(int64_t v) { add(&v, sizeof v); }
};

size_t appendBytes(const void* data, size_t size, size_t count, void* ctx) {
  auto* out = static_cast<std::vector<uint8_t>*>(ctx);
  const auto* p = static_cast<const uint8_t*>(data);
  out->insert(out->end(), p, p + size * count);
  return count;
}

std::vector<uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

constexpr int kMaxLines = 3000;
enum class Coding { kG3, kG4, kG4Own, kG32d, kG32dOwn };

// Decodes as the fax fuzz harness does (two bytes of width, one of options, then the code), every status
// and line into `d`; the whole lines are kept for the encoders.
std::vector<std::vector<int32_t>> decodeInto(const std::vector<uint8_t>& bytes, Coding coding, Digest& dg) {
  std::vector<std::vector<int32_t>> lines;
  const int32_t width = 1 + static_cast<int32_t>((bytes[0] << 8 | bytes[1]) % 6000);
  const uint8_t options = bytes[2];
  FaxDecoder d{};
  d.bits.lsbFirst = options & 1;
  if (coding == Coding::kG3) {
    d.lineAlign = options & 2;
    d.noEol = options & 4;
  }
  if (options & 8) faxDecoderSetByteLimit(&d, options >> 4);
  std::vector<uint8_t> data(bytes.begin() + 3, bytes.end());
  data.push_back(0);  // fmemopen takes no empty buffer
  std::FILE* f = fmemopen(data.data(), data.size() - 1, "rb");
  RasterStream* s = streamOpen(f, "r");
  const size_t room = static_cast<size_t>(slineValues(width)) + kFaxOwnLineSpare;
  std::vector<int32_t> a(room, kSlineEnd), b(room, kSlineEnd);
  int32_t* cur = a.data();
  int32_t* ref = b.data();
  for (int i = 0; i < kMaxLines; ++i) {
    RioStatus status = kRioOk;
    int32_t values = 0;
    switch (coding) {
      case Coding::kG3: status = g3DecodeLine(&d, s, width, cur); break;
      case Coding::kG4: status = g4DecodeLine(&d, s, width, ref, cur); break;
      case Coding::kG4Own: status = g4DecodeOwnLine(&d, s, width, ref, cur, &values); break;
      case Coding::kG32d: status = g3Decode2dLine(&d, s, width, ref, cur); break;
      case Coding::kG32dOwn: status = g3Decode2dOwnLine(&d, s, width, ref, cur, &values); break;
    }
    dg.add(status);
    size_t n = 0;
    while (cur[n] != kSlineEnd) ++n;
    dg.add(cur, n * sizeof(int32_t));
    if (status != kRioOk) break;
    lines.emplace_back(cur, cur + n);
    lines.back().resize(n + kFaxOwnLineEnds, kSlineEnd);
    if (coding != Coding::kG3) std::swap(cur, ref);
  }
  streamClose(s);
  std::fclose(f);
  return lines;
}

// The lines coded again: Group 3 with the harness's options and Group 4 both ways, the bytes into `dg`.
void encodeInto(std::vector<std::vector<int32_t>>& lines, int32_t width, uint8_t options, Digest& dg) {
  for (int kind = 0; kind < 3; ++kind) {
    std::vector<uint8_t> coded;
    RasterStream* out = streamOpen(nullptr, "w");
    ASSERT_EQ(streamSetWriteCallback(out, appendBytes, &coded), 1);
    FaxEncoder e{};
    e.bits.lsbFirst = options & 1;
    e.noEol = options & 4;
    e.lineAlign = options & 2;
    const std::vector<int32_t> white(kFaxOwnLineEnds, kSlineEnd);
    const int32_t* ref = white.data();
    RioStatus status = kRioOk;
    for (std::vector<int32_t>& line : lines) {
      if (kind == 0) status = g3EncodeLine(&e, out, width, line.data());
      if (kind == 1) status = g4EncodeLine(&e, out, width, line.data(), ref);
      if (kind == 2) status = g4EncodeOwnLine(&e, out, width, line.data(), ref);
      if (status != kRioOk) break;
      ref = line.data();
    }
    dg.add(status);
    dg.add(kind == 0 ? g3EncodeFinish(&e, out) : g4EncodeFinish(&e, out));
    streamClose(out);
    dg.add(coded.data(), coded.size());
  }
}

uint64_t codecDigest(const std::vector<uint8_t>& bytes, const std::string& corpus) {
  Digest dg;
  if (bytes.size() < 4) return dg.h;
  const int32_t width = 1 + static_cast<int32_t>((bytes[0] << 8 | bytes[1]) % 6000);
  std::vector<Coding> codings = {Coding::kG3};
  if (corpus == "g4") codings = {Coding::kG4, Coding::kG4Own};
  if (corpus == "g3_2d") codings = {Coding::kG32d, Coding::kG32dOwn};
  for (Coding c : codings) {
    std::vector<std::vector<int32_t>> lines = decodeInto(bytes, c, dg);
    if (c != Coding::kG4Own && c != Coding::kG32dOwn) encodeInto(lines, width, bytes[2], dg);
  }
  return dg.h;
}

// Every line the reader of `format` (0: recognised) delivers and, written again by `writer` into a scratch file,
// the writer's bytes.
void readerInto(std::vector<uint8_t> bytes, RasterFormatId format, RasterFormatId writer, Digest& dg) {
  bytes.push_back(0);
  std::FILE* f = fmemopen(bytes.data(), bytes.size() - 1, "rb");
  RasterStream* in = streamOpen(f, "r");
  RioStatus status = 0;
  RCB* reader = rioOpenRasterRead(in, format, &status);
  dg.add(status);
  if (reader) {
    std::FILE* sink = std::tmpfile();
    RasterStream* out = streamOpen(sink, "w");
    RCB* w = rioOpenRasterWrite(out, reader->width, std::min(reader->height, 1 << 16), writer, &status);
    dg.add(status);
    for (int32_t n = 0; n < (1 << 16) && rioReadRasterSline(reader); ++n) {
      int32_t k = 0;
      while (reader->curSline[k] != kSlineEnd) ++k;
      dg.add(reader->curSline, static_cast<size_t>(k) * sizeof(int32_t));
      if (w) {
        rioCopySlineClipped(reader->curSline, w->curSline, w->width);
        (void)rioWriteRasterSline(w);
        rioSwapSlines(w);
      }
      rioSwapSlines(reader);
    }
    dg.add(reader->status);
    if (w) {
      if (reader->status != kRioEndOfPage) rioSetError(w, reader->status ? reader->status : kRioBadRows);
      dg.add(rioCloseRaster(w));
    }
    streamClose(out);
    std::rewind(sink);
    std::vector<uint8_t> buf(1 << 16);
    for (size_t got; (got = std::fread(buf.data(), 1, buf.size(), sink)) > 0;) dg.add(buf.data(), got);
    std::fclose(sink);
    (void)rioCloseRaster(reader);
  }
  streamClose(in);
  std::fclose(f);
}

// The readers as the corpus's fuzz target runs them, each written again as CALS and as native Group 3.
uint64_t formatDigest(std::vector<uint8_t> bytes, const std::string& corpus) {
  std::vector<RasterFormatId> formats = {0};
  if (corpus == "cals") formats = {0, kFormatCals};
  if (corpus == "mmr") formats = {0, kFormatMmr};
  if (corpus == "c4b4") formats = {kFormatJedmicsC4, kFormatEdmicsB4};
  if (corpus == "filenet") formats = {0, kFormatFileNetVariant};
  if (corpus == "cit_dsig4" && !bytes.empty()) {
    formats = {bytes[0] < 0x55 ? kFormatCit : bytes[0] < 0xAA ? kFormatDsig4 : kFormatFixedFrame, 0};
    bytes.erase(bytes.begin());
  }
  Digest dg;
  for (RasterFormatId format : formats)
    for (RasterFormatId writer : {kFormatCals, kFormatNativeG3}) readerInto(bytes, format, writer, dg);
  return dg.h;
}

// The digest of every corpus file, by its corpus and the first 12 characters of its name.
std::map<std::string, uint64_t> computeDigests() {
  std::map<std::string, uint64_t> digests;
  auto walk = [&](const char* corpus, bool codec) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(kCorpus / corpus))
      if (e.is_regular_file()) files.push_back(e.path());
    for (const fs::path& p : files) {
      const std::vector<uint8_t> bytes = readFile(p);
      digests[std::string(corpus) + "/" + p.filename().string().substr(0, 12)] =
          codec ? codecDigest(bytes, corpus) : formatDigest(bytes, corpus);
    }
  };
  for (const char* c : kCodecCorpora) walk(c, true);
  for (const char* c : kFormatCorpora) walk(c, false);
  return digests;
}

TEST(FaxCorpusDigests, EveryStoredDigestHolds) {
  std::ifstream in(kDigests);
  ASSERT_TRUE(in) << kDigests;
  std::map<std::string, uint64_t> stored;
  std::string name, hex;
  while (in >> name >> hex) stored[name] = std::stoull(hex, nullptr, 16);
  ASSERT_GT(stored.size(), 1000u);
  const std::map<std::string, uint64_t> now = computeDigests();
  size_t compared = 0, moved = 0;
  for (const auto& [file, digest] : now) {
    auto it = stored.find(file);
    if (it == stored.end()) continue;  // a corpus file added since the digests were taken
    ++compared;
    if (it->second != digest && ++moved <= 20) ADD_FAILURE() << file << " gives other lines or bytes";
  }
  EXPECT_EQ(moved, 0u);
  EXPECT_GT(compared, stored.size() * 9 / 10) << "most stored files are still in the corpora";
}

// Long rows of V0 codes (more than a bit word holds, and ending at or just short of the width): a line of
// many runs under an identical line, through both decoders and both encoders.
TEST(FaxCorpusDigests, LongRowsOfV0CodesDecodeAsCoded) {
  for (const int32_t width : {400, 401, 402}) {
    std::vector<int32_t> line;
    for (int32_t x = 1; x + 1 <= width && line.size() < 190; x += 2) line.insert(line.end(), {x, x + 1});
    if (width == 401) line.back() = width;  // the last run ends at the edge
    line.resize(line.size() + kFaxOwnLineEnds, kSlineEnd);
    const std::vector<int32_t> white(kFaxOwnLineEnds, kSlineEnd);
    for (const bool own : {false, true}) {
      std::vector<uint8_t> coded;
      RasterStream* out = streamOpen(nullptr, "w");
      ASSERT_EQ(streamSetWriteCallback(out, appendBytes, &coded), 1);
      FaxEncoder e{};
      const int32_t* refs[] = {white.data(), line.data(), line.data()};
      for (const int32_t* ref : refs)
        ASSERT_EQ(own ? g4EncodeOwnLine(&e, out, width, line.data(), ref)
                      : g4EncodeLine(&e, out, width, line.data(), ref),
                  kRioOk);
      ASSERT_EQ(g4EncodeFinish(&e, out), kRioOk);
      streamClose(out);
      std::FILE* f = fmemopen(coded.data(), coded.size(), "rb");
      RasterStream* in = streamOpen(f, "r");
      FaxDecoder d{};
      const size_t room = static_cast<size_t>(slineValues(width)) + kFaxOwnLineSpare;
      std::vector<int32_t> a(room, kSlineEnd), b(room, kSlineEnd);
      for (int row = 0; row < 3; ++row) {
        int32_t values = 0;
        ASSERT_EQ(own ? g4DecodeOwnLine(&d, in, width, b.data(), a.data(), &values)
                      : g4DecodeLine(&d, in, width, b.data(), a.data()),
                  kRioOk);
        EXPECT_TRUE(std::equal(line.begin(), line.end() - kFaxOwnLineEnds + 2, a.begin()))
            << "width " << width << " row " << row << (own ? " own" : "");
        std::swap(a, b);
      }
      streamClose(in);
      std::fclose(f);
    }
  }
}

TEST(FaxCorpusDigests, DISABLED_WriteDigests) {
  std::ofstream out(kDigests);
  char hex[17];
  for (const auto& [file, digest] : computeDigests()) {
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest));
    out << file << ' ' << hex << '\n';
  }
}

}  // namespace
}  // namespace vantrel
