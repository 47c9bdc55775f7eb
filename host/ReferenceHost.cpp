#include "ReferenceHost.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "engine/StringTablesWin32.h"
#include "foundation/WideText.h"

std::string StripCommentLines(const std::string& text) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t first = text.find_first_not_of(" \t", start);
    if (first >= end || text[first] != '#') out.append(text, start, end - start);
    out += '\n';
    start = end + 1;
  }
  return out;
}

void ReferenceHost::AddConfiguration(const MString& text) {
  AppendParsedConfigText(config_, text);
}

bool ReferenceHost::AddConfigurationFile(const MString& path) {
  HANDLE file = CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got != 0) bytes.append(chunk, got);
  CloseHandle(file);
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);  // UTF-8 byte order mark
  AddConfiguration(FromUtf8(StripCommentLines(bytes).c_str()));
  return true;
}

MString ReferenceHost::Text(const char16_t* path, uint32_t index) const {
  return ConfigValue(FindConfigNodeInTexts(config_.get(), MString(path)), index);
}

uint32_t ReferenceHost::Number(const char16_t* path, uint32_t fallback) const {
  MString value = Text(path);
  if (value.IsEmpty()) return fallback;
  if (value.Length() > 2 && value[0] == u'0' && (value[1] == u'x' || value[1] == u'X')) {
    return static_cast<uint32_t>(wcstoul(W(value) + 2, nullptr, 16));
  }
  if (value[0] == u'-') {
    MString magnitude = value;
    magnitude.Consume(1);
    return 0u - ParseUnsigned(magnitude);
  }
  return ParseUnsigned(value);
}

bool ReferenceHost::Flag(const char16_t* path, bool fallback) const {
  MString value = Text(path);
  if (value.IsEmpty()) return fallback;
  return EqualsIgnoreAsciiCase(value, MString(u"true")) || ParseUnsigned(value) != 0;
}

void ReferenceHost::ReportStatus(int32_t, int32_t level, uint32_t code, MStringArg detail) {
  MString text = MString::Adopt(detail);
  if (statusStream_ != nullptr) {
    std::fprintf(statusStream_, "status level=%d code=%u detail=%s\n", level, code,
                 ToUtf8(text).c_str());
    std::fflush(statusStream_);
  }
  // Keep a copy in a buffer of our own: the report may outlive the library.
  MString own(text.CStr(), static_cast<int32_t>(text.Length()));
  reports_.push_back(StatusReport{level, code, own});
  log_.Add(level, code, own);
}

void ReferenceHost::LoadErrorLog() {
  const MConfigNode* node = FindConfigNodeInTexts(config_.get(), MString(u"ErrorLog"));
  for (uint32_t i = 0; i < ConfigValueCount(node); ++i) {
    std::string entry = ToUtf8(ConfigValue(node, i));
    char* end = nullptr;
    const long severity = std::strtol(entry.c_str(), &end, 10);
    const unsigned long code = std::strtoul(end, &end, 10);
    while (*end == ' ') ++end;
    log_.Add(static_cast<int32_t>(severity), static_cast<uint32_t>(code), FromUtf8(end));
  }
}

uint32_t ReferenceErrorLog::Count() {
  return static_cast<uint32_t>(entries_.size());
}

bool ReferenceErrorLog::Entry(uint32_t index, int32_t* severity, uint32_t* code, MString* detail) {
  if (index >= entries_.size()) return false;
  const Entry_& e = entries_[index];
  if (severity != nullptr) *severity = e.severity;
  if (code != nullptr) *code = e.code;
  if (detail != nullptr)
    *detail = MString(e.detail.CStr(), static_cast<int32_t>(e.detail.Length()));
  return true;
}

void ReferenceErrorLog::Format(MString* text, HostCallbacks* host, int32_t severity, uint32_t code,
                               MStringArg detailArg, int32_t) {
  MString detail = MString::Adopt(detailArg);
  if (text == nullptr) return;
  const MString path = MString(u"ErrorTexts.") + FormatNumber(code, 10);
  const uint32_t mapped =
      ParseUnsigned(ConfigValue(FindConfigNodeInTexts(host_->Configuration(), path), 0));
  MString found;
  HostCallbacks* texts = host != nullptr ? host : host_;
  if (mapped != 0) {
    texts->LoadHostString(&found, mapped, 1);
    *text = ReplaceAll(found, MString(u"^"), detail);
    return;
  }
  const uint32_t generic = severity >= 3 ? 52 : severity == 2 ? 53 : severity == 1 ? 54 : 55;
  texts->LoadHostString(&found, generic, 1);
  *text = ReplaceAll(found, MString(u"^"), FormatNumber(code, 10));
}

