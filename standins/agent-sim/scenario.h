#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// How the simulator answers a request letter. Every field is optional: an
// unset one falls back to the layer below (command line, then defaults).
struct Behaviour {
  std::optional<std::string> reply;  // replaces the platform's text answer
  std::optional<long> flood;         // answer with this many filler bytes
  std::optional<bool> noEtx;
  std::optional<bool> closeEarly;
  std::optional<bool> silent;
  std::optional<long> delayMs;  // before the first byte
  std::optional<long> chunk;    // bytes per write; 0: one write
  std::optional<long> pauseMs;  // between writes
  std::optional<long> vpdSize;  // length of the block answering `c`
};

enum class KeyKind { kFlag, kNumber, kText };

// One setting of a Behaviour, spelt the same as a command-line option and as
// a word of a scenario line.
struct BehaviourKey {
  const char* name;
  KeyKind kind;
  std::string_view argument;  // what the value is called in the help
  std::string_view help;
  long min = 0;
  long max = 0;
  std::optional<long> Behaviour::*number = nullptr;
  std::optional<bool> Behaviour::*flag = nullptr;
};

std::span<const BehaviourKey> behaviourKeys();

// Sets `key` from `value` (null for a flag); returns why it was refused, or
// an empty text.
std::string setBehaviour(Behaviour& behaviour, const BehaviourKey& key, const char* value);

// The behaviours of every request letter: the whole table's, then each
// letter's own on top of it.
struct Scenario {
  Behaviour everyLetter;
  std::array<Behaviour, 256> letters;

  Behaviour& of(char letter) { return letters[static_cast<unsigned char>(letter)]; }
  [[nodiscard]] Behaviour answerFor(char letter) const;
};

// Lays the lines of the scenario file at `path` over `scenario`; returns an
// error message naming the file and line, or an empty text.
std::string loadScenario(const char* path, Scenario& scenario);
