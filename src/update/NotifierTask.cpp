// rand_s is declared only for those who ask before the C library's header.
#define _CRT_RAND_S
#include "update/NotifierTask.h"

#include <stdlib.h>

#include <windows.h>

#include <mstask.h>
#include <oleauto.h>
#include <taskschd.h>
#include <wtsapi32.h>

#include <cstdio>
#include <utility>

#include "engine/HostCallbacks.h"
#include "engine/StatusDetail.h"
#include "foundation/ComRef.h"
#include "foundation/SystemModule.h"
#include "foundation/WideText.h"
#include "foundation/Win32Handles.h"
#include "update/NotifierTaskRules.h"

namespace {

// Codes the notifier task reports.
enum TaskStatus : uint32_t {
  kUpdated = 30,
  kCreated = 31,
  kFirstUpdated = 32,
  kFirstCreated = 33,
  kChosenSession = 36,
  kSessionCount = 37,
  kSessionState = 39,
  kSessionActive = 40,
  kSessionInactive = 41,
  kConstructed = 1106,
  kComInit = 1168,
  kComSecurity = 1169,
  kService = 1170,
  kConnect = 1171,
  kRootFolder = 1172,
  kGetDefinition = 1173,
  kGetTriggers = 1174,
  kTriggerCount = 1175,
  kNoTrigger = 1176,
  kGetTrigger = 1177,
  kGetRepetition = 1178,
  kPutInterval = 1179,
  kNewDefinition = 1181,
  kGetSettings = 1182,
  kCompatibility = 1183,
  kBatteries = 1184,
  kNetwork = 1185,
  kRegistrationInfo = 1186,
  kAuthor = 1187,
  kDescription = 1188,
  kNewTriggers = 1189,
  kCreateTrigger = 1190,
  kDailyTrigger = 1191,
  kTriggerId = 1192,
  kStartBoundary = 1193,
  kDaysInterval = 1194,
  kNewRepetition = 1195,
  kDuration = 1196,
  kNewInterval = 1197,
  kGetActions = 1198,
  kCreateAction = 1199,
  kExecAction = 1700,
  kActionPath = 1701,
  kActionArguments = 1702,
  kRegisterNew = 1703,
  kFirstScheduler = 1704,
  kFirstComInit = 1705,
  kActivate = 1706,
  kFirstTriggerCount = 1707,
  kFirstNoTrigger = 1708,
  kFirstGetTrigger = 1709,
  kFirstReadTrigger = 1710,
  kFirstWriteTrigger = 1711,
  kFirstUpdatePersist = 1712,
  kFirstUpdateSave = 1713,
  kNewWorkItem = 1714,
  kFirstAccount = 1715,
  kFirstCreateTrigger = 1716,
  kCreator = 1717,
  kComment = 1718,
  kApplication = 1719,
  kFirstFlags = 1720,
  kFirstSetTrigger = 1721,
  kFirstCreatePersist = 1722,
  kFirstCreateSave = 1723,
  kDeleteComInit = 1724,
  kDeleteSecurity = 1725,
  kDeleteService = 1726,
  kDeleteConnect = 1727,
  kDeleteRootFolder = 1728,
  kDeleteFirstScheduler = 1729,
  kDeleteFirstComInit = 1730,
  kParameters = 1731,
  kSessionsUnknown = 1754,
  kStateUnknown = 1755,
  kUserUnknown = 1752,
  kDomainUnknown = 1753,
  kFirstUpdateFlags = 1756,
  kFirstUpdateAccount = 1757,
  kRegisterExisting = 1759,
};

constexpr HRESULT kTaskNotFound = static_cast<HRESULT>(0x80070002);
constexpr LONG kCreateOrUpdate = TASK_CREATE_OR_UPDATE;  // 6
constexpr DWORD kFirstTaskFlags =
    TASK_FLAG_RUN_ONLY_IF_LOGGED_ON | TASK_FLAG_RUN_IF_CONNECTED_TO_INTERNET;

UniqueBstr Bstr(const MString& text) {
  return UniqueBstr(SysAllocStringLen(W(text), text.Length()));
}

// Balances one successful COM initialisation of the calling thread; declared
// before the scheduler's objects so that it outlives them.
class ComApartment {
 public:
  explicit ComApartment(HRESULT result) : initialised_(SUCCEEDED(result)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (initialised_) CoUninitialize();
  }

