// The update notifier task against the real schedulers, and against the
// stand-ins scripts/task-standin-fixture.sh puts in place.
#include <windows.h>
#include <mstask.h>
#include <wtsapi32.h>

#include <cctype>
#include <sstream>
#include <thread>

#include "WineTestSupport.h"
#include "foundation/ComRef.h"
#include "stubs/TaskStandInSettings.h"
#include "update/NotifierTask.h"

namespace {

const wchar_t kPluginTask[] = L"Arvex Glint Player NPAPI Notifier";
const wchar_t kPepperTask[] = L"Arvex Glint Player PPAPI Notifier";
const wchar_t kProgram[] = L"C:\\Program Files\\Arvex\\GlintUpdater.exe";
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";
const wchar_t kRole[] = L"GLINT_TASK_ROLE";
const wchar_t kXpHost[] = L"glint_task_xp_host.exe";  // beside the Windows XP copy
const std::string kNotImplemented = "-2147467263";

std::string Dec(HRESULT hr) {
  return std::to_string(static_cast<int32_t>(hr));
}

// Reports as "code.level=detail", space separated; from the host object, or
// from a host program's status lines.
std::string Trail(const ReferenceHost& host, size_t from = 0) {
  std::string out;
  for (size_t i = from; i < host.Reports().size(); ++i) {
    const StatusReport& r = host.Reports()[i];
    out += (out.empty() ? "" : " ") + std::to_string(r.code) + "." + std::to_string(r.level) + "=" +
           ToUtf8(r.detail);
  }
  return out;
}
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
// What came after the object's construction (code 1106).
std::string After1106(const std::string& trail) {
  const size_t at = trail.find("1106.1=");
  return at == std::string::npos ? "no 1106 in " + trail
                                 : trail.substr(std::min(at + 8, trail.size()));
}

// A program of the tests' folder copied as `name` into `folder`, with the
// library beside it and a Wine setting; its path.
std::wstring CopyProgram(ScratchFiles* files, ScratchRegistry* registry, const std::wstring& folder,
                         const wchar_t* source, const std::wstring& name,
                         const std::wstring& subkey, const wchar_t* setting, const wchar_t* value) {
  files->Copy(ProgramFolder() + L"\\" + source, folder + L"\\" + name);
  files->Copy(ProgramFolder() + L"\\GlintUtil.dll", folder + L"\\GlintUtil.dll");
  registry->SetString(HKEY_CURRENT_USER, kAppDefaults + name + subkey, setting, value);
  return folder + L"\\" + name;
}

// Wine's current scheduler lacks a trigger's id and repetition: a new task
// stops at the repetition and nothing is stored. A task registered by the
// test is found; its update stops at the trigger count. Deletion is silent.
TEST(NotifierTaskReal, CurrentSchedulerCreateUpdateAndDelete) {
  ReferenceHost host;
  host.SetStatusStream(nullptr);
  EXPECT_FALSE(RegisterNotifierTask(M(kProgram), u"-check plugin"_ms, &host, kPlayerPlugin));
  EXPECT_EQ(Trail(host),
            "37.0=0 36.1=0 1106.1= 1192.1=" + kNotImplemented + " 1195.1=" + kNotImplemented);
  EXPECT_FALSE(Exists(KnownFolder(0x25 /* CSIDL_SYSTEM */) + L"\\tasks\\" + kPluginTask));

  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring xml = temp + std::wstring(L"glint-notifier-task.xml");
  ScratchFiles files;
  files.File(xml,
             "<?xml version=\"1.0\"?><Task xmlns=\"http://schemas.microsoft.com/windows/2004/"
             "02/mit/task\"><Actions><Exec><Command>x.exe</Command></Exec></Actions></Task>");
  const ProgramRun made =
      RunProgram(L"\"" + KnownFolder(0x25) + L"\\schtasks.exe\" /create /tn \"" + kPluginTask +
                 L"\" /xml " + xml);
  ASSERT_EQ(made.code, 0u) << made.output;
  const size_t from = host.Reports().size();
  EXPECT_FALSE(RegisterNotifierTask(M(kProgram), u"-check plugin"_ms, &host, kPlayerPlugin));
  EXPECT_EQ(After1106(Trail(host, from)), "1175.1=" + kNotImplemented);
  const size_t reported = host.Reports().size();
  EXPECT_TRUE(DeleteNotifierTask(&host, kPlayerPlugin));
  EXPECT_FALSE(DeleteNotifierTask(&host, kPlayerPlugin));
  EXPECT_EQ(host.Reports().size(), reported);
}

// The first generation, in copies of this program and the host that Wine
// tells they run on Windows XP (its first scheduler serves those).
TEST(NotifierTaskReal, FirstSchedulerInCopiesUnderWindowsXp) {
  const std::wstring folder = NewTempFolder(L"glint-task-xp");
  {
    ScratchFiles files;
    ScratchRegistry registry;
    const std::wstring self = CopyProgram(&files, &registry, folder, L"notifier_task_test.exe",
                                          L"glint_task_xp.exe", L"", L"Version", L"winxp64");
    CopyProgram(&files, &registry, folder, L"glinthost.exe", kXpHost, L"", L"Version", L"winxp64");
    SetEnvironmentVariableW(kRole, L"xp");
    const ProgramRun run =
        RunProgram(L"\"" + self + L"\" --gtest_filter=FirstSchedulerChild.*", 240000);
    SetEnvironmentVariableW(kRole, nullptr);
    EXPECT_EQ(run.code, 0u) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
  }
  RemoveTree(folder);
}

struct FirstTask {
  HRESULT found = E_FAIL;
  std::string comment, creator, application, parameters;
  DWORD flags = 0;
  TASK_TRIGGER trigger = {};
};

// Reads a first-generation task back; with `interval`, then changes its
// trigger's interval and its application, as someone else's change would.
FirstTask FirstTaskOf(const wchar_t* name, WORD interval = 0) {
  FirstTask t;
  const HRESULT initialised = CoInitialize(nullptr);
  {
    ComRef<ITaskScheduler> scheduler;
    ComRef<ITask> task;
    ComRef<ITaskTrigger> trigger;
    t.found = CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ITaskScheduler, scheduler.Receive());
    if (SUCCEEDED(t.found)) {
      t.found = scheduler->Activate(name, IID_ITask, reinterpret_cast<IUnknown**>(task.Receive()));
    }
    if (SUCCEEDED(t.found) && SUCCEEDED(task->GetTrigger(0, trigger.ReceiveTyped()))) {
      t.trigger.cbTriggerSize = sizeof t.trigger;
      trigger->GetTrigger(&t.trigger);
      using Getter = HRESULT (STDMETHODCALLTYPE ITask::*)(LPWSTR*);
      for (auto [get, text] : {std::pair<Getter, std::string*>{&ITask::GetComment, &t.comment},
                               {&ITask::GetCreator, &t.creator},
                               {&ITask::GetApplicationName, &t.application},
                               {&ITask::GetParameters, &t.parameters}}) {
        LPWSTR value = nullptr;
        *text = SUCCEEDED((task.Get()->*get)(&value)) ? Utf8Of(value) : "?";
        CoTaskMemFree(value);
      }
      task->GetFlags(&t.flags);
      TASK_TRIGGER changed = t.trigger;
      changed.MinutesInterval = interval;
      ComRef<IPersistFile> file;
      if (interval != 0 && SUCCEEDED(trigger->SetTrigger(&changed)) &&
          SUCCEEDED(task->SetApplicationName(L"C:\\elsewhere.exe")) &&
          SUCCEEDED(task->QueryInterface(IID_IPersistFile, file.Receive()))) {
        file->Save(nullptr, TRUE);
      }
    }
  }
  if (SUCCEEDED(initialised)) CoUninitialize();
  return t;
}

