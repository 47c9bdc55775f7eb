// Device services against a live broker: audio notifications and game
// controllers through stand-ins (stubs/) that each case turns on in the
// registry, and the real screensaver timeout. The test plays the player: it
// makes the events and hands the broker its own process handle as their
// source. Wine counts no handles: closed duplicates show as vanished names.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"
#include "broker/server/CoGlintBrokerServer.h"

namespace {

constexpr wchar_t kSettings[] = L"Software\\GlintTestStandIns";
constexpr wchar_t kDesktop[] = L"Control Panel\\Desktop";
constexpr DWORD kGone = ERROR_FILE_NOT_FOUND;
constexpr DWORD kPlayerRights = PROCESS_DUP_HANDLE | PROCESS_QUERY_LIMITED_INFORMATION;

bool Signalled(HANDLE event) {
  return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}
// 0 while something holds the named event, else the open's error.
DWORD OpenError(const std::wstring& name) {
  UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  return event.Valid() ? 0 : GetLastError();
}
int Lines(const std::string& text, const std::string& line) {
  int count = 0;
  const std::string whole = line + "\n";
  for (size_t at = text.find(whole); at != std::string::npos; at = text.find(whole, at + 1))
    count += at == 0 || text[at - 1] == '\n';
  return count;
}

class DeviceServices : public BrokerSuite {
 protected:
  void SetUp() override {
    for (auto [name, value] : {std::pair{L"AudioLog", log_},
                               {L"DinputLog", dinputLog_},
                               {L"AudioTrigger", trigger_.name},
                               {L"AudioDone", done_.name},
                               {L"AudioDevices", std::wstring(L"speakers=0;mic=1;bare=x")}})
      registry_.SetString(HKEY_CURRENT_USER, kSettings, name, value);
  }
  void TearDown() override { RemoveTree(folder_); }
  void UseAudioStandIn() {
    registry_.SetString(
        HKEY_LOCAL_MACHINE,
        L"Software\\Classes\\CLSID\\{BCDE0395-E52F-467C-8E3D-C4579291692E}\\TreatAs", L"",
        L"{6A1D4E2B-3C5F-4B7A-8E9D-1F2C3B4A5D61}");
  }
  // Starts `rounds` rounds of the stand-in's calls; Finish waits for their end.
  void Start(const std::wstring& calls, DWORD rounds = 1) {
    registry_.SetString(HKEY_CURRENT_USER, kSettings, L"AudioCalls", calls);
    registry_.SetDword(HKEY_CURRENT_USER, kSettings, L"AudioRounds", rounds);
    SetEvent(trigger_.handle.Get());
  }
  // A round nobody took is withdrawn.
  bool Finish(DWORD ms = 20000) {
    const bool ended = WaitForSingleObject(done_.handle.Get(), ms) == WAIT_OBJECT_0;
    if (!ended) ResetEvent(trigger_.handle.Get());
    return ended;
  }
  bool Round(const std::wstring& calls) { return Start(calls), Finish(); }
  std::string Log() { return ReadAll(log_); }

  struct Named {
    explicit Named(BOOL manual = FALSE)
        : handle(CreateEventW(nullptr, manual, FALSE, name.c_str())) {}
    static inline int serial = 0;
    std::wstring name = L"GlintDeviceTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(++serial);
    UniqueHandle handle;
  };
  ScratchRegistry registry_;
  std::wstring folder_ = NewTempFolder(L"glint-device");
  std::wstring log_ = folder_ + L"\\audio.log", dinputLog_ = folder_ + L"\\dinput.log";
  Named trigger_, done_;
};

// The player of one broker object: its process handle duplicated into the
// broker, its clients and its events.
class Player {
 public:
  explicit Player(IGlintBroker6* broker) : broker(broker) {
    const std::vector<DWORD> servers = ProcessesNamed(kServer);
    if (servers.size() == 1) server_.Reset(OpenProcess(kPlayerRights, FALSE, servers[0]));
    EXPECT_TRUE(server_.Valid());
  }
  // A handle of this process as a value inside the broker.
  LONG_PTR Remote(HANDLE handle, DWORD rights = 0) {
    HANDLE remote = nullptr;
    EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), handle, server_.Get(), &remote, rights, FALSE,
                                rights == 0 ? DUPLICATE_SAME_ACCESS : 0));
    return reinterpret_cast<LONG_PTR>(remote);
  }
  // The bare duplication right is enough for a source.
  LONG_PTR Source(DWORD rights = PROCESS_DUP_HANDLE) { return Remote(GetCurrentProcess(), rights); }
  LONG_PTR Client(LONG_PTR source = 0) {
    LONG_PTR cookie = 0;
    EXPECT_EQ(broker->BrokerMMNotificationClientCreate(source ? source : Source(), &cookie), S_OK);
    EXPECT_NE(cookie, 0);
    return cookie;
  }
  HRESULT Set(bool state, LONG_PTR cookie, HANDLE event) {
    const auto value = reinterpret_cast<LONG_PTR>(event);
    return state ? broker->BrokerMMNotificationClientSetDeviceStateChangeEvent(cookie, value)
                 : broker->BrokerMMNotificationClientSetDefaultDeviceChangeEvent(cookie, value);
  }
  IGlintBroker6* broker;

 private:
  UniqueHandle server_;
};

