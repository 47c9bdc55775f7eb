// The update notifier task against the real task scheduler and session
// library, and against their stand-ins (tools/TaskSchedulerStandIn.cpp made
// the scheduler class's TreatAs, tools/WtsStandIn.cpp in system32; both by
// scripts/task-standin-fixture.sh). The first scheduler generation runs in a
// copy of this program that Wine tells it runs on Windows XP; the session
// stand-in is loaded by copies of the host that ask for it.
#include <windows.h>

#include <mstask.h>
#include <taskschd.h>
#include <wtsapi32.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "WineTestSupport.h"
#include "foundation/Win32Handles.h"
#include "update/NotifierTask.h"

namespace {

const wchar_t kPluginTask[] = L"Arvex Glint Player NPAPI Notifier";
const wchar_t kPepperTask[] = L"Arvex Glint Player PPAPI Notifier";
const wchar_t kProgram[] = L"C:\\Program Files\\Arvex\\GlintUpdater.exe";
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";
const wchar_t kStandIns[] = L"Software\\GlintTestStandIns";
const char kNotImplemented[] = "-2147467263";
const wchar_t kRole[] = L"GLINT_TASK_ROLE";

std::string Dec(HRESULT hr) {
  return std::to_string(static_cast<int32_t>(hr));
}

// Reports as "code.level=detail", space separated.
std::string Trail(const ReferenceHost& host, size_t from = 0) {
  std::string out;
  for (size_t i = from; i < host.Reports().size(); ++i) {
    const StatusReport& r = host.Reports()[i];
    out += (out.empty() ? "" : " ") + std::to_string(r.code) + "." + std::to_string(r.level) + "=" +
           ToUtf8(r.detail);
  }
  return out;
}

// The same from the host program's status lines.
std::string TrailOf(const std::string& output) {
  std::istringstream lines(output);
  std::string out;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    int level = 0;
    unsigned code = 0, used = 0;
    if (sscanf(line.c_str(), "status level=%d code=%u detail=%n", &level, &code, &used) < 2) {
      continue;
    }
    out += (out.empty() ? "" : " ") + std::to_string(code) + "." + std::to_string(level) + "=" +
           line.substr(used);
  }
  return out;
}

// The part of a trail after the object's construction (code 1106).
std::string After1106(const std::string& trail) {
  const size_t at = trail.find("1106.1=");
  return at == std::string::npos ? "no 1106 in " + trail
                                 : trail.substr(std::min(at + 8, trail.size()));
}

struct ProgramRun {
  DWORD exitCode;
  std::string output;  // stdout and stderr
};

// Runs a program with both outputs in a file; `role` goes to the child's
// environment as GLINT_TASK_ROLE.
ProgramRun RunProgram(const std::wstring& program, const std::wstring& arguments,
                      const wchar_t* role = nullptr) {
  const std::wstring out = program + L".out";
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  UniqueHandle file(CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, 0, nullptr));
  std::wstring line = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = file.Get();
  PROCESS_INFORMATION process = {};
  if (role != nullptr) SetEnvironmentVariableW(kRole, role);
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  if (role != nullptr) SetEnvironmentVariableW(kRole, nullptr);
  if (!started) return {~0u, "not started"};
  UniqueHandle thread(process.hThread), handle(process.hProcess);
  DWORD code = ~0u;
  if (WaitForSingleObject(handle.Get(), 240000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(handle.Get(), &code);
  }
  file.Reset();
  ProgramRun run{code, ReadAll(out)};
  DeleteFileW(out.c_str());
  return run;
}

std::wstring Role() {
  wchar_t role[32] = {};
  GetEnvironmentVariableW(kRole, role, 32);
  return role;
}

// A copy of a program under its own name, with its AppDefaults values;
// the copy and its AppDefaults key go at the end.
class ProgramCopy {
 public:
  ProgramCopy(const std::wstring& folder, const wchar_t* source, const std::wstring& name)
      : name_(name), path_(folder + L"\\" + name) {
    CopyFileW((ProgramFolder() + L"\\" + source).c_str(), path_.c_str(), FALSE);
  }
  ~ProgramCopy() {
    RegDeleteTreeW(HKEY_CURRENT_USER, (kAppDefaults + name_).c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, (kAppDefaults + name_).c_str());
    DeleteFileW(path_.c_str());
  }
  void Set(const std::wstring& subkey, const wchar_t* name, const wchar_t* value) {
    const std::wstring key = kAppDefaults + name_ + subkey;
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name, REG_SZ, value,
                    static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  }
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring name_;
  std::wstring path_;
};