std::string Schedule(const TASK_TRIGGER& t) {
  char text[100];
  snprintf(text, sizeof text, "%d-%d-%d %d:%d daily(%d) every %d, %lu of %lu", t.wBeginYear,
           t.wBeginMonth, t.wBeginDay, t.wStartHour, t.wStartMinute, t.TriggerType,
           t.Type.Daily.DaysInterval, t.MinutesInterval, t.MinutesDuration);
  return text;
}

std::wstring JobFile(const wchar_t* name) {
  return KnownFolder(0x24 /* CSIDL_WINDOWS */) + L"\\tasks\\" + name + L".job";
}

// Wine's scheduler service reads job files as they change and can hold one
// for a moment: a deletion is tried again while the file is there.
bool DeleteFirstTask(ReferenceHost* host, uint32_t type, const wchar_t* name) {
  for (int attempt = 0; attempt < 50; ++attempt, Sleep(100)) {
    if (DeleteNotifierTask(host, type)) return true;
    if (!Exists(JobFile(name))) return false;
  }
  return false;
}

TEST(FirstSchedulerChild, CreateUpdateDeleteAndMinutes) {
  if (GetEnvironmentVariableW(kRole, nullptr, 0) == 0) GTEST_SKIP() << "runs in the XP copy";
  ReferenceHost host;
  host.SetStatusStream(nullptr);
  DeleteNotifierTask(&host, kPlayerPlugin);  // a leftover of an earlier run

  // Created by the host, whose strings describe the task.
  const ProgramRun created =
      RunProgram(L"\"" + ProgramFolder() + L"\\" + kXpHost + L"\" register-task plugin \"" +
                 kProgram + L"\" \"-check plugin\"");
  EXPECT_NE(TrailOf(created.output).find("37.0=0 36.1=0 1106.1= 33.0="), std::string::npos)
      << created.output;
  ASSERT_TRUE(Exists(JobFile(kPluginTask)));
  const FirstTask before = FirstTaskOf(kPluginTask, 15);
  ASSERT_EQ(before.found, S_OK) << Hex(before.found);
  EXPECT_EQ(before.comment + "|" + before.creator + "|" + before.application + "|" +
                before.parameters + "|" + std::to_string(before.flags),
            "Checks for updates of the Arvex Glint Player (NPAPI)|Arvex|" + Utf8Of(kProgram) +
                "|-check plugin|9216");
  const int minute = before.trigger.wStartMinute;
  EXPECT_LT(minute, 60);
  EXPECT_EQ(Schedule(before.trigger),
            "2000-1-1 0:" + std::to_string(minute) + " daily(1) every 7, 60 of 1440");

  // Updated from this program: the schedule stays, the interval and the
  // action are put back.
  EXPECT_TRUE(
      RegisterNotifierTask(u"C:\\new\\updater.exe"_ms, u"-check again"_ms, &host, kPlayerPlugin));
  EXPECT_EQ(After1106(Trail(host)), "32.0=");
  const FirstTask after = FirstTaskOf(kPluginTask);
  EXPECT_EQ(Schedule(after.trigger), Schedule(before.trigger));
  EXPECT_EQ(after.application + "|" + after.parameters + "|" + after.comment,
            "C:\\new\\updater.exe|-check again|" + before.comment);

  const size_t reported = host.Reports().size();
  EXPECT_TRUE(DeleteFirstTask(&host, kPlayerPlugin, kPluginTask));
  EXPECT_FALSE(Exists(JobFile(kPluginTask)));
  EXPECT_FALSE(DeleteNotifierTask(&host, kPlayerPlugin));
  EXPECT_EQ(host.Reports().size(), reported);

  // This program has no description strings; each creation draws its minute.
  DeleteNotifierTask(&host, kPlayerPepper);
  std::set<int> minutes;
  for (int i = 0; i < 30; ++i) {
    const size_t from = host.Reports().size();
    ASSERT_TRUE(RegisterNotifierTask(M(kProgram), u"-check pepperplugin"_ms, &host, kPlayerPepper))
        << Trail(host, from);
    const FirstTask task = FirstTaskOf(kPepperTask);
    EXPECT_EQ(task.comment, "MISSING LOCALIZATION");
    EXPECT_LT(task.trigger.wStartMinute, 60);
    minutes.insert(task.trigger.wStartMinute);
    ASSERT_TRUE(DeleteFirstTask(&host, kPlayerPepper, kPepperTask));
  }
  EXPECT_GE(minutes.size(), 10u);
}

