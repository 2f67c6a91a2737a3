#pragma once

// Owners of what the security functions hand out with LocalAlloc, and the security attributes
// made from an access list written in the security descriptor language.
#include <windows.h>

#include <sddl.h>

#include <memory>

struct LocalFreer {
    void operator()(void* p) const { ::LocalFree(p); }
};
using ScopedLocalMemory = std::unique_ptr<void, LocalFreer>;

class SddlSecurityAttributes {
  public:
    explicit SddlSecurityAttributes(const wchar_t* szSddl) {
        PSECURITY_DESCRIPTOR pDescriptor = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(szSddl, SDDL_REVISION_1,
                                                                 &pDescriptor, nullptr)) {
            m_descriptor.reset(pDescriptor);
            m_attributes = {sizeof(m_attributes), pDescriptor, FALSE};
        }
    }
    // Null when the text could not be converted.
    SECURITY_ATTRIBUTES* get() { return m_descriptor ? &m_attributes : nullptr; }

  private:
    ScopedLocalMemory m_descriptor;
    SECURITY_ATTRIBUTES m_attributes = {};
};
