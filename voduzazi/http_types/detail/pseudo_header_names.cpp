#include "voduzazi/http_types/detail/pseudo_header_names.hpp"

namespace voduzazi::http_types::detail {
namespace {

const HTTPField::Name& pseudoName(const char* name) {
  // Leaked on purpose: names stay valid for destructors that run at exit.
  return *new HTTPField::Name(*HTTPField::Name::fromParsed(name));
}

}  // namespace

const HTTPField::Name& methodName() {
  static const HTTPField::Name& name = pseudoName(":method");
  return name;
}

const HTTPField::Name& schemeName() {
  static const HTTPField::Name& name = pseudoName(":scheme");
  return name;
}

const HTTPField::Name& authorityName() {
  static const HTTPField::Name& name = pseudoName(":authority");
  return name;
}

const HTTPField::Name& pathName() {
  static const HTTPField::Name& name = pseudoName(":path");
  return name;
}

const HTTPField::Name& protocolName() {
  static const HTTPField::Name& name = pseudoName(":protocol");
  return name;
}

const HTTPField::Name& statusName() {
  static const HTTPField::Name& name = pseudoName(":status");
  return name;
}

std::string storedValueText(const HTTPField& field) {
  return field.withUnsafeBytesOfValue([](std::string_view octets) {
    return ISOLatin1String::fromOctets(std::string(octets)).storedText();
  });
}

}  // namespace voduzazi::http_types::detail
