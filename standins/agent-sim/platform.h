#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What the simulated platform remembers between requests: `E` sets the
// network settings that `e` shows, `D` the DNS server that `d` shows, and
// `J` the link's addresses, which `e` shows too.
struct Platform {
  std::string ip = "10.20.30.40";
  std::string mask = "255.255.255.0";
  std::string gateway = "10.20.30.1";
  std::string interface;
  std::string dns = "10.20.30.2";
  std::string linkPlatform = "169.254.101.3";
  std::string linkSp = "169.254.101.2";
};

inline constexpr std::string_view kPortConfirmed = "<cmdRetVal>0</cmdRetVal>";
inline constexpr std::string_view kPortRefused = "<cmdRetVal>1</cmdRetVal>";

// Takes in what `request` changes and returns the platform's text answer,
// without the end-of-text byte.
std::string answerText(Platform& platform, std::string_view request);

// The port an "o PORT" request asks for, when it names one from 1 to 65535.
std::optional<std::uint16_t> requestedPort(std::string_view request);

// The block answering "c N": `size` bytes, byte i being (i + N) mod 256.
std::string vpdBlock(std::string_view request, long size);
