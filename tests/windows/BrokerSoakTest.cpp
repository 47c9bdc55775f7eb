// The broker holds steady over a long session: 10 000 mixed calls from one
// player, then eight player processes at once (this program again; players
// 2k and 2k+1 message each other). Once warm, its handles stay within five
// and its resident memory grows by less than 1 MiB plus 1 MiB for each thread
// gained. GetProcessHandleCount answers 0 on this test platform: handles come
// from the system's handle table. Calls per second are for scripts/bench.sh.
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "BrokerTestSupport.h"
#include "WineTestSupport.h"

namespace {

constexpr int kSoakCalls = 10000, kWarmCalls = 1000, kPlayers = 8, kPlayerCalls = 500;
constexpr int kMessagesPerPlayer = 10;
constexpr size_t kHandleBand = 5, kMiB = 1024 * 1024;
constexpr ULONG kChunk = 4096;

std::wstring WideOf(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

struct Reading {
  size_t handles = 0, resident = 0, threads = 0;
};

// The broker process, measured; the most threads since ResetPeak() are kept.
class BrokerGauge {
 public:
  explicit BrokerGauge(DWORD pid)
      : pid_(pid), process_(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid)) {}
  bool Valid() const { return static_cast<bool>(process_); }

  Reading Read() {
    struct Entry {  // SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX
      PVOID object;
      ULONG_PTR process, value;
      ULONG access;
      USHORT backTrace, type;
      ULONG attributes, reserved;
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    Reading reading;
    std::vector<BYTE> buffer(1 << 18);
    ULONG needed = 0;
    LONG status;  // 64: extended handle information; grown while too short
    while ((status = query(64, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
           static_cast<LONG>(0xC0000004)) {
      buffer.resize(buffer.size() * 2);
    }
    const auto* table = reinterpret_cast<const ULONG_PTR*>(buffer.data());  // count, reserved
    const auto* entries = reinterpret_cast<const Entry*>(table + 2);
    for (ULONG_PTR i = 0; status == 0 && i < table[0]; ++i)
      reading.handles += entries[i].process == pid_;
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(process_.Get(), &memory, sizeof memory))
      reading.resident = memory.WorkingSetSize;
    reading.threads = Threads();
    return reading;
  }
  size_t Threads() {
    size_t threads = 0;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
      if (entry.th32ProcessID == pid_) threads = entry.cntThreads;
    }
    peakThreads_ = std::max(peakThreads_, threads);
    return threads;
  }
  size_t PeakThreads() const { return peakThreads_; }
  void ResetPeak(const Reading& reference) { peakThreads_ = reference.threads; }

 private:
  DWORD pid_;
  UniqueHandle process_;
  size_t peakThreads_ = 0;
};

// COM threads come and go with the load, and what a thread used stays in the
// process's heap: each thread at the peak beyond the reference's may keep 1 MiB.
::testing::AssertionResult Steady(const BrokerGauge& gauge, const Reading& reference,
                                  const Reading& now) {
  size_t low = std::min(reference.handles, now.handles);
  size_t high = std::max(reference.handles, now.handles);
  if (high - low > kHandleBand) {
    return ::testing::AssertionFailure()
           << "handles " << reference.handles << " -> " << now.handles;
  }
  size_t peak = std::max(gauge.PeakThreads(), now.threads);
  size_t gained = peak > reference.threads ? peak - reference.threads : 0;
  if (now.resident >= reference.resident + kMiB + gained * kMiB) {
    return ::testing::AssertionFailure()
           << "resident memory " << reference.resident / 1024 << " KiB -> " << now.resident / 1024
           << " KiB (threads " << reference.threads << ", at most " << peak << ", now "
           << now.threads << ")";
  }
  return ::testing::AssertionSuccess();
}

// Once clients let go, the server needs up to 10 s to end their connections.
Reading Settled(BrokerGauge& gauge, const Reading& reference) {
  Reading now = gauge.Read();
  for (int waited = 0; waited < 10000 && now.handles > reference.handles + kHandleBand;
       waited += 100) {
    Sleep(100);
    now = gauge.Read();
  }
  return now;
}

void Print(const std::string& what, const Reading& reading) {
  std::printf("%-34s handles %4zu  resident %7zu KiB  threads %zu\n", what.c_str(), reading.handles,
              reading.resident / 1024, reading.threads);
  std::fflush(stdout);
}

// One player's session on a broker object: its own folder and connection
// name, and the calls it made. The first 20 wrong answers are reported.
class Player : public BrokerFiles {
 public:
  Player(IGlintBroker6* b, const std::wstring& folder, const std::string& name,
         const std::string& partner)
      : BrokerFiles{b}, folder_(folder), name_(name), partner_(partner) {}

  bool Check(bool ok, const std::string& failure) {
    if (!ok && ++failures_ <= 20) ADD_FAILURE() << failure << " (after " << calls_ << " calls)";
    return ok;
  }
  // Each broker call goes through here: counted, and its answer checked.
  bool Expect(const char* what, HRESULT got, HRESULT expected = S_OK) {
    ++calls_;
    return Check(got == expected,
                 std::string(what) + " answered " + Hex(got) + ", not " + Hex(expected));
  }
  std::wstring Path(const wchar_t* leaf) const { return folder_ + L"\\" + leaf; }
  const std::string& Name() const { return name_; }
  int Calls() const { return calls_; }

  // 4 KiB that differ from one write to the next (never an image's start).
  std::string NextContent() {
    std::string data(kChunk, 'G');
    unsigned seed = 2654435761u * static_cast<unsigned>(++writes_) + name_.size();
    for (size_t i = 1; i < data.size(); ++i) {
      seed = seed * 1103515245u + 12345u;
      data[i] = static_cast<char>(seed >> 16);
    }
    return data;
  }
  void WriteThrough(const std::wstring& path, const std::string& data) {
    ULONG cookie = 0, written = 0;
    if (!Expect("create for writing", Open(path, false, &cookie))) return;
    Expect("write",
           broker->BrokerWriteFile(cookie, UniqueSafeArray(ByteArray(data)).Get(), &written));
    Check(written == data.size(), "wrote " + std::to_string(written) + " bytes");
    Expect("close the written file", broker->BrokerCloseHandle(cookie));
  }
  void Prepare() {
    Expect("make the player's folder", broker->BrokerCreateDirectory(Bstr(folder_)));
    WriteThrough(Path(L"keep-a.sol"), "a");
    WriteThrough(Path(L"keep-b.sol"), "b");
  }
  void Finish() {
    for (const wchar_t* kept : {L"keep-a.sol", L"keep-b.sol"})
      Expect("delete a kept file", broker->BrokerDeleteFile(Bstr(Path(kept))));
    Expect("remove the player's folder", broker->BrokerRemoveDirectory(Bstr(folder_)));
  }

  // One message to the partner and one from it, each left to a later round
  // while another player holds the lock or the slot is taken (S_FALSE).
  // Answers whether all were sent and received.
  bool Exchange() {
    if (sent_ < kMessagesPerPlayer && Lock()) {
      UniqueSafeArray message(
          ByteArray(LcdMessageTo(partner_, name_ + " #" + std::to_string(sent_))));
      HRESULT posted = broker->BrokerLcdDispatchMessage(message.Get(), 11, 2, 0);
      if (Expect("send to the partner", posted, posted == S_FALSE ? S_FALSE : S_OK) &&
          posted == S_OK) {
        ++sent_;
      }
      Unlock();
    }
    if (!Lock()) return false;
    UniqueBstr target;
    HRESULT waiting = broker->BrokerLcdGetMessageTarget(target.Receive());
    Expect("message target", waiting, waiting == S_FALSE ? S_FALSE : S_OK);
    if (waiting == S_OK && Utf8Of(target.Get()) == name_) {
      std::string expected = LcdMessageTo(name_, partner_ + " #" + std::to_string(received_));
      Check(Message() == expected, "message " + std::to_string(received_) + " differs");
      Expect("clear the message", broker->BrokerLcdClearMessage());
      ++received_;
    }
    Unlock();
    return sent_ >= kMessagesPerPlayer && received_ >= kMessagesPerPlayer;
  }
  std::string Message() {
    SAFEARRAY* data = nullptr;
    if (!Expect("message data", broker->BrokerLcdGetMessageData(&data))) return "";
    return TakeBytes(data, data != nullptr ? data->rgsabound[0].cElements : 0);
  }
  // Whether the lock was had: holding nothing else, the count is 1, or 0 while another holds it.
  bool Lock() {
    LONG count = -1;
    if (!Expect("lock", broker->BrokerLcdLock(&count))) return false;
    Check(count == 0 || count == 1, "lock counted " + std::to_string(count));
    return count == 1;
  }
  void Unlock() {
    LONG count = -1;
    Expect("unlock", broker->BrokerLcdUnlock(&count));
    Check(count == 0, "unlock left " + std::to_string(count));
  }
  // Runs `step` under the lock, tried for up to 20 s.
  template <typename Step>
  bool WithLock(Step&& step) {
    for (ULONGLONG deadline = GetTickCount64() + 20000; !Lock(); Sleep(5)) {
      if (GetTickCount64() > deadline) return false;
    }
    step();
    Unlock();
    return true;
  }

 private:
  std::wstring folder_;
  std::string name_, partner_;
  int calls_ = 0, failures_ = 0, writes_ = 0, sent_ = 0, received_ = 0;
};

void WriteReadDelete(Player& p) {
  IGlintBroker6* b = p.broker;
  const std::wstring path = p.Path(L"round.sol"), renamed = p.Path(L"renamed.sol");
  const std::string data = p.NextContent();
  p.WriteThrough(path, data);
  ULONG cookie = 0, position = 1, read = 0;
  if (p.Expect("open for reading", p.Open(path, true, &cookie, false))) {
    p.Expect("seek to the start", b->BrokerSetFilePointer(cookie, 0, FILE_BEGIN, &position));
    SAFEARRAY* back = nullptr;
    if (p.Expect("read back", b->BrokerReadFile(cookie, kChunk, &read, &back)))
      p.Check(read == kChunk && TakeBytes(back, read) == data, "the read-back differs");
    p.Expect("close the read file", b->BrokerCloseHandle(cookie));
  }
  ULONG attributes = 0, times[6] = {}, sizeLow = 0, sizeHigh = 0;
  p.Expect("attributes",
           b->BrokerGetFileAttributesEx(Bstr(path), &attributes, &times[0], &times[1], &times[2],
                                        &times[3], &times[4], &times[5], &sizeLow, &sizeHigh));
  p.Check(sizeLow == kChunk && sizeHigh == 0, "size " + std::to_string(sizeLow));
  p.Expect("rename", b->BrokerMoveFileEx(Bstr(path), Bstr(renamed), MOVEFILE_REPLACE_EXISTING));
  p.Expect("delete", b->BrokerDeleteFile(Bstr(renamed)));
}

void Search(Player& p) {
  std::set<std::string> names;
  UniqueBstr name;
  ULONG attributes = 0, cookie = 0;
  HRESULT hr =
      p.broker->BrokerFindFirstFile(Bstr(p.Path(L"*.sol")), name.Receive(), &attributes, &cookie);
  for (HRESULT expected : {S_OK, S_OK, HRESULT_FROM_WIN32(ERROR_NO_MORE_FILES)}) {
    if (!names.empty()) hr = p.broker->BrokerFindNextFile(cookie, name.Receive(), &attributes);
    bool ok = p.Expect("search", hr, expected);
    if (hr == S_OK) names.insert(Utf8Of(name.Get()));
    if (!ok && names.empty()) return;
  }
  p.Expect("end the search", p.broker->BrokerFindClose(cookie));
  p.Check(names == std::set<std::string>{"keep-a.sol", "keep-b.sol"}, "the search missed a file");
}

void MessageToSelf(Player& p) {
  IGlintBroker6* b = p.broker;
  Bstr name(WideOf(p.Name()));
  LONG value = 0;
  p.Expect("add a connection", b->BrokerLcdTryAddConnection(name, 0, 0, 50));
  p.Expect("find its format", b->BrokerLcdFindConnectionFormat(name, 0, &value));
  p.Expect("lock", b->BrokerLcdLock(&value));
  const std::string message = LcdMessageTo(p.Name(), "to myself");
  p.Expect("post to oneself",
           b->BrokerLcdDispatchMessage(UniqueSafeArray(ByteArray(message)).Get(), 11, 2, 0));
  UniqueBstr target;
  p.Expect("message target", b->BrokerLcdGetMessageTarget(target.Receive()));
  p.Check(Utf8Of(target.Get()) == p.Name(), "the message went elsewhere");
  p.Check(p.Message() == message, "the message differs");
  p.Expect("clear the message", b->BrokerLcdClearMessage());
  p.Expect("nothing left to prune", b->BrokerLcdPruneDeadMessage(), S_FALSE);
  p.Expect("unlock", b->BrokerLcdUnlock(&value));
  p.Expect("remove the connection", b->BrokerLcdRemoveConnection(name, 0));
}

// Folders, connection state, preferences (every player writes the same size:
// players run at once), questions, and refusals.
void StateAndRefusals(Player& p) {
  IGlintBroker6* b = p.broker;
  p.Expect("make a folder", b->BrokerCreateDirectory(Bstr(p.Path(L"sub"))));
  p.Expect("remove a folder", b->BrokerRemoveDirectory(Bstr(p.Path(L"sub"))));
  LONG value = 0;
  p.Expect("lock time", b->BrokerLcdLockTime(&value));
  p.Expect("message timeout", b->BrokerLcdMessageTimeout(&value));
  ULONG width = 0, height = 0;
  p.Expect("store the dialog size", b->BrokerPrefSetExceptionDialogSize(640, 480));
  p.Expect("read the dialog size", b->BrokerPrefGetExceptionDialogSize(&width, &height));
  p.Check(width == 640 && height == 480, "dialog size " + std::to_string(width));
  p.Expect("writable path", b->BrokerIsWritablePath(Bstr(p.Path(L"x.sol")), 1));
  p.Expect("drive available", b->BrokerIsDriveAvailable(Bstr(L"C:")));

  const std::wstring outside = L"C:\\glint-soak-outside\\x.sol";
  ULONG cookie = 0, read = 0, attributes = 0;
  p.Expect("write outside", p.Open(outside, false, &cookie), E_ACCESSDENIED);
  UniqueBstr name;
  p.Expect("search the system",
           b->BrokerFindFirstFile(Bstr(KnownFolder(CSIDL_WINDOWS) + L"\\*"), name.Receive(),
                                  &attributes, &cookie),
           E_ACCESSDENIED);
  p.Expect("delete outside", b->BrokerDeleteFile(Bstr(outside)), E_FAIL);
  p.Expect("move as a hard link",
           b->BrokerMoveFileEx(Bstr(p.Path(L"keep-a.sol")), Bstr(p.Path(L"link.sol")), 0x10),
           E_FAIL);
  p.Expect("writable outside", b->BrokerIsWritablePath(Bstr(outside), 1), E_FAIL);
  UniqueSafeArray data;
  p.Expect("read an unknown cookie", b->BrokerReadFile(0xFFFFFFF0u, 16, &read, data.Receive()),
           E_INVALIDARG);
}

// A page that opens its own broker object for a moment: only in every tenth
// round, as each object a server hands out through the Automation marshaller
// costs it about 2 KiB on this test platform (a minimal local server too).
void AnotherObject(Player& p) {
  ComRef<IGlintBroker6> second;
  if (!p.Check(SUCCEEDED(CreateBroker(second.ReceiveTyped())), "a second object could not be made"))
    return;
  LONG value = 0;
  p.Expect("a second object's call", second->BrokerLcdMessageTimeout(&value));
}

// One round of the mix: the soak's player messages itself, a load's player its partner.
void Round(Player& p, int round, bool load) {
  WriteReadDelete(p);
  Search(p);
  if (load) {
    p.Exchange();
  } else {
    MessageToSelf(p);
  }
  StateAndRefusals(p);
  if (!load && round % 10 == 0) AnotherObject(p);
}

std::wstring PlayerFolder(const std::wstring& tag, int index) {
  return SharedObjects() + L"\\soak-" + tag + L"-" + std::to_wstring(index);
}

class BrokerSoak : public BrokerSuite {
 protected:
  static void SetUpTestSuite() {
    BrokerSuite::SetUpTestSuite();
    files_ = std::make_unique<ScratchFiles>();
    for (const std::wstring& folder :
         {KnownFolder(CSIDL_APPDATA) + L"\\Kestrelink", Store(), SharedObjects()}) {
      files_->Folder(folder);
    }
    registry_ = std::make_unique<ScratchRegistry>();
    for (const wchar_t* value : {L"Exception Dialog Width", L"Exception Dialog Height"})
      registry_->Remove(HKEY_CURRENT_USER, L"Software\\Kestrelink\\GlintPlayer", value);
    ASSERT_HRESULT_SUCCEEDED(CreateBroker(keeper_.ReceiveTyped()));
    std::vector<DWORD> servers = ProcessesNamed(kServer);
    ASSERT_EQ(servers.size(), 1u);
    gauge_ = std::make_unique<BrokerGauge>(servers[0]);
    ASSERT_TRUE(gauge_->Valid()) << "cannot open the broker process, error " << GetLastError();
  }
  static void TearDownTestSuite() {
    gauge_.reset();
    keeper_.Reset();
    BrokerSuite::TearDownTestSuite();
    registry_.reset();
    files_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(keeper_);
    ASSERT_EQ(ProcessesNamed(kServer).size(), 1u) << "the broker did not stay up";
  }

  static inline ComRef<IGlintBroker6> keeper_;  // idle: keeps the server up between players
  static inline std::unique_ptr<BrokerGauge> gauge_;
  static inline std::unique_ptr<ScratchFiles> files_;
  static inline std::unique_ptr<ScratchRegistry> registry_;
};

TEST_F(BrokerSoak, TenThousandCallsLeaveNoHandlesOrMemoryBehind) {
  IGlintBroker6* broker = nullptr;
  ASSERT_HRESULT_SUCCEEDED(CreateBroker(&broker));
  const std::string name = "_soak" + std::to_string(GetCurrentProcessId());
  Player player(broker, PlayerFolder(std::to_wstring(GetCurrentProcessId()), 0), name, name);
  player.Prepare();
  Reading warm;
  bool warmTaken = false;
  ULONGLONG start = GetTickCount64();
  for (int round = 0; player.Calls() < kSoakCalls; ++round) {
    Round(player, round, false);
    if (!warmTaken && player.Calls() >= kWarmCalls) {
      warmTaken = true;
      warm = gauge_->Read();
      gauge_->ResetPeak(warm);
      Print("soak: at call " + std::to_string(player.Calls()), warm);
    } else if (round % 4 == 0) {
      gauge_->Threads();  // costs about as much as a call: not every round
    }
  }
  double seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;
  Reading last = gauge_->Read();
  Print("soak: at call " + std::to_string(player.Calls()), last);
  player.Finish();
  broker->Release();
  Reading released = Settled(*gauge_, warm);
  Print("soak: after the player let go", released);
  std::printf("soak: %d calls in %.1f s: %.0f calls/s\n", player.Calls(), seconds,
              player.Calls() / seconds);
  EXPECT_TRUE(Steady(*gauge_, warm, last)) << "at call " << player.Calls();
  EXPECT_TRUE(Steady(*gauge_, warm, released)) << "after the player let go";
}

// Runs `players` players of `calls` calls at once; every one must pass.
// Answers their calls together and the longest one's milliseconds.
std::pair<int, double> RunPlayers(BrokerGauge& gauge, int players, int calls) {
  static int run = 0;
  const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++run);
  UniqueHandle ready(CreateSemaphoreW(nullptr, 0, players, (L"GlintSoakReady-" + tag).c_str()));
  UniqueHandle go(CreateEventW(nullptr, TRUE, FALSE, (L"GlintSoakGo-" + tag).c_str()));
  std::vector<std::pair<UniqueHandle, std::wstring>> started;  // and the output's file
  for (int i = 0; i < players; ++i) {
    wchar_t folder[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"sok", 0, file);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueHandle out(
        CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
    std::wstring argument = L"--soak-player=" + std::to_wstring(i) + L"," +
                            std::to_wstring(players) + L"," + std::to_wstring(calls) + L"," + tag;
    started.emplace_back(StartSelf(L"BrokerSoakPlayer.DISABLED_Run", argument, out.Get()), file);
  }
  int readyCount = 0;
  while (readyCount < players && WaitForSingleObject(ready.Get(), 60000) == WAIT_OBJECT_0)
    ++readyCount;
  EXPECT_EQ(readyCount, players) << "not every player got its broker object";
  SetEvent(go.Get());
  std::pair<int, double> total{0, 0};
  for (auto& [process, output] : started) {
    EXPECT_TRUE(process) << "a player could not be started";
    DWORD code = ~0u;
    for (ULONGLONG deadline = GetTickCount64() + 120000;
         process && WaitForSingleObject(process.Get(), 100) == WAIT_TIMEOUT;) {
      gauge.Threads();
      if (GetTickCount64() > deadline) TerminateProcess(process.Get(), 1);
    }
    if (process) GetExitCodeProcess(process.Get(), &code);
    std::string text = ReadAll(output);
    DeleteFileW(output.c_str());
    EXPECT_EQ(code, 0u) << text;
    int playerCalls = 0;
    double ms = 0;
    size_t at = text.find("soak-player: ");
    if (at != std::string::npos)
      std::sscanf(text.c_str() + at, "soak-player: %d calls in %lf ms", &playerCalls, &ms);
    total = {total.first + playerCalls, std::max(total.second, ms)};
  }
  return total;
}

double PerSecond(std::pair<int, double> run) {
  return run.second > 0 ? run.first * 1000.0 / run.second : 0;
}

TEST_F(BrokerSoak, EightPlayersAtOnceLeaveNoHandlesOrMemoryBehind) {
  // One player alone gives the anchor of the throughput. A first, short round
  // of eight brings the server to what eight connections at once take.
  auto alone = RunPlayers(*gauge_, 1, kPlayerCalls);
  Print("load: after one player", gauge_->Read());
  RunPlayers(*gauge_, kPlayers, kPlayerCalls / 10);
  Reading before = Settled(*gauge_, gauge_->Read());
  gauge_->ResetPeak(before);
  Print("load: after a first round of eight", before);
  auto together = RunPlayers(*gauge_, kPlayers, kPlayerCalls);
  Reading after = Settled(*gauge_, before);
  Print("load: after eight players let go", after);
  std::printf("load: eight players, %d calls: %.0f calls/s; one player alone: %.0f calls/s\n",
              together.first, PerSecond(together), PerSecond(alone));
  EXPECT_TRUE(Steady(*gauge_, before, after)) << "after eight players let go";
}

// A player process of the load.
TEST(BrokerSoakPlayer, DISABLED_Run) {
  int index = 0, players = 0, calls = 0;
  char tag[64] = {};
  ASSERT_EQ(std::sscanf(CommandLineValue("--soak-player=").c_str(), "%d,%d,%d,%63s", &index,
                        &players, &calls, tag),
            4);
  auto connection = [&](int n) { return "_soak" + std::string(tag) + "." + std::to_string(n); };
  ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
  IGlintBroker6* broker = nullptr;
  ASSERT_HRESULT_SUCCEEDED(CreateBroker(&broker));
  {
    Player player(broker, PlayerFolder(WideOf(tag), index), connection(index),
                  connection(players > 1 ? index ^ 1 : index));
    Bstr name(WideOf(player.Name()));
    EXPECT_TRUE(player.WithLock([&] {
      player.Expect("add the player's connection",
                    broker->BrokerLcdTryAddConnection(name, 0, 0, 50));
    }));
    player.Prepare();
    UniqueHandle ready(
        OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, (L"GlintSoakReady-" + WideOf(tag)).c_str()));
    UniqueHandle go(OpenEventW(SYNCHRONIZE, FALSE, (L"GlintSoakGo-" + WideOf(tag)).c_str()));
    ASSERT_TRUE(ready && go);
    ReleaseSemaphore(ready.Get(), 1, nullptr);
    ASSERT_EQ(WaitForSingleObject(go.Get(), 60000), WAIT_OBJECT_0);
    ULONGLONG start = GetTickCount64();
    for (int round = 0; player.Calls() < calls; ++round) Round(player, round, true);
    double ms = static_cast<double>(GetTickCount64() - start);
    const int mixCalls = player.Calls();
    // The partner's messages may still be on their way.
    bool exchanged = false;
    for (ULONGLONG deadline = GetTickCount64() + 60000;
         !(exchanged = player.Exchange()) && GetTickCount64() < deadline;) {
      Sleep(5);
    }
    EXPECT_TRUE(exchanged) << "the messages with the partner did not all arrive";
    player.Finish();
    EXPECT_TRUE(player.WithLock([&] {
      player.Expect("remove the player's connection", broker->BrokerLcdRemoveConnection(name, 0));
    }));
    std::printf("soak-player: %d calls in %.0f ms\n", mixCalls, ms);
  }
  broker->Release();
  CoUninitialize();
}

}  // namespace