// "domain\user" of session 0 as the system's own session library says.
std::string SystemAccount() {
  std::string account;
  for (WTS_INFO_CLASS info : {WTSDomainName, WTSUserName}) {
    wchar_t* text = nullptr;
    DWORD bytes = 0;
    if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, 0, info, &text, &bytes)) {
      account += (account.empty() ? "" : "\\") + Utf8Of(text);
      WTSFreeMemory(text);
    }
  }
  return account;
}

// --- the real schedulers ------------------------------------------------------------

// Wine's current scheduler lacks the trigger id and the repetition: a new
// task stops at its repetition and nothing is stored.
TEST(NotifierTaskReal, CreationStopsWhereTheSchedulerLacksTheRepetition) {
  ReferenceHost host;
  host.SetStatusStream(nullptr);
  EXPECT_FALSE(RegisterNotifierTask(M(kProgram), u"-check plugin"_ms, &host, kPlayerPlugin));
  EXPECT_EQ(Trail(host), std::string("37.0=0 36.1=0 1106.1= 1192.1=") + kNotImplemented +
                             " 1195.1=" + kNotImplemented);
  EXPECT_FALSE(Exists(KnownFolder(0x25 /* CSIDL_SYSTEM */) + L"\\tasks\\" + kPluginTask));
}

// A task the test registers itself is found; its update stops at the
// trigger count Wine does not give. Deletion then reports nothing.
TEST(NotifierTaskReal, UpdateOfARegisteredTaskAndDeletion) {
  std::thread([] {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
      ITaskService* service = nullptr;
      ITaskFolder* root = nullptr;
      ITaskDefinition* definition = nullptr;
      IRegisteredTask* task = nullptr;
      VARIANT none;
      VariantInit(&none);
      BSTR folder = SysAllocString(L"\\"), name = SysAllocString(kPluginTask);
      HRESULT hr = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ITaskService, reinterpret_cast<void**>(&service));
      if (SUCCEEDED(hr)) hr = service->Connect(none, none, none, none);
      if (SUCCEEDED(hr)) hr = service->GetFolder(folder, &root);
      if (SUCCEEDED(hr)) hr = service->NewTask(0, &definition);
      if (SUCCEEDED(hr)) {
        hr = root->RegisterTaskDefinition(name, definition, TASK_CREATE_OR_UPDATE, none, none,
                                          TASK_LOGON_INTERACTIVE_TOKEN, none, &task);
      }
      EXPECT_EQ(hr, S_OK) << Hex(hr);
      for (IUnknown* object : {static_cast<IUnknown*>(task), static_cast<IUnknown*>(definition),
                               static_cast<IUnknown*>(root), static_cast<IUnknown*>(service)}) {
        if (object != nullptr) object->Release();
      }
      SysFreeString(folder), SysFreeString(name);
    }
    CoUninitialize();
  }).join();

  ReferenceHost host;
  host.SetStatusStream(nullptr);
  EXPECT_FALSE(RegisterNotifierTask(M(kProgram), u"-check plugin"_ms, &host, kPlayerPlugin));
  EXPECT_EQ(After1106(Trail(host)), std::string("1175.1=") + kNotImplemented);
  const size_t reported = host.Reports().size();
  EXPECT_TRUE(DeleteNotifierTask(&host, kPlayerPlugin));
  EXPECT_FALSE(DeleteNotifierTask(&host, kPlayerPlugin));
  EXPECT_EQ(host.Reports().size(), reported);
}

