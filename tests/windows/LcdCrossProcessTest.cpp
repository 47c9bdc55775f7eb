// Local connections across processes: players (glintplayer.exe) call the broker
// (glinthost.exe); this process, an unsandboxed peer, keeps and acts on the block.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"

namespace {

using namespace std::string_literals;
constexpr DWORD kBlockSize = 64528, kLengthOffset = 12, kListOffset = 40976;

uint32_t Field(const void* bytes, DWORD offset) {
  uint32_t v;
  std::memcpy(&v, static_cast<const uint8_t*>(bytes) + offset, sizeof v);
  return v;
}
bool Taken(DWORD waited) {
  return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

// The block as this process sees it, through its own handles.
struct SharedBlock {
  UniqueHandle mutex{CreateMutexA(nullptr, FALSE, "KestrelinkMutexOmega")};
  UniqueHandle mapping{CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          kBlockSize, "KestrelinkFMOmega")};
  uint8_t* view = static_cast<uint8_t*>(
      mapping ? MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kBlockSize) : nullptr);
  ~SharedBlock() { UnmapViewOfFile(view); }
  bool FreeWithin(DWORD ms) {  // this process gets the mutex (and lets it go)
    DWORD waited = WaitForSingleObject(mutex.Get(), ms);
    if (Taken(waited)) ReleaseMutex(mutex.Get());
    return waited == WAIT_OBJECT_0;
  }
};

// The stand-in's command line for "call; call; ..." (a "BrokerLcd" prefix may
// be left off): one argument a call, or with `script` the calls in that file.
std::wstring PlayerLine(const std::string& calls, const std::wstring& script = {}) {
  std::wstring line = L"\"" + ProgramFolder() + L"\\glintplayer.exe\"";
  std::string lines;
  for (size_t at = 0, end; at < calls.size(); at = end + 2) {
    end = std::min(calls.find("; ", at), calls.size());
    std::string call = calls.substr(at, end - at);
    bool bare = call.rfind("Broker", 0) != 0 && call.rfind("sleep", 0) != 0 && call != "release";
    lines += (bare ? "BrokerLcd" : "") + call + "\n";
    line += bare ? L" \"BrokerLcd" : L" \"";
    for (char c : call) line += c == '"' ? std::wstring(L"\\\"") : std::wstring(1, c);
    line += L'"';
  }
  if (script.empty()) return line;
  std::ofstream(std::filesystem::path(script), std::ios::binary) << lines;
  return L"\"" + ProgramFolder() + L"\\glintplayer.exe\" --script \"" + script + L"\"";
}

// A player stand-in running beside the test, its output in a file that goes with it.
class Started {
 public:
  explicit Started(const std::string& calls) {
    wchar_t folder[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"lcd", 0, path);
    out_ = path;
    script_ = out_ + L".txt";  // players started side by side read their calls from a file
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueHandle out(
        CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
    if (out) process_ = StartProgram(PlayerLine(calls, script_), out.Get());
  }
  ~Started() {
    if (process_ && Finish() == ~0u) TerminateProcess(process_.Get(), 1);
    process_.Reset();
    DeleteFileW(out_.c_str());
    DeleteFileW(script_.c_str());
  }
  bool Running() const {
    return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
  }
  std::string Output() const { return ReadAll(out_); }
  bool WaitForOutput(const std::string& text) const {
    for (int i = 0; i < 1000 && Output().find(text) == std::string::npos; ++i) Sleep(20);
    return Output().find(text) != std::string::npos;
  }
  DWORD Finish() const {  // the exit code, or ~0 when it could not run or did not end
    DWORD code = ~0u;
    if (process_ && WaitForSingleObject(process_.Get(), 60000) == WAIT_OBJECT_0)
      GetExitCodeProcess(process_.Get(), &code);
    return code;
  }

 private:
  std::wstring out_, script_;
  UniqueHandle process_;
};

// A thread that takes the mutex, keeps it `ms` and ends abandoning it; returned once it holds it.
UniqueHandle held{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
DWORD WINAPI Hold(void* ms) {
  UniqueHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, "KestrelinkMutexOmega"));
  if (Taken(WaitForSingleObject(mutex.Get(), 10000)))
    SetEvent(held.Get()), Sleep(DWORD(size_t(ms)));
  return 0;
}
UniqueHandle HoldThenEnd(DWORD ms) {
  UniqueHandle thread(CreateThread(nullptr, 0, Hold, reinterpret_cast<void*>(size_t{ms}), 0, 0));
  EXPECT_EQ(WaitForSingleObject(held.Get(), 10000), WAIT_OBJECT_0);
  return thread;
}