 private:
  bool initialised_;
};

// Results of the wtsapi32 functions, released with its own WTSFreeMemory.
class WtsMemory {
 public:
  explicit WtsMemory(decltype(&WTSFreeMemory) release) : release_(release) {}
  WtsMemory(const WtsMemory&) = delete;
  WtsMemory& operator=(const WtsMemory&) = delete;
  ~WtsMemory() { Reset(); }
  void Reset() {
    if (memory_ != nullptr) release_(memory_);
    memory_ = nullptr;
  }
  template <typename T>
  T** Receive() {
    Reset();
    return reinterpret_cast<T**>(&memory_);
  }
  template <typename T>
  T* As() const {
    return static_cast<T*>(memory_);
  }

 private:
  decltype(&WTSFreeMemory) release_;
  void* memory_ = nullptr;
};

MString Decimal(uint32_t value) {
  return FormatNumber(value, 10);
}

MString HResultDetail(HRESULT result) {
  return FormatSignedNumber(static_cast<int32_t>(result), 10);
}

void ReportFailure(HostCallbacks* host, uint32_t code, HRESULT result) {
  ReportStatus(host, kStatusError, code, HResultDetail(result));
}

struct TaskIdentity {
  MString name;
  uint32_t descriptionId;
};

TaskIdentity IdentityOf(uint32_t type) {
  switch (type) {
    case kPlayerPlugin:
      return {u"Arvex Glint Player NPAPI Notifier"_ms, 171};
    case kPlayerPepper:
      return {u"Arvex Glint Player PPAPI Notifier"_ms, 170};
    default:
      return {u""_ms, 0};
  }
}

// The host executable's string, which describes the task in the scheduler.
MString Description(uint32_t id) {
  const wchar_t* text = nullptr;
  const int length =
      id == 0 ? 0 : LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return u"MISSING LOCALIZATION"_ms;
  return FromWide(text, length);
}

uint32_t RandomDraw() {
  unsigned int value = 0;
  return rand_s(&value) == 0 ? value : 0;
}

bool CurrentSchedulerAvailable() {
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  version.dwMajorVersion = 6;
  version.dwMinorVersion = 0;
  version.wServicePackMajor = 0;
  DWORDLONG condition = 0;
  condition = VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
  condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
  condition = VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                            condition) != FALSE;
}

// COM for the multithreaded apartment and the process's security; false
// (after reporting) when the operation cannot go on.
bool PrepareCom(HostCallbacks* host, HRESULT initialised, uint32_t initCode,
                uint32_t securityCode) {
  if (FAILED(initialised)) {
    ReportFailure(host, initCode, initialised);
    return false;
  }
  const HRESULT security =
      CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  if (FAILED(security)) {
    ReportFailure(host, securityCode, security);
    // Security set earlier in the process is the one thing to go on with.
    if (security != RPC_E_TOO_LATE) return false;
  }
  return true;
}

// The local scheduler's root folder.
ComRef<ITaskFolder> RootFolder(HostCallbacks* host, ComRef<ITaskService>* service,
                               uint32_t serviceCode, uint32_t connectCode, uint32_t folderCode) {
  HRESULT hr = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ITaskService, service->Receive());
  if (FAILED(hr)) {
    ReportFailure(host, serviceCode, hr);
    return {};
  }
  VARIANT none;
  VariantInit(&none);
  hr = service->Get()->Connect(none, none, none, none);
  if (FAILED(hr)) {
    ReportFailure(host, connectCode, hr);
    return {};
  }
  ComRef<ITaskFolder> root;
  UniqueBstr path = Bstr(u"\\"_ms);
  hr = service->Get()->GetFolder(path.Get(), root.ReceiveTyped());
  if (FAILED(hr)) {
    ReportFailure(host, folderCode, hr);
    return {};
  }
  return root;
}

