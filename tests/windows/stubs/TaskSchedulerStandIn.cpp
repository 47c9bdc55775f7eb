// A stand-in for the task scheduler's current interfaces: an in-process
// server that the tests' fixture makes the scheduler class's TreatAs. It
// keeps tasks in a side file, logs every value it is given, refuses empty
// task names and fails one named method on request. Only the methods the
// notifier task calls exist; every other slot answers E_NOTIMPL.
//
// Settings (TaskStandInSettings.h):
//   Log         the log file, one line per call: "Interface.method values"
//   Tasks       the side file, one line per task: name, then key=value fields
//   FailMethod  "Interface.method" to fail, FailResult the HRESULT it answers
#define CINTERFACE
#include <windows.h>

#include <oleauto.h>
#include <taskschd.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "TaskStandInSettings.h"

namespace {

using Values = std::map<std::string, std::string>;

// A definition's values, shared by the objects that edit it.
struct TaskData {
  Values values;
};

enum class Kind {
  kFactory,
  kService,
  kFolder,
  kRegistered,
  kDefinition,
  kSettings,
  kInfo,
  kTriggers,
  kTrigger,
  kRepetition,
  kActions,
  kAction,
};

// Every object: the table first, as COM sees it.
struct Object {
  const void* lpVtbl;
  LONG refs;
  Kind kind;
  std::shared_ptr<TaskData> task;
};

LONG g_objects = 0;

std::string Text(BSTR text) {
  return text == nullptr ? "(null)" : standin::Utf8(text, static_cast<int>(SysStringLen(text)));
}

std::string Show(const VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY:
      return "VT_EMPTY";
    case VT_NULL:
      return "VT_NULL";
    case VT_BSTR:
      return "VT_BSTR:" + Text(value.bstrVal);
    case VT_I4:
      return "VT_I4:" + std::to_string(value.lVal);
    default:
      return "VT_" + std::to_string(value.vt);
  }
}

// Logs the call; the HRESULT the settings make it answer, or S_OK.
HRESULT Call(const char* method, const std::string& values = "") {
  standin::Log(std::string(method) + (values.empty() ? "" : " " + values));
  const std::wstring failing = standin::Text(L"FailMethod");
  if (failing.empty() || standin::Utf8(failing.c_str()) != method) return S_OK;
  return static_cast<HRESULT>(standin::Number(L"FailResult", static_cast<DWORD>(E_FAIL)));
}

// --- the side file ----------------------------------------------------------

std::map<std::string, Values> LoadTasks() {
  std::map<std::string, Values> tasks;
  std::istringstream in(standin::ReadFileText(standin::Text(L"Tasks")));
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string name, field;
    if (!std::getline(fields, name, '\t')) continue;
    Values& values = tasks[name];
    while (std::getline(fields, field, '\t')) {
      const size_t equals = field.find('=');
      if (equals != std::string::npos) values[field.substr(0, equals)] = field.substr(equals + 1);
    }
  }
  return tasks;
}

void SaveTasks(const std::map<std::string, Values>& tasks) {
  std::string text;
  for (const auto& [name, values] : tasks) {
    text += name;
    for (const auto& [key, value] : values) text += "\t" + key + "=" + value;
    text += "\n";
  }
  standin::WriteFileText(standin::Text(L"Tasks"), text);
}

// --- objects ------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE NotImplemented() {
  return E_NOTIMPL;
}

const void* TableOf(Kind kind);

template <typename I>
I* Make(Kind kind, std::shared_ptr<TaskData> task) {
  InterlockedIncrement(&g_objects);
  return reinterpret_cast<I*>(new Object{TableOf(kind), 1, kind, std::move(task)});
}

Object* Self(void* self) {
  return static_cast<Object*>(self);
}

bool Answers(Kind kind, REFIID iid) {
  if (IsEqualIID(iid, IID_IUnknown)) return true;
  if (kind == Kind::kFactory) return IsEqualIID(iid, IID_IClassFactory);
  if (IsEqualIID(iid, IID_IDispatch)) return true;
  switch (kind) {
    case Kind::kService:
      return IsEqualIID(iid, IID_ITaskService);
    case Kind::kFolder:
      return IsEqualIID(iid, IID_ITaskFolder);
    case Kind::kRegistered:
      return IsEqualIID(iid, IID_IRegisteredTask);
    case Kind::kDefinition:
      return IsEqualIID(iid, IID_ITaskDefinition);
    case Kind::kSettings:
      return IsEqualIID(iid, IID_ITaskSettings);
    case Kind::kInfo:
      return IsEqualIID(iid, IID_IRegistrationInfo);
    case Kind::kTriggers:
      return IsEqualIID(iid, IID_ITriggerCollection);
    case Kind::kTrigger:
      return IsEqualIID(iid, IID_ITrigger) || IsEqualIID(iid, IID_IDailyTrigger);
    case Kind::kRepetition:
      return IsEqualIID(iid, IID_IRepetitionPattern);
    case Kind::kActions:
      return IsEqualIID(iid, IID_IActionCollection);
    case Kind::kAction:
      return IsEqualIID(iid, IID_IAction) || IsEqualIID(iid, IID_IExecAction);
    default:
      return false;
  }
}

