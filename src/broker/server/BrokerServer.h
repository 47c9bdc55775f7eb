// The broker's COM server: class factory, class-object registration, the
// server's message loop and the registry keys that make it reachable.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <atomic>

#include "broker/server/CoGlintBrokerServer.h"
#include "foundation/MString.h"

class HostCallbacks;

class CoGlintBrokerServer::Factory final : public IClassFactory {
 public:
  explicit Factory(HostCallbacks* host) : host_(host) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  HostCallbacks* Host() const { return host_; }

  std::atomic<LONG> BrokerLockCount{0};
  std::atomic<LONG> BrokerObjectCount{0};

 private:
  ~Factory() = default;

  std::atomic<LONG> references_{1};
  HostCallbacks* host_;
};

// The registered factory, or null.
CoGlintBrokerServer::Factory* BrokerFactory();

// Runs the server on the calling thread until the last broker object goes.
// Answers the quit code, or E_FAIL when COM or the class object fails.
HRESULT RunBrokerServer(HostCallbacks* host);
HRESULT RegisterBrokerClassObject(bool registerObject, HostCallbacks* host);
HRESULT RevokeBrokerClassObject();

// Writes (or removes) the broker's CLSID, interface, type-library and
// elevation-policy keys under HKEY_LOCAL_MACHINE. Always S_OK, except a
// registration without a command line.
HRESULT WriteBrokerRegistration(const MString& commandLine, bool registerServer);

// In-process form: the browser's own policy refresh, when it has one.
bool RefreshElevationPoliciesInProcess();
// Per-user form: runs the host with -refreshIEElevationPolicies in the
// session of every running browser process.
bool RefreshElevationPoliciesPerUser(HostCallbacks* host);

// The executable registered as the broker's local server (the first of the
// broker classes that has one), without surrounding quotes; null if none.
MString RegisteredBrokerExecutable();

// GUIDs of the broker that are not in the type library.
extern const GUID kBrokerElevationPolicyGuid;
MString GuidText(const GUID& guid);
