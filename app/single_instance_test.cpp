// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/test_environment.h"
#include "app/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace norvo::app {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;
using Clock = std::chrono::steady_clock;
// Generous: the hand-over itself takes milliseconds, but a loaded test
// machine must not turn a slow run into a failure.
constexpr auto kPatience = std::chrono::seconds(20);

// What a forked later launch reports back through a pipe.
struct LaunchOutcome {
  InstanceRole role = InstanceRole::kFirst;
  ErrorCode code = err::kIo;
};

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Short names, for a socket path must fit in 108 bytes; unique, for
    // named POSIX objects are machine-wide.
    static int test_number = 0;
    const std::string unique = std::to_string(::getpid()) + "-" + std::to_string(++test_number);
    names_ = {"NORVO_TEST_LOCK_" + unique, "NORVO_TEST_MSG_" + unique, "norvo-test-" + unique};
  }
  void TearDown() override { CmdLineMap::removeNamedObjects(names_.channel); }

  // Forks a later launch that runs start-up step 2 with `args` in the folder
  // `cwd` while `first` runs its event loop; returns the launch's outcome and
  // what the first instance received.
  std::pair<LaunchOutcome, std::optional<std::string>> LaunchLater(AppInstance& first, const Args& args,
                                                                   const std::string& cwd) {
    LaunchOutcome outcome;
    int fds[2];
    if (::pipe(fds) != 0) return {outcome, std::nullopt};
    const pid_t pid = ::fork();
    if (pid == 0) {
      LaunchOutcome child;
      AppInstance later;
      if (::chdir(cwd.c_str()) == 0) child.code = later.start(args, &child.role, names_);
      (void)!::write(fds[1], &child, sizeof child);
      ::_exit(0);
    }
    ::close(fds[1]);
    EXPECT_GT(pid, 0);
    std::optional<std::string> received;
    for (const auto deadline = Clock::now() + kPatience; !received && Clock::now() < deadline;) {
      first.poll(50, [&](const std::string& text) { received = text; });
    }
    EXPECT_EQ(::read(fds[0], &outcome, sizeof outcome), static_cast<ssize_t>(sizeof outcome));
    ::close(fds[0]);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return {outcome, received};
  }

  testing::IsolatedEnvironment env_{"inst"};
  const std::string runtime_ = env_.root() + "/run";
  InstanceNames names_;
};

