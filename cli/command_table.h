#pragma once

#include <array>

#include "agent/relay.h"
#include "cli/commands.h"
#include "cli/invocation.h"

enum class OptionKind {
  kCommand,    // the one command of the run: sets the command letter
  kParameter,  // fills a field for the command
  kImmediate,  // runs at once and ends the run, whatever else was given
};

// The request a command sends: the format's first conversion takes the
// command letter, the others the texts of `fields` in order.
using RequestFields = std::array<Field, 4>;

struct RequestFormat {
  const char* format = nullptr;
  RequestFields fields{};
};

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

constexpr RequestFormat kLetter{"%c"};
constexpr RequestFormat kLevelLine{"%c %s\n", {kLevel}};

// The long options are registered in this order; the option parser reports a
// long-only one as the value 0 with its index.
// clang-format off
inline constexpr OptionRow kOptionTable[] = {
    {"configRuvo",     '\0', kImmediate, kNone,        {},                      kNotRead,  runConfigRuvo},
    {"addr",           'a',  kParameter, kAddr},
    {"reboot",         'b',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"forcedReboot",   'B',  kCommand,   kNone,        kLetter,                 kNotRead,  runRemote},
    {"setdns",         'D',  kCommand,   kNone,        {"%c %s\n", {kAddr}},    kText,     runRemote},
    {"getCpuid",       'c',  kCommand,   kCpuNumber,   {"%c %s", {kCpuNumber}}, kVpdBlock, runRemote},
    {"getTemp",        'C',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"getdns",         'd',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"setip",          'E',  kCommand,   kNone,
     {"%c %s%s %s %s", {kInterfaceName, kAddr, kMask, kGateway}},               kText,     runRemote},
    {"getip",          'e',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"forcedShutdown", 'f',  kCommand,   kNone,        kLetter,                 kNotRead,  runRemote},
    {"gateway",        'g',  kParameter, kGateway},
    {"hbpoll",         'h',  kCommand,   kLevel,       kLevelLine,              kText,     runRemote},
    {"getHost",        'H',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"interface",      'i',  kParameter, kInterface},
    {"hostIp",         'I',  kParameter, kHostIp},
    {"setRuvo",        'J',  kCommand,   kNone,        {"%c p=%s s=%s", {kAddr, kGateway}},
                                                                                kNotRead,  runSetRuvo,
     {kAddr, kGateway}},
    {"getRuvo",        'j',  kCommand,   kNone,        {},                      kNotRead,  runGetRuvo},
    {"level",          'l',  kParameter, kLevel},
    {"getversion",     'L',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"mask",           'm',  kParameter, kMask},
    {"filename",       'n',  kParameter, kFilename},
    {"setZarnPort",    'o',  kCommand,   kNewPort,     {"%c %s", {kNewPort}},   kText,     runSetZarnPort,
     {kNewPort, kHostIp, kGateway}},
    {"getZarnPort",    'O',  kCommand,   kNone,        {},                      kNotRead,  runGetZarnPort},
    {"mcpoll",         'p',  kCommand,   kLevel,       kLevelLine,              kText,     runRemote},
    {"shutdown",       's',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"metric",         't',  kParameter, kMetric},
    {"getTime",        'T',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"getfeatures",    'v',  kCommand,   kNone,        kLetter,                 kText,     runRemote},
    {"wait",           'w',  kParameter, kWaitSeconds},
    {"help",           '?',  kImmediate, kNone,        {},                      kNotRead,  runHelp},
    {"version",        '\0', kImmediate, kNone,        {},                      kNotRead,  runVersion},
};
// clang-format on

}  // namespace option_table

using option_table::kOptionTable;