// The first generation: this program and the host again, as Windows XP
// programs (Wine's first scheduler serves those).
TEST(NotifierTaskReal, FirstSchedulerInCopiesUnderWindowsXp) {
  const std::wstring folder = NewTempFolder(L"glint-task-xp");
  {
    ProgramCopy self(folder, L"notifier_task_test.exe", L"glint_task_xp.exe");
    ProgramCopy host(folder, L"glinthost.exe", L"glint_task_xp_host.exe");
    CopyFileW((ProgramFolder() + L"\\GlintUtil.dll").c_str(), (folder + L"\\GlintUtil.dll").c_str(),
              FALSE);
    self.Set(L"", L"Version", L"winxp64");
    host.Set(L"", L"Version", L"winxp64");
    SetEnvironmentVariableW(L"GLINT_TASK_HOST", host.Path().c_str());
    const ProgramRun run = RunProgram(self.Path(), L"--gtest_filter=FirstSchedulerChild.*", L"xp");
    SetEnvironmentVariableW(L"GLINT_TASK_HOST", nullptr);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 2 tests"), std::string::npos) << run.output;
  }
  RemoveTree(folder);
}

// --- in the Windows XP copy ---------------------------------------------------------

struct FirstTask {
  HRESULT found = E_FAIL;
  std::string comment, creator, application, parameters;
  DWORD flags = 0;
  TASK_TRIGGER trigger = {};
};

std::string Take(LPWSTR text) {
  std::string out = text != nullptr ? Utf8Of(text) : "";
  CoTaskMemFree(text);
  return out;
}

// Reads a first-generation task back; with `interval`, then changes its
// trigger's interval and its application, as someone else's change would.
FirstTask FirstTaskOf(const wchar_t* name, WORD interval = 0) {
  FirstTask t;
  const HRESULT initialised = CoInitialize(nullptr);
  {
    ITaskScheduler* scheduler = nullptr;
    ITask* task = nullptr;
    ITaskTrigger* trigger = nullptr;
    t.found = CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ITaskScheduler, reinterpret_cast<void**>(&scheduler));
    if (SUCCEEDED(t.found)) {
      t.found = scheduler->Activate(name, IID_ITask, reinterpret_cast<IUnknown**>(&task));
    }
    if (SUCCEEDED(t.found) && SUCCEEDED(task->GetTrigger(0, &trigger))) {
      t.trigger.cbTriggerSize = sizeof t.trigger;
      trigger->GetTrigger(&t.trigger);
      LPWSTR text = nullptr;
      t.comment = SUCCEEDED(task->GetComment(&text)) ? Take(text) : "?";
      t.creator = SUCCEEDED(task->GetCreator(&text)) ? Take(text) : "?";
      t.application = SUCCEEDED(task->GetApplicationName(&text)) ? Take(text) : "?";
      t.parameters = SUCCEEDED(task->GetParameters(&text)) ? Take(text) : "?";
      task->GetFlags(&t.flags);
      if (interval != 0) {
        TASK_TRIGGER changed = t.trigger;
        changed.MinutesInterval = interval;
        trigger->SetTrigger(&changed);
        task->SetApplicationName(L"C:\\elsewhere.exe");
        IPersistFile* file = nullptr;
        if (SUCCEEDED(task->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
          file->Save(nullptr, TRUE);
          file->Release();
        }
      }
    }
    if (trigger != nullptr) trigger->Release();
    if (task != nullptr) task->Release();
    if (scheduler != nullptr) scheduler->Release();
  }
  if (SUCCEEDED(initialised)) CoUninitialize();
  return t;
}

std::wstring JobFile(const wchar_t* name) {
  return KnownFolder(0x24 /* CSIDL_WINDOWS */) + L"\\tasks\\" + name + L".job";
}

