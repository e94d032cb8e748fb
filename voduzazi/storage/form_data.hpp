// FormData: a simple "multipart/form-data" builder whose parts are all in memory and whose body
// is rendered in one go.
//
//   FormData form("boundary-1");
//   form.append({.name = "avatar", .data = png, .fileName = "me.png", .contentType = "image/png"});
//   request.headers.set(HTTPField::Name::contentType, form.contentType());
//   request.body = form.data();
//
// Distinct objects: safe; shared objects: unsafe.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/helpers/data.hpp"

namespace voduzazi::storage {

class FormData {
 public:
  struct File {
    std::string name;  // the form field
    Data data;
    std::optional<std::string> fileName;
    std::optional<std::string> contentType;

    friend bool operator==(const File&, const File&) = default;
  };

  explicit FormData(std::string boundary) : boundary_(std::move(boundary)) {}

  void append(File file) { files_.push_back(std::move(file)); }
  const std::vector<File>& files() const noexcept { return files_; }
  const std::string& boundary() const noexcept { return boundary_; }
  std::string contentType() const { return "multipart/form-data; boundary=" + boundary_; }

  // Each part's data followed by CRLF, then the closing delimiter. A double quote in a file
  // name is written as "_"; CR and LF in names, and double quotes in field names, are written
  // percent-encoded so that no text can add a header line.
  Data data() const;

 private:
  std::vector<File> files_;
  std::string boundary_;
};

}  // namespace voduzazi::storage

// A hash consistent with ==: every field in declared order.
template <>
struct std::hash<voduzazi::storage::FormData::File> {
  std::size_t operator()(const voduzazi::storage::FormData::File& file) const;
};