HRESULT STDMETHODCALLTYPE QueryInterfaceOf(void* self, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!Answers(Self(self)->kind, iid)) return E_NOINTERFACE;
  // The views a caller asks for by name can fail on request too.
  if (IsEqualIID(iid, IID_IDailyTrigger) || IsEqualIID(iid, IID_IExecAction)) {
    const HRESULT result = Call(IsEqualIID(iid, IID_IDailyTrigger) ? "QueryInterface IDailyTrigger"
                                                                   : "QueryInterface IExecAction");
    if (FAILED(result)) return result;
  }
  InterlockedIncrement(&Self(self)->refs);
  *out = self;
  return S_OK;
}

ULONG STDMETHODCALLTYPE AddRefOf(void* self) {
  return static_cast<ULONG>(InterlockedIncrement(&Self(self)->refs));
}

ULONG STDMETHODCALLTYPE ReleaseOf(void* self) {
  const LONG refs = InterlockedDecrement(&Self(self)->refs);
  if (refs == 0) {
    delete Self(self);
    InterlockedDecrement(&g_objects);
  }
  return static_cast<ULONG>(refs);
}

template <typename I>
HRESULT Give(I* object, I** out) {
  if (out == nullptr) {
    reinterpret_cast<IUnknown*>(object)->lpVtbl->Release(reinterpret_cast<IUnknown*>(object));
    return E_POINTER;
  }
  *out = object;
  return S_OK;
}

// Stores a value of the definition after logging it; the failure the
// settings ask for stores nothing.
HRESULT Put(void* self, const char* method, const std::string& key, const std::string& value) {
  const HRESULT result = Call(method, value);
  if (SUCCEEDED(result)) Self(self)->task->values[key] = value;
  return result;
}

std::string Flag(VARIANT_BOOL value) {
  return std::to_string(static_cast<int>(value));
}

// --- the service and its folder -------------------------------------------------

HRESULT STDMETHODCALLTYPE ServiceConnect(ITaskService*, VARIANT server, VARIANT user,
                                         VARIANT domain, VARIANT password) {
  return Call("ITaskService.Connect",
              Show(server) + " " + Show(user) + " " + Show(domain) + " " + Show(password));
}

HRESULT STDMETHODCALLTYPE ServiceGetFolder(ITaskService*, BSTR path, ITaskFolder** folder) {
  const HRESULT result = Call("ITaskService.GetFolder", Text(path));
  if (FAILED(result)) return result;
  return Give(Make<ITaskFolder>(Kind::kFolder, nullptr), folder);
}

HRESULT STDMETHODCALLTYPE ServiceNewTask(ITaskService*, DWORD flags, ITaskDefinition** out) {
  const HRESULT result = Call("ITaskService.NewTask", std::to_string(flags));
  if (FAILED(result)) return result;
  return Give(Make<ITaskDefinition>(Kind::kDefinition, std::make_shared<TaskData>()), out);
}

