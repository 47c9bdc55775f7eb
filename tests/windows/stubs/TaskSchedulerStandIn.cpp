// A stand-in for the task scheduler's current interfaces: an in-process
// server that the tests' fixture makes the scheduler class's TreatAs. It
// keeps tasks in a side file, refuses empty task names and, for the calls a
// registration makes, logs the values given and fails one on request.
// Settings (TaskStandInSettings.h):
//   Log         the log file, one line per call: "Interface.method values"
//   Tasks       the side file: the value each setter of a stored task's
//               definition was given
//   FailMethod  "Interface.method" to fail, FailResult the HRESULT it answers
#define CINTERFACE
#include <windows.h>

#include <oleauto.h>
#include <taskschd.h>

#include <algorithm>
#include <map>
#include <memory>

#include "TaskStandInSettings.h"

namespace {

// A definition's values by the setter that gave them, shared by the objects
// that edit it.
using Values = std::map<std::string, std::string>;

// What objects of one interface answer: their table and the identifiers.
struct Interface {
  const void* table;
  IID iid, derived;  // derived: IID_NULL, or a view asked for by name
};

// Every object: the table first, as COM sees it.
struct Object {
  const void* lpVtbl;
  LONG refs;
  const Interface* of;
  std::shared_ptr<Values> task;
};

// A method's name as a template argument.
template <size_t N>
struct Name {
  constexpr Name(const char (&text)[N]) { std::copy_n(text, N, value); }
  char value[N];
};

void* Make(const Interface& of, std::shared_ptr<Values> task) {
  return new Object{of.table, 1, &of, std::move(task)};
}

std::string Show(BSTR text) {
  return text == nullptr ? "(null)" : standin::Utf8(text, static_cast<int>(SysStringLen(text)));
}
std::string Show(int value) {
  return std::to_string(value);
}
std::string Show(const VARIANT& value) {
  if (value.vt == VT_BSTR) return "VT_BSTR:" + Show(value.bstrVal);
  return value.vt == VT_EMPTY ? "VT_EMPTY" : "VT_" + std::to_string(value.vt);
}

// Logs the call; the HRESULT the settings make it answer, or S_OK.
HRESULT Call(const std::string& method, const std::string& values = "") {
  standin::Log(method + (values.empty() ? "" : " " + values));
  if (standin::Utf8(standin::Text(L"FailMethod").c_str()) != method) return S_OK;
  return static_cast<HRESULT>(standin::Number(L"FailResult", static_cast<DWORD>(E_FAIL)));
}

// The side file: a line per stored value, "task\tmethod=value", or the
// task's name alone when it has none.
std::map<std::string, Values> LoadTasks() {
  std::map<std::string, Values> tasks;
  std::ifstream in(standin::Text(L"Tasks").c_str(), std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    const size_t tab = line.find('\t'), equals = line.find('=', tab);
    Values& values = tasks[line.substr(0, tab)];
    if (equals != std::string::npos)
      values[line.substr(tab + 1, equals - tab - 1)] = line.substr(equals + 1);
  }
  return tasks;
}

void SaveTasks(const std::map<std::string, Values>& tasks) {
  std::string text;
  for (const auto& [name, values] : tasks) {
    for (const auto& [method, value] : values) text += name + "\t" + method + "=" + value + "\n";
  }
  standin::WriteFileText(standin::Text(L"Tasks"), text);
}

HRESULT STDMETHODCALLTYPE QueryInterface(Object* self, REFIID iid, void** out) {
  *out = nullptr;
  const bool derived = IsEqualIID(iid, self->of->derived);
  if (!derived && !IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, self->of->iid)) {
    return E_NOINTERFACE;
  }
  // The views a caller asks for by name can fail on request too.
  if (derived) {
    const HRESULT result = Call(IsEqualIID(iid, IID_IDailyTrigger) ? "QueryInterface IDailyTrigger"
                                                                   : "QueryInterface IExecAction");
    if (FAILED(result)) return result;
  }
  InterlockedIncrement(&self->refs);
  *out = self;
  return S_OK;
}

ULONG STDMETHODCALLTYPE AddRef(Object* self) {
  return static_cast<ULONG>(InterlockedIncrement(&self->refs));
}

ULONG STDMETHODCALLTYPE Release(Object* self) {
  const LONG refs = InterlockedDecrement(&self->refs);
  if (refs == 0) delete self;
  return static_cast<ULONG>(refs);
}

HRESULT STDMETHODCALLTYPE NotImplemented() {
  return E_NOTIMPL;
}

// A setter: the value goes into the definition after the log; the failure
// the settings ask for stores nothing.
template <Name Method, typename T>
HRESULT STDMETHODCALLTYPE Put(Object* self, T value) {
  const HRESULT result = Call(Method.value, Show(value));
  if (SUCCEEDED(result)) (*self->task)[Method.value] = Show(value);
  return result;
}

