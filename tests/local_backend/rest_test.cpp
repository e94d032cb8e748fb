// The REST database API over HTTP: filters, ordering, paging, "Prefer" forms, single objects,
// writes and the error bodies. Rows are seeded with the service key, which passes every rule.
#include <algorithm>
#include <boost/json/serialize.hpp>
#include <regex>
#include <set>

#include "local_backend/jwt.hpp"
#include "local_backend/timestamp.hpp"
#include "tests/local_backend/test_client.hpp"

namespace local_backend::testing {
namespace {

constexpr const char* kAnn = "0b3d6f1e-0000-4000-8000-00000000000a";
constexpr const char* kBob = "0b3d6f1e-0000-4000-8000-00000000000b";
constexpr const char* kCarl = "0b3d6f1e-0000-4000-8000-00000000000c";
constexpr const char* kNoName = "0b3d6f1e-0000-4000-8000-00000000000d";

class RestApi : public BackendTest {
 protected:
  RestApi() {
    const auto seeded = serve(http::verb::post, "/rest/v1/profiles",
                              std::string("[") +  //
                                  R"({"id":")" + kAnn + R"(","username":"ann","email":"a@x"},)" +
                                  R"({"id":")" + kBob + R"(","username":"Bob","email":"b@x"},)" +
                                  R"({"id":")" + kCarl + R"(","username":"carl","email":"c@x"},)" +
                                  R"({"id":")" + kNoName + R"(","username":null,"email":"d@x"}])");
    EXPECT_EQ(seeded.status, 201) << seeded.body;
  }

  // A request with the service key as both key and bearer.
  HttpResult serve(http::verb method, const std::string& target, const std::string& body = {},
                   Headers extra = {}) const {
    Headers headers{{"apikey", server_.serviceKey()},
                    {"Authorization", "Bearer " + server_.serviceKey()}};
    headers.insert(headers.end(), extra.begin(), extra.end());
    return client_.send(method, target, body, headers);
  }

  // The usernames of the profiles a filter selects, in answer order ("-" for null).
  std::vector<std::string> names(const std::string& query) const {
    const auto result = serve(http::verb::get, "/rest/v1/profiles?select=username&" + query);
    EXPECT_EQ(result.status, 200) << query << ": " << result.body;
    std::vector<std::string> found;
    const auto body = result.json();
    if (!body.is_array()) return found;
    for (const auto& row : body.as_array()) {
      const auto& name = row.at("username");
      found.push_back(name.is_null() ? "-" : std::string(name.as_string()));
    }
    return found;
  }

  std::set<std::string> nameSet(const std::string& query) const {
    const auto list = names(query);
    return {list.begin(), list.end()};
  }

  static std::string code(const HttpResult& result) {
    const auto body = result.json();
    if (!body.is_object() || !body.as_object().contains("code")) return "no code: " + result.body;
    const auto& object = body.as_object();
    EXPECT_TRUE(object.contains("message") && object.contains("details") && object.contains("hint"))
        << result.body;
    return std::string(object.at("code").as_string());
  }