// Which notifications signal which event, with and without the stand-in
// (Wine's own enumerator registers the client and never calls it).
TEST_F(DeviceServices, AudioNotificationsSignalTheirEvent) {
  struct Case {
    const char* name;
    const wchar_t* calls;
    bool changed, state;
  } cases[] = {
      {"render, console", L"default,0,0,speakers", true, false},
      {"render, communications", L"default,0,2,speakers", true, false},
      {"capture, console", L"default,1,0,mic", false, false},
      {"capture, multimedia", L"default,1,1,mic", true, false},
      {"render device active", L"state,speakers,1", false, true},
      {"capture device active", L"state,mic,1", false, false},
      {"unknown device", L"state,nothing,1", false, false},
      {"device without endpoint", L"state,bare,1", false, false},
      {"added, removed, property", L"added,speakers;removed,speakers;property,speakers", false,
       false},
  };
  for (bool standIn : {false, true}) {
    if (standIn) UseAudioStandIn();
    Session session;
    ASSERT_HRESULT_SUCCEEDED(session.created);
    Player player(session.broker);
    const LONG_PTR cookie = player.Client();
    Named changed(TRUE), state(TRUE);
    ASSERT_EQ(player.Set(false, cookie, changed.handle.Get()), S_OK);
    ASSERT_EQ(player.Set(true, cookie, state.handle.Get()), S_OK);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (standIn ? "" : ", no stand-in"));
      ResetEvent(changed.handle.Get());
      ResetEvent(state.handle.Get());
      Start(c.calls);
      ASSERT_EQ(Finish(standIn ? 20000 : 300), standIn);
      EXPECT_EQ(Signalled(changed.handle.Get()), standIn && c.changed);
      EXPECT_EQ(Signalled(state.handle.Get()), standIn && c.state);
    }
    EXPECT_EQ(session.broker->BrokerMMNotificationClientDestroy(cookie), S_OK);
  }
  EXPECT_EQ(Lines(Log(), "register"), 1);
  EXPECT_EQ(Lines(Log(), "unregister"), 1);
}

// Refused cookies and events answer S_FALSE; the installed event stays and
// is still signalled.
TEST_F(DeviceServices, AudioBadInputKeepsThePreviousEvent) {
  UseAudioStandIn();
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  IGlintBroker6* other = nullptr;
  ASSERT_HRESULT_SUCCEEDED(CreateBroker(&other));
  Player player(session.broker), otherPlayer(other);
  const LONG_PTR cookie = player.Client(), destroyed = player.Client();
  const LONG_PTR foreign = otherPlayer.Client();
  ASSERT_EQ(session.broker->BrokerMMNotificationClientDestroy(destroyed), S_OK);
  Named installed(TRUE), spare(TRUE);
  ASSERT_EQ(player.Set(false, cookie, installed.handle.Get()), S_OK);
  for (LONG_PTR wrong : {LONG_PTR{0}, destroyed, foreign, cookie + 8, LONG_PTR{0x7FFFFFFF}}) {
    SCOPED_TRACE(wrong);
    for (bool state : {false, true})
      EXPECT_EQ(player.Set(state, wrong, spare.handle.Get()), S_FALSE);
    EXPECT_EQ(session.broker->BrokerMMNotificationClientDestroy(wrong), S_FALSE);
  }
  const LONG_PTR source = player.Source();
  UniqueHandle brokerItself(OpenProcess(PROCESS_ALL_ACCESS, FALSE, ProcessesNamed(kServer)[0]));
  const auto inBroker = reinterpret_cast<HANDLE>(player.Remote(spare.handle.Get()));
  struct Case {
    const char* name;
    LONG_PTR source;
    HANDLE event;
  } cases[] = {
      {"event 0", source, nullptr},
      {"no such handle in the source", source, reinterpret_cast<HANDLE>(0x7FF0)},
      {"source without duplication right", player.Source(PROCESS_QUERY_LIMITED_INFORMATION),
       spare.handle.Get()},
      {"source the broker itself", player.Remote(brokerItself.Get(), kPlayerRights), inBroker},
      {"source the broker's pseudo handle", -1, inBroker},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LONG_PTR client = c.source == source ? cookie : player.Client(c.source);
    for (bool state : {false, true}) EXPECT_EQ(player.Set(state, client, c.event), S_FALSE);
  }
  ASSERT_TRUE(Round(L"default,0,0,speakers"));
  EXPECT_TRUE(Signalled(installed.handle.Get()));
  EXPECT_FALSE(Signalled(spare.handle.Get()));
  other->Release();
}

