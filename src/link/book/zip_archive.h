// Reading the entries of a .zip package held in memory, within limits, and
// writing a new package that copies untouched entries as they are (still
// compressed) and stores replaced or added ones freshly deflated.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "link/book/book_limits.h"
#include <string>

struct zip;
struct zip_file;

namespace tersolv::link::book {

// The deflate level of a new entry of `size` bytes: 6 (as most producers)
// for small parts, 1 for large ones.
std::uint32_t DeflateLevelFor(std::size_t size);

class ZipArchive {
 public:
  // LinkError (kFileError) naming `displayName` when `bytes` is no readable
  // zip archive, holds encrypted entries or more entries than allowed.
  ZipArchive(std::string bytes, const std::string& displayName, const Limits& limits);
  ZipArchive(std::string_view bytes, const std::string& displayName, const Limits& limits)
      : ZipArchive(std::string(bytes), displayName, limits) {}
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  bool Has(const std::string& name) const;
  // The unpacked entry; LinkError when missing, damaged or beyond the limits
  // (one entry, and everything read from this archive).
  std::string Read(const std::string& name);

  // One entry read in pieces, within the same limits (a big part need not
  // be held whole).
  class Entry {
   public:
    Entry(ZipArchive& zip, const std::string& name);
    ~Entry();
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
    // Appends up to `count` further bytes to `out`; false once the entry
    // has ended (nothing appended). LinkError as Read.
    bool ReadMore(std::string& out, std::size_t count);
    // The unpacked size the directory gives (it may understate it); 0 if none.
    std::uint64_t Size() const { return size_; }

   private:
    [[noreturn]] void Fail(const std::string& why);
    ZipArchive& zip_;
    std::string name_;
    ::zip_file* file_ = nullptr;
    std::uint64_t size_ = 0, limit_ = 0, done_ = 0;
  };

  // A part produced in pieces: appends its next piece (about a megabyte) to
  // `out`; false once the part is complete.
  using PartWriter = std::function<bool(std::string& out)>;

  // A new archive: every entry in the original order, except those in
  // `removed`, with the contents of `replaced` or `written` where given;
  // entries of those that did not exist are added at the end. A written
  // part is never held whole: its pieces are deflated as they come, two at
  // a time on two threads.
  std::string Write(const std::map<std::string, std::string>& replaced, const std::set<std::string>& removed,
                   const std::map<std::string, PartWriter>& written = {});

 private:
  void ReadDirectory();
  std::string bytes_;
  std::string displayName_;
  Limits limits_;
  std::uint64_t unpacked_ = 0;
  struct zip* archive_ = nullptr;
  std::map<std::string, std::uint64_t> index_;
  std::vector<std::string> names_;
};

}  // namespace tersolv::link::book