TEST(FirstSchedulerChild, CreateUpdateAndDelete) {
  if (Role() != L"xp") GTEST_SKIP() << "runs in the Windows XP copy";
  ReferenceHost host;
  host.SetStatusStream(nullptr);
  DeleteNotifierTask(&host, kPlayerPlugin);  // a leftover of an earlier run

  // Created by the host, whose strings describe the task.
  wchar_t hostPath[MAX_PATH] = {};
  GetEnvironmentVariableW(L"GLINT_TASK_HOST", hostPath, MAX_PATH);
  const ProgramRun created = RunProgram(
      hostPath, std::wstring(L"register-task plugin \"") + kProgram + L"\" \"-check plugin\"");
  EXPECT_NE(TrailOf(created.output).find("37.0=0 36.1=0 1106.1= 33.0="), std::string::npos)
      << created.output;
  ASSERT_TRUE(Exists(JobFile(kPluginTask)));
  const FirstTask before = FirstTaskOf(kPluginTask, 15);
  ASSERT_EQ(before.found, S_OK) << Hex(before.found);
  EXPECT_EQ(before.comment, "Checks for updates of the Arvex Glint Player (NPAPI)");
  EXPECT_EQ(before.creator, "Arvex");
  EXPECT_EQ(before.application, Utf8Of(kProgram));
  EXPECT_EQ(before.parameters, "-check plugin");
  EXPECT_EQ(before.flags, 0x2400u);
  const TASK_TRIGGER& t = before.trigger;
  EXPECT_EQ(t.wBeginYear * 10000 + t.wBeginMonth * 100 + t.wBeginDay, 20000101);
  EXPECT_EQ(t.wStartHour, 0);
  EXPECT_LT(t.wStartMinute, 60);
  EXPECT_EQ(t.MinutesDuration, 1440u);
  EXPECT_EQ(t.MinutesInterval, 60u);
  EXPECT_EQ(t.TriggerType, TASK_TIME_TRIGGER_DAILY);
  EXPECT_EQ(t.Type.Daily.DaysInterval, 7);

  // Updated from this program: the schedule stays, the interval and the
  // action are put back.
  EXPECT_TRUE(
      RegisterNotifierTask(u"C:\\new\\updater.exe"_ms, u"-check again"_ms, &host, kPlayerPlugin));
  EXPECT_EQ(After1106(Trail(host)), "32.0=");
  const FirstTask after = FirstTaskOf(kPluginTask);
  EXPECT_EQ(after.trigger.wStartMinute, t.wStartMinute);
  EXPECT_EQ(after.trigger.MinutesInterval, 60u);
  EXPECT_EQ(after.application, "C:\\new\\updater.exe");
  EXPECT_EQ(after.parameters, "-check again");
  EXPECT_EQ(after.comment, before.comment);

  const size_t reported = host.Reports().size();
  EXPECT_TRUE(DeleteNotifierTask(&host, kPlayerPlugin));
  EXPECT_FALSE(Exists(JobFile(kPluginTask)));
  EXPECT_FALSE(DeleteNotifierTask(&host, kPlayerPlugin));
  EXPECT_EQ(host.Reports().size(), reported);
}

// This program has no description strings; each creation draws its minute.
TEST(FirstSchedulerChild, UndescribedTasksAndTheirMinutes) {
  if (Role() != L"xp") GTEST_SKIP() << "runs in the Windows XP copy";
  ReferenceHost host;
  host.SetStatusStream(nullptr);
  DeleteNotifierTask(&host, kPlayerPepper);
  std::set<int> minutes;
  for (int i = 0; i < 30; ++i) {
    const size_t from = host.Reports().size();
    ASSERT_TRUE(RegisterNotifierTask(M(kProgram), u"-check pepperplugin"_ms, &host, kPlayerPepper))
        << Trail(host, from);
    const FirstTask task = FirstTaskOf(kPepperTask);
    if (i == 0) {
      EXPECT_EQ(task.comment, "MISSING LOCALIZATION");
    }
    EXPECT_LT(task.trigger.wStartMinute, 60);
    minutes.insert(task.trigger.wStartMinute);
    ASSERT_TRUE(DeleteNotifierTask(&host, kPlayerPepper));
  }
  EXPECT_GE(minutes.size(), 10u);
}

// --- the stand-ins ------------------------------------------------------------------

