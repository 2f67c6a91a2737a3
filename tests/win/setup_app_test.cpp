// The application object's start-up checks: the administrator test and which owner of the
// single-instance mutex counts as another copy of the setup.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include "app/setup_app.h"
#include "base/security_descriptor.h"
#include "base/scoped_handle.h"

namespace {

TEST(IsUserAdmin, IsTrueForAnElevatedToken) { EXPECT_TRUE(IsUserAdmin()); }

// Another copy holds the mutex only where its owner could be this user or an administrator:
// any other account may squat the name and must not stop the setup.
TEST(IsMutexOwnerTrusted, OnlyAdministratorsSystemAndThisUserCount) {
    struct Case {
        const wchar_t* szSddl;  // null: the process's own default security
        bool bTrusted;
    };
    const Case kCases[] = {
        {nullptr, true},
        {L"O:BAD:(A;;GA;;;WD)", true},
        {L"O:SYD:(A;;GA;;;WD)", true},
        {L"O:BUD:(A;;GA;;;WD)", false},
        {L"O:WDD:(A;;GA;;;WD)", false},
        {L"O:AND:(A;;GA;;;WD)", false},
    };
    for (const Case& c : kCases) {
        SddlSecurityAttributes security(c.szSddl != nullptr ? c.szSddl : L"D:(A;;GA;;;WD)");
        ScopedHandle mutex(
            CreateMutexW(c.szSddl != nullptr ? security.get() : nullptr, FALSE, nullptr));
        ASSERT_TRUE(mutex.valid()) << GetLastError();
        EXPECT_EQ(IsMutexOwnerTrusted(mutex.get()), c.bTrusted)
            << (c.szSddl != nullptr ? c.szSddl : L"default");
    }
}

}  // namespace
