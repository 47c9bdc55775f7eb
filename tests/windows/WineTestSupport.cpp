#include "WineTestSupport.h"

#include <shlobj.h>

#include <cstdio>
#include <cwchar>

#include "foundation/WideText.h"
#include "foundation/Win32Handles.h"

std::wstring Wide(const MString& s) {
  return std::wstring(W(s), s.Length());
}
MString M(const std::wstring& s) {
  return FromWide(s.c_str());
}
std::string Utf8Of(const wchar_t* text) {
  return ToUtf8(FromWide(text));
}

void RegistryLines(HKEY root, const std::wstring& path, std::set<std::string>* lines) {
  UniqueRegKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return;
  const std::string name8 = Utf8Of(path.c_str());
  lines->insert(name8);
  wchar_t name[16384];
  static BYTE data[1 << 20];  // the largest value a key may hold
  for (DWORD i = 0, length = 16384, type = 0, size = sizeof data - 2;
       RegEnumValueW(key.Get(), i, name, &length, nullptr, &type, data, &size) == ERROR_SUCCESS;
       ++i, length = 16384, size = sizeof data - 2) {
    data[size] = data[size + 1] = 0;
    std::string value = type == REG_DWORD ? "#" + std::to_string(*reinterpret_cast<DWORD*>(data))
                        : type == REG_SZ
                            ? Utf8Of(reinterpret_cast<wchar_t*>(data))
                            : std::to_string(type) + ":" + std::string(data, data + size);
    lines->insert(name8 + ":" + Utf8Of(name) + "=" + value);
  }
  std::vector<std::wstring> children;
  for (DWORD i = 0, length = 16384;
       RegEnumKeyExW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) == 0;
       ++i, length = 16384) {
    if (_wcsicmp(name, L"Wow6432Node") != 0) children.push_back(name);
  }
  for (const std::wstring& child : children) RegistryLines(root, path + L"\\" + child, lines);
}

void FolderLines(const std::wstring& folder, std::set<std::string>* lines) {
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  for (bool more = find.Valid(); more; more = FindNextFileW(find.Get(), &entry)) {
    if (!std::wcscmp(entry.cFileName, L".") || !std::wcscmp(entry.cFileName, L"..")) continue;
    std::wstring path = folder + L"\\" + entry.cFileName;
    lines->insert(Utf8Of(path.c_str()) + " " + std::to_string(entry.nFileSizeLow) + " " +
                  std::to_string(entry.ftLastWriteTime.dwLowDateTime));
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) FolderLines(path, lines);
  }
}

std::string LinesOnlyIn(const std::set<std::string>& a, const std::set<std::string>& b) {
  std::string text;
  for (const std::string& line : a)
    if (!b.contains(line)) text += line + "\n";
  return text;
}

void ShimTest::SetUp() {
  ASSERT_TRUE(library_.Load()) << "error " << library_.Error();
  Restart(u"");
}

void ShimTest::TearDown() {
  shim_.Reset();
}

void ShimTest::Restart(const char16_t* configuration) {
  shim_.Reset();
  host_ = std::make_unique<ReferenceHost>();
  host_->SetStatusStream(nullptr);
  host_->SetResourceModule(library_.Module());
  host_->AddConfiguration(MString(configuration));
  shim_.Reset(library_.Start()(host_.get()));
  ASSERT_TRUE(shim_);
}

ScratchRegistry::~ScratchRegistry() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(it->root, it->key.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
      continue;
    }
    if (it->existed) {
      RegSetValueExW(key, it->name.c_str(), 0, it->type, it->data.data(),
                     static_cast<DWORD>(it->data.size()));
    } else {
      RegDeleteValueW(key, it->name.c_str());
    }
    RegCloseKey(key);
  }
  for (auto it = createdKeys_.rbegin(); it != createdKeys_.rend(); ++it) {
    RegDeleteTreeW(it->first, it->second.c_str());
    RegDeleteKeyW(it->first, it->second.c_str());
  }
}

void ScratchRegistry::Save(HKEY root, const std::wstring& key, const std::wstring& name) {
  Saved saved{root, key, name, false, 0, {}};
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) == ERROR_SUCCESS) {
    DWORD size = 0;
    if (RegQueryValueExW(handle, name.c_str(), nullptr, &saved.type, nullptr, &size) ==
        ERROR_SUCCESS) {
      saved.data.resize(size);
      RegQueryValueExW(handle, name.c_str(), nullptr, &saved.type, saved.data.data(), &size);
      saved.existed = true;
    }
    RegCloseKey(handle);
  } else {
    // The highest missing key of the path goes at the end, with what lies under it.
    std::wstring created = key;
    for (size_t cut; (cut = created.rfind(L'\\')) != std::wstring::npos; created.resize(cut)) {
      if (RegOpenKeyExW(root, created.substr(0, cut).c_str(), 0, KEY_READ, &handle) ==
          ERROR_SUCCESS) {
        RegCloseKey(handle);
        break;
      }
    }
    createdKeys_.emplace_back(root, created);
  }
  saved_.push_back(std::move(saved));
}

void ScratchRegistry::Set(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type,
                          const void* data, size_t size) {
  Save(root, key, name);
  ASSERT_EQ(RegSetKeyValueW(root, key.c_str(), name.c_str(), type, data, static_cast<DWORD>(size)),
            ERROR_SUCCESS);
}

