#include "package/file_writer.h"

#include "base/error_pair.h"
#include "base/platform.h"

uint32_t WriteNextChunk(FileSet* set, int32_t* percentage) {
  if (set->cursor >= 0 && set->cursor < set->count) {
    FileItem& item = set->items[set->cursor];
    if (item.written < item.size) {
      const uint32_t left = item.size - item.written;
      const uint32_t wanted = left < set->chunkSize ? left : set->chunkSize;
      uint32_t stored = 0;
      const bool wrote = platform::WriteFileBytes(item.handle, item.data + item.written, wanted, &stored) != 0;
      // A platform that claims more than it was given must not push written
      // past size: the next chunk would then start outside the data.
      if (stored > wanted) stored = wanted;
      item.written += stored;
      if (percentage) {
        // size is non-zero here (written < size), so the quotient is finite
        // and at most 1; truncation of a value in [0, 100] is well defined.
        *percentage = static_cast<int32_t>(static_cast<double>(item.written) / item.size * 100.0);
      }
      return wrote && stored == wanted ? ErrorCode::MoreData : ErrorCode::WriteFault;
    }
  }

  if (set->cursor < 0) {
    set->cursor = 0;
  } else if (set->cursor < set->count) {
    CloseFileItem(&set->items[set->cursor]);
    ++set->cursor;
  }
  // A call after the last item (the caller should have stopped at 0) stays
  // there and answers done again instead of reading past the array.
  if (set->cursor < set->count) {
    FileItem& item = set->items[set->cursor];
    if (!item.handle) item.written = item.size;  // the file already existed: nothing to write
    if (percentage) *percentage = 0;
    return ErrorCode::MoreData;
  }
  if (percentage) *percentage = 100;
  return ErrorCode::Success;
}

bool CloseFileItem(FileItem* item) {
  if (!item->handle) return false;
  platform::CloseFileHandle(item->handle);
  item->handle = nullptr;
  return true;
}

void ReleaseFileSet(FileSet* set, ReleasedItemVisitor released, void* context) {
  for (int32_t i = 0; set->items && i < set->count; ++i) {
    FileItem& item = set->items[i];
    platform::FreeBlock(item.data);
    item.data = nullptr;
    CloseFileItem(&item);
    if (released) released(item, context);
  }
  platform::FreeBlock(set->items);
  set->items = nullptr;
  set->count = 0;
}
