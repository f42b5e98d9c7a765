// The source against zlib and libzstd's one-shot functions: compressed data
// of every kind made by them, read from a file and through a pipe in short
// writes, must give the bytes compressed; data cut short or damaged at every
// offset must fail after a prefix of them.
#include "source.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "runlog.h"

namespace caplat {

namespace {

// Bytes that compress as a log does: lines that repeat with small changes.
std::string text(size_t size, int seed) {
  std::mt19937_64 random(seed);
  std::string t;
  while (t.size() < size)
    t += "0000  7b 22 45 22 3a 31 37 " + std::to_string(random() % 1000) + "\n";
  return t.substr(0, size);
}

std::string le32(uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}

// A gzip member of data, its header holding the fields of flags (FEXTRA 4,
// FNAME 8, with name, FCOMMENT 16, FHCRC 2).
std::string member(const std::string& data, unsigned flags = 0,
                   const std::string& name = "capture.log") {
  std::string header = {'\x1f', '\x8b', 8, static_cast<char>(flags), 1, 2, 3, 4, 0, 3};
  if (flags & 4)
    header += std::string(
        "\x05\x00"
        "extra",
        7);
  if (flags & 8) header += name + std::string(1, '\0');
  if (flags & 16) header += std::string("a comment\0", 10);
  if (flags & 2) {
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(header.data()), header.size());
    header += le32(static_cast<uint32_t>(crc)).substr(0, 2);
  }
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size());
  return header + runlog::deflated(data, -MAX_WBITS) + le32(static_cast<uint32_t>(crc)) +
         le32(static_cast<uint32_t>(data.size()));
}

// A zstd frame of data, with its checksum.
std::string zstd(const std::string& data) {
  ZSTD_CCtx* c = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
  std::string out(ZSTD_compressBound(data.size()), '\0');
  size_t size = ZSTD_compress2(c, out.data(), out.size(), data.data(), data.size());
  ZSTD_freeCCtx(c);
  if (ZSTD_isError(size)) abort();
  out.resize(size);
  return out;
}

// A zstd frame of data in one raw block, its window given by the descriptor
// byte: 0x88 for 128 MiB, each step of the low bits an eighth more.
std::string raw_frame(unsigned char window, const std::string& data) {
  uint32_t block = 1 | static_cast<uint32_t>(data.size()) << 3;
  return std::string("\x28\xb5\x2f\xfd\x00", 5) + static_cast<char>(window) +
         le32(block).substr(0, 3) + data;
}

// A skippable zstd frame of the given magic number's last nibble.
std::string skippable(unsigned nibble, const std::string& content) {
  return std::string(1, static_cast<char>(0x50 | nibble)) + "\x2a\x4d\x18" +
         le32(static_cast<uint32_t>(content.size())) + content;
}

// How the compressed bytes reach the source: from a file, or through a pipe
// written a chunk at a time by a thread.
struct Via {
  bool pipe;
  size_t chunk;
};

// What reading all of a source gives: the bytes, whether open took it and
// the reads ended well, and what a peek before the first read saw.
struct Read {
  std::string data;
  bool opened = false;
  bool ok = false;
  std::string error;
  std::string peeked;
};

// Reads data through via, size bytes a read, with buffers of block bytes,
// after a peek of peek bytes; a source that open refuses is not read.
Read read_all(const std::string& data, Via via, size_t size = 4096, size_t block = 1 << 16,
              size_t peek = 0) {
  int fd;
  std::thread writer;
  if (via.pipe) {
    int ends[2];
    if (pipe(ends) != 0) abort();
    writer = std::thread([&data, via, end = ends[1]] {
      for (size_t at = 0; at < data.size(); at += via.chunk) {
        size_t n = std::min(via.chunk, data.size() - at);
        if (write(end, data.data() + at, n) != static_cast<ssize_t>(n)) abort();
      }
      close(end);
    });
    fd = ends[0];
  } else {
    fd = memfd_create("compressed", 0);
    if (write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size()) ||
        lseek(fd, 0, SEEK_SET) != 0)
      abort();
  }
  Read result;
  {
    Source source(fd, block);
    result.opened = source.open();
    std::string buffer(std::max(size, peek), '\0');
    auto* bytes = reinterpret_cast<unsigned char*>(buffer.data());
    result.peeked.assign(buffer.data(), result.opened ? source.peek(bytes, peek) : 0);
    ssize_t n = -1;
    while (result.opened && (n = source.read(bytes, size)) > 0)
      result.data.append(buffer.data(), static_cast<size_t>(n));
    result.ok = n == 0;
    if (!result.ok) result.error = source.error();
  }
  // What open left unread, so that the writer ends.
  char rest[4096];
  while (via.pipe && read(fd, rest, sizeof rest) > 0) {
  }
  if (writer.joinable()) writer.join();
  close(fd);
  return result;
}

