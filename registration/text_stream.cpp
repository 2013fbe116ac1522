#include "registration/text_stream.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace svcentry {

namespace {

constexpr char kLineFeed = '\n';
constexpr char kCarriageReturn = '\r';
constexpr char kCtrlZ = '\x1a';

}  // namespace

TextStream::TextStream(Platform& platform, std::size_t block_size)
    : platform_(platform),
      block_size_(std::clamp<std::size_t>(block_size, 1, kBlockSize)) {}

TextStream::~TextStream() {
  if (file_ != kInvalidFileHandle) {
    platform_.CloseHandle(file_);
  }
}

bool TextStream::OpenForScanning(const char* path) {
  Reset(/*appending=*/false);
  file_ = platform_.CreateFileA(path, FileAccess::kRead,
                                FileCreation::kOpenExisting);
  return file_ != kInvalidFileHandle;
}

bool TextStream::OpenForAppending(const char* path) {
  Reset(/*appending=*/true);
  file_ = platform_.CreateFileA(path, FileAccess::kReadWrite,
                                FileCreation::kOpenAlways);
  if (file_ == kInvalidFileHandle) {
    return false;
  }
  std::int64_t start = 0;
  if (!InspectEnd() ||
      !platform_.SetFilePointerEx(file_, 0, SeekOrigin::kBegin, &start)) {
    platform_.CloseHandle(file_);
    file_ = kInvalidFileHandle;
    return false;
  }
  return true;
}

void TextStream::Reset(bool appending) {
  appending_ = appending;
  at_end_ = false;
  has_error_ = false;
  last_line_is_open_ = false;
  data_ended_ = false;
  begin_ = 0;
  end_ = 0;
}

TextStream::LastByte TextStream::ReadLastByte(std::int64_t* position,
                                              char* byte) {
  if (!platform_.SetFilePointerEx(file_, -1, SeekOrigin::kEnd, position)) {
    // An empty file has no last byte to move to.
    return platform_.GetLastError() == kErrorNegativeSeek ? LastByte::kNone
                                                          : LastByte::kFailed;
  }
  // A last byte that cannot be read may be a Ctrl-Z, which would hide all
  // text appended behind it from every reader: better not to append at all.
  std::uint32_t got = 0;
  if (!platform_.ReadFile(file_, byte, 1, &got)) {
    return LastByte::kFailed;
  }
  if (got != 1) {
    // The file was shortened since the move; the read, though it succeeded,
    // left no code that would tell the caller why.
    platform_.SetLastError(kErrorHandleEof);
    return LastByte::kFailed;
  }
  return LastByte::kRead;
}

bool TextStream::InspectEnd() {
  std::int64_t position = 0;
  char byte = 0;
  LastByte last = ReadLastByte(&position, &byte);
  if (last == LastByte::kRead && byte == kCtrlZ) {
    // Move to the Ctrl-Z from the end again, right before the cut: when
    // another program appended meanwhile, it is no longer the last byte and
    // stays, and nothing of theirs is cut with it.
    std::int64_t again = 0;
    if (!platform_.SetFilePointerEx(file_, -1, SeekOrigin::kEnd, &again) ||
        (again == position && !platform_.SetEndOfFile(file_))) {
      return false;
    }
    last = ReadLastByte(&position, &byte);
  }
  if (last == LastByte::kFailed) {
    return false;
  }
  last_line_is_open_ = last == LastByte::kRead && byte != kLineFeed;
  return true;
}

std::size_t TextStream::Available() const {
  std::size_t available = end_ - begin_;
  // A CR at the end of the buffer may be the first half of a CR LF pair that
  // the next block completes, so it waits for that block.
  if (available > 0 && !data_ended_ && buffer_[end_ - 1] == kCarriageReturn) {
    --available;
  }
  return available;
}

bool TextStream::Refill() {
  while (Available() == 0) {
    if (data_ended_) {
      at_end_ = true;
      return false;
    }
    // What is left can only be a held-back CR; it goes in front of the block.
    const std::size_t kept = end_ - begin_;
    if (kept > 0) {
      buffer_[0] = buffer_[begin_];
    }
    begin_ = 0;
    end_ = kept;
    char* block = buffer_.data() + kept;
    std::uint32_t got = 0;
    if (!platform_.ReadFile(file_, block,
                            static_cast<std::uint32_t>(block_size_), &got)) {
      has_error_ = true;
      return false;
    }
    if (got == 0) {
      data_ended_ = true;
    } else if (const void* ctrl_z = std::memchr(block, kCtrlZ, got)) {
      got =
          static_cast<std::uint32_t>(static_cast<const char*>(ctrl_z) - block);
      data_ended_ = true;
    }
    end_ = kept + got;
  }
  return true;
}

