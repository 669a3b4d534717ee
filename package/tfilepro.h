#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "package/package_file.h"

namespace korvel {

// A loaded ".pr2" firmware package: up to five entries, each a 32-byte header
// starting "BA" (device name, version text, big-endian size, kind character),
// the data, and two trailer bytes. The entry data is not interpreted here.
class TFilePro {
  public:
    static constexpr int kMaxEntries = 5;
    static constexpr int kHeaderSize = 32;
    static constexpr int kTrailerSize = 2;
    // Larger than any board takes: the boot monitor's RAM window (16 MiB),
    // and far more than the largest flash (512 KiB, as HEX text at most some
    // 8 MB). A larger entry is refused while the header is read, before
    // anything is allocated, so a load never holds more than five of these.
    static constexpr std::uint32_t kMaxEntrySize = 16u << 20;

    TFilePro() = default;
    TFilePro(const TFilePro&) = delete;
    TFilePro& operator=(const TFilePro&) = delete;

    // Replaces whatever was loaded; false (and an empty reader) on any fault.
    // Other writers are kept out while the file is read, and a file being
    // written does not load; then the file is let go, so that it can be
    // rebuilt while it is loaded (ReloadIfChanged picks the new one up).
    bool LoadFromFile(const std::string& fileName);
    void Clear();

    // What a run finds of the loaded file on disk before it programs it.
    enum class Freshness { Unchanged, Reloaded, NoLongerLoads };
    // When the file changed on disk since it was loaded (size or modification
    // time, or it is gone), loads it again: a run never programs a stale copy.
    Freshness ReloadIfChanged();
    const std::string& fileName() const { return fileName_; }

    std::int64_t fileSize() const { return stamp_.size; }
    // SHA-256 (hex) of the bytes the package was loaded from: what a run
    // programs, whatever is on disk by then.
    const std::string& sha256() const { return sha256_; }
    int entryCount() const { return entryCount_; }
    // The package's kind character: entry 0's kind, 0 when nothing is loaded.
    char kind() const { return entries_[0].kind; }

    // Slots from entryCount() on are empty: texts empty, sizes 0, no data.
    const std::string& entryName(int i) const {
        return entries_.at(static_cast<std::size_t>(i)).name;
    }
    const std::string& entryVersion(int i) const {
        return entries_.at(static_cast<std::size_t>(i)).version;
    }
    std::int32_t entrySize(int i) const { return entries_.at(static_cast<std::size_t>(i)).size; }
    std::int32_t entryOffset(int i) const {
        return entries_.at(static_cast<std::size_t>(i)).offset;
    }
    char entryKind(int i) const { return entries_.at(static_cast<std::size_t>(i)).kind; }
    // entrySize + 2 bytes: the data followed by the two trailer bytes; null when empty.
    const std::uint8_t* entryData(int i) const;
    // The same bytes as spans: the entry's data alone, and followed by the
    // trailer bytes; both empty when the entry has no data.
    std::span<const std::uint8_t> entryImage(int i) const;
    std::span<const std::uint8_t> entryImageWithTrailer(int i) const;

  private:
    struct Entry {
        std::string name;
        std::string version;
        std::int32_t size = 0;
        std::int32_t offset = 0;
        std::vector<std::uint8_t> data;
        char kind = 0;
    };

    bool readEntries();

    // Open only while a load reads it.
    std::unique_ptr<PackageFile> stream_;
    std::string fileName_;
    FileStamp stamp_;
    std::string sha256_;
    int entryCount_ = 0;
    std::array<Entry, kMaxEntries> entries_;
};

}  // namespace korvel