// A player's lines once it has ended, joined by "; ", without the creation of
// its broker object, "BrokerLcd" dropped and " -> 0x0000000" shortened to " ->".
std::string Lines(DWORD code, const std::string& text) {
  std::string lines;
  std::istringstream output(text);
  EXPECT_EQ(code, 0u) << text;
  for (std::string one; std::getline(output, one);) {
    if (!one.empty() && one.back() == '\r') one.pop_back();
    EXPECT_TRUE(one.rfind("create broker", 0) != 0 || one == "create broker -> 0x00000000");
    if (one.empty() || one.rfind("create broker", 0) == 0) continue;
    if (one.rfind("BrokerLcd", 0) == 0) one.erase(0, 9);
    if (size_t ok = one.find(" -> 0x0000000"); ok != std::string::npos) one.replace(ok, 13, " ->");
    lines += (lines.empty() ? "" : "; ") + one;
  }
  return lines;
}
std::string Lines(const Started& player) {
  DWORD code = player.Finish();
  return Lines(code, player.Output());
}

std::string Player(const std::string& calls) {
  ProgramRun run = RunProgram(PlayerLine(calls));
  return Lines(run.code, run.output);
}

DWORD LockTimeIn(const std::string& lines) {  // the tick count a player printed
  size_t at = lines.find("p_lockTime=");
  return at == std::string::npos ? 0 : static_cast<DWORD>(std::stoll(lines.substr(at + 11)));
}
std::string HexBytes(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) out += {"0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
  return out;
}
std::string Dispatch(const std::string& message, const char* rest = "11, 2, 0") {
  return "DispatchMessage(hex:" + HexBytes(message) + ", " + rest + ")";
}

class LcdCrossProcess : public BrokerSuite {
 protected:
  void SetUp() override {
    ASSERT_NE(block_.view, nullptr);
    Reset();
    ASSERT_HRESULT_SUCCEEDED(session_.created);
    servers_ = ProcessesNamed(kServer);
    ASSERT_EQ(servers_.size(), 1u);
  }
  // The server of the test's start is still the one; it ends with the session.
  void TearDown() override { EXPECT_EQ(ProcessesNamed(kServer), servers_); }
  // Locks (true) and Unlocks (false) through this process's object: answers and counts.
  std::string Lock(std::initializer_list<bool> steps = {true}) {
    std::string answers;
    for (bool lock : steps) {
      LONG count = -1;
      HRESULT hr =
          lock ? session_.broker->BrokerLcdLock(&count) : session_.broker->BrokerLcdUnlock(&count);
      answers += (answers.empty() ? "" : ", ") + Hex(hr) + " " + std::to_string(count);
    }
    return answers;
  }
  // What another player may do to the block, holding the mutex: "fill BYTE",
  // "random SEED", "write OFFSET HEX", "age MS" (the message's time MS earlier).
  void Poke(const std::string& step) {
    std::istringstream in(step);
    std::string command, hex;
    unsigned long n = 0;
    in >> command >> std::setbase(0) >> n >> hex;
    ASSERT_TRUE(Taken(WaitForSingleObject(block_.mutex.Get(), 10000)));
    uint8_t* b = block_.view;
    if (command == "fill") std::memset(b, static_cast<int>(n), kBlockSize);
    for (uint32_t i = 0, x = uint32_t(n) | 1; command == "random" && i < kBlockSize; ++i)
      x ^= x << 13, x ^= x >> 17, x ^= x << 5, b[i] = static_cast<uint8_t>(x);
    for (size_t i = 0; i + 1 < hex.size() && n + i / 2 < kBlockSize; i += 2)
      b[n + i / 2] = static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16));
    for (uint32_t time = Field(b, 8) - n; command == "age"; command.clear())
      std::memcpy(b + 8, &time, sizeof time);
    ReleaseMutex(block_.mutex.Get());
  }
  void Reset() {  // marker, no message, empty list
    Poke("fill 0");
    Poke("write 0 0100000001");
  }
  void OpenAccessor() {  // this object's accessor opens the block as it is now
    LONG value = 0;
    ASSERT_EQ(session_.broker->BrokerLcdMessageTimeout(&value), S_OK);
  }
  SharedBlock block_;
  Session session_;
  std::vector<DWORD> servers_;
};

