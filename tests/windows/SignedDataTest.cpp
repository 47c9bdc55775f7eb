// Signed messages and add-in folders verified through the platform's
// CRYPT32, against certificates and messages that openssl made for this run
// under the development roots (SignedDataFixture.sh).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "WineTestSupport.h"
#include "broker/Base64.h"
#include "broker/Sha256.h"
#include "broker/SignedData.h"
#include "broker/SignedDataRoots.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::wstring Fixture(const std::wstring& name) {
  return std::wstring(GLINT_SIGNED_FIXTURES) + L"\\" + name;
}

Bytes ReadBytes(const std::wstring& path) {
  std::string text = ReadAll(path);
  return Bytes(text.begin(), text.end());
}

Bytes FixtureBytes(const std::wstring& name) {
  Bytes bytes = ReadBytes(Fixture(name));
  EXPECT_FALSE(bytes.empty()) << "fixture missing: " << Utf8Of(name.c_str());
  return bytes;
}

void WriteBytes(const std::wstring& path, const Bytes& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << Utf8Of(path.c_str());
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, bytes.size());
}

Bytes Of(std::span<const uint8_t> bytes) {
  return Bytes(bytes.begin(), bytes.end());
}

// The position of `marker` in `bytes`, or npos.
size_t Find(const Bytes& bytes, const std::string& marker) {
  auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
  return at == bytes.end() ? std::string::npos : static_cast<size_t>(at - bytes.begin());
}

struct Verified {
  bool ok;
  Bytes content;
};

Verified Verify(const Bytes& message, const Bytes& root) {
  Verified result;
  result.content = {0xEE};  // must be replaced or cleared
  result.ok =
      VerifySignedBlob(message.data(), message.size(), result.content, root.data(), root.size());
  if (!result.ok) {
    EXPECT_TRUE(result.content.empty()) << "no partial content on failure";
  }
  return result;
}

// ---------------------------------------------------------------------------
// VerifySignedBlob

TEST(SignedBlob, ChainsRootsAndValidity) {
  const Bytes rootA = Of(BuiltInRootA());
  const Bytes rootB = Of(BuiltInRootB());
  const Bytes content = FixtureBytes(L"content.dat");
  const struct {
    const wchar_t* message;
    const Bytes* root;
    bool ok;
    const char* why;
  } cases[] = {
      {L"message-root.p7", &rootA, true, "signed directly under the root"},
      {L"message-no-attributes.p7", &rootA, true, "no signed attributes"},
      {L"message-chain-2.p7", &rootA, true, "two issuers"},
      {L"message-chain-8.p7", &rootA, true, "eight issuers: the most that are climbed"},
      {L"message-chain-8-no-attributes.p7", &rootA, true, "eight issuers, no signed attributes"},
      {L"message-chain-9.p7", &rootA, false, "nine issuers: one step too many"},
      {L"message-expired-signer.p7", &rootA, false, "the signer has expired"},
      {L"message-expired-issuer.p7", &rootA, false, "an issuer has expired"},
      {L"message-self-signed.p7", &rootA, false, "a self-signed signer runs into the step limit"},
      {L"message-carries-root.p7", &rootA, false, "a root inside the message is its own issuer"},
      {L"message-root-b.p7", &rootB, true, "root B's own message"},
      {L"message-root-b.p7", &rootA, false, "wrong root"},
      {L"message-root.p7", &rootB, false, "wrong root"},
      {L"message-sha384.p7", &rootA, false, "a signed digest other than SHA-256 is not confirmed"},
      {L"message-sha384-no-attributes.p7", &rootA, true, "SHA-384 signed over the content"},
  };
  for (const auto& c : cases) {
    Verified v = Verify(FixtureBytes(c.message), *c.root);
    EXPECT_EQ(v.ok, c.ok) << Utf8Of(c.message) << ": " << c.why;
    if (c.ok) {
      EXPECT_EQ(v.content, content) << Utf8Of(c.message);
    }
  }
}

