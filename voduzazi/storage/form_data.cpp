#include "voduzazi/storage/form_data.hpp"

#include <algorithm>

#include "voduzazi/storage/detail/record_hash.hpp"
#include "voduzazi/storage/multipart_form_data.hpp"

namespace voduzazi::storage {

Data FormData::data() const {
  Data body;
  for (const File& file : files_) {
    std::optional<std::string> fileName = file.fileName;
    if (fileName) std::replace(fileName->begin(), fileName->end(), '"', '_');
    body += "--" + boundary_ + "\r\n";
    body.append(encodeHeaders(partHeaders(file.name, fileName, file.contentType)))
        .append(file.data)
        .append("\r\n");
  }
  return body + "--" + boundary_ + "--\r\n";
}

}  // namespace voduzazi::storage

std::size_t std::hash<voduzazi::storage::FormData::File>::operator()(
    const voduzazi::storage::FormData::File& file) const {
  return voduzazi::storage::detail::RecordHash()
      .add(file.name)
      .add(file.data)
      .add(file.fileName)
      .add(file.contentType)
      .value();
}
