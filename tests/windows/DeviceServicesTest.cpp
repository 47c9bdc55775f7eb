// Device services against a live broker: audio device notifications through
// the enumerator stand-in (tools/AudioStandIn.cpp), the screensaver timeout on
// the real desktop, and game controllers through the DirectInput stand-in
// (tools/Dinput8StandIn.cpp). scripts/device-standin-fixture.sh registers and
// copies the stand-ins; each case turns them on through the registry and
// ScratchRegistry turns them off again. The test plays the player: it makes
// the events and hands the broker its own process handle as their source.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"
#include "broker/server/CoGlintBrokerServer.h"

namespace {

constexpr wchar_t kTreatAs[] =
    L"Software\\Classes\\CLSID\\{BCDE0395-E52F-467C-8E3D-C4579291692E}\\TreatAs";
constexpr wchar_t kAudioStandIn[] = L"{6A1D4E2B-3C5F-4B7A-8E9D-1F2C3B4A5D61}";
constexpr wchar_t kOverrides[] = L"Software\\Wine\\AppDefaults\\glinthost.exe\\DllOverrides";
constexpr wchar_t kSettings[] = L"Software\\GlintTestStandIns";
constexpr wchar_t kDesktop[] = L"Control Panel\\Desktop";

std::wstring UniqueName(const wchar_t* what) {
  static int serial = 0;
  return L"GlintDeviceTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + what + L"-" +
         std::to_wstring(++serial);
}

bool Signalled(HANDLE event) {
  return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// 0 while anything still holds the named event (the broker's duplicate,
// once the test closed its own), else the open's error: Wine counts no
// handles, names tell.
DWORD OpenError(const std::wstring& name) {
  UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  return event.Valid() ? 0 : GetLastError();
}
constexpr DWORD kGone = ERROR_FILE_NOT_FOUND;

// The stand-ins' switches and settings, undone after each case.
class DeviceServices : public BrokerSuite {
 protected:
  void SetUp() override {
    folder_ = NewTempFolder(L"glint-device");
    audioLog_ = folder_ + L"\\audio.log";
    dinputLog_ = folder_ + L"\\dinput.log";
    ASSERT_TRUE(trigger_ && done_);
    registry_.SetString(HKEY_CURRENT_USER, kSettings, L"AudioLog", audioLog_);
    registry_.SetString(HKEY_CURRENT_USER, kSettings, L"DinputLog", dinputLog_);
    registry_.SetString(HKEY_CURRENT_USER, kSettings, L"AudioTrigger", triggerName_);
    registry_.SetString(HKEY_CURRENT_USER, kSettings, L"AudioDone", doneName_);
    registry_.SetString(HKEY_CURRENT_USER, kSettings, L"AudioDevices",
                        L"speakers=0;microphone=1;bare=x");
  }
  void TearDown() override { RemoveTree(folder_); }

  void UseAudioStandIn() { registry_.SetString(HKEY_LOCAL_MACHINE, kTreatAs, L"", kAudioStandIn); }
  void UseDinputStandIn() {
    registry_.SetString(HKEY_CURRENT_USER, kOverrides, L"dinput8", L"native");
  }
  void Calls(const std::wstring& calls, DWORD rounds = 1) {
    registry_.SetString(HKEY_CURRENT_USER, kSettings, L"AudioCalls", calls);
    registry_.SetDword(HKEY_CURRENT_USER, kSettings, L"AudioRounds", rounds);
  }
  // Starts a round of the stand-in's calls; Finish waits for its end.
  void Start() { ASSERT_TRUE(SetEvent(trigger_.Get())); }
  bool Finish(DWORD ms = 20000) { return WaitForSingleObject(done_.Get(), ms) == WAIT_OBJECT_0; }
  bool Round(const std::wstring& calls) {
    Calls(calls);
    Start();
    return Finish();
  }
  int LogCount(const std::wstring& path, const std::string& line) {
    const std::string text = ReadAll(path);
    int count = 0;
    for (size_t at = text.find(line + "\n"); at != std::string::npos;
         at = text.find(line + "\n", at + 1)) {
      if (at == 0 || text[at - 1] == '\n') ++count;
    }
    return count;
  }

  ScratchRegistry registry_;
  std::wstring folder_, audioLog_, dinputLog_;
  std::wstring triggerName_ = UniqueName(L"trigger-name"), doneName_ = UniqueName(L"done-name");
  UniqueHandle trigger_{CreateEventW(nullptr, FALSE, FALSE, triggerName_.c_str())};
  UniqueHandle done_{CreateEventW(nullptr, FALSE, FALSE, doneName_.c_str())};
};

// The player's side of one broker: its process handle duplicated into the
// broker as the events' source, and its own events.
class Player {
 public:
  explicit Player(IGlintBroker6* broker) : broker_(broker) {
    const std::vector<DWORD> servers = ProcessesNamed(kServer);
    EXPECT_EQ(servers.size(), 1u);
    if (!servers.empty()) {
      server_.Reset(OpenProcess(PROCESS_DUP_HANDLE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                servers.front()));
    }
    EXPECT_TRUE(server_.Valid()) << GetLastError();
  }
  // This process as a handle value inside the broker, with `access`.
  LONG_PTR Source(DWORD access = PROCESS_DUP_HANDLE | PROCESS_QUERY_LIMITED_INFORMATION) {
    return Into(GetCurrentProcess(), access);
  }
  // One of this process's handles as a value inside the broker.
  LONG_PTR Remote(HANDLE handle) { return Into(handle, 0, DUPLICATE_SAME_ACCESS); }
  // The broker's own process as a handle value inside the broker.
  LONG_PTR BrokerItself() {
    UniqueHandle own(OpenProcess(PROCESS_ALL_ACCESS, FALSE, GetProcessId(server_.Get())));
    return Into(own.Get(), PROCESS_DUP_HANDLE | PROCESS_QUERY_LIMITED_INFORMATION);
  }
  LONG_PTR Client(LONG_PTR source) {
    LONG_PTR cookie = 0;
    EXPECT_EQ(broker_->BrokerMMNotificationClientCreate(source, &cookie), S_OK);
    EXPECT_NE(cookie, 0);
    return cookie;
  }
  LONG_PTR Client() { return Client(Source()); }
  // A manual-reset event of this process, named so that its life shows.
  HANDLE Event(std::wstring* name = nullptr) {
    const std::wstring made = UniqueName(L"event");
    if (name != nullptr) *name = made;
    events_.emplace_back(CreateEventW(nullptr, TRUE, FALSE, made.c_str()));
    return events_.back().Get();
  }
  HRESULT SetDefault(LONG_PTR cookie, HANDLE event) {
    return broker_->BrokerMMNotificationClientSetDefaultDeviceChangeEvent(
        cookie, reinterpret_cast<LONG_PTR>(event));
  }
  HRESULT SetState(LONG_PTR cookie, HANDLE event) {
    return broker_->BrokerMMNotificationClientSetDeviceStateChangeEvent(
        cookie, reinterpret_cast<LONG_PTR>(event));
  }

 private:
  LONG_PTR Into(HANDLE handle, DWORD access, DWORD options = 0) {
    HANDLE remote = nullptr;
    EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), handle, server_.Get(), &remote, access, FALSE,
                                options))
        << GetLastError();
    return reinterpret_cast<LONG_PTR>(remote);
  }
  IGlintBroker6* broker_;
  UniqueHandle server_;
  std::vector<UniqueHandle> events_;
};

