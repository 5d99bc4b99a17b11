// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/single_instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace norvo::app {
namespace {

using Args = std::vector<std::string>;
using Clock = std::chrono::steady_clock;
// Generous: the hand-over itself takes milliseconds, but a loaded test
// machine must not turn a slow run into a failure.
constexpr auto kPatience = std::chrono::seconds(20);

// What a forked later launch reports back through a pipe.
struct LaunchOutcome {
  InstanceRole role = InstanceRole::kFirst;
  ErrorCode code = err::kNone;
};

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/norvo-inst-XXXXXX";
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    runtime_ = dir_ + "/run";
    ASSERT_EQ(::mkdir(runtime_.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((dir_ + "/config").c_str(), 0700), 0);
    SaveAndSet("XDG_RUNTIME_DIR", runtime_);
    SaveAndSet("XDG_CONFIG_HOME", dir_ + "/config");
    // Short names: a socket path must fit in 108 bytes.
    static int test_number = 0;
    const std::string unique = std::to_string(::getpid()) + "-" + std::to_string(++test_number);
    names_.lock = "NORVO_TEST_LOCK_" + unique;
    names_.message = "NORVO_TEST_MSG_" + unique;
    names_.channel = "norvo-test-" + unique;
  }
  void TearDown() override {
    CmdLineMap::removeNamedObjects(names_.channel);
    for (auto& [name, value] : saved_env_) {
      value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
    std::filesystem::remove_all(dir_);
  }
  void SaveAndSet(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_env_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  // Forks a later launch that runs start-up step 2 with `args` in the
  // folder `cwd`, reports its outcome and ends.
  pid_t LaunchLater(const Args& args, const std::string& cwd, int* outcome_fd) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(fds[0]);
      LaunchOutcome outcome;
      if (::chdir(cwd.c_str()) == 0) {
        AppInstance instance;
        outcome.code = instance.start(args, &outcome.role, names_);
      }
      [[maybe_unused]] ssize_t n = ::write(fds[1], &outcome, sizeof outcome);
      ::_exit(0);
    }
    ::close(fds[1]);
    *outcome_fd = fds[0];
    return pid;
  }
  static LaunchOutcome Finish(pid_t pid, int outcome_fd) {
    LaunchOutcome outcome;
    outcome.code = err::kIo;
    EXPECT_EQ(::read(outcome_fd, &outcome, sizeof outcome), static_cast<ssize_t>(sizeof outcome));
    ::close(outcome_fd);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return outcome;
  }
  // Runs the first instance's event loop until a hand-over arrives.
  static std::optional<std::string> AwaitHandOver(AppInstance& first) {
    std::optional<std::string> received;
    const auto deadline = Clock::now() + kPatience;
    while (!received && Clock::now() < deadline) {
      first.poll(50, [&](const std::string& text) { received = text; });
    }
    return received;
  }

  std::string dir_;
  std::string runtime_;
  InstanceNames names_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_env_;
};

// --- the runtime folder ----------------------------------------------------

