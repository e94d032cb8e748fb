#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/auth/auth_client_fakes.hpp"

namespace voduzazi::auth::testing {
namespace {

const UUID kUserId{{0x8d, 0x1f, 0x5e, 0x0a, 0x3c, 0x2b, 0x4e, 0x8f, 0x9a, 0x7d, 0x1b, 0x2c, 0x3d,
                    0x4e, 0x5f, 0x60}};

std::string usersBody() {
  return R"({"users":[)" + userBody() + R"(],"aud":"authenticated","extra":1})";
}

class AdminTest : public AuthClientTest {
 protected:
  std::unique_ptr<AuthClient> clientWith(std::optional<std::string> redirect = std::nullopt) {
    auto options = this->options();
    if (redirect) options.redirectToURL = boost::urls::url(*redirect);
    return makeClient(options);
  }
};

TEST_F(AdminTest, ListingSendsBothPagingItemsAndReadsThePagingHeaders) {
  auto client = clientWith();
  // Signed in: the listing still carries no session token.
  storeSession(*client, makeSession("access", "refresh", secondsFromNow(3600)));
  auto headers = versionHeader();
  headers.push_back({"link",
                     "</admin/users?page=3&per_page=2>; rel=\"next\", "
                     "</admin/users?page=9&per_page=2>; rel=\"last\""});
  headers.push_back({"x-total-count", "+17"});
  server->respondWith(200, usersBody(), headers);

  const auto page = client->admin().listUsers(PageParams{.page = 2});

  const URLRequest sent = server->requests()[0];
  EXPECT_EQ(sent.url.path(), "/auth/v1/admin/users");
  EXPECT_EQ(queryOf(sent), (std::map<std::string, std::string>{{"page", "2"}, {"per_page", ""}}));
  EXPECT_EQ(sent.value("Authorization"), std::nullopt);
  EXPECT_EQ(page.users.size(), 1u);
  EXPECT_EQ(page.aud, "authenticated");
  EXPECT_EQ(page.nextPage, 3);
  EXPECT_EQ(page.lastPage, 9);
  EXPECT_EQ(page.total, 17);

  server->respondWith(200, usersBody());
  const auto bare = client->admin().listUsers();
  EXPECT_EQ(bare.nextPage, std::nullopt);
  EXPECT_EQ(bare.lastPage, 0);
  EXPECT_EQ(bare.total, 0);
}

TEST_F(AdminTest, InvitationSendsNullDataAndTheConfiguredRedirect) {
  auto client = clientWith("app://configured");
  server->respondWith(200, userBody());
  client->admin().inviteUserByEmail("new@example.com");
  client->admin().inviteUserByEmail("new@example.com", JSONObject{{"Team", "blue"}},
                                    boost::urls::url("app://mine"));
  const auto requests = server->requests();
  EXPECT_EQ(requests[0].url.path(), "/auth/v1/admin/invite");
  EXPECT_EQ(queryOf(requests[0]).at("redirect_to"), "app://configured");
  EXPECT_EQ(bodyOf(requests[0]),
            (boost::json::object{{"email", "new@example.com"}, {"data", nullptr}}));
  EXPECT_EQ(queryOf(requests[1]).at("redirect_to"), "app://mine");
  // Keys inside the data are the caller's, not converted.
  EXPECT_EQ(bodyOf(requests[1]).at("data"), (boost::json::object{{"Team", "blue"}}));
}

TEST_F(AdminTest, UserPathsCarryTheUpperCaseIdAndDeleteAlwaysSendsItsFlag) {
  auto client = clientWith();
  server->respondWith(200, userBody());
  client->admin().getUserById(kUserId);
  client->admin().updateUserById(kUserId, AdminUserAttributes{.emailConfirm = true});
  client->admin().deleteUser(kUserId);
  const auto requests = server->requests();
  const std::string path = "/auth/v1/admin/users/8D1F5E0A-3C2B-4E8F-9A7D-1B2C3D4E5F60";
  EXPECT_EQ(requests[0].url.path(), path);
  EXPECT_EQ(requests[1].httpMethod, "PUT");
  EXPECT_EQ(bodyOf(requests[1]), (boost::json::object{{"email_confirm", true}}));
  EXPECT_EQ(requests[2].httpMethod, "DELETE");
  EXPECT_EQ(requests[2].url.path(), path);
  EXPECT_EQ(bodyOf(requests[2]), (boost::json::object{{"should_soft_delete", false}}));
}

TEST_F(AdminTest, DeletingByTextRefusesANonUUIDBeforeSending) {
  auto client = clientWith();
  server->respondWith(200, "{}");
  EXPECT_THROW(client->admin().deleteUser(std::string_view("../../user"), true),
               std::invalid_argument);
  EXPECT_EQ(server->requestCount(), 0u);
  client->admin().deleteUser(std::string_view("8d1f5e0a-3c2b-4e8f-9a7d-1b2c3d4e5f60"), true);
  EXPECT_EQ(bodyOf(server->requests()[0]), (boost::json::object{{"should_soft_delete", true}}));
}

}  // namespace
}  // namespace voduzazi::auth::testing
