#include "voduzazi/http_types/http_fields.hpp"

#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <map>
#include <stdexcept>
#include <thread>

namespace voduzazi::http_types {
namespace {

using Name = HTTPField::Name;

std::vector<std::string> rawNames(const HTTPFields& fields) {
  std::vector<std::string> names;
  for (const HTTPField& field : fields) names.push_back(field.name().rawName());
  return names;
}

// Every name-based read must agree with a plain scan of the fields in order.
void expectLookupsAgreeWithScan(const HTTPFields& fields) {
  std::map<std::string, std::vector<std::string>> scanned;
  for (const HTTPField& field : fields) {
    scanned[field.name().canonicalName()].push_back(field.value());
  }
  for (const auto& [canonical, values] : scanned) {
    const Name name(canonical);
    EXPECT_EQ(fields.values(name), values) << canonical;
    EXPECT_TRUE(fields.contains(name)) << canonical;
  }
  EXPECT_FALSE(fields.contains(Name("x-never-present")));
}

HTTPFields abaFields() { return HTTPFields{{Name("a"), "1"}, {Name("b"), "2"}, {Name("a"), "3"}}; }

TEST(HTTPFields, StartsEmpty) {
  const HTTPFields fields;
  EXPECT_EQ(fields.size(), 0U);
  EXPECT_TRUE(fields.empty());
  EXPECT_EQ(fields.begin(), fields.end());
  EXPECT_FALSE(fields.get(Name::accept).has_value());
}

TEST(HTTPFields, LiteralKeepsOrderAndRepeatedNames) {
  const HTTPFields fields{{Name::accept, "a"}, {Name::contentType, "b"}, {Name::accept, "c"}};
  EXPECT_EQ(rawNames(fields), (std::vector<std::string>{"Accept", "Content-Type", "Accept"}));
  EXPECT_EQ(fields.values(Name::accept), (std::vector<std::string>{"a", "c"}));
}

TEST(HTTPFields, AppendsLinkEachNameIntoOneChain) {
  EXPECT_EQ(abaFields().debugDescription(),
            "[(field: a: 1, next: 2), (field: b: 2, next: 65535), (field: a: 3, next: 65535)]");
}

TEST(HTTPFields, OverwritingWithAnEqualFieldKeepsTheStoredRawName) {
  HTTPFields fields{{Name("Accept"), "x"}};
  const HTTPFields copy = fields;
  fields.set(0, HTTPField(Name("ACCEPT"), "x"));
  EXPECT_EQ(fields[0].name().rawName(), "Accept");
  fields.set(0, HTTPField(Name("Host"), "h"));
  EXPECT_EQ(fields.get(Name::host), "h");
  EXPECT_FALSE(fields.contains(Name::accept));
  EXPECT_EQ(copy[0].name().rawName(), "Accept");
}

TEST(HTTPFields, LookupsFollowEveryKindOfChange) {
  HTTPFields fields = abaFields();
  fields.insert(0, HTTPField(Name("b"), "0"));
  EXPECT_EQ(rawNames(fields), (std::vector<std::string>{"b", "a", "b", "a"}));
  expectLookupsAgreeWithScan(fields);

  fields.append(HTTPField(Name("c"), "4"));
  expectLookupsAgreeWithScan(fields);

  fields.set(1, HTTPField(Name("c"), "renamed"));
  expectLookupsAgreeWithScan(fields);

  EXPECT_EQ(fields.erase(0).value(), "0");
  expectLookupsAgreeWithScan(fields);

  const std::vector<HTTPField> replacement{HTTPField(Name("a"), "r1"), HTTPField(Name("d"), "r2")};
  fields.replaceSubrange(1, 2, replacement);
  expectLookupsAgreeWithScan(fields);

  fields.erase(0, 2);
  expectLookupsAgreeWithScan(fields);

  fields.removeIf([](const HTTPField& field) { return field.value() == "4"; });
  expectLookupsAgreeWithScan(fields);

  fields.removeAll(true);
  EXPECT_TRUE(fields.empty());
  expectLookupsAgreeWithScan(fields);
  fields.append(HTTPField(Name("a"), "again"));
  expectLookupsAgreeWithScan(fields);
}

TEST(HTTPFields, InsertsAViewOfItsOwnFields) {
  HTTPFields fields = abaFields();
  fields.replaceSubrange(fields.size(), fields.size(),
                         std::span<const HTTPField>(fields.begin(), fields.end()));
  EXPECT_EQ(rawNames(fields), (std::vector<std::string>{"a", "b", "a", "a", "b", "a"}));
  fields.replaceSubrange(0, 1, std::span<const HTTPField>(fields.begin() + 4, fields.end()));
  EXPECT_EQ(rawNames(fields), (std::vector<std::string>{"b", "a", "b", "a", "a", "b", "a"}));
  expectLookupsAgreeWithScan(fields);
}

TEST(HTTPFields, RemoveIfKeepsSurvivorsInOrder) {
  HTTPFields fields{{Name("a"), "1"}, {Name("b"), "2"}, {Name("c"), "3"}, {Name("d"), "4"}};
  EXPECT_EQ(
      fields.removeIf([](const HTTPField& f) { return f.value() == "2" || f.value() == "4"; }), 2U);
  EXPECT_EQ(rawNames(fields), (std::vector<std::string>{"a", "c"}));
}

TEST(HTTPFields, RemoveIfRemovesNothingWhenThePredicateThrows) {
  HTTPFields fields = abaFields();
  EXPECT_THROW(fields.removeIf([](const HTTPField& field) -> bool {
    if (field.value() == "3") throw std::runtime_error("stop");
    return true;
  }),
               std::runtime_error);
  EXPECT_EQ(fields, abaFields());
}

TEST(HTTPFields, RemoveAllWithoutCapacityLeavesAUsableEmptyCollection) {
  HTTPFields fields = abaFields();
  fields.removeAll();
  EXPECT_TRUE(fields.empty());
  fields.append(HTTPField(Name::accept, "x"));
  EXPECT_EQ(fields.get(Name::accept), "x");
}

TEST(HTTPFields, ChangingACopyLeavesTheOriginalUntouched) {
  const HTTPFields original = abaFields();
  HTTPFields copy = original;
  copy.insert(0, HTTPField(Name("z"), "0"));
  copy.set(Name("a"), "x");
  EXPECT_EQ(original, abaFields());
  EXPECT_EQ(original.values(Name("a")), (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(copy.values(Name("a")), (std::vector<std::string>{"x"}));
}

TEST(HTTPFields, MovedFromValueReadsAsEmptyAndStaysUsable) {
  HTTPFields fields = abaFields();
  HTTPFields target = std::move(fields);
  EXPECT_EQ(target.size(), 3U);
  EXPECT_TRUE(fields.empty());  // NOLINT(bugprone-use-after-move): the state is documented
  EXPECT_FALSE(fields.get(Name("a")).has_value());
  fields.set(Name("a"), "again");
  EXPECT_EQ(fields.get(Name("a")), "again");
}

TEST(HTTPFields, EqualityIgnoresInterleavingOfDifferentNames) {
  const HTTPFields left{{Name::accept, "a"}, {Name::host, "h"}};
  const HTTPFields right{{Name::host, "h"}, {Name("ACCEPT"), "a"}};
  EXPECT_EQ(left, right);
  EXPECT_EQ(left.hashValue(), right.hashValue());
}

TEST(HTTPFields, EqualityRespectsOrderWithinOneName) {
  const HTTPFields left{{Name::accept, "a"}, {Name::accept, "b"}};
  const HTTPFields right{{Name::accept, "b"}, {Name::accept, "a"}};
  EXPECT_NE(left, right);
  EXPECT_NE(left, (HTTPFields{{Name::accept, "a"}}));
  EXPECT_NE(left, (HTTPFields{{Name::accept, "a"}, {Name::host, "b"}}));
}

TEST(HTTPFields, RefusesMoreThan65534FieldsWithoutChange) {
  HTTPFields fields;
  fields.reserve(65534);
  for (int i = 0; i < 65534; ++i) fields.append(HTTPField(Name::accept, "x"));
  EXPECT_THROW(fields.append(HTTPField(Name::accept, "y")), std::length_error);
  EXPECT_THROW(fields.set(Name::host, "h"), std::length_error);
  EXPECT_EQ(fields.size(), 65534U);
  EXPECT_FALSE(fields.contains(Name::host));
}

TEST(HTTPFields, ConcurrentReadersAndWritersOfOneUnindexedStorageAgree) {
  // Few threads but several rounds: a race detector remembers only the last accesses to each
  // word, and one round may not interleave the index build with a writer's copy.
  for (int round = 0; round < 10; ++round) {
    HTTPFields shared = abaFields();
    shared.insert(0, HTTPField(Name("b"), "0"));  // leaves the index to be rebuilt
    std::vector<std::vector<std::string>> seen(2);
    std::vector<HTTPFields> written(2, shared);  // each writer copies the storage being indexed
    std::vector<std::thread> threads;
    for (auto& result : seen) {
      threads.emplace_back([copy = shared, &result] { result = copy.values(Name("a")); });
    }
    for (auto& copy : written) threads.emplace_back([&copy] { copy.set(Name("a"), "w"); });
    for (auto& thread : threads) thread.join();
    for (const auto& result : seen) EXPECT_EQ(result, (std::vector<std::string>{"1", "3"}));
    for (const auto& copy : written) {
      EXPECT_EQ(rawNames(copy), (std::vector<std::string>{"b", "a", "b"}));
    }
    EXPECT_EQ(shared.values(Name("a")), (std::vector<std::string>{"1", "3"}));
  }
}

TEST(HTTPFieldsDeathTest, StopsOnPseudoHeaderFieldsAndBadPositions) {
  const HTTPField pseudo(*Name::fromParsed(":path"), "/");
  EXPECT_DEATH(HTTPFields().append(pseudo), "pseudo header field");
  EXPECT_DEATH(HTTPFields({{*Name::fromParsed(":path"), "/"}}), "pseudo header field");
  EXPECT_DEATH(abaFields().insert(0, pseudo), "pseudo header field");
  EXPECT_DEATH(abaFields().set(0, pseudo), "pseudo header field");
  EXPECT_DEATH(abaFields().set(pseudo.name(), "/"), "pseudo header field");
  EXPECT_DEATH((void)abaFields()[3], "out of range");
  EXPECT_DEATH(abaFields().erase(2, 4), "out of bounds");
}

TEST(HTTPFieldsCoding, RoundTripsFieldsInOrder) {
  HTTPFields fields = abaFields();
  HTTPField avoided(Name("X-Data"), "caf\xC3\xA9");
  avoided.setIndexingStrategy(HTTPField::DynamicTableIndexingStrategy::avoid);
  fields.append(avoided);
  const HTTPFields decoded = HTTPFields::fromJSON(fields.toJSON());
  EXPECT_EQ(rawNames(decoded), rawNames(fields));
  EXPECT_EQ(decoded, fields);
  EXPECT_TRUE(HTTPFields::fromJSON(boost::json::array{}).empty());
}

TEST(HTTPFieldsCoding, RefusesPseudoHeaderFields) {
  try {
    HTTPFields::fromJSON(
        boost::json::parse(R"({"list":[{"name":"a","value":"1"},{"name":":path","value":"/"}]})")
            .at("list"),
        {"list"});
    FAIL();
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    EXPECT_STREQ(error.what(), "Pseudo header field \":path: /\" disallowed");
    EXPECT_EQ(error.codingPath(), CodingPath{"list"});
  }
}

TEST(HTTPFieldsCoding, NamesTheFailingElement) {
  try {
    HTTPFields::fromJSON(boost::json::parse(R"([{"name":"a","value":"1"},{"name":"b"}])"));
    FAIL();
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.codingPath(), (CodingPath{"Index 1", "value"}));
  }
}

}  // namespace
}  // namespace voduzazi::http_types
