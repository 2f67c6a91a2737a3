#pragma once

// The run's download folder: a new, empty folder with a unique name inside the user's temporary
// folder, where the package, its decoding and the installer are written.
#include <windows.h>

#include "app/installer_launch.h"
#include "base/scoped_handle.h"

// Creates the folder, names the files in it, and holds it open in *pFolder: nobody can rename or
// delete it until the handle is closed, and the run reaches it by the path that leads to it now.
// Where this process can use the Administrators group, only SYSTEM and Administrators may touch
// the folder, and it must lie on a volume that keeps that access list. False, with the reason
// traced, when the temporary folder is unusable or its path has 260 characters or more, or when
// the folder cannot be made or fails its checks.
bool CreateDownloadFolder(SetupPaths* pPaths, ScopedHandle* pFolder);

// Whether the token can use the Administrators group (not only to deny access).
bool CanUseAdministratorsGroup();

// Whether an access list lets nobody in but SYSTEM, Administrators and the owner, with nothing
// inherited from the folder above.
bool IsProtectedFolderSecurity(PSECURITY_DESCRIPTOR pDescriptor);