const Via every_way[] = {{false, 0}, {true, 1}, {true, 7}, {true, 4096}};

TEST(Source, FormatsByFirstBytes) {
  const struct {
    std::string head;
    Source::Format format;
  } rows[] = {{"\x1f\x8b", Source::Gzip},
              {"\x1f", Source::Plain},
              {"\x1f\x8c", Source::Plain},
              {"\x28\xb5\x2f\xfd", Source::Zstd},
              {"\x28\xb5\x2f", Source::Plain},
              {"\x50\x2a\x4d\x18", Source::Zstd},
              {"\x5f\x2a\x4d\x18", Source::Zstd},
              {"\x60\x2a\x4d\x18", Source::Plain},
              {std::string("\xfd\x37\x7a\x58\x5a\x00", 6), Source::Xz},
              {"\xfd\x37\x7a\x58\x5a", Source::Plain},
              {"BZh9", Source::Bzip2},
              {"BZ", Source::Plain},
              {"\x04\x22\x4d\x18", Source::Lz4},
              {"\x02\x21\x4c\x18", Source::Lz4},
              {"1700000000.15\n", Source::Plain},
              {"", Source::Plain}};
  for (const auto& row : rows) {
    EXPECT_EQ(
        Source::format_of(reinterpret_cast<const unsigned char*>(row.head.data()), row.head.size()),
        row.format)
        << row.head;
  }
}

TEST(Source, DecompressesAsTheLibrariesCompressed) {
  const std::string a = text(100000, 1), b = text(300000, 2), c = text(7, 3);
  const struct {
    const char* name;
    std::string compressed, plain;
  } rows[] = {
      {"plain", a, a},
      {"gzip", member(a), a},
      {"gzip members", member(a) + member("") + member(b) + member(c), a + b + c},
      {"gzip, every header field", member(a, 4 | 8 | 16 | 2) + member(c, 8), a + c},
      {"gzip, empty", member(""), ""},
      {"zstd", zstd(a), a},
      {"zstd frames", zstd(a) + zstd("") + zstd(b) + zstd(c), a + b + c},
      {"zstd, skippable frames", skippable(0, "index") + zstd(a) + skippable(15, "") + zstd(c),
       a + c},
      {"zstd, empty", zstd(""), ""},
  };
  for (const auto& row : rows) {
    for (const Via& via : every_way) {
      // Long reads and short ones in small blocks, then reads after a peek,
      // which takes nothing from them, in blocks that hold the first frame.
      const struct {
        size_t size, block, peek;
      } ways[] = {{1 << 20, 1 << 12, 0}, {13, 1 << 12, 0}, {4096, 1 << 16, 64}};
      for (auto [size, block, peek] : ways) {
        if (size < 100 && row.plain.size() > 200000) continue;
        Read read = read_all(row.compressed, via, size, block, peek);
        EXPECT_TRUE(read.ok) << row.name << ": " << read.error;
        EXPECT_EQ(read.peeked, row.plain.substr(0, peek)) << row.name;
        EXPECT_TRUE(read.data == row.plain)
            << row.name << " via " << via.pipe << "/" << via.chunk << ", reads of " << size;
      }
    }
  }
}

// Cut after every byte: a cut where a member or frame ends leaves a shorter
// file that is whole; any other, past the bytes that tell the format, fails
// after at most the bytes of the data and at least those of the members before
// the cut.
TEST(Source, CutShortAtEveryOffset) {
  const std::string a = text(3000, 4), b = text(5000, 5);
  const std::string gzip_a = member(a, 8), zstd_a = zstd(a), skip = skippable(1, "x");
  const struct {
    const char* name;
    std::string compressed;
    // Where each member or frame ends, and the bytes decompressed before it.
    std::vector<std::pair<size_t, std::string>> ends;
  } rows[] = {{"gzip", gzip_a + member(b), {{gzip_a.size(), a}}},
              {"zstd", zstd_a + skip + zstd(b), {{zstd_a.size(), a}, {zstd_a.size() + 9, a}}}};
  for (const auto& row : rows) {
    for (size_t cut = Source::magic_size; cut < row.compressed.size(); ++cut) {
      bool whole = false;
      std::string before;
      for (const auto& [end, decompressed] : row.ends) {
        if (cut >= end) before = decompressed;
        whole = whole || cut == end;
      }
      for (const Via& via : {every_way[0], every_way[2]}) {
        Read read = read_all(row.compressed.substr(0, cut), via);
        ASSERT_EQ(read.ok, whole) << row.name << " cut at " << cut;
        ASSERT_TRUE((a + b).starts_with(read.data) && read.data.starts_with(before))
            << row.name << " cut at " << cut << ": " << read.data.size() << " bytes";
        if (!read.ok) {
          ASSERT_EQ(read.error, std::string("truncated ") + row.name + " data") << cut;
        }
      }
    }
  }
}

