// Local connections across processes: player stand-ins (glintplayer.exe)
// call the broker, which COM runs in glinthost.exe; lcd_peer.exe is an
// unsandboxed player that opens the shared block by name itself. This test
// process keeps the block alive between the players' runs, as any running
// player would, and holds one broker object so that the server stays up.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"

namespace {

constexpr wchar_t kServer[] = L"glinthost.exe";
constexpr DWORD kBlockSize = 64528;
constexpr DWORD kTimeOffset = 8, kLengthOffset = 12, kDataOffset = 16, kListOffset = 40976;

using namespace std::string_literals;

// The block as this process sees it, through its own handles.
class SharedBlock {
 public:
  SharedBlock() {
    mutex_ = CreateMutexA(nullptr, FALSE, "KestrelinkMutexOmega");
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBlockSize,
                                  "KestrelinkFMOmega");
    if (mapping_ != nullptr) {
      view_ = static_cast<uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, kBlockSize));
    }
  }
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;
  ~SharedBlock() {
    if (view_ != nullptr) UnmapViewOfFile(view_);
    if (mapping_ != nullptr) CloseHandle(mapping_);
    if (mutex_ != nullptr) CloseHandle(mutex_);
  }

  bool Valid() const { return mutex_ != nullptr && view_ != nullptr; }
  HANDLE Mutex() const { return mutex_; }
  uint8_t* Bytes() const { return view_; }

  // Back to a freshly initialised block: marker, no message, empty list.
  void Reset() {
    DWORD waited = WaitForSingleObject(mutex_, 10000);
    ASSERT_TRUE(waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) << waited;
    std::memset(view_, 0, kBlockSize);
    view_[0] = 1;
    view_[4] = 1;
    ReleaseMutex(mutex_);
  }

  uint32_t Field(DWORD offset) const {
    uint32_t v;
    std::memcpy(&v, view_ + offset, sizeof v);
    return v;
  }
  std::string List() const {
    std::string out;
    for (DWORD i = kListOffset; i < kBlockSize; ++i) {
      out += static_cast<char>(view_[i]);
      if (view_[i] == 0 && (i == kListOffset || view_[i - 1] == 0)) break;
    }
    return out;
  }

 private:
  HANDLE mutex_ = nullptr;
  HANDLE mapping_ = nullptr;
  uint8_t* view_ = nullptr;
};

std::wstring TempFile(const wchar_t* prefix) {
  wchar_t folder[MAX_PATH];
  wchar_t path[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  GetTempFileNameW(folder, prefix, 0, path);
  return path;
}

// A program running with its standard output in a file, and the script
// file it reads, if any; both go with it.
class Started {
 public:
  explicit Started(const std::wstring& commandLine, std::wstring script = {})
      : outPath_(TempFile(L"lcd")), script_(std::move(script)) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(outPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
      CloseHandle(process.hThread);
      process_ = process.hProcess;
    }
    CloseHandle(out);
  }
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;
  ~Started() {
    if (process_ != nullptr) {
      if (Finish() == ~0u) TerminateProcess(process_, 1);
      CloseHandle(process_);
    }
    DeleteFileW(outPath_.c_str());
    if (!script_.empty()) DeleteFileW(script_.c_str());
  }

  bool Running() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
  }
  std::string Output() const { return ReadAll(outPath_); }
  // Waits until the output holds `text`; false when it never did.
  bool WaitForOutput(const std::string& text) const {
    for (int i = 0; i < 1000 && Output().find(text) == std::string::npos; ++i) Sleep(20);
    return Output().find(text) != std::string::npos;
  }
  // The exit code, or ~0 when it could not run or did not end.
  DWORD Finish() const {
    DWORD code = ~0u;
    if (process_ != nullptr && WaitForSingleObject(process_, 60000) == WAIT_OBJECT_0) {
      GetExitCodeProcess(process_, &code);
    }
    return code;
  }

 private:
  std::wstring outPath_;
  std::wstring script_;
  HANDLE process_ = nullptr;
};

DWORD Peer(const std::wstring& arguments) {
  return Started(L"\"" + ProgramFolder() + L"\\lcd_peer.exe\" " + arguments).Finish();
}

