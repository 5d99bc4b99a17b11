// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/test_environment.h"
#include "app/command_line.h"

#include <gtest/gtest.h>
#include <semaphore.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace norvo::app {
namespace {

using Args = std::vector<std::string>;
using Kind = CommandLineRequest::Kind;

class CommandLineTest : public ::testing::Test {
 protected:
  void TearDown() override { CmdLineMap::removeNamedObjects(channel_); }
  std::string MakeFile(const std::string& relative) {
    const std::filesystem::path p = env_.root() + "/" + relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p) << "x";
    return p.string();
  }

  testing::IsolatedEnvironment env_{"cmdline"};
  // Named POSIX objects are machine-wide: each test uses a channel of its own.
  const std::string channel_ = "norvo-test-" + std::to_string(::getpid()) + "-" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(CommandLineTest, SplitsOnBlanksGroupsQuotedTextAndJoinsBack) {
  const std::pair<const char*, Args> cases[] = {
      {"norvo a.jpg  b.jpg\tc.jpg", {"norvo", "a.jpg", "b.jpg", "c.jpg"}},
      {"  norvo   ", {"norvo"}},
      {"", {}},
      // Quotes group blanks and vanish, wherever they stand in an argument.
      {"norvo \"/home/me/My Photos/a b.jpg\" x", {"norvo", "/home/me/My Photos/a b.jpg", "x"}},
      {"norvo pre\"fix and\"post", {"norvo", "prefix andpost"}},
      // An empty pair is an (empty) argument of its own; an unclosed quote
      // runs to the end of the line; backslashes are ordinary characters.
      {"norvo \"\" x", {"norvo", "", "x"}},
      {"norvo \"open ended  ", {"norvo", "open ended  "}},
      {"norvo C:\\x\\ y", {"norvo", "C:\\x\\", "y"}},
  };
  for (const auto& [line, args] : cases) EXPECT_EQ(SplitCommandLine(line), args) << line;

  const Args args{"/usr/bin/norvo", "plain.jpg", "with blank.jpg", "", "tab\there", "/ü/日本.png"};
  std::optional<std::string> line = JoinCommandLine(args);
  ASSERT_TRUE(line);
  EXPECT_EQ(SplitCommandLine(*line), args);
  // The syntax has no way to carry a double quote.
  EXPECT_FALSE(JoinCommandLine({"norvo", "say \"cheese\".jpg"}));
}

// Only an existing catalog named first is opened; anything else is added.
TEST_F(CommandLineTest, FirstArgumentNamingACatalogOpensItOtherwiseEverythingIsAdded) {
  const std::string catalog = MakeFile("My Catalogs/Summer 2024.NRK");
  const std::string lower = MakeFile("plain.nrk");
  const std::string photo = MakeFile("Trip/photo one.jpg");
  const std::string folder = env_.root() + "/Trip";
  const std::string missing = env_.root() + "/gone.nrk";
  const std::string not_catalog = MakeFile("backupnrk");  // "nrk" without the dot
  const struct {
    Args args;
    Kind kind;
    Args paths;
  } cases[] = {
      {SplitCommandLine("norvo \"" + catalog + "\" other.jpg \"more files\""), Kind::kOpenCatalog, {catalog}},
      {{"norvo", lower}, Kind::kOpenCatalog, {lower}},
      {SplitCommandLine("norvo \"" + photo + "\" \"\" " + folder + " " + lower), Kind::kAddFiles,
       {photo, folder, lower}},
      {{"norvo", missing, photo}, Kind::kAddFiles, {missing, photo}},
      {{"norvo", not_catalog}, Kind::kAddFiles, {not_catalog}},
      {{"norvo"}, Kind::kNothing, {}},
      {{"norvo", ""}, Kind::kNothing, {}},
  };
  for (const auto& c : cases) {
    const CommandLineRequest request = ClassifyCommandLine(c.args);
    EXPECT_EQ(request.kind, c.kind) << c.args.back();
    EXPECT_EQ(request.paths, c.paths) << c.args.back();
  }
}

TEST_F(CommandLineTest, ChannelCarriesTextBetweenMappingsAndEveryCreateZeroesIt) {
  CmdLineMap sender, receiver;
  EXPECT_EQ(sender.put("norvo x"), err::kBadFileNumber);  // no block yet
  ASSERT_EQ(receiver.create(channel_), err::kNone);
  ASSERT_EQ(sender.create(channel_), err::kNone);
  EXPECT_EQ(receiver.get(), "");

  // Text beyond Latin-1 with a character outside the BMP (a surrogate pair),
  // and a file name that is not UTF-8: each comes back as it was, and reading
  // does not consume it.
  for (const std::string text : {"norvo \"/home/zoë/Фото/日本 旅行/😀.jpg\"", "norvo /media/old/caf\xE9-\xFF\xC3.jpg"}) {
    ASSERT_EQ(sender.put(text), err::kNone);
    EXPECT_EQ(receiver.get(), text);
    EXPECT_EQ(receiver.get(), text);
  }
  ASSERT_EQ(receiver.clear(), err::kNone);
  EXPECT_EQ(sender.get(), "");

  ASSERT_EQ(sender.put("norvo pending.jpg"), err::kNone);
  CmdLineMap later;
  ASSERT_EQ(later.create(channel_), err::kNone);
  EXPECT_EQ(receiver.get(), "");
  sender.destroy();
  EXPECT_EQ(sender.get(), "");
}

TEST_F(CommandLineTest, TextOf32768UnitsIsNotDeliveredAndPreviousContentStays) {
  CmdLineMap map;
  ASSERT_EQ(map.create(channel_), err::kNone);
  ASSERT_EQ(map.put("norvo previous.jpg"), err::kNone);
  // The limit counts UTF-16 units: 16384 characters outside the BMP are
  // 32768 units, one too many, though they are far fewer characters.
  std::string astral;
  for (std::size_t i = 0; i < kMaxCmdLineUnits / 2; ++i) astral += "😀";
  for (const std::string& refused : {std::string(kMaxCmdLineUnits, 'a'), astral}) {
    EXPECT_EQ(map.put(refused), err::kParam);
    EXPECT_EQ(map.get(), "norvo previous.jpg");
  }
  // One unit fewer fits, with its NUL in the last two bytes of the block; a
  // shorter text after a long one does not leave the old tail behind.
  const std::string longest(kMaxCmdLineUnits - 1, 'b'), astral_longest = astral.substr(4) + "c";
  for (const std::string& fits : {longest, astral_longest, std::string("short")}) {
    ASSERT_EQ(map.put(fits), err::kNone);
    EXPECT_EQ(map.get(), fits);
  }
  EXPECT_EQ(map.put(std::string("nul\0inside", 10)), err::kParam);
  EXPECT_EQ(map.get(), "short");
}

TEST_F(CommandLineTest, GuardLeftTakenByDeadHolderIsRecovered) {
  CmdLineMap map;
  ASSERT_EQ(map.create(channel_), err::kNone);
  // Take the guard the way a process would that died in the middle of a copy.
  sem_t* sem = ::sem_open(PosixObjectName(channel_ + std::string(kCmdLineGuardSuffix)).c_str(), 0);
  ASSERT_NE(sem, SEM_FAILED);
  ASSERT_EQ(::sem_wait(sem), 0);
  ASSERT_EQ(map.put("norvo after.jpg"), err::kNone);
  EXPECT_EQ(map.get(), "norvo after.jpg");
  // The guard works again, and at most one holder gets in.
  int value = -1;
  ASSERT_EQ(::sem_getvalue(sem, &value), 0);
  EXPECT_EQ(value, 1);
  ::sem_close(sem);
}

}  // namespace
}  // namespace norvo::app
