// JSON coding of UncheckedSendable: exactly the wrapped value's own form, with no extra nesting.
//
//   boost::json::value json = boost::json::value_from(UncheckedSendable<int>(5));   // 5
//   auto back = boost::json::value_to<UncheckedSendable<int>>(json);
#pragma once

#include <boost/json/value_from.hpp>
#include <boost/json/value_to.hpp>

#include "voduzazi/concurrency/unchecked_sendable.hpp"

namespace voduzazi {

template <class Value>
void tag_invoke(boost::json::value_from_tag, boost::json::value& json,
                const UncheckedSendable<Value>& wrapper) {
  json = boost::json::value_from(wrapper.value);
}

template <class Value>
UncheckedSendable<Value> tag_invoke(boost::json::value_to_tag<UncheckedSendable<Value>>,
                                    const boost::json::value& json) {
  return UncheckedSendable<Value>(boost::json::value_to<Value>(json));
}

}  // namespace voduzazi