void ReferenceErrorLog::Add(int32_t severity, uint32_t code, const MString& detail) {
  entries_.push_back(Entry_{severity, code, detail});
}

namespace {

MConfigNode* CopyNodes(const MConfigNode* list) {
  MConfigNode* first = nullptr;
  MConfigNode** tail = &first;
  for (const MConfigNode* node = list; node != nullptr; node = node->next) {
    auto* copy = new MConfigNode();
    copy->name = node->name;
    copy->values = CopyNodes(node->values);
    copy->children = CopyNodes(node->children);
    *tail = copy;
    tail = &copy->next;
  }
  return first;
}

}  // namespace

// The "UpdateNotice" block, as one more entry at the front of the list.
bool ReferenceHost::GetUpdateNotice(MConfigNode** texts) {
  const MConfigNode* block = FindConfigNodeInTexts(config_.get(), MString(u"UpdateNotice"));
  if (texts == nullptr || block == nullptr) return false;
  auto* entry = new MConfigNode();
  entry->name = MString(u"UpdateNotice");
  entry->children = CopyNodes(block->children);
  entry->next = *texts;
  *texts = entry;
  return true;
}

void ReferenceHost::PrintCall(const char* text) const {
  if (callStream_ == nullptr) return;
  std::fputs(text, callStream_);
  std::fflush(callStream_);
}

// With `fromLibrary` 1 (the setup window's texts) the library's string table
// in the resource module answers first; with 0 (the library's own fallback)
// only the host's strings do, so the two lookups never call each other.
void ReferenceHost::LoadHostString(MString* text, uint32_t id, int32_t fromLibrary) {
  if (text == nullptr) return;
  if (fromLibrary == 1 && ResourceModule() != nullptr) {
    MString found = LoadTableString(static_cast<HMODULE>(ResourceModule()), id);
    if (!found.IsNull()) {
      *text = found;
      return;
    }
  }
  MString path = MString(u"HostStrings.") + FormatNumber(id, 10);
  const MConfigNode* node = FindConfigNodeInTexts(config_.get(), path);
  if (node != nullptr && node->values != nullptr) {
    *text = node->values->name;
    return;
  }
  // The setup window's two texts that the library's table leaves to hosts
  // (the progress percentage and the window title), unless configured.
  if (fromLibrary == 1 && id == 15) *text = MString(u"^%");
  if (fromLibrary == 1 && id == 29) *text = MString(u"Arvex Glint Player ^ Setup");
}

uint32_t ReferenceHost::GetHostFlags() {
  return Number(u"HostFlags", 0);
}
bool ReferenceHost::IsRunFinished() {
  return Flag(u"RunFinished", false);
}
bool ReferenceHost::IsRemovalRun() {
  return Flag(u"RemovalRun", false);
}

void ReferenceHost::GetOwnPath(MString* path) {
  MString configured = Text(u"OwnPath");
  if (!configured.IsNull()) {
    *path = configured;
    return;
  }
  wchar_t buffer[MAX_PATH + 1];
  DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  *path = FromWide(buffer, static_cast<int32_t>(length));
}

bool ReferenceHost::IsInteractive() {
  return Flag(u"Interactive", true);
}
bool ReferenceHost::ForceConflictListing() {
  return Flag(u"ForceConflictListing", false);
}
void ReferenceHost::ConflictsCleared(int32_t value) {
  PrintCall(("call slot=12 value=" + std::to_string(value) + "\n").c_str());
}
bool ReferenceHost::NeedsBrowserRestart() {
  return Flag(u"BrowserRestart", false);
}
bool ReferenceHost::IsFullRemoval() {
  return Flag(u"FullRemoval", false);
}

void ReferenceHost::NewPlayerFileName(const char16_t* type, MString* name, MString* text) const {
  MString path = MString(u"NewPlayerFileName.") + MString(type);
  const MConfigNode* node = FindConfigNodeInTexts(config_.get(), path);
  if (name != nullptr) *name = ConfigValue(node, 0);
  if (text != nullptr) *text = ConfigValue(node, 1);
}

