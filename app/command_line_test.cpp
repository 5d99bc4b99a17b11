// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"

#include <gtest/gtest.h>
#include <semaphore.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace norvo::app {
namespace {

using Args = std::vector<std::string>;
using Kind = CommandLineRequest::Kind;

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/norvo-cmdline-XXXXXX";
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    // Named POSIX objects are machine-wide: each test uses a channel of its own.
    channel_ = "norvo-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override {
    CmdLineMap::removeNamedObjects(channel_);
    std::filesystem::remove_all(dir_);
  }
  std::string MakeFile(const std::string& relative) {
    std::filesystem::path p = std::filesystem::path(dir_) / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p) << "x";
    return p.string();
  }

  std::string dir_;
  std::string channel_;
};

// --- splitting and classification ------------------------------------------

TEST_F(CommandLineTest, SplitsOnBlanksAndGroupsQuotedText) {
  EXPECT_EQ(SplitCommandLine("norvo a.jpg  b.jpg\tc.jpg"), (Args{"norvo", "a.jpg", "b.jpg", "c.jpg"}));
  EXPECT_EQ(SplitCommandLine("  norvo   "), (Args{"norvo"}));
  EXPECT_EQ(SplitCommandLine(""), Args{});
  // Quotes group blanks and vanish, wherever they stand in an argument.
  EXPECT_EQ(SplitCommandLine("norvo \"/home/me/My Photos/a b.jpg\" x"),
            (Args{"norvo", "/home/me/My Photos/a b.jpg", "x"}));
  EXPECT_EQ(SplitCommandLine("norvo pre\"fix and\"post"), (Args{"norvo", "prefix andpost"}));
  // An empty pair is an (empty) argument of its own.
  EXPECT_EQ(SplitCommandLine("norvo \"\" x"), (Args{"norvo", "", "x"}));
  // An unclosed quote runs to the end of the line.
  EXPECT_EQ(SplitCommandLine("norvo \"open ended  "), (Args{"norvo", "open ended  "}));
  // Backslashes are ordinary characters.
  EXPECT_EQ(SplitCommandLine("norvo C:\\x\\ y"), (Args{"norvo", "C:\\x\\", "y"}));
}

TEST_F(CommandLineTest, JoinedArgumentsSplitBackUnchanged) {
  const Args args{"/usr/bin/norvo", "plain.jpg", "with blank.jpg", "", "tab\there", "/ü/日本.png"};
  std::optional<std::string> line = JoinCommandLine(args);
  ASSERT_TRUE(line);
  EXPECT_EQ(SplitCommandLine(*line), args);
  // The syntax has no way to carry a double quote.
  EXPECT_FALSE(JoinCommandLine({"norvo", "say \"cheese\".jpg"}));
}

TEST_F(CommandLineTest, QuotedCatalogPathWithBlanksInAnyCaseOpensThatCatalog) {
  const std::string catalog = MakeFile("My Catalogs/Summer 2024.NRK");
  const std::string line = "norvo \"" + catalog + "\" other.jpg \"more files\"";
  CommandLineRequest request = ClassifyCommandLine(SplitCommandLine(line));
  EXPECT_EQ(request.kind, Kind::kOpenCatalog);
  EXPECT_EQ(request.paths, Args{catalog});  // the rest is ignored

  const std::string lower = MakeFile("plain.nrk");
  request = ClassifyCommandLine({"norvo", lower});
  EXPECT_EQ(request.kind, Kind::kOpenCatalog);
  EXPECT_EQ(request.paths, Args{lower});
}

TEST_F(CommandLineTest, OtherArgumentsAreFilesAndFoldersToAdd) {
  const std::string photo = MakeFile("Trip/photo one.jpg");
  const std::string folder = dir_ + "/Trip";
  // A catalog named second is not opened: only the first argument counts.
  const std::string catalog = MakeFile("later.nrk");
  CommandLineRequest request =
      ClassifyCommandLine(SplitCommandLine("norvo \"" + photo + "\" \"\" " + folder + " " + catalog));
  EXPECT_EQ(request.kind, Kind::kAddFiles);
  EXPECT_EQ(request.paths, (Args{photo, folder, catalog}));

  // A catalog name that does not exist is added like any other name.
  const std::string missing = dir_ + "/gone.nrk";
  request = ClassifyCommandLine({"norvo", missing, photo});
  EXPECT_EQ(request.kind, Kind::kAddFiles);
  EXPECT_EQ(request.paths, (Args{missing, photo}));

  // "nrk" without the dot is no catalog either.
  const std::string not_catalog = MakeFile("backupnrk");
  EXPECT_EQ(ClassifyCommandLine({"norvo", not_catalog}).kind, Kind::kAddFiles);

  // The program alone, or with only empty arguments, asks for nothing.
  EXPECT_EQ(ClassifyCommandLine({"norvo"}).kind, Kind::kNothing);
  EXPECT_EQ(ClassifyCommandLine({"norvo", ""}).kind, Kind::kNothing);
}

