#include "link/book/zip_archive.h"

#include <zip.h>

#include <algorithm>
#include <cstring>

#include "link/link.h"

namespace tersolv::link::book {
namespace {

// Deflate level of written entries: 6 (as most producers) for small parts,
// 1 for large ones, where 6 would take several times as long for files
// about a third larger.
constexpr zip_uint32_t kDeflateLevel = 6;
constexpr zip_uint32_t kLargeDeflateLevel = 1;
constexpr std::size_t kLargePart = 1u << 20;
zip_uint32_t LevelFor(std::size_t size) { return size >= kLargePart ? kLargeDeflateLevel : kDeflateLevel; }

std::string ZipErrorText(zip_error_t* error) {
  const char* text = zip_error_strerror(error);
  return text ? text : "unknown zip error";
}

}  // namespace

ZipArchive::ZipArchive(std::string bytes, const std::string& displayName, const Limits& limits)
    : bytes_(std::move(bytes)), displayName_(displayName), limits_(limits) {
  const auto fail = [&](const std::string& why) {
    throw LinkError(kFileError, "\"" + displayName_ + "\" is not a readable .xlsx workbook: " + why);
  };
  if (bytes_.size() >= 8 && std::memcmp(bytes_.data(), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0)
    fail("it is either password-protected (encrypted) or in the old binary .xls format");
  if (bytes_.size() < 4 || bytes_.compare(0, 2, "PK") != 0) fail("it is not a zip package");
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

std::string ZipArchive::Write(const std::map<std::string, std::string>& replaced,
                              const std::set<std::string>& removed) {
  const auto fail = [&](const std::string& why) {
    throw LinkError(kFileError, "Cannot write the package of \"" + displayName_ + "\": " + why);
  };
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* sink = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (!sink) fail(ZipErrorText(&error));
  zip_source_keep(sink);
  zip_t* out = zip_open_from_source(sink, ZIP_TRUNCATE, &error);
  if (!out) {
    zip_source_free(sink);
    fail(ZipErrorText(&error));
  }
  const auto abandon = [&](const std::string& why) {
    zip_discard(out);
    zip_source_free(sink);
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
    zip_set_file_compression(out, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, LevelFor(data.size()));
  };
  for (const std::string& name : names_) {
    if (removed.count(name)) continue;
    if (auto r = replaced.find(name); r != replaced.end()) {
      addBuffer(name, r->second);
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
  if (zip_close(out) != 0) abandon(zip_strerror(out));

  std::string bytes;
  zip_stat_t st;
  if (zip_source_stat(sink, &st) != 0 || zip_source_open(sink) != 0) {
    zip_source_free(sink);
    fail("cannot read the new package back");
  }
  bytes.resize(static_cast<std::size_t>(st.size));
  const zip_int64_t n = zip_source_read(sink, bytes.data(), bytes.size());
  zip_source_close(sink);
  zip_source_free(sink);
  if (n < 0 || static_cast<std::size_t>(n) != bytes.size()) fail("cannot read the new package back");
  return bytes;
}

}  // namespace tersolv::link::book

namespace tersolv::link::book {

std::string WriteNewZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* sink = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_source_keep(sink);
  zip_t* out = zip_open_from_source(sink, ZIP_TRUNCATE, &error);
  if (!out) {
    zip_source_free(sink);
    throw LinkError(kFileError, "Cannot create a zip package: " + ZipErrorText(&error));
  }
  for (const auto& [name, data] : entries) {
    zip_source_t* source = zip_source_buffer(out, data.data(), data.size(), 0);
    const zip_int64_t index = source ? zip_file_add(out, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
    if (index < 0) {
      if (source) zip_source_free(source);
      zip_discard(out);
      zip_source_free(sink);
      throw LinkError(kFileError, "Cannot create a zip package");
    }
    zip_set_file_compression(out, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, LevelFor(data.size()));
  }
  if (zip_close(out) != 0) {
    zip_discard(out);
    zip_source_free(sink);
    throw LinkError(kFileError, "Cannot create a zip package");
  }
  zip_stat_t st;
  std::string bytes;
  if (zip_source_stat(sink, &st) == 0 && zip_source_open(sink) == 0) {
    bytes.resize(static_cast<std::size_t>(st.size));
    const zip_int64_t n = zip_source_read(sink, bytes.data(), bytes.size());
    zip_source_close(sink);
    if (n < 0 || static_cast<std::size_t>(n) != bytes.size()) bytes.clear();
  }
  zip_source_free(sink);
  if (bytes.empty()) throw LinkError(kFileError, "Cannot create a zip package");
  return bytes;
}

}  // namespace tersolv::link::book
