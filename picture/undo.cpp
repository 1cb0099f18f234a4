// Undo protection: a list of the directory entries changed since the picture was protected, with the
// values they had, so that the changes can be committed, undone and redone, or shown as a difference.
#include "picture/tpicture.h"
#include "picture/tpicture_internal.h"
#include "rio/alloc.h"

namespace vantrel {

bool UndoProtectTPicture(TPicture* p) {
  if (p->undoList) return true;
  p->undoList = static_cast<UndoPair*>(rioCalloc(static_cast<size_t>(p->tileCount), sizeof(UndoPair)));
  if (!p->undoList) {
    rastSetError(kRastOutOfMemory, "UndoProtectTPicture");
    return false;
  }
  p->undoSlots = p->tileCount;
  p->undoCount = 0;
  p->undoEnabled = 1;
  return true;
}

bool UndoEnableTPicture(TPicture* p) {
  if (!p->undoList) return false;
  p->undoEnabled = 1;
  return true;
}

void UndoDisableTPicture(TPicture* p) {
  UndoResetTPicture(p);
  p->undoEnabled = 0;
}

void UndoResetTPicture(TPicture* p) {
  for (int32_t i = 0; i < p->undoCount; ++i) {
    const UndoPair& pair = p->undoList[i];
    poolRelease(p->pool, pair.saved);
    if (pair.entryIndex < static_cast<uint32_t>(p->tileCount)) {
      p->directory[pair.entryIndex] = entryUnmarked(p->directory[pair.entryIndex]);
    }
  }
  p->undoCount = 0;
}

void UndoAbandonTPicture(TPicture* p) {
  UndoResetTPicture(p);
  rioFree(p->undoList);
  p->undoList = nullptr;
  p->undoSlots = 0;
  p->undoEnabled = 0;
}

void UndoToggleTPicture(TPicture* p) {
  for (int32_t i = 0; i < p->undoCount; ++i) {
    UndoPair& pair = p->undoList[i];
    if (pair.entryIndex >= static_cast<uint32_t>(p->tileCount)) continue;
    TileEntry& e = p->directory[pair.entryIndex];
    TileEntry current = entryUnmarked(e);
    e = pair.saved | kSavedMark;
    pair.saved = current;
  }
}

bool UndoInquireTPicture(TPicture* p, TPicture* diff) {
  if (diff == p || diff->height != p->height || diff->width != p->width) {
    rastSetError(kRastBadSize, "UndoInquireTPicture");
    return false;
  }
  if (TPictureIsProtected(diff)) {
    rastSetError(kRastProtected, "UndoInquireTPicture");
    return false;
  }
  releaseEntries(diff);
  for (int32_t i = 0; i < p->undoCount; ++i) {
    const UndoPair& pair = p->undoList[i];
    if (pair.entryIndex >= static_cast<uint32_t>(p->tileCount)) continue;
    TileEntry current = entryUnmarked(p->directory[pair.entryIndex]);
    TileEntry saved = pair.saved;
    TileEntry& out = diff->directory[pair.entryIndex];
    poolRelease(diff->pool, out);
    out = kWhiteEntry;
    if (!entryIsTile(current) && !entryIsTile(saved)) {
      out = entryIsBlack(current) != entryIsBlack(saved) ? kBlackEntry : kWhiteEntry;
      continue;
    }
    // One side is a tile: copy it, then XOR the other side in.
    TileEntry tile = entryIsTile(current) ? current : saved;
    TileEntry other = entryIsTile(current) ? saved : current;
    TileEntry t = CopyTile(diff, p, tile);
    if (t == 0) return false;
    out = t;
    uint32_t* words = tileWords(diff, t);
    if (entryIsBlack(other)) {
      for (int k = 0; k < kTileWords; ++k) words[k] = ~words[k];
    } else if (entryIsTile(other)) {
      const uint32_t* o = tileWords(p, other);
      for (int k = 0; k < kTileWords; ++k) words[k] ^= o[k];
    }
  }
  return ClearPaddingTPicture(diff);  // an inverted edge tile would carry black padding
}

}  // namespace vantrel