// Without the stand-in Wine's enumerator registers the client but has no
// endpoints: everything answers, nothing is ever signalled.
TEST_F(DeviceServices, AudioWithoutStandInIsSilent) {
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  Player player(session.broker);
  const LONG_PTR cookie = player.Client();
  HANDLE changed = player.Event(), state = player.Event();
  EXPECT_EQ(player.SetDefault(cookie, changed), S_OK);
  EXPECT_EQ(player.SetState(cookie, state), S_OK);
  Calls(L"default,0,0,speakers");
  Start();
  EXPECT_FALSE(Finish(1500));  // the stand-in is not even loaded
  EXPECT_FALSE(Signalled(changed) || Signalled(state));
  EXPECT_EQ(session.broker->BrokerMMNotificationClientDestroy(cookie), S_OK);
  EXPECT_EQ(ReadAll(audioLog_), "");
}

// Which notifications signal which event: default-device changes for
// output devices or the multimedia role, state changes of output devices
// only; additions, removals and property changes nothing.
TEST_F(DeviceServices, AudioNotificationsSignalTheirEvent) {
  UseAudioStandIn();
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  Player player(session.broker);
  const LONG_PTR cookie = player.Client();
  HANDLE changed = player.Event(), state = player.Event();
  ASSERT_EQ(player.SetDefault(cookie, changed), S_OK);
  ASSERT_EQ(player.SetState(cookie, state), S_OK);
  EXPECT_EQ(LogCount(audioLog_, "register"), 1);
  struct Case {
    const char* name;
    std::wstring calls;
    bool defaultSignalled, stateSignalled;
  } cases[] = {
      {"render, console", L"default,0,0,speakers", true, false},
      {"render, communications", L"default,0,2,speakers", true, false},
      {"capture, console", L"default,1,0,microphone", false, false},
      {"capture, communications", L"default,1,2,microphone", false, false},
      {"capture, multimedia", L"default,1,1,microphone", true, false},
      {"render device active", L"state,speakers,1", false, true},
      {"render device unplugged", L"state,speakers,8", false, true},
      {"capture device active", L"state,microphone,1", false, false},
      {"unknown device", L"state,nothing,1", false, false},
      {"device without endpoint", L"state,bare,1", false, false},
      {"added, removed, property", L"added,speakers;removed,speakers;property,speakers", false,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetEvent(changed);
    ResetEvent(state);
    ASSERT_TRUE(Round(c.calls));
    EXPECT_EQ(Signalled(changed), c.defaultSignalled);
    EXPECT_EQ(Signalled(state), c.stateSignalled);
  }
  EXPECT_EQ(session.broker->BrokerMMNotificationClientDestroy(cookie), S_OK);
  EXPECT_EQ(LogCount(audioLog_, "unregister"), 1);
}

// Refused cookies and events answer S_FALSE and leave the installed event
// in place and working.
TEST_F(DeviceServices, AudioBadInputKeepsThePreviousEvent) {
  UseAudioStandIn();
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  IGlintBroker6* other = nullptr;
  ASSERT_HRESULT_SUCCEEDED(CreateBroker(&other));
  Player player(session.broker);
  Player otherPlayer(other);
  const LONG_PTR cookie = player.Client();
  const LONG_PTR destroyed = player.Client();
  const LONG_PTR foreign = otherPlayer.Client();
  ASSERT_EQ(session.broker->BrokerMMNotificationClientDestroy(destroyed), S_OK);
  HANDLE installed = player.Event();
  ASSERT_EQ(player.SetDefault(cookie, installed), S_OK);
  HANDLE spare = player.Event();
  const LONG_PTR source = player.Source();

  for (LONG_PTR wrong : {LONG_PTR{0}, destroyed, foreign, cookie + 8, LONG_PTR{0x7FFFFFFF}}) {
    SCOPED_TRACE(wrong);
    EXPECT_EQ(player.SetDefault(wrong, spare), S_FALSE);
    EXPECT_EQ(player.SetState(wrong, spare), S_FALSE);
    EXPECT_EQ(session.broker->BrokerMMNotificationClientDestroy(wrong), S_FALSE);
  }
  // The broker as source with an event value that is valid in the broker.
  HANDLE inBroker = reinterpret_cast<HANDLE>(player.Remote(spare));
  struct Case {
    const char* name;
    LONG_PTR source;
    HANDLE event;
  } cases[] = {
      {"event 0", source, nullptr},
      {"no such handle in the source", source, reinterpret_cast<HANDLE>(0x7FF0)},
      {"source without duplication right", player.Source(PROCESS_QUERY_LIMITED_INFORMATION),
       spare},
      {"source the broker itself", player.BrokerItself(), inBroker},
      {"source the broker's own pseudo handle", -1, inBroker},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LONG_PTR client = player.Client(c.source);
    EXPECT_EQ(player.SetDefault(client, c.event), S_FALSE);
    EXPECT_EQ(player.SetState(client, c.event), S_FALSE);
    // The same value on the good client is refused alike, and keeps its event.
    if (c.source == source) {
      EXPECT_EQ(player.SetDefault(cookie, c.event), S_FALSE);
    }
  }
  ASSERT_TRUE(Round(L"default,0,0,speakers"));
  EXPECT_TRUE(Signalled(installed));
  EXPECT_FALSE(Signalled(spare));
  other->Release();
}

// A second installation closes the first duplicate; destruction closes the
// rest and unregisters, once; so does the release of the broker object
// that made the client, while another object keeps the server running.
TEST_F(DeviceServices, AudioDuplicatesCloseWithTheirClient) {
  UseAudioStandIn();
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  IGlintBroker6* first = nullptr;
  ASSERT_HRESULT_SUCCEEDED(CreateBroker(&first));
  Player player(first);
  const LONG_PTR cookie = player.Client();
  std::wstring firstName, secondName;
  HANDLE firstEvent = player.Event(&firstName);
  ASSERT_EQ(player.SetDefault(cookie, firstEvent), S_OK);
  UniqueHandle ownFirst(firstEvent);  // the test's own copy, closed now
  ownFirst.Reset();
  EXPECT_EQ(OpenError(firstName), 0u);
  HANDLE second = player.Event(&secondName);
  ASSERT_EQ(player.SetDefault(cookie, second), S_OK);
  EXPECT_EQ(OpenError(firstName), kGone);
  ASSERT_TRUE(Round(L"default,0,0,speakers"));
  EXPECT_TRUE(Signalled(second));

  struct Case {
    const char* name;
    bool byRelease;
  } cases[] = {{"destroyed", false}, {"broker object released", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IGlintBroker6* owner = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CreateBroker(&owner));
    Player mine(owner);
    const LONG_PTR client = mine.Client();
    std::wstring a, b;
    {
      UniqueHandle own1(CreateEventW(nullptr, TRUE, FALSE, (a = UniqueName(L"a")).c_str()));
      UniqueHandle own2(CreateEventW(nullptr, TRUE, FALSE, (b = UniqueName(L"b")).c_str()));
      ASSERT_EQ(mine.SetDefault(client, own1.Get()), S_OK);
      ASSERT_EQ(mine.SetState(client, own2.Get()), S_OK);
    }
    EXPECT_EQ(OpenError(a) + OpenError(b), 0u);
    const int unregistered = LogCount(audioLog_, "unregister");
    if (c.byRelease) {
      EXPECT_EQ(first->BrokerMMNotificationClientDestroy(client), S_FALSE);  // not first's
      owner->Release();
    } else {
      EXPECT_EQ(owner->BrokerMMNotificationClientDestroy(client), S_OK);
      EXPECT_EQ(owner->BrokerMMNotificationClientDestroy(client), S_FALSE);
      EXPECT_EQ(mine.SetDefault(client, second), S_FALSE);
      owner->Release();
    }
    EXPECT_EQ(OpenError(a), kGone);
    EXPECT_EQ(OpenError(b), kGone);
    EXPECT_EQ(LogCount(audioLog_, "unregister"), unregistered + 1);
  }
  ASSERT_TRUE(Round(L"default,0,0,speakers"));  // the first object's client alone
  const std::string log = ReadAll(audioLog_);
  EXPECT_EQ(log.substr(log.rfind("round")), "round 1\n");
  first->Release();
}

// 10 000 callbacks on the stand-in's thread while the player installs 500
// events: the broker stays up, every replaced duplicate is closed and the
// last event installed is the one signalled.
TEST_F(DeviceServices, AudioCallbacksRaceInstallations) {
  UseAudioStandIn();
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  Player player(session.broker);
  const LONG_PTR cookie = player.Client();
  Calls(L"default,0,0,speakers", 10000);
  Start();
  std::vector<std::wstring> names;
  HANDLE last = nullptr;
  for (int i = 0; i < 500; ++i) {
    std::wstring name;
    UniqueHandle own(CreateEventW(nullptr, TRUE, FALSE, (name = UniqueName(L"race")).c_str()));
    ASSERT_EQ(player.SetDefault(cookie, own.Get()), S_OK) << i;
    names.push_back(name);
    if (i == 499) last = own.Release();
  }
  ASSERT_TRUE(Finish(120000));
  UniqueHandle lastOwn(last);
  for (size_t i = 0; i + 1 < names.size(); ++i) ASSERT_EQ(OpenError(names[i]), kGone) << i;
  ResetEvent(last);
  ASSERT_TRUE(Round(L"default,0,0,speakers"));
  EXPECT_TRUE(Signalled(last));
  EXPECT_EQ(session.broker->BrokerMMNotificationClientDestroy(cookie), S_OK);
}

std::wstring ProfileTimeout() {
  wchar_t text[32] = {};
  DWORD size = sizeof text;
  RegGetValueW(HKEY_CURRENT_USER, kDesktop, L"ScreenSaveTimeOut", RRF_RT_REG_SZ, nullptr, text,
               &size);
  return text;
}

// The desktop's timeout as a process that never set it sees it: on this test
// platform a process that set the value keeps answering its own copy.
UINT DesktopTimeout() {
  UniqueHandle child = StartSelf(L"DeviceServicesChild.DISABLED_ReadTimeout", L"");
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(child.Get(), 30000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(child.Get(), &code);
  }
  return code;
}

TEST(DeviceServicesChild, DISABLED_ReadTimeout) {
  UINT timeout = 0xFFFFFFFE;
  SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &timeout, 0);
  ExitProcess(timeout);
}

