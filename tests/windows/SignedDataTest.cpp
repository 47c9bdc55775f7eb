// Signed messages and add-in folders verified through the platform's CRYPT32,
// against what SignedDataFixture.sh made with openssl under the development roots.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "WineTestSupport.h"
#include "broker/signeddata/SignedData.h"
#include "broker/signeddata/SignedDataRoots.h"
#include "foundation/Win32Handles.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::wstring Fixture(const std::wstring& name) {
  return std::wstring(GLINT_SIGNED_FIXTURES) + L"\\" + name;
}
Bytes FixtureBytes(const std::wstring& name) {
  std::string text = ReadAll(Fixture(name));
  EXPECT_FALSE(text.empty()) << "fixture missing: " << Utf8Of(name.c_str());
  return Bytes(text.begin(), text.end());
}
void WriteBytes(const std::wstring& path, const Bytes& bytes) {
  std::ofstream(std::filesystem::path(path), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
const Bytes kRootA(BuiltInRootA().begin(), BuiltInRootA().end());
const Bytes kRootB(BuiltInRootB().begin(), BuiltInRootB().end());

// Whether the message verifies; its content, which a failure must clear.
bool Verify(const Bytes& message, const Bytes& root, Bytes* content = nullptr) {
  Bytes out{0xEE};
  bool ok = VerifySignedBlob(message.data(), message.size(), out, root.data(), root.size());
  EXPECT_TRUE(ok || out.empty()) << "no partial content on failure";
  if (content != nullptr) *content = out;
  return ok;
}

TEST(SignedBlob, ChainsRootsAndValidity) {
  const Bytes content = FixtureBytes(L"content.dat");
  // clang-format off
  const struct { const wchar_t* message; const Bytes& root; bool ok; const char* why; } cases[] = {
      {L"message-root.p7", kRootA, true, "signed directly under the root"},
      {L"message-no-attributes.p7", kRootA, true, "no signed attributes"},
      {L"message-chain-2.p7", kRootA, true, "two issuers"},
      {L"message-chain-8.p7", kRootA, true, "eight issuers: the most that are climbed"},
      {L"message-chain-9.p7", kRootA, false, "nine issuers: one step too many"},
      {L"message-expired-signer.p7", kRootA, false, "the signer has expired"},
      {L"message-expired-issuer.p7", kRootA, false, "an issuer has expired"},
      {L"message-self-signed.p7", kRootA, false, "a self-signed signer runs into the step limit"},
      {L"message-carries-root.p7", kRootA, false, "a root inside the message is its own issuer"},
      {L"message-root-b.p7", kRootB, true, "root B's own message"},
      {L"message-root-b.p7", kRootA, false, "wrong root"},
      {L"message-sha384.p7", kRootA, false, "a signed digest other than SHA-256 is not confirmed"},
      {L"message-sha384-no-attributes.p7", kRootA, true, "SHA-384 signed over the content"},
      {L"message-empty.p7", kRootA, true, "empty content is content too"},
  };
  // clang-format on
  for (const auto& c : cases) {
    Bytes got;
    EXPECT_EQ(Verify(FixtureBytes(c.message), c.root, &got), c.ok)
        << Utf8Of(c.message) << ": " << c.why;
    bool empty = std::wstring(c.message) == L"message-empty.p7";
    EXPECT_TRUE(!c.ok || got == (empty ? Bytes{} : content)) << Utf8Of(c.message);
  }
}

// One content byte changed inside the message, with and without signed attributes.
TEST(SignedBlob, ContentAlteredAfterSigningFails) {
  for (const wchar_t* name : {L"message-root.p7", L"message-no-attributes.p7"}) {
    const Bytes original = FixtureBytes(name);
    ASSERT_TRUE(Verify(original, kRootA)) << Utf8Of(name);
    const std::string marker = "GLINT SIGNED CONTENT";
    const auto at = std::search(original.begin(), original.end(), marker.begin(), marker.end());
    ASSERT_NE(at, original.end()) << Utf8Of(name);
    for (size_t offset : {0, 25, 321}) {
      Bytes altered = original;
      altered[at - original.begin() + offset] ^= 0x01;
      EXPECT_FALSE(Verify(altered, kRootA)) << Utf8Of(name) << " content byte " << offset;
    }
  }
}

TEST(SignedBlob, DamagedOrMissingInputFails) {
  const Bytes message = FixtureBytes(L"message-chain-2.p7");
  const size_t n = message.size();
  for (size_t cut : {size_t{1}, size_t{16}, n / 3, n / 2, n - 300, n - 1})
    EXPECT_FALSE(Verify(Bytes(message.begin(), message.begin() + cut), kRootA)) << "cut " << cut;
  for (size_t back : {1, 17, 100}) {  // the signature value is the last thing in the message
    Bytes flipped = message;
    flipped[n - back] ^= 0x80;
    EXPECT_FALSE(Verify(flipped, kRootA)) << "signature byte " << back << " from the end";
  }
  Bytes content{0xEE};
  EXPECT_FALSE(VerifySignedBlob(message.data(), n, content, nullptr, 0));
  EXPECT_FALSE(VerifySignedBlob(message.data(), n, content, kRootA.data(), 0));
  EXPECT_FALSE(VerifySignedBlob(nullptr, 0, content, kRootA.data(), kRootA.size()));
  EXPECT_FALSE(VerifySignedBlob(message.data(), 0, content, kRootA.data(), kRootA.size()));
  EXPECT_TRUE(content.empty());
  EXPECT_FALSE(Verify(message, Bytes(kRootA.size(), 0x30)));  // not a certificate
  EXPECT_FALSE(Verify(message, Bytes(kRootA.begin(), kRootA.end() - 1)));
  EXPECT_FALSE(Verify(FixtureBytes(L"content.dat"), kRootA));
}

TEST(RootCertificate, BuiltInOrFromAFile) {
  EXPECT_EQ(ReadRootCertificate(MString()), kRootA);
  EXPECT_EQ(ReadRootCertificate(u""_ms), kRootA);
  std::wstring folder = NewTempFolder(L"glint-root");
  WriteBytes(folder + L"\\empty.der", {});
  WriteBytes(folder + L"\\locked.der", kRootB);
  UniqueHandle holder(CreateFileW((folder + L"\\locked.der").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  for (const wchar_t* path : {L"\\absent.der", L"", L"\\empty.der", L"\\locked.der"})
    EXPECT_TRUE(ReadRootCertificate(M(folder + path)).empty()) << Utf8Of(path);
  holder.Reset();
  EXPECT_EQ(ReadRootCertificate(M(folder + L"\\locked.der")), kRootB);
  RemoveTree(folder);
}

// A copy of the fixture's add-in folder with one of its manifests as digest.s.
class AddInFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = NewTempFolder(L"glint-addin") + L"\\DemoTool"; }
  void TearDown() override { RemoveTree(folder_.substr(0, folder_.rfind(L'\\'))); }
  void Prepare(const std::wstring& manifest) {
    RemoveTree(folder_);
    for (const wchar_t* sub : {L"", L"\\data", L"\\lib"})
      CreateDirectoryW((folder_ + sub).c_str(), nullptr);
    for (const wchar_t* file : kFiles) {
      ASSERT_TRUE(CopyFileW(Fixture(std::wstring(L"addin\\") + file).c_str(),
                            (folder_ + L"\\" + file).c_str(), FALSE))
          << Utf8Of(file);
    }
    if (!manifest.empty()) WriteBytes(folder_ + L"\\digest.s", FixtureBytes(manifest));
  }
  bool Check(const std::wstring& rootOverride = L"") const {
    return VerifyAddInFolder(M(folder_), u"DemoTool"_ms, M(rootOverride));
  }
  static constexpr const wchar_t* kFiles[] = {L"DemoTool.exe", L"data\\strings.txt",
                                              L"lib\\helper.dll"};
  std::wstring folder_;
};

TEST_F(AddInFolderTest, Manifests) {
  const std::wstring rootB = Fixture(L"root-B.der");
  // clang-format off
  const struct { const wchar_t* manifest; std::wstring rootOverride; bool ok; const char* why; } cases[] = {
      {L"manifest-good.s", L"", true, "the files as listed and signed"},
      {L"manifest-no-digest.s", L"", false, "no digest"},
      {L"manifest-digest-too-long.s", L"", false, "a digest line longer than its field"},
      {L"manifest-executable-by-leading-part.s", L"", true,
       "a reference that is a leading part of the executable's name names it"},
      {L"manifest-executable-in-other-case.s", L"", false, "names are compared case-sensitively"},
      {L"manifest-missing-file.s", L"", true, "a listed file that is absent adds nothing"},
      {L"manifest-other-order.s", L"", false, "the digest follows the listed order"},
      {L"manifest-good-root-b.s", L"", false, "signed under root B, checked against root A"},
      {L"manifest-good-root-b.s", rootB, true, "the override root anchors it"},
      {L"manifest-good.s", rootB, false, "the override replaces root A"},
      {L"manifest-good.s", Fixture(L"absent.der"), false, "an unreadable override"},
      {L"", L"", false, "no manifest"},
  };
  // clang-format on
  for (const auto& c : cases) {
    Prepare(c.manifest);
    EXPECT_EQ(Check(c.rootOverride), c.ok) << Utf8Of(c.manifest) << ": " << c.why;
  }
}

TEST_F(AddInFolderTest, ChangedListedFilesFailUnlistedOnesDoNotMatter) {
  // One changed byte in any listed file; 65536 is the first of the 2nd piece.
  // clang-format off
  const struct { const wchar_t* file; long at; } cases[] = {
      {kFiles[0], 0}, {kFiles[0], 65536}, {kFiles[0], -1}, {kFiles[1], 11}, {kFiles[2], -1}};
  // clang-format on
  for (const auto& c : cases) {
    Prepare(L"manifest-good.s");
    Bytes bytes = FixtureBytes(std::wstring(L"addin\\") + c.file);
    bytes.at(c.at < 0 ? bytes.size() + c.at : c.at) ^= 0x20;  // from the end when negative
    WriteBytes(folder_ + L"\\" + c.file, bytes);
    EXPECT_FALSE(Check()) << Utf8Of(c.file) << " " << c.at;
  }
  Prepare(L"manifest-good.s");
  WriteBytes(folder_ + L"\\extra.dat", Bytes(1000, 0x5A));
  CreateDirectoryW((folder_ + L"\\more").c_str(), nullptr);
  WriteBytes(folder_ + L"\\more\\DemoTool.exe", Bytes(10, 0x01));
  EXPECT_TRUE(Check());
  EXPECT_TRUE(VerifyAddInFolder(M(folder_ + L"\\"), u"DemoTool"_ms, MString()));  // separator
  EXPECT_FALSE(VerifyAddInFolder(M(folder_), u"OtherTool"_ms, MString()))
      << "the executable must be the add-in's own";
}

}  // namespace