// A part of the definition, sharing its values.
template <Name Method, const Interface& Of>
HRESULT STDMETHODCALLTYPE Part(Object* self, void** out) {
  const HRESULT result = Call(Method.value);
  if (SUCCEEDED(result)) *out = Make(Of, self->task);
  return result;
}

// A part asked for with an argument, which the log shows.
template <Name Method, const Interface& Of, typename T>
HRESULT STDMETHODCALLTYPE PartAt(Object* self, T argument, void** out) {
  const HRESULT result = Call(Method.value, Show(argument));
  if (SUCCEEDED(result)) *out = Make(Of, self->task);
  return result;
}

// A part made with a type, which the definition keeps.
template <Name Method, const Interface& Of>
HRESULT STDMETHODCALLTYPE Create(Object* self, int type, void** out) {
  const HRESULT result = Put<Method, int>(self, type);
  if (SUCCEEDED(result)) *out = Make(Of, self->task);
  return result;
}

template <typename Slot, typename Function>
void Fill(Slot& slot, Function* function) {
  slot = reinterpret_cast<Slot>(function);
}

// An interface whose table has IUnknown, the slots `fill` sets, and
// E_NOTIMPL everywhere else.
template <typename Table, typename Slots>
Interface Define(const IID& iid, const IID& derived, Slots fill) {
  auto* table = new Table;
  auto** slots = reinterpret_cast<void (**)()>(table);
  std::fill_n(slots, sizeof(Table) / sizeof *slots, reinterpret_cast<void (*)()>(&NotImplemented));
  Fill(table->QueryInterface, &QueryInterface);
  Fill(table->AddRef, &AddRef);
  Fill(table->Release, &Release);
  fill(table);
  return {table, iid, derived};
}

// The new action's setters replace the stored values: nothing to clear.
HRESULT STDMETHODCALLTYPE ActionsClear(Object*) {
  return Call("IActionCollection.Clear");
}

const Interface kRepetition =
    Define<IRepetitionPatternVtbl>(IID_IRepetitionPattern, IID_NULL, [](auto* t) {
      Fill(t->put_Duration, &Put<"IRepetitionPattern.put_Duration", BSTR>);
      Fill(t->put_Interval, &Put<"IRepetitionPattern.put_Interval", BSTR>);
    });
const Interface kTrigger = Define<IDailyTriggerVtbl>(IID_ITrigger, IID_IDailyTrigger, [](auto* t) {
  Fill(t->put_Id, &Put<"ITrigger.put_Id", BSTR>);
  Fill(t->put_StartBoundary, &Put<"ITrigger.put_StartBoundary", BSTR>);
  Fill(t->put_DaysInterval, &Put<"IDailyTrigger.put_DaysInterval", short>);
  Fill(t->get_Repetition, &Part<"ITrigger.get_Repetition", kRepetition>);
});

// A stored definition has its one trigger when the trigger was made.
HRESULT STDMETHODCALLTYPE TriggersCount(Object* self, LONG* count) {
  const HRESULT result = Call("ITriggerCollection.get_Count");
  if (SUCCEEDED(result)) *count = self->task->count("ITriggerCollection.Create") != 0 ? 1 : 0;
  return result;
}

const Interface kTriggers =
    Define<ITriggerCollectionVtbl>(IID_ITriggerCollection, IID_NULL, [](auto* t) {
      Fill(t->get_Count, &TriggersCount);
      Fill(t->get_Item, &PartAt<"ITriggerCollection.get_Item", kTrigger, LONG>);
      Fill(t->Create, &Create<"ITriggerCollection.Create", kTrigger>);
    });
const Interface kSettings = Define<ITaskSettingsVtbl>(IID_ITaskSettings, IID_NULL, [](auto* t) {
  Fill(t->put_StartWhenAvailable, &Put<"ITaskSettings.put_StartWhenAvailable", short>);
  Fill(t->put_Compatibility, &Put<"ITaskSettings.put_Compatibility", int>);
  Fill(t->put_DisallowStartIfOnBatteries,
       &Put<"ITaskSettings.put_DisallowStartIfOnBatteries", short>);
  Fill(t->put_RunOnlyIfNetworkAvailable,
       &Put<"ITaskSettings.put_RunOnlyIfNetworkAvailable", short>);
});
const Interface kInfo = Define<IRegistrationInfoVtbl>(IID_IRegistrationInfo, IID_NULL, [](auto* t) {
  Fill(t->put_Author, &Put<"IRegistrationInfo.put_Author", BSTR>);
  Fill(t->put_Description, &Put<"IRegistrationInfo.put_Description", BSTR>);
});
const Interface kAction = Define<IExecActionVtbl>(IID_IAction, IID_IExecAction, [](auto* t) {
  Fill(t->put_Path, &Put<"IExecAction.put_Path", BSTR>);
  Fill(t->put_Arguments, &Put<"IExecAction.put_Arguments", BSTR>);
});
const Interface kActions =
    Define<IActionCollectionVtbl>(IID_IActionCollection, IID_NULL, [](auto* t) {
      Fill(t->Clear, &ActionsClear);
      Fill(t->Create, &Create<"IActionCollection.Create", kAction>);
    });
