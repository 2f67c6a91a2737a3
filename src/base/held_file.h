#pragma once

// The setup runs elevated on files and folders in places that the user controls. What it checks
// it then uses through the handle it checked, held open so that nobody can rename, replace or
// delete it in between, and it reaches anything else by the path that handle leads to now, with
// no link left in it that could be re-pointed.
#include <windows.h>

#include <string>

#include "base/scoped_handle.h"

// Creates a new folder with the given security (null: inherited) and opens it in the same step:
// a name already taken, also by a link or someone else's folder, is a failure, so the handle is
// always of the folder made here. It is held until closed. Invalid, with the last error set, on
// failure.
ScopedHandle CreateFolderHeld(const std::wstring& path, SECURITY_ATTRIBUTES* security);

// Opens an existing folder, following links, and holds it until closed.
ScopedHandle OpenFolderHeld(const std::wstring& path);

// Opens an existing plain file for reading and holds it: others may read and run it but neither
// write, rename nor delete it until it is closed. A link or folder in its place is refused (last
// error ERROR_REPARSE_ATTRIBUTE_CONFLICT) rather than followed.
ScopedHandle OpenFileHeld(const std::wstring& path);

// Where the object of handle lies now, with every link resolved: "C:\..." where the path fits
// every API, else the "\\?\" form. Empty when the system cannot say.
std::wstring FinalPathOf(HANDLE handle);

// Whether two open handles are of the same file (volume and file index).
bool IsSameFile(HANDLE first, HANDLE second);
