// Enterprise data protection and zone marking of files the player writes.
//
// EnterpriseIds reads the enterprise identities of the broker's process or of
// the calling client; BrokerFileProtectionInfo asks, on the shared worker
// thread, whether a file is protected and to which identity; the zone
// markers record that a file came from the Internet. Every system facility
// here is optional: where it is missing, nothing is protected, nobody has
// identities and marking reports success without writing anything.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/DynamicLoadLibraryHelper.h"

class EnterpriseIds {
 public:
  explicit EnterpriseIds(bool fromClient);
  // The same through a library helper that the caller keeps: loading a
  // library that is absent costs a search of the system folders each time.
  EnterpriseIds(bool fromClient, const SrpapiDllHelper& srpapi);
  EnterpriseIds(const EnterpriseIds&) = delete;
  EnterpriseIds& operator=(const EnterpriseIds&) = delete;

  bool HasIdentity() const;
  ULONG Count() const { return count_; }
  // The identity at `index`, or null.
  const wchar_t* Identity(ULONG index) const;
  // One of the identities equals `identity` (same length, same units).
  bool Holds(const std::wstring& identity) const;

 private:
  bool fromClient_;
  ULONG count_ = 0;
  std::vector<BYTE> buffer_;
};

// A unit of work for the shared worker thread.
class Task {
 public:
  virtual void Run() = 0;

 protected:
  ~Task() = default;
};

// The one background thread of the broker process, started on first use.
class TaskWorker {
 public:
  static TaskWorker* Shared(bool create);
  // False when the worker has no thread or is stopping.
  bool Post(Task* task);
  // Ends the thread of the shared worker, if there is one; run after the
  // server's message loop and before COM is uninitialised.
  static void StopShared();

 private:
  TaskWorker();
  ~TaskWorker();
  static DWORD WINAPI Loop(void* self);

  bool stop_ = false;
  HANDLE thread_ = nullptr;
  Task* pending_ = nullptr;
  CRITICAL_SECTION section_;
  CONDITION_VARIABLE wake_;
};

struct ProtectionRuntime;

// Whether a file is protected, and to which identity. The constructor runs
// the whole query and returns when it has finished: the worker starts it and
// the runtime's completion handlers carry it on, on system threads, while the
// caller waits without a time limit. A query that has not finished has not
// answered "not protected".
class BrokerFileProtectionInfo final : public Task {
 public:
  explicit BrokerFileProtectionInfo(const std::wstring& path);
  ~BrokerFileProtectionInfo();
  BrokerFileProtectionInfo(const BrokerFileProtectionInfo&) = delete;
  BrokerFileProtectionInfo& operator=(const BrokerFileProtectionInfo&) = delete;

  bool IsProtected() const { return isProtected_ != 0; }
  const std::wstring& Identity() const { return identity_; }

  void Run() override;

  enum State : LONG { kNew = 0, kFileLookup = 1, kProtectionQuery = 2, kDone = 3, kFailed = 4 };
  LONG CurrentState() const { return state_; }

  // The completion handlers' steps; each ends by attaching the next handler
  // or by finishing, and touches nothing of the query after that.
  void FileFound(IUnknown* operation, int status);
  void InformationArrived(IUnknown* operation, int status);

 private:
  void Finish(State state);

  Kernel32DllHelper kernel32_;
  std::wstring path_;
  LONG isProtected_ = 0;
  std::wstring identity_;
  volatile LONG state_ = kNew;
  HANDLE done_ = nullptr;
  std::unique_ptr<ProtectionRuntime> runtime_;
  IUnknown* manager_ = nullptr;  // the protection manager's factory, until asked
};

// Writes the Internet zone into a file's zone identifier.
class GlintBrokerZoneIdentifier {
 public:
  GlintBrokerZoneIdentifier();
  virtual ~GlintBrokerZoneIdentifier();
  GlintBrokerZoneIdentifier(const GlintBrokerZoneIdentifier&) = delete;
  GlintBrokerZoneIdentifier& operator=(const GlintBrokerZoneIdentifier&) = delete;
  virtual bool Mark(const wchar_t* path);

 protected:
  // The file already carries a zone other than the local machine's.
  bool HasInternetZone(const wchar_t* path);
  bool comReady_;
};

// Lets the system's attachment services record the file's origin.
class GlintBrokerAttachmentExecute final : public GlintBrokerZoneIdentifier {
 public:
  bool Mark(const wchar_t* path) override;
};

// Asks the system for the player's access to a protected file, with an
// audit record (action Other; the file's name and extension, its drive and
// folder, the remote URL) and the player's window as the owner of any
// consent dialog. True only when the system answers Allowed. Refuses without
// asking for a missing identity, a window 0 or all bits set, or a path that
// does not split into the record's descriptions. The wait pumps this
// thread's messages.
bool RequestAccessWithAuditing(const std::wstring& path, const wchar_t* fileIdentity,
                               const std::wstring& remoteUrl, const wchar_t* clientIdentity,
                               ULONG window);

// The system's protection function, bound at run time; where it is absent the
// file stays unprotected and the answer is S_FALSE.
HRESULT ProtectFileToEnterpriseIdentity(const Edpwin32DllHelper& helper, const wchar_t* path,
                                        const wchar_t* identity);
