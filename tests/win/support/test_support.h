#pragma once

#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under the temporary folder, removed with its files when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return m_path; }
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

  private:
    std::wstring m_path;
};

// Points GetTempPathW at another folder while it lives.
class TemporaryFolderOverride {
  public:
    explicit TemporaryFolderOverride(const std::wstring& folder);
    ~TemporaryFolderOverride();
    TemporaryFolderOverride(const TemporaryFolderOverride&) = delete;
    TemporaryFolderOverride& operator=(const TemporaryFolderOverride&) = delete;

  private:
    std::wstring m_old;
};

bool WriteBytes(const std::wstring& path, const std::vector<unsigned char>& bytes);
bool ReadBytes(const std::wstring& path, std::vector<unsigned char>* bytes);
bool FileExists(const std::wstring& path);
// A file's bytes as text, or "(missing)" when it cannot be read.
std::string FileText(const std::wstring& path);

// An environment variable, or the empty text when it is not set.
std::wstring Env(const wchar_t* name);

// A file in the folder of the running test program.
std::wstring BesideTestProgram(const std::wstring& name);

// A program of <build>/fixtures by its target name, and a copy of it at target.
std::wstring Fixture(const wchar_t* name);
bool CopyFixture(const wchar_t* name, const std::wstring& target);

// How the recorder fixture was started: "<its path>.cmdline" holds the command line and, after a
// line feed, the current folder.
struct StartRecord {
    std::wstring commandLine;
    std::wstring currentFolder;
};
// Waits up to timeoutMs (ten seconds unless told) for the record of the recorder at path; false
// when none came.
bool WaitForStartRecord(const std::wstring& path, StartRecord* record, unsigned timeoutMs = 10000);

}  // namespace testsupport