// The stand-ins' settings, log and side file, fresh for each test (the
// stored tasks go with the folder).
class StandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = NewTempFolder(L"glint-task-standin");
    registry_.SetString(HKEY_CURRENT_USER, standin::kSettingsKey, L"Log", folder_ + L"\\log.txt");
    registry_.SetString(HKEY_CURRENT_USER, standin::kSettingsKey, L"Tasks",
                        folder_ + L"\\tasks.txt");
    host_.SetStatusStream(nullptr);
  }
  void TearDown() override { RemoveTree(folder_); }
  void Clear(bool keepTasks = false) {
    DeleteFileW((folder_ + L"\\log.txt").c_str());
    if (!keepTasks) DeleteFileW((folder_ + L"\\tasks.txt").c_str());
  }
  std::string Log() const { return ReadAll(folder_ + L"\\log.txt"); }
  std::string Tasks() const { return ReadAll(folder_ + L"\\tasks.txt"); }
  void Rewrite(const std::string& tasks) {
    standin::WriteFileText(folder_ + L"\\tasks.txt", tasks);
  }
  void Fail(const std::string& method, HRESULT result) {
    registry_.SetString(HKEY_CURRENT_USER, standin::kSettingsKey, L"FailMethod",
                        std::wstring(method.begin(), method.end()));
    registry_.SetDword(HKEY_CURRENT_USER, standin::kSettingsKey, L"FailResult",
                       static_cast<DWORD>(result));
  }
  bool Register(uint32_t type = kPlayerPlugin) {
    from_ = host_.Reports().size();
    return RegisterNotifierTask(M(kProgram), u"-check plugin"_ms, &host_, type);
  }
  std::string Reported() const { return After1106(Trail(host_, from_)); }

  std::wstring folder_;
  ScratchRegistry registry_;
  ReferenceHost host_;
  size_t from_ = 0;
};

