// The extraction folder: the folder, named after the product code, in which
// every file of the package is kept, when it is there with its bytes, or
// created empty before the progress window writes it. The Windows "Installer" folder comes first; when that does not
// work, the user picks a base folder in the shell's folder browser.
#pragma once

#include <windows.h>

#include <cstdint>

#include "base/error_pair.h"
#include "base/held_folders_win32.h"
#include "package/file_set.h"
#include "ui/folder_path.h"

// Creates `<base>\<productCode>` and in it every file of `fileSet`, trying
// `%WINDIR%\Installer` as the base first and then, as often as it takes,
// a base folder the user picks in the folder browser (never when
// `unattended`: the run then ends as if the browser had been cancelled) (titled `browseTitle`,
// starting at GetDefaultBrowseFolder). Each attempt first holds every folder
// of the base's path from its drive root down (HoldFolderPath, into `held`),
// then opens the product folder inside the held base: made with a DACL only
// administrators can change (BuildProtectedFolderSecurity) when it is
// missing; taken when it exists only if it is no link and only
// Administrators, SYSTEM and TrustedInstaller can change it
// (OnlyAdministratorsMayChange). Every file is then made, compared and
// deleted relative to the held product folder. An attempt fails when a path
// does not fit its buffer, the browsed item has no file-system path, a
// folder of the path is a link, missing or on a network drive, the product
// folder cannot be taken, or a file cannot be created; everything that
// attempt created is closed and deleted again, what it kept and the folders
// are closed, the items' handle, written and path are cleared, and the
// product folder goes when it is empty.
//
// Each item's file is kept or made by KeepOrMakeFileItem
// (package/file_writer.h). A file already in the product folder is kept
// only when it is no link and holds exactly the item's bytes (`data`,
// `size`): it is then held, in `held`, by the handle it was compared
// through, and gets no write handle.
// Any other entry there (other bytes, a link) is removed by its name, a link
// itself and never its target, and the file is created anew with a
// disposition that fails if anything reappears in its place (CREATE_NEW):
// an unverified package must never reach msiexec. An item that repeats an
// earlier item's name and bytes is complete with that item's file and gets
// no handle.
//
// `folderPath`: kFolderPathSize bytes, zero-filled by the caller; `held`
// comes zeroed. On success `held` holds the base folder's path, to be let go
// (ReleaseHeldFolders) only after msiexec has ended and the cleanup is done,
// `folderPath` holds the product folder, which `fileSet->folder` holds open, every
// item's `path` is set and every file that was created is open for writing
// in its item's `handle` (the set owns the handles: package/file_writer.h
// closes them); returns code 0. When the user cancels or closes the browser:
// (1223, 2219), no item holds a handle or a path, no folder is held and
// `folderPath` is empty; the user has seen all there is to see, so the
// caller shows no error box for it.
ErrorPair PrepareExtractionFolder(FileSet* fileSet, HeldFolders* held, const char* productCode,
                                  const char* browseTitle, uint32_t unattended, char* folderPath);

// Fills `dest` (`size` bytes, zero-filled here) with the folder the browser
// starts at: the user's documents folder from the shell, else the "Personal"
// value of the user's shell folders in the registry (a string value only),
// else the current directory, with environment references expanded. A source
// whose text is empty, whose expansion does not fit or names nothing that
// exists counts as nothing found; when every source fails, `dest` stays
// empty. Nothing is created: the shell is asked without its create flag.
void GetDefaultBrowseFolder(char* dest, uint32_t size);

// The folder browser's callback: when the browser is initialised, selects
// the path text `data` in it. Always returns 0.
int CALLBACK BrowseCallbackProc(HWND window, UINT message, LPARAM parameter, LPARAM data);