// A player stand-in running a script of broker calls; it prints one line per
// call ("Name -> 0xHRESULT out=value ...").
std::unique_ptr<Started> StartPlayer(const std::vector<std::string>& calls) {
  std::wstring script = TempFile(L"lcs");
  std::string text;
  for (const std::string& call : calls) text += call + "\n";
  HANDLE file = CreateFileW(script.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return std::make_unique<Started>(
      L"\"" + ProgramFolder() + L"\\glintplayer.exe\" --script \"" + script + L"\"", script);
}

// A player's lines once it has ended, the creation of its broker object aside.
std::vector<std::string> Lines(const Started& player) {
  DWORD code = player.Finish();
  std::string output = player.Output();
  EXPECT_EQ(code, 0u) << output;
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string one = output.substr(start, end - start);
    if (!one.empty() && one.back() == '\r') one.pop_back();
    if (one.rfind("create broker", 0) == 0) {
      EXPECT_EQ(one, "create broker -> 0x00000000");
    } else if (!one.empty()) {
      lines.push_back(one);
    }
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Player(const std::vector<std::string>& calls) {
  // A stand-in that could not be started at all (no exit code, no output)
  // is started again; any answer it gives is the test's.
  for (int attempt = 1;; ++attempt) {
    std::unique_ptr<Started> player = StartPlayer(calls);
    if (attempt == 3 || player->Finish() != ~0u || !player->Output().empty()) {
      return Lines(*player);
    }
  }
}

// The tick count a player printed as its lock time.
DWORD LockTimeIn(const std::string& line) {
  size_t at = line.find("p_lockTime=");
  return at == std::string::npos ? 0 : static_cast<DWORD>(std::stoll(line.substr(at + 11)));
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02X", c);
    out += two;
  }
  return out;
}

// A message whose first value names its target (marker 0x02, 16-bit length).
std::string MessageTo(const std::string& target, const std::string& rest) {
  return "\x02"s + static_cast<char>(target.size() >> 8) + static_cast<char>(target.size()) +
         target + rest;
}

std::string Dispatch(const std::string& message, int sender, int expected, int realm) {
  return "BrokerLcdDispatchMessage(hex:" + Hex(message) + ", " + std::to_string(sender) + ", " +
         std::to_string(expected) + ", " + std::to_string(realm) + ")";
}

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

bool IsTransportFailure(const std::string& line) {
  size_t at = line.find("-> 0x");
  if (at == std::string::npos) return true;
  uint32_t code = std::stoul(line.substr(at + 5, 8), nullptr, 16);
  bool rpcE = (code & 0xFFFF0000) == 0x80010000;
  bool rpcS =
      (code & 0xFFFF0000) == 0x80070000 && (code & 0xFFFF) >= 1700 && (code & 0xFFFF) < 1800;
  return rpcE || rpcS;
}

class LcdCrossProcess : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(WaitUntilGone(kServer, 10000)) << "a broker server is still running";
    RegisterTestBroker();
  }
  static void TearDownTestSuite() { UnregisterTestBroker(); }

  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
    ASSERT_TRUE(block_.Valid());
    block_.Reset();
    ASSERT_HRESULT_SUCCEEDED(CreateBroker(&broker_));
    servers_ = ProcessesNamed(kServer);
    ASSERT_EQ(servers_.size(), 1u);
  }
  void TearDown() override {
    // The server ends by itself once its objects are gone.
    if (broker_ != nullptr) broker_->Release();
    CoUninitialize();
    EXPECT_TRUE(WaitUntilGone(kServer, 10000));
  }

  // The server that was running when the test began is still the one.
  void ExpectSameServer() { EXPECT_EQ(ProcessesNamed(kServer), servers_); }

  SharedBlock block_;
  IGlintBroker6* broker_ = nullptr;
  std::vector<DWORD> servers_;
};

