// Reading the entries of a .zip package held in memory, within limits, and
// writing a new package that copies untouched entries as they are (still
// compressed) and stores replaced or added ones freshly deflated.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "link/book/book_limits.h"

struct zip;

namespace tersolv::link::book {

class ZipArchive {
 public:
  // LinkError (kFileError) naming `displayName` when `bytes` is no readable
  // zip archive, holds encrypted entries or more entries than allowed.
  ZipArchive(std::string bytes, const std::string& displayName, const Limits& limits);
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  bool Has(const std::string& name) const;
  // The unpacked entry; LinkError when missing, damaged or beyond the limits
  // (one entry, and everything read from this archive).
  std::string Read(const std::string& name);

  // A new archive: every entry in the original order, except those in
  // `removed`, with the contents of `replaced` where given; entries of
  // `replaced` that did not exist are added at the end.
  std::string Write(const std::map<std::string, std::string>& replaced, const std::set<std::string>& removed);

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

namespace tersolv::link::book {

// A new zip package holding `entries` (name, contents) in this order.
std::string WriteNewZip(const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace tersolv::link::book
