// The reference host's answers to the library's callbacks. Every answer that
// only a host knows comes from the host configuration text, so tests and the
// demo can set flags, file names, install vector, generation and so on:
//
//   HostFlags 1040;            // player types and build bits
//   InstallVector 2;
//   WindowsGeneration 3;
//   NewPlayerFileName { ActiveX "GlintAX.ocx" "glintax.exe"; Plugin "NPGlint.dll"; };
//   HostStrings { 7 "Installed ^"; }
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "engine/HostCallbacks.h"
#include "engine/HostErrorLog.h"
#include "foundation/MConfigNode.h"
#include "foundation/MString.h"

struct StatusReport {
  int32_t level;
  uint32_t code;
  MString detail;
};

class ReferenceHost;

// The host's error log: every status report, after the "ErrorLog" entries
// of the configuration ("SEVERITY CODE [DETAIL]" each). An entry reads as the
// text the "ErrorTexts" block maps its code to (CODE ID; "^" is the
// detail), else as texts 52 to 55 by severity ("^" is the code).
class ReferenceErrorLog final : public HostErrorLog {
 public:
  struct Entry_ {
    int32_t severity;
    uint32_t code;
    MString detail;
  };
  explicit ReferenceErrorLog(ReferenceHost* host) : host_(host) {}
  ~ReferenceErrorLog() = default;
  uint32_t Count() override;
  bool Entry(uint32_t index, int32_t* severity, uint32_t* code, MString* detail) override;
  void Format(MString* text, HostCallbacks* host, int32_t severity, uint32_t code,
              MStringArg detail, int32_t reserved) override;
  void Add(int32_t severity, uint32_t code, const MString& detail);

 private:
  ReferenceHost* host_;
  std::vector<Entry_> entries_;
};

class ReferenceHost final : public HostCallbacks {
 public:
  ReferenceHost() : log_(this) {}
  ~ReferenceHost() = default;

  // Adds one configuration text; later texts are searched first.
  void AddConfiguration(const MString& text);
  // Reads a UTF-8 configuration file; false when it cannot be read.
  bool AddConfigurationFile(const MString& path);
  const MConfigNode* Configuration() const { return config_.get(); }

  // Where status lines go (stderr unless set); null keeps them silent.
  void SetStatusStream(FILE* stream) { statusStream_ = stream; }
  const std::vector<StatusReport>& Reports() const { return reports_; }
  // How often the library said that a removal finished (slot 43).
  int RemovalsFinished() const { return removalsFinished_; }

  // Configuration lookups used by the answers below.
  MString Text(const char16_t* path, uint32_t index = 0) const;
  uint32_t Number(const char16_t* path, uint32_t fallback) const;
  bool Flag(const char16_t* path, bool fallback) const;

  // The setup window's calls of slots 12, 40 and 41 are printed here
  // (stdout unless set; null keeps them silent).
  void SetCallStream(FILE* stream) { callStream_ = stream; }
  ReferenceErrorLog& ErrorLog() { return log_; }
  // Puts the configuration's "ErrorLog" entries into the log.
  void LoadErrorLog();

  void ReportStatus(int32_t, int32_t level, uint32_t code, MStringArg detail) override;
  HostErrorLog* GetErrorLog() override { return &log_; }
  bool GetUpdateNotice(MConfigNode** texts) override;
  void LoadHostString(MString* text, uint32_t id, int32_t fromLibrary) override;
  uint32_t GetHostFlags() override;
  bool IsRunFinished() override;
  bool IsRemovalRun() override;
  void GetOwnPath(MString* path) override;
  bool IsInteractive() override;
  bool ForceConflictListing() override;
  void ConflictsCleared(int32_t) override;
  bool NeedsBrowserRestart() override;
  bool IsFullRemoval() override;
  void GetNewActiveXFileName(MString* name, MString* text) override;
  void GetNewPluginFileName(MString* name, MString* text) override;
  void GetNewPepperFileName(MString* name, MString* text) override;
  void GetUtilityFileName(MString* name) override;
  void GetSecondUtilityFileName(MString* name) override;
  void GetElevationPolicyText(MString* text) override;
  void GetUpdateServiceFileName(MString* name) override;
  void GetFeedbackServiceFileName(MString* name) override;
  void GetHelperServiceFileName(MString* name) override;
  const MConfigNode* GetConfiguration() override;
  uint32_t GetInstallVector() override;
  void GetRootCertificateOverride(MString* path, int32_t* flag) override;
  void GetPreviousVersion(MString* version) override;
  int32_t GetWindowsGeneration() override;
  bool HideInstallStatus() override;
  bool WantsAnalytics() override;
  int32_t GetRightButtonMode() override;
  void StoreAutoUpdateChoice(int32_t mode) override;
  void UninstallCompleted() override;
  void RemovalFinished(int32_t) override;
  void GetServiceCheckPath(MString* path, uint32_t type) override;
  void GetProcessName(MString* name) override;
  void GetHelperServiceFolder(MString* path) override;
  bool RunProgram(int32_t, MStringArg program, MStringArg arguments, uint32_t* exitCode,
                  uint32_t* error) override;

 private:
  void NewPlayerFileName(const char16_t* type, MString* name, MString* text) const;

  void PrintCall(const char* text) const;

  MConfigList config_;
  ReferenceErrorLog log_;
  FILE* callStream_ = stdout;
  FILE* statusStream_ = stderr;
  std::vector<StatusReport> reports_;
  int removalsFinished_ = 0;
};

// The text without lines whose first non-blank character is '#': comments
// are the host's own addition to the files it reads.
std::string StripCommentLines(const std::string& text);

// Text of a configuration tree, one node a line, for people to read.
std::string DescribeConfiguration(const MConfigNode* list, int depth = 0);
