// The table of operations that Start hands to the host. One virtual function
// per slot, in slot order; slot 0 destroys the engine and the shim. String
// arguments are MStringArg (the operation adopts the reference), out-strings
// are MString objects the operation assigns.
#pragma once

#include <cstdint>

#include "foundation/MConfigNode.h"
#include "foundation/MString.h"
#include "foundation/MStringList.h"

class HostCallbacks;
class SetupEngine;
class ZavuzER;
class MWindow;

class GlintBrokerShim {
 public:
  explicit GlintBrokerShim(HostCallbacks* host);
  GlintBrokerShim(const GlintBrokerShim&) = delete;
  GlintBrokerShim& operator=(const GlintBrokerShim&) = delete;

  virtual void Destroy();                                                           // 0
  virtual void LoadLocalizedString(MString* text, uint32_t id, bool hostFallback);  // 1
  virtual ZavuzER* CreateSetupWindow();                                             // 2
  virtual void DestroySetupWindow(ZavuzER* ui);                                     // 3
  virtual bool CheckForUpdate(uint32_t playerType, uint32_t installVector, uint32_t errorCode,
                              uint32_t windowsError);                                     // 4
  virtual bool IsReleaseType(uint32_t mask, uint32_t releaseType);                        // 5
  virtual bool CheckInstallable(uint32_t mask, uint32_t* error, uint32_t releaseType);    // 6
  virtual bool IsUacEnabled();                                                            // 7
  virtual bool PrepareUninstall(uint32_t type, MStringArg dir, bool removeSafeVersions);  // 8
  virtual bool RegisterPlayer(uint32_t type, MStringArg playerPath, MStringArg uninstallerPath,
                              uint32_t ignored, bool writeArpEntry);               // 9
  virtual bool RemoveSystemUpdateService(uint32_t ignored, MStringArg systemDir);  // 10
  virtual bool UninstallPlayer(uint32_t type, MStringArg systemDir, bool removeSafeVersions,
                               bool setNotify, bool skipPartnerCheck, uint32_t* code);  // 11
  virtual bool RemoveListedFiles(uint32_t mask, MStringArg dir);                        // 12
  virtual bool RemoveUpdateService(MStringArg path, bool setNotify);                    // 13
  virtual bool RemoveNamedFile(MStringArg name, MStringArg path);                       // 14
  virtual bool RemoveFilesByPattern(uint32_t mask, MStringArg dir);                     // 15
  virtual bool RefreshIEElevationPolicy();                                              // 16
  virtual bool RemoveHelperService(MStringArg path, bool skipPartnerCheck);             // 17
  virtual bool UninstallAssistant();                                                    // 18
  virtual bool RemoveFeedbackService(MStringArg feedbackPath, MStringArg updatePath,
                                     bool forced);                                   // 19
  virtual bool RemovePerUserData();                                                  // 20
  virtual bool GetProfilesRoot(char16_t* buffer);                                    // 21
  virtual bool PathHasReparsePoint(MStringArg path);                                 // 22
  virtual bool PrepareRegistration(MStringArg brokerPath, uint32_t type);            // 23
  virtual bool RegisterActiveXControl(MStringArg path);                              // 24
  virtual bool RegisterPluginEntry(MStringArg path);                                 // 25
  virtual bool UnregisterActiveXControl(bool removeSafeVersions, uint32_t ignored);  // 26
  virtual bool RepairControlPermissions();                                           // 27
  virtual int32_t RunBrokerServer();                                                 // 28
  virtual SetupEngine* GetEngine();                                                  // 29
  virtual MStringList* GetActiveXFileNames();                                        // 30
  virtual MStringList* GetPluginFileNames();                                         // 31
  virtual MStringList* GetBrowserPluginFolders();                                    // 32
  virtual MStringList* GetActiveXFilePatterns();                                     // 33
  virtual MStringList* GetPluginFilePatterns();                                      // 34
  virtual MStringList* GetPepperFilePatterns();                                      // 35
  virtual MStringList* GetProductFolderPatterns();                                   // 36
  virtual MStringList* GetUserBinListing();                                          // 37
  virtual MStringList* GetOtherFilePatterns();                                       // 38
  virtual bool RecordConflictingProcesses(uint32_t mask);                            // 39
  virtual bool ClearConflictingProcesses();                                          // 40
  virtual MStringList* FindConflictingProcesses(uint32_t mask);                      // 41
  virtual MStringList* GetActiveXKeepList();                                         // 42
  virtual MStringList* GetPluginKeepList();                                          // 43
  virtual MStringList* GetPepperKeepList();                                          // 44
  virtual bool AddActiveXKeep(MStringArg name);                                      // 45
  virtual bool AddPluginKeep(MStringArg name);                                       // 46
  virtual bool AddPepperKeep(MStringArg name);                                       // 47
  virtual bool LoadFileLists();                                                      // 48
  virtual bool RejectOfferedUpdate();                                                // 49
  virtual bool GetNoticeContent(MConfigNode** texts);                                // 50
  virtual bool GetOfferedVersion(MString* version);                                  // 51
  virtual bool ParseNoticeContent(MConfigNode** texts, MStringArg text);             // 52
  virtual bool ExtractMetaText(MStringArg text, MString* content);                   // 53
  virtual bool ExtractUpdateVersion(MStringArg text, MString* version);              // 54
  virtual bool NoOperation(MStringArg ignored);                                      // 55
  virtual bool FindBrowser();                                                        // 56
  virtual bool OpenExpressInstallPage(MWindow* window);                              // 57
  virtual bool LaunchBrowser(MWindow* window, MStringArg url);                       // 58
  virtual bool OpenControlPanelApplet();                                             // 59
  virtual bool IsRealPlayer6();                                                      // 60
  virtual uint32_t CompareInstalledVersion(uint32_t type);                           // 61
  virtual bool WasRegistered();                                                      // 62

  HostCallbacks* Host() const { return host_; }
  const MString& BrowserPath() const { return browserPath_; }
  // False when the engine could not be allocated.
  bool IsComplete() const { return engine_ != nullptr; }

 private:
  ~GlintBrokerShim();

  HostCallbacks* host_;
  SetupEngine* engine_;
  MString browserPath_;
  bool registered_ = false;
};

constexpr uint32_t kShimSlots = 63;
