#pragma once

// True when the process token lists the built-in Administrators group. The group's attributes are
// not looked at, so a deny-only entry counts as membership.
bool IsUserAdmin();