// The stand-ins' settings, log and side file, fresh for each test.
class StandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = NewTempFolder(L"glint-task-standin");
    registry_.SetString(HKEY_CURRENT_USER, kStandIns, L"Log", folder_ + L"\\log.txt");
    registry_.SetString(HKEY_CURRENT_USER, kStandIns, L"Tasks", folder_ + L"\\tasks.txt");
    host_.SetStatusStream(nullptr);
  }
  void TearDown() override {
    DeleteNotifierTask(&host_, kPlayerPlugin);
    RemoveTree(folder_);
  }
  // Empties the log and, unless kept, the stored tasks.
  void Clear(bool keepTasks = false) {
    DeleteFileW((folder_ + L"\\log.txt").c_str());
    if (!keepTasks) DeleteFileW((folder_ + L"\\tasks.txt").c_str());
  }
  std::string Log() const { return ReadAll(folder_ + L"\\log.txt"); }
  void Rewrite(const std::string& tasks) {
    UniqueHandle file(CreateFileW((folder_ + L"\\tasks.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(file.Get(), tasks.data(), static_cast<DWORD>(tasks.size()), &written, nullptr);
  }
  void Fail(const wchar_t* method, HRESULT result) {
    registry_.SetString(HKEY_CURRENT_USER, kStandIns, L"FailMethod", method);
    registry_.SetDword(HKEY_CURRENT_USER, kStandIns, L"FailResult", static_cast<DWORD>(result));
  }
  // The stored fields of a task ("" when it is not stored).
  std::map<std::string, std::string> Stored(const std::string& name) const {
    std::map<std::string, std::string> fields;
    std::istringstream lines(ReadAll(folder_ + L"\\tasks.txt"));
    for (std::string line; std::getline(lines, line);) {
      std::istringstream parts(line);
      std::string part;
      std::getline(parts, part, '\t');
      if (part != name) continue;
      while (std::getline(parts, part, '\t')) {
        fields[part.substr(0, part.find('='))] = part.substr(part.find('=') + 1);
      }
    }
    return fields;
  }
  bool Register(uint32_t type = kPlayerPlugin,
                const char16_t* program = u"C:\\Program Files\\Arvex\\GlintUpdater.exe") {
    from_ = host_.Reports().size();
    return RegisterNotifierTask(MString(program), u"-check plugin"_ms, &host_, type);
  }
  std::string Reported() const { return After1106(Trail(host_, from_)); }

  std::wstring folder_;
  ScratchRegistry registry_;
  ReferenceHost host_;
  size_t from_ = 0;
};

// The log with the start minute's digits written as MM, after checking them.
std::string WithoutMinute(std::string log) {
  const std::string at = "put_StartBoundary 2000-01-01T00:";
  const size_t i = log.find(at);
  if (i == std::string::npos) return log;
  const size_t m = i + at.size();
  EXPECT_TRUE(log[m] >= '0' && log[m] <= '5' && log[m + 1] >= '0' && log[m + 1] <= '9') << log;
  return log.replace(m, 2, "MM");
}

TEST_F(StandIn, CreateAndUpdateHandEveryValueToTheScheduler) {
  Clear();
  const std::string connect =
      "DllGetClassObject\n"
      "ITaskService.Connect VT_EMPTY VT_EMPTY VT_EMPTY VT_EMPTY\n"
      "ITaskService.GetFolder \\\n"
      "ITaskFolder.GetTask Arvex Glint Player NPAPI Notifier\n";
  const std::string action =
      "IActionCollection.Create 0\n"
      "QueryInterface IExecAction\n"
      "IExecAction.put_Path C:\\Program Files\\Arvex\\GlintUpdater.exe\n"
      "IExecAction.put_Arguments -check plugin\n"
      "ITaskFolder.RegisterTaskDefinition path=Arvex Glint Player NPAPI Notifier flags=6 "
      "user=VT_BSTR:" +
      SystemAccount() + " password=VT_EMPTY logon=3 sddl=VT_BSTR:\n";
  EXPECT_TRUE(Register());
  EXPECT_EQ(Reported(), "31.0=");
  EXPECT_EQ(WithoutMinute(Log()), connect +
                                      "ITaskService.NewTask 0\n"
                                      "ITaskDefinition.get_Settings\n"
                                      "ITaskSettings.put_StartWhenAvailable -1\n"
                                      "ITaskSettings.put_Compatibility 2\n"
                                      "ITaskSettings.put_DisallowStartIfOnBatteries 0\n"
                                      "ITaskSettings.put_RunOnlyIfNetworkAvailable -1\n"
                                      "ITaskDefinition.get_RegistrationInfo\n"
                                      "IRegistrationInfo.put_Author Arvex\n"
                                      "IRegistrationInfo.put_Description MISSING LOCALIZATION\n"
                                      "ITaskDefinition.get_Triggers\n"
                                      "ITriggerCollection.Create 2\n"
                                      "QueryInterface IDailyTrigger\n"
                                      "ITrigger.put_Id NotificationTrigger\n"
                                      "ITrigger.put_StartBoundary 2000-01-01T00:MM:00Z\n"
                                      "IDailyTrigger.put_DaysInterval 7\n"
                                      "ITrigger.get_Repetition\n"
                                      "IRepetitionPattern.put_Duration P1D\n"
                                      "IRepetitionPattern.put_Interval PT1H\n"
                                      "ITaskDefinition.get_Actions\n" +
                                      action);
  auto stored = Stored("Arvex Glint Player NPAPI Notifier");
  const std::string boundary = stored["Trigger.StartBoundary"];

  // Someone changed the interval and the action; the update puts them back.
  std::string tasks = ReadAll(folder_ + L"\\tasks.txt");
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"PT1H", "PT5M"},
                                 {"GlintUpdater.exe", "Elsewhere.exe"}}) {
    for (size_t i = tasks.find(from); i != std::string::npos; i = tasks.find(from, i)) {
      tasks.replace(i, from.size(), to);
    }
  }
  Rewrite(tasks);
  Clear(true);
  EXPECT_TRUE(Register());
  EXPECT_EQ(Reported(), "30.0=");
  EXPECT_EQ(Log(), connect +
                       "IRegisteredTask.get_Definition\n"
                       "ITaskDefinition.get_Triggers\n"
                       "ITriggerCollection.get_Count\n"
                       "ITriggerCollection.get_Item 1\n"
                       "ITrigger.get_Repetition\n"
                       "IRepetitionPattern.put_Interval PT1H\n"
                       "ITaskDefinition.get_Settings\n"
                       "ITaskSettings.put_StartWhenAvailable -1\n"
                       "ITaskSettings.put_Compatibility 2\n"
                       "ITaskDefinition.get_Actions\n"
                       "IActionCollection.Clear\n" +
                       action);
  stored = Stored("Arvex Glint Player NPAPI Notifier");
  EXPECT_EQ(stored["Trigger.StartBoundary"], boundary);
  EXPECT_EQ(stored["Repetition.Interval"], "PT1H");
  EXPECT_EQ(stored["Action.Path"], "C:\\Program Files\\Arvex\\GlintUpdater.exe");

  Clear(true);
  const size_t reported = host_.Reports().size();
  EXPECT_TRUE(DeleteNotifierTask(&host_, kPlayerPlugin));
  EXPECT_FALSE(DeleteNotifierTask(&host_, kPlayerPlugin));
  EXPECT_EQ(host_.Reports().size(), reported);
  EXPECT_TRUE(Stored("Arvex Glint Player NPAPI Notifier").empty());
}