// Every byte in turn with all its bits flipped must fail, but for the bytes
// that tell the format and the fields of a gzip header that nothing checks:
// its time, extra flags and system. Damage inside a member or frame may come
// to light only at its end, whose check fails, so bytes decompressed from it
// may go out before; those of the members before it go out whole.
TEST(Source, DamagedAtEveryOffset) {
  const std::string a = text(3000, 6), b = text(5000, 7);
  const std::string gzip_a = member(a), zstd_a = zstd(a), gzip_crc_a = member(a, 2);
  const struct {
    const char* name;
    std::string compressed;
    size_t second;
    std::vector<std::pair<size_t, size_t>> unchecked;
  } rows[] = {{"gzip",
               gzip_a + member(b),
               gzip_a.size(),
               {{0, 2}, {4, 10}, {gzip_a.size() + 4, gzip_a.size() + 10}}},
              // The header's CRC covers the time, extra flags and system.
              {"gzip, header with a CRC", gzip_crc_a + member(b, 2), gzip_crc_a.size(), {{0, 2}}},
              {"zstd", zstd_a + zstd(b), zstd_a.size(), {{0, 4}}}};
  for (const auto& row : rows) {
    for (size_t at = 0; at < row.compressed.size(); ++at) {
      std::string damaged = row.compressed;
      damaged[at] = static_cast<char>(~damaged[at]);
      Read read = read_all(damaged, every_way[0]);
      bool checked = true;
      for (auto [from, to] : row.unchecked) checked = checked && (at < from || at >= to);
      ASSERT_TRUE(!read.ok || !checked) << row.name << " damaged at " << at;
      ASSERT_TRUE(read.data.starts_with(at >= row.second ? a : ""))
          << row.name << " damaged at " << at;
    }
  }
}

// Open reads the first header and refuses, before anything is decoded, what
// is not read: other formats, a damaged gzip header, a zstd window beyond the
// limit, there or past skippable frames. A header cut short, or longer than a
// block, is left to the reads, which go on from where open stopped.
TEST(Source, OpenRefusesWhatIsNotRead) {
  const std::string a = text(1000, 14);
  std::string reserved = member(a), method = member(a), crc = member(a, 2);
  reserved[3] = 0x48;
  method[2] = 9;
  crc[6] = 0;
  const std::string gzip_refused = "compressed with gzip, but ";
  const std::string zstd_refused = "compressed with zstd in a window of ";
  // Rows that open takes are read whole, but for the one cut short.
  const struct {
    const char* name;
    std::string compressed;
    std::string refusal;
  } rows[] = {
      {"plain", a, ""},
      {"xz", std::string("\xfd\x37\x7a\x58\x5a\x00", 6) + a,
       "compressed with xz; decompress it first"},
      {"gzip", member(a, 4 | 8 | 16 | 2), ""},
      {"gzip, reserved flags", reserved, gzip_refused + "its header sets reserved flags (0x40)"},
      {"gzip, not deflate", method, gzip_refused + "its method is 9, not deflate (8)"},
      {"gzip, header CRC", crc, gzip_refused + "its header's CRC does not match"},
      {"gzip, header cut short", member(a, 8).substr(0, 12), ""},
      {"gzip, a name longer than a block", member(a, 8, std::string(5000, 'n')), ""},
      {"zstd", zstd(a), ""},
      {"zstd, window of 128 MiB", raw_frame(0x88, a), ""},
      {"zstd, window of 144 MiB", raw_frame(0x89, a),
       zstd_refused + "144 MiB, larger than the 128 MiB read; decompress it first (zstd -d "
                      "--memory=144MB)"},
      {"zstd, window of 2 GiB past skippable frames",
       skippable(3, "") + skippable(4, "index") + raw_frame(0xa8, a),
       zstd_refused + "2048 MiB, larger than the 128 MiB read; decompress it first (zstd -d "
                      "--memory=2048MB)"},
      {"zstd, skippable frame longer than a block", skippable(5, std::string(5000, 's')) + zstd(a),
       ""},
      {"zstd, reserved bit", std::string("\x28\xb5\x2f\xfd\x08\x88", 6) + a,
       "compressed with zstd, but its frame header is damaged ("},
  };
  for (const auto& row : rows) {
    for (const Via& via : {every_way[0], every_way[1]}) {
      Read read = read_all(row.compressed, via, 4096, 1 << 12);
      EXPECT_EQ(read.opened, row.refusal.empty()) << row.name << " via " << via.pipe;
      if (!row.refusal.empty()) {
        EXPECT_TRUE(read.error.starts_with(row.refusal)) << row.name << ": " << read.error;
      } else {
        bool cut = std::string(row.name).ends_with("cut short");
        EXPECT_EQ(read.ok, !cut) << row.name << " via " << via.pipe;
        EXPECT_TRUE(cut || read.data == a) << row.name << " via " << via.pipe;
      }
    }
  }
}