// The calls of a creation or of an update, in order, with the values the
// stand-in logs; the code a failure of each reports (0: none; kUntried: not
// failed here, `first`: failed in the creation only) and whether the
// registration goes on after it.
constexpr uint32_t kUntried = ~0u;
struct Call {
  std::string method, values;
  uint32_t code;
  bool continues = false;
};
std::vector<Call> Calls(bool updating) {
  const auto first = [updating](uint32_t code) { return updating ? kUntried : code; };
  std::string account;  // "domain\user" of session 0 as the system's session library says
  for (WTS_INFO_CLASS info : {WTSDomainName, WTSUserName}) {
    wchar_t* text = nullptr;
    DWORD bytes = 0;
    if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, 0, info, &text, &bytes)) {
      account += (account.empty() ? "" : "\\") + Utf8Of(text);
      WTSFreeMemory(text);
    }
  }
  std::vector<Call> calls = {
      {"DllGetClassObject", "", first(1170)},
      {"ITaskService.Connect", "VT_EMPTY VT_EMPTY VT_EMPTY VT_EMPTY", first(1171)},
      {"ITaskService.GetFolder", "\\", first(1172)},
      {"ITaskFolder.GetTask", "Arvex Glint Player NPAPI Notifier", kUntried}};
  const std::vector<Call> create = {
      // clang-format off
      {"ITaskService.NewTask", "0", 1181}, {"ITaskDefinition.get_Settings", "", 1182},
      {"ITaskSettings.put_StartWhenAvailable", "-1", 0},
      {"ITaskSettings.put_Compatibility", "2", 1183, true},
      {"ITaskSettings.put_DisallowStartIfOnBatteries", "0", 1184, true},
      {"ITaskSettings.put_RunOnlyIfNetworkAvailable", "-1", 1185, true},
      {"ITaskDefinition.get_RegistrationInfo", "", 1186},
      {"IRegistrationInfo.put_Author", "Arvex", 1187},
      {"IRegistrationInfo.put_Description", "MISSING LOCALIZATION", 1188},
      {"ITaskDefinition.get_Triggers", "", 1189}, {"ITriggerCollection.Create", "2", 1190},
      {"QueryInterface IDailyTrigger", "", 1191},
      {"ITrigger.put_Id", "NotificationTrigger", 1192, true},
      {"ITrigger.put_StartBoundary", "2000-01-01T00:MM:00Z", 1193, true},
      {"IDailyTrigger.put_DaysInterval", "7", 1194}, {"ITrigger.get_Repetition", "", 1195},
      {"IRepetitionPattern.put_Duration", "P1D", 1196},
      {"IRepetitionPattern.put_Interval", "PT1H", 1197}, {"ITaskDefinition.get_Actions", "", 1198}
      // clang-format on
  };
  // The update puts the interval back, keeps the start and replaces the action.
  const std::vector<Call> update = {
      // clang-format off
      {"IRegisteredTask.get_Definition", "", 1173}, {"ITaskDefinition.get_Triggers", "", 1174},
      {"ITriggerCollection.get_Count", "", 1175}, {"ITriggerCollection.get_Item", "1", 1177},
      {"ITrigger.get_Repetition", "", 1178}, {"IRepetitionPattern.put_Interval", "PT1H", 1179},
      {"ITaskDefinition.get_Settings", "", 1182}, {"ITaskSettings.put_StartWhenAvailable", "-1", 0},
      {"ITaskSettings.put_Compatibility", "2", 1183, true}, {"ITaskDefinition.get_Actions", "", 0},
      {"IActionCollection.Clear", "", 0, true}
      // clang-format on
  };
  const std::vector<Call>& middle = updating ? update : create;
  calls.insert(calls.end(), middle.begin(), middle.end());
  calls.insert(calls.end(), {{"IActionCollection.Create", "0", 1199},
                             {"QueryInterface IExecAction", "", first(1700)},
                             {"IExecAction.put_Path", Utf8Of(kProgram), first(1701)},
                             {"IExecAction.put_Arguments", "-check plugin", first(1702)},
                             {"ITaskFolder.RegisterTaskDefinition",
                              "path=Arvex Glint Player NPAPI Notifier flags=6 user=VT_BSTR:" +
                                  account + " password=VT_EMPTY logon=3 sddl=VT_BSTR:",
                              updating ? 1759u : 1703u}});
  return calls;
}