// A failing start-when-available setting is said on the console only.
bool StartWhenAvailable(ITaskSettings* settings) {
  const HRESULT hr = settings->put_StartWhenAvailable(VARIANT_TRUE);
  if (SUCCEEDED(hr)) return true;
  std::printf("\nCannot put setting information: %x", static_cast<unsigned>(hr));
  std::fflush(stdout);
  return false;
}

// The one action: start the program with its arguments.
bool AddExecAction(HostCallbacks* host, IActionCollection* actions, const MString& program,
                   const MString& arguments) {
  ComRef<IAction> action;
  HRESULT hr = actions->Create(TASK_ACTION_EXEC, action.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kCreateAction, hr), false;
  ComRef<IExecAction> exec;
  hr = action.Get()->QueryInterface(IID_IExecAction, exec.Receive());
  if (FAILED(hr)) return ReportFailure(host, kExecAction, hr), false;
  UniqueBstr path = Bstr(program);
  hr = exec.Get()->put_Path(path.Get());
  if (FAILED(hr)) return ReportFailure(host, kActionPath, hr), false;
  UniqueBstr parameters = Bstr(arguments);
  hr = exec.Get()->put_Arguments(parameters.Get());
  if (FAILED(hr)) return ReportFailure(host, kActionArguments, hr), false;
  return true;
}

// Registers the definition under the name as the account, with an
// interactive token and no password.
HRESULT RegisterDefinition(ITaskFolder* root, const MString& name, ITaskDefinition* definition,
                           const MString& account) {
  UniqueBstr path = Bstr(name), user = Bstr(account), sddl = Bstr(u""_ms);
  VARIANT userValue, password, sddlValue;
  VariantInit(&userValue);
  VariantInit(&password);
  VariantInit(&sddlValue);
  userValue.vt = VT_BSTR;
  userValue.bstrVal = user.Get();
  sddlValue.vt = VT_BSTR;
  sddlValue.bstrVal = sddl.Get();
  ComRef<IRegisteredTask> registered;
  return root->RegisterTaskDefinition(path.Get(), definition, kCreateOrUpdate, userValue, password,
                                      TASK_LOGON_INTERACTIVE_TOKEN, sddlValue,
                                      registered.ReceiveTyped());
}

// Sets a value through a COM setter: false (after reporting) when it fails
// and the failure ends the registration.
template <typename Fn>
bool Step(HostCallbacks* host, uint32_t code, bool continues, Fn&& call) {
  const HRESULT hr = call();
  if (SUCCEEDED(hr)) return true;
  ReportFailure(host, code, hr);
  return continues;
}

bool UpdateCurrent(HostCallbacks* host, ITaskFolder* root, IRegisteredTask* existing,
                   const MString& name, const MString& program, const MString& arguments,
                   const MString& account) {
  ComRef<ITaskDefinition> definition;
  HRESULT hr = existing->get_Definition(definition.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kGetDefinition, hr), false;
  ComRef<ITriggerCollection> triggers;
  hr = definition.Get()->get_Triggers(triggers.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kGetTriggers, hr), false;
  LONG count = 0;
  hr = triggers.Get()->get_Count(&count);
  if (FAILED(hr)) return ReportFailure(host, kTriggerCount, hr), false;
  if (count < 1) return ReportFailure(host, kNoTrigger, hr), false;
  ComRef<ITrigger> trigger;
  hr = triggers.Get()->get_Item(1, trigger.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kGetTrigger, hr), false;
  ComRef<IRepetitionPattern> repetition;
  hr = trigger.Get()->get_Repetition(repetition.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kGetRepetition, hr), false;
  UniqueBstr hourly = Bstr(u"PT1H"_ms);
  hr = repetition.Get()->put_Interval(hourly.Get());
  if (FAILED(hr)) return ReportFailure(host, kPutInterval, hr), false;

  ComRef<ITaskSettings> settings;
  hr = definition.Get()->get_Settings(settings.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kGetSettings, hr), false;
  if (!StartWhenAvailable(settings.Get())) return false;
  Step(host, kCompatibility, true,
       [&] { return settings.Get()->put_Compatibility(TASK_COMPATIBILITY_V2); });

  ComRef<IActionCollection> actions;
  if (FAILED(definition.Get()->get_Actions(actions.ReceiveTyped()))) return false;
  actions.Get()->Clear();  // whatever it answers, the new action goes in
  if (!AddExecAction(host, actions.Get(), program, arguments)) return false;

  hr = RegisterDefinition(root, name, definition.Get(), account);
  if (FAILED(hr)) return ReportFailure(host, kRegisterExisting, hr), false;
  ReportStatus(host, kStatusProgress, kUpdated);
  return true;
}

