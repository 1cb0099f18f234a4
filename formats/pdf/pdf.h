// The PDF/A writer's own header: the archival pieces every file carries (the grey ICC profile of its
// output intent, the XMP metadata, the dates and the file identifier), kept apart from the driver glue.
//   pdf.cpp           driver glue: objects, pages, image streams, cross-reference table and trailer
//   pdf_archival.cpp  the ICC profile, the XMP packet, the dates and the file identifier
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace vantrel::pdf {

inline constexpr const char* kProducer = "Vantrel";

// The grey output profile (ICC version 2, monitor class, GRAY data, XYZ connection space, a gamma 2.2
// grey TRC), written into `out`; answers its size, 0 when `capacity` is too small.
size_t buildGreyProfile(uint8_t* out, size_t capacity);
inline constexpr size_t kGreyProfileCapacity = 512;

// The creation time in both spellings the file states it in: the Info dictionary's "D:YYYYMMDDHHmmSS+00'00'"
// and XMP's "YYYY-MM-DDTHH:MM:SS+00:00" (both UTC).
struct PdfDates {
  char info[96];
  char xmp[96];
};
PdfDates formatDates(std::time_t when);

// The XMP packet: PDF/A-2b identification, producer, creation and modification dates. Answers its size,
// 0 when `capacity` is too small.
size_t buildXmp(char* out, size_t capacity, const PdfDates& dates);
inline constexpr size_t kXmpCapacity = 2048;

// A 16-byte file identifier made from what distinguishes this file (its time and its first page).
void fileIdentifier(const PdfDates& dates, int64_t width, int64_t height, double xDpi, double yDpi,
                    uint8_t id[16]);

}  // namespace vantrel::pdf
