#pragma once

// A one-line description of the operating system, composed from the WMI operating-system object
// and the CurrentVersion registry values.

// Characters of a description buffer, terminator included.
constexpr int kOsDescriptionChars = 260;

// One operating-system object; a null text or a false flag stands for a property whose Get
// failed.
struct OsObjectProperties {
    const wchar_t* szCaption = nullptr;
    const wchar_t* szArchitecture = nullptr;
    bool bServicePackMajor = false;
    short nServicePackMajor = 0;
    bool bServicePackMinor = false;
    short nServicePackMinor = 0;
    const wchar_t* szVersion = nullptr;
};

// The CurrentVersion values; a null text or a false flag stands for a value that cannot be read.
struct OsRegistryValues {
    const wchar_t* szCurrentBuild = nullptr;
    const wchar_t* szDisplayVersion = nullptr;
    bool bUbr = false;
    unsigned long dwUbr = 0;
};

// Where a description's facts come from: the operating-system objects, then the registry.
class OsDescriptionSource {
  public:
    virtual ~OsDescriptionSource() = default;
    // The next object's properties, or false when there is none left. The texts stay valid
    // until the next call.
    virtual bool NextObject(OsObjectProperties* pProperties) = 0;
    // The CurrentVersion values, read afresh. The texts stay valid until the next call.
    virtual OsRegistryValues ReadRegistry() = 0;
};

// Composes the description of every object into szDescription (kOsDescriptionChars): caption,
// architecture, service pack and version, each object appended to the one before; an object
// without a caption replaces the text with "Unknown OS version !". No object leaves it empty.
// Gives false when a registry value that a version needs is missing; the text then ends in
// " version " or in the display version's "-". Overlong text is cut to fit.
bool ComposeOSDescription(OsDescriptionSource& source, wchar_t* szDescription);

// Describes the running system into szDescription (kOsDescriptionChars) through WMI and the
// registry (Windows only). Gives false for a null buffer, a failing COM or WMI step, or a
// missing registry value; the buffer then holds what was composed.
bool GetOSDescription(wchar_t* szDescription);