bool CreateCurrent(HostCallbacks* host, ITaskService* service, ITaskFolder* root,
                   const MString& name, const MString& description, const MString& program,
                   const MString& arguments, const MString& account) {
  ComRef<ITaskDefinition> definition;
  HRESULT hr = service->NewTask(0, definition.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kNewDefinition, hr), false;

  ComRef<ITaskSettings> settings;
  hr = definition.Get()->get_Settings(settings.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kGetSettings, hr), false;
  ITaskSettings* s = settings.Get();
  if (!StartWhenAvailable(s)) return false;
  Step(host, kCompatibility, true, [&] { return s->put_Compatibility(TASK_COMPATIBILITY_V2); });
  Step(host, kBatteries, true, [&] { return s->put_DisallowStartIfOnBatteries(VARIANT_FALSE); });
  Step(host, kNetwork, true, [&] { return s->put_RunOnlyIfNetworkAvailable(VARIANT_TRUE); });

  ComRef<IRegistrationInfo> info;
  hr = definition.Get()->get_RegistrationInfo(info.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kRegistrationInfo, hr), false;
  UniqueBstr author = Bstr(u"Arvex"_ms), text = Bstr(description);
  if (!Step(host, kAuthor, false, [&] { return info.Get()->put_Author(author.Get()); }) ||
      !Step(host, kDescription, false, [&] { return info.Get()->put_Description(text.Get()); })) {
    return false;
  }

  ComRef<ITriggerCollection> triggers;
  hr = definition.Get()->get_Triggers(triggers.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kNewTriggers, hr), false;
  ComRef<ITrigger> trigger;
  hr = triggers.Get()->Create(TASK_TRIGGER_DAILY, trigger.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kCreateTrigger, hr), false;
  ComRef<IDailyTrigger> daily;
  hr = trigger.Get()->QueryInterface(IID_IDailyTrigger, daily.Receive());
  if (FAILED(hr)) return ReportFailure(host, kDailyTrigger, hr), false;
  IDailyTrigger* d = daily.Get();
  const uint32_t tens = RandomDraw();
  const uint32_t units = RandomDraw();
  UniqueBstr id = Bstr(u"NotificationTrigger"_ms), start = Bstr(TaskStartBoundary(tens, units));
  Step(host, kTriggerId, true, [&] { return d->put_Id(id.Get()); });
  Step(host, kStartBoundary, true, [&] { return d->put_StartBoundary(start.Get()); });
  if (!Step(host, kDaysInterval, false, [&] { return d->put_DaysInterval(7); })) return false;
  ComRef<IRepetitionPattern> repetition;
  hr = d->get_Repetition(repetition.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kNewRepetition, hr), false;
  UniqueBstr day = Bstr(u"P1D"_ms), hourly = Bstr(u"PT1H"_ms);
  if (!Step(host, kDuration, false, [&] { return repetition.Get()->put_Duration(day.Get()); }) ||
      !Step(host, kNewInterval, false,
            [&] { return repetition.Get()->put_Interval(hourly.Get()); })) {
    return false;
  }

  ComRef<IActionCollection> actions;
  hr = definition.Get()->get_Actions(actions.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kGetActions, hr), false;
  if (!AddExecAction(host, actions.Get(), program, arguments)) return false;

  hr = RegisterDefinition(root, name, definition.Get(), account);
  if (FAILED(hr)) return ReportFailure(host, kRegisterNew, hr), false;
  ReportStatus(host, kStatusProgress, kCreated);
  return true;
}

