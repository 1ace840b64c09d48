#include "agent/relay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture_output.h"

namespace {

using namespace std::string_literals;

struct ChunkCase {
  std::string chunk;
  std::string shown;
  ChunkOutcome outcome;
};

TEST(Relay, TextChunks) {
  const std::vector<ChunkCase> cases{
      {"OK\x03"s, "OK\n", ChunkOutcome::kComplete},
      {"partial"s, "partial", ChunkOutcome::kMore},
      {"a\0b\x03"s, "a b\n", ChunkOutcome::kComplete},
      {"\0\0"s, "  ", ChunkOutcome::kMore},
      {"x\x03tail\x03"s, "x\ntail\x03", ChunkOutcome::kComplete},
      {"\x03\0after"s, "\n after", ChunkOutcome::kComplete},
  };
  for (const ChunkCase& c : cases) {
    std::string chunk = c.chunk;
    ChunkOutcome outcome = ChunkOutcome::kMore;
    const std::string shown =
        captureOutput(STDOUT_FILENO, [&] { outcome = relayTextChunk(chunk); });
    EXPECT_EQ(shown, c.shown) << testing::PrintToString(c.chunk);
    EXPECT_EQ(outcome, c.outcome) << testing::PrintToString(c.chunk);
  }
}

}  // namespace
