// The download of an add-in package, attached to a broker cookie. Its
// internet handles close with it.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <memory>

struct DownloadState {
  HINTERNET session = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  uint32_t received = 0;
  uint32_t contentLength = 0;
  // contentLength bytes, taken without throwing: a size the process cannot
  // hold refuses the download instead of ending the broker.
  std::unique_ptr<uint8_t[]> buffer;

  DownloadState() = default;
  DownloadState(const DownloadState&) = delete;
  DownloadState& operator=(const DownloadState&) = delete;
  ~DownloadState() { Close(); }
  void Close();
};
