#include "link/book/zip_archive.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <memory>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>

#include "link/link.h"

namespace tersolv::link::book {
namespace {

// Deflate level of written entries: 6 (as most producers) for small parts,
// 1 for large ones, where 6 would take several times as long for files
// about a third larger.
constexpr zip_uint32_t kDeflateLevel = 6;
constexpr zip_uint32_t kLargeDeflateLevel = 1;
constexpr std::size_t kLargePart = 1u << 20;

// A part deflated by DeflatePieces: raw deflate data, the CRC-32 and size
// of the text.
struct Deflated {
  std::string Data;
  std::uint32_t Crc = 0;
  std::uint64_t Size = 0;
};

// One deflater, reused for piece after piece.
class Deflater {
 public:
  explicit Deflater(int level) {
    if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw std::bad_alloc();
  }
  ~Deflater() { deflateEnd(&stream_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // `piece` as a run of deflate blocks that continues the text ending in
  // `dictionary`: flushed to a byte boundary, or the stream's last blocks;
  // the first `used` bytes of `out`. False when zlib fails.
  bool Run(std::string_view dictionary, std::string_view piece, bool last, std::vector<Bytef>& out, std::size_t& used) {
    if (deflateReset(&stream_) != Z_OK) return false;
    if (!dictionary.empty() &&
        deflateSetDictionary(&stream_, reinterpret_cast<const Bytef*>(dictionary.data()),
                             static_cast<uInt>(dictionary.size())) != Z_OK)
      return false;
    out.resize(deflateBound(&stream_, static_cast<uLong>(piece.size())) + 64);
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
    stream_.avail_in = static_cast<uInt>(piece.size());
    stream_.next_out = out.data();
    stream_.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream_, last ? Z_FINISH : Z_SYNC_FLUSH);
    if (result != (last ? Z_STREAM_END : Z_OK) || stream_.avail_in != 0 || stream_.avail_out == 0) return false;
    used = out.size() - stream_.avail_out;
    return true;
  }

 private:
  z_stream stream_{};
};

// Deflates a written part. Pieces are compressed two at a time, the second
// on another thread, each with the 32 KB of text before it as dictionary:
// one deflate stream, about as small as a single pass would give.
Deflated DeflatePieces(const ZipArchive::PartWriter& next) {
  static constexpr std::size_t kWindow = 32768;
  // The last kWindow bytes of the text a + b, into `out`.
  const auto tail = [](std::string& out, std::string_view a, std::string_view b) {
    const std::size_t fromA = std::min(a.size(), kWindow - std::min(b.size(), kWindow));
    out.assign(a.substr(a.size() - fromA)).append(b.substr(b.size() - std::min(b.size(), kWindow)));
  };
  Deflated result;
  std::string piece[2], dictionary, before1, next1;
  std::vector<Bytef> out[2];
  std::size_t used[2] = {0, 0};
  std::unique_ptr<Deflater> deflater[2];
  bool done = false;
  while (!done) {
    piece[0].clear();
    piece[1].clear();
    done = !next(piece[0]) || !next(piece[1]);
    if (!deflater[0]) {  // a part that fits one piece is small: deflated as small parts are
      const int level = static_cast<int>(DeflateLevelFor(done ? piece[0].size() + piece[1].size() : kLargePart));
      deflater[0] = std::make_unique<Deflater>(level);
      deflater[1] = std::make_unique<Deflater>(level);
      // Room that is only touched as it is written (a sheet deflates to about a third).
      if (!done) result.Data.reserve(std::size_t{32} << 20);
    }
    tail(before1, dictionary, piece[0]);  // the text before the second piece
    const bool second = !piece[1].empty() || !done;
    bool ok[2] = {true, true};
    const auto run = [&](int k) {
      const std::string_view before = k == 0 ? std::string_view(dictionary) : before1;
      ok[k] = deflater[k]->Run(before, piece[k], done && (k == 1 || !second), out[k], used[k]);
    };
    if (second) {
      std::thread helper;
      try {
        helper = std::thread(run, 1);
      } catch (const std::system_error&) {
        run(1);  // no thread to be had: one after the other
      }
      run(0);
      if (helper.joinable()) helper.join();
    } else {
      run(0);
      used[1] = 0;
    }
    if (!ok[0] || !ok[1]) throw LinkError(kFileError, "Cannot compress a part of the package");
    for (int k = 0; k < 2; ++k) {
      if (result.Data.size() + used[k] > result.Data.capacity())
        result.Data.reserve(std::max(result.Data.capacity() * 2, result.Data.size() + used[k]));
      result.Data.append(std::string_view(reinterpret_cast<const char*>(out[k].data()), used[k]));
      result.Crc = static_cast<std::uint32_t>(
          crc32(result.Crc, reinterpret_cast<const Bytef*>(piece[k].data()), static_cast<uInt>(piece[k].size())));
      result.Size += piece[k].size();
    }
    tail(next1, before1, piece[1]);  // and before the next batch
    dictionary.swap(next1);
  }
  return result;
}

// Deflated data being handed to libzip: where it has got to.
struct DeflatedPart {
  DeflatedPart() { zip_error_init(&Error); }
  ~DeflatedPart() { zip_error_fini(&Error); }
  DeflatedPart(const DeflatedPart&) = delete;
  DeflatedPart& operator=(const DeflatedPart&) = delete;
  Deflated Data;
  std::size_t Offset = 0;
  zip_error_t Error;
};

// A libzip source that hands over deflated data as it is, with its CRC and
// sizes, so that libzip stores it without compressing it again.
zip_int64_t DeflatedSource(void* user, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto& part = *static_cast<DeflatedPart*>(user);
  switch (command) {
    case ZIP_SOURCE_OPEN:
      part.Offset = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      const std::size_t n = static_cast<std::size_t>(std::min<zip_uint64_t>(length, part.Data.Data.size() - part.Offset));
      std::memcpy(data, part.Data.Data.data() + part.Offset, n);
      part.Offset += n;
      return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = static_cast<zip_stat_t*>(data);
      zip_stat_init(st);
      st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
      st->size = part.Data.Size;
      st->comp_size = part.Data.Data.size();
      st->comp_method = ZIP_CM_DEFLATE;
      st->crc = part.Data.Crc;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&part.Error, data, length);
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
      zip_error_set(&part.Error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

// A new archive as libzip writes it, straight into a string (the reserved
// room is only touched as it is written).
struct StringSink {
  StringSink() { zip_error_init(&Error); }
  ~StringSink() { zip_error_fini(&Error); }
  StringSink(const StringSink&) = delete;
  StringSink& operator=(const StringSink&) = delete;
  std::string Data;
  std::size_t Position = 0, ReadPosition = 0;
  zip_error_t Error;
};

zip_int64_t StringSinkSource(void* user, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto& sink = *static_cast<StringSink*>(user);
  switch (command) {
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                            ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE,
                                            ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_SEEK_WRITE,
                                            ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);
    case ZIP_SOURCE_STAT: {
      auto* st = static_cast<zip_stat_t*>(data);
      zip_stat_init(st);
      st->valid = ZIP_STAT_SIZE;
      st->size = sink.Data.size();
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_OPEN:
      sink.ReadPosition = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      const std::size_t n = static_cast<std::size_t>(std::min<zip_uint64_t>(length, sink.Data.size() - sink.ReadPosition));
      std::memcpy(data, sink.Data.data() + sink.ReadPosition, n);
      sink.ReadPosition += n;
      return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_SEEK: {
      const zip_int64_t to = zip_source_seek_compute_offset(sink.ReadPosition, sink.Data.size(), data, length, &sink.Error);
      if (to < 0) return -1;
      sink.ReadPosition = static_cast<std::size_t>(to);
      return 0;
    }
    case ZIP_SOURCE_TELL:
      return static_cast<zip_int64_t>(sink.ReadPosition);
    case ZIP_SOURCE_BEGIN_WRITE:
    case ZIP_SOURCE_ROLLBACK_WRITE:
    case ZIP_SOURCE_REMOVE:
      sink.Data.clear();
      sink.Position = 0;
      return 0;
    case ZIP_SOURCE_WRITE: {
      const std::size_t n = static_cast<std::size_t>(length);
      if (sink.Position + n > sink.Data.size()) sink.Data.resize(sink.Position + n);
      std::memcpy(sink.Data.data() + sink.Position, data, n);
      sink.Position += n;
      return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_SEEK_WRITE: {
      const zip_int64_t to = zip_source_seek_compute_offset(sink.Position, sink.Data.size(), data, length, &sink.Error);
      if (to < 0) return -1;
      sink.Position = static_cast<std::size_t>(to);
      return 0;
    }
    case ZIP_SOURCE_TELL_WRITE:
      return static_cast<zip_int64_t>(sink.Position);
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&sink.Error, data, length);
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_COMMIT_WRITE:
    case ZIP_SOURCE_FREE:
      return 0;
    default:
      zip_error_set(&sink.Error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

std::string ZipErrorText(zip_error_t* error) {
  const char* text = zip_error_strerror(error);
  return text ? text : "unknown zip error";
}

}  // namespace

std::uint32_t DeflateLevelFor(std::size_t size) { return size >= kLargePart ? kLargeDeflateLevel : kDeflateLevel; }

ZipArchive::ZipArchive(std::string bytes, const std::string& displayName, const Limits& limits)
    : bytes_(std::move(bytes)), displayName_(displayName), limits_(limits) {
  const auto fail = [&](const std::string& why) {
    throw LinkError(kFileError, "\"" + displayName_ + "\" is not a readable .xlsx workbook: " + why);
  };
  if (bytes_.size() >= 8 && std::memcmp(bytes_.data(), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0)
    fail("it is either password-protected (encrypted) or in the old binary .xls format");
  if (bytes_.size() < 4 || std::string_view(bytes_).substr(0, 2) != "PK") fail("it is not a zip package");
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes_.data(), bytes_.size(), 0, &error);
  if (!source) fail(ZipErrorText(&error));
  archive_ = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (!archive_) {
    zip_source_free(source);
    const std::string why = ZipErrorText(&error);
    zip_error_fini(&error);
    fail("damaged or truncated zip package (" + why + ")");
  }
  zip_error_fini(&error);
  try {
    ReadDirectory();
  } catch (...) {
    zip_discard(archive_);  // the destructor does not run for a constructor that throws
    archive_ = nullptr;
    throw;
  }
}

void ZipArchive::ReadDirectory() {
  const auto fail = [&](const std::string& why) {
    throw LinkError(kFileError, "\"" + displayName_ + "\" is not a readable .xlsx workbook: " + why);
  };
  const zip_int64_t count = zip_get_num_entries(archive_, 0);
  if (count < 0 || static_cast<std::uint64_t>(count) > limits_.MaxEntries)
    fail("it has " + std::to_string(count) + " entries, more than " + std::to_string(limits_.MaxEntries));
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(archive_, static_cast<zip_uint64_t>(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
      fail("an entry of the zip directory cannot be read");
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
      fail("it is encrypted");
    if (!index_.emplace(st.name, static_cast<std::uint64_t>(i)).second)
      fail("it has two entries named " + std::string(st.name));
    names_.emplace_back(st.name);
  }
}

ZipArchive::~ZipArchive() {
  if (archive_) zip_discard(archive_);
}

bool ZipArchive::Has(const std::string& name) const { return index_.count(name) != 0; }

ZipArchive::Entry::Entry(ZipArchive& zip, const std::string& name) : zip_(zip), name_(name) {
  auto it = zip_.index_.find(name);
  if (it == zip_.index_.end()) Fail("is missing");
  zip_stat_t st;
  if (zip_stat_index(zip_.archive_, it->second, 0, &st) != 0) Fail("cannot be read");
  limit_ = std::min(zip_.limits_.MaxPartBytes, zip_.limits_.MaxUnpackedBytes - zip_.unpacked_);
  size_ = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
  if (size_ > limit_)
    Fail("unpacks to " + std::to_string(size_) + " bytes, more than the " + std::to_string(limit_) +
         " allowed (a damaged or hostile file?)");
  file_ = zip_fopen_index(zip_.archive_, it->second, 0);
  if (!file_) Fail(std::string("cannot be unpacked: ") + zip_strerror(zip_.archive_));
}

ZipArchive::Entry::~Entry() {
  if (file_) zip_fclose(file_);
}

void ZipArchive::Entry::Fail(const std::string& why) {
  throw LinkError(kFileError, "\"" + zip_.displayName_ + "\": part " + name_ + " " + why);
}

bool ZipArchive::Entry::ReadMore(std::string& out, std::size_t count) {
  if (!file_) return false;
  // One byte past the limit shows an entry larger than the directory says.
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count, limit_ - done_ + 1));
  const std::size_t old = out.size();
  out.resize(old + want);
  const zip_int64_t n = zip_fread(file_, out.data() + old, want);
  out.resize(old + static_cast<std::size_t>(std::max<zip_int64_t>(n, 0)));
  if (n < 0) Fail("is damaged (" + std::string(zip_file_strerror(file_)) + ")");
  done_ += static_cast<std::uint64_t>(n);
  zip_.unpacked_ += static_cast<std::uint64_t>(n);
  if (done_ > limit_)
    Fail("unpacks to more than the " + std::to_string(limit_) + " bytes allowed (a damaged or hostile file?)");
  if (n > 0) return true;
  const int closed = zip_fclose(file_);
  file_ = nullptr;
  if (closed != 0) Fail("is damaged (checksum)");
  return false;
}

std::string ZipArchive::Read(const std::string& name) {
  Entry entry(*this, name);
  std::string data;
  data.reserve(static_cast<std::size_t>(entry.Size()));
  while (entry.ReadMore(data, std::max<std::size_t>(65536, data.capacity() - data.size()))) {
  }
  return data;
}

std::string ZipArchive::Write(const std::map<std::string, std::string>& replaced, const std::set<std::string>& removed,
                              const std::map<std::string, PartWriter>& written) {
  // Written parts deflated first; the sources refer to them until zip_close.
  std::map<std::string, DeflatedPart> deflated;
  std::uint64_t estimate = bytes_.size() + 65536;
  for (const auto& [name, writer] : written) {
    deflated[name].Data = DeflatePieces(writer);
    estimate += deflated[name].Data.Data.size();
  }
  for (const auto& [name, data] : replaced) estimate += data.size();
  const auto fail = [&](const std::string& why) {
    throw LinkError(kFileError, "Cannot write the package of \"" + displayName_ + "\": " + why);
  };
  StringSink sink;
  sink.Data.reserve(static_cast<std::size_t>(estimate));
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* target = zip_source_function_create(StringSinkSource, &sink, &error);
  if (!target) fail(ZipErrorText(&error));
  zip_t* out = zip_open_from_source(target, ZIP_TRUNCATE, &error);
  if (!out) {
    zip_source_free(target);
    fail(ZipErrorText(&error));
  }
  const auto abandon = [&](const std::string& why) {
    zip_discard(out);
    fail(why);
  };
  const auto addBuffer = [&](const std::string& name, const std::string& data) {
    zip_source_t* source = zip_source_buffer(out, data.data(), data.size(), 0);
    if (!source) abandon(zip_strerror(out));
    const zip_int64_t index = zip_file_add(out, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      abandon(zip_strerror(out));
    }
    zip_set_file_compression(out, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, DeflateLevelFor(data.size()));
  };
  const auto addDeflated = [&](const std::string& name, DeflatedPart& part) {
    zip_source_t* source = zip_source_function(out, DeflatedSource, &part);
    if (!source) abandon(zip_strerror(out));
    if (zip_file_add(out, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(source);
      abandon(zip_strerror(out));
    }
  };
  for (const std::string& name : names_) {
    if (removed.count(name)) continue;
    if (auto r = replaced.find(name); r != replaced.end()) {
      addBuffer(name, r->second);
      continue;
    }
    if (auto d = deflated.find(name); d != deflated.end()) {
      addDeflated(name, d->second);
      continue;
    }
    // Whole entry from the original archive: copied without unpacking.
    zip_source_t* source = zip_source_zip(out, archive_, index_.at(name), 0, 0, -1);
    if (!source) abandon(zip_strerror(out));
    if (zip_file_add(out, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(source);
      abandon(zip_strerror(out));
    }
  }
  for (const auto& [name, data] : replaced)
    if (!index_.count(name)) addBuffer(name, data);
  for (auto& [name, part] : deflated)
    if (!index_.count(name)) addDeflated(name, part);
  if (zip_close(out) != 0) abandon(zip_strerror(out));
  return std::move(sink.Data);
}

}  // namespace tersolv::link::book