// The first scheduler's work item saved through its file.
bool SaveWorkItem(HostCallbacks* host, ITask* task, uint32_t persistCode, uint32_t saveCode) {
  ComRef<IPersistFile> file;
  HRESULT hr = task->QueryInterface(IID_IPersistFile, file.Receive());
  if (FAILED(hr)) return ReportFailure(host, persistCode, hr), false;
  hr = file.Get()->Save(nullptr, TRUE);
  if (FAILED(hr)) return ReportFailure(host, saveCode, hr), false;
  return true;
}

bool CreateFirst(HostCallbacks* host, ITaskScheduler* scheduler, const MString& name,
                 const MString& description, const MString& program, const MString& arguments,
                 const MString& account) {
  ComRef<ITask> task;
  HRESULT hr = scheduler->NewWorkItem(W(name), CLSID_CTask, IID_ITask,
                                      reinterpret_cast<IUnknown**>(task.Receive()));
  if (FAILED(hr)) return ReportFailure(host, kNewWorkItem, hr), false;
  ITask* t = task.Get();
  hr = t->SetAccountInformation(W(account), nullptr);
  if (FAILED(hr)) return ReportFailure(host, kFirstAccount, hr), false;
  WORD index = 0;
  ComRef<ITaskTrigger> trigger;
  hr = t->CreateTrigger(&index, trigger.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kFirstCreateTrigger, hr), false;
  Step(host, kCreator, true, [&] { return t->SetCreator(L"Arvex"); });
  Step(host, kComment, true, [&] { return t->SetComment(W(description)); });
  Step(host, kApplication, true, [&] { return t->SetApplicationName(W(program)); });
  Step(host, kFirstFlags, true, [&] { return t->SetFlags(kFirstTaskFlags); });
  Step(host, kParameters, true, [&] { return t->SetParameters(W(arguments)); });

  TASK_TRIGGER schedule = {};
  schedule.cbTriggerSize = sizeof schedule;
  schedule.wBeginYear = 2000;
  schedule.wBeginMonth = 1;
  schedule.wBeginDay = 1;
  schedule.wStartHour = 0;
  schedule.wStartMinute = static_cast<WORD>(RandomDraw() % 60);
  schedule.MinutesDuration = 1440;
  schedule.MinutesInterval = 60;
  schedule.TriggerType = TASK_TIME_TRIGGER_DAILY;
  schedule.Type.Daily.DaysInterval = 7;
  hr = trigger.Get()->SetTrigger(&schedule);
  if (FAILED(hr)) return ReportFailure(host, kFirstSetTrigger, hr), false;
  if (!SaveWorkItem(host, t, kFirstCreatePersist, kFirstCreateSave)) return false;
  ReportStatus(host, kStatusProgress, kFirstCreated);
  return true;
}

bool UpdateFirst(HostCallbacks* host, ITask* task, const MString& program, const MString& arguments,
                 const MString& account) {
  WORD count = 0;
  HRESULT hr = task->GetTriggerCount(&count);
  if (FAILED(hr)) return ReportFailure(host, kFirstTriggerCount, hr), false;
  if (count == 0) return ReportFailure(host, kFirstNoTrigger, hr), false;
  ComRef<ITaskTrigger> trigger;
  hr = task->GetTrigger(0, trigger.ReceiveTyped());
  if (FAILED(hr)) return ReportFailure(host, kFirstGetTrigger, hr), false;
  TASK_TRIGGER schedule = {};
  schedule.cbTriggerSize = sizeof schedule;
  hr = trigger.Get()->GetTrigger(&schedule);
  if (FAILED(hr)) return ReportFailure(host, kFirstReadTrigger, hr), false;
  schedule.MinutesInterval = 60;
  hr = trigger.Get()->SetTrigger(&schedule);
  if (FAILED(hr)) return ReportFailure(host, kFirstWriteTrigger, hr), false;
  Step(host, kApplication, true, [&] { return task->SetApplicationName(W(program)); });
  Step(host, kParameters, true, [&] { return task->SetParameters(W(arguments)); });
  hr = task->SetAccountInformation(W(account), nullptr);
  if (FAILED(hr)) return ReportFailure(host, kFirstUpdateAccount, hr), false;
  Step(host, kFirstUpdateFlags, true, [&] { return task->SetFlags(kFirstTaskFlags); });
  if (!SaveWorkItem(host, task, kFirstUpdatePersist, kFirstUpdateSave)) return false;
  ReportStatus(host, kStatusProgress, kFirstUpdated);
  return true;
}

}  // namespace