  void postMessage(const std::string& content) const {
    const auto result = serve(http::verb::post, "/rest/v1/messages",
                              R"({"sender_id":")" + std::string(kAnn) + R"(","receiver_id":")" +
                                  kBob + R"(","content":")" + content + "\"}");
    EXPECT_EQ(result.status, 201) << result.body;
  }
};

using Names = std::set<std::string>;

TEST_F(RestApi, ComparisonFilters) {
  EXPECT_EQ(nameSet("username=eq.ann"), Names{"ann"});
  EXPECT_EQ(nameSet("username=neq.ann"), (Names{"Bob", "carl"}));
  EXPECT_EQ(nameSet("username=gt.ann"), (Names{"carl"}));  // byte order: "B" < "a"
  EXPECT_EQ(nameSet("username=gte.ann"), (Names{"ann", "carl"}));
  EXPECT_EQ(nameSet("username=lt.ann"), (Names{"Bob"}));
  EXPECT_EQ(nameSet("username=lte.ann"), (Names{"ann", "Bob"}));
  EXPECT_EQ(nameSet("username=eq.nobody"), Names{});
  EXPECT_EQ(nameSet("email=eq.a@x&username=eq.ann"), Names{"ann"});
  EXPECT_EQ(nameSet("email=eq.a@x&username=eq.Bob"), Names{});
}

TEST_F(RestApi, PatternNullAndListFilters) {
  EXPECT_EQ(nameSet("username=like.*a*"), (Names{"ann", "carl"}));
  EXPECT_EQ(nameSet("username=like.b*"), Names{});
  EXPECT_EQ(nameSet("username=ilike.b*"), Names{"Bob"});
  EXPECT_EQ(nameSet("username=like.c_rl"), Names{"carl"});
  EXPECT_EQ(nameSet("username=is.null"), Names{"-"});
  EXPECT_EQ(nameSet("username=in.(ann,carl,zed)"), (Names{"ann", "carl"}));
  EXPECT_EQ(nameSet("username=in.()"), Names{});
  EXPECT_EQ(nameSet("username=in.(%22Bob%22)"), Names{"Bob"});
}

TEST_F(RestApi, RefusesALikePatternEndingInALoneEscape) {
  const auto refused = serve(http::verb::get, "/rest/v1/profiles?username=like.ann%5C");
  EXPECT_EQ(refused.status, 400) << refused.body;
  EXPECT_EQ(code(refused), "22025");
  EXPECT_EQ(code(serve(http::verb::get, "/rest/v1/profiles?username=ilike.*%5C")), "22025");
  EXPECT_EQ(nameSet("username=like.ann%5C%5C"), Names{});
}

TEST_F(RestApi, NegatedFilters) {
  EXPECT_EQ(nameSet("username=not.eq.ann"), (Names{"Bob", "carl"}));
  EXPECT_EQ(nameSet("username=not.neq.ann"), Names{"ann"});
  EXPECT_EQ(nameSet("username=not.gt.ann"), (Names{"ann", "Bob"}));
  EXPECT_EQ(nameSet("username=not.gte.ann"), Names{"Bob"});
  EXPECT_EQ(nameSet("username=not.lt.ann"), (Names{"ann", "carl"}));
  EXPECT_EQ(nameSet("username=not.lte.ann"), Names{"carl"});
  EXPECT_EQ(nameSet("username=not.like.*a*"), Names{"Bob"});
  EXPECT_EQ(nameSet("username=not.ilike.*B*"), (Names{"ann", "carl"}));
  EXPECT_EQ(nameSet("username=not.is.null"), (Names{"ann", "Bob", "carl"}));
  EXPECT_EQ(nameSet("username=not.in.(ann,Bob)"), Names{"carl"});
}

TEST_F(RestApi, UuidColumnsCompareWithoutRegardToCase) {
  std::string upper = kAnn;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  EXPECT_EQ(nameSet("id=eq." + upper), Names{"ann"});
  EXPECT_EQ(nameSet("id=in.(" + upper + "," + kBob + ")"), (Names{"ann", "Bob"}));
  const auto written = serve(http::verb::post, "/rest/v1/friends",
                             R"({"user_id":")" + upper + R"(","friend_id":")" + kBob + "\"}",
                             {{"Prefer", "return=representation"}});
  ASSERT_EQ(written.status, 201) << written.body;
  EXPECT_EQ(written.json().at(0).at("user_id"), kAnn);
  EXPECT_EQ(code(serve(http::verb::get, "/rest/v1/profiles?id=eq.not-a-uuid")), "22P02");
}