TEST_F(StandIn, EachFailureReportsItsCodeAndGoesOnOnlyWhereItMay) {
  constexpr HRESULT kRefused = static_cast<HRESULT>(0x80040F01);
  const std::string refused = Dec(kRefused);
  struct Case {
    const wchar_t* method;  // failing in the stand-in
    uint32_t code;          // 0: nothing reported
    bool continues;
    bool update;  // on a stored task
  } cases[] = {
      {L"DllGetClassObject", 1170, false, false},
      {L"ITaskService.Connect", 1171, false, false},
      {L"ITaskService.GetFolder", 1172, false, false},
      {L"ITaskService.NewTask", 1181, false, false},
      {L"ITaskDefinition.get_Settings", 1182, false, false},
      {L"ITaskSettings.put_StartWhenAvailable", 0, false, false},
      {L"ITaskSettings.put_Compatibility", 1183, true, false},
      {L"ITaskSettings.put_DisallowStartIfOnBatteries", 1184, true, false},
      {L"ITaskSettings.put_RunOnlyIfNetworkAvailable", 1185, true, false},
      {L"ITaskDefinition.get_RegistrationInfo", 1186, false, false},
      {L"IRegistrationInfo.put_Author", 1187, false, false},
      {L"IRegistrationInfo.put_Description", 1188, false, false},
      {L"ITaskDefinition.get_Triggers", 1189, false, false},
      {L"ITriggerCollection.Create", 1190, false, false},
      {L"QueryInterface IDailyTrigger", 1191, false, false},
      {L"ITrigger.put_Id", 1192, true, false},
      {L"ITrigger.put_StartBoundary", 1193, true, false},
      {L"IDailyTrigger.put_DaysInterval", 1194, false, false},
      {L"ITrigger.get_Repetition", 1195, false, false},
      {L"IRepetitionPattern.put_Duration", 1196, false, false},
      {L"IRepetitionPattern.put_Interval", 1197, false, false},
      {L"ITaskDefinition.get_Actions", 1198, false, false},
      {L"IActionCollection.Create", 1199, false, false},
      {L"QueryInterface IExecAction", 1700, false, false},
      {L"IExecAction.put_Path", 1701, false, false},
      {L"IExecAction.put_Arguments", 1702, false, false},
      {L"ITaskFolder.RegisterTaskDefinition", 1703, false, false},
      {L"IRegisteredTask.get_Definition", 1173, false, true},
      {L"ITaskDefinition.get_Triggers", 1174, false, true},
      {L"ITriggerCollection.get_Count", 1175, false, true},
      {L"ITriggerCollection.get_Item", 1177, false, true},
      {L"ITrigger.get_Repetition", 1178, false, true},
      {L"IRepetitionPattern.put_Interval", 1179, false, true},
      {L"ITaskDefinition.get_Settings", 1182, false, true},
      {L"ITaskSettings.put_StartWhenAvailable", 0, false, true},
      {L"ITaskSettings.put_Compatibility", 1183, true, true},
      {L"ITaskDefinition.get_Actions", 0, false, true},
      {L"IActionCollection.Clear", 0, true, true},  // not checked
      {L"IActionCollection.Create", 1199, false, true},
      {L"ITaskFolder.RegisterTaskDefinition", 1759, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8Of(c.method) + (c.update ? " (update)" : " (create)"));
    Clear();
    if (c.update) {
      ASSERT_TRUE(Register());
    }
    Fail(c.method, kRefused);
    const bool registered = Register();
    Fail(L"", S_OK);
    EXPECT_EQ(registered, c.continues);
    std::string expected = c.code == 0 ? "" : std::to_string(c.code) + ".1=" + refused;
    if (c.continues)
      expected += std::string(expected.empty() ? "" : " ") + (c.update ? "30.0=" : "31.0=");
    EXPECT_EQ(Reported(), expected);
  }

  // A stored task without a trigger; a type without a name, which the
  // scheduler refuses.
  Clear();
  ASSERT_TRUE(Register());
  std::string tasks = ReadAll(folder_ + L"\\tasks.txt");
  Rewrite(tasks.substr(0, tasks.find('\t')) + "\n");
  EXPECT_FALSE(Register());
  EXPECT_EQ(Reported(), "1176.1=0");
  EXPECT_FALSE(Register(99));
  EXPECT_EQ(Reported(), "1703.1=" + Dec(E_ACCESSDENIED));
}

