// Signed data from outside the broker: messages verified against a root
// certificate, and add-in folders checked against their signed manifest.
// Every failure is a plain false; callers map it to their own result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/MString.h"

// Verifies a PKCS #7 signed-data message that carries its content: the
// signer's signature (and, when the signer has signed attributes, that their
// message digest is the SHA-256 of the content), then the chain from the
// signer up through the issuers the message carries (at most 8 of them, each
// step checked for signature and time validity) to `root`, a DER
// certificate. On success `content` receives the content; on failure it is
// left empty.
bool VerifySignedBlob(const uint8_t* message, size_t messageSize, std::vector<uint8_t>& content,
                      const uint8_t* root, size_t rootSize);

// The root certificate to verify against: a copy of built-in root A for a
// null or empty path, else the whole file. Empty when the file cannot be
// read completely.
std::vector<uint8_t> ReadRootCertificate(const MString& path);

// Checks an add-in's folder against its signed manifest, folder + "\digest.s":
// the manifest verifies against ReadRootCertificate(rootOverride), it lists
// the add-in's executable (a reference that is `name` + ".exe" or a leading
// part of it), and its digest is the Base64 of the SHA-256 over the listed
// files in the listed order (a file that cannot be read adds nothing).
// `folder` is the add-in's folder: the maker-site folder + "\bin\" + name.
bool VerifyAddInFolder(const MString& folder, const MString& name, const MString& rootOverride);