// --- the hand-over channel ---------------------------------------------------

TEST_F(CommandLineTest, PutGetClearRoundTripBetweenMappings) {
  CmdLineMap sender;
  CmdLineMap receiver;
  EXPECT_EQ(sender.put("norvo x"), err::kBadFileNumber);  // no block yet
  ASSERT_EQ(receiver.create(channel_), err::kNone);
  ASSERT_EQ(sender.create(channel_), err::kNone);
  EXPECT_EQ(receiver.get(), "");

  // Text beyond Latin-1, and a character outside the BMP (a surrogate pair).
  const std::string text = "norvo \"/home/zoë/Фото/日本 旅行/😀.jpg\"";
  ASSERT_EQ(sender.put(text), err::kNone);
  EXPECT_EQ(receiver.get(), text);
  EXPECT_EQ(receiver.get(), text);  // reading does not consume

  // A Linux file name need not be UTF-8; its bytes come back as they were.
  const std::string raw = "norvo /media/old/caf\xE9-\xFF\xC3.jpg";
  ASSERT_EQ(sender.put(raw), err::kNone);
  EXPECT_EQ(receiver.get(), raw);

  ASSERT_EQ(receiver.clear(), err::kNone);
  EXPECT_EQ(sender.get(), "");
  sender.destroy();
  EXPECT_EQ(sender.get(), "");
}

TEST_F(CommandLineTest, EveryCreateZeroesTheBlock) {
  CmdLineMap first;
  ASSERT_EQ(first.create(channel_), err::kNone);
  ASSERT_EQ(first.put("norvo pending.jpg"), err::kNone);
  CmdLineMap later;
  ASSERT_EQ(later.create(channel_), err::kNone);
  EXPECT_EQ(first.get(), "");
}

TEST_F(CommandLineTest, TextOf32768UnitsIsNotDeliveredAndPreviousContentStays) {
  CmdLineMap map;
  ASSERT_EQ(map.create(channel_), err::kNone);
  ASSERT_EQ(map.put("norvo previous.jpg"), err::kNone);

  EXPECT_EQ(map.put(std::string(kMaxCmdLineUnits, 'a')), err::kParam);
  EXPECT_EQ(map.get(), "norvo previous.jpg");

  // The limit counts UTF-16 units: 16384 characters outside the BMP are
  // 32768 units, one too many, though they are far fewer characters.
  std::string astral;
  for (std::size_t i = 0; i < kMaxCmdLineUnits / 2; ++i) astral += "😀";
  EXPECT_EQ(map.put(astral), err::kParam);
  EXPECT_EQ(map.get(), "norvo previous.jpg");

  // One unit fewer fits, with its NUL in the last two bytes of the block.
  const std::string longest = std::string(kMaxCmdLineUnits - 1, 'b');
  ASSERT_EQ(map.put(longest), err::kNone);
  EXPECT_EQ(map.get(), longest);
  const std::string astral_fit = astral.substr(4) + "c";  // 16383 pairs + 1
  ASSERT_EQ(map.put(astral_fit), err::kNone);
  EXPECT_EQ(map.get(), astral_fit);

  // A shorter text after a long one does not leave the old tail behind.
  ASSERT_EQ(map.put("short"), err::kNone);
  EXPECT_EQ(map.get(), "short");
  EXPECT_EQ(map.put(std::string("nul\0inside", 10)), err::kParam);
  EXPECT_EQ(map.get(), "short");
}

TEST_F(CommandLineTest, GuardLeftTakenByDeadHolderIsRecovered) {
  CmdLineMap map;
  ASSERT_EQ(map.create(channel_), err::kNone);
  // Take the guard the way a process would that died in the middle of a copy.
  const std::string guard_name = PosixObjectName(channel_ + std::string(kCmdLineGuardSuffix));
  sem_t* sem = ::sem_open(guard_name.c_str(), 0);
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