std::string Lines(const std::vector<Call>& calls) {
  std::string text;
  for (const Call& c : calls) text += c.method + (c.values.empty() ? "" : " ") + c.values + "\n";
  return text;
}

TEST_F(StandIn, CreateAndUpdateHandEveryValueToTheScheduler) {
  EXPECT_TRUE(Register());
  EXPECT_EQ(Reported(), "31.0=");
  std::string log = Log();
  const size_t minute = log.find("put_StartBoundary 2000-01-01T00:") + 32;
  ASSERT_LT(minute, log.size());
  EXPECT_TRUE(log[minute] >= '0' && log[minute] <= '5' && isdigit(log[minute + 1])) << log;
  const std::string boundary = "ITrigger.put_StartBoundary=2000-01-01T00:" + log.substr(minute, 2);
  EXPECT_EQ(log.replace(minute, 2, "MM"), Lines(Calls(false)));

  // Someone changed the interval.
  std::string tasks = Tasks();
  const std::string interval = "IRepetitionPattern.put_Interval=PT1H";
  tasks.replace(tasks.find(interval) + interval.size() - 4, 4, "PT5M");
  Rewrite(tasks);
  Clear(true);
  EXPECT_TRUE(Register());
  EXPECT_EQ(Reported(), "30.0=");
  EXPECT_EQ(Log(), Lines(Calls(true)));
  for (const std::string& field : {boundary, interval}) {
    EXPECT_NE(Tasks().find(field), std::string::npos) << field << "\n" << Tasks();
  }

  EXPECT_TRUE(DeleteNotifierTask(&host_, kPlayerPlugin));
  EXPECT_EQ(Tasks(), "");
}

TEST_F(StandIn, EachFailureReportsItsCodeAndGoesOnOnlyWhereItMay) {
  constexpr HRESULT kRefused = static_cast<HRESULT>(0x80040F01);
  for (const bool updating : {false, true}) {
    for (const Call& c : Calls(updating)) {
      if (c.code == kUntried) continue;
      SCOPED_TRACE(c.method + (updating ? " (update)" : " (create)"));
      Clear();
      if (updating) {
        ASSERT_TRUE(Register());
      }
      Fail(c.method, kRefused);
      testing::internal::CaptureStdout();
      const bool registered = Register();
      const std::string printed = testing::internal::GetCapturedStdout();
      EXPECT_EQ(registered, c.continues);
      const bool said = c.method.find("StartWhenAvailable") != std::string::npos;
      EXPECT_EQ(printed, said ? "\nCannot put setting information: 80040f01" : "");
      Fail("", S_OK);
      std::string expected = c.code == 0 ? "" : std::to_string(c.code) + ".1=" + Dec(kRefused);
      if (c.continues)
        expected += (expected.empty() ? "" : " ") + std::string(updating ? "30" : "31");
      EXPECT_EQ(Reported(), expected + (c.continues ? ".0=" : ""));
    }
  }

  // A stored task without a trigger; a type without a name, which the
  // scheduler refuses.
  Clear();
  ASSERT_TRUE(Register());
  Rewrite(Tasks().substr(0, Tasks().find('\t')) + "\n");
  EXPECT_FALSE(Register());
  EXPECT_EQ(Reported(), "1176.1=0");
  EXPECT_FALSE(Register(99));
  EXPECT_EQ(Reported(), "1703.1=" + Dec(E_ACCESSDENIED));
}

