#include "bench/bench_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "registration/registration_run.h"

namespace svcentry::bench {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kLineEnd = "\r\n";
// The shortest line the generator writes: "#" and a line end.
constexpr std::size_t kShortestLine = 3;
// Text is handed to the file in pieces of about this size.
constexpr std::size_t kWriteSize = 1 << 20;
// Room left on the disk beyond the file itself.
constexpr std::uint64_t kSpareSpace = 64 << 20;
// Lengths of the long lines, line end included: just over one 999-character
// chunk, several chunks, and one line longer than a whole 64 KiB block.
constexpr std::array<std::size_t, 8> kLongLineLengths = {
    1'002, 1'003, 1'500, 2'000, 2'999, 5'000, 12'000, 70'000};

// A small deterministic generator (xorshift64*): the files must come out the
// same on every machine and with every standard library.
class Random {
 public:
  std::uint64_t Below(std::uint64_t bound) {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return (state_ * 0x2545F4914F6CDD1DULL >> 32) % bound;
  }

 private:
  std::uint64_t state_ = 0x5EED5EED5EED5EEDULL;
};

// Writes lines shaped like those of real services files. Names use no '_',
// so no generated line can begin with the services entry.
class LineMaker {
 public:
  // A whole line of `length` characters, line end included (at least
  // kShortestLine): a comment of random words.
  void Comment(std::string* line, std::size_t length) {
    line->push_back('#');
    Words(line, length - 1 - kLineEnd.size());
    line->append(kLineEnd);
  }

  // Mostly service lines, now and then a comment or an empty line.
  void Next(std::string* line) {
    const std::uint64_t kind = random_.Below(100);
    if (kind < 3) {
      line->append(kLineEnd);
    } else if (kind < 8) {
      Comment(line, 20 + random_.Below(60));
    } else {
      Service(line);
    }
  }

 private:
  char Letter() { return static_cast<char>('a' + random_.Below(26)); }

  void Words(std::string* line, std::uint64_t count) {
    for (; count > 0; --count) {
      line->push_back(count > 1 && random_.Below(7) == 0 ? ' ' : Letter());
    }
  }

  // A name, its port and protocol, and every other line a comment.
  void Service(std::string* line) {
    const std::size_t start = line->size();
    line->push_back(Letter());
    for (std::uint64_t n = 2 + random_.Below(13); n > 0; --n) {
      const std::uint64_t pick = random_.Below(40);
      line->push_back(pick < 26   ? static_cast<char>('a' + pick)
                      : pick < 36 ? static_cast<char>('0' + pick - 26)
                                  : '-');
    }
    PadTo(line, start + 17);
    line->append(std::to_string(1 + random_.Below(65535)));
    line->append(random_.Below(2) == 0 ? "/tcp" : "/udp");
    if (random_.Below(2) == 0) {
      PadTo(line, start + 33);
      line->append("# ");
      Words(line, 10 + random_.Below(40));
    }
    line->append(kLineEnd);
  }

  // At least one space, more to reach `column`.
  static void PadTo(std::string* line, std::size_t column) {
    line->append(std::max(line->size() + 1, column) - line->size(), ' ');
  }

  Random random_;
};

std::string Tail() {
  return std::string(kServicesEntry) + "    # the entry looked for\r\n" +
         "gds_db           3050/udp\r\n" + "zephyr-hm        2104/udp\r\n";
}

bool WriteBenchFile(const std::string& path, const BenchFile& file) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::string tail = Tail();
  const std::uint64_t body_size = file.size - tail.size();
  LineMaker lines;
  std::string pending;
  std::string line;
  std::uint64_t written = 0;
  int long_lines = 0;
  while (out) {
    line.clear();
    const std::uint64_t next_long_line =
        body_size / static_cast<std::uint64_t>(file.long_lines + 1) *
        static_cast<std::uint64_t>(long_lines + 1);
    if (long_lines < file.long_lines && written >= next_long_line) {
      lines.Comment(&line,
                    kLongLineLengths.at(static_cast<std::size_t>(long_lines) %
                                        kLongLineLengths.size()));
      ++long_lines;
    } else {
      lines.Next(&line);
    }
    if (written + line.size() + kShortestLine > body_size) {
      break;
    }
    pending += line;
    written += line.size();
    if (pending.size() >= kWriteSize) {
      out.write(pending.data(), static_cast<std::streamsize>(pending.size()));
      pending.clear();
    }
  }
  line.clear();
  lines.Comment(&line, body_size - written);
  pending += line;
  pending += tail;
  out.write(pending.data(), static_cast<std::streamsize>(pending.size()));
  out.close();
  return !out.fail();
}

}  // namespace

std::string PrepareBenchFile(const std::string& directory,
                             const BenchFile& file) {
  std::string path = directory + "/services-" + file.name;
  std::error_code error;
  if (fs::file_size(path, error) == file.size && !error) {
    return path;
  }
  fs::create_directories(directory, error);
  const fs::space_info space = fs::space(directory, error);
  if (error || space.available < file.size + kSpareSpace) {
    (void)std::fprintf(stderr, "Not enough free space in %s for %s\n",
                       directory.c_str(), path.c_str());
    return {};
  }
  // A file cut short by an interruption never gets the final name.
  const std::string partial = path + ".partial";
  if (!WriteBenchFile(partial, file) ||
      fs::file_size(partial, error) != file.size || error) {
    (void)std::fprintf(stderr, "Cannot write %s\n", partial.c_str());
    return {};
  }
  fs::rename(partial, path, error);
  if (error) {
    (void)std::fprintf(stderr, "Cannot rename %s\n", partial.c_str());
    return {};
  }
  return path;
}

bool LoadIntoPageCache(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> block(kWriteSize);
  while (in.read(block.data(), static_cast<std::streamsize>(block.size()))) {
  }
  return in.eof();
}

}  // namespace svcentry::bench
