#pragma once

// The program runs elevated, usually from the user's Downloads folder, where anything may lie
// beside it. Called first thing at the entry point: every DLL loaded from then on comes from the
// system folder. Where the system lacks SetDefaultDllDirectories, the system DLLs that the
// program imports late (on first use; see cmake/hardening.cmake) are loaded by their full system
// path at once, so that their first use finds them loaded instead of searching the program's
// folder.
void RestrictDllSearch();
