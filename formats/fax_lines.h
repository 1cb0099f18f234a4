// Fax line adapters: the Group 3 and Group 4 line coders applied to an RCB, for the drivers of formats
// that store fax-coded data. The line is rcb->curSline, the reference rcb->refSline, the stream
// rcb->inStream or rcb->outStream, the width rcb->width. Any failure is also recorded as the RCB's status
// when none is set yet.
#pragma once

#include "codec/fax.h"
#include "rio/rcb.h"

namespace vantrel {

[[nodiscard]] RioStatus g3ReadSline(RCB* rcb, FaxDecoder* d);
[[nodiscard]] RioStatus g4ReadSline(RCB* rcb, FaxDecoder* d);
[[nodiscard]] RioStatus g3WriteSline(RCB* rcb, FaxEncoder* e);
[[nodiscard]] RioStatus g3FinishWrite(RCB* rcb, FaxEncoder* e);
[[nodiscard]] RioStatus g4WriteSline(RCB* rcb, FaxEncoder* e);
[[nodiscard]] RioStatus g4FinishWrite(RCB* rcb, FaxEncoder* e);

}  // namespace vantrel