// A second installation closes the first duplicate; destroying the client,
// or releasing the broker object that made it while another keeps the
// server running, unregisters it and closes both duplicates.
TEST_F(DeviceServices, AudioDuplicatesCloseWithTheirClient) {
  UseAudioStandIn();
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  Player keeper(session.broker);
  const LONG_PTR kept = keeper.Client();
  std::wstring first;
  {
    Named event;
    first = event.name;
    ASSERT_EQ(keeper.Set(false, kept, event.handle.Get()), S_OK);
  }
  EXPECT_EQ(OpenError(first), 0u);
  Named second(TRUE);
  ASSERT_EQ(keeper.Set(false, kept, second.handle.Get()), S_OK);
  EXPECT_EQ(OpenError(first), kGone);
  ASSERT_TRUE(Round(L"default,0,0,speakers"));
  EXPECT_TRUE(Signalled(second.handle.Get()));

  for (bool byRelease : {false, true}) {
    SCOPED_TRACE(byRelease ? "broker object released" : "destroyed");
    IGlintBroker6* owner = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CreateBroker(&owner));
    Player player(owner);
    const LONG_PTR client = player.Client();
    std::wstring names[2];
    for (bool state : {false, true}) {
      Named event;
      names[state] = event.name;
      ASSERT_EQ(player.Set(state, client, event.handle.Get()), S_OK);
    }
    EXPECT_EQ(OpenError(names[0]) + OpenError(names[1]), 0u);
    const int unregistered = Lines(Log(), "unregister");
    EXPECT_EQ(session.broker->BrokerMMNotificationClientDestroy(client), S_FALSE);  // not its own
    if (!byRelease) {
      EXPECT_EQ(owner->BrokerMMNotificationClientDestroy(client), S_OK);
    }
    owner->Release();
    EXPECT_EQ(OpenError(names[0]), kGone);
    EXPECT_EQ(OpenError(names[1]), kGone);
    EXPECT_EQ(Lines(Log(), "unregister"), unregistered + 1);
  }
  ASSERT_TRUE(Round(L"default,0,0,speakers"));
  EXPECT_EQ(Lines(Log(), "round 1"), 2);  // the keeper's client alone, both times
}

// Callbacks on the stand-in's thread for as long as the player installs 500
// events, and at least 10 000: the broker stays up, every replaced duplicate
// is closed and the last event installed is the one signalled.
TEST_F(DeviceServices, AudioCallbacksRaceInstallations) {
  UseAudioStandIn();
  Session session;
  ASSERT_HRESULT_SUCCEEDED(session.created);
  Player player(session.broker);
  const LONG_PTR cookie = player.Client();
  Named stop(TRUE), last(TRUE);
  registry_.SetString(HKEY_CURRENT_USER, kSettings, L"AudioUntil", stop.name);
  Start(L"default,0,0,speakers", 10000);
  std::vector<std::wstring> replaced;
  for (int i = 0; i < 499; ++i) {
    Named event(TRUE);
    ASSERT_EQ(player.Set(false, cookie, event.handle.Get()), S_OK) << i;
    replaced.push_back(event.name);
  }
  ASSERT_EQ(player.Set(false, cookie, last.handle.Get()), S_OK);
  EXPECT_EQ(WaitForSingleObject(done_.handle.Get(), 0), WAIT_TIMEOUT) << "no overlap";
  SetEvent(stop.handle.Get());
  ASSERT_TRUE(Finish(120000));
  for (const std::wstring& name : replaced) ASSERT_EQ(OpenError(name), kGone);
  ResetEvent(last.handle.Get());
  ASSERT_TRUE(Round(L"default,0,0,speakers"));
  EXPECT_TRUE(Signalled(last.handle.Get()));
  const std::string log = Log();
  EXPECT_GE(std::stoul(log.substr(log.find("rounds ") + 7)), 10000u);
}