TEST(SignedBlob, EmptyContentIsContentToo) {
  Verified v = Verify(FixtureBytes(L"message-empty.p7"), Of(BuiltInRootA()));
  EXPECT_TRUE(v.ok);
  EXPECT_TRUE(v.content.empty());
}

// One byte of the content changed inside the message, with and without
// signed attributes. With them the signature covers only the attributes, so
// the check of their message digest is what catches this.
TEST(SignedBlob, ContentAlteredAfterSigningFails) {
  const Bytes root = Of(BuiltInRootA());
  for (const wchar_t* name : {L"message-root.p7", L"message-no-attributes.p7",
                              L"message-chain-8.p7", L"message-chain-8-no-attributes.p7"}) {
    const Bytes original = FixtureBytes(name);
    ASSERT_TRUE(Verify(original, root).ok) << Utf8Of(name);
    size_t at = Find(original, "GLINT SIGNED CONTENT");
    ASSERT_NE(at, std::string::npos) << Utf8Of(name);
    for (size_t offset : {size_t{0}, size_t{25}, size_t{321}}) {
      Bytes altered = original;
      altered[at + offset] ^= 0x01;
      EXPECT_FALSE(Verify(altered, root).ok) << Utf8Of(name) << " content byte " << offset;
    }
  }
}

TEST(SignedBlob, DamagedOrMissingInputFails) {
  const Bytes root = Of(BuiltInRootA());
  const Bytes message = FixtureBytes(L"message-chain-2.p7");
  for (size_t cut : {size_t{1}, size_t{16}, message.size() / 3, message.size() / 2,
                     message.size() - 300, message.size() - 1}) {
    Bytes truncated(message.begin(), message.begin() + static_cast<ptrdiff_t>(cut));
    EXPECT_FALSE(Verify(truncated, root).ok) << "cut to " << cut;
  }
  // The signature value is the last thing in the message.
  for (size_t back : {size_t{1}, size_t{17}, size_t{100}}) {
    Bytes flipped = message;
    flipped[message.size() - back] ^= 0x80;
    EXPECT_FALSE(Verify(flipped, root).ok) << "signature byte " << back << " from the end";
  }

  std::vector<uint8_t> content{0xEE};
  EXPECT_FALSE(VerifySignedBlob(message.data(), message.size(), content, nullptr, 0));
  EXPECT_FALSE(VerifySignedBlob(message.data(), message.size(), content, root.data(), 0));
  EXPECT_FALSE(VerifySignedBlob(nullptr, 0, content, root.data(), root.size()));
  EXPECT_FALSE(VerifySignedBlob(message.data(), 0, content, root.data(), root.size()));
  EXPECT_TRUE(content.empty());
  Bytes notACertificate(root.size(), 0x30);
  EXPECT_FALSE(Verify(message, notACertificate).ok);
  Bytes truncatedRoot(root.begin(), root.end() - 1);
  EXPECT_FALSE(Verify(message, truncatedRoot).ok);
  EXPECT_FALSE(Verify(content, root).ok);
}

// ---------------------------------------------------------------------------
// ReadRootCertificate

TEST(RootCertificate, BuiltInOrFromAFile) {
  EXPECT_EQ(ReadRootCertificate(MString()), Of(BuiltInRootA()));
  EXPECT_EQ(ReadRootCertificate(u""_ms), Of(BuiltInRootA()));
  EXPECT_NE(Of(BuiltInRootA()), Of(BuiltInRootB()));

  const std::wstring rootB = Fixture(L"root-B.der");
  EXPECT_EQ(ReadRootCertificate(M(rootB)), Of(BuiltInRootB()));
  // Read from the file, the override verifies what it anchors.
  Bytes fromFile = ReadRootCertificate(M(rootB));
  EXPECT_TRUE(Verify(FixtureBytes(L"message-root-b.p7"), fromFile).ok);

  std::wstring folder = NewTempFolder(L"glint-root");
  std::wstring empty = folder + L"\\empty.der";
  WriteBytes(empty, {});
  std::wstring locked = folder + L"\\locked.der";
  WriteBytes(locked, Of(BuiltInRootB()));
  HANDLE holder = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  for (const std::wstring& path : {folder + L"\\absent.der", folder, empty, locked}) {
    EXPECT_TRUE(ReadRootCertificate(M(path)).empty()) << Utf8Of(path.c_str());
  }
  CloseHandle(holder);
  EXPECT_EQ(ReadRootCertificate(M(locked)), Of(BuiltInRootB()));
  RemoveTree(folder);
}