void ScratchRegistry::Remove(HKEY root, const std::wstring& key, const std::wstring& name) {
  Save(root, key, name);
  RegDeleteKeyValueW(root, key.c_str(), name.c_str());
}

namespace {
void RemovePath(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!DeleteFileW(path.c_str())) RemoveDirectoryW(path.c_str());
}
}  // namespace

ScratchFiles::~ScratchFiles() {
  for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
    RemovePath(it->path);
    if (it->hidden) MoveFileW((it->path + L".glint-aside").c_str(), it->path.c_str());
  }
}

void ScratchFiles::Folder(const std::wstring& path) {
  if (CreateDirectoryW(path.c_str(), nullptr)) steps_.push_back({false, path});
}

void ScratchFiles::File(const std::wstring& path, const std::string& content) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create file, error " << GetLastError();
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
  steps_.push_back({false, path});
}

void ScratchFiles::Copy(const std::wstring& from, const std::wstring& to) {
  ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << "copy failed " << GetLastError();
  steps_.push_back({false, to});
  steps_.push_back({false, to + L".log"});
}

void ScratchFiles::Hide(const std::wstring& path) {
  std::wstring aside = path + L".glint-aside";
  if (MoveFileW(path.c_str(), aside.c_str())) steps_.push_back({true, path});
}

std::wstring NewTempFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + name + L"-" + std::to_wstring(GetCurrentProcessId());
  RemoveTree(folder);
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(child);
      RemovePath(child);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadAll(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string content;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got != 0) content.append(chunk, got);
  CloseHandle(file);
  return content;
}

std::string WaitForContent(const std::wstring& path, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 50) {
    std::string content = ReadAll(path);
    if (!content.empty()) return content;
    Sleep(50);
  }
  return std::string();
}

std::wstring PendingRenames() {
  const wchar_t* key = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  DWORD size = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                   nullptr, nullptr, &size) != ERROR_SUCCESS) {
    return L"";
  }
  std::wstring text(size / sizeof(wchar_t), L'\0');
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                   nullptr, text.data(), &size) != ERROR_SUCCESS) {
    return L"";
  }
  text.resize(size / sizeof(wchar_t));
  for (wchar_t& unit : text) unit = unit == 0 ? L'|' : unit;
  return text;
}

std::wstring ProgramFolder() {
  return Wide(ExecutableFolder());
}
std::wstring RecorderPath() {
  return ProgramFolder() + L"\\cmdline_recorder.exe";
}

std::wstring KnownFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
  return path;
}

std::string Hex(HRESULT hr) {
  char text[16];
  snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

std::wstring ReportCodes(const ReferenceHost& host, size_t from) {
  std::wstring out;
  for (size_t i = from; i < host.Reports().size(); ++i) {
    out += std::to_wstring(host.Reports()[i].code) + L":" +
           std::to_wstring(host.Reports()[i].level) + L" ";
  }
  return out;
}

HANDLE StartHolder(const wchar_t* how, const std::wstring& path, const std::wstring& program) {
  const std::wstring holder = ProgramFolder() + L"\\file_holder.exe";
  if (!program.empty()) CopyFileW(holder.c_str(), program.c_str(), FALSE);
  std::wstring line =
      L"\"" + (program.empty() ? holder : program) + L"\" " + how + L" \"" + path + L"\"";
  DeleteFileW((path + L".held").c_str());
  UniqueHandle process = StartProgram(line, nullptr);
  if (!process) return nullptr;
  for (int i = 0; i < 160 && !Exists(path + L".held"); ++i) Sleep(50);
  return process.Release();
}

UniqueHandle StartProgram(std::wstring line, HANDLE output) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (output != nullptr) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = output;
  }
  // Wine has, rarely and for no cause found, refused to start a program
  // copied a moment before (error 1359): one more try after a pause, and
  // each refusal printed.
  PROCESS_INFORMATION process{};
  for (int attempt = 1; !CreateProcessW(nullptr, line.data(), nullptr, nullptr, output != nullptr,
                                        0, nullptr, nullptr, &startup, &process);
       ++attempt) {
    std::fprintf(stderr, "CreateProcessW refused (error %lu): %ls\n", GetLastError(), line.c_str());
    if (attempt == 2) return UniqueHandle();
    Sleep(500);
  }
  CloseHandle(process.hThread);
  return UniqueHandle(process.hProcess);
}

ProgramRun RunProgram(const std::wstring& line, DWORD ms) {
  static int runs = 0;
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  const std::wstring out = std::wstring(folder) + L"glint-run-" +
                           std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++runs) +
                           L".out";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  UniqueHandle file(CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, 0, nullptr));
  UniqueHandle process = file ? StartProgram(line, file.Get()) : UniqueHandle();
  DWORD code = ~0u;
  if (process && WaitForSingleObject(process.Get(), ms) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.Get(), &code);
  } else if (process) {
    TerminateProcess(process.Get(), 1);
    WaitForSingleObject(process.Get(), 5000);
  }
  file.Reset();
  ProgramRun run{code, process ? ReadAll(out) : "not started"};
  DeleteFileW(out.c_str());
  return run;
}