TEST_F(LcdCrossProcess, TwoPlayersExchangeAMessage) {
  const std::string name = "_lcdtest.recv";
  const std::string message = MessageTo(name, "\x0A\x05hello"s);
  EXPECT_EQ(Player({"BrokerLcdTryAddConnection(" + Quoted(name) + ", 0, 0, 50)"}),
            std::vector<std::string>{"BrokerLcdTryAddConnection -> 0x00000000"});

  EXPECT_EQ(Player({"BrokerLcdFindConnectionFormat(" + Quoted(name) + ", 0)",
                    Dispatch(message, 11, 2, 0), Dispatch(message, 11, 2, 0)}),
            (std::vector<std::string>{
                "BrokerLcdFindConnectionFormat -> 0x00000000 p_format=2",
                "BrokerLcdDispatchMessage -> 0x00000000",
                "BrokerLcdDispatchMessage -> 0x00000001",  // one message at a time
            }));

  EXPECT_EQ(
      Player({"BrokerLcdLock", "BrokerLcdGetMessageTarget", "BrokerLcdGetMessageData",
              "BrokerLcdClearMessage", "BrokerLcdUnlock",
              "BrokerLcdRemoveConnection(" + Quoted(name) + ", 0)", "BrokerLcdGetMessageData"}),
      (std::vector<std::string>{
          "BrokerLcdLock -> 0x00000000 p_refCount=1",
          "BrokerLcdGetMessageTarget -> 0x00000000 p_string=\"" + name + "\"",
          "BrokerLcdGetMessageData -> 0x00000000 p_msgData=" + std::to_string(message.size()) +
              " bytes hex:" + Hex(message),
          "BrokerLcdClearMessage -> 0x00000000",
          "BrokerLcdUnlock -> 0x00000000 p_refCount=0",
          "BrokerLcdRemoveConnection -> 0x00000000",
          "BrokerLcdGetMessageData -> 0x00000001 p_msgData=null",
      }));
  EXPECT_EQ(block_.Field(kLengthOffset), 0u);
  EXPECT_EQ(block_.List(), "\0"s);
  ExpectSameServer();
}

TEST_F(LcdCrossProcess, ADispatchToNobodyLeavesNoMessage) {
  EXPECT_EQ(Player({Dispatch(MessageTo("_lcdtest.nobody", "x"), 11, 2, 0),
                    "BrokerLcdGetMessageData", Dispatch("\x02"s, 11, 2, 0)}),
            (std::vector<std::string>{
                "BrokerLcdDispatchMessage -> 0x80070057",
                "BrokerLcdGetMessageData -> 0x00000001 p_msgData=null",
                "BrokerLcdDispatchMessage -> 0x00000000",  // no target to check
            }));
  EXPECT_EQ(block_.Field(kLengthOffset), 1u);
}

TEST_F(LcdCrossProcess, APeerReadsWhatTheBrokerWroteByteForByte) {
  const std::string message = MessageTo("peerview", "\x01\x02\x03\x00\xFF"s);
  std::vector<std::string> lines = Player({"BrokerLcdLock", "BrokerLcdLockTime",
                                           "BrokerLcdTryAddConnection(\"peerview\", 1, 1, 51)",
                                           Dispatch(message, 9, 3, 1), "BrokerLcdUnlock"});
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], "BrokerLcdDispatchMessage -> 0x00000000");
  size_t at = lines[1].find("p_lockTime=");
  ASSERT_NE(at, std::string::npos) << lines[1];
  auto lockTime = static_cast<uint32_t>(std::stol(lines[1].substr(at + 11)));

  std::wstring dump = TempFile(L"lcd");
  ASSERT_EQ(Peer(L"dump \"" + dump + L"\""), 0u);
  std::string bytes = ReadAll(dump);
  DeleteFileW(dump.c_str());
  ASSERT_EQ(bytes.size(), kBlockSize);
  auto field = [&](DWORD offset) {
    uint32_t v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
  };
  EXPECT_EQ(field(0), 1u);
  EXPECT_EQ(field(4), 1u);
  EXPECT_EQ(field(kTimeOffset), lockTime);
  EXPECT_EQ(field(kLengthOffset), message.size());
  EXPECT_EQ(bytes.substr(kDataOffset, message.size()), message);
  EXPECT_EQ(bytes.substr(kListOffset, 18), "peerview\0::3\0::2\0\0"s);
}

