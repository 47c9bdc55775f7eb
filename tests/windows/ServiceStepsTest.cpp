// The service steps against Wine's service control manager and the
// services' stand-in: stops that follow the service, refusals, and the
// service program's commands.
#include "WineTestSupport.h"
#include "engine/ServiceController.h"
#include "engine/Uninstall.h"

namespace {

const wchar_t kName[] = L"ArvexGlintPlayerUpdateSvc";

class ServiceSteps : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.SetStatusStream(nullptr);
    files_.Copy(ProgramFolder() + L"\\service_standin.exe", program_);
  }
  void TearDown() override { Remove(); }
  // Installs and starts the stand-in as the update service in `mode`.
  void Install(const std::wstring& mode) {
    UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const std::wstring command = L"\"" + program_ + L"\" service " + mode;
    UniqueScHandle service(CreateServiceW(manager.Get(), kName, kName, SERVICE_ALL_ACCESS,
                                          SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                          SERVICE_ERROR_IGNORE, command.c_str(), nullptr, nullptr,
                                          nullptr, nullptr, nullptr));
    ASSERT_TRUE(service) << GetLastError();
    ASSERT_TRUE(StartServiceW(service.Get(), 0, nullptr)) << GetLastError();
    SERVICE_STATUS status = {};
    for (int i = 0; i < 100 && QueryServiceStatus(service.Get(), &status) &&
                    status.dwCurrentState != SERVICE_RUNNING;
         ++i) {
      Sleep(50);
    }
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  }
  // Ends the stand-in whatever its mode and deletes the service.
  void Remove() {
    UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    UniqueScHandle service(OpenServiceW(manager.Get(), kName, SERVICE_ALL_ACCESS));
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!service) return;
    if (QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                             reinterpret_cast<BYTE*>(&status), sizeof status, &needed) &&
        status.dwProcessId != 0) {
      UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
      TerminateProcess(process.Get(), 0);
      WaitForSingleObject(process.Get(), 5000);
    }
    DeleteService(service.Get());
  }
  std::wstring Reports() { return ReportCodes(host_, reported_); }

  ServiceController Update() { return UpdateServiceController(&host_, M(program_)); }

  ReferenceHost host_;
  size_t reported_ = 0;  // reports before this are another case's
  ScratchFiles files_;
  const std::wstring folder_ = NewTempFolder(L"glint-service");
  const std::wstring program_ = folder_ + L"\\svc.exe";
};

TEST_F(ServiceSteps, StopsFollowTheService) {
  struct Case {
    const wchar_t* mode;  // null: no service
    bool result;
    const wchar_t* reports;
  } cases[] = {
      {nullptr, true, L""},
      {L"stop-now", true, L"35:0 "},
      {L"stop-and-end", true, L"35:0 "},  // the control fails, the service stopped
      {L"stop-after 300", true, L"1743:1 35:0 "},
      {L"refuse-stop", false, L"1106:1 "},
      {L"never-stop", true, L"1744:1 "},  // given up after 30 s
  };
  for (const Case& c : cases) {
    if (c.mode != nullptr) Install(c.mode);
    EXPECT_EQ(Update().StopService(), c.result) << (c.mode ? Utf8Of(c.mode) : "none");
    EXPECT_EQ(Reports(), c.reports) << (c.mode ? Utf8Of(c.mode) : "none");
    Remove();
    reported_ = host_.Reports().size();
  }
}

TEST_F(ServiceSteps, CommandsRunTheProgramAndUninstallDeletesTheService) {
  Install(L"stop-now");
  EXPECT_TRUE(Update().UninstallService());
  EXPECT_FALSE(Update().ServiceExists());
  files_.File(program_ + L".exitcode", "3");
  EXPECT_FALSE(Update().EnableAnalytics());
  const std::string log = ReadAll(program_ + L".log");
  for (const char* argument : {" -uninstall", " -enableAnalytics"}) {
    EXPECT_NE(log.find(argument), std::string::npos) << argument;
  }
  ServiceController absent(&host_, M(folder_ + L"\\absent.exe"), M(kName), MString(u""));
  EXPECT_FALSE(absent.UninstallService());
  EXPECT_FALSE(absent.RunCommand(MString(u"-x")));
  EXPECT_EQ(Reports(), L"1739:1 1118:1 ");
}

