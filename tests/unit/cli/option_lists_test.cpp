// Adding an option is one row of the table plus its prose: the manual's
// option lists and the protocol note's requests must name exactly the table's
// options.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_table.h"

namespace {

using Listing = std::set<std::string>;

// A parameter shapes the run of the command; --trace is listed with them.
bool isParameter(const OptionRow& row) {
  return row.kind == OptionKind::kParameter || row.kind == OptionKind::kTrace;
}
bool isCommand(const OptionRow& row) { return row.kind == OptionKind::kCommand; }
bool isImmediate(const OptionRow& row) { return row.kind == OptionKind::kImmediate; }

// "-x --name" for each row that `wanted` picks, "--name" for a long-only one.
template <typename Wanted>
Listing options(Wanted wanted) {
  Listing listed;
  for (const OptionRow& row : kOptionTable) {
    if (wanted(row)) {
      listed.insert((row.letter == '\0' ? "--" : std::string{'-', row.letter, ' ', '-', '-'}) +
                    row.longName);
    }
  }
  return listed;
}

// The words of `text`, split at white space.
Listing words(const std::string& text) {
  Listing listed;
  std::istringstream split(text);
  for (std::string word; split >> word;) {
    listed.insert(word);
  }
  return listed;
}

template <typename Wanted>
Listing optionWords(Wanted wanted) {
  Listing listed;
  for (const std::string& option : options(wanted)) {
    listed.merge(words(option));
  }
  return listed;
}

std::string sourceFile(const std::string& name) {
  std::ostringstream text;
  text << std::ifstream(std::string(ZARN_SOURCE_DIR) + "/" + name).rdbuf();
  return text.str();
}

// `text` from the end of `start` to the next `end`.
std::string between(const std::string& text, const std::string& start, const std::string& end) {
  const std::size_t from = text.find(start);
  if (from == std::string::npos) {
    return "";
  }
  const std::size_t begin = from + start.size();
  return text.substr(begin, text.find(end, begin) - begin);
}

// The lines of `text` that start with `prefix`, without it; with `after`,
// the lines that follow a line that is just `after`.
std::vector<std::string> linesAfter(const std::string& text, const std::string& prefix,
                                    const std::string& after = "") {
  std::vector<std::string> found;
  std::istringstream lines(text);
  bool follows = after.empty();
  for (std::string line; std::getline(lines, line);) {
    if (follows && line.starts_with(prefix)) {
      found.push_back(line.substr(prefix.size()));
    }
    follows = after.empty() || line == after;
  }
  return found;
}

// The build reads the completion's word lists off the table's source.
TEST(OptionLists, Completion) {
  std::ostringstream text;
  text << std::ifstream(std::string(ZARN_BINARY_DIR) + "/packaging/zarn.bash-completion").rdbuf();
  const std::string completion = text.str();
  const auto array = [&](const std::string& name) {
    std::string content = between(completion, name + "=(", ")");
    std::erase(content, '\'');
    return words(content);
  };
  EXPECT_EQ(array("_zarn_commands"), optionWords(isCommand));
  EXPECT_EQ(array("_zarn_immediate"), optionWords(isImmediate));
  EXPECT_EQ(array("_zarn_parameters"), optionWords(isParameter));
  EXPECT_EQ(array("_zarn_with_argument"),
            optionWords([](const OptionRow& row) { return row.argument != Field::kNone; }));
}

// The option an entry of the manual names: ".BR \-x ", " \-\-name ..." or
// ".B \-\-name".
std::string manualOption(std::string entry) {
  entry = entry.substr(entry.find(' ') + 1);
  const std::string letter = entry[2] == '\\' ? "" : std::string{'-', entry[2], ' '};
  const std::size_t name = entry.find("\\-\\-") + 4;
  std::size_t end = name;
  while (end < entry.size() && std::isalpha(static_cast<unsigned char>(entry[end]))) {
    ++end;
  }
  return letter + "--" + entry.substr(name, end - name);
}

TEST(OptionLists, Manual) {
  const std::string manual = sourceFile("docs/man/zarn.1");
  const auto section = [&](const std::string& name) {
    Listing listed;
    for (const std::string& entry :
         linesAfter(between(manual, ".SH " + name + "\n", "\n.SH "), ".B", ".TP")) {
      listed.insert(manualOption(entry));
    }
    return listed;
  };
  EXPECT_EQ(section("COMMANDS"), options([](const OptionRow& row) { return !isParameter(row); }));
  EXPECT_EQ(section("PARAMETERS"), options(isParameter));
}

TEST(OptionLists, ProtocolRequests) {
  Listing letters;
  for (const OptionRow& row : kOptionTable) {
    if (row.request.format != nullptr) {
      letters.insert(std::string{row.letter});
    }
  }
  Listing documented;
  for (const std::string& row :
       linesAfter(between(sourceFile("docs/protocol.md"), "| Letter |", "\n\n"), "| `")) {
    documented.insert(row.substr(0, 1));
  }
  EXPECT_EQ(documented, letters);
}

}  // namespace