// After the first member or frame: zero bytes after the last gzip member,
// such as a tape's padding, end the data as its end would, as gzip takes them;
// any other bytes there, zero bytes before another member among them, are
// damage. A later zstd frame is read up to the window limit, as the first.
TEST(Source, AfterTheFirstMemberOrFrame) {
  const std::string a = text(3000, 15), c = text(7, 16);
  const std::string zeros(512, '\0');
  const struct {
    const char* name;
    std::string compressed;
    bool ok;
  } rows[] = {
      {"zero bytes", member(a) + member(c) + zeros, true},
      {"one zero byte", member(a) + member(c) + std::string(1, '\0'), true},
      {"zero bytes, then a member", member(a) + zeros + member(c), false},
      {"zero bytes, then other bytes", member(a) + member(c) + zeros + "x", false},
      {"other bytes", member(a) + member(c) + "garbage", false},
      {"zero bytes after a zstd frame", zstd(a) + zstd(c) + zeros, false},
      {"a later zstd window of 128 MiB", zstd(a) + raw_frame(0x88, c), true},
      {"a later zstd window of 144 MiB", zstd(a) + raw_frame(0x89, c), false},
  };
  for (const auto& row : rows) {
    for (const Via& via : every_way) {
      Read read = read_all(row.compressed, via);
      EXPECT_EQ(read.ok, row.ok) << row.name << " via " << via.pipe << "/" << via.chunk;
      EXPECT_TRUE((a + c).starts_with(read.data) && read.data.starts_with(a)) << row.name;
      EXPECT_TRUE(!row.ok || read.data == a + c) << row.name;
    }
  }
}

// A live capture, a member or a frame at a time: each one's bytes are read
// before the next is written, and the source says when a read would wait.
TEST(Source, LiveMembersAreReadAsTheyArrive) {
  const std::string parts[] = {text(1000, 9), text(70000, 10), text(10, 11)};
  for (auto compress : {+[](const std::string& s) { return member(s); },
                        +[](const std::string& s) { return zstd(s); }}) {
    int ends[2];
    if (pipe(ends) != 0) abort();
    std::mutex mutex;
    std::condition_variable read_cv;
    size_t parts_read = 0;
    bool waited_too_long = false;
    std::thread writer([&] {
      for (size_t i = 0; i < std::size(parts); ++i) {
        std::string member = compress(parts[i]);
        if (write(ends[1], member.data(), member.size()) != static_cast<ssize_t>(member.size()))
          abort();
        std::unique_lock<std::mutex> lock(mutex);
        if (!read_cv.wait_for(lock, std::chrono::seconds(20), [&] { return parts_read > i; }))
          waited_too_long = true;
      }
      close(ends[1]);
    });
    {
      Source source(ends[0], 1 << 16);
      source.open();
      for (const std::string& part : parts) {
        std::string got;
        unsigned char buffer[4096];
        while (got.size() < part.size()) {
          ssize_t n = source.read(buffer, std::min(sizeof buffer, part.size() - got.size()));
          ASSERT_GT(n, 0);
          got.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
        }
        EXPECT_TRUE(got == part);
        // Nothing more has been written until the writer hears of this.
        EXPECT_FALSE(source.wait(0));
        std::lock_guard<std::mutex> lock(mutex);
        ++parts_read;
        read_cv.notify_one();
      }
      unsigned char byte;
      EXPECT_EQ(source.read(&byte, 1), 0);
    }
    writer.join();
    close(ends[0]);
    EXPECT_FALSE(waited_too_long);
  }
}

// A reader that goes before the input ends, while the decompressing thread
// waits for a pipe that stays open, ends all the same.
TEST(Source, LeavesAPipeThatStaysOpen) {
  const std::string a = text(1000, 12), b = text(200000, 13);
  for (const std::string& compressed :
       {member(a) + member(b).substr(0, 100), zstd(a) + zstd(b).substr(0, 100)}) {
    int ends[2];
    if (pipe(ends) != 0) abort();
    if (write(ends[1], compressed.data(), compressed.size()) !=
        static_cast<ssize_t>(compressed.size()))
      abort();
    {
      Source source(ends[0], 1 << 12);
      source.open();
      unsigned char buffer[100];
      EXPECT_EQ(source.read(buffer, sizeof buffer), 100);
    }
    close(ends[1]);
    close(ends[0]);
  }
}

}  // namespace

}  // namespace caplat