std::wstring ProfileTimeout() {
  wchar_t text[32] = {};
  DWORD size = sizeof text;
  RegGetValueW(HKEY_CURRENT_USER, kDesktop, L"ScreenSaveTimeOut", RRF_RT_REG_SZ, nullptr, text,
               &size);
  return text;
}

// The timeout as a process that never read or set it sees it: on this test
// platform a process keeps the value it first read or set.
UINT DesktopTimeout() {
  UniqueHandle child = StartSelf(L"DeviceServicesChild.DISABLED_ReadTimeout", L"");
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(child.Get(), 30000) == WAIT_OBJECT_0)
    GetExitCodeProcess(child.Get(), &code);
  return code;
}
TEST(DeviceServicesChild, DISABLED_ReadTimeout) {
  UINT timeout = 0xFFFFFFFE;
  SystemParametersInfoW(SPI_GETSCREENSAVETIMEOUT, 0, &timeout, 0);
  ExitProcess(timeout);
}

// Restarted at its value (twice), refused when off; the profile keeps its
// value. A broker per case, for the reason above.
TEST_F(DeviceServices, ScreensaverDelay) {
  const UINT original = DesktopTimeout();
  const std::wstring profile = ProfileTimeout();
  for (auto [timeout, expected] : {std::pair{600u, S_OK}, {0u, E_FAIL}, {45u, S_OK}}) {
    SCOPED_TRACE(timeout);
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, timeout, nullptr, 0));
    Session session;
    ASSERT_HRESULT_SUCCEEDED(session.created);
    for (int call = 0; call < 2; ++call) {
      EXPECT_EQ(session.broker->BrokerDelayScreensaver(), expected);
      EXPECT_EQ(DesktopTimeout(), timeout);
    }
  }
  SystemParametersInfoW(SPI_SETSCREENSAVETIMEOUT, original, nullptr, 0);
  EXPECT_EQ(ProfileTimeout(), profile);
}

// Controllers counted by the stand-in, which records what it was asked;
// creation failure and Wine's own library count none.
TEST_F(DeviceServices, ControllerCount) {
  struct Case {
    const char* name;
    bool standIn;
    DWORD reported;
    HRESULT creation;
    ULONG expected;
  } cases[] = {{"Wine's library", false, 3, S_OK, 0},
               {"none", true, 0, S_OK, 0},
               {"one", true, 1, S_OK, 1},
               {"three", true, 3, S_OK, 3},
               {"creation fails", true, 3, E_FAIL, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.standIn) {
      registry_.SetString(HKEY_CURRENT_USER,
                          L"Software\\Wine\\AppDefaults\\glinthost.exe\\DllOverrides", L"dinput8",
                          L"native");
    }
    registry_.SetDword(HKEY_CURRENT_USER, kSettings, L"DinputCount", c.reported);
    registry_.SetDword(HKEY_CURRENT_USER, kSettings, L"DinputCreate", c.creation);
    DeleteFileW(dinputLog_.c_str());
    Session session;
    ASSERT_HRESULT_SUCCEEDED(session.created);
    ULONG count = 99;
    EXPECT_EQ(session.broker->BrokerGetDirectInputCount(&count), S_OK);
    EXPECT_EQ(count, c.expected);
    std::string asked;
    if (c.standIn) asked = "create version=0x0800 interface=wide module=main outer=none\n";
    if (c.standIn && c.creation == S_OK)
      asked += "enum class=4 flags=1 reported=" + std::to_string(c.reported) + "\n";
    EXPECT_EQ(ReadAll(dinputLog_), asked);
  }
}

// Missing out-pointers never cross processes: a broker object in this process.
TEST_F(DeviceServices, MissingOutPointers) {
  auto* broker = new CoGlintBrokerServer(nullptr);
  EXPECT_EQ(broker->BrokerGetDirectInputCount(nullptr), E_INVALIDARG);
  EXPECT_EQ(broker->BrokerMMNotificationClientCreate(0, nullptr), E_INVALIDARG);
  broker->Release();
}

}  // namespace
