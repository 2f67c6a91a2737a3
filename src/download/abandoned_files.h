#pragma once

// The files of attempts that were given up while their threads still ran. Such a thread removes
// its file when it ends, but the process may end first.

// Remembers the file of an attempt that was given up.
void RememberAbandonedFile(const wchar_t* szFile);

// Removes the files of the attempts that were given up while their threads still ran, and the
// part of the package kept for a later try; a file still in use is scheduled for removal at the
// next restart instead. The workflow's clean-up calls this before it removes (or schedules) the
// download folder, which they would otherwise keep.
void RemoveAbandonedAttemptFiles();