TEST_F(RestApi, OrdersByEveryTermWithNullPlacement) {
  EXPECT_EQ(names("order=username.asc"), (std::vector<std::string>{"Bob", "ann", "carl", "-"}));
  EXPECT_EQ(names("order=username.desc"), (std::vector<std::string>{"-", "carl", "ann", "Bob"}));
  EXPECT_EQ(names("order=username.asc.nullsfirst"),
            (std::vector<std::string>{"-", "Bob", "ann", "carl"}));
  EXPECT_EQ(names("order=username.desc.nullslast"),
            (std::vector<std::string>{"carl", "ann", "Bob", "-"}));
  serve(http::verb::post, "/rest/v1/profiles",
        R"({"id":"0b3d6f1e-0000-4000-8000-0000000000ff","username":"ann","email":"z@x"})");
  const auto result = serve(http::verb::get,
                            "/rest/v1/profiles?select=email&username=eq.ann&order=username,"
                            "email.desc");
  EXPECT_EQ(boost::json::serialize(result.json()), R"([{"email":"z@x"},{"email":"a@x"}])");
}

TEST_F(RestApi, PagesWithLimitOffsetAndExactCount) {
  EXPECT_EQ(names("order=email&limit=2"), (std::vector<std::string>{"ann", "Bob"}));
  EXPECT_EQ(names("order=email&limit=2&offset=1"), (std::vector<std::string>{"Bob", "carl"}));
  EXPECT_EQ(names("order=email&offset=3"), (std::vector<std::string>{"-"}));

  const auto counted = serve(http::verb::get, "/rest/v1/profiles?order=email&limit=2&offset=1", {},
                             {{"Prefer", "count=exact"}});
  EXPECT_EQ(counted.status, 206);
  EXPECT_EQ(counted.header("Content-Range"), "1-2/4");
  const auto all = serve(http::verb::get, "/rest/v1/profiles", {}, {{"Prefer", "count=exact"}});
  EXPECT_EQ(all.status, 200);
  EXPECT_EQ(all.header("Content-Range"), "0-3/4");
  const auto none =
      serve(http::verb::get, "/rest/v1/profiles?username=eq.zed", {}, {{"Prefer", "count=exact"}});
  EXPECT_EQ(none.header("Content-Range"), "*/0");
  EXPECT_EQ(serve(http::verb::get, "/rest/v1/profiles?limit=1").header("Content-Range"), "0-0/*");
}

TEST_F(RestApi, HeadAnswersHeadersOnly) {
  const auto result = serve(http::verb::head, "/rest/v1/profiles?username=not.is.null", {},
                            {{"Prefer", "count=exact"}});
  EXPECT_EQ(result.status, 200);
  EXPECT_TRUE(result.body.empty());
  EXPECT_EQ(result.header("Content-Range"), "0-2/3");
}

TEST_F(RestApi, SelectsTheNamedColumnsInOrder) {
  const auto result = serve(http::verb::get, "/rest/v1/profiles?select=email,id&username=eq.Bob");
  EXPECT_EQ(boost::json::serialize(result.json()),
            std::string(R"([{"email":"b@x","id":")") + kBob + R"("}])");
}

TEST_F(RestApi, InsertAnswersByReturnPreference) {
  const auto minimal = serve(http::verb::post, "/rest/v1/messages",
                             R"({"sender_id":")" + std::string(kAnn) + R"(","receiver_id":")" +
                                 kBob + R"(","content":"one"})");
  EXPECT_EQ(minimal.status, 201);
  EXPECT_TRUE(minimal.body.empty());

  const auto represented = serve(http::verb::post, "/rest/v1/messages?select=content,created_at",
                                 R"({"sender_id":")" + std::string(kAnn) + R"(","receiver_id":")" +
                                     kBob + R"(","content":"two"})",
                                 {{"Prefer", "return=representation,count=exact"}});
  ASSERT_EQ(represented.status, 201) << represented.body;
  EXPECT_EQ(represented.header("Content-Range"), "*/1");
  const auto representedBody = represented.json();
  const auto& row = representedBody.at(0).as_object();
  EXPECT_EQ(row.size(), 2u);
  EXPECT_EQ(row.at("content"), "two");

  const auto headersOnly = serve(http::verb::post, "/rest/v1/messages",
                                 R"({"sender_id":")" + std::string(kAnn) + R"(","receiver_id":")" +
                                     kBob + R"(","content":"three"})",
                                 {{"Prefer", "return=headers-only"}});
  EXPECT_EQ(headersOnly.status, 201);
  EXPECT_TRUE(headersOnly.body.empty());
  EXPECT_TRUE(std::regex_match(headersOnly.header("Location"),
                               std::regex("/messages\\?id=eq\\.[0-9a-f-]{36}")))
      << headersOnly.header("Location");
}