TEST_F(ServiceSteps, RemovalOfTheUpdateFeedbackAndHelperServices) {
  ScratchRegistry registry;
  const std::wstring log = program_ + L".log";
  // The update service: absent, removed, and a refused command that still
  // deletes the program.
  EXPECT_TRUE(RemoveUpdateService(&host_, M(folder_ + L"\\absent.exe"), true));
  Install(L"stop-now");
  EXPECT_TRUE(RemoveUpdateService(&host_, M(program_), false));
  EXPECT_FALSE(::Exists(program_) || Update().ServiceExists());
  files_.Copy(ProgramFolder() + L"\\service_standin.exe", program_);
  files_.File(program_ + L".exitcode", "3");
  EXPECT_FALSE(RemoveUpdateService(&host_, M(program_), true));
  EXPECT_FALSE(::Exists(program_));
  const std::string before = ReadAll(log);
  EXPECT_FALSE(Update().SetUpdateMode(7));
  EXPECT_EQ(ReadAll(log), before) << "mode 7 runs nothing";
  EXPECT_EQ(Reports(), L"1118:1 ");

  // The feedback service stays while the plugin type is installed, unless forced.
  const std::wstring feedback = folder_ + L"\\feedback.exe";
  files_.Copy(ProgramFolder() + L"\\service_standin.exe", feedback);
  registry.SetString(HKEY_LOCAL_MACHINE, L"Software\\Kestrelink\\GlintPlayerPlugin", L"PlayerPath",
                     L"C:\\P\\NPGlint34_0_0_384.dll");
  EXPECT_TRUE(RemoveFeedbackService(&host_, M(feedback), M(program_), false));
  EXPECT_TRUE(::Exists(feedback));
  EXPECT_TRUE(RemoveFeedbackService(&host_, M(feedback), M(program_), true));
  EXPECT_FALSE(::Exists(feedback));

  // The helper: its own uninstaller when there; kept for a partner
  // installation; removed when the partner check is skipped.
  const std::wstring helper = folder_ + L"\\helper.exe";
  files_.Copy(ProgramFolder() + L"\\service_standin.exe", helper);
  files_.Copy(RecorderPath(), folder_ + L"\\HelperUninstall.exe");
  EXPECT_TRUE(RemoveHelperService(&host_, M(helper), false));
  EXPECT_NE(ReadAll(folder_ + L"\\HelperUninstall.exe.log").find("\" -s"), std::string::npos);
  DeleteFileW((folder_ + L"\\HelperUninstall.exe").c_str());
  registry.SetDword(HKEY_LOCAL_MACHINE, L"Software\\Kestrelink\\GlintPlayerPlugin", L"isPartner",
                    1);
  EXPECT_TRUE(RemoveHelperService(&host_, M(helper), false));
  EXPECT_TRUE(::Exists(helper));
  EXPECT_TRUE(RemoveHelperService(&host_, M(helper), true));
  EXPECT_FALSE(::Exists(helper));
  EXPECT_NE(ReadAll(helper + L".log").find("-uninstall"), std::string::npos);
}

TEST_F(ServiceSteps, UpdateModesRunTheirCommandsInOrder) {
  struct Case {
    uint32_t mode;
    const char* commands;
  } cases[] = {
      {0, " -setSilentAutoUpdate\n"},
      {1, " -uninstall\n -setNotifyAutoUpdate\n"},
      {2, " -uninstall\n -setDisableAutoUpdate\n"},
      {3, " -setNotifyAutoUpdate\n"},
      {4, " -setDisableAutoUpdate\n"},
      {5, " -setNotifyAutoUpdate\n"},
      {6, " -setDisableAutoUpdate\n"},
  };
  const std::wstring log = program_ + L".log";
  for (bool refused : {false, true}) {
    if (refused) files_.File(program_ + L".exitcode", "3");
    for (const Case& c : cases) {
      DeleteFileW(log.c_str());
      EXPECT_EQ(Update().SetUpdateMode(c.mode), !refused) << c.mode;
      // Each line is the program's path, one space and the argument.
      std::string commands, all = ReadAll(log);
      for (size_t at = all.find(".exe "); at != std::string::npos; at = all.find(".exe ", at + 1)) {
        commands += all.substr(at + 4, all.find('\n', at) - at - 3);
      }
      EXPECT_EQ(commands, c.commands) << c.mode;
    }
  }
  EXPECT_EQ(Reports(), L"");
}

}  // namespace
