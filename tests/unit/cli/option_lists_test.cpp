// Adding an option is one row of the table plus its prose: the usage text,
// the bash completion's word lists, the manual's option lists and the
// protocol note's requests must name exactly the table's options.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/command_table.h"
#include "cli/usage.h"

namespace {

using Listing = std::set<std::string>;

bool isParameter(const OptionRow& row) { return row.kind == OptionKind::kParameter; }
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

// The same options as single words: "-x" and "--name".
template <typename Wanted>
Listing words(Wanted wanted) {
  Listing listed;
  for (const std::string& option : options(wanted)) {
    std::istringstream split(option);
    for (std::string word; split >> word;) {
      listed.insert(word);
    }
  }
  return listed;
}

std::string sourceFile(const std::string& name) {
  std::ostringstream text;
  text << std::ifstream(std::string(ZARN_SOURCE_DIR) + "/" + name).rdbuf();
  return text.str();
}

// `text` from the line holding `start` to the next line that starts with `next`.
std::string part(const std::string& text, const std::string& start, const std::string& next) {
  const std::size_t from = text.find(start);
  return from == std::string::npos ? "" : text.substr(from, text.find("\n" + next, from) - from);
}

// The first submatch of every match of `pattern` in `text`, spaces squeezed.
Listing matches(const std::string& text, const char* pattern) {
  Listing listed;
  const std::regex expression(pattern);
  for (std::sregex_iterator at(text.begin(), text.end(), expression), end; at != end; ++at) {
    listed.insert(std::regex_replace((*at)[1].str(), std::regex(" +"), " "));
  }
  return listed;
}

// The usage text keeps its bytes; it leaves out the wait parameter and the
// long-only options.
TEST(OptionLists, Usage) {
  const std::string usage(kUsageText);
  const auto inUsage = [](const OptionRow& row) {
    return row.letter != '\0' && row.argument != Field::kWaitSeconds;
  };
  const char* line = "\n      (-\\S +--\\w+)";
  EXPECT_EQ(matches(part(usage, "where command is:", "  and"), line),
            options([&](const OptionRow& row) { return inUsage(row) && !isParameter(row); }));
  EXPECT_EQ(matches(part(usage, "and parameters are:", "\n"), line),
            options([&](const OptionRow& row) { return inUsage(row) && isParameter(row); }));
}

TEST(OptionLists, Completion) {
  const std::string completion = sourceFile("packaging/zarn.bash-completion");
  const auto array = [&](const std::string& name) {
    std::smatch content;
    std::regex_search(completion, content, std::regex(name + "=\\(([^)]*)\\)"));
    return matches(content[1].str(), "'?(-[^\\s']+)");
  };
  EXPECT_EQ(array("_zarn_commands"), words(isCommand));
  EXPECT_EQ(array("_zarn_immediate"), words(isImmediate));
  EXPECT_EQ(array("_zarn_parameters"), words(isParameter));
}

// Each ".TP" entry of a section: ".BR \-x ", " \-\-name" or ".B \-\-name".
TEST(OptionLists, Manual) {
  const std::string manual = sourceFile("docs/man/zarn.1");
  const std::regex entry(R"(\.TP\n\.BR? (?:\\-(\S) ", " )?\\-\\-(\w+))");
  const auto section = [&](const std::string& name) {
    const std::string text = part(manual, ".SH " + name + "\n", ".SH ");
    Listing listed;
    for (std::sregex_iterator at(text.begin(), text.end(), entry), end; at != end; ++at) {
      const auto& found = *at;
      listed.insert((found[1].matched ? "-" + found[1].str() + " " : "") + "--" + found[2].str());
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
  EXPECT_EQ(matches(part(sourceFile("docs/protocol.md"), "| Letter |", "\n"), "\n\\| `(\\w)` \\|"),
            letters);
}

}  // namespace
