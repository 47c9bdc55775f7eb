// What the file dialogs share with the audited open: the owner-window test,
// and the one modal request a broker process runs at a time.
#pragma once

#include <windows.h>

// The player's 32-bit window number, sign-extended as the system does for
// handles that cross into 32-bit code.
inline HWND PlayerWindow(ULONG window) {
  return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(window)));
}

// The window belongs to a browser the broker serves: the browser's program
// in one of the Program Files folders, or one of the other browser's images
// by name. A window that is gone, or whose process cannot be asked, is none.
bool IsAllowedOwnerWindow(ULONG window);

// A shown dialog and the audited wait pump the broker's thread, and COM runs
// other clients' calls inside them. While one of them is pending no second
// one starts (the caller answers busy or refused); other calls run normally.
// Lives on the broker's thread only.
class ModalRequest {
 public:
  ModalRequest();
  ~ModalRequest();
  ModalRequest(const ModalRequest&) = delete;
  ModalRequest& operator=(const ModalRequest&) = delete;
  // False when another request of the process was pending: this one must not run.
  bool Admitted() const { return admitted_; }

 private:
  bool admitted_;
};

// A broker method that pumps messages keeps its object alive: a client may
// drop its last reference from another thread while the dialog is shown.
template <typename Object>
class CallReference {
 public:
  explicit CallReference(Object* object) : object_(object) { object_->AddRef(); }
  ~CallReference() { object_->Release(); }
  CallReference(const CallReference&) = delete;
  CallReference& operator=(const CallReference&) = delete;

 private:
  Object* object_;
};