TEST_F(LcdCrossProcess, TwoPlayersExchangeAMessage) {
  const std::string message = LcdMessageTo("_lcdtest.recv", "\x0A\x05hello"s);
  EXPECT_EQ(Player("TryAddConnection(\"_lcdtest.recv\", 0, 0, 50)"), "TryAddConnection ->0");
  EXPECT_EQ(Player("FindConnectionFormat(\"_lcdtest.recv\", 0); " + Dispatch(message) + "; " +
                   Dispatch(message)),  // one message at a time
            "FindConnectionFormat ->0 p_format=2; DispatchMessage ->0; DispatchMessage ->1");
  EXPECT_EQ(Player("Lock; GetMessageTarget; GetMessageData; ClearMessage; Unlock; "
                   "RemoveConnection(\"_lcdtest.recv\", 0); GetMessageData"),
            "Lock ->0 p_refCount=1; GetMessageTarget ->0 p_string=\"_lcdtest.recv\"; "
            "GetMessageData ->0 p_msgData=" +
                std::to_string(message.size()) + " bytes hex:" + HexBytes(message) +
                "; ClearMessage ->0; Unlock ->0 p_refCount=0; "
                "RemoveConnection ->0; GetMessageData ->1 p_msgData=null");
  EXPECT_EQ(block_.view[kListOffset], 0);
  // To nobody: refused, no message.
  EXPECT_EQ(Player(Dispatch(LcdMessageTo("_lcdtest.nobody", "x")) + "; GetMessageData"),
            "DispatchMessage -> 0x80070057; GetMessageData ->1 p_msgData=null");
}

TEST_F(LcdCrossProcess, APeerReadsWhatTheBrokerWroteByteForByte) {
  const std::string message = LcdMessageTo("peerview", "\x01\x02\x03\x00\xFF"s);
  std::string lines = Player("Lock; LockTime; TryAddConnection(\"peerview\", 1, 1, 51); " +
                             Dispatch(message, "9, 3, 1") + "; Unlock");
  EXPECT_NE(lines.find("DispatchMessage ->0;"), std::string::npos) << lines;
  const std::string bytes(reinterpret_cast<const char*>(block_.view), kBlockSize);
  EXPECT_EQ(bytes.substr(0, 8), "\1\0\0\0\1\0\0\0"s);
  EXPECT_EQ(Field(bytes.data(), 8), LockTimeIn(lines));
  EXPECT_EQ(Field(bytes.data(), kLengthOffset), message.size());
  EXPECT_EQ(bytes.substr(16, message.size()), message);
  EXPECT_EQ(bytes.substr(kListOffset, 18), "peerview\0::3\0::2\0\0"s);
}

TEST_F(LcdCrossProcess, ADeadMessageIsPrunedWithItsConnections) {
  EXPECT_EQ(Player("TryAddConnection(\"_lcdtest.gone\", 1, 1, 50); "
                   "TryAddConnection(\"_lcdtest.gone\", 0, 0, 50); "
                   "TryAddConnection(\"_lcdtest.stay\", 0, 0, 50); " +
                   Dispatch(LcdMessageTo("_lcdtest.gone", "bye")) + "; PruneDeadMessage"),
            "TryAddConnection ->0; TryAddConnection ->0; TryAddConnection ->0; "
            "DispatchMessage ->0; PruneDeadMessage ->1");  // still young
  Poke("age 6000");  // the poster went silent 6 s ago, as the block tells
  EXPECT_EQ(Player("PruneDeadMessage; GetMessageData; FindConnectionFormat(\"_lcdtest.gone\", 3); "
                   "FindConnectionFormat(\"_lcdtest.stay\", 0)"),
            "PruneDeadMessage ->0; GetMessageData ->1 p_msgData=null; "
            "FindConnectionFormat ->1 p_format=0; FindConnectionFormat ->0 p_format=2");
}

// An object opened after a peer died holding the mutex meets it abandoned,
// takes it again and works at once. (An object open before fails one lock:
// the hostile holder's case below.)
TEST_F(LcdCrossProcess, APeerThatDiesHoldingTheMutexStopsNobody) {
  ASSERT_EQ(WaitForSingleObject(HoldThenEnd(0).Get(), 10000), WAIT_OBJECT_0);
  EXPECT_EQ(Player("TryAddConnection(\"_lcdtest.after\", 0, 0, 50); Lock; Unlock"),
            "TryAddConnection ->0; Lock ->0 p_refCount=1; Unlock ->0 p_refCount=0");
  EXPECT_TRUE(block_.FreeWithin(5000));
}