NotifierTask::NotifierTask(MString program, MString arguments, HostCallbacks* host)
    : program_(std::move(program)), arguments_(std::move(arguments)), host_(host) {
  LookUpAccount();
  ReportStatus(host_, kStatusError, kConstructed);
  generation_ = CurrentSchedulerAvailable() ? 2 : 1;
}

void NotifierTask::LookUpAccount() {
  SystemModule wts;
  if (!wts.Load(u"wtsapi32.dll"_ms)) return;
  const auto release = wts.ResolveAs<decltype(&WTSFreeMemory)>("WTSFreeMemory");
  const auto query =
      wts.ResolveAs<decltype(&WTSQuerySessionInformationW)>("WTSQuerySessionInformationW");
  const auto queryNarrow =
      wts.ResolveAs<decltype(&WTSQuerySessionInformationA)>("WTSQuerySessionInformationA");
  const auto enumerate = wts.ResolveAs<decltype(&WTSEnumerateSessionsA)>("WTSEnumerateSessionsA");
  if (release == nullptr || query == nullptr || queryNarrow == nullptr || enumerate == nullptr) {
    return;
  }

  DWORD chosen = 0;
  {
    WtsMemory sessions(release);
    DWORD count = 0;
    if (enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, sessions.Receive<WTS_SESSION_INFOA>(), &count)) {
      ReportStatus(host_, kStatusProgress, kSessionCount, Decimal(count));
    } else {
      ReportStatus(host_, kStatusError, kSessionsUnknown, DecimalError(GetLastError()));
      count = 0;
    }
    const WTS_SESSION_INFOA* list = sessions.As<WTS_SESSION_INFOA>();
    for (DWORD i = 0; list != nullptr && i < count; ++i) {
      const DWORD id = list[i].SessionId;
      WtsMemory state(release);
      DWORD bytes = 0;
      if (!query(WTS_CURRENT_SERVER_HANDLE, id, WTSConnectState, state.Receive<wchar_t>(),
                 &bytes)) {
        ReportStatus(host_, kStatusError, kStateUnknown, DecimalError(GetLastError()));
        continue;
      }
      ReportStatus(host_, kStatusError, kSessionState, Decimal(id));
      const auto* connect = state.As<WTS_CONNECTSTATE_CLASS>();
      if (connect != nullptr && bytes >= sizeof *connect && *connect == WTSActive) {
        chosen = id;
        ReportStatus(host_, kStatusError, kSessionActive, Decimal(id));
      } else {
        ReportStatus(host_, kStatusError, kSessionInactive, Decimal(chosen));
      }
    }
  }

  ReportStatus(host_, kStatusError, kChosenSession, Decimal(chosen));
  MString user, domain;
  {
    WtsMemory text(release);
    DWORD bytes = 0;
    if (query(WTS_CURRENT_SERVER_HANDLE, chosen, WTSUserName, text.Receive<wchar_t>(), &bytes)) {
      if (text.As<wchar_t>() != nullptr) user = FromWide(text.As<wchar_t>());
      if (query(WTS_CURRENT_SERVER_HANDLE, chosen, WTSDomainName, text.Receive<wchar_t>(),
                &bytes)) {
        if (text.As<wchar_t>() != nullptr) domain = FromWide(text.As<wchar_t>());
      } else {
        ReportStatus(host_, kStatusError, kDomainUnknown, DecimalError(GetLastError()));
      }
    } else {
      ReportStatus(host_, kStatusError, kUserUnknown, DecimalError(GetLastError()));
    }
  }
  TaskAccount account = ComposeTaskAccount(domain, user);
  if (account.status != 0) ReportStatus(host_, kStatusError, account.status);
  account_ = std::move(account.name);
}

