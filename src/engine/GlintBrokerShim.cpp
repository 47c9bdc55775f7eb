#include "engine/GlintBrokerShim.h"

#include <new>

#include "engine/HostCallbacks.h"
#include "engine/SetupEngine.h"

namespace {
// Operations whose work has not been built yet still take over their string
// arguments, so that nothing the host hands in is leaked.
void Drop(MStringArg a) { MString::Adopt(a); }
}  // namespace

GlintBrokerShim::GlintBrokerShim(HostCallbacks* host)
    : host_(host), engine_(new (std::nothrow) SetupEngine(this)) {}

GlintBrokerShim::~GlintBrokerShim() { delete engine_; }

void GlintBrokerShim::Destroy() {
  this->GlintBrokerShim::~GlintBrokerShim();
  ::operator delete(this);
}

void GlintBrokerShim::LoadLocalizedString(MString*, uint32_t, bool) {}
ZavuzER* GlintBrokerShim::CreateSetupWindow() { return nullptr; }
void GlintBrokerShim::DestroySetupWindow(ZavuzER*) {}
bool GlintBrokerShim::CheckForUpdate(uint32_t, uint32_t, uint32_t, uint32_t) { return false; }
bool GlintBrokerShim::IsReleaseType(uint32_t, uint32_t) { return false; }
bool GlintBrokerShim::CheckInstallable(uint32_t, uint32_t*, uint32_t) { return false; }
bool GlintBrokerShim::IsUacEnabled() { return false; }

bool GlintBrokerShim::PrepareUninstall(uint32_t, MStringArg dir, bool) {
  Drop(dir);
  return false;
}

bool GlintBrokerShim::RegisterPlayer(uint32_t, MStringArg playerPath, MStringArg uninstallerPath,
                                     uint32_t, bool) {
  registered_ = false;
  Drop(playerPath);
  Drop(uninstallerPath);
  return false;
}

bool GlintBrokerShim::RemoveSystemUpdateService(uint32_t, MStringArg systemDir) {
  Drop(systemDir);
  return false;
}

bool GlintBrokerShim::UninstallPlayer(uint32_t, MStringArg systemDir, bool, bool, bool,
                                      uint32_t*) {
  Drop(systemDir);
  return false;
}

bool GlintBrokerShim::RemoveListedFiles(uint32_t, MStringArg dir) {
  Drop(dir);
  return false;
}

bool GlintBrokerShim::RemoveUpdateService(MStringArg path, bool) {
  Drop(path);
  return false;
}

bool GlintBrokerShim::RemoveNamedFile(MStringArg name, MStringArg path) {
  Drop(name);
  Drop(path);
  return false;
}

bool GlintBrokerShim::RemoveFilesByPattern(uint32_t, MStringArg dir) {
  Drop(dir);
  return false;
}

bool GlintBrokerShim::RefreshIEElevationPolicy() { return false; }

bool GlintBrokerShim::RemoveHelperService(MStringArg path, bool) {
  Drop(path);
  return false;
}

bool GlintBrokerShim::UninstallAssistant() { return false; }

bool GlintBrokerShim::RemoveFeedbackService(MStringArg feedbackPath, MStringArg updatePath, bool) {
  Drop(feedbackPath);
  Drop(updatePath);
  return false;
}

bool GlintBrokerShim::RemovePerUserData() { return false; }
bool GlintBrokerShim::GetProfilesRoot(char16_t*) { return false; }

bool GlintBrokerShim::PathHasReparsePoint(MStringArg path) {
  Drop(path);
  return false;
}

bool GlintBrokerShim::PrepareRegistration(MStringArg brokerPath, uint32_t) {
  Drop(brokerPath);
  return true;
}

bool GlintBrokerShim::RegisterActiveXControl(MStringArg path) {
  Drop(path);
  return false;
}

bool GlintBrokerShim::RegisterPluginEntry(MStringArg path) {
  Drop(path);
  return true;
}

