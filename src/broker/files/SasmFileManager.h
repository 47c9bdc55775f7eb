// A small file-system abstraction on UTF-8 paths, used for the player's
// storage folders: tree deletion and pruning, sizes, folder creation and
// listing, and the player's well-known folders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace SMImplementation {

// A growable array of pointers: room for 10 at first, doubling when full.
// Elements are made and freed by the derived class.
class PointerVector {
 public:
  PointerVector();
  PointerVector(const PointerVector&) = delete;
  PointerVector& operator=(const PointerVector&) = delete;
  virtual ~PointerVector();

  size_t Count() const { return count_; }
  size_t Capacity() const { return capacity_; }

 protected:
  virtual void FreeElement(void* element) = 0;
  bool AppendElement(void* element);
  void* ElementAt(size_t index) const { return index < count_ ? items_[index] : nullptr; }
  // Frees every element; derived destructors call it while their table is
  // still theirs.
  void FreeAll();

 private:
  void** items_ = nullptr;
  size_t count_ = 0;
  size_t capacity_ = 0;
};

}  // namespace SMImplementation

namespace SASM {

class StringVector final : public SMImplementation::PointerVector {
 public:
  StringVector() = default;
  ~StringVector() override;
  bool Add(const std::string& text);
  // The string at `index`, or null.
  const char* At(size_t index) const;

 protected:
  void FreeElement(void* element) override;
};

class FileManager {
 public:
  virtual ~FileManager() = default;
  virtual bool DeleteDirectoryTree(const std::string& path) = 0;
  // Deletes files last written more than `olderThanDays` days ago, then the
  // oldest until at most `keepBytes` remain; the folder itself goes when
  // nothing is left in it.
  virtual bool PruneDirectoryTree(const std::string& path, uint64_t keepBytes,
                                  uint32_t olderThanDays) = 0;
  // A file's size, or the total of a folder tree.
  virtual uint64_t Size(const std::string& path) = 0;
  virtual bool CreateSubdirectory(const std::string& parent, const std::string& name) = 0;
  virtual const char* PathSeparator() = 0;
  virtual const std::string& AssetCacheFolder() = 0;
  virtual const std::string& CacheFolder() = 0;
  virtual const std::string& SharedObjectsFolder() = 0;
  virtual const std::string& PrivateDataFolder() = 0;
  // Entry names of a folder, sorted, without "." and ".."; null on failure.
  virtual StringVector* ListFolder(const std::string& path) = 0;
};

class WindowsFileManager final : public FileManager {
 public:
  // Reads "EnableLocalAppData" from the administrator file.
  WindowsFileManager();
  bool EnableLocalAppData() const { return enableLocalAppData_; }

  bool DeleteDirectoryTree(const std::string& path) override;
  bool PruneDirectoryTree(const std::string& path, uint64_t keepBytes,
                          uint32_t olderThanDays) override;
  uint64_t Size(const std::string& path) override;
  bool CreateSubdirectory(const std::string& parent, const std::string& name) override;
  const char* PathSeparator() override { return "\\"; }
  const std::string& AssetCacheFolder() override;
  const std::string& CacheFolder() override;
  const std::string& SharedObjectsFolder() override;
  const std::string& PrivateDataFolder() override;
  StringVector* ListFolder(const std::string& path) override;

 private:
  bool enableLocalAppData_;
};

}  // namespace SASM