// ---------------------------------------------------------------------------
// VerifyAddInFolder

// A copy of the fixture's add-in folder with one of its manifests as
// digest.s, in a fresh temporary folder.
class AddInFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = NewTempFolder(L"glint-addin") + L"\\DemoTool"; }
  void TearDown() override { RemoveTree(folder_.substr(0, folder_.rfind(L'\\'))); }

  void Prepare(const std::wstring& manifest) {
    RemoveTree(folder_);
    for (const wchar_t* sub : {L"", L"\\data", L"\\lib"}) {
      CreateDirectoryW((folder_ + sub).c_str(), nullptr);
    }
    for (const wchar_t* file : {L"DemoTool.exe", L"data\\strings.txt", L"lib\\helper.dll"}) {
      ASSERT_TRUE(CopyFileW(Fixture(std::wstring(L"addin\\") + file).c_str(),
                            (folder_ + L"\\" + file).c_str(), FALSE))
          << Utf8Of(file);
    }
    if (!manifest.empty()) WriteBytes(folder_ + L"\\digest.s", FixtureBytes(manifest));
  }

  bool Check(const std::wstring& rootOverride = L"") const {
    return VerifyAddInFolder(M(folder_), u"DemoTool"_ms, M(rootOverride));
  }

  void ChangeByte(const std::wstring& file, size_t (*where)(size_t size)) const {
    Bytes bytes = ReadBytes(folder_ + L"\\" + file);
    ASSERT_FALSE(bytes.empty());
    bytes[where(bytes.size())] ^= 0x20;
    WriteBytes(folder_ + L"\\" + file, bytes);
  }

  std::wstring folder_;
};

TEST_F(AddInFolderTest, Manifests) {
  const std::wstring rootB = Fixture(L"root-B.der");
  const struct {
    const wchar_t* manifest;
    std::wstring rootOverride;
    bool ok;
    const char* why;
  } cases[] = {
      {L"manifest-good.s", L"", true, "the files as listed and signed"},
      {L"manifest-digest-without-cr.s", L"", false, "a digest line without CR is not read"},
      {L"manifest-no-digest.s", L"", false, "no digest"},
      {L"manifest-digest-too-long.s", L"", false, "a digest line longer than its field"},
      {L"manifest-without-executable.s", L"", false, "the executable is not listed"},
      {L"manifest-executable-by-leading-part.s", L"", true,
       "a reference that is a leading part of the executable's name names it"},
      {L"manifest-executable-in-other-case.s", L"", false, "names are compared case-sensitively"},
      {L"manifest-missing-file.s", L"", true, "a listed file that is absent adds nothing"},
      {L"manifest-other-order.s", L"", false, "the digest follows the listed order"},
      {L"manifest-good-root-b.s", L"", false, "signed under root B, checked against root A"},
      {L"manifest-good-root-b.s", rootB, true, "the override root anchors it"},
      {L"manifest-good.s", rootB, false, "the override replaces root A"},
      {L"manifest-good.s", Fixture(L"absent.der"), false, "an unreadable override"},
      {L"content.dat", L"", false, "a manifest that is not a signed message"},
  };
  for (const auto& c : cases) {
    Prepare(c.manifest);
    EXPECT_EQ(Check(c.rootOverride), c.ok) << Utf8Of(c.manifest) << ": " << c.why;
  }
  Prepare(L"");
  EXPECT_FALSE(Check()) << "no manifest";
}

