// A file item's whole life on disk, and the one owner of what it holds once
// the set is built: its file kept or made (KeepOrMakeFileItem), written by
// the chunked writer that the progress window drives, held and confirmed
// (HeldFileHoldsContent), closed (CloseFileItem) and deleted
// (DeleteFileItem), and the release of the whole set. Each step goes through
// one entry of the platform seam, here and nowhere else; the extraction
// folder, its rollback and the cleanup call in.
#pragma once

#include <cstdint>

#include "package/file_set.h"

// One step of the writer: writes at most chunkSize bytes of the item at the
// cursor, or finishes the item and moves to the next one. Finishing a
// written item closes its write handle and holds its file at once
// (OpenHeldFile): from then on nobody changes, replaces, renames or deletes
// it until the set is released. The held bytes are read back and must be the
// item's data (HeldFileHoldsContent), since another process may have got in
// between the close and the hold. Returns 234 (call again), 0 (every file
// written, closed and held) or 29, the cursor staying on the item: a write
// failed or was short (the next call goes on from its written count), or the
// file could not be held with its data (the next call makes it anew, RemoveFile and
// CreateNewFile, and writes it from its first byte). `percentage`, when
// given, receives the current item's progress, 0 to 100.
uint32_t WriteNextChunk(FileSet* set, int32_t* percentage);

// Whether the file `held` (OpenHeldFile, read from its start) holds exactly
// the `size` bytes at `data`: what the handle reads back is compared with the
// verified content, piece by piece on the stack, so nothing is allocated and
// the file is never loaded whole. The one confirmation of a file on disk,
// for one the writer finished and for one the extraction folder found there
// already. False when a read fails or the bytes or their number differ.
bool HeldFileHoldsContent(void* held, const uint8_t* data, uint32_t size);

// Readies the file at the item's name and path in the held product folder
// `folder` (never through a link): a file there already that holds the
// item's data is kept, held by the very handle it was compared through, and
// needs no writing; anything else there (other bytes, a link) goes by its
// name, and the item's file is created afresh, open for writing in `handle`,
// so that whatever takes its place meanwhile fails the creation. False, with
// nothing of the item open, when it cannot be created.
bool KeepOrMakeFileItem(void* folder, FileItem* item);

// Deletes the file at the item's name in `folder` (a link itself, never its
// target). The item's file must be closed (CloseFileItem) first. What the
// deletion answers is not looked at: a file that stays is left as it is.
void DeleteFileItem(void* folder, const FileItem& item);

// Closes what `item` holds open, if anything: its write handle and its held
// file; clears both. True when it held a write handle: its file was created
// for this run and is not finished. What a close answers is not looked at; a
// handle that will not close is let go all the same.
bool CloseFileItem(FileItem* item);

// Closes the product folder the set holds, if any, and clears it.
void CloseProductFolder(FileSet* set);

// Told about each item as ReleaseFileSet lets it go: its data is freed and
// its file closed, its name and path are still there.
using ReleasedItemVisitor = void (*)(const FileItem& item, void* context);

// Frees each item's data and closes its file (CloseFileItem), in order; when
// `released` is given, it sees each item before the next one is released.
// Then frees the array, leaves the set empty (count 0, items null) and closes
// the product folder last: whatever `released` deletes goes while the folder
// cannot be swapped for a link. Files on disk are left alone: deleting them
// is the cleanup's decision, which it makes in `released`, once the item's
// file is closed.
void ReleaseFileSet(FileSet* set, ReleasedItemVisitor released = nullptr, void* context = nullptr);
