// Pieces shared by the tests that run under Wine: a started library with a
// reference host, registry and file scratch state that is put back, and the
// command-line recorder stand-in.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "GlintLibrary.h"
#include "ReferenceHost.h"
#include "foundation/MString.h"
#include "foundation/Win32Handles.h"

// Wide text of an MString, for assertions and Win32 calls.
std::wstring Wide(const MString& s);
MString M(const std::wstring& s);
std::string Utf8Of(const wchar_t* text);

// Every key and value under a key, one line each ("key", "key:name=value",
// a DWORD as "#n", a string as its text, anything else as "type:bytes"),
// leaving out the 32-bit view, which links back into the tree; and every
// entry under a folder with its size and write time. For before/after
// comparisons of what an operation changed.
void RegistryLines(HKEY root, const std::wstring& path, std::set<std::string>* lines);
void FolderLines(const std::wstring& folder, std::set<std::string>* lines);
// The lines of `a` that `b` lacks, each ended by a newline.
std::string LinesOnlyIn(const std::set<std::string>& a, const std::set<std::string>& b);

// The library loaded from the tests' folder, started with a ReferenceHost
// whose configuration the test chooses.
class ShimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Restarts the shim with the given host configuration text.
  void Restart(const char16_t* configuration);
  GlintBrokerShim* shim() const { return shim_.Get(); }

  std::unique_ptr<ReferenceHost> host_;
  GlintLibrary library_;
  ShimHandle shim_;
};

// Sets a registry value for the length of a test and puts back what was
// there (or removes what was not) afterwards. Keys it had to create are
// removed again too.
class ScratchRegistry {
 public:
  ScratchRegistry() = default;
  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;
  ~ScratchRegistry();
  void SetDword(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value) {
    Set(root, key, name, REG_DWORD, &value, sizeof value);
  }
  void SetString(HKEY root, const std::wstring& key, const std::wstring& name,
                 const std::wstring& value) {
    Set(root, key, name, REG_SZ, value.c_str(), (value.size() + 1) * sizeof(wchar_t));
  }
  // Removes the value (restored afterwards when it existed).
  void Remove(HKEY root, const std::wstring& key, const std::wstring& name);
  // A value of any type.
  void Set(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type,
           const void* data, size_t size);

 private:
  struct Saved {
    HKEY root;
    std::wstring key;
    std::wstring name;
    bool existed;
    DWORD type;
    std::vector<BYTE> data;
  };
  void Save(HKEY root, const std::wstring& key, const std::wstring& name);
  std::vector<Saved> saved_;
  std::vector<std::pair<HKEY, std::wstring>> createdKeys_;
};

// Files and folders that a test creates, and files it moves out of the way;
// everything is undone in reverse order at the end.
class ScratchFiles {
 public:
  ScratchFiles() = default;
  ScratchFiles(const ScratchFiles&) = delete;
  ScratchFiles& operator=(const ScratchFiles&) = delete;
  ~ScratchFiles();
  void Folder(const std::wstring& path);
  void File(const std::wstring& path, const std::string& content = "");
  void Copy(const std::wstring& from, const std::wstring& to);
  // Moves an existing file out of the way for the test.
  void Hide(const std::wstring& path);

 private:
  struct Step {
    bool hidden;  // moved aside (else created)
    std::wstring path;
  };
  std::vector<Step> steps_;
};

// A fresh folder under the temporary folder, removed with its contents.
std::wstring NewTempFolder(const wchar_t* name);
void RemoveTree(const std::wstring& path);
bool Exists(const std::wstring& path);
std::string ReadAll(const std::wstring& path);
// Waits up to `ms` for a file to exist with content; returns the content.
std::string WaitForContent(const std::wstring& path, DWORD ms = 8000);
// The names the system moves or deletes at the next restart
// (PendingFileRenameOperations), every string ended by "|"; empty when none.
std::wstring PendingRenames();
std::wstring ProgramFolder();         // folder of the running test program
std::wstring KnownFolder(int csidl);  // SHGetFolderPathW's answer, empty on failure
std::string Hex(HRESULT hr);          // "0x%08lX", for readable failures
std::wstring RecorderPath();
// Starts a program: `line` begins with its quoted path. Its output and
// errors go to `output` (inherited) when given, else to this program's.
// The process handle, empty when it did not start.
UniqueHandle StartProgram(std::wstring line, HANDLE output = nullptr);
// Runs a program to its end, at most `ms`: its exit code (~0u when it did
// not start or end; one that does not end is stopped) and what it wrote.
struct ProgramRun {
  DWORD code;
  std::string output;
};
ProgramRun RunProgram(const std::wstring& line, DWORD ms = 60000);
// Starts file_holder.exe, or a copy of it at `program` (another image name),
// holding `path` as `how` ("module", "open", ...), and waits until it says
// it does. The process handle, null when it did not start.
HANDLE StartHolder(const wchar_t* how, const std::wstring& path, const std::wstring& program = {});
// The host's status reports from the `from`th on, as "code:level " each.
std::wstring ReportCodes(const ReferenceHost& host,
                         size_t from = 0);  // cmdline_recorder.exe beside the tests