// COM on the calling thread: a thread already in the single-threaded
// apartment is refused; every other call leaves the thread as it found it.
TEST_F(StandIn, ApartmentsAreLeftAsFound) {
  Clear();
  std::thread([this] {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_FALSE(Register());
    EXPECT_EQ(Reported(), "1168.1=" + Dec(RPC_E_CHANGED_MODE));
    EXPECT_FALSE(DeleteNotifierTask(&host_, kPlayerPlugin));
    CoUninitialize();
    EXPECT_TRUE(Register());
    Fail(L"ITaskService.Connect", E_FAIL);
    EXPECT_FALSE(Register());
    Fail(L"", S_OK);
    EXPECT_TRUE(DeleteNotifierTask(&host_, kPlayerPlugin));
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
  }).join();
}

// The host's own strings describe its tasks; a failing first setting is
// said on the console only.
TEST_F(StandIn, HostDescriptionAndConsoleMessage) {
  const std::wstring host = ProgramFolder() + L"\\glinthost.exe";
  const std::wstring args = std::wstring(L"register-task pepper \"") + kProgram + L"\" x";
  Clear();
  ProgramRun run = RunProgram(host, args);
  EXPECT_EQ(After1106(TrailOf(run.output)), "31.0=") << run.output;
  EXPECT_NE(Log().find("IRegistrationInfo.put_Description Checks for updates of the Arvex Glint "
                       "Player (PPAPI)\n"),
            std::string::npos)
      << Log();
  EXPECT_NE(RunProgram(host, L"delete-task pepper").output.find("task deleted: yes"),
            std::string::npos);
  Fail(L"ITaskSettings.put_StartWhenAvailable", static_cast<HRESULT>(0x80040F02));
  run = RunProgram(host, args);
  EXPECT_EQ(After1106(TrailOf(run.output)), "");
  EXPECT_NE(run.output.find("\nCannot put setting information: 80040f02"), std::string::npos)
      << run.output;
}

