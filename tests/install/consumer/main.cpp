// Builds a facade from the installed headers and libraries and checks what it derives; sends
// nothing.
#include <cstdio>
#include <string>

#include "voduzazi/client/voduzazi_client.hpp"

int main() {
  voduzazi::VoduzaziClient client("https://abcd.example.co", "anon-key");
  const std::string database(client.databaseURL().buffer());
  const auto builder = client.from("messages").select().eq("id", 1);
  if (database != "https://abcd.example.co/rest/v1" ||
      client.storageKey() != "sb-abcd-auth-token") {
    std::fprintf(stderr, "unexpected facade: %s %s\n", database.c_str(),
                 client.storageKey().c_str());
    return 1;
  }
  try {
    voduzazi::VoduzaziClient refused("ftp://abcd.example.co", "anon-key");
    return 1;
  } catch (const voduzazi::InvalidProjectURLError&) {
  }
  std::puts("consumer: ok");
  return 0;
}