TEST_F(RestApi, ServerFillsIdsAndStrictlyIncreasingTimes) {
  for (int i = 0; i < 20; ++i) postMessage("m" + std::to_string(i));
  const auto result = serve(http::verb::get, "/rest/v1/messages?order=created_at.asc");
  const auto rows = result.json().as_array();
  ASSERT_EQ(rows.size(), 20u);
  const std::regex form("\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{6}\\+00:00");
  std::string previous;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string created(rows[i].at("created_at").as_string());
    EXPECT_TRUE(std::regex_match(created, form)) << created;
    EXPECT_GT(created, previous);
    EXPECT_EQ(rows[i].at("content").as_string(), "m" + std::to_string(i));
    EXPECT_EQ(rows[i].at("id").as_string().size(), 36u);
    previous = created;
  }
}

TEST_F(RestApi, TimeFiltersCompareInstantsNotText) {
  postMessage("now");
  const auto stored = serve(http::verb::get, "/rest/v1/messages").json().at(0);
  const std::string created(stored.at("created_at").as_string());
  const std::string whole = created.substr(0, 19) + "Z";  // the same second without fraction
  const auto count = [&](const std::string& filter) {
    return serve(http::verb::get, "/rest/v1/messages?" + filter).json().as_array().size();
  };
  EXPECT_EQ(count("created_at=gte.1970-01-01T00:00:00Z"), 1u);
  EXPECT_EQ(count("created_at=gte." + whole), 1u);
  EXPECT_EQ(count("created_at=lt." + whole), 0u);
  EXPECT_EQ(count("created_at=eq." + created.substr(0, 26) + "Z"), 1u);
  EXPECT_EQ(count("created_at=gt.2999-01-01"), 0u);
  EXPECT_EQ(code(serve(http::verb::get, "/rest/v1/messages?created_at=gte.yesterday")), "22007");
}

TEST_F(RestApi, BulkInsertWithColumnsTakesDefaultsForMissingKeys) {
  const auto result =
      serve(http::verb::post, "/rest/v1/messages?columns=sender_id,receiver_id,content",
            std::string("[") + R"({"sender_id":")" + kAnn + R"(","receiver_id":")" + kBob +
                R"(","content":"a","ignored":1},)" + R"({"sender_id":")" + kBob +
                R"(","receiver_id":")" + kAnn + R"(","content":"b"}])",
            {{"Prefer", "return=representation"}});
  ASSERT_EQ(result.status, 201) << result.body;
  EXPECT_EQ(result.json().as_array().size(), 2u);
  // No rows: the client still names the (empty) key list.
  const auto none = serve(http::verb::post, "/rest/v1/messages?columns=", "[]",
                          {{"Prefer", "return=representation"}});
  EXPECT_EQ(none.status, 201) << none.body;
  EXPECT_EQ(none.body, "[]");
  EXPECT_EQ(code(serve(http::verb::post, "/rest/v1/friends",
                       std::string("[") + R"({"user_id":")" + kAnn + R"(","friend_id":")" + kBob +
                           R"("},{"user_id":")" + kAnn + R"("}])")),
            "PGRST102");
}

