#include "package/file_writer.h"

#include <cstring>

#include "base/error_pair.h"
#include "base/platform.h"

namespace {

// Bytes read back per piece when a held file is confirmed: on the stack, so
// that a writer step still allocates nothing.
constexpr uint32_t kConfirmPieceSize = 65536;

// Holds the file at the item's name (never through a link) and confirms that
// it holds the item's data. False when it cannot be held or differs; what
// was opened stays in `held` for the caller to close.
bool HoldFileItem(void* folder, FileItem* item) {
  item->held = platform::OpenHeldFile(folder, item->name, item->path);
  return item->held && HeldFileHoldsContent(item->held, item->data, item->size);
}

// Creates the item's file for writing, failing rather than open anything
// that is at its name already.
bool CreateFileItem(void* folder, FileItem* item) {
  item->handle = platform::CreateNewFile(folder, item->name, item->path);
  return item->handle != nullptr;
}

// Closes the finished item's write handle and holds its file at once. Between
// the two another process may have written, replaced or renamed it, so the
// held bytes are read back whole and must be the item's data. False, with
// nothing of the item left open, when the file cannot be held or differs.
bool HoldWrittenFile(void* folder, FileItem* item) {
  CloseFileItem(item);
  if (HoldFileItem(folder, item)) return true;
  CloseFileItem(item);
  return false;
}

// Removes whatever is at the item's path now and creates its file afresh.
// False, the item still to be made anew, when it cannot.
bool MakeFileAnew(void* folder, FileItem* item) {
  DeleteFileItem(folder, *item);
  if (!CreateFileItem(folder, item)) return false;
  item->remake = 0;
  item->written = 0;
  return true;
}

}  // namespace

uint32_t WriteNextChunk(FileSet* set, int32_t* percentage) {
  if (set->cursor >= 0 && set->cursor < set->count) {
    FileItem& item = set->items[set->cursor];
    if (item.remake && !MakeFileAnew(set->folder, &item)) {
      if (percentage) *percentage = 0;
      return ErrorCode::WriteFault;
    }
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
    // An item without a write handle is complete without writing: its file
    // was there already, held since its comparison, or an earlier item of
    // the same name writes it.
    if (item.handle && !HoldWrittenFile(set->folder, &item)) {
      // Asked like a failed write, so that the box names the file; a retry
      // writes it again from its first byte.
      item.remake = 1;
      item.written = 0;
      if (percentage) *percentage = 0;
      return ErrorCode::WriteFault;
    }
  }

  if (set->cursor < 0) {
    set->cursor = 0;
  } else if (set->cursor < set->count) {
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

bool HeldFileHoldsContent(void* held, const uint8_t* data, uint32_t size) {
  uint8_t piece[kConfirmPieceSize];
  uint32_t compared = 0;
  for (;;) {
    uint32_t got = 0;
    if (!platform::ReadFileBytes(held, piece, sizeof piece, &got)) return false;
    if (got == 0) return compared == size;
    // A platform that claims more than it was given is a file that differs.
    if (got > sizeof piece || got > size - compared || std::memcmp(piece, data + compared, got) != 0)
      return false;
    compared += got;
  }
}

bool KeepOrMakeFileItem(void* folder, FileItem* item) {
  if (HoldFileItem(folder, item)) return true;
  const bool absent = !item->held && platform::LastError() == ErrorCode::FileNotFound;
  CloseFileItem(item);
  if (!absent) DeleteFileItem(folder, *item);
  return CreateFileItem(folder, item);
}

void DeleteFileItem(void* folder, const FileItem& item) { platform::RemoveFile(folder, item.name, item.path); }

bool CloseFileItem(FileItem* item) {
  if (item->held) {
    platform::CloseFileHandle(item->held);
    item->held = nullptr;
  }
  if (!item->handle) return false;
  platform::CloseFileHandle(item->handle);
  item->handle = nullptr;
  return true;
}

void CloseProductFolder(FileSet* set) {
  if (!set->folder) return;
  platform::CloseFileHandle(set->folder);
  set->folder = nullptr;
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
  CloseProductFolder(set);
}