TEST_F(LcdCrossProcess, ADeadMessageIsPrunedWithItsConnections) {
  EXPECT_EQ(
      Player({"BrokerLcdTryAddConnection(\"_lcdtest.gone\", 1, 1, 50)",
              "BrokerLcdTryAddConnection(\"_lcdtest.gone\", 0, 0, 50)",
              "BrokerLcdTryAddConnection(\"_lcdtest.stay\", 0, 0, 50)",
              Dispatch(MessageTo("_lcdtest.gone", "bye"), 11, 2, 0), "BrokerLcdPruneDeadMessage"}),
      (std::vector<std::string>{
          "BrokerLcdTryAddConnection -> 0x00000000", "BrokerLcdTryAddConnection -> 0x00000000",
          "BrokerLcdTryAddConnection -> 0x00000000", "BrokerLcdDispatchMessage -> 0x00000000",
          "BrokerLcdPruneDeadMessage -> 0x00000001",  // still young
      }));
  // The posting player went silent 6 s ago, as far as the block tells.
  ASSERT_EQ(Peer(L"age 6000"), 0u);
  EXPECT_EQ(Player({"BrokerLcdPruneDeadMessage", "BrokerLcdGetMessageData",
                    "BrokerLcdFindConnectionFormat(\"_lcdtest.gone\", 3)",
                    "BrokerLcdFindConnectionFormat(\"_lcdtest.stay\", 0)"}),
            (std::vector<std::string>{
                "BrokerLcdPruneDeadMessage -> 0x00000000",
                "BrokerLcdGetMessageData -> 0x00000001 p_msgData=null",
                "BrokerLcdFindConnectionFormat -> 0x00000001 p_format=0",
                "BrokerLcdFindConnectionFormat -> 0x00000000 p_format=2",
            }));
}