bool GlintBrokerShim::UnregisterActiveXControl(bool, uint32_t) { return false; }
bool GlintBrokerShim::RepairControlPermissions() { return true; }
int32_t GlintBrokerShim::RunBrokerServer() { return 0; }

SetupEngine* GlintBrokerShim::GetEngine() { return engine_; }
MStringList* GlintBrokerShim::GetActiveXFileNames() { return &engine_->fileNamesActiveX; }
MStringList* GlintBrokerShim::GetPluginFileNames() { return &engine_->fileNamesPlugin; }
MStringList* GlintBrokerShim::GetBrowserPluginFolders() { return &engine_->browserPluginFolders; }
MStringList* GlintBrokerShim::GetActiveXFilePatterns() { return &engine_->filePatternsActiveX; }
MStringList* GlintBrokerShim::GetPluginFilePatterns() { return &engine_->filePatternsPlugin; }
MStringList* GlintBrokerShim::GetPepperFilePatterns() { return &engine_->filePatternsPepper; }
MStringList* GlintBrokerShim::GetProductFolderPatterns() { return &engine_->productFolderPatterns; }
MStringList* GlintBrokerShim::GetUserBinListing() { return &engine_->userBinListing; }
MStringList* GlintBrokerShim::GetOtherFilePatterns() { return &engine_->otherFilePatterns; }

bool GlintBrokerShim::RecordConflictingProcesses(uint32_t) { return false; }
bool GlintBrokerShim::ClearConflictingProcesses() { return false; }
MStringList* GlintBrokerShim::FindConflictingProcesses(uint32_t) { return new MStringList; }

MStringList* GlintBrokerShim::GetActiveXKeepList() { return &engine_->keepListActiveX; }
MStringList* GlintBrokerShim::GetPluginKeepList() { return &engine_->keepListPlugin; }
MStringList* GlintBrokerShim::GetPepperKeepList() { return &engine_->keepListPepper; }

bool GlintBrokerShim::AddActiveXKeep(MStringArg name) {
  engine_->keepListActiveX.AddName(MString::Adopt(name));
  return true;
}

bool GlintBrokerShim::AddPluginKeep(MStringArg name) {
  engine_->keepListPlugin.AddName(MString::Adopt(name));
  return true;
}

bool GlintBrokerShim::AddPepperKeep(MStringArg name) {
  engine_->keepListPepper.AddName(MString::Adopt(name));
  return true;
}

bool GlintBrokerShim::LoadFileLists() { return false; }
bool GlintBrokerShim::RejectOfferedUpdate() { return false; }
bool GlintBrokerShim::GetNoticeContent(MConfigNode**) { return false; }
bool GlintBrokerShim::GetOfferedVersion(MString*) { return false; }

bool GlintBrokerShim::ParseNoticeContent(MConfigNode**, MStringArg text) {
  Drop(text);
  return false;
}

bool GlintBrokerShim::ExtractMetaText(MStringArg text, MString*) {
  Drop(text);
  return false;
}

bool GlintBrokerShim::ExtractUpdateVersion(MStringArg text, MString*) {
  Drop(text);
  return false;
}

bool GlintBrokerShim::NoOperation(MStringArg ignored) {
  Drop(ignored);
  return false;
}

bool GlintBrokerShim::FindBrowser() { return false; }
bool GlintBrokerShim::OpenExpressInstallPage(MWindow*) { return false; }

bool GlintBrokerShim::LaunchBrowser(MWindow*, MStringArg url) {
  Drop(url);
  return false;
}

bool GlintBrokerShim::OpenControlPanelApplet() { return false; }
bool GlintBrokerShim::IsRealPlayer6() { return false; }
uint32_t GlintBrokerShim::CompareInstalledVersion(uint32_t) { return 0; }
bool GlintBrokerShim::WasRegistered() { return registered_; }
