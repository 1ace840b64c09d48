// zarn-agent-sim: a platform agent for tests and development. It answers
// each request letter with a plausible reply and misbehaves on request.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
  std::string listen = "127.0.0.1";
  int port = 6789;
  std::string log, ready, reply;
  bool hasReply = false, noEtx = false, closeEarly = false, silent = false;
  bool noConfirm = false, splitConfirm = false;
  long connections = -1, flood = -1;
  int delayMs = 0, chunk = 0, pauseMs = -1, vpdSize = 128;
};

constexpr char kHelp[] =
    "usage: zarn-agent-sim [options]\n"
    "  --listen ADDR  --port N (127.0.0.1:6789)  --log FILE  --ready FILE  --connections N\n"
    "  --reply TEXT (escapes \\\\ \\n \\t \\xHH)  --flood N  --no-etx  --close-early  --silent\n"
    "  --delay MS  --chunk N  --pause MS (50)  --vpd-size N (128)  --no-confirm  --split-confirm\n"
    "Replies: c N -> block byte i = (i+N)&0xff; o -> <cmdRetVal>0</cmdRetVal>; f B J -> none;\n"
    "T <time>2026-12-06 04:30:00</time>, C <temp>41</temp>, L <version>sim-1.0</version>,\n"
    "others <reply>ok</reply>; text replies end with ETX.\n";

std::string decode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char e = text[++i];
    if (e == 'n')
      out += '\n';
    else if (e == 't')
      out += '\t';
    else if (e == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else
      out += e;
  }
  return out;
}

std::string escape(const std::string& bytes) {
  std::string out;
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    char hex[8];
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c >= 0x20 && c <= 0x7e)
      out += static_cast<char>(c);
    else {
      (void)std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

// A whole decimal number, or `fallback` when the text is not one.
long number(const std::string& text, long fallback) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  return errno != 0 || end == text.c_str() || *end != '\0' ? fallback : value;
}

int smallNumber(const std::string& text, int fallback) {
  const long value = number(text, fallback);
  return value < 0 || value > 1 << 30 ? fallback : static_cast<int>(value);
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--help") {
      (void)std::fputs(kHelp, stdout);
      std::exit(0);
    } else if (a == "--listen")
      o.listen = value();
    else if (a == "--port")
      o.port = smallNumber(value(), -1);
    else if (a == "--log")
      o.log = value();
    else if (a == "--ready")
      o.ready = value();
    else if (a == "--connections")
      o.connections = number(value(), -1);
    else if (a == "--reply") {
      o.reply = decode(value());
      o.hasReply = true;
    } else if (a == "--flood")
      o.flood = number(value(), -1);
    else if (a == "--no-etx")
      o.noEtx = true;
    else if (a == "--close-early")
      o.closeEarly = true;
    else if (a == "--silent")
      o.silent = true;
    else if (a == "--delay")
      o.delayMs = smallNumber(value(), 0);
    else if (a == "--chunk")
      o.chunk = smallNumber(value(), 0);
    else if (a == "--pause")
      o.pauseMs = smallNumber(value(), -1);
    else if (a == "--vpd-size")
      o.vpdSize = smallNumber(value(), 128);
    else if (a == "--no-confirm")
      o.noConfirm = true;
    else if (a == "--split-confirm")
      o.splitConfirm = true;
    else {
      (void)std::fprintf(stderr, "zarn-agent-sim: unknown option %s\n", a.c_str());
      return false;
    }
  }
  if (o.port < 0 || o.port > 65535) {
    (void)std::fputs("zarn-agent-sim: --port needs a number from 0 to 65535\n", stderr);
    return false;
  }
  if (o.pauseMs < 0) o.pauseMs = o.chunk > 0 ? 50 : 0;
  return true;
}

void sleepMs(int ms) {
  if (ms > 0) usleep(static_cast<useconds_t>(ms) * 1000U);
}

void sendAll(int fd, const std::string& bytes, const Options& o) {
  const std::size_t piece = o.chunk > 0 ? static_cast<std::size_t>(o.chunk) : bytes.size();
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    if (at > 0) sleepMs(o.pauseMs);
    std::size_t left = std::min(piece, bytes.size() - at), done = 0;
    while (done < left) {
      const ssize_t n = send(fd, bytes.data() + at + done, left - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
}

// zarn writes each request with a single write, so the first read holds it.
std::string readRequest(int fd) {
  char buffer[4096];
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 5000) <= 0) return {};
  const ssize_t n = read(fd, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string textReply(char letter, const Options& o) {
  if (o.flood >= 0) {
    std::string filler;
    for (long i = 0; i < o.flood; ++i) filler += "0123456789abcdef"[i % 16];
    return filler;
  }
  if (o.hasReply) return o.reply;
  switch (letter) {
    case 'T': return "<time>2026-12-06 04:30:00</time>";
    case 'C': return "<temp>41</temp>";
    case 'L': return "<version>sim-1.0</version>";
    case 'o': return o.noConfirm ? "<cmdRetVal>1</cmdRetVal>" : "<cmdRetVal>0</cmdRetVal>";
    default: return "<reply>ok</reply>";
  }
}

void answer(int fd, const std::string& request, const Options& o) {
  const char letter = request.empty() ? '\0' : request[0];
  if (o.silent || letter == 'f' || letter == 'B' || letter == 'J') return;
  sleepMs(o.delayMs);
  if (letter == 'c') {
    const long cpu = number(request.substr(1), 0);
    std::string block;
    for (int i = 0; i < o.vpdSize; ++i) block += static_cast<char>((i + cpu) & 0xff);
    sendAll(fd, block, o);
    return;
  }
  const std::string text = textReply(letter, o) + (o.noEtx ? "" : "\x03");
  if (letter == 'o' && o.splitConfirm && !o.hasReply) {
    Options split = o;
    split.chunk = 12;
    if (split.pauseMs == 0) split.pauseMs = 50;
    sendAll(fd, text, split);
    return;
  }
  sendAll(fd, text, o);
}

void serve(int fd, const Options& o) {
  const std::string request = readRequest(fd);
  if (!o.log.empty()) {
    if (FILE* log = std::fopen(o.log.c_str(), "a")) {
      (void)std::fprintf(log, "%s\n", escape(request).c_str());
      (void)std::fclose(log);
    }
  }
  answer(fd, request, o);
  if (!o.closeEarly) {
    pollfd p{fd, POLLIN, 0};
    char sink[256];
    while (poll(&p, 1, 60000) > 0 && read(fd, sink, sizeof sink) > 0) {
    }
  }
  close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) return 2;
  (void)signal(SIGPIPE, SIG_IGN);
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  const int yes = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(o.port));
  if (inet_aton(o.listen.c_str(), &address.sin_addr) == 0 ||
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 8) != 0) {
    std::perror("zarn-agent-sim: listen");
    return 2;
  }
  if (!o.ready.empty()) {
    if (FILE* ready = std::fopen(o.ready.c_str(), "w")) (void)std::fclose(ready);
  }
  for (long served = 0; o.connections < 0 || served < o.connections; ++served) {
    const int client = accept(listener, nullptr, nullptr);
    if (client >= 0) serve(client, o);
  }
  close(listener);
  return 0;
}