HRESULT STDMETHODCALLTYPE FolderGetTask(ITaskFolder*, BSTR path, IRegisteredTask** out) {
  const HRESULT result = Call("ITaskFolder.GetTask", Text(path));
  if (FAILED(result)) return result;
  auto tasks = LoadTasks();
  auto found = tasks.find(Text(path));
  if (found == tasks.end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  auto data = std::make_shared<TaskData>();
  data->values = found->second;
  return Give(Make<IRegisteredTask>(Kind::kRegistered, data), out);
}

HRESULT STDMETHODCALLTYPE FolderDeleteTask(ITaskFolder*, BSTR name, LONG flags) {
  const HRESULT result = Call("ITaskFolder.DeleteTask", Text(name) + " " + std::to_string(flags));
  if (FAILED(result)) return result;
  auto tasks = LoadTasks();
  if (tasks.erase(Text(name)) == 0) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  SaveTasks(tasks);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE FolderRegister(ITaskFolder*, BSTR path, ITaskDefinition* definition,
                                         LONG flags, VARIANT user, VARIANT password,
                                         TASK_LOGON_TYPE logon, VARIANT sddl,
                                         IRegisteredTask** out) {
  if (out != nullptr) *out = nullptr;
  const HRESULT result = Call("ITaskFolder.RegisterTaskDefinition",
                              "path=" + Text(path) + " flags=" + std::to_string(flags) +
                                  " user=" + Show(user) + " password=" + Show(password) +
                                  " logon=" + std::to_string(logon) + " sddl=" + Show(sddl));
  if (FAILED(result)) return result;
  // The scheduler refuses a task without a name.
  if (path == nullptr || SysStringLen(path) == 0) return E_ACCESSDENIED;
  if (definition == nullptr) return E_POINTER;
  auto tasks = LoadTasks();
  Values values = Self(definition)->task->values;
  values["Registration.User"] = Show(user);
  values["Registration.Logon"] = std::to_string(logon);
  tasks[Text(path)] = values;
  SaveTasks(tasks);
  if (out == nullptr) return S_OK;
  auto data = std::make_shared<TaskData>();
  data->values = values;
  *out = Make<IRegisteredTask>(Kind::kRegistered, data);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE RegisteredDefinition(IRegisteredTask* self, ITaskDefinition** out) {
  const HRESULT result = Call("IRegisteredTask.get_Definition");
  if (FAILED(result)) return result;
  return Give(Make<ITaskDefinition>(Kind::kDefinition, Self(self)->task), out);
}

// --- the definition and its parts ---------------------------------------------

template <typename I>
HRESULT Part(void* self, const char* method, Kind kind, I** out) {
  const HRESULT result = Call(method);
  if (FAILED(result)) return result;
  return Give(Make<I>(kind, Self(self)->task), out);
}

HRESULT STDMETHODCALLTYPE DefinitionInfo(ITaskDefinition* self, IRegistrationInfo** out) {
  return Part(self, "ITaskDefinition.get_RegistrationInfo", Kind::kInfo, out);
}
HRESULT STDMETHODCALLTYPE DefinitionTriggers(ITaskDefinition* self, ITriggerCollection** out) {
  return Part(self, "ITaskDefinition.get_Triggers", Kind::kTriggers, out);
}
HRESULT STDMETHODCALLTYPE DefinitionSettings(ITaskDefinition* self, ITaskSettings** out) {
  return Part(self, "ITaskDefinition.get_Settings", Kind::kSettings, out);
}
HRESULT STDMETHODCALLTYPE DefinitionActions(ITaskDefinition* self, IActionCollection** out) {
  return Part(self, "ITaskDefinition.get_Actions", Kind::kActions, out);
}

HRESULT STDMETHODCALLTYPE SettingsStart(ITaskSettings* self, VARIANT_BOOL value) {
  return Put(self, "ITaskSettings.put_StartWhenAvailable", "Settings.StartWhenAvailable",
             Flag(value));
}
HRESULT STDMETHODCALLTYPE SettingsCompatibility(ITaskSettings* self, TASK_COMPATIBILITY value) {
  return Put(self, "ITaskSettings.put_Compatibility", "Settings.Compatibility",
             std::to_string(value));
}
HRESULT STDMETHODCALLTYPE SettingsBatteries(ITaskSettings* self, VARIANT_BOOL value) {
  return Put(self, "ITaskSettings.put_DisallowStartIfOnBatteries",
             "Settings.DisallowStartIfOnBatteries", Flag(value));
}
HRESULT STDMETHODCALLTYPE SettingsNetwork(ITaskSettings* self, VARIANT_BOOL value) {
  return Put(self, "ITaskSettings.put_RunOnlyIfNetworkAvailable",
             "Settings.RunOnlyIfNetworkAvailable", Flag(value));
}

HRESULT STDMETHODCALLTYPE InfoAuthor(IRegistrationInfo* self, BSTR value) {
  return Put(self, "IRegistrationInfo.put_Author", "Info.Author", Text(value));
}
HRESULT STDMETHODCALLTYPE InfoDescription(IRegistrationInfo* self, BSTR value) {
  return Put(self, "IRegistrationInfo.put_Description", "Info.Description", Text(value));
}

HRESULT STDMETHODCALLTYPE TriggersCount(ITriggerCollection* self, LONG* count) {
  const HRESULT result = Call("ITriggerCollection.get_Count");
  if (FAILED(result)) return result;
  *count = Self(self)->task->values.count("Trigger.Type") != 0 ? 1 : 0;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE TriggersItem(ITriggerCollection* self, LONG index, ITrigger** out) {
  const HRESULT result = Call("ITriggerCollection.get_Item", std::to_string(index));
  if (FAILED(result)) return result;
  if (index != 1 || Self(self)->task->values.count("Trigger.Type") == 0) return E_INVALIDARG;
  return Give(Make<ITrigger>(Kind::kTrigger, Self(self)->task), out);
}
HRESULT STDMETHODCALLTYPE TriggersCreate(ITriggerCollection* self, TASK_TRIGGER_TYPE2 type,
                                         ITrigger** out) {
  const HRESULT result =
      Put(self, "ITriggerCollection.Create", "Trigger.Type", std::to_string(type));
  if (FAILED(result)) return result;
  return Give(Make<ITrigger>(Kind::kTrigger, Self(self)->task), out);
}

HRESULT STDMETHODCALLTYPE TriggerId(IDailyTrigger* self, BSTR value) {
  return Put(self, "ITrigger.put_Id", "Trigger.Id", Text(value));
}
HRESULT STDMETHODCALLTYPE TriggerStart(IDailyTrigger* self, BSTR value) {
  return Put(self, "ITrigger.put_StartBoundary", "Trigger.StartBoundary", Text(value));
}
HRESULT STDMETHODCALLTYPE TriggerDays(IDailyTrigger* self, short value) {
  return Put(self, "IDailyTrigger.put_DaysInterval", "Trigger.DaysInterval", std::to_string(value));
}
HRESULT STDMETHODCALLTYPE TriggerRepetition(IDailyTrigger* self, IRepetitionPattern** out) {
  return Part(self, "ITrigger.get_Repetition", Kind::kRepetition, out);
}

HRESULT STDMETHODCALLTYPE RepetitionDuration(IRepetitionPattern* self, BSTR value) {
  return Put(self, "IRepetitionPattern.put_Duration", "Repetition.Duration", Text(value));
}
HRESULT STDMETHODCALLTYPE RepetitionInterval(IRepetitionPattern* self, BSTR value) {
  return Put(self, "IRepetitionPattern.put_Interval", "Repetition.Interval", Text(value));
}

HRESULT STDMETHODCALLTYPE ActionsClear(IActionCollection* self) {
  const HRESULT result = Call("IActionCollection.Clear");
  if (FAILED(result)) return result;
  Values& values = Self(self)->task->values;
  for (auto i = values.begin(); i != values.end();) {
    i = i->first.rfind("Action.", 0) == 0 ? values.erase(i) : std::next(i);
  }
  return S_OK;
}
HRESULT STDMETHODCALLTYPE ActionsCreate(IActionCollection* self, TASK_ACTION_TYPE type,
                                        IAction** out) {
  const HRESULT result = Put(self, "IActionCollection.Create", "Action.Type", std::to_string(type));
  if (FAILED(result)) return result;
  return Give(Make<IAction>(Kind::kAction, Self(self)->task), out);
}

HRESULT STDMETHODCALLTYPE ActionPath(IExecAction* self, BSTR value) {
  return Put(self, "IExecAction.put_Path", "Action.Path", Text(value));
}
HRESULT STDMETHODCALLTYPE ActionArguments(IExecAction* self, BSTR value) {
  return Put(self, "IExecAction.put_Arguments", "Action.Arguments", Text(value));
}

// --- the class object -------------------------------------------------------------

HRESULT STDMETHODCALLTYPE FactoryCreate(IClassFactory*, IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  ITaskService* service = Make<ITaskService>(Kind::kService, nullptr);
  const HRESULT result = QueryInterfaceOf(service, iid, out);
  ReleaseOf(service);
  return result;
}

HRESULT STDMETHODCALLTYPE FactoryLock(IClassFactory*, BOOL) {
  return S_OK;
}

// --- tables -------------------------------------------------------------------

template <typename Fn>
Fn Cast(void* function) {
  return reinterpret_cast<Fn>(function);
}

// A table whose every slot answers E_NOTIMPL, with the IUnknown methods.
template <typename Table>
Table* NewTable() {
  auto* table = new Table;
  void** slots = reinterpret_cast<void**>(table);
  for (size_t i = 0; i < sizeof(Table) / sizeof(void*); ++i) {
    slots[i] = reinterpret_cast<void*>(&NotImplemented);
  }
  table->QueryInterface =
      Cast<decltype(table->QueryInterface)>(reinterpret_cast<void*>(&QueryInterfaceOf));
  table->AddRef = Cast<decltype(table->AddRef)>(reinterpret_cast<void*>(&AddRefOf));
  table->Release = Cast<decltype(table->Release)>(reinterpret_cast<void*>(&ReleaseOf));
  return table;
}

const void* BuildTable(Kind kind) {
  switch (kind) {
    case Kind::kFactory: {
      auto* t = NewTable<IClassFactoryVtbl>();
      t->CreateInstance = FactoryCreate;
      t->LockServer = FactoryLock;
      return t;
    }
    case Kind::kService: {
      auto* t = NewTable<ITaskServiceVtbl>();
      t->Connect = ServiceConnect;
      t->GetFolder = ServiceGetFolder;
      t->NewTask = ServiceNewTask;
      return t;
    }
    case Kind::kFolder: {
      auto* t = NewTable<ITaskFolderVtbl>();
      t->GetTask = FolderGetTask;
      t->DeleteTask = FolderDeleteTask;
      t->RegisterTaskDefinition = FolderRegister;
      return t;
    }
    case Kind::kRegistered: {
      auto* t = NewTable<IRegisteredTaskVtbl>();
      t->get_Definition = RegisteredDefinition;
      return t;
    }
    case Kind::kDefinition: {
      auto* t = NewTable<ITaskDefinitionVtbl>();
      t->get_RegistrationInfo = DefinitionInfo;
      t->get_Triggers = DefinitionTriggers;
      t->get_Settings = DefinitionSettings;
      t->get_Actions = DefinitionActions;
      return t;
    }
    case Kind::kSettings: {
      auto* t = NewTable<ITaskSettingsVtbl>();
      t->put_StartWhenAvailable = SettingsStart;
      t->put_Compatibility = SettingsCompatibility;
      t->put_DisallowStartIfOnBatteries = SettingsBatteries;
      t->put_RunOnlyIfNetworkAvailable = SettingsNetwork;
      return t;
    }
    case Kind::kInfo: {
      auto* t = NewTable<IRegistrationInfoVtbl>();
      t->put_Author = InfoAuthor;
      t->put_Description = InfoDescription;
      return t;
    }
    case Kind::kTriggers: {
      auto* t = NewTable<ITriggerCollectionVtbl>();
      t->get_Count = TriggersCount;
      t->get_Item = TriggersItem;
      t->Create = TriggersCreate;
      return t;
    }
    case Kind::kTrigger: {
      auto* t = NewTable<IDailyTriggerVtbl>();
      t->put_Id = TriggerId;
      t->put_StartBoundary = TriggerStart;
      t->put_DaysInterval = TriggerDays;
      t->get_Repetition = TriggerRepetition;
      return t;
    }
    case Kind::kRepetition: {
      auto* t = NewTable<IRepetitionPatternVtbl>();
      t->put_Duration = RepetitionDuration;
      t->put_Interval = RepetitionInterval;
      return t;
    }
    case Kind::kActions: {
      auto* t = NewTable<IActionCollectionVtbl>();
      t->Clear = ActionsClear;
      t->Create = ActionsCreate;
      return t;
    }
    case Kind::kAction: {
      auto* t = NewTable<IExecActionVtbl>();
      t->put_Path = ActionPath;
      t->put_Arguments = ActionArguments;
      return t;
    }
  }
  return nullptr;
}

const void* TableOf(Kind kind) {
  static const void* tables[] = {
      BuildTable(Kind::kFactory),    BuildTable(Kind::kService),    BuildTable(Kind::kFolder),
      BuildTable(Kind::kRegistered), BuildTable(Kind::kDefinition), BuildTable(Kind::kSettings),
      BuildTable(Kind::kInfo),       BuildTable(Kind::kTriggers),   BuildTable(Kind::kTrigger),
      BuildTable(Kind::kRepetition), BuildTable(Kind::kActions),    BuildTable(Kind::kAction),
  };
  return tables[static_cast<int>(kind)];
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID iid, void** out) {
  if (out != nullptr) *out = nullptr;
  const HRESULT refused = Call("DllGetClassObject");
  if (FAILED(refused)) return refused;
  IClassFactory* factory = Make<IClassFactory>(Kind::kFactory, nullptr);
  const HRESULT result = QueryInterfaceOf(factory, iid, out);
  ReleaseOf(factory);
  return result;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return g_objects == 0 ? S_OK : S_FALSE;
}
