#pragma once

#include <array>

#include "agent/relay.h"
#include "cli/commands.h"
#include "cli/invocation.h"

enum class OptionKind {
  kCommand,    // the one command of the run: sets the command letter
  kParameter,  // fills a field for the command
  kImmediate,  // runs at once and ends the run, whatever else was given
  kTrace,      // the run's steps are traced on standard error
};

// The request a command sends: its format's "%c" takes the command letter,
// and each "%s" after it the text of the next of `fields`.
using RequestFields = std::array<Field, 4>;

struct RequestFormat {
  const char* format = nullptr;
  RequestFields fields{};
};

// Never defined: a request format that does not fit its fields calls it
// while the table is compiled, which stops the build.
void requestFormatDoesNotFitItsFields();

// A request format checked when the table is compiled: "%c" first, then one
// "%s" for each field, and no other conversion.
consteval RequestFormat request(const char* format, RequestFields fields = {}) {
  std::size_t wanted = 1;
  for (const Field field : fields) {
    wanted += field == Field::kNone ? 0 : 1;
  }
  std::size_t conversions = 0;
  for (const char* at = format; *at != '\0'; ++at) {
    if (*at == '%') {
      ++at;
      if (*at != (conversions == 0 ? 'c' : 's')) {
        requestFormatDoesNotFitItsFields();
      }
      ++conversions;
    }
  }
  if (conversions != wanted) {
    requestFormatDoesNotFitItsFields();
  }
  return {format, fields};
}

// One option of the command line, and everything the program knows of it.
struct OptionRow {
  const char* longName;
  char letter;  // the short option; '\0' for a long-only one
  OptionKind kind;
  Field argument;  // where the argument goes; kNone: it takes none
  RequestFormat request{};
  ReplyKind reply = ReplyKind::kNotRead;
  Handler handler = nullptr;
  std::array<Field, 3> plain{};  // texts that must be plain before it runs
};

namespace option_table {

using enum Field;
using enum OptionKind;
using enum ReplyKind;

constexpr RequestFormat kLetter = request("%c");
constexpr RequestFormat kLevelLine = request("%c %s\n", {kLevel});

// The usage text lists the rows in this order; the option parser reports a
// long-only option as the value 0 with its index.
// clang-format off
inline constexpr OptionRow kOptionTable[] = {
    {"reboot",         'b',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"forcedReboot",   'B',  kCommand,   kNone,        kLetter,                 kNotRead,  runRemote},
    {"getCpuid",       'c',  kCommand,   kCpuNumber,   request("%c %s", {kCpuNumber}), kVpdBlock, runRemote},
    {"getTemp",        'C',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"setdns",         'D',  kCommand,   kNone,        request("%c %s\n", {kAddr}),    kText,     runRemote},
    {"getdns",         'd',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"setip",          'E',  kCommand,   kNone,
     request("%c %s%s %s %s", {kInterfaceName, kAddr, kMask, kGateway}),         kText,     runRemote},
    {"getip",          'e',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"forcedShutdown", 'f',  kCommand,   kNone,        kLetter,                 kNotRead,  runRemote},
    {"getHost",        'H',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"hbpoll",         'h',  kCommand,   kLevel,       kLevelLine,              kText,     runRemote},
    {"setRuvo",        'J',  kCommand,   kNone,        request("%c p=%s s=%s", {kAddr, kGateway}),
                                                                                kNotRead,  runSetRuvo,
     {kAddr, kGateway}},
    {"getRuvo",        'j',  kCommand,   kNone,        {},                      kNotRead,  runGetRuvo},
    {"getversion",     'L',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"setZarnPort",    'o',  kCommand,   kNewPort,     request("%c %s", {kNewPort}),   kText,     runSetZarnPort,
     {kNewPort, kHostIp, kGateway}},
    {"getZarnPort",    'O',  kCommand,   kNone,        {},                      kNotRead,  runGetZarnPort},
    {"mcpoll",         'p',  kCommand,   kLevel,       kLevelLine,              kText,     runRemote},
    {"shutdown",       's',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"getTime",        'T',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"getfeatures",    'v',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"help",           '?',  kImmediate, kNone,        {},                      kNotRead,  runHelp},
    {"addr",           'a',  kParameter, kAddr},
    {"filename",       'n',  kParameter, kFilename},
    {"gateway",        'g',  kParameter, kGateway},
    {"hostIp",         'I',  kParameter, kHostIp},
    {"mask",           'm',  kParameter, kMask},
    {"interface",      'i',  kParameter, kInterface},
    {"level",          'l',  kParameter, kLevel},
    // Stored and sent nowhere: no command reads it.
    {"metric",         't',  kParameter, kMetric},
    // Not in the usage text, nor are the long-only options below.
    {"wait",           'w',  kParameter, kWaitSeconds},
    {"configRuvo",     '\0', kImmediate, kNone,        {},                      kNotRead,  runConfigRuvo},
    {"version",        '\0', kImmediate, kNone,        {},                      kNotRead,  runVersion},
    {"trace",          '\0', kTrace,     kNone},
};
// clang-format on

}  // namespace option_table

using option_table::kOptionTable;
