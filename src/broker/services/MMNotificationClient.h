// The broker's audio endpoint listener for one player client: registered
// with the system's device enumerator, it signals the events the player
// installed when the default device changes or an output device changes
// state. The system calls it on its own threads while the broker thread
// installs events, so one lock covers the event handles: a callback holds it
// across reading a handle and signalling it, an installation across swapping
// and closing, and a callback never signals a closed handle.
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <cstdint>
#include <vector>

class MMNotificationClient final : public IMMNotificationClient {
 public:
  // Which installed event an installation replaces.
  enum class Role { DefaultDevice, DeviceState };

  // Creates the enumerator and registers for endpoint notifications; either
  // failing leaves the client unregistered and silent. Count 1.
  explicit MMNotificationClient(HANDLE sourceProcess);
  MMNotificationClient(const MMNotificationClient&) = delete;
  MMNotificationClient& operator=(const MMNotificationClient&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR deviceId, DWORD newState) override;
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR deviceId) override;
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR deviceId) override;
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role,
                                                   LPCWSTR defaultDeviceId) override;
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR deviceId,
                                                   const PROPERTYKEY key) override;

  bool Registered() const { return registered_; }
  // Duplicates `event` (a handle value in the source process) into the
  // broker and puts it in place of the role's previous event, which is
  // closed. False, with the previous event kept, when the value is 0, the
  // source process is the broker itself or the duplication fails.
  bool Install(Role role, LONG_PTR event);

 private:
  ~MMNotificationClient();
  void Signal(Role role);
  HANDLE& Slot(Role role) { return role == Role::DefaultDevice ? defaultEvent_ : stateEvent_; }

  bool registered_ = false;
  HANDLE sourceProcess_;  // the player's, never closed here
  IMMDeviceEnumerator* enumerator_ = nullptr;
  SRWLOCK eventLock_ = SRWLOCK_INIT;
  HANDLE defaultEvent_ = nullptr;
  HANDLE stateEvent_ = nullptr;
  std::atomic<ULONG> references_{1};
};

// A broker object's notification clients in creation order, each named to
// the player by an opaque cookie that no other broker object of the process
// issues; the table holds each client's creation reference.
class MMNotificationClientTable {
 public:
  MMNotificationClientTable() = default;
  MMNotificationClientTable(const MMNotificationClientTable&) = delete;
  MMNotificationClientTable& operator=(const MMNotificationClientTable&) = delete;
  // Releases every client still listed.
  ~MMNotificationClientTable();

  // Takes over the creation reference; answers the new cookie (0 for null).
  LONG_PTR Add(MMNotificationClient* client);
  MMNotificationClient* Find(LONG_PTR cookie) const;
  // Unlists and releases; false for a cookie not listed.
  bool Remove(LONG_PTR cookie);

 private:
  struct Entry {
    LONG_PTR cookie;
    MMNotificationClient* client;
  };
  std::vector<Entry> entries_;
};
