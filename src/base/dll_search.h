#pragma once

// The program runs elevated, usually from the user's Downloads folder, where anything may lie
// beside it. Called first thing, before any start-up code (from a TLS callback): every DLL loaded
// from then on comes from the system folder. Where the system lacks SetDefaultDllDirectories, the
// system DLLs that the program and its start-up code load late (see cmake/hardening.cmake) are
// loaded by their full system path at once, their own imports looked for beside them, so that
// their first use finds them loaded instead of searching the program's folder.
void RestrictDllSearch();

// What RestrictDllSearch does where the system lacks SetDefaultDllDirectories: the safe search
// mode, and the late DLLs loaded by their full system path. Tests call it on systems that have
// the function.
void RestrictDllSearchWithoutDefaultDirectories();