TEST_F(AddInFolderTest, OneChangedByteInAnyListedFileFails) {
  const struct {
    const wchar_t* file;
    size_t (*where)(size_t);
  } cases[] = {
      {L"DemoTool.exe", [](size_t) -> size_t { return 0; }},
      {L"DemoTool.exe", [](size_t) -> size_t { return 65536; }},  // first byte of the 2nd piece
      {L"DemoTool.exe", [](size_t size) { return size - 1; }},
      {L"data\\strings.txt", [](size_t size) { return size / 2; }},
      {L"lib\\helper.dll", [](size_t size) { return size - 1; }},
  };
  for (const auto& c : cases) {
    Prepare(L"manifest-good.s");
    ASSERT_TRUE(Check());
    ChangeByte(c.file, c.where);
    EXPECT_FALSE(Check()) << Utf8Of(c.file);
  }
}

TEST_F(AddInFolderTest, UnlistedFilesDoNotMatter) {
  Prepare(L"manifest-good.s");
  WriteBytes(folder_ + L"\\extra.dat", Bytes(1000, 0x5A));
  CreateDirectoryW((folder_ + L"\\more").c_str(), nullptr);
  WriteBytes(folder_ + L"\\more\\DemoTool.exe", Bytes(10, 0x01));
  EXPECT_TRUE(Check());
  // The folder may end in a separator.
  EXPECT_TRUE(VerifyAddInFolder(M(folder_ + L"\\"), u"DemoTool"_ms, MString()));
  EXPECT_FALSE(VerifyAddInFolder(M(folder_), u"OtherTool"_ms, MString()))
      << "the executable must be the add-in's own";
}

// The digest text rewritten inside the signed manifest to match a changed
// file: the content no longer matches the signed message digest.
TEST_F(AddInFolderTest, ManifestRewrittenAfterSigningFails) {
  Prepare(L"manifest-good.s");
  ChangeByte(L"DemoTool.exe", [](size_t) -> size_t { return 10; });
  Sha256State state;
  Sha256Init(state);
  for (const wchar_t* file : {L"DemoTool.exe", L"data\\strings.txt", L"lib\\helper.dll"}) {
    Bytes bytes = ReadBytes(folder_ + L"\\" + file);
    Sha256Update(state, bytes.data(), bytes.size());
  }
  Sha256Digest digest = Sha256Final(state);
  char text[Base64EncodedLength(kSha256DigestSize) + 1];
  Base64Encode(digest.data(), digest.size(), text);

  Bytes manifest = ReadBytes(folder_ + L"\\digest.s");
  size_t at = Find(manifest, "<DigestValue>");
  ASSERT_NE(at, std::string::npos);
  std::memcpy(manifest.data() + at + 13, text, std::strlen(text));
  WriteBytes(folder_ + L"\\digest.s", manifest);
  EXPECT_FALSE(Check());
}

// ---------------------------------------------------------------------------
// SHA-256 as this compiler built it: both compressions on the published
// examples.

TEST(Sha256ThisBuild, BothCompressions) {
  const struct {
    const char* message;
    const char* base64;
  } cases[] = {
      {"", "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU="},
      {"abc", "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0="},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "JI1qYdIGOLjlwCaTDD5gOaM85Flk/yFn9uzt1BnbBsE="},
  };
  std::vector<Sha256Compress> compressions{Sha256CompressPortable};
  if (Sha256CpuHasShaExtensions()) {
    compressions.push_back(Sha256CompressShaExtensions);
  } else {
    std::printf("this processor lacks the SHA extensions; only the portable compression ran\n");
  }
  for (Sha256Compress compress : compressions) {
    for (const auto& c : cases) {
      Sha256State state;
      Sha256Init(state);
      Sha256Update(state, c.message, std::strlen(c.message), compress);
      Sha256Digest digest = Sha256Final(state, compress);
      char text[45];
      Base64Encode(digest.data(), digest.size(), text);
      EXPECT_STREQ(text, c.base64) << '"' << c.message << '"';
    }
  }
}

}  // namespace
