#include "app/user_admin.h"

#include <windows.h>

#include "base/scoped_handle.h"

namespace {

constexpr DWORD kTokenGroupsBytes = 10240;

}  // namespace

bool IsUserAdmin() {
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return false;

    // DWORD-aligned storage for the TOKEN_GROUPS record.
    DWORD storage[kTokenGroupsBytes / sizeof(DWORD)];
    DWORD returned = 0;
    BOOL got = GetTokenInformation(token.get(), TokenGroups, storage, kTokenGroupsBytes, &returned);
    token.reset();
    if (!got) return false;
    const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(storage);

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
        return false;
    }
    bool found = false;
    for (DWORD i = 0; i < groups->GroupCount && !found; ++i) {
        found = EqualSid(groups->Groups[i].Sid, administrators) != FALSE;
    }
    FreeSid(administrators);
    return found;
}
