// The SDK's helpers on HTTPFields: conversion from and to string dictionaries, merging, the
// list-valued update of one header, and the names of the SDK's own headers.
//
//   HTTPFields headers = makeHTTPFields({{"apikey", key}, {"X-Client-Info", info}});
//   merge(headers, overrides);                              // the other side wins per name
//   appendOrUpdate(headers, HTTPField::Name("Prefer"), "count=exact");
//   headers.set(field_names::xClientInfo, "functions-cpp/2.33.2");
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "voduzazi/http_types/http_field.hpp"
#include "voduzazi/http_types/http_fields.hpp"

namespace voduzazi {

using http_types::HTTPField;
using http_types::HTTPFields;

namespace field_names {
inline const HTTPField::Name xClientInfo{"X-Client-Info"};
inline const HTTPField::Name xRegion{"x-region"};
inline const HTTPField::Name xRelayError{"x-relay-error"};
}  // namespace field_names

using HeaderDictionary = std::map<std::string, std::string>;

// One field per entry, in the dictionary's order. Throws http_types::InvalidFieldNameError for a
// key that is not a valid field name.
HTTPFields makeHTTPFields(const HeaderDictionary& dictionary);

// The fields by raw name; values of fields that share a raw name are joined with that name's
// separator (", ", or "; " for Cookie), so no value is lost.
HeaderDictionary dictionary(const HTTPFields& fields);

// For each field of `other`, in order, sets that name to the field's value: the other side wins
// for every name it holds (its last value, when it holds the name more than once).
void merge(HTTPFields& fields, const HTTPFields& other);
HTTPFields merging(const HTTPFields& fields, const HTTPFields& other);

// Updates a header whose value is a `separator`-joined list of key=value items: replaces the
// first item with the key of `value`, else appends `value`; sets the header when absent.
void appendOrUpdate(HTTPFields& fields, const HTTPField::Name& name, std::string_view value,
                    std::string_view separator = ",");

}  // namespace voduzazi
