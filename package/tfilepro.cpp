#include "package/tfilepro.h"

#include <new>

#include "package/sha256.h"
#include "util/byte_order.h"

namespace korvel {

namespace {

constexpr int kNameOffset = 2;
constexpr int kNameLength = 14;
constexpr int kVersionOffset = 16;
constexpr int kVersionLength = 7;
constexpr int kSizeOffset = 23;
constexpr int kKindOffset = 28;

// The text up to the first zero byte, at most maxLength bytes, with leading
// and trailing blanks and control characters removed.
std::string HeaderText(const std::uint8_t* field, int maxLength) {
    int length = 0;
    while (length < maxLength && field[length] != 0) {
        ++length;
    }
    int begin = 0;
    while (begin < length && field[begin] <= ' ') {
        ++begin;
    }
    while (length > begin && field[length - 1] <= ' ') {
        --length;
    }
    return std::string(reinterpret_cast<const char*>(field) + begin,
                       static_cast<std::size_t>(length - begin));
}

}  // namespace

const std::uint8_t* TFilePro::entryData(int i) const {
    const Entry& e = entries_.at(static_cast<std::size_t>(i));
    return e.data.empty() ? nullptr : e.data.data();
}

std::span<const std::uint8_t> TFilePro::entryImage(int i) const {
    const Entry& e = entries_.at(static_cast<std::size_t>(i));
    return e.data.empty() ? std::span<const std::uint8_t>()
                          : std::span(e.data).first(static_cast<std::size_t>(e.size));
}

std::span<const std::uint8_t> TFilePro::entryImageWithTrailer(int i) const {
    return entries_.at(static_cast<std::size_t>(i)).data;
}

void TFilePro::Clear() {
    stream_.reset();
    fileName_.clear();
    stamp_ = {};
    sha256_.clear();
    entryCount_ = 0;
    entries_ = {};
}

bool TFilePro::LoadFromFile(const std::string& fileName) {
    Clear();
    try {
        stream_ = PackageFile::Open(fileName);
        if (stream_ && readEntries()) {
            // Every byte is in memory: holding the file would only stop the
            // package from being rebuilt.
            stream_.reset();
            fileName_ = fileName;
            return true;
        }
    } catch (const std::bad_alloc&) {
        // An entry too large for memory is a failed load like any other.
    }
    Clear();
    return false;
}

TFilePro::Freshness TFilePro::ReloadIfChanged() {
    if (entryCount_ == 0) {
        return Freshness::NoLongerLoads;
    }
    if (PackageFile::StampOf(fileName_) == stamp_) {
        return Freshness::Unchanged;
    }
    const std::string name = fileName_;
    return LoadFromFile(name) ? Freshness::Reloaded : Freshness::NoLongerLoads;
}

bool TFilePro::readEntries() {
    // Taken before the entries are read: a file changed during the read then
    // shows as changed at the next run.
    stamp_ = stream_->stamp();
    const std::int64_t fileSize = stamp_.size;
    if (fileSize < 0) {
        return false;
    }
    // Anything but a package is turned away before it is read whole.
    std::uint8_t magic[2] = {};
    if (stream_->readAt(0, magic, sizeof magic) != sizeof magic || magic[0] != 'B' ||
        magic[1] != 'A') {
        return false;
    }
    // No package of entries a board can take is larger: a bigger file is
    // refused before it is read, whatever its headers say.
    constexpr std::int64_t kMaxFileSize =
        std::int64_t{kMaxEntries} * (kHeaderSize + TFilePro::kMaxEntrySize + kTrailerSize);
    if (fileSize > kMaxFileSize) {
        return false;
    }
    // Read once, whole: the entries and the hash then come from the same
    // bytes, whatever a writer does to the file afterwards.
    std::vector<std::uint8_t> file(static_cast<std::size_t>(fileSize));
    if (stream_->readAt(0, file.data(), file.size()) != file.size()) {
        return false;
    }
    std::int64_t p = 0;
    while (entryCount_ < kMaxEntries) {
        if (p + kHeaderSize > fileSize) {
            return false;
        }
        const std::uint8_t* header = file.data() + p;
        if (header[0] != 'B' || header[1] != 'A') {
            return false;
        }
        Entry& e = entries_[static_cast<std::size_t>(entryCount_)];
        e.name = HeaderText(header + kNameOffset, kNameLength);
        e.version = HeaderText(header + kVersionOffset, kVersionLength);
        const std::uint32_t size = GetBigEndian32(header + kSizeOffset);
        e.kind = static_cast<char>(header[kKindOffset]);
        p += kHeaderSize;
        // Refuse a size that cannot be real before anything is allocated for it.
        if (size > TFilePro::kMaxEntrySize || p + size + kTrailerSize > fileSize || p > INT32_MAX) {
            return false;
        }
        e.size = static_cast<std::int32_t>(size);
        e.offset = static_cast<std::int32_t>(p);
        p += size + kTrailerSize;
        ++entryCount_;
        if (p >= fileSize) {
            break;
        }
    }
    for (int i = 0; i < entryCount_; ++i) {
        Entry& e = entries_[static_cast<std::size_t>(i)];
        const auto begin = file.begin() + e.offset;
        e.data.assign(begin, begin + e.size + kTrailerSize);
    }
    sha256_ = Sha256Hex(file);
    return true;
}

}  // namespace korvel
