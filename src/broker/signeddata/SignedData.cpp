// Signed data through CRYPT32. The chain is climbed by hand inside the
// message's own certificates and ends at the given root; no system store
// takes part, so what is trusted is exactly the root handed in.
#include "broker/signeddata/SignedData.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

#include "broker/signeddata/Base64.h"
#include "broker/signeddata/Sha256.h"
#include "broker/signeddata/SignedDataManifest.h"
#include "broker/signeddata/SignedDataRoots.h"
#include "foundation/WideText.h"
#include "foundation/Win32Handles.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr int kMaxIssuerSteps = 8;
constexpr DWORD kFileReadPiece = 65536;

struct CertContextTraits {
  using Value = PCCERT_CONTEXT;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr; }
  static void Close(Value v) { CertFreeCertificateContext(v); }
};
using UniqueCertContext = UniqueResource<CertContextTraits>;

struct CertStoreTraits {
  using Value = HCERTSTORE;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr; }
  static void Close(Value v) { CertCloseStore(v, 0); }
};
using UniqueCertStore = UniqueResource<CertStoreTraits>;

struct CryptMsgTraits {
  using Value = HCRYPTMSG;
  static Value Invalid() { return nullptr; }
  static bool Valid(Value v) { return v != nullptr; }
  static void Close(Value v) { CryptMsgClose(v); }
};
using UniqueCryptMsg = UniqueResource<CryptMsgTraits>;

// The subject's signature verifies with the issuer's key and the subject is
// within its validity period: the call succeeds and clears both flags.
bool IssuedBy(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer) {
  DWORD flags = CERT_STORE_SIGNATURE_FLAG | CERT_STORE_TIME_VALIDITY_FLAG;
  return CertVerifySubjectCertificateContext(subject, issuer, &flags) && flags == 0;
}

// Climbs from the signer through the issuers found among the message's
// certificates, then checks the last one against the root. A certificate
// that is its own issuer keeps being found, so it runs into the step limit.
bool ChainReachesRoot(HCERTSTORE store, UniqueCertContext current, PCCERT_CONTEXT root) {
  for (int steps = 0;; ++steps) {
    UniqueCertContext issuer(CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_ISSUER_OF,
                                                        current.Get(), nullptr));
    if (!issuer) break;
    if (steps == kMaxIssuerSteps) return false;
    if (!IssuedBy(current.Get(), issuer.Get())) return false;
    current = std::move(issuer);
  }
  return IssuedBy(current.Get(), root);
}

