// What a file item holds once the set is built, and the one owner of it: the
// chunked writer that the progress window drives, the close of one item's
// file, and the release of the whole set. An item's handle is closed here,
// through the platform seam, and nowhere else; the extraction folder's
// rollback and the cleanup call in.
#pragma once

#include <cstdint>

#include "package/file_set.h"

// One step of the writer: writes at most chunkSize bytes of the item at the
// cursor, or closes the finished item and moves to the next one. Returns
// 234 (call again), 0 (every file written and closed) or 29 (a write failed
// or was short; the cursor stays on the item, and the next call goes on from
// its written count). `percentage`, when given, receives the current item's
// progress, 0 to 100.
uint32_t WriteNextChunk(FileSet* set, int32_t* percentage);

// Closes the file `item` holds open, if any, and clears its handle. True
// when it held one: its file was created for this run. What the close
// answers is not looked at; a handle that will not close is let go all the
// same.
bool CloseFileItem(FileItem* item);

// Told about each item as ReleaseFileSet lets it go: its data is freed and
// its file closed, its name and path are still there.
using ReleasedItemVisitor = void (*)(const FileItem& item, void* context);

// Frees each item's data and closes its file (CloseFileItem), in order; when
// `released` is given, it sees each item before the next one is released.
// Then frees the array and leaves the set empty (count 0, items null). Files
// on disk are left alone: deleting them is the cleanup's decision, which it
// makes in `released`, once the item's file is closed.
void ReleaseFileSet(FileSet* set, ReleasedItemVisitor released = nullptr, void* context = nullptr);