bool NotifierTask::Register(uint32_t type) {
  const TaskIdentity identity = IdentityOf(type);
  const MString description = Description(identity.descriptionId);
  return generation_ == 2 ? RegisterCurrent(identity.name, description)
                          : RegisterFirst(identity.name, description);
}

bool NotifierTask::RegisterCurrent(const MString& name, const MString& description) {
  const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const ComApartment apartment(initialised);
  if (!PrepareCom(host_, initialised, kComInit, kComSecurity)) return false;
  ComRef<ITaskService> service;
  ComRef<ITaskFolder> root = RootFolder(host_, &service, kService, kConnect, kRootFolder);
  if (!root) return false;
  ComRef<IRegisteredTask> existing;
  UniqueBstr path = Bstr(name);
  if (SUCCEEDED(root.Get()->GetTask(path.Get(), existing.ReceiveTyped())) && existing) {
    return UpdateCurrent(host_, root.Get(), existing.Get(), name, program_, arguments_, account_);
  }
  return CreateCurrent(host_, service.Get(), root.Get(), name, description, program_, arguments_,
                       account_);
}

bool NotifierTask::RegisterFirst(const MString& name, const MString& description) {
  const HRESULT initialised = CoInitialize(nullptr);
  const ComApartment apartment(initialised);
  if (FAILED(initialised)) return ReportFailure(host_, kFirstComInit, initialised), false;
  ComRef<ITaskScheduler> scheduler;
  HRESULT hr = CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ITaskScheduler, scheduler.Receive());
  if (FAILED(hr)) return ReportFailure(host_, kFirstScheduler, hr), false;
  ComRef<ITask> task;
  hr = scheduler.Get()->Activate(W(name), IID_ITask, reinterpret_cast<IUnknown**>(task.Receive()));
  if (hr == kTaskNotFound) {
    return CreateFirst(host_, scheduler.Get(), name, description, program_, arguments_, account_);
  }
  if (FAILED(hr) || !task) return ReportFailure(host_, kActivate, hr), false;
  return UpdateFirst(host_, task.Get(), program_, arguments_, account_);
}

bool RegisterNotifierTask(const MString& program, const MString& arguments, HostCallbacks* host,
                          uint32_t type) {
  NotifierTask task(program, arguments, host);
  return task.Register(type);
}

bool DeleteNotifierTask(HostCallbacks* host, uint32_t type) {
  const MString name = IdentityOf(type).name;
  if (CurrentSchedulerAvailable()) {
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const ComApartment apartment(initialised);
    if (!PrepareCom(host, initialised, kDeleteComInit, kDeleteSecurity)) return false;
    ComRef<ITaskService> service;
    ComRef<ITaskFolder> root =
        RootFolder(host, &service, kDeleteService, kDeleteConnect, kDeleteRootFolder);
    if (!root) return false;
    UniqueBstr path = Bstr(name);
    return SUCCEEDED(root.Get()->DeleteTask(path.Get(), 0));
  }
  const HRESULT initialised = CoInitialize(nullptr);
  const ComApartment apartment(initialised);
  if (FAILED(initialised)) return ReportFailure(host, kDeleteFirstComInit, initialised), false;
  ComRef<ITaskScheduler> scheduler;
  const HRESULT hr = CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_ITaskScheduler, scheduler.Receive());
  if (FAILED(hr)) return ReportFailure(host, kDeleteFirstScheduler, hr), false;
  return SUCCEEDED(scheduler.Get()->Delete(W(name)));
}