// With signed attributes the signature covers the attributes, and only their
// message digest ties the content to it; some CRYPT32 versions leave that
// comparison out. Compare it here: exactly one message-digest attribute with
// one value, a DER OCTET STRING holding the SHA-256 of the content. Other
// digest algorithms cannot be confirmed and are refused. Without signed
// attributes the signature covers the content itself.
bool ContentMatchesSignedDigest(const uint8_t* message, DWORD messageSize,
                                const std::vector<uint8_t>& content) {
  UniqueCryptMsg decoder(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
  if (!decoder || !CryptMsgUpdate(decoder.Get(), message, messageSize, TRUE)) return false;
  DWORD infoSize = 0;
  if (!CryptMsgGetParam(decoder.Get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &infoSize)) {
    return false;
  }
  // Pointer-aligned room: the signer information is a tree of structures.
  std::vector<uint64_t> room((infoSize + sizeof(uint64_t) - 1) / sizeof(uint64_t));
  if (!CryptMsgGetParam(decoder.Get(), CMSG_SIGNER_INFO_PARAM, 0, room.data(), &infoSize)) {
    return false;
  }
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(room.data());
  if (signer->AuthAttrs.cAttr == 0) return true;

  const CRYPT_ATTRIBUTE* digestAttribute = nullptr;
  for (DWORD i = 0; i < signer->AuthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = signer->AuthAttrs.rgAttr[i];
    if (attribute.pszObjId == nullptr ||
        std::strcmp(attribute.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) != 0) {
      continue;
    }
    if (digestAttribute != nullptr) return false;
    digestAttribute = &attribute;
  }
  if (digestAttribute == nullptr || digestAttribute->cValue != 1) return false;
  if (signer->HashAlgorithm.pszObjId == nullptr ||
      std::strcmp(signer->HashAlgorithm.pszObjId, szOID_NIST_sha256) != 0) {
    return false;
  }
  const CRYPT_ATTR_BLOB& value = digestAttribute->rgValue[0];
  if (value.cbData != 2 + kSha256DigestSize || value.pbData[0] != 0x04 ||
      value.pbData[1] != kSha256DigestSize) {
    return false;
  }
  Sha256Digest digest = Sha256(content.data(), content.size());
  return std::memcmp(value.pbData + 2, digest.data(), kSha256DigestSize) == 0;
}

UniqueHandle OpenForReading(const MString& path) {
  return UniqueHandle(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// The whole file: exactly as many bytes as GetFileSize reports.
bool ReadWholeFile(const MString& path, std::vector<uint8_t>& bytes) {
  bytes.clear();
  UniqueHandle file = OpenForReading(path);
  if (!file) return false;
  DWORD high = 0;
  DWORD size = GetFileSize(file.Get(), &high);
  if ((size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0) return false;
  std::vector<uint8_t> content(size);
  DWORD read = 0;
  if (size > 0 && (!ReadFile(file.Get(), content.data(), size, &read, nullptr) || read != size)) {
    return false;
  }
  bytes = std::move(content);
  return true;
}

// Adds the file's content to the hash; a file that cannot be opened or read
// adds nothing more.
void HashFile(const MString& path, Sha256State& state, uint8_t* piece) {
  UniqueHandle file = OpenForReading(path);
  if (!file) return;
  DWORD read = 0;
  while (ReadFile(file.Get(), piece, kFileReadPiece, &read, nullptr) && read > 0) {
    Sha256Update(state, piece, read);
  }
}

// Manifest names are in the ANSI code page.
MString FromAnsi(std::string_view text) {
  if (text.empty() || text.size() > INT32_MAX) return MString();
  auto size = static_cast<int>(text.size());
  int count = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (count <= 0) return MString();
  char16_t* units = nullptr;
  MString wide = MString::WithLength(static_cast<uint32_t>(count), &units);
  if (units == nullptr) return MString();
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, reinterpret_cast<wchar_t*>(units), count);
  return wide;
}

// The reference equals the beginning of the executable's name over the
// reference's own length (case-sensitive).
bool NamesExecutable(const MString& reference, const MString& executable) {
  if (reference.Length() > executable.Length()) return false;
  return std::equal(reference.begin(), reference.end(), executable.begin());
}

}  // namespace

bool VerifySignedBlob(const uint8_t* message, size_t messageSize, std::vector<uint8_t>& content,
                      const uint8_t* root, size_t rootSize) {
  content.clear();
  if (root == nullptr || rootSize == 0 || rootSize > MAXDWORD) return false;
  if (message == nullptr || messageSize == 0 || messageSize > MAXDWORD) return false;
  const auto size = static_cast<DWORD>(messageSize);

  CRYPT_VERIFY_MESSAGE_PARA para = {};
  para.cbSize = sizeof para;
  para.dwMsgAndCertEncodingType = kEncoding;
  static_assert(sizeof para == 32, "verify parameters as the system expects them on x64");
  DWORD contentSize = 0;
  if (!CryptVerifyMessageSignature(&para, 0, message, size, nullptr, &contentSize, nullptr)) {
    return false;
  }
  // Never a null buffer: that would only ask for the size again.
  std::vector<uint8_t> decoded(contentSize > 0 ? contentSize : 1);
  UniqueCertContext signer;
  if (!CryptVerifyMessageSignature(&para, 0, message, size, decoded.data(), &contentSize,
                                   signer.Receive()) ||
      !signer) {
    return false;
  }
  decoded.resize(contentSize);

  UniqueCertStore store(CryptGetMessageCertificates(kEncoding, 0, 0, message, size));
  if (!store) return false;
  UniqueCertContext rootCertificate(
      CertCreateCertificateContext(kEncoding, root, static_cast<DWORD>(rootSize)));
  if (!rootCertificate) return false;
  if (!ChainReachesRoot(store.Get(), std::move(signer), rootCertificate.Get())) return false;
  if (!ContentMatchesSignedDigest(message, size, decoded)) return false;
  content = std::move(decoded);
  return true;
}

std::vector<uint8_t> ReadRootCertificate(const MString& path) {
  if (path.IsEmpty()) {
    std::span<const uint8_t> root = BuiltInRootA();
    return std::vector<uint8_t>(root.begin(), root.end());
  }
  std::vector<uint8_t> bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

bool VerifyAddInFolder(const MString& folder, const MString& name, const MString& rootOverride) {
  MString manifestPath = folder;
  manifestPath.JoinPath(u'\\', u"digest.s"_ms);
  std::vector<uint8_t> message;
  if (!ReadWholeFile(manifestPath, message)) return false;
  std::vector<uint8_t> root = ReadRootCertificate(rootOverride);
  std::vector<uint8_t> text;
  if (!VerifySignedBlob(message.data(), message.size(), text, root.data(), root.size())) {
    return false;
  }
  AddInManifest manifest;
  if (!ReadAddInManifest(reinterpret_cast<const char*>(text.data()), text.size(), manifest) ||
      manifest.references.Count() == 0) {
    return false;
  }

  const MString executable = name + u".exe"_ms;
  bool listsExecutable = false;
  Sha256State state;
  Sha256Init(state);
  std::vector<uint8_t> piece(kFileReadPiece);
  for (std::string_view reference : manifest.references) {
    MString wide = FromAnsi(reference);
    if (wide.IsEmpty()) continue;
    if (NamesExecutable(wide, executable)) listsExecutable = true;
    MString path = folder;
    path.JoinPath(u'\\', wide);
    HashFile(path, state, piece.data());
  }
  Sha256Digest digest = Sha256Final(state);
  char encoded[Base64EncodedLength(kSha256DigestSize) + 1];
  Base64Encode(digest.data(), digest.size(), encoded);
  return listsExecutable && manifest.digest[0] != '\0' &&
         std::strcmp(encoded, manifest.digest) == 0;
}
