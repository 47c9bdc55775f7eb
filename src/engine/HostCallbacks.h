// The host's interface, implemented by the host executable and called by the
// library by slot number. One virtual function per slot, in slot order; the
// slots the library never calls keep their place under a reserved name.
//
// Strings go in as MStringArg (the receiver adopts the reference) and come
// back through MString out-parameters that the host assigns.
#pragma once

#include <cstdint>

#include "foundation/MConfigNode.h"
#include "foundation/MString.h"

class HostErrorLog;

// Player types, alone or as masks.
enum PlayerType : uint32_t {
  kPlayerActiveX = 8,
  kPlayerPlugin = 16,
  kPlayerPepper = 32768,
};

// Host flag bits beside the player types.
constexpr uint32_t kHostFlagOrdinaryBuild = 1024;

// Report levels of ReportStatus.
enum StatusLevel : int32_t {
  kStatusProgress = 0,
  kStatusError = 1,
  kStatusAtRestart = 2,
};

class HostCallbacks {
 public:
  explicit HostCallbacks(void* resourceModule = nullptr) : resourceModule_(resourceModule) {}

  virtual void Dispose() {}                                                              // 0
  virtual void ReportStatus(int32_t, int32_t level, uint32_t code, MStringArg detail) {  // 1
    MString::Adopt(detail);
    (void)level;
    (void)code;
  }
  virtual void Reserved2() {}  // 2
  // Answers through `text` only: the library relies on no result.
  virtual void LoadHostString(MString* text, uint32_t id, int32_t) {  // 3
    (void)text;
    (void)id;
  }
  virtual HostErrorLog* GetErrorLog() { return nullptr; }  // 4
  virtual uint32_t GetHostFlags() { return 0; }            // 5
  virtual bool IsRunFinished() { return false; }           // 6
  virtual bool IsRemovalRun() { return false; }            // 7
  virtual bool ExpandImage(uint8_t* out, uint32_t outSize, const uint8_t* in,
                           uint32_t inSize) {  // 8
    (void)out, (void)outSize, (void)in, (void)inSize;
    return false;
  }
  virtual void GetOwnPath(MString* path) { (void)path; }              // 9
  virtual bool IsInteractive() { return true; }                       // 10
  virtual bool ForceConflictListing() { return false; }               // 11
  virtual void ConflictsCleared(int32_t) {}                           // 12
  virtual bool NeedsBrowserRestart() { return false; }                // 13
  virtual bool IsFullRemoval() { return false; }                      // 14
  virtual void GetNewActiveXFileName(MString* name, MString* text) {  // 15
    (void)name, (void)text;
  }
  virtual void GetNewPluginFileName(MString* name, MString* text) {  // 16
    (void)name, (void)text;
  }
  virtual void GetNewPepperFileName(MString* name, MString* text) {  // 17
    (void)name, (void)text;
  }
  virtual void GetUtilityFileName(MString* name) { (void)name; }          // 18
  virtual void GetSecondUtilityFileName(MString* name) { (void)name; }    // 19
  virtual void GetElevationPolicyText(MString* text) { (void)text; }      // 20
  virtual void GetUpdateServiceFileName(MString* name) { (void)name; }    // 21
  virtual void GetFeedbackServiceFileName(MString* name) { (void)name; }  // 22
  virtual void GetHelperServiceFileName(MString* name) { (void)name; }    // 23
  virtual const MConfigNode* GetConfiguration() { return nullptr; }       // 24
  virtual uint32_t GetInstallVector() { return 0; }                       // 25
  // The root certificate the broker verifies add-ins against: a file whose
  // whole content replaces the built-in root when the path is not empty.
  virtual void GetRootCertificateOverride(MString* path, int32_t* flag) {  // 26
    (void)path, (void)flag;
  }
  virtual void GetPreviousVersion(MString* version) { (void)version; }  // 27
  virtual bool GetUpdateNotice(MConfigNode** texts) {                   // 28
    (void)texts;
    return false;
  }
  virtual void Reserved29() {}                                      // 29
  virtual void Reserved30() {}                                      // 30
  virtual void Reserved31() {}                                      // 31
  virtual int32_t GetWindowsGeneration() { return 3; }              // 32
  virtual void Reserved33() {}                                      // 33
  virtual bool HideInstallStatus() { return false; }                // 34
  virtual void Reserved35() {}                                      // 35
  virtual void Reserved36() {}                                      // 36
  virtual void Reserved37() {}                                      // 37
  virtual bool WantsAnalytics() { return false; }                   // 38
  virtual int32_t GetRightButtonMode() { return 0; }                // 39
  virtual void StoreAutoUpdateChoice(int32_t mode) { (void)mode; }  // 40
  virtual void UninstallCompleted() {}                              // 41
  virtual void Reserved42() {}                                      // 42
  virtual void RemovalFinished(int32_t) {}                          // 43
  virtual void Reserved44() {}                                      // 44
  virtual void Reserved45() {}                                      // 45
  virtual void Reserved46() {}                                      // 46
  virtual void GetServiceCheckPath(MString* path, uint32_t type) {  // 47
    (void)path, (void)type;
  }
  virtual void GetProcessName(MString* name) { (void)name; }                  // 48
  virtual void GetHelperServiceFolder(MString* path) { (void)path; }          // 49
  virtual void Reserved50() {}                                                // 50
  virtual void Reserved51() {}                                                // 51
  virtual void Reserved52() {}                                                // 52
  virtual bool RunProgram(int32_t, MStringArg program, MStringArg arguments,  // 53
                          uint32_t* exitCode, uint32_t* error) {
    MString::Adopt(program);
    MString::Adopt(arguments);
    (void)exitCode, (void)error;
    return false;
  }

  // Read directly by the library: the module holding the localised strings
  // and setup resources (the third pointer-sized field of the object).
  void* ResourceModule() const { return resourceModule_; }
  void SetResourceModule(void* module) { resourceModule_ = module; }

 protected:
  ~HostCallbacks() = default;

  void* reserved_ = nullptr;  // the word between the table and the module handle
  void* resourceModule_;
};

constexpr uint32_t kHostCallbackSlots = 54;