TEST_F(LcdCrossProcess, LocksNestAndHoldOtherProcessesOff) {
  EXPECT_EQ(
      Player({"BrokerLcdLock", "BrokerLcdLock", "BrokerLcdLock",
              "BrokerLcdTryAddConnection(\"_lcdtest.inner\", 0, 0, 50)", "BrokerLcdUnlock",
              "BrokerLcdUnlock", "BrokerLcdUnlock", "BrokerLcdUnlock", "BrokerLcdMessageTimeout"}),
      (std::vector<std::string>{
          "BrokerLcdLock -> 0x00000000 p_refCount=1",
          "BrokerLcdLock -> 0x00000000 p_refCount=2",
          "BrokerLcdLock -> 0x00000000 p_refCount=3",
          "BrokerLcdTryAddConnection -> 0x00000000",
          "BrokerLcdUnlock -> 0x00000000 p_refCount=2",
          "BrokerLcdUnlock -> 0x00000000 p_refCount=1",
          "BrokerLcdUnlock -> 0x00000000 p_refCount=0",
          "BrokerLcdUnlock -> 0x00000000 p_refCount=0",
          "BrokerLcdMessageTimeout -> 0x00000000 p_timeout=5000",
      }));
  // Every level was undone: this process gets the mutex at once.
  ASSERT_EQ(WaitForSingleObject(block_.Mutex(), 0), WAIT_OBJECT_0);
  ReleaseMutex(block_.Mutex());

  // While the broker holds the lock for this process's broker object, a
  // peer process cannot take it.
  LONG count = 0;
  ASSERT_EQ(broker_->BrokerLcdLock(&count), S_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(Peer(L"try-lock 500"), 6u);
  ASSERT_EQ(broker_->BrokerLcdUnlock(&count), S_OK);
  EXPECT_EQ(count, 0);
  ExpectSameServer();
}

TEST_F(LcdCrossProcess, APlayerThatGoesAwayLockedReleasesTheLock) {
  EXPECT_EQ(Player({"BrokerLcdLock", "BrokerLcdLock"}),
            (std::vector<std::string>{"BrokerLcdLock -> 0x00000000 p_refCount=1",
                                      "BrokerLcdLock -> 0x00000000 p_refCount=2"}));
  // Its broker object is gone with it, and with the object its accessor.
  DWORD waited = WaitForSingleObject(block_.Mutex(), 10000);
  EXPECT_EQ(waited, WAIT_OBJECT_0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(block_.Mutex());
  LONG count = 0;
  EXPECT_EQ(broker_->BrokerLcdLock(&count), S_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(broker_->BrokerLcdUnlock(&count), S_OK);
  ExpectSameServer();
}

TEST_F(LcdCrossProcess, APeerThatDiesHoldingTheMutexStopsNobody) {
  LONG value = 0;
  ASSERT_EQ(broker_->BrokerLcdMessageTimeout(&value), S_OK);  // this object's accessor is open
  EXPECT_EQ(value, 5000);

  // An accessor that was open before: the wait that finds the mutex abandoned
  // is a failed lock, and the mutex is not kept.
  ASSERT_EQ(Peer(L"die-holding"), 0u);
  LONG count = -1;
  EXPECT_EQ(broker_->BrokerLcdLock(&count), S_OK);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(WaitForSingleObject(block_.Mutex(), 5000), WAIT_OBJECT_0);
  ReleaseMutex(block_.Mutex());
  EXPECT_EQ(broker_->BrokerLcdLock(&count), S_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(broker_->BrokerLcdUnlock(&count), S_OK);
  EXPECT_EQ(count, 0);

  // An accessor opened afterwards works at once.
  ASSERT_EQ(Peer(L"die-holding"), 0u);
  EXPECT_EQ(Player({"BrokerLcdTryAddConnection(\"_lcdtest.after\", 0, 0, 50)", "BrokerLcdLock",
                    "BrokerLcdUnlock"}),
            (std::vector<std::string>{"BrokerLcdTryAddConnection -> 0x00000000",
                                      "BrokerLcdLock -> 0x00000000 p_refCount=1",
                                      "BrokerLcdUnlock -> 0x00000000 p_refCount=0"}));
  ASSERT_EQ(WaitForSingleObject(block_.Mutex(), 5000), WAIT_OBJECT_0);
  ReleaseMutex(block_.Mutex());
  ExpectSameServer();
}

// Every local-connection call with the arguments a player would use.
const std::vector<std::string>& EveryCall() {
  static const std::vector<std::string> calls = {
      "BrokerLcdLock",
      "BrokerLcdLockTime",
      "BrokerLcdFindConnectionFormat(\"_lcdtest.any\", 0)",
      "BrokerLcdFindConnectionFormat(\"" + std::string(2000, 'A') + "\", 3)",
      "BrokerLcdTryAddConnection(\"_lcdtest.any\", 0, 0, 50)",
      "BrokerLcdRemoveConnection(\"_lcdtest.any\", 3)",
      "BrokerLcdGetMessageTarget",
      "BrokerLcdGetMessageData",
      Dispatch(MessageTo("_lcdtest.any", "x"), 11, 2, 0),
      "BrokerLcdPruneDeadMessage",
      "BrokerLcdClearMessage",
      "BrokerLcdUnlock",
      "BrokerLcdMessageTimeout",
  };
  return calls;
}

TEST_F(LcdCrossProcess, GarbageFromAPeerNeitherCrashesNorStopsTheBroker) {
  LONG value = 0;
  ASSERT_EQ(broker_->BrokerLcdMessageTimeout(&value), S_OK);  // opened on the valid block
  struct Case {
    std::vector<std::wstring> peer;  // what the peer does to the block, in order
    const char* why;
  } cases[] = {
      {{L"fill 0x41", L"write 0 01000000"}, "a list without its end, length past the data"},
      {{L"fill 0xFF", L"write 0 01000000"}, "every field at its maximum"},
      {{L"random 7", L"write 0 01000000"}, "random bytes"},
      {{L"random 12345"}, "random bytes, marker too"},
      {{L"fill 0", L"write 0 01000000", L"write 12 0600000002FFFF41424344"},
       "a name length past the message"},
      {{L"fill 0", L"write 0 01000000", L"write 12 080000000CFFFFFFFE41424344"},
       "a 32-bit name length that wraps with the header"},
      {{L"fill 0x66", L"write 0 0100000001000000000000000000000000",
        L"write 64516 0065646765003A3A393A3A"},
       "a name whose suffixes the block's end cuts off"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    for (const std::wstring& step : c.peer) ASSERT_EQ(Peer(step), 0u);
    // This process's object kept its view, and meets the bytes as they are.
    LONG count = 0;
    EXPECT_EQ(broker_->BrokerLcdLock(&count), S_OK);
    EXPECT_EQ(count, 1);
    BSTR target = nullptr;
    EXPECT_EQ(broker_->BrokerLcdGetMessageTarget(&target), S_FALSE);
    EXPECT_EQ(target, nullptr);
    SAFEARRAY* data = nullptr;
    HRESULT got = broker_->BrokerLcdGetMessageData(&data);
    EXPECT_TRUE(got == S_OK || got == S_FALSE) << std::hex << got;
    if (data != nullptr) SafeArrayDestroy(data);
    LONG format = 0;
    BSTR name = SysAllocString(L"edge");
    got = broker_->BrokerLcdFindConnectionFormat(name, 0, &format);
    SysFreeString(name);
    EXPECT_TRUE(got == S_OK || got == S_FALSE) << std::hex << got;
    EXPECT_EQ(broker_->BrokerLcdUnlock(&count), S_OK);
    EXPECT_EQ(count, 0);
    // A player's new object, on the same bytes.
    for (const std::string& line : Player(EveryCall())) {
      EXPECT_FALSE(IsTransportFailure(line)) << line;
    }
    ExpectSameServer();
  }
  // A broker object opened on a block without the valid marker works
  // without memory; once the block is made valid again, everything works.
  ASSERT_EQ(Peer(L"fill 0x41"), 0u);
  EXPECT_EQ(Player({"BrokerLcdLock", "BrokerLcdTryAddConnection(\"_lcdtest.any\", 0, 0, 50)"}),
            (std::vector<std::string>{"BrokerLcdLock -> 0x00000000 p_refCount=0",
                                      "BrokerLcdTryAddConnection -> 0x00000001"}));
  block_.Reset();
  EXPECT_EQ(Player({"BrokerLcdTryAddConnection(\"_lcdtest.any\", 0, 0, 50)",
                    "BrokerLcdFindConnectionFormat(\"_lcdtest.any\", 0)"}),
            (std::vector<std::string>{"BrokerLcdTryAddConnection -> 0x00000000",
                                      "BrokerLcdFindConnectionFormat -> 0x00000000 p_format=2"}));
  ExpectSameServer();
}

// Two players of one broker: the lock belongs to one broker object at a
// time, although every object runs on the same thread. One player waits for
// it; any other meanwhile gets a failed lock.
TEST_F(LcdCrossProcess, AnotherPlayersLockWaitsWhileTheHolderNests) {
  LONG count = 0;
  ASSERT_EQ(broker_->BrokerLcdLock(&count), S_OK);
  ASSERT_EQ(count, 1);
  auto other = StartPlayer({"BrokerLcdLock", "BrokerLcdLockTime", "BrokerLcdUnlock"});
  ASSERT_TRUE(other->WaitForOutput("create broker"));
  Sleep(1500);  // its Lock has reached the broker and waits there
  EXPECT_TRUE(other->Running());
  EXPECT_EQ(other->Output().find("BrokerLcdLock"), std::string::npos);
  // A third player does not wait on top of that wait: its lock fails at once
  // and leaves nothing to undo.
  EXPECT_EQ(Player({"BrokerLcdLock", "BrokerLcdGetMessageTarget", "BrokerLcdUnlock"}),
            (std::vector<std::string>{"BrokerLcdLock -> 0x00000000 p_refCount=0",
                                      "BrokerLcdGetMessageTarget -> 0x00000001 p_string=null",
                                      "BrokerLcdUnlock -> 0x00000000 p_refCount=0"}));
  EXPECT_TRUE(other->Running());

  // The holder is served while the other waits; its levels stay its own.
  for (LONG expected : {2, 3}) {
    EXPECT_EQ(broker_->BrokerLcdLock(&count), S_OK);
    EXPECT_EQ(count, expected);
  }
  for (LONG expected : {2, 1}) {
    EXPECT_EQ(broker_->BrokerLcdUnlock(&count), S_OK);
    EXPECT_EQ(count, expected);
  }
  EXPECT_TRUE(other->Running());
  const DWORD released = GetTickCount();
  EXPECT_EQ(broker_->BrokerLcdUnlock(&count), S_OK);
  EXPECT_EQ(count, 0);

  std::vector<std::string> lines = Lines(*other);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "BrokerLcdLock -> 0x00000000 p_refCount=1");
  DWORD taken = LockTimeIn(lines[1]);
  EXPECT_GE(static_cast<int32_t>(taken - released), 0)
      << "the other player took the lock before the holder's last Unlock";
  EXPECT_EQ(lines[2], "BrokerLcdUnlock -> 0x00000000 p_refCount=0");
  ExpectSameServer();
}

TEST_F(LcdCrossProcess, AHolderThatGoesAwayGivesTheLockToTheWaitingPlayer) {
  struct Case {
    const char* name;
    std::vector<std::string> afterHold;  // what the holding player does after 2 s
    bool holderRunsOn;                   // its process outlives the hand-over
  } cases[] = {
      {"the holder unlocks", {"BrokerLcdUnlock", "sleep 3000"}, true},
      {"the holder's broker object is released", {"release", "sleep 3000"}, true},
      {"the holder's client ends", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> script = {"BrokerLcdLock", "BrokerLcdLockTime", "sleep 2000"};
    script.insert(script.end(), c.afterHold.begin(), c.afterHold.end());
    auto holder = StartPlayer(script);
    ASSERT_TRUE(holder->WaitForOutput("p_lockTime="));

    LONG count = 0;
    ASSERT_EQ(broker_->BrokerLcdLock(&count), S_OK);  // waits for the hand-over
    EXPECT_EQ(count, 1);
    if (c.holderRunsOn) {
      EXPECT_TRUE(holder->Running());
    }
    LONG taken = 0;
    EXPECT_EQ(broker_->BrokerLcdLockTime(&taken), S_OK);
    EXPECT_EQ(broker_->BrokerLcdUnlock(&count), S_OK);
    EXPECT_EQ(count, 0);

    std::vector<std::string> lines = Lines(*holder);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "BrokerLcdLock -> 0x00000000 p_refCount=1");
    DWORD held = LockTimeIn(lines[1]);
    EXPECT_GE(static_cast<int32_t>(static_cast<DWORD>(taken) - held), 2000)
        << "taken while the holder still held it";
  }
  ExpectSameServer();
}

// A process that takes the named mutex and keeps it stalls nobody: waits
// end within their bound, and calls that need no lock are answered.
TEST_F(LcdCrossProcess, AHostileHolderOfTheMutexStallsNoPlayer) {
  LONG value = 0;
  ASSERT_EQ(broker_->BrokerLcdMessageTimeout(&value), S_OK);  // opened before the hold
  // Players whose objects opened the block before the holder came.
  auto waiter =
      StartPlayer({"BrokerLcdMessageTimeout", "sleep 3000", "BrokerLcdLock", "BrokerLcdUnlock"});
  auto bystander = StartPlayer({"BrokerLcdMessageTimeout", "sleep 5000", "BrokerLcdMessageTimeout",
                                "BrokerLcdLockTime", "BrokerLcdUnlock", "BrokerCloseHandle(7)"});
  ASSERT_TRUE(waiter->WaitForOutput("BrokerLcdMessageTimeout"));
  ASSERT_TRUE(bystander->WaitForOutput("BrokerLcdMessageTimeout"));

  Started holder(L"\"" + ProgramFolder() + L"\\lcd_peer.exe\" hold 20000");
  ASSERT_TRUE(holder.WaitForOutput("held"));
  // A player whose object first opens the block now.
  auto latecomer = StartPlayer({"BrokerLcdLock"});

  EXPECT_EQ(Lines(*bystander), (std::vector<std::string>{
                                   "BrokerLcdMessageTimeout -> 0x00000000 p_timeout=5000",
                                   "BrokerLcdMessageTimeout -> 0x00000000 p_timeout=5000",
                                   "BrokerLcdLockTime -> 0x00000000 p_lockTime=0",
                                   "BrokerLcdUnlock -> 0x00000000 p_refCount=0",
                                   "BrokerCloseHandle -> 0x80070057",
                               }));
  EXPECT_TRUE(waiter->Running()) << "the bystander was answered only after the wait";
  EXPECT_EQ(Lines(*waiter), (std::vector<std::string>{
                                "BrokerLcdMessageTimeout -> 0x00000000 p_timeout=5000",
                                "BrokerLcdLock -> 0x00000000 p_refCount=0",
                                "BrokerLcdUnlock -> 0x00000000 p_refCount=0",
                            }));
  EXPECT_EQ(Lines(*latecomer),
            std::vector<std::string>{"BrokerLcdLock -> 0x00000000 p_refCount=0"});
  EXPECT_TRUE(holder.Running()) << "the failed locks came only after the holder ended";

  // Once the holder has ended, the wait that meets the abandoned mutex fails
  // as before and lets it go; locks work again.
  EXPECT_EQ(holder.Finish(), 0u);
  LONG count = -1;
  EXPECT_EQ(broker_->BrokerLcdLock(&count), S_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Player({"BrokerLcdLock", "BrokerLcdUnlock"}),
            (std::vector<std::string>{"BrokerLcdLock -> 0x00000000 p_refCount=1",
                                      "BrokerLcdUnlock -> 0x00000000 p_refCount=0"}));
  EXPECT_EQ(broker_->BrokerLcdLock(&count), S_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(broker_->BrokerLcdUnlock(&count), S_OK);
  ExpectSameServer();
}

}  // namespace