// The console session's account through the session stand-in, which a copy
// of the host loads: sessions, states and names as the settings say.
TEST_F(StandIn, AccountOfTheConsoleSession) {
  const std::wstring system32 = KnownFolder(0x25 /* CSIDL_SYSTEM */) + L"\\wtsapi32.dll";
  ProgramCopy copy(folder_, L"glinthost.exe", L"glint_task_wts.exe");
  CopyFileW((ProgramFolder() + L"\\GlintUtil.dll").c_str(), (folder_ + L"\\GlintUtil.dll").c_str(),
            FALSE);
  copy.Set(L"\\DllOverrides", L"wtsapi32", L"native");
  const std::wstring d200(200, L'd'), u72(72, L'u');
  struct Case {
    const char* name;
    const wchar_t *sessions, *fail, *user, *domain;  // null: not set
    const char* library;                             // the stand-in build in system32
    const char* reported;                            // up to 1106
    std::string account;
  } cases[] = {
      {"last active session", L"0:4 3:0 5:0 7:4", nullptr, nullptr, nullptr, "wtsapi32-standin",
       "37.0=4 39.1=0 41.1=0 39.1=3 40.1=3 39.1=5 40.1=5 39.1=7 41.1=5 36.1=5", "DOMAIN5\\user5"},
      {"no active session", L"0:4", nullptr, L"", nullptr, "wtsapi32-standin",
       "37.0=1 39.1=0 41.1=0 36.1=0 1747.1=", ""},
      {"sessions unknown", L"3:0", L"enumerate=1722", nullptr, nullptr, "wtsapi32-standin",
       "1754.1=1722 36.1=0", "DOMAIN0\\user0"},
      {"one state unknown", L"0:4 3:0 5:0", L"state5=21", nullptr, nullptr, "wtsapi32-standin",
       "37.0=3 39.1=0 41.1=0 39.1=3 40.1=3 1755.1=21 36.1=3", "DOMAIN3\\user3"},
      {"user unknown", L"2:0", L"user=5", nullptr, nullptr, "wtsapi32-standin",
       "37.0=1 39.1=2 40.1=2 36.1=2 1752.1=5 1747.1=", ""},
      {"domain unknown", L"2:0", L"domain=6", nullptr, nullptr, "wtsapi32-standin",
       "37.0=1 39.1=2 40.1=2 36.1=2 1753.1=6 1746.1=", "user2"},
      {"names of 272 units", L"2:0", nullptr, u72.c_str(), d200.c_str(), "wtsapi32-standin",
       "37.0=1 39.1=2 40.1=2 36.1=2 1746.1=", std::string(72, 'u')},
      {"no narrow query", L"2:0", nullptr, nullptr, nullptr, "wtsapi32-standin-no-a", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::pair<const wchar_t*, const wchar_t*> settings[] = {{L"WtsSessions", c.sessions},
                                                                  {L"WtsFail", c.fail},
                                                                  {L"WtsUser", c.user},
                                                                  {L"WtsDomain", c.domain}};
    for (const auto& [name, value] : settings) {
      if (value != nullptr) {
        registry_.SetString(HKEY_CURRENT_USER, kStandIns, name, value);
      } else {
        registry_.Remove(HKEY_CURRENT_USER, kStandIns, name);
      }
    }
    const std::string library(c.library);
    ASSERT_TRUE(CopyFileW(
        (ProgramFolder() + L"\\" + std::wstring(library.begin(), library.end()) + L".dll").c_str(),
        system32.c_str(), FALSE));
    Clear();
    const ProgramRun run =
        RunProgram(copy.Path(), std::wstring(L"register-task plugin \"") + kProgram + L"\" x");
    const std::string trail = TrailOf(run.output);
    EXPECT_EQ(trail.substr(0, trail.find("1106.1=")),
              std::string(c.reported) + (*c.reported ? " " : ""))
        << run.output;
    const std::string log = Log();
    EXPECT_NE(log.find(" user=VT_BSTR:" + c.account + " password="), std::string::npos) << log;
    EXPECT_EQ(log.find("WTSQuerySessionInformationA"), std::string::npos);
  }
  CopyFileW((ProgramFolder() + L"\\wtsapi32-standin.dll").c_str(), system32.c_str(), FALSE);
}

}  // namespace