TEST_F(LcdCrossProcess, GarbageFromAPeerNeitherCrashesNorStopsTheBroker) {
  OpenAccessor();                // on the valid block
  const std::string everyCall =  // every local-connection call as a player makes it
      "Lock; LockTime; FindConnectionFormat(\"_lcdtest.any\", 0); FindConnectionFormat(\"" +
      std::string(2000, 'A') +
      "\", 3); TryAddConnection(\"_lcdtest.any\", 0, 0, 50); "
      "RemoveConnection(\"_lcdtest.any\", 3); GetMessageTarget; GetMessageData; " +
      Dispatch(LcdMessageTo("_lcdtest.any", "x")) +
      "; PruneDeadMessage; ClearMessage; Unlock; "
      "MessageTimeout";
  // clang-format off
  const struct { std::vector<std::string> peer; const char* why; } cases[] = {
      {{"fill 0x41", "write 0 01000000"}, "a list without its end, length past the data"},
      {{"fill 0xFF", "write 0 01000000"}, "every field at its maximum"},
      {{"random 7", "write 0 01000000"}, "random bytes"},
      {{"random 12345"}, "random bytes, marker too"},
      {{"fill 0", "write 0 01000000", "write 12 0600000002FFFF41424344"},
       "a name length past the message"},
      {{"fill 0", "write 0 01000000", "write 12 080000000CFFFFFFFE41424344"},
       "a 32-bit name length that wraps with the header"},
      {{"fill 0x66", "write 0 0100000001000000000000000000000000",
        "write 64516 0065646765003A3A393A3A"}, "a name whose suffixes the block's end cuts off"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    for (const std::string& step : c.peer) Poke(step);
    // This process's object kept its view, and meets the bytes as they are.
    EXPECT_EQ(Lock(), "0x00000000 1");
    BSTR target = nullptr;
    EXPECT_EQ(session_.broker->BrokerLcdGetMessageTarget(&target), S_FALSE);
    EXPECT_EQ(target, nullptr);
    UniqueSafeArray data;
    HRESULT got = session_.broker->BrokerLcdGetMessageData(data.Receive());
    EXPECT_TRUE(got == S_OK || got == S_FALSE) << std::hex << got;
    LONG format = 0;
    got = session_.broker->BrokerLcdFindConnectionFormat(Bstr(L"edge"), 0, &format);
    EXPECT_TRUE(got == S_OK || got == S_FALSE) << std::hex << got;
    EXPECT_EQ(Lock({false}), "0x00000000 0");
    // A player's new object, on the same bytes: every call answered.
    std::string lines = Player(everyCall);
    size_t answers = 0;
    for (size_t at = lines.find("->"); at != std::string::npos; at = lines.find("->", at + 2)) {
      ++answers;
      if (lines.compare(at, 5, "-> 0x") != 0) continue;
      auto answer = static_cast<HRESULT>(std::stoul(lines.substr(at + 5, 8), nullptr, 16));
      EXPECT_FALSE(IsTransportFailure(answer)) << lines;
    }
    EXPECT_EQ(answers, 13u) << lines;
  }
  // An object opened on a block without the valid marker works without
  // memory; once the block is valid again, everything works.
  Poke("fill 0x41");
  EXPECT_EQ(Player("Lock; TryAddConnection(\"_lcdtest.any\", 0, 0, 50)"),
            "Lock ->0 p_refCount=0; TryAddConnection ->1");
  Reset();
  EXPECT_EQ(Player("TryAddConnection(\"_lcdtest.any\", 0, 0, 50); "
                   "FindConnectionFormat(\"_lcdtest.any\", 0)"),
            "TryAddConnection ->0; FindConnectionFormat ->0 p_format=2");
}

// While the broker holds the lock for this process's object, a peer cannot take
// the mutex. The lock is one broker object's at a time, though all run on one
// thread: one player waits for it; any other meanwhile fails at once.
TEST_F(LcdCrossProcess, AnotherPlayersLockWaitsWhileTheHolderNests) {
  ASSERT_EQ(Lock(), "0x00000000 1");
  EXPECT_FALSE(block_.FreeWithin(500));
  Started other("Lock; LockTime; Unlock");
  ASSERT_TRUE(other.WaitForOutput("create broker"));
  Sleep(1500);  // its Lock has reached the broker and waits there
  EXPECT_TRUE(other.Running());
  EXPECT_EQ(other.Output().find("BrokerLcdLock"), std::string::npos);
  EXPECT_EQ(Player("Lock; GetMessageTarget; Unlock"),  // leaves nothing to undo
            "Lock ->0 p_refCount=0; GetMessageTarget ->1 p_string=null; Unlock ->0 p_refCount=0");
  // The holder is served while the other waits; its levels stay its own.
  EXPECT_EQ(Lock({true, true, false, false}),
            "0x00000000 2, 0x00000000 3, 0x00000000 2, 0x00000000 1");
  const DWORD released = GetTickCount();
  EXPECT_EQ(Lock({false}), "0x00000000 0");
  std::string lines = Lines(other);
  EXPECT_EQ(lines.rfind("Lock ->0 p_refCount=1; LockTime ->0 p_lockTime=", 0), 0u) << lines;
  EXPECT_NE(lines.find("; Unlock ->0 p_refCount=0"), std::string::npos) << lines;
  EXPECT_GE(static_cast<int32_t>(LockTimeIn(lines) - released), 0)
      << "the other player took the lock before the holder's last Unlock";
  EXPECT_TRUE(block_.FreeWithin(0));
}

TEST_F(LcdCrossProcess, AHolderThatGoesAwayGivesTheLockToTheWaitingPlayer) {
  // What the holding player does after 2 s; whether its process outlives the hand-over.
  const struct {
    const char* afterHold;
    bool holderRunsOn;
  } cases[] = {{"; Unlock; sleep 3000", true}, {"; release; sleep 3000", true}, {"", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.afterHold);
    Started holder("Lock; LockTime; sleep 2000"s + c.afterHold);
    ASSERT_TRUE(holder.WaitForOutput("p_lockTime="));
    EXPECT_EQ(Lock(), "0x00000000 1");  // waits for the hand-over
    EXPECT_TRUE(!c.holderRunsOn || holder.Running());
    LONG taken = 0;
    EXPECT_EQ(session_.broker->BrokerLcdLockTime(&taken), S_OK);
    EXPECT_EQ(Lock({false}), "0x00000000 0");
    std::string lines = Lines(holder);
    EXPECT_EQ(lines.rfind("Lock ->0 p_refCount=1; LockTime", 0), 0u) << lines;
    EXPECT_GE(static_cast<int32_t>(static_cast<DWORD>(taken) - LockTimeIn(lines)), 2000)
        << "taken while the holder still held it";
  }
}

// A holder of the mutex stalls nobody: waits end in time; calls needing no lock are answered.
TEST_F(LcdCrossProcess, AHostileHolderOfTheMutexStallsNoPlayer) {
  OpenAccessor();  // before the hold, as the first two players' objects
  Started waiter("MessageTimeout; sleep 3000; Lock; Unlock");
  Started bystander(
      "MessageTimeout; sleep 5000; MessageTimeout; LockTime; Unlock; BrokerCloseHandle(7)");
  ASSERT_TRUE(waiter.WaitForOutput("BrokerLcdMessageTimeout"));
  ASSERT_TRUE(bystander.WaitForOutput("BrokerLcdMessageTimeout"));
  UniqueHandle holder = HoldThenEnd(20000);
  Started latecomer("Lock");  // its object first opens the block now
  EXPECT_EQ(Lines(bystander),
            "MessageTimeout ->0 p_timeout=5000; MessageTimeout ->0 p_timeout=5000; "
            "LockTime ->0 p_lockTime=0; Unlock ->0 p_refCount=0; BrokerCloseHandle -> 0x80070057");
  EXPECT_TRUE(waiter.Running()) << "the bystander was answered only after the wait";
  EXPECT_EQ(Lines(waiter),
            "MessageTimeout ->0 p_timeout=5000; Lock ->0 p_refCount=0; Unlock ->0 p_refCount=0");
  EXPECT_EQ(Lines(latecomer), "Lock ->0 p_refCount=0");
  EXPECT_EQ(WaitForSingleObject(holder.Get(), 0), WAIT_TIMEOUT) << "the locks failed only later";
  // Once the holder has ended, the wait that meets the abandoned mutex fails
  // as before and lets it go; locks work again.
  EXPECT_EQ(WaitForSingleObject(holder.Get(), 60000), WAIT_OBJECT_0);
  EXPECT_EQ(Lock(), "0x00000000 0");
  EXPECT_EQ(Player("Lock; Unlock"), "Lock ->0 p_refCount=1; Unlock ->0 p_refCount=0");
  EXPECT_EQ(Lock({true, false}), "0x00000000 1, 0x00000000 0");
}

}  // namespace