void ReferenceHost::GetNewActiveXFileName(MString* name, MString* text) {
  NewPlayerFileName(u"ActiveX", name, text);
}
void ReferenceHost::GetNewPluginFileName(MString* name, MString* text) {
  NewPlayerFileName(u"Plugin", name, text);
}
void ReferenceHost::GetNewPepperFileName(MString* name, MString* text) {
  NewPlayerFileName(u"Pepper", name, text);
}
void ReferenceHost::GetUtilityFileName(MString* name) {
  *name = Text(u"UtilityFileNames", 0);
}
void ReferenceHost::GetSecondUtilityFileName(MString* name) {
  *name = Text(u"UtilityFileNames", 1);
}
void ReferenceHost::GetElevationPolicyText(MString* text) {
  *text = Text(u"ElevationPolicyText");
}
void ReferenceHost::GetUpdateServiceFileName(MString* name) {
  *name = Text(u"UpdateServiceFileName");
}
void ReferenceHost::GetFeedbackServiceFileName(MString* name) {
  *name = Text(u"FeedbackServiceFileName");
}
void ReferenceHost::GetHelperServiceFileName(MString* name) {
  *name = Text(u"HelperServiceFileName");
}
const MConfigNode* ReferenceHost::GetConfiguration() {
  return config_.get();
}
uint32_t ReferenceHost::GetInstallVector() {
  return Number(u"InstallVector", 0);
}
void ReferenceHost::GetPreviousVersion(MString* version) {
  *version = Text(u"PreviousVersion");
}
void ReferenceHost::GetRootCertificateOverride(MString* path, int32_t* flag) {
  if (path != nullptr) *path = Text(u"RootCertificateOverride");
  if (flag != nullptr) *flag = 0;
}
int32_t ReferenceHost::GetWindowsGeneration() {
  return static_cast<int32_t>(Number(u"WindowsGeneration", 3));
}
bool ReferenceHost::HideInstallStatus() {
  return Flag(u"HideInstallStatus", false);
}
bool ReferenceHost::WantsAnalytics() {
  return Flag(u"Analytics", false);
}
int32_t ReferenceHost::GetRightButtonMode() {
  return static_cast<int32_t>(Number(u"RightButtonMode", 0));
}
void ReferenceHost::StoreAutoUpdateChoice(int32_t mode) {
  PrintCall(("call slot=40 mode=" + std::to_string(mode) + "\n").c_str());
}
void ReferenceHost::UninstallCompleted() {
  PrintCall("call slot=41\n");
}
void ReferenceHost::RemovalFinished(int32_t) {
  ++removalsFinished_;
}

void ReferenceHost::GetServiceCheckPath(MString* path, uint32_t type) {
  *path = Text((MString(u"ServiceCheckPath.") + FormatNumber(type, 10)).CStr());
}

void ReferenceHost::GetProcessName(MString* name) {
  MString configured = Text(u"ProcessName");
  if (!configured.IsNull()) {
    *name = configured;
    return;
  }
  MString path;
  GetOwnPath(&path);
  MString file = FromLastOf(path, "\\");
  if (!file.IsEmpty()) file.Consume(1);
  *name = file.IsNull() ? path : file;
}

void ReferenceHost::GetHelperServiceFolder(MString* path) {
  *path = Text(u"HelperServiceFolder");
}

bool ReferenceHost::RunProgram(int32_t, MStringArg programArg, MStringArg argumentsArg,
                               uint32_t* exitCode, uint32_t* error) {
  MString program = MString::Adopt(programArg);
  MString arguments = MString::Adopt(argumentsArg);
  MString commandLine = MString(u"\"") + program + MString(u"\"");
  if (!arguments.IsEmpty()) commandLine += MString(u" ") + arguments;
  std::wstring mutableLine = W(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(W(program), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    if (error != nullptr) *error = GetLastError();
    return false;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (exitCode != nullptr) *exitCode = code;
  if (error != nullptr) *error = 0;
  return true;
}

std::string DescribeConfiguration(const MConfigNode* list, int depth) {
  std::string out;
  for (const MConfigNode* node = list; node != nullptr; node = node->next) {
    out.append(static_cast<size_t>(depth) * 2, ' ');
    out += ToUtf8(node->name);
    for (const MConfigNode* v = node->values; v != nullptr; v = v->next) {
      out += " \"" + ToUtf8(v->name) + "\"";
    }
    out += "\n";
    out += DescribeConfiguration(node->children, depth + 1);
  }
  return out;
}
