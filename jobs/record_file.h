#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace korvel {

// The production record: a file that lines are only ever appended to, by
// this process and by others at the same time. A line is whole in the file
// or not there at all: each goes out in one write at the file's end, after a
// line end when the file does not end in one (a line cut short before, or a
// file edited by hand), and a write that fails is cut back to the file's
// length before it. A line is on the disk when Append returns.
class RecordFile {
  public:
    virtual ~RecordFile() = default;
    // Appends line and a line end. False, with the system's reason in
    // `error`, when the line is not (wholly) on the disk.
    virtual bool Append(const std::string& line, std::string& error) = 0;

    // Opens (creating it when missing) for appending; null with the reason
    // in `error` when that fails. Never waits: a FIFO or socket that nothing
    // reads is refused at once.
    static std::unique_ptr<RecordFile> Open(const std::string& path, std::string& error);

  protected:
    // Why a line is not on the disk when the system took only part of it.
    static std::string ShortWriteText(std::size_t written, std::size_t size) {
        return "only " + std::to_string(written) + " of " + std::to_string(size) +
               " bytes were written (is the disk full?)";
    }
    // What Append adds after a failed write: whether the file was cut back.
    static std::string CutBackText(bool cut) {
        return cut ? "; the part written was removed again"
                   : "; the part written could not be removed: the file ends in a cut line";
    }
};

}  // namespace korvel
