// Ids of the launcher's own resources (resources/msilaunch.rc), shared by the
// resource script and the code that loads them. Free of <windows.h>: the
// resource compiler reads the #defines, C++ reads the typed constants.
#ifndef MSILAUNCH_RESOURCES_RESOURCE_IDS_H
#define MSILAUNCH_RESOURCES_RESOURCE_IDS_H

// String table, language 1033.
#define MSILAUNCH_IDS_INSTALLER_REQUIRED 100      // msiexec.exe is not on the search path
#define MSILAUNCH_IDS_CORRUPT_OR_UNSUPPORTED 101  // no payload, package or file set
#define MSILAUNCH_IDS_SELECT_FOLDER 102           // title inside the folder browser

#ifndef RC_INVOKED
// LoadStringA copies at most its buffer size less one, so these are also the
// texts' lengths the launcher's buffers (512, 256, 256 bytes) must hold.
constexpr unsigned kStringInstallerRequired = MSILAUNCH_IDS_INSTALLER_REQUIRED;
constexpr unsigned kStringCorruptOrUnsupported = MSILAUNCH_IDS_CORRUPT_OR_UNSUPPORTED;
constexpr unsigned kStringSelectFolder = MSILAUNCH_IDS_SELECT_FOLDER;

// The icon group is named, not numbered: LoadImageA takes this text as is.
constexpr char kAppIconName[] = "APP";
#endif

#endif  // MSILAUNCH_RESOURCES_RESOURCE_IDS_H
