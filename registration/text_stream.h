// A text-mode stream over the services file, built on the platform layer.
//
// Reading turns CR LF into LF (a lone CR stays) and ends the text at the
// first Ctrl-Z; writing stores each LF as CR LF and lands at the file's end.
// One stream object serves one open file at a time and owns a single buffer
// for both directions, so its memory does not grow with the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace svcentry {

class TextStream {
 public:
  /// The largest and default size of one transfer to or from the file.
  static constexpr std::size_t kBlockSize = 64 * 1024;

  /// `block_size` (1 to kBlockSize) bounds each transfer; tests use tiny
  /// blocks to reach every boundary case.
  explicit TextStream(Platform& platform, std::size_t block_size = kBlockSize);
  TextStream(const TextStream&) = delete;
  TextStream& operator=(const TextStream&) = delete;
  ~TextStream();

  /// Opens an existing file for reading. On failure the platform's last-error
  /// code tells why.
  bool OpenForScanning(const char* path);

  /// Opens (or creates) a file for appending. Removes one Ctrl-Z that is the
  /// file's last byte. Fails, closing the file again, when the file cannot
  /// be positioned or shortened or its last byte cannot be read.
  bool OpenForAppending(const char* path);

  /// Stores the next chunk in `buffer` (`capacity` of 2 or more): at most
  /// `capacity` - 1 characters,
  /// ending with the first LF, then a NUL. Returns false, leaving `buffer`
  /// as it was, when not a single character could be taken.
  bool ReadChunk(char* buffer, std::size_t capacity);

  /// True once a read of the file found no more text.
  [[nodiscard]] bool AtEnd() const { return at_end_; }

  /// True once the platform refused a read or a write.
  [[nodiscard]] bool HasError() const { return has_error_; }

  /// True when the appended text would continue the file's last line: the
  /// file, as opened for appending, is not empty and does not end in LF.
  [[nodiscard]] bool LastLineIsOpen() const { return last_line_is_open_; }

  /// Accepts `text` for the file. Returns false when a transfer it caused
  /// failed.
  bool WriteText(const char* text);

  /// Transfers pending text, makes it durable and closes the file. The
  /// stream is closed afterwards whatever the result.
  bool Close();

 private:
  enum class LastByte { kRead, kNone, kFailed };

  void Reset(bool appending);
  LastByte ReadLastByte(std::int64_t* position, char* byte);
  bool InspectEnd();
  [[nodiscard]] std::size_t Available() const;
  bool Refill();
  bool Put(const char* data, std::size_t size);
  bool Transfer();
  void UndoTornTransfer(std::int64_t end_before, std::uint32_t written);

  Platform& platform_;
  const std::size_t block_size_;
  FileHandle file_ = kInvalidFileHandle;
  bool appending_ = false;
  bool at_end_ = false;
  bool has_error_ = false;
  bool last_line_is_open_ = false;
  // Reading: no more data will come from the file (it ran out, or a Ctrl-Z
  // was seen), though some may still wait in the buffer.
  bool data_ended_ = false;
  // Reading: raw bytes buffer_[begin_, end_) are still to be handed out.
  // Writing: buffer_[0, end_) waits for the next transfer.
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  // One byte more than a block: a CR held back from the previous block is
  // moved in front of the next one. Left uncleared, as only bytes written
  // into it are read: a run on a small file touches only the pages it uses.
  std::array<char, kBlockSize + 1> buffer_;
};

}  // namespace svcentry
