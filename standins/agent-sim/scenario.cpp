#include "standins/agent-sim/scenario.h"

#include <fstream>
#include <string>
#include <utility>

#include "standins/agent-sim/text.h"

namespace {

constexpr long kMaxBytes = 1L << 30;
constexpr long kMaxMs = 3600L * 1000;

constexpr BehaviourKey kKeys[] = {
    {.name = "reply",
     .kind = KeyKind::kText,
     .argument = "TEXT",
     .help = "answer text requests with TEXT (escapes \\\\ \\n \\r \\t \\xHH)"},
    {.name = "flood",
     .kind = KeyKind::kNumber,
     .argument = "N",
     .help = "answer text requests with N bytes of filler",
     .max = kMaxBytes,
     .number = &Behaviour::flood},
    {.name = "no-etx",
     .kind = KeyKind::kFlag,
     .argument = "",
     .help = "leave the end-of-text byte off text replies",
     .flag = &Behaviour::noEtx},
    {.name = "close-early",
     .kind = KeyKind::kFlag,
     .argument = "",
     .help = "close the connection right after the answer",
     .flag = &Behaviour::closeEarly},
    {.name = "silent",
     .kind = KeyKind::kFlag,
     .argument = "",
     .help = "never answer",
     .flag = &Behaviour::silent},
    {.name = "delay",
     .kind = KeyKind::kNumber,
     .argument = "MS",
     .help = "wait MS milliseconds before answering",
     .max = kMaxMs,
     .number = &Behaviour::delayMs},
    {.name = "chunk",
     .kind = KeyKind::kNumber,
     .argument = "N",
     .help = "write answers in pieces of N bytes (0: in one piece)",
     .max = kMaxBytes,
     .number = &Behaviour::chunk},
    {.name = "pause",
     .kind = KeyKind::kNumber,
     .argument = "MS",
     .help = "wait MS milliseconds between pieces (default 50 with chunk)",
     .max = kMaxMs,
     .number = &Behaviour::pauseMs},
    {.name = "vpd-size",
     .kind = KeyKind::kNumber,
     .argument = "N",
     .help = "make the block answering c N bytes long (default 128)",
     .max = 65536,
     .number = &Behaviour::vpdSize},
};

template <typename T>
void overlay(std::optional<T>& base, const std::optional<T>& top) {
  if (top) base = top;
}

void overlay(Behaviour& base, const Behaviour& top) {
  overlay(base.reply, top.reply);
  for (const BehaviourKey& key : kKeys) {
    if (key.number != nullptr) overlay(base.*key.number, top.*key.number);
    if (key.flag != nullptr) overlay(base.*key.flag, top.*key.flag);
  }
}

const BehaviourKey* findKey(std::string_view name) {
  for (const BehaviourKey& key : kKeys) {
    if (std::string_view(key.name) == name) return &key;
  }
  return nullptr;
}

// One line's words after the letter: "KEY" or "KEY=VALUE", where reply's
// value runs to the end of the line.
std::string applyWords(std::string_view words, Behaviour& behaviour) {
  while (!words.empty()) {
    if (words.front() == ' ' || words.front() == '\t') {
      words.remove_prefix(1);
      continue;
    }
    const bool lastWord = words.starts_with("reply=");
    const std::size_t end = lastWord ? words.size() : words.find_first_of(" \t");
    const std::string_view word = words.substr(0, end);
    words.remove_prefix(word.size());
    const std::size_t equals = word.find('=');
    const BehaviourKey* key = findKey(word.substr(0, equals));
    if (key == nullptr) return "unknown word '" + std::string(word.substr(0, equals)) + "'";
    const std::string value(equals == std::string_view::npos ? "" : word.substr(equals + 1));
    std::string error =
        setBehaviour(behaviour, *key, equals == std::string_view::npos ? nullptr : value.c_str());
    if (!error.empty()) return error;
  }
  return {};
}

std::string applyLine(std::string_view line, Scenario& scenario) {
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos || line[start] == '#') return {};
  line.remove_prefix(start);
  if (line.size() > 1 && line[1] != ' ' && line[1] != '\t') {
    return "a line starts with one request letter or '*'";
  }
  Behaviour& target = line[0] == '*' ? scenario.everyLetter : scenario.of(line[0]);
  return applyWords(line.substr(1), target);
}

std::string lineError(const char* path, int number, const std::string& error) {
  return std::string(path) + ":" + std::to_string(number) + ": " + error;
}

}  // namespace

std::span<const BehaviourKey> behaviourKeys() { return kKeys; }

std::string setBehaviour(Behaviour& behaviour, const BehaviourKey& key, const char* value) {
  const std::string name(key.name);
  if (key.kind == KeyKind::kFlag) {
    if (value != nullptr) return name + " takes no value";
    behaviour.*key.flag = true;
    return {};
  }
  if (value == nullptr) return name + " needs a value";
  if (key.kind == KeyKind::kText) {
    auto text = decodeEscapes(value);
    if (!text) return name + ": bad escape in '" + value + "'";
    behaviour.reply = std::move(text);
    return {};
  }
  const auto number = parseNumber(value, key.min, key.max);
  if (!number) return numberComplaint(name, value, key.min, key.max);
  behaviour.*key.number = number;
  return {};
}

Behaviour Scenario::answerFor(char letter) const {
  Behaviour behaviour = everyLetter;
  overlay(behaviour, letters[static_cast<unsigned char>(letter)]);
  return behaviour;
}

std::string loadScenario(const char* path, Scenario& scenario) {
  std::ifstream file(path);
  if (!file) return std::string(path) + ": cannot be read";
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    if (line.ends_with('\r')) line.pop_back();
    const std::string error = applyLine(line, scenario);
    if (!error.empty()) return lineError(path, number, error);
  }
  return {};
}
