// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/test_environment.h"
#include "app/update_check.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/time.h>
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
#include <tuple>
#include <utility>

namespace norvo::app {
namespace {

constexpr timeval kServerPatience{10, 0};  // the server gives up by itself after this

// A TCP socket bound to a free port of 127.0.0.1.
int BindLoopback(int* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
  EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  *port = ntohs(address.sin_port);
  return fd;
}
std::string Url(int port) { return "http://127.0.0.1:" + std::to_string(port) + "/update.txt"; }
// A port on 127.0.0.1 on which nothing listens.
std::string ClosedPortUrl() {
  int port = 0;
  ::close(BindLoopback(&port));
  return Url(port);
}

// A one-shot HTTP server in a thread: it answers one request with a fixed
// reply, keeps the request, and gives up when nobody comes.
class LocalHttpServer {
 public:
  LocalHttpServer(const std::string& status, const std::string& body) : fd_(BindLoopback(&port_)) {
    EXPECT_EQ(::listen(fd_, 4), 0);
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &kServerPatience, sizeof kServerPatience);  // bounds accept too
    const std::string reply = "HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    thread_ = std::thread([this, reply] {
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &kServerPatience, sizeof kServerPatience);
      std::array<char, 1024> buffer{};
      for (ssize_t n; request_.find("\r\n\r\n") == std::string::npos && request_.size() < 16384 &&
                      (n = ::recv(c, buffer.data(), buffer.size(), 0)) > 0;) {
        request_.append(buffer.data(), static_cast<std::size_t>(n));
      }
      (void)!::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);  // small: one send takes it all
      ::close(c);
    });
  }
  ~LocalHttpServer() {
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
  }
  std::string url() const { return Url(port_); }
  // The request line received ("GET /path?query HTTP/1.1"); waits for the server.
  std::string requestLine() {
    if (thread_.joinable()) thread_.join();
    return request_.substr(0, request_.find("\r\n"));
  }

 private:
  int port_ = 0;
  int fd_;
  std::string request_;
  std::thread thread_;
};

// The command-line program reads the settings: kept away from the real ones.
class UpdateCheckTest : public ::testing::Test {
 protected:
  testing::IsolatedEnvironment env_{"update"};
  void SetUp() override {
    // A proxy from the environment would carry the request away from 127.0.0.1.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      ::unsetenv(name);
    }
  }
};

TEST_F(UpdateCheckTest, ReplyGivesTheFirstWellFormedLinuxRecord) {
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

  // The last line needs no line end; the version keeps at most twenty
  // characters, not bytes.
  for (const auto& [line, version] : {std::pair{"NorvoMediaLin64 17000 16000 3.0", "3.0"},
                                      std::pair{"NorvoMediaLin 1 1 1234567890abcdefghijKLMN\n", "1234567890abcdefghij"},
                                      std::pair{"NorvoMediaLin 1 1 Versión ünïcødé 2.0 ok\n", "Versión ünïcødé 2.0 "}}) {
    record = ParseUpdateReply(line);
    ASSERT_TRUE(record) << line;
    EXPECT_EQ(record->version, version);
  }
}