// The screensaver timeout: restarted at its value (twice), refused when
// off; the user's profile keeps what it had. A broker per case: on this
// test platform a process keeps the value it first read or set.
TEST_F(DeviceServices, ScreensaverDelay) {
  UINT original = 0;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &original, 0));
  const std::wstring profile = ProfileTimeout();
  struct Case {
    UINT timeout;
    HRESULT expected;
  } cases[] = {{600, S_OK}, {0, E_FAIL}, {45, S_OK}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.timeout);
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, c.timeout, nullptr, 0));
    Session session;
    ASSERT_HRESULT_SUCCEEDED(session.created);
    for (int call = 0; call < 2; ++call) {
      EXPECT_EQ(session.broker->BrokerDelayScreensaver(), c.expected);
      EXPECT_EQ(DesktopTimeout(), c.timeout);
    }
  }
  SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, original, nullptr, 0);
  EXPECT_EQ(DesktopTimeout(), original);
  EXPECT_EQ(ProfileTimeout(), profile);
}

// Game controllers counted by the stand-in; creation failure and the
// system's own library count none.
TEST_F(DeviceServices, ControllerCount) {
  {
    Session plain;  // Wine's own library: no controllers, stand-in untouched
    ASSERT_HRESULT_SUCCEEDED(plain.created);
    ULONG count = 99;
    EXPECT_EQ(plain.broker->BrokerGetDirectInputCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ReadAll(dinputLog_), "");
  }
  UseDinputStandIn();
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  struct Case {
    const char* name;
    DWORD reported;
    HRESULT creation;
    ULONG expected;
  } cases[] = {
      {"none", 0, S_OK, 0},
      {"one", 1, S_OK, 1},
      {"three", 3, S_OK, 3},
      {"creation fails", 3, E_FAIL, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(dinputLog_.c_str());
    registry_.SetDword(HKEY_CURRENT_USER, kSettings, L"DinputCount", c.reported);
    registry_.SetDword(HKEY_CURRENT_USER, kSettings, L"DinputCreate",
                       static_cast<DWORD>(c.creation));
    ULONG count = 99;
    EXPECT_EQ(session.broker->BrokerGetDirectInputCount(&count), S_OK);
    EXPECT_EQ(count, c.expected);
    std::string expected = "create version=0x0800 interface=wide module=main outer=none\n";
    if (SUCCEEDED(c.creation)) {
      expected += "enum class=4 flags=1 reported=" + std::to_string(c.reported) + "\n";
    }
    EXPECT_EQ(ReadAll(dinputLog_), expected);
  }
}

// A missing out-pointer never crosses processes: the object in this process.
TEST_F(DeviceServices, ControllerCountNeedsAnOutPointer) {
  auto* broker = new CoGlintBrokerServer(nullptr);
  EXPECT_EQ(broker->BrokerGetDirectInputCount(nullptr), E_INVALIDARG);
  LONG_PTR cookie = 0;
  EXPECT_EQ(broker->BrokerMMNotificationClientCreate(0, nullptr), E_INVALIDARG);
  EXPECT_EQ(broker->BrokerMMNotificationClientCreate(0, &cookie), S_OK);
  EXPECT_EQ(broker->BrokerMMNotificationClientSetDefaultDeviceChangeEvent(cookie, 0), S_FALSE);
  broker->Release();
}

}  // namespace
