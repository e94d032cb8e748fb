#include <gtest/gtest.h>

#include "voduzazi/http_types/http_fields.hpp"

namespace voduzazi::http_types {
namespace {

using Name = HTTPField::Name;
using Strings = std::vector<std::string>;

Strings descriptions(const HTTPFields& fields) {
  Strings result;
  for (const HTTPField& field : fields) result.push_back(field.description());
  return result;
}

TEST(HTTPFieldsByName, GetJoinsTheValuesOfAName) {
  const HTTPFields fields{{Name::accept, "a"}, {Name::contentType, "b"}, {Name::accept, "c"}};
  EXPECT_EQ(fields.get(Name::accept), "a, c");
  EXPECT_EQ(fields.get(Name("content-type")), "b");
  EXPECT_EQ((HTTPFields{{Name::accept, ""}, {Name::accept, ""}}).get(Name::accept), ", ");
}

TEST(HTTPFieldsByName, AbsentNameGivesNothing) {
  const HTTPFields fields{{Name::accept, "a"}};
  EXPECT_FALSE(fields.get(Name::host).has_value());
  EXPECT_TRUE(fields.values(Name::host).empty());
  EXPECT_TRUE(fields.fields(Name::host).empty());
  EXPECT_FALSE(fields.contains(Name::host));
}

TEST(HTTPFieldsByName, SetKeepsTheFirstPositionAndDropsSurplusFields) {
  HTTPFields fields{{Name::accept, "a"}, {Name::contentType, "b"}, {Name::accept, "c"}};
  fields.set(Name::accept, "x");
  EXPECT_EQ(descriptions(fields), (Strings{"Accept: x", "Content-Type: b"}));
}

TEST(HTTPFieldsByName, SetAppendsAnAbsentName) {
  HTTPFields fields{{Name::accept, "a"}, {Name::contentType, "b"}};
  fields.set(Name::host, "h");
  EXPECT_EQ(descriptions(fields), (Strings{"Accept: a", "Content-Type: b", "Host: h"}));
}

TEST(HTTPFieldsByName, SetNothingRemovesEveryFieldOfTheName) {
  HTTPFields fields{{Name::accept, "a"}, {Name::host, "h"}, {Name::accept, "c"}};
  fields.set(Name::accept, std::nullopt);
  EXPECT_EQ(descriptions(fields), (Strings{"Host: h"}));
  fields.set(Name::accept, std::nullopt);
  EXPECT_EQ(descriptions(fields), (Strings{"Host: h"}));
}

TEST(HTTPFieldsByName, NamesDifferingInCaseAddressTheSameFields) {
  HTTPFields fields{{Name("Content-Type"), "a"}};
  fields.set(Name("content-type"), "b");
  EXPECT_EQ(descriptions(fields), (Strings{"content-type: b"}));
  EXPECT_EQ(fields.get(Name("CONTENT-TYPE")), "b");
}

TEST(HTTPFieldsByName, SetCleansValues) {
  HTTPFields fields;
  fields.set(Name::authorization, "Bearer t\r\nInjected: yes");
  EXPECT_EQ(fields.get(Name::authorization), "Bearer t  Injected: yes");
}

TEST(HTTPFieldsByName, CookieValuesSplitIntoFieldsAndJoinBack) {
  HTTPFields fields;
  fields.set(Name::cookie, "a=1; b=2");
  EXPECT_EQ(fields.values(Name::cookie), (Strings{"a=1", "b=2"}));
  EXPECT_EQ(fields.get(Name::cookie), "a=1; b=2");

  fields.set(Name::cookie, "a=1;b=2");
  EXPECT_EQ(fields.values(Name::cookie), (Strings{"a=1;b=2"}));
  fields.set(Name::cookie, "a=1; ");
  EXPECT_EQ(fields.values(Name::cookie), (Strings{"a=1", ""}));
  fields.set(Name::cookie, "");
  EXPECT_EQ(fields.values(Name::cookie), (Strings{""}));
}

class CookieFields : public testing::Test {
 protected:
  // Cookie fields at positions 1, 4 and 6.
  CookieFields()
      : fields_{{Name("a"), "0"},     {Name::cookie, "c1"}, {Name("b"), "2"},
                {Name("c"), "3"},     {Name::cookie, "c2"}, {Name("d"), "5"},
                {Name::cookie, "c3"}, {Name("e"), "7"}} {}

  Strings cookiePositions() const {
    Strings positions;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      if (fields_[i].name() == Name::cookie) {
        positions.push_back(std::to_string(i) + "=" + fields_[i].value());
      }
    }
    return positions;
  }

  HTTPFields fields_;
};

TEST_F(CookieFields, AsManyPiecesOverwriteInPlace) {
  fields_.set(Name::cookie, "x; y; z");
  EXPECT_EQ(cookiePositions(), (Strings{"1=x", "4=y", "6=z"}));
}

TEST_F(CookieFields, FewerPiecesRemoveTheLastOldField) {
  fields_.set(Name::cookie, "x; y");
  EXPECT_EQ(cookiePositions(), (Strings{"1=x", "4=y"}));
  EXPECT_EQ(fields_.size(), 7U);
  EXPECT_EQ(fields_[6].description(), "e: 7");
}

TEST_F(CookieFields, MorePiecesAppendAtTheEnd) {
  fields_.set(Name::cookie, "w; x; y; z");
  EXPECT_EQ(cookiePositions(), (Strings{"1=w", "4=x", "6=y", "8=z"}));
}

TEST(HTTPFieldsByName, WritingBackAJoinedValueMergesFields) {
  HTTPFields fields{{Name::accept, "a"}, {Name::accept, "b"}};
  fields.set(Name::accept, fields.get(Name::accept));
  EXPECT_EQ(descriptions(fields), (Strings{"Accept: a, b"}));
}

TEST(HTTPFieldsByName, SetValuesReplacesTheListOfAName) {
  HTTPFields fields{{Name::accept, "a"}, {Name::host, "h"}};
  fields.setValues(Name::accept, {"x", "y"});
  EXPECT_EQ(descriptions(fields), (Strings{"Accept: x", "Host: h", "Accept: y"}));
  fields.setValues(Name::cookie, {"a=1; b=2"});  // no splitting here
  EXPECT_EQ(fields.values(Name::cookie), (Strings{"a=1; b=2"}));
  fields.setValues(Name::accept, {});
  EXPECT_FALSE(fields.contains(Name::accept));
}

TEST(HTTPFieldsByName, SetFieldsStoresFieldsAsGiven) {
  HTTPFields fields{{Name::accept, "a"}};
  HTTPField avoided(Name("ACCEPT"), "b");
  avoided.setIndexingStrategy(HTTPField::DynamicTableIndexingStrategy::avoid);
  fields.setFields(Name::accept, {avoided, HTTPField(Name::accept, "c")});
  EXPECT_EQ(fields.fields(Name::accept), (std::vector<HTTPField>{avoided, {Name::accept, "c"}}));
  EXPECT_EQ(fields[0].name().rawName(), "ACCEPT");
}

TEST(HTTPFieldsByName, SetFieldsUnderAnotherNameKeepsLookupsTrue) {
  HTTPFields fields{{Name::accept, "a"}, {Name::host, "h"}};
  fields.setFields(Name::accept, {HTTPField(Name::host, "moved"), HTTPField(Name::host, "new")});
  EXPECT_FALSE(fields.contains(Name::accept));
  EXPECT_EQ(fields.values(Name::host), (Strings{"moved", "h", "new"}));
}

}  // namespace
}  // namespace voduzazi::http_types
