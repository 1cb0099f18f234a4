// What makes the PDF an archival one: the output intent's grey profile, built here byte by byte; the XMP
// packet that names the PDF/A part and conformance; the dates in their two spellings; the file identifier.
#include <cstdio>
#include <cstring>

#include "formats/common/byte_io.h"
#include "formats/pdf/pdf.h"

namespace vantrel::pdf {
namespace {

constexpr size_t kIccHeaderSize = 128;
constexpr uint32_t kIccVersion2 = 0x02100000;
// D50, the connection space's illuminant, as s15Fixed16 numbers.
constexpr uint32_t kD50[3] = {0x0000F6D6, 0x00010000, 0x0000D32D};
constexpr uint32_t kGamma22 = 0x0233;  // u8Fixed8 2.2 (2 + 51/256)
constexpr char kDescription[] = "Vantrel grey, gamma 2.2";
constexpr char kCopyright[] = "No copyright, use freely";

void putTag(uint8_t* p, const char tag[4]) { std::memcpy(p, tag, 4); }

// A tag's data written at `at`: the tag type signature and the reserved word, then the body.
struct TagWriter {
  uint8_t* out;
  size_t capacity;
  size_t at;
  bool ok = true;

  uint8_t* take(size_t n) {
    if (at + n > capacity) {
      ok = false;
      return nullptr;
    }
    uint8_t* p = out + at;
    std::memset(p, 0, n);
    at += n;
    return p;
  }
  void align() { take(((at + 3) & ~size_t{3}) - at); }  // zero bytes up to a whole word
};

}  // namespace

size_t buildGreyProfile(uint8_t* out, size_t capacity) {
  struct Entry {
    const char* signature;
    size_t offset, size;
  } entries[4] = {{"desc", 0, 0}, {"cprt", 0, 0}, {"wtpt", 0, 0}, {"kTRC", 0, 0}};
  constexpr size_t kTableSize = 4 + 4 * 12;
  TagWriter w{out, capacity, 0};
  if (!w.take(kIccHeaderSize + kTableSize)) return 0;

  // textDescriptionType: the ASCII text with its NUL, then empty Unicode and ScriptCode parts.
  entries[0].offset = w.at;
  if (uint8_t* p = w.take(12 + sizeof kDescription + 8 + 3 + 67)) {
    putTag(p, "desc");
    putBe32(p + 8, sizeof kDescription);
    std::memcpy(p + 12, kDescription, sizeof kDescription);
  }
  entries[0].size = w.at - entries[0].offset;
  w.align();
  entries[1].offset = w.at;
  if (uint8_t* p = w.take(8 + sizeof kCopyright)) {
    putTag(p, "text");
    std::memcpy(p + 8, kCopyright, sizeof kCopyright);
  }
  entries[1].size = w.at - entries[1].offset;
  w.align();
  entries[2].offset = w.at;
  if (uint8_t* p = w.take(20)) {
    putTag(p, "XYZ ");
    for (int i = 0; i < 3; ++i) putBe32(p + 8 + 4 * i, kD50[i]);
  }
  entries[2].size = w.at - entries[2].offset;
  w.align();
  entries[3].offset = w.at;
  if (uint8_t* p = w.take(14)) {
    putTag(p, "curv");
    putBe32(p + 8, 1);  // one entry: a gamma
    putBe16(p + 12, kGamma22);
  }
  entries[3].size = w.at - entries[3].offset;
  w.align();
  if (!w.ok || w.at > capacity) return 0;

  const size_t size = w.at;
  uint8_t* h = out;
  putBe32(h, static_cast<uint32_t>(size));
  putBe32(h + 8, kIccVersion2);
  putTag(h + 12, "mntr");
  putTag(h + 16, "GRAY");
  putTag(h + 20, "XYZ ");
  // The date the profile was made: fixed, so the same profile goes into every file.
  const uint16_t made[6] = {2026, 1, 1, 0, 0, 0};
  for (int i = 0; i < 6; ++i) putBe16(h + 24 + 2 * i, made[i]);
  putTag(h + 36, "acsp");
  for (int i = 0; i < 3; ++i) putBe32(h + 68 + 4 * i, kD50[i]);
  uint8_t* table = h + kIccHeaderSize;
  putBe32(table, 4);
  for (int i = 0; i < 4; ++i) {
    uint8_t* e = table + 4 + 12 * i;
    putTag(e, entries[i].signature);
    putBe32(e + 4, static_cast<uint32_t>(entries[i].offset));
    putBe32(e + 8, static_cast<uint32_t>(entries[i].size));
  }
  return size;
}

PdfDates formatDates(std::time_t when) {
  std::tm t{};
  gmtime_r(&when, &t);
  PdfDates d{};
  std::snprintf(d.info, sizeof d.info, "D:%04d%02d%02d%02d%02d%02d+00'00'", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  std::snprintf(d.xmp, sizeof d.xmp, "%04d-%02d-%02dT%02d:%02d:%02d+00:00", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return d;
}

size_t buildXmp(char* out, size_t capacity, const PdfDates& dates) {
  const int n = std::snprintf(
      out, capacity,
      "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
      " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
      "  <rdf:Description rdf:about=\"\" xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\">\n"
      "   <pdfaid:part>2</pdfaid:part>\n"
      "   <pdfaid:conformance>B</pdfaid:conformance>\n"
      "  </rdf:Description>\n"
      "  <rdf:Description rdf:about=\"\" xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">\n"
      "   <pdf:Producer>%s</pdf:Producer>\n"
      "  </rdf:Description>\n"
      "  <rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\">\n"
      "   <xmp:CreateDate>%s</xmp:CreateDate>\n"
      "   <xmp:ModifyDate>%s</xmp:ModifyDate>\n"
      "  </rdf:Description>\n"
      " </rdf:RDF>\n"
      "</x:xmpmeta>\n"
      "<?xpacket end=\"w\"?>",
      kProducer, dates.xmp, dates.xmp);
  return n > 0 && static_cast<size_t>(n) < capacity ? static_cast<size_t>(n) : 0;
}

void fileIdentifier(const PdfDates& dates, int64_t width, int64_t height, double xDpi, double yDpi,
                    uint8_t id[16]) {
  char text[160];
  const int n = std::snprintf(text, sizeof text, "%s %lld %lld %.6f %.6f", dates.info,
                              static_cast<long long>(width), static_cast<long long>(height), xDpi, yDpi);
  // Two FNV-1a hashes with different offsets make the 16 bytes.
  uint64_t h[2] = {0xcbf29ce484222325ull, 0x84222325cbf29ce4ull};
  for (uint64_t& x : h)
    for (int i = 0; i < n && i < static_cast<int>(sizeof text); ++i) {
      x ^= static_cast<uint8_t>(text[i]);
      x *= 0x100000001b3ull;
    }
  for (int i = 0; i < 8; ++i) {
    id[i] = static_cast<uint8_t>(h[0] >> (56 - 8 * i));
    id[8 + i] = static_cast<uint8_t>(h[1] >> (56 - 8 * i));
  }
}

}  // namespace vantrel::pdf