bool TextStream::ReadChunk(char* buffer, std::size_t capacity) {
  if (capacity < 2) {
    return false;
  }
  const std::size_t limit = capacity - 1;
  std::size_t stored = 0;
  while (stored < limit) {
    std::size_t available = Available();
    if (available == 0) {
      if (!Refill()) {
        break;
      }
      available = Available();
    }
    const std::size_t want = std::min(limit - stored, available);
    const char* next = buffer_.data() + begin_;
    // A CR dropped in front of a LF makes room for one more byte.
    const std::size_t window = std::min(want + 1, available);
    const auto* line_feed =
        static_cast<const char*>(std::memchr(next, kLineFeed, window));
    if (line_feed != nullptr) {
      auto text = static_cast<std::size_t>(line_feed - next);
      const std::size_t consumed = text + 1;
      if (text > 0 && line_feed[-1] == kCarriageReturn) {
        --text;
      }
      if (text < want) {
        std::memcpy(buffer + stored, next, text);
        buffer[stored + text] = kLineFeed;
        stored += text + 1;
        begin_ += consumed;
        break;
      }
    }
    std::memcpy(buffer + stored, next, want);
    stored += want;
    begin_ += want;
  }
  if (stored == 0) {
    return false;
  }
  buffer[stored] = '\0';
  return true;
}

bool TextStream::WriteText(const char* text) {
  static constexpr char kCrLf[] = {kCarriageReturn, kLineFeed};
  std::string_view rest(text);
  while (!rest.empty()) {
    const std::size_t line_feed = rest.find(kLineFeed);
    const std::string_view line = rest.substr(0, line_feed);
    if (!Put(line.data(), line.size()) ||
        (line_feed != std::string_view::npos && !Put(kCrLf, sizeof kCrLf))) {
      return false;
    }
    rest.remove_prefix(std::min(rest.size(), line.size() + 1));
  }
  return true;
}

bool TextStream::Put(const char* data, std::size_t size) {
  while (size > 0) {
    if (end_ == block_size_ && !Transfer()) {
      return false;
    }
    const std::size_t part = std::min(size, block_size_ - end_);
    std::copy_n(data, part, buffer_.data() + end_);
    end_ += part;
    data += part;
    size -= part;
  }
  return true;
}

bool TextStream::Transfer() {
  const auto size = static_cast<std::uint32_t>(end_);
  end_ = 0;
  std::int64_t end_before = 0;
  if (!platform_.SetFilePointerEx(file_, 0, SeekOrigin::kEnd, &end_before)) {
    has_error_ = true;
    return false;
  }
  std::uint32_t written = 0;
  while (written < size) {
    // A short write (a full disk, a size limit) is followed by another one,
    // which then reports why; writing nothing at all is a failure too.
    std::uint32_t put = 0;
    const bool ok = platform_.WriteFile(file_, buffer_.data() + written,
                                        size - written, &put);
    written += put;
    if (!ok || put == 0) {
      if (ok) {
        // Otherwise the message would show a code an earlier call left.
        platform_.SetLastError(kErrorWroteNothing);
      }
      has_error_ = true;
      UndoTornTransfer(end_before, written);
      return false;
    }
  }
  return true;
}

void TextStream::UndoTornTransfer(std::int64_t end_before,
                                  std::uint32_t written) {
  // Cut only when the file still ends exactly where these bytes end, so that
  // nothing another program appended meanwhile is lost. The position is
  // taken from the end right before the cut; the platform has no "shorten
  // only if this long", so a few calls' window remains.
  if (written == 0) {
    return;
  }
  // The transfer's failure is what gets reported, not one of the undo's.
  const std::uint32_t transfer_error = platform_.GetLastError();
  std::int64_t start = 0;
  if (platform_.SetFilePointerEx(file_, -std::int64_t{written},
                                 SeekOrigin::kEnd, &start) &&
      start == end_before) {
    platform_.SetEndOfFile(file_);
  }
  platform_.SetLastError(transfer_error);
}

bool TextStream::Close() {
  bool ok = true;
  if (appending_) {
    ok = !has_error_ && (end_ == 0 || Transfer()) &&
         platform_.FlushFileBuffers(file_);
  }
  ok = platform_.CloseHandle(file_) && ok;
  file_ = kInvalidFileHandle;
  return ok;
}

}  // namespace svcentry
