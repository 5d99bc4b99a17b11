// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/update_check.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace norvo::app {
namespace {

constexpr int kServerWaitMs = 10000;  // the server gives up by itself after this
constexpr std::size_t kMaxRequestBytes = 16 * 1024;

// A one-shot HTTP server on 127.0.0.1 in a thread: it answers one request
// with a fixed reply, keeps the request's first line, and stops after that
// or when nobody comes.
class LocalHttpServer {
 public:
  LocalHttpServer(std::string status, std::string body) : status_(std::move(status)), body_(std::move(body)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, 4) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot listen on 127.0.0.1";
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~LocalHttpServer() {
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  std::string url(const std::string& path = "/update.txt") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  // The request line received ("GET /path?query HTTP/1.1"); waits for the server.
  std::string requestLine() {
    if (thread_.joinable()) thread_.join();
    return request_.substr(0, request_.find("\r\n"));
  }

 private:
  void serve() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, kServerWaitMs) != 1) return;
    const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return;
    std::array<char, 1024> buffer{};
    while (request_.find("\r\n\r\n") == std::string::npos && request_.size() < kMaxRequestBytes) {
      pollfd c{connection, POLLIN, 0};
      if (::poll(&c, 1, kServerWaitMs) != 1) break;
      const ssize_t n = ::recv(connection, buffer.data(), buffer.size(), 0);
      if (n <= 0) break;
      request_.append(buffer.data(), static_cast<std::size_t>(n));
    }
    const std::string reply = "HTTP/1.1 " + status_ + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                              std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_;
    for (std::size_t sent = 0; sent < reply.size();) {
      const ssize_t n = ::send(connection, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    ::close(connection);
  }

  std::string status_;
  std::string body_;
  int fd_ = -1;
  int port_ = 0;
  std::string request_;
  std::thread thread_;
};

// A port on 127.0.0.1 on which nothing listens.
std::string ClosedPortUrl() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  ::close(fd);
  return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/update.txt";
}

class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A proxy from the environment would carry the request away from 127.0.0.1.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      ::unsetenv(name);
    }
  }
};

// --- the reply ---------------------------------------------------------------

TEST_F(UpdateCheckTest, ReplySkipsCommentsBlankAndMalformedLines) {
  const std::string reply =
      "\xEF\xBB\xBF# update file\r\n"
      "\r\n"
      "NorvoMediaWin 17000 16000 3.0\r\n"      // the Windows build's record
      "NorvoMediaLinux 16500x 16000 2.9\r\n"   // build is not a number
      "NorvoMediaLinux 16500 16000\r\n"        // no version text
      "NorvoMediaLin\r\n"                      // nothing but the name
      "NorvoMedia 18000 1 9.9\r\n"             // name too short for the prefix
      "#NorvoMediaLinux 19000 1 commented\r\n"
      "NorvoMediaLinux\t16600  16400\t2.5 beta 1  \r\n"
      "NorvoMediaLinux 20000 1 later record\r\n";
  std::optional<UpdateRecord> record = ParseUpdateReply(reply);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->product, "NorvoMediaLinux");
  EXPECT_EQ(record->latest_build, 16600u);
  EXPECT_EQ(record->lowest_free_build, 16400u);
  EXPECT_EQ(record->version, "2.5 beta 1");

  EXPECT_FALSE(ParseUpdateReply("# nothing\n\nNorvoMediaWin 17000 16000 3.0\n"));
  EXPECT_FALSE(ParseUpdateReply(""));
  // The last line needs no line end.
  record = ParseUpdateReply("NorvoMediaLin64 17000 16000 3.0");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->version, "3.0");
}

TEST_F(UpdateCheckTest, VersionTextKeepsAtMostTwentyCharacters) {
  std::optional<UpdateRecord> record = ParseUpdateReply("NorvoMediaLin 1 1 1234567890abcdefghijKLMN\n");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->version, "1234567890abcdefghij");
  // Characters, not bytes: a multi-byte character is neither cut nor counted twice.
  record = ParseUpdateReply("NorvoMediaLin 1 1 Versión ünïcødé 2.0 ok\n");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->version, "Versión ünïcødé 2.0 ");
}

// --- the request -------------------------------------------------------------

TEST_F(UpdateCheckTest, QueryForUnknownKernelAndForAddressWithQuery) {
  EXPECT_FALSE(ParseKernelRelease("unknown"));
  EXPECT_FALSE(ParseKernelRelease("6"));
  EXPECT_EQ(UpdateRequestUrl("http://h/u.txt?channel=beta", std::nullopt),
            "http://h/u.txt?channel=beta&os=linux&MajVers=unknown&MinVers=unknown");
}

// --- against a server --------------------------------------------------------