TEST_F(UpdateCheckTest, RequestCarriesTheKernelVersionReplyDecidesFailuresAreSilentUnlessAsked) {
  EXPECT_FALSE(ParseKernelRelease("unknown"));
  EXPECT_FALSE(ParseKernelRelease("6"));
  EXPECT_EQ(UpdateRequestUrl("http://h/u.txt?channel=beta", std::nullopt),
            "http://h/u.txt?channel=beta&os=linux&MajVers=unknown&MinVers=unknown");
  utsname names{};
  ASSERT_EQ(::uname(&names), 0);
  unsigned major = 0, minor = 0;
  ASSERT_EQ(std::sscanf(names.release, "%u.%u", &major, &minor), 2);
  std::array<char, 100> request{};
  std::snprintf(request.data(), request.size(), "GET /update.txt?os=linux&MajVers=0x%08x&MinVers=0x%08x HTTP/1.1",
                major, minor);

  const std::string unreachable = UpdateServerUnreachableMessage();
  struct Case {
    const char* status;  // no server at all when null
    const char* reply;
    bool asked;
    bool newer;
    bool free;
    std::optional<std::string> version;
    std::string message;
  };
  const Case cases[] = {
      // Free only up to this build: 16423 and on pay.
      {"200 OK", "# Norvo\nNorvoMediaLin 16800 16423 2.4\n", false, true, false, "2.4",
       "A new version (2.4) is available for download. Would you like to go to the website?"},
      {"200 OK", "NorvoMediaLin\t17000\t16422\t3.0\r\n", true, true, true, "3.0",
       "A new version (3.0) is available for free download. Would you like to go to the website?"},
      // The latest build is this one: no new version, said only when asked.
      {"200 OK", "NorvoMediaLin 16422 1 2.0\n", true, false, false, "2.0",
       "Your software is up to date. There is no new version available at this time."},
      {"200 OK", "NorvoMediaLin 16422 1 2.0\n", false, false, false, "2.0", ""},
      {"200 OK", "garbage\nNorvoMediaLin 99999\n", false, false, false, std::nullopt, ""},
      // An HTTP error page is no update file, even one that looks like a
      // record; like a server that cannot be reached, it is news only when asked.
      {"404 Not Found", "NorvoMediaLin 99999 1 9.9\n", false, false, false, std::nullopt, ""},
      {"404 Not Found", "NorvoMediaLin 99999 1 9.9\n", true, false, false, std::nullopt, unreachable},
      {nullptr, "", false, false, false, std::nullopt, ""},
      {nullptr, "", true, false, false, std::nullopt, unreachable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.status ? c.status : "closed port") + (c.asked ? ", asked: " : ": ") + c.reply);
    std::optional<LocalHttpServer> server;
    if (c.status) server.emplace(c.status, c.reply);
    UpdateCheckResult r = CheckForUpdate(c.asked, server ? server->url() : ClosedPortUrl());
    EXPECT_EQ(r.code == err::kNone, c.status && c.status[0] == '2');
    EXPECT_EQ(r.newer, c.newer);
    EXPECT_EQ(r.free, c.free);
    EXPECT_EQ(r.version, c.version);
    EXPECT_EQ(r.message, c.message);
    if (server) {
      EXPECT_EQ(server->requestLine(), request.data());
    }
  }
}

// norvo-cli update-check, the norvo-cli built beside this test: exit status
// and what it printed to either stream.
std::pair<int, std::string> RunCli(const std::string& args) {
  const auto cli = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "cli" / "norvo-cli";
  FILE* pipe = ::popen(("'" + cli.string() + "' update-check " + args + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {-1, ""};
  std::string out;
  std::array<char, 4096> buffer{};
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) out.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST_F(UpdateCheckTest, CliPrintsTheOutcomeAsJson) {
  LocalHttpServer server("200 OK", "NorvoMediaLin 17000 16500 \"3.0\" rc\n");
  auto [status, out] = RunCli("--url " + server.url() + " --json");
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "{\n  \"newer\": true,\n  \"free\": false,\n  \"version\": \"\\\"3.0\\\" rc\",\n"
                 "  \"message\": \"A new version (\\\"3.0\\\" rc) is available for download. Would you like to go to "
                 "the website?\"\n}\n");

  std::tie(status, out) = RunCli("--url " + ClosedPortUrl() + " --json");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out.find('{'), std::string::npos) << out;
  EXPECT_NE(out.find(UpdateServerUnreachableMessage()), std::string::npos) << out;
  EXPECT_NE(out.find("(error -36)"), std::string::npos) << out;

  // A command line that does not fit: exit status 2 and one line naming it.
  std::tie(status, out) = RunCli("--json --url");
  EXPECT_EQ(status, 2);
  EXPECT_NE(out.find("--url needs URL; see norvo-cli help update-check"), std::string::npos) << out;
}

}  // namespace
}  // namespace norvo::app
