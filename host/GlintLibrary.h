// Loads GlintUtil.dll by full path from the folder of the running program
// and starts it with a host.
#pragma once

#include <windows.h>

#include "engine/GlintBrokerShim.h"
#include "engine/HostCallbacks.h"
#include "foundation/MString.h"

using StartFunction = GlintBrokerShim* (*)(HostCallbacks*);

class GlintLibrary {
 public:
  GlintLibrary() = default;
  GlintLibrary(const GlintLibrary&) = delete;
  GlintLibrary& operator=(const GlintLibrary&) = delete;
  ~GlintLibrary() { Unload(); }

  // Loads the library beside the running executable; false with the Windows
  // error in Error() when it cannot be loaded or lacks Start.
  bool Load();
  bool LoadFrom(const MString& path);
  void Unload();

  HMODULE Module() const { return module_; }
  StartFunction Start() const { return start_; }
  DWORD Error() const { return error_; }
  const MString& Path() const { return path_; }

 private:
  HMODULE module_ = nullptr;
  StartFunction start_ = nullptr;
  DWORD error_ = 0;
  MString path_;
};

// Folder of the running executable, without the trailing separator.
MString ExecutableFolder();

// The shim, destroyed through slot 0 when it goes out of scope.
class ShimHandle {
 public:
  explicit ShimHandle(GlintBrokerShim* shim = nullptr) : shim_(shim) {}
  ShimHandle(const ShimHandle&) = delete;
  ShimHandle& operator=(const ShimHandle&) = delete;
  ~ShimHandle() { Reset(); }
  void Reset(GlintBrokerShim* shim = nullptr) {
    if (shim_ != nullptr) shim_->Destroy();
    shim_ = shim;
  }
  GlintBrokerShim* operator->() const { return shim_; }
  GlintBrokerShim* Get() const { return shim_; }
  explicit operator bool() const { return shim_ != nullptr; }

 private:
  GlintBrokerShim* shim_;
};