// COM on the calling thread: a thread already in the single-threaded
// apartment is refused; every other call leaves the thread as it found it.
TEST_F(StandIn, ApartmentsAreLeftAsFound) {
  std::thread([this] {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_FALSE(Register());
    EXPECT_EQ(Reported(), "1168.1=" + Dec(RPC_E_CHANGED_MODE));
    CoUninitialize();
    EXPECT_TRUE(Register());
    Fail("ITaskService.Connect", E_FAIL);
    EXPECT_FALSE(Register());
    Fail("", S_OK);
    EXPECT_TRUE(DeleteNotifierTask(&host_, kPlayerPlugin));
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
  }).join();
}

// The console session's account through the session stand-in, which a copy
// of the host loads: sessions, states and names as the settings say.
TEST_F(StandIn, AccountOfTheConsoleSession) {
  const std::wstring system32 = KnownFolder(0x25 /* CSIDL_SYSTEM */) + L"\\wtsapi32.dll";
  ScratchFiles files;
  const std::wstring copy =
      CopyProgram(&files, &registry_, folder_, L"glinthost.exe", L"glint_task_wts.exe",
                  L"\\DllOverrides", L"wtsapi32", L"native");
  struct Case {
    const char* name;
    const wchar_t *sessions, *fail;
    const wchar_t* library;  // the stand-in build in system32
    const char* reported;    // before 1106
    const char* account;
  } cases[] = {
      {"last active session", L"0:4 3:0 5:0 7:4", L"", L"",
       "37.0=4 39.1=0 41.1=0 39.1=3 40.1=3 39.1=5 40.1=5 39.1=7 41.1=5 36.1=5", "DOMAIN5\\user5"},
      {"sessions unknown", L"3:0", L"enumerate=1722", L"", "1754.1=1722 36.1=0", "DOMAIN0\\user0"},
      {"one state unknown", L"0:4 3:0 5:0", L"state5=21", L"",
       "37.0=3 39.1=0 41.1=0 39.1=3 40.1=3 1755.1=21 36.1=3", "DOMAIN3\\user3"},
      {"user unknown", L"2:0", L"user=5", L"", "37.0=1 39.1=2 40.1=2 36.1=2 1752.1=5 1747.1=", ""},
      {"domain unknown", L"2:0", L"domain=6", L"",
       "37.0=1 39.1=2 40.1=2 36.1=2 1753.1=6 1746.1=", "user2"},
      {"no narrow query", L"2:0", L"", L"-no-a", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    registry_.SetString(HKEY_CURRENT_USER, standin::kSettingsKey, L"WtsSessions", c.sessions);
    registry_.SetString(HKEY_CURRENT_USER, standin::kSettingsKey, L"WtsFail", c.fail);
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\wtsapi32-standin" + c.library + L".dll").c_str(),
                          system32.c_str(), FALSE));
    Clear();
    const ProgramRun run =
        RunProgram(L"\"" + copy + L"\" register-task pepper \"" + kProgram + L"\" x");
    const std::string trail = TrailOf(run.output);
    EXPECT_EQ(trail.substr(0, trail.find("1106.1=")),
              std::string(c.reported) + (*c.reported ? " " : ""))
        << run.output;
    EXPECT_NE(Log().find(" user=VT_BSTR:" + std::string(c.account) + " password="),
              std::string::npos)
        << Log();
    EXPECT_EQ(Log().find("WTSQuerySessionInformationA"), std::string::npos);
    // The host's own string describes its task.
    EXPECT_NE(Log().find("put_Description Checks for updates of the Arvex Glint Player (PPAPI)\n"),
              std::string::npos);
  }
  CopyFileW((ProgramFolder() + L"\\wtsapi32-standin.dll").c_str(), system32.c_str(), FALSE);
}

}  // namespace