TEST_F(SingleInstanceTest, RuntimeFolderIsXdgRuntimeDirElsePrivateFolderInBase) {
  std::string folder;
  ASSERT_EQ(RuntimeFolder(&folder), err::kNone);
  EXPECT_EQ(folder, runtime_);

  ::unsetenv("XDG_RUNTIME_DIR");
  const std::string base = env_.root() + "/tmp";
  const std::string expected = base + "/norvo-" + std::to_string(::getuid());
  // Made private; a folder left open to others is closed again.
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(RuntimeFolder(&folder, base), err::kNone);
    EXPECT_EQ(folder, expected);
    struct stat st {};
    ASSERT_EQ(::stat(expected.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(::chmod(expected.c_str(), 0755), 0);
  }
  // A link planted under the name is refused rather than followed.
  fs::remove(expected);
  fs::create_directory(env_.root() + "/elsewhere");
  fs::create_directory_symlink(env_.root() + "/elsewhere", expected);
  EXPECT_EQ(RuntimeFolder(&folder, base), err::kPermission);
}

TEST_F(SingleInstanceTest, LockAdmitsOneHolderLaunchesMeanwhileEndUndeliveredStaleLockFileDoesNotBlock) {
  SingleInstanceLock first, second, third;
  ASSERT_EQ(first.acquire(names_.lock), err::kNone);
  EXPECT_TRUE(first.held());
  EXPECT_EQ(second.acquire(names_.lock), err::kOpenForWriting);
  EXPECT_FALSE(second.held());
  // Another lock object in this process closing its own descriptor does not
  // release the holder's lock.
  second.release();
  EXPECT_EQ(third.acquire(names_.lock), err::kOpenForWriting);
  // A launch meanwhile, while the holder is still starting (locked, not
  // listening yet), ends undelivered.
  AppInstance later;
  InstanceRole role = InstanceRole::kFirst;
  EXPECT_EQ(later.start({"norvo", "/a.jpg"}, &role, names_), err::kFileNotFound);
  EXPECT_EQ(role, InstanceRole::kNotDelivered);
  EXPECT_EQ(later.descriptor(), -1);
  first.release();

  // A holder that dies without releasing leaves the file behind, but not
  // the lock.
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    SingleInstanceLock lock;
    ::_exit(lock.acquire(names_.lock) == err::kNone ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(fs::exists(runtime_ + "/" + names_.lock));
  // The next launch is the first instance.
  AppInstance next;
  EXPECT_EQ(next.start({"norvo"}, &role, names_), err::kNone);
  EXPECT_EQ(role, InstanceRole::kFirst);
  EXPECT_GE(next.descriptor(), 0);
}

TEST_F(SingleInstanceTest, NotificationHandsOverTheChannelTextPastStaleSocketsAndSilentClients) {
  // A socket file whose listener died answers nobody...
  const std::string path = runtime_ + "/" + names_.message;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ::close(stale);
  EXPECT_EQ(NotifyRunningInstance(kHandOverTimeoutMs, names_.message), err::kFileNotFound);

  // ... and the next first instance takes its place.
  CmdLineMap map;
  ASSERT_EQ(map.create(names_.channel), err::kNone);
  HandOverListener listener;
  ASSERT_EQ(listener.start(names_.message), err::kNone);
  ASSERT_EQ(map.put("norvo /photos/a.jpg"), err::kNone);

  // A client that connects and says nothing neither takes the text nor
  // holds the listener for good.
  const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(silent, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  int calls = 0;
  EXPECT_EQ(listener.poll(0, map, [&](const std::string&) { ++calls; }), 0);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(map.get(), "norvo /photos/a.jpg");

  ErrorCode notified = err::kIo;
  const int patience_ms = static_cast<int>(kPatience / std::chrono::milliseconds(1));
  std::thread later([&] { notified = NotifyRunningInstance(patience_ms, names_.message); });
  std::vector<std::string> received;
  for (const auto deadline = Clock::now() + kPatience; received.empty() && Clock::now() < deadline;) {
    listener.poll(50, map, [&](const std::string& text) { received.push_back(text); });
  }
  later.join();
  ::close(silent);
  EXPECT_EQ(notified, err::kNone);
  EXPECT_EQ(received, std::vector<std::string>{"norvo /photos/a.jpg"});
  EXPECT_EQ(map.get(), "");

  // Stopping removes the socket: nobody is left to answer.
  listener.stop();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(NotifyRunningInstance(kHandOverTimeoutMs, names_.message), err::kFileNotFound);
}

TEST_F(SingleInstanceTest, SecondLaunchHandsItsCommandLineToTheFirstAndEnds) {
  AppInstance first;
  InstanceRole role = InstanceRole::kNotDelivered;
  ASSERT_EQ(first.start({"norvo"}, &role, names_), err::kNone);
  ASSERT_EQ(role, InstanceRole::kFirst);

  // The later launch runs in a folder of its own with relative names; the
  // folder as its getcwd() will say, links resolved.
  fs::create_directories(env_.root() + "/work/Holiday Photos");
  const std::string cwd = fs::canonical(env_.root() + "/work").string();
  std::ofstream(cwd + "/Holiday Photos/Trip 1.NRK") << "x";
  auto [outcome, received] = LaunchLater(first, {"/usr/bin/norvo", "Holiday Photos/Trip 1.NRK", "extra.jpg"}, cwd);
  EXPECT_EQ(outcome.role, InstanceRole::kHandedOver);
  EXPECT_EQ(outcome.code, err::kNone);
  ASSERT_TRUE(received);
  const Args args = SplitCommandLine(*received);
  EXPECT_EQ(args, (Args{"/usr/bin/norvo", cwd + "/Holiday Photos/Trip 1.NRK", cwd + "/extra.jpg"}));
  // The first instance, in its own working folder, opens that catalog.
  const CommandLineRequest request = ClassifyCommandLine(args);
  EXPECT_EQ(request.kind, CommandLineRequest::Kind::kOpenCatalog);
  EXPECT_EQ(request.paths, Args{cwd + "/Holiday Photos/Trip 1.NRK"});

  // A launch whose command line does not fit is not delivered, but the
  // first instance is still called (and comes to the front) with what the
  // channel holds: nothing.
  std::tie(outcome, received) = LaunchLater(first, {"/usr/bin/norvo", "/" + std::string(kMaxCmdLineUnits, 'x')}, cwd);
  EXPECT_EQ(outcome.role, InstanceRole::kHandedOver);
  EXPECT_EQ(outcome.code, err::kParam);
  EXPECT_EQ(received, "");
}

}  // namespace
}  // namespace norvo::app
