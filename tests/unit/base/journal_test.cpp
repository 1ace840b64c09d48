#include "base/journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <system_error>

#include "base/in_place.h"
#include "base/output.h"

namespace {

const std::string kOld = "127.0.0.1 localhost\n169.254.7.3\tplatform.ruvo.local old\n::1 ip6\n";
const std::string kNew = "127.0.0.1 localhost\n::1 ip6\n192.168.1.1  platform.ruvo.local\n";

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// `head` then `tail`, appended: g++ 12 at -O3 warns of an overlapping copy in
// the prepend that "literal" + string makes.
std::string joined(std::string head, const std::string& tail) { return head.append(tail); }

// Writes `text` into the file at `path` without replacing it.
void overwriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A cut-short rewrite of a table: its journal is committed, the table is
// whatever a test makes of it.
class InterruptedRewrite : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(::mkdtemp(dir_.data()), nullptr);
    target_ = dir_ + "/hosts";
    journal_ = target_ + ".zarn-journal";
    overwriteFile(target_, kOld);
    leaveJournal(kNew);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(dir_, ignored);
  }

  void leaveJournal(const std::string& next) {
    const UniqueFd journal(::open(journal_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600));
    const UniqueFd target(::open(target_.c_str(), O_RDONLY));
    const std::optional<ContentSpan> old =
        startJournal(journal.get(), target_.c_str(), target.get());
    ASSERT_TRUE(old && writeAll(journal.get(), next) && sealJournal(journal.get(), *old));
  }

  // Runs the recovery; the table afterwards, and whether the journal is
  // gone and was set aside.
  struct Outcome {
    bool completed;
    std::string table;
    bool journalLeft;
    bool setAside;
  };
  Outcome recover() {
    const bool completed = completeInterruptedRewrite(target_.c_str(), journal_.c_str());
    return {completed, contentOf(target_), std::filesystem::exists(journal_),
            std::filesystem::exists(journal_ + ".set-aside")};
  }

  void expectSetAside(const std::string& table, const std::string& name) {
    const Outcome outcome = recover();
    EXPECT_TRUE(outcome.completed) << name;
    EXPECT_EQ(outcome.table, table) << name;
    EXPECT_FALSE(outcome.journalLeft) << name;
    EXPECT_TRUE(outcome.setAside) << name;
  }

  std::string dir_ = "/tmp/zarn-journal-XXXXXX";
  std::string target_;
  std::string journal_;
};

TEST_F(InterruptedRewrite, IsCompletedOnlyOverWhatTheRewriteCanHaveLeft) {
  const std::string shorter = kOld.substr(0, 20);
  const std::string largest(static_cast<std::size_t>(kJournalContentLimit), 'x');
  struct Case {
    const char* name;
    std::string oldTable;
    std::string newTable;
    std::string tableNow;
    bool applied;  // the new table results; otherwise the table stays as it is now
  };
  const Case cases[] = {
      {"old", kOld, kNew, kOld, true},
      {"new", kOld, kNew, kNew, true},
      {"first bytes new", kOld, kNew, kNew.substr(0, 30) + kOld.substr(30), true},
      {"new, the old tail not yet cut", kOld, kNew, kNew + kOld.substr(kNew.size()), true},
      {"growing, half written", shorter, kNew, kNew.substr(0, 40), true},
      {"growing from one byte", "x", kNew, "x", true},
      {"the largest contents", largest, largest.substr(1) + "y", largest, true},
      {"a line appended", kOld, kNew, kOld + "10.9.9.9 admin\n", false},
      {"a byte changed", kOld, kNew, joined("x", kOld.substr(1)), false},
      {"shorter than both", kOld, kNew, kOld.substr(0, 20), false},
      {"longer than both", shorter, kNew, kNew + "\n", false},
      {"emptied", kOld, kNew, "", false},
      // A NUL just past the end of one content is not that content's.
      {"old tail, NUL where the new ends", kOld, kNew, kNew + '\0' + kOld.substr(kNew.size() + 1),
       false},
      {"growing, NUL where the old ends", shorter, kNew,
       kNew.substr(0, 20) + '\0' + kNew.substr(21, 19), false},
  };
  for (const Case& c : cases) {
    overwriteFile(target_, c.oldTable);
    leaveJournal(c.newTable);
    overwriteFile(target_, c.tableNow);
    std::filesystem::remove(journal_ + ".set-aside");
    const Outcome outcome = recover();
    EXPECT_TRUE(outcome.completed) << c.name;
    EXPECT_EQ(outcome.table, c.applied ? c.newTable : c.tableNow) << c.name;
    EXPECT_FALSE(outcome.journalLeft) << c.name;
    EXPECT_EQ(outcome.setAside, !c.applied) << c.name;
  }
}