TEST_F(RestApi, UpsertMergesOrIgnoresDuplicates) {
  const std::string bob2 =
      std::string(R"({"id":")") + kBob + R"(","username":"Bobby","email":"b@x"})";
  EXPECT_EQ(code(serve(http::verb::post, "/rest/v1/profiles", bob2)), "23505");
  EXPECT_EQ(serve(http::verb::post, "/rest/v1/profiles", bob2).status, 409);

  const auto ignored = serve(http::verb::post, "/rest/v1/profiles", bob2,
                             {{"Prefer", "resolution=ignore-duplicates,return=representation"}});
  EXPECT_EQ(ignored.status, 201);
  EXPECT_EQ(boost::json::serialize(ignored.json()), "[]");
  EXPECT_EQ(nameSet("id=eq." + std::string(kBob)), Names{"Bob"});

  const auto merged = serve(http::verb::post, "/rest/v1/profiles?on_conflict=id", bob2,
                            {{"Prefer", "resolution=merge-duplicates,return=representation"}});
  EXPECT_EQ(merged.status, 201) << merged.body;
  EXPECT_EQ(merged.json().at(0).at("username"), "Bobby");
  EXPECT_EQ(nameSet("id=eq." + std::string(kBob)), Names{"Bobby"});

  EXPECT_EQ(code(serve(http::verb::post, "/rest/v1/profiles?on_conflict=email", bob2,
                       {{"Prefer", "resolution=merge-duplicates"}})),
            "42P10");
  EXPECT_EQ(code(serve(http::verb::post, "/rest/v1/friends",
                       std::string(R"({"user_id":")") + kAnn + R"(","friend_id":")" + kBob + "\"}",
                       {{"Prefer", "resolution=merge-duplicates"}})),
            "42P10");
}

TEST_F(RestApi, UpdatesAndDeletesTheFilteredRows) {
  const auto patched =
      serve(http::verb::patch, "/rest/v1/profiles?username=ilike.*b*", R"({"email":"new@x"})",
            {{"Prefer", "return=representation,count=exact"}});
  ASSERT_EQ(patched.status, 200) << patched.body;
  EXPECT_EQ(patched.header("Content-Range"), "*/1");
  EXPECT_EQ(patched.json().at(0).at("email"), "new@x");
  EXPECT_EQ(nameSet("email=eq.new@x"), Names{"Bob"});

  const auto quiet =
      serve(http::verb::patch, "/rest/v1/profiles?username=eq.ann", R"({"username":"anne"})");
  EXPECT_EQ(quiet.status, 204);
  EXPECT_EQ(nameSet("id=eq." + std::string(kAnn)), Names{"anne"});

  const auto removed = serve(http::verb::delete_, "/rest/v1/profiles?username=is.null", {},
                             {{"Prefer", "return=representation"}});
  ASSERT_EQ(removed.status, 200);
  EXPECT_EQ(removed.json().at(0).at("id"), kNoName);
  EXPECT_EQ(serve(http::verb::delete_, "/rest/v1/profiles?username=eq.carl").status, 204);
  EXPECT_EQ(nameSet(""), (Names{"anne", "Bob"}));
  EXPECT_EQ(code(serve(http::verb::delete_, "/rest/v1/profiles?limit=1")), "PGRST100");
}

TEST_F(RestApi, SingleObjectAnswersExactlyOneRow) {
  const Headers single{{"Accept", "application/vnd.pgrst.object+json"}};
  const auto one = serve(
      http::verb::get, "/rest/v1/profiles?select=username&id=eq." + std::string(kCarl), {}, single);
  EXPECT_EQ(one.status, 200);
  EXPECT_EQ(boost::json::serialize(one.json()), R"({"username":"carl"})");

  for (const std::string filter : {"username=eq.zed", "username=not.is.null"}) {
    const auto refused = serve(http::verb::get, "/rest/v1/profiles?" + filter, {}, single);
    EXPECT_EQ(refused.status, 406);
    EXPECT_EQ(code(refused), "PGRST116");
    EXPECT_EQ(refused.json().at("detail"), refused.json().at("details"));
  }
  EXPECT_EQ(
      serve(http::verb::get, "/rest/v1/profiles?username=eq.zed", {}, single).json().at("detail"),
      "The result contains 0 rows");
  // A write refused for its row count is rolled back.
  const auto patch = serve(http::verb::patch, "/rest/v1/profiles", R"({"email":"all@x"})", single);
  EXPECT_EQ(code(patch), "PGRST116");
  EXPECT_EQ(nameSet("email=eq.all@x"), Names{});

  const auto inserted =
      serve(http::verb::post, "/rest/v1/friend_invites",
            std::string(R"({"inviter":")") + kAnn + R"(","code":"ABCD1234"})",
            {{"Accept", "application/vnd.pgrst.object+json"}, {"Prefer", "return=representation"}});
  EXPECT_EQ(inserted.status, 201);
  EXPECT_EQ(inserted.json().at("code"), "ABCD1234");
}

TEST_F(RestApi, ReportsErrorsInTheDatabaseErrorBody) {
  const auto table = serve(http::verb::get, "/rest/v1/nothing");
  EXPECT_EQ(table.status, 404);
  EXPECT_EQ(code(table), "42P01");
  EXPECT_EQ(code(serve(http::verb::get, "/rest/v1/auth_users")), "42P01");
  for (const char* target : {"/rest/v1/profiles?select=password", "/rest/v1/profiles?nope=eq.1",
                             "/rest/v1/profiles?order=nope"}) {
    const auto result = serve(http::verb::get, target);
    EXPECT_EQ(result.status, 400) << target;
    EXPECT_EQ(code(result), "42703") << target;
  }
  EXPECT_EQ(code(serve(http::verb::post, "/rest/v1/profiles",
                       R"({"id":")" + std::string(kAnn) + R"(","nope":1})")),
            "42703");
  EXPECT_EQ(code(serve(http::verb::get, "/rest/v1/profiles?username=approx.ann")), "PGRST100");
  EXPECT_EQ(code(serve(http::verb::post, "/rest/v1/profiles", "{\"id\":")), "PGRST102");
  EXPECT_EQ(code(serve(http::verb::post, "/rest/v1/profiles", "[1,2]")), "PGRST102");
  EXPECT_EQ(code(serve(http::verb::post, "/rest/v1/profiles", "\"text\"")), "PGRST102");
  EXPECT_EQ(
      code(serve(http::verb::post, "/rest/v1/messages",
                 R"({"sender_id":")" + std::string(kAnn) + R"(","receiver_id":")" + kBob + "\"}")),
      "23502");
  EXPECT_EQ(code(serve(http::verb::post, "/rest/v1/profiles", R"({"id":7})")), "22P02");
  const auto method = serve(http::verb::put, "/rest/v1/profiles", "{}");
  EXPECT_EQ(method.status, 405);
  EXPECT_EQ(code(method), "PGRST117");
  const auto schema = serve(http::verb::get, "/rest/v1/profiles", {}, {{"Accept-Profile", "api"}});
  EXPECT_EQ(schema.status, 406);
  EXPECT_EQ(code(schema), "PGRST106");
  EXPECT_EQ(serve(http::verb::get, "/rest/v1/profiles", {}, {{"Accept-Profile", "public"}}).status,
            200);
  EXPECT_EQ(code(serve(http::verb::post, "/rest/v1/rpc/add", "{}")), "PGRST202");
  const auto csv = serve(http::verb::get, "/rest/v1/profiles", {}, {{"Accept", "text/csv"}});
  EXPECT_EQ(csv.status, 406);
  EXPECT_EQ(code(csv), "PGRST107");
}

TEST_F(RestApi, RefusesBadUtf8) {
  const auto body = serve(http::verb::post, "/rest/v1/profiles",
                          std::string(R"({"id":")") + kAnn + "\",\"username\":\"\xC3\x28\"}");
  EXPECT_EQ(body.status, 400);
  EXPECT_EQ(code(body), "PGRST102");
  const auto query = serve(http::verb::get, "/rest/v1/profiles?username=eq.%C3%28");
  EXPECT_EQ(query.status, 400);
}

TEST_F(RestApi, RefusesForgedAndExpiredTokens) {
  const auto user = signUp("tokens");
  const auto claims = verifyJwt(user.accessToken, kDevelopmentJwtSecret, unixNow());
  auto expired = claims;
  expired["exp"] = unixNow() - 1;
  const auto late = get("/rest/v1/profiles", signJwt(expired, kDevelopmentJwtSecret));
  EXPECT_EQ(late.status, 401);
  EXPECT_EQ(code(late), "PGRST301");
  EXPECT_EQ(late.json().at("message"), "JWT expired");
  const auto forged =
      get("/rest/v1/profiles", signJwt(claims, "a-secret-this-server-never-used-0123456789"));
  EXPECT_EQ(forged.status, 401);
  EXPECT_EQ(code(forged), "PGRST301");
  const auto garbage = get("/rest/v1/profiles", "garbage");
  EXPECT_EQ(code(garbage), "PGRST301");
  const auto basic = get("/rest/v1/profiles", {}, {{"Authorization", "Basic abc"}});
  EXPECT_EQ(code(basic), "PGRST301");
}

TEST_F(RestApi, LogicTreesCombineNestAndNegate) {
  EXPECT_EQ(nameSet("or=(username.eq.ann,username.eq.Bob)"), (Names{"ann", "Bob"}));
  EXPECT_EQ(nameSet("and=(email.like.*x,or(username.eq.ann,username.is.null))"),
            (Names{"ann", "-"}));
  EXPECT_EQ(nameSet("not.or=(username.eq.ann,username.is.null)"), (Names{"Bob", "carl"}));
  EXPECT_EQ(nameSet("or=(username.eq.ann,not.and(email.neq.c@x,username.not.is.null))"),
            (Names{"ann", "carl", "-"}));
  // Trees and plain filters are all required.
  EXPECT_EQ(nameSet("email=neq.a@x&or=(username.eq.ann,username.eq.carl)&and=(id.neq." +
                    std::string(kAnn) + ")"),
            (Names{"carl"}));
  EXPECT_EQ(nameSet("or=(username.eq.%22a,b%22,username.in.(ann,%22Bob%22))"),
            (Names{"ann", "Bob"}));
}

TEST_F(RestApi, LogicTreesNarrowUpdatesAndDeletes) {
  const auto removed = serve(http::verb::delete_, "/rest/v1/profiles?or=(username.eq.carl,"
                                                  "username.is.null)");
  EXPECT_EQ(removed.status, 204) << removed.body;
  EXPECT_EQ(nameSet(""), (Names{"ann", "Bob"}));
}

TEST_F(RestApi, RefusesMalformedLogicTrees) {
  EXPECT_EQ(code(serve(http::verb::get, "/rest/v1/profiles?or=(username.eq.ann")), "PGRST100");
  EXPECT_EQ(code(serve(http::verb::get, "/rest/v1/profiles?or=()")), "PGRST100");
  EXPECT_EQ(code(serve(http::verb::get, "/rest/v1/profiles?or=(nope.eq.1)")), "42703");
  EXPECT_EQ(code(serve(http::verb::get, "/rest/v1/profiles?or=(id.eq.x)")), "22P02");
}

TEST_F(RestApi, RpcAddsNumbersByGetHeadAndPost) {
  const auto posted = serve(http::verb::post, "/rest/v1/rpc/add_numbers", R"({"a":1,"b":2})");
  EXPECT_EQ(posted.status, 200) << posted.body;
  EXPECT_EQ(posted.body, "3");
  EXPECT_EQ(serve(http::verb::get, "/rest/v1/rpc/add_numbers?b=2&a=1.5").body, "3.5E0");
  const auto head = serve(http::verb::head, "/rest/v1/rpc/add_numbers?a=1&b=2");
  EXPECT_EQ(head.status, 200);
  EXPECT_TRUE(head.body.empty());
  // Any caller with a key may call it.
  EXPECT_EQ(get("/rest/v1/rpc/add_numbers?a=-4&b=2").body, "-2");
}

TEST_F(RestApi, RpcRefusesWrongArgumentsAndUnknownFunctions) {
  auto status = [&](http::verb method, const std::string& target, const std::string& body = {}) {
    const auto result = serve(method, target, body);
    return std::to_string(result.status) + " " + code(result);
  };
  EXPECT_EQ(status(http::verb::post, "/rest/v1/rpc/add_numbers", R"({"a":"x","b":1})"),
            "400 22P02");
  EXPECT_EQ(status(http::verb::post, "/rest/v1/rpc/add_numbers",
                   R"({"a":9223372036854775807,"b":1})"),
            "400 22003");
  EXPECT_EQ(status(http::verb::get, "/rest/v1/rpc/add_numbers?a=1"), "404 PGRST202");
  EXPECT_EQ(status(http::verb::post, "/rest/v1/rpc/add_numbers", R"({"a":1,"b":2,"c":3})"),
            "404 PGRST202");
  EXPECT_EQ(status(http::verb::post, "/rest/v1/rpc/add_numbers", "[1,2]"), "400 PGRST102");
  EXPECT_EQ(status(http::verb::post, "/rest/v1/rpc/nope"), "404 PGRST202");
  EXPECT_EQ(status(http::verb::patch, "/rest/v1/rpc/add_numbers", "{}"), "405 PGRST117");
}

TEST_F(RestApi, RpcMessagesWithAnswersOneConversationOfTheCaller) {
  const TestUser ann = signUp("ann");
  const TestUser bob = signUp("bob");
  const TestUser carl = signUp("carl");
  auto send = [&](const TestUser& from, const TestUser& to, const std::string& content) {
    const auto result = serve(http::verb::post, "/rest/v1/messages",
                              R"({"sender_id":")" + from.id + R"(","receiver_id":")" + to.id +
                                  R"(","content":")" + content + "\"}");
    EXPECT_EQ(result.status, 201) << result.body;
  };
  send(ann, bob, "1");
  send(bob, ann, "2");
  send(ann, carl, "3");
  send(carl, bob, "4");
  auto contents = [](const HttpResult& result) {
    std::vector<std::string> found;
    const auto body = result.json();
    if (!body.is_array()) return found;
    for (const auto& row : body.as_array()) {
      found.emplace_back(row.at("content").as_string());
    }
    return found;
  };
  using Texts = std::vector<std::string>;
  const auto annWithBob =
      get("/rest/v1/rpc/messages_with?other_id=" + bob.id + "&select=content&order=content.asc",
          ann.accessToken);
  EXPECT_EQ(contents(annWithBob), (Texts{"1", "2"})) << annWithBob.body;
  const auto counted =
      call(http::verb::post, "/rest/v1/rpc/messages_with?limit=1&order=content.desc",
           R"({"other_id":")" + bob.id + "\"}", ann.accessToken, {{"Prefer", "count=exact"}});
  EXPECT_EQ(contents(counted), Texts{"2"});
  EXPECT_EQ(counted.header("Content-Range"), "0-0/2");
  EXPECT_EQ(contents(get("/rest/v1/rpc/messages_with?other_id=" + bob.id, carl.accessToken)),
            Texts{"4"});
  EXPECT_EQ(code(get("/rest/v1/rpc/messages_with?other_id=" + bob.id)), "42501");
  EXPECT_EQ(serve(http::verb::get, "/rest/v1/rpc/messages_with?other_id=" + bob.id).status, 403);
}

}  // namespace
}  // namespace local_backend::testing
