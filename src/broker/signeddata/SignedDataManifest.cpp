#include "broker/signeddata/SignedDataManifest.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr std::string_view kReferenceOpen = "<Reference URI=\"";
constexpr std::string_view kReferenceClose = "\" />";
constexpr std::string_view kDigestOpen = "<DigestValue>";
constexpr std::string_view kDigestClose = "</DigestValue>";

// The text between `open` and `close` when the line is exactly that, with
// at least one character between; otherwise an empty view.
std::string_view Enclosed(std::string_view line, std::string_view open, std::string_view close) {
  if (line.size() <= open.size() + close.size()) return {};
  if (!line.starts_with(open) || !line.ends_with(close)) return {};
  return line.substr(open.size(), line.size() - open.size() - close.size());
}

}  // namespace

bool ManifestReferences::Append(std::string_view name) {
  if (name.empty()) return false;
  // The name, its NUL and the end mark behind it must fit.
  size_t needed = used_ + name.size() + 2;
  if (needed < used_) return false;
  if (needed > capacity_) {
    size_t capacity = capacity_ == 0 ? kInitialCapacity : capacity_;
    while (capacity < needed) {
      if (capacity > SIZE_MAX / 2) return false;
      capacity *= 2;
    }
    std::unique_ptr<char[]> grown(new (std::nothrow) char[capacity]);
    if (!grown) return false;
    if (used_ > 0) std::memcpy(grown.get(), buffer_.get(), used_);
    buffer_ = std::move(grown);
    capacity_ = capacity;
  }
  std::memcpy(buffer_.get() + used_, name.data(), name.size());
  used_ += name.size();
  buffer_[used_++] = '\0';
  buffer_[used_] = '\0';
  ++count_;
  return true;
}

bool ReadAddInManifest(const char* text, size_t size, AddInManifest& manifest) {
  std::string_view rest(text, size);
  rest = rest.substr(0, rest.find('\0'));
  while (!rest.empty()) {
    size_t lineFeed = rest.find('\n');
    if (lineFeed == std::string_view::npos) break;  // a last line without CR LF never counts
    std::string_view line = rest.substr(0, lineFeed);
    rest.remove_prefix(lineFeed + 1);
    if (!line.ends_with('\r')) continue;
    line.remove_suffix(1);

    if (std::string_view name = Enclosed(line, kReferenceOpen, kReferenceClose); !name.empty()) {
      if (!manifest.references.Append(name)) return false;
    } else if (std::string_view digest = Enclosed(line, kDigestOpen, kDigestClose);
               !digest.empty()) {
      if (digest.size() >= AddInManifest::kDigestField) return false;
      std::memcpy(manifest.digest, digest.data(), digest.size());
      manifest.digest[digest.size()] = '\0';
    }
  }
  return true;
}