// Another file's journal, and one whose table was replaced, are held end to
// end; here, one whose table is gone, which is not made again.
TEST_F(InterruptedRewrite, ForATableThatIsGoneIsSetAside) {
  std::filesystem::remove(target_);
  testing::internal::CaptureStderr();
  expectSetAside("", "gone");
  EXPECT_TRUE(testing::internal::GetCapturedStderr().ends_with(": the file is gone\n"));
  EXPECT_FALSE(std::filesystem::exists(target_));
}

TEST_F(InterruptedRewrite, ThatIsNotWholeIsSetAside) {
  const std::string whole = contentOf(journal_);
  const std::size_t content = whole.find(kOld);
  const std::function<std::string()> damaged[] = {
      [&] { return std::string(); },
      [&] { return std::string("abc"); },
      [&] { return std::string("-3\n"); },
      [&] { return joined("+0\n", kOld); },
      [&] { return joined("0junk\n1.1.1.1 injected\n", kOld); },
      [&] { return joined("zarn-journal 2", whole.substr(14)); },
      [&] { return whole.substr(0, whole.size() - 1); },
      [&] { return whole + "\n"; },
      [&] { return whole.substr(0, content) + "X" + whole.substr(content + 1); },  // content
      [&] {  // the checksum's last digit
        std::string changed = whole;
        changed[whole.size() - 2] = whole[whole.size() - 2] == '0' ? '1' : '0';
        return changed;
      },
      [&] {  // the new content's length
        std::string moved = whole;
        moved[content - 2] = static_cast<char>(moved[content - 2] + 1);
        return moved;
      },
  };
  for (std::size_t i = 0; i < std::size(damaged); ++i) {
    overwriteFile(journal_, damaged[i]());
    ::chmod(journal_.c_str(), 0600);
    expectSetAside(kOld, joined("damaged journal ", std::to_string(i)));
  }
}

// The journal's own shapes (another user's, linked, not a regular file) are
// held end to end; here, the directory it stands in.
TEST_F(InterruptedRewrite, InADirectoryOthersCanWriteIsSetAside) {
  for (const mode_t mode : {01777U, 0770U}) {
    ASSERT_EQ(::chmod(dir_.c_str(), mode), 0);
    testing::internal::CaptureStderr();
    expectSetAside(kOld, joined("directory mode ", std::to_string(mode)));
    EXPECT_TRUE(testing::internal::GetCapturedStderr().ends_with(
        ": its directory can be written by others\n"));
    ASSERT_EQ(::chmod(dir_.c_str(), 0700), 0);
    std::filesystem::remove(journal_ + ".set-aside");
    leaveJournal(kNew);
  }
}

// A journal that cannot be examined (here, under a file) is reported, not
// taken for none.
TEST_F(InterruptedRewrite, ThatCannotBeExaminedIsReported) {
  journal_ = target_ + "/journal";
  testing::internal::CaptureStderr();
  EXPECT_TRUE(recover().completed);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            joined("ZARN: journal " + journal_ + " for ", target_) +
                " cannot be set aside (cannot be examined): Not a directory\n");
}

}  // namespace