TEST_F(UpdateCheckTest, ServerRequestCarriesTheKernelVersion) {
  LocalHttpServer server("200 OK", "NorvoMediaLin 16422 1 2.0\n");
  EXPECT_EQ(CheckForUpdate(false, server.url("/check/norvo.txt")).code, err::kNone);
  utsname names{};
  ASSERT_EQ(::uname(&names), 0);
  unsigned major = 0, minor = 0;
  ASSERT_EQ(std::sscanf(names.release, "%u.%u", &major, &minor), 2);
  std::array<char, 80> query{};
  std::snprintf(query.data(), query.size(), "/check/norvo.txt?os=linux&MajVers=0x%08x&MinVers=0x%08x", major, minor);
  EXPECT_EQ(server.requestLine(), "GET " + std::string(query.data()) + " HTTP/1.1");
}

TEST_F(UpdateCheckTest, ServerReplyDecidesNewerFreeOrUpToDate) {
  const std::string newer = "A new version (2.4) is available for download. Would you like to go to the website?";
  const std::string newer_free =
      "A new version (3.0) is available for free download. Would you like to go to the website?";
  const std::string up_to_date = "Your software is up to date. There is no new version available at this time.";
  struct Case {
    const char* reply;
    bool asked;
    bool newer;
    bool free;
    std::optional<std::string> version;
    std::string message;
  };
  const Case cases[] = {
      // Free only up to this build: 16423 and on pay.
      {"# Norvo\nNorvoMediaLin 16800 16423 2.4\n", false, true, false, "2.4", newer},
      {"NorvoMediaLin\t17000\t16422\t3.0\r\n", true, true, true, "3.0", newer_free},
      // The latest build is this one: no new version, said only when asked.
      {"NorvoMediaLin 16422 1 2.0\n", true, false, false, "2.0", up_to_date},
      {"NorvoMediaLin 16422 1 2.0\n", false, false, false, "2.0", ""},
      // Malformed and commented lines are passed over.
      {"garbage\nNorvoMediaLin sixteen 1 9.9\n\n#NorvoMediaLin 99999 1 9.9\nNorvoMediaLin 16500 16000 2.2\n", false,
       true, true, "2.2", NewVersionMessage("2.2", true)},
      {"garbage\nNorvoMediaLin 99999\n", false, false, false, std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    LocalHttpServer server("200 OK", c.reply);
    UpdateCheckResult r = CheckForUpdate(c.asked, server.url());
    EXPECT_EQ(r.code, err::kNone);
    EXPECT_EQ(r.newer, c.newer);
    EXPECT_EQ(r.free, c.free);
    EXPECT_EQ(r.version, c.version);
    EXPECT_EQ(r.message, c.message);
  }
}

TEST_F(UpdateCheckTest, UnreachableServerIsSilentUnlessAsked) {
  const std::string url = ClosedPortUrl();
  UpdateCheckResult automatic = CheckForUpdate(false, url);
  EXPECT_NE(automatic.code, err::kNone);
  EXPECT_FALSE(automatic.newer);
  EXPECT_EQ(automatic.message, "");
  UpdateCheckResult asked = CheckForUpdate(true, url);
  EXPECT_NE(asked.code, err::kNone);
  EXPECT_EQ(asked.message, UpdateServerUnreachableMessage());

  // An HTTP error page is no update file, even one that looks like a record.
  LocalHttpServer server("404 Not Found", "NorvoMediaLin 99999 1 9.9\n");
  UpdateCheckResult missing = CheckForUpdate(false, server.url());
  EXPECT_NE(missing.code, err::kNone);
  EXPECT_FALSE(missing.newer);
  EXPECT_EQ(missing.message, "");
}

// --- norvo-cli update-check ------------------------------------------------

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(int fd) {
  std::string text;
  std::array<char, 4096> buffer{};
  for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) text.append(buffer.data(), static_cast<std::size_t>(n));
  return text;
}

// The norvo-cli built beside this test.
std::filesystem::path CliPath() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "cli" / "norvo-cli";
}

CliRun RunCli(const std::vector<std::string>& args) {
  const std::filesystem::path cli = CliPath();
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) return {};
  // Built before the fork: the server thread runs meanwhile.
  std::vector<char*> argv{const_cast<char*>(cli.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::execv(cli.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  CliRun run;
  run.out = ReadAll(out[0]);  // the replies are small: no pipe fills up
  run.err = ReadAll(err[0]);
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST_F(UpdateCheckTest, CliPrintsTheOutcomeAsJson) {
  if (!std::filesystem::exists(CliPath())) GTEST_SKIP() << "norvo-cli is not built";
  LocalHttpServer server("200 OK", "NorvoMediaLin 17000 16500 \"3.0\" rc\n");
  CliRun run = RunCli({"update-check", "--url", server.url(), "--json"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "{\n"
            "  \"newer\": true,\n"
            "  \"free\": false,\n"
            "  \"version\": \"\\\"3.0\\\" rc\",\n"
            "  \"message\": \"A new version (\\\"3.0\\\" rc) is available for download. Would you like to go to the "
            "website?\"\n"
            "}\n");

  run = RunCli({"update-check", "--url", ClosedPortUrl(), "--json"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(UpdateServerUnreachableMessage()), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("(error -36)"), std::string::npos) << run.err;

  run = RunCli({"update-check", "--json", "--url"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("--url needs a value"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace norvo::app