const Interface kDefinition =
    Define<ITaskDefinitionVtbl>(IID_ITaskDefinition, IID_NULL, [](auto* t) {
      Fill(t->get_RegistrationInfo, &Part<"ITaskDefinition.get_RegistrationInfo", kInfo>);
      Fill(t->get_Triggers, &Part<"ITaskDefinition.get_Triggers", kTriggers>);
      Fill(t->get_Settings, &Part<"ITaskDefinition.get_Settings", kSettings>);
      Fill(t->get_Actions, &Part<"ITaskDefinition.get_Actions", kActions>);
    });
const Interface kRegistered = Define<IRegisteredTaskVtbl>(
    IID_IRegisteredTask, IID_NULL,
    [](auto* t) { Fill(t->get_Definition, &Part<"IRegisteredTask.get_Definition", kDefinition>); });

HRESULT STDMETHODCALLTYPE FolderGetTask(Object*, BSTR path, void** out) {
  const HRESULT result = Call("ITaskFolder.GetTask", Show(path));
  if (FAILED(result)) return result;
  auto tasks = LoadTasks();
  auto found = tasks.find(Show(path));
  if (found == tasks.end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  *out = Make(kRegistered, std::make_shared<Values>(found->second));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE FolderDeleteTask(Object*, BSTR name, LONG) {
  auto tasks = LoadTasks();
  if (tasks.erase(Show(name)) == 0) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  SaveTasks(tasks);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE FolderRegister(Object*, BSTR path, Object* definition, LONG flags,
                                         VARIANT user, VARIANT password, TASK_LOGON_TYPE logon,
                                         VARIANT sddl, void** out) {
  *out = nullptr;
  const HRESULT result =
      Call("ITaskFolder.RegisterTaskDefinition",
           "path=" + Show(path) + " flags=" + Show(flags) + " user=" + Show(user) +
               " password=" + Show(password) + " logon=" + Show(logon) + " sddl=" + Show(sddl));
  if (FAILED(result)) return result;
  // The scheduler refuses a task without a name.
  if (SysStringLen(path) == 0) return E_ACCESSDENIED;
  auto tasks = LoadTasks();
  tasks[Show(path)] = *definition->task;
  SaveTasks(tasks);
  return S_OK;
}

const Interface kFolder = Define<ITaskFolderVtbl>(IID_ITaskFolder, IID_NULL, [](auto* t) {
  Fill(t->GetTask, &FolderGetTask);
  Fill(t->DeleteTask, &FolderDeleteTask);
  Fill(t->RegisterTaskDefinition, &FolderRegister);
});

HRESULT STDMETHODCALLTYPE ServiceConnect(Object*, VARIANT server, VARIANT user, VARIANT domain,
                                         VARIANT password) {
  return Call("ITaskService.Connect",
              Show(server) + " " + Show(user) + " " + Show(domain) + " " + Show(password));
}

HRESULT STDMETHODCALLTYPE ServiceNewTask(Object*, DWORD flags, void** out) {
  const HRESULT result = Call("ITaskService.NewTask", Show(flags));
  if (SUCCEEDED(result)) *out = Make(kDefinition, std::make_shared<Values>());
  return result;
}

const Interface kService = Define<ITaskServiceVtbl>(IID_ITaskService, IID_NULL, [](auto* t) {
  Fill(t->Connect, &ServiceConnect);
  Fill(t->GetFolder, &PartAt<"ITaskService.GetFolder", kFolder, BSTR>);
  Fill(t->NewTask, &ServiceNewTask);
});

// The object made, asked for `iid`, and left to the caller alone.
HRESULT Hand(void* object, REFIID iid, void** out) {
  const HRESULT result = QueryInterface(static_cast<Object*>(object), iid, out);
  Release(static_cast<Object*>(object));
  return result;
}

HRESULT STDMETHODCALLTYPE FactoryCreate(Object*, IUnknown*, REFIID iid, void** out) {
  return Hand(Make(kService, nullptr), iid, out);
}

const Interface kFactory = Define<IClassFactoryVtbl>(
    IID_IClassFactory, IID_NULL, [](auto* t) { Fill(t->CreateInstance, &FactoryCreate); });

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID iid, void** out) {
  *out = nullptr;
  const HRESULT refused = Call("DllGetClassObject");
  return FAILED(refused) ? refused : Hand(Make(kFactory, nullptr), iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return S_FALSE;
}