TEST_F(SingleInstanceTest, RuntimeFolderIsXdgRuntimeDirElsePrivateFolderInBase) {
  std::string folder;
  ASSERT_EQ(RuntimeFolder(&folder), err::kNone);
  EXPECT_EQ(folder, runtime_);

  ::unsetenv("XDG_RUNTIME_DIR");
  const std::string base = dir_ + "/tmp";
  ASSERT_EQ(::mkdir(base.c_str(), 01777), 0);
  const std::string expected = base + "/norvo-" + std::to_string(::getuid());
  ASSERT_EQ(RuntimeFolder(&folder, base), err::kNone);
  EXPECT_EQ(folder, expected);
  struct stat st {};
  ASSERT_EQ(::stat(expected.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  // A folder left open to others is closed again.
  ASSERT_EQ(::chmod(expected.c_str(), 0755), 0);
  ASSERT_EQ(RuntimeFolder(&folder, base), err::kNone);
  ASSERT_EQ(::stat(expected.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  // A link planted under the name is refused rather than followed.
  std::filesystem::remove(expected);
  std::filesystem::create_directory(dir_ + "/elsewhere");
  std::filesystem::create_directory_symlink(dir_ + "/elsewhere", expected);
  EXPECT_EQ(RuntimeFolder(&folder, base), err::kPermission);
}

// --- the lock -------------------------------------------------------------

TEST_F(SingleInstanceTest, LockAdmitsOneHolderAtATime) {
  SingleInstanceLock first;
  SingleInstanceLock second;
  ASSERT_EQ(first.acquire(names_.lock), err::kNone);
  EXPECT_TRUE(first.held());
  EXPECT_EQ(second.acquire(names_.lock), err::kOpenForWriting);
  EXPECT_FALSE(second.held());
  // Another lock object in this process closing its own descriptor does not
  // release the holder's lock.
  second.release();
  SingleInstanceLock third;
  EXPECT_EQ(third.acquire(names_.lock), err::kOpenForWriting);
  first.release();
  EXPECT_EQ(second.acquire(names_.lock), err::kNone);
  EXPECT_TRUE(std::filesystem::exists(runtime_ + "/" + names_.lock));
}

TEST_F(SingleInstanceTest, LockFileLeftByDeadProcessDoesNotBlock) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    SingleInstanceLock lock;
    const char ok = lock.acquire(names_.lock) == err::kNone ? 'y' : 'n';
    [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
    for (;;) ::pause();  // dies holding the lock
  }
  ::close(ready[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(ok, 'y');

  SingleInstanceLock lock;
  EXPECT_EQ(lock.acquire(names_.lock), err::kOpenForWriting);  // the holder still lives
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
  ASSERT_TRUE(std::filesystem::exists(runtime_ + "/" + names_.lock));
  EXPECT_EQ(lock.acquire(names_.lock), err::kNone);
}

// --- the notification -------------------------------------------------------

TEST_F(SingleInstanceTest, NotificationHandsTheChannelTextToTheCallbackAndClearsIt) {
  CmdLineMap map;
  ASSERT_EQ(map.create(names_.channel), err::kNone);
  HandOverListener listener;
  ASSERT_EQ(listener.start(names_.message), err::kNone);
  ASSERT_EQ(map.put("norvo /photos/a.jpg"), err::kNone);

  ErrorCode notified = err::kIo;
  std::thread later([&] { notified = NotifyRunningInstance(static_cast<int>(kPatience / std::chrono::milliseconds(1)),
                                                           names_.message); });
  std::vector<std::string> received;
  const auto deadline = Clock::now() + kPatience;
  while (received.empty() && Clock::now() < deadline) {
    listener.poll(50, map, [&](const std::string& text) { received.push_back(text); });
  }
  later.join();
  EXPECT_EQ(notified, err::kNone);
  EXPECT_EQ(received, std::vector<std::string>{"norvo /photos/a.jpg"});
  EXPECT_EQ(map.get(), "");

  // Stopping removes the socket: nobody is left to answer.
  listener.stop();
  EXPECT_FALSE(std::filesystem::exists(runtime_ + "/" + names_.message));
  EXPECT_EQ(NotifyRunningInstance(kHandOverTimeoutMs, names_.message), err::kFileNotFound);
}

TEST_F(SingleInstanceTest, StaleSocketAndSilentClientsDoNotDisturbTheHandOver) {
  // A socket file whose listener died answers nobody...
  const std::string path = runtime_ + "/" + names_.message;
  {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(NotifyRunningInstance(kHandOverTimeoutMs, names_.message), err::kFileNotFound);

  // ... and the next first instance takes its place.
  CmdLineMap map;
  ASSERT_EQ(map.create(names_.channel), err::kNone);
  HandOverListener listener;
  ASSERT_EQ(listener.start(names_.message), err::kNone);
  ASSERT_EQ(map.put("norvo waiting.jpg"), err::kNone);

  // A client that connects and says nothing neither takes the text nor
  // holds the listener for good.
  const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(silent, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(::connect(silent, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  int calls = 0;
  EXPECT_EQ(listener.poll(0, map, [&](const std::string&) { ++calls; }), 0);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(map.get(), "norvo waiting.jpg");
  ::close(silent);
}

// --- two launches -------------------------------------------------------------

TEST_F(SingleInstanceTest, SecondLaunchHandsItsCommandLineToTheFirstAndEnds) {
  AppInstance first;
  InstanceRole role = InstanceRole::kNotDelivered;
  ASSERT_EQ(first.start({"norvo"}, &role, names_), err::kNone);
  ASSERT_EQ(role, InstanceRole::kFirst);

  // The later launch runs in a folder of its own with relative names.
  std::filesystem::create_directories(dir_ + "/work/Holiday Photos");
  // What the launch's getcwd() will say, links resolved.
  const std::string cwd = std::filesystem::canonical(dir_ + "/work").string();
  std::ofstream(cwd + "/Holiday Photos/Trip 1.NRK") << "x";
  int outcome_fd = -1;
  const pid_t pid = LaunchLater({"/usr/bin/norvo", "Holiday Photos/Trip 1.NRK", "extra.jpg"}, cwd, &outcome_fd);
  ASSERT_GT(pid, 0);

  std::optional<std::string> received = AwaitHandOver(first);
  const LaunchOutcome outcome = Finish(pid, outcome_fd);
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
  const pid_t overlong = LaunchLater({"/usr/bin/norvo", "/" + std::string(kMaxCmdLineUnits, 'x')}, cwd, &outcome_fd);
  ASSERT_GT(overlong, 0);
  received = AwaitHandOver(first);
  const LaunchOutcome refused = Finish(overlong, outcome_fd);
  EXPECT_EQ(refused.role, InstanceRole::kHandedOver);
  EXPECT_EQ(refused.code, err::kParam);
  ASSERT_TRUE(received);
  EXPECT_EQ(*received, "");
}

TEST_F(SingleInstanceTest, LaunchWhileHolderDoesNotListenEndsUndelivered) {
  SingleInstanceLock holder;  // an instance still starting: locked, not listening yet
  ASSERT_EQ(holder.acquire(names_.lock), err::kNone);
  AppInstance later;
  InstanceRole role = InstanceRole::kFirst;
  EXPECT_EQ(later.start({"norvo", "/a.jpg"}, &role, names_), err::kFileNotFound);
  EXPECT_EQ(role, InstanceRole::kNotDelivered);
  EXPECT_EQ(later.descriptor(), -1);

  // Once the holder is gone, the next launch is the first instance.
  holder.release();
  AppInstance next;
  EXPECT_EQ(next.start({"norvo"}, &role, names_), err::kNone);
  EXPECT_EQ(role, InstanceRole::kFirst);
  EXPECT_GE(next.descriptor(), 0);
}

}  // namespace
}  // namespace norvo::app
