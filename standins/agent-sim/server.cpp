#include "standins/agent-sim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "standins/agent-sim/platform.h"
#include "standins/agent-sim/program.h"
#include "standins/agent-sim/text.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// The log shows this much of an answer; its notes give the full length.
constexpr std::size_t kLoggedAnswerBytes = 200;

// What a connection sends once its request is in, and how.
struct Answer {
  std::string bytes;
  Milliseconds delay{0};
  std::size_t chunk = 0;  // 0: one piece
  Milliseconds pause{0};
  bool closeEarly = false;
  std::string events;  // for the log: " silent", " moved=PORT", " readdressed=ADDR", ...
};

enum class Stage { kReading, kAnswering, kDraining, kDone };

struct Connection {
  UniqueFd fd;
  std::string peer;
  Stage stage = Stage::kReading;
  Answer answer;
  std::size_t sent = 0;
  std::size_t pieceEnd = 0;
  Clock::time_point dueAt;
};

struct Server {
  explicit Server(const SimOptions& simOptions) : options(simOptions) {}

  const SimOptions& options;
  UniqueFd listener;
  in_addr address{};
  std::uint16_t port = 0;
  UniqueFd log;
  Platform platform;
  std::vector<Connection> connections;
  long accepted = 0;
};

void warn(const std::string& what) {
  (void)std::fprintf(stderr, "zarn-agent-sim: %s\n", what.c_str());
}

std::string systemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// `addressToCome`: the address need not be held yet; connections arrive once it is.
UniqueFd openListener(in_addr address, std::uint16_t port, bool addressToCome, std::string& error) {
  UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const int yes = 1;
  const int freeBind = addressToCome ? 1 : 0;
  sockaddr_in socketAddress{};
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_addr = address;
  socketAddress.sin_port = htons(port);
  char text[INET_ADDRSTRLEN] = "?";
  (void)inet_ntop(AF_INET, &address, text, sizeof text);
  if (!fd.valid() || setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
      setsockopt(fd.get(), IPPROTO_IP, IP_FREEBIND, &freeBind, sizeof freeBind) != 0 ||
      bind(fd.get(), reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress) != 0 ||
      listen(fd.get(), 64) != 0) {
    error = systemError("cannot listen on " + std::string(text) + ":" + std::to_string(port));
    return UniqueFd();
  }
  return fd;
}

std::uint16_t boundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  (void)getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// Written aside and renamed, so that a reader finds the file whole or not at all.
bool announcePort(const std::string& path, std::uint16_t port) {
  if (path.empty()) return true;
  const std::string aside = path + ".part";
  FILE* file = std::fopen(aside.c_str(), "w");
  if (file == nullptr) return false;
  const bool written = std::fprintf(file, "%u\n", static_cast<unsigned>(port)) > 0;
  return std::fclose(file) == 0 && written && std::rename(aside.c_str(), path.c_str()) == 0;
}

void serveOn(Server& server, UniqueFd listener, in_addr address) {
  server.listener = std::move(listener);
  server.address = address;
  server.port = boundPort(server.listener.get());
  if (!announcePort(server.options.ready, server.port)) {
    warn(systemError("cannot write " + server.options.ready));
  }
}

bool listenOn(Server& server, in_addr address, std::uint16_t port) {
  std::string error;
  UniqueFd listener = openListener(address, port, false, error);
  if (!listener.valid()) {
    warn(error);
    return false;
  }
  serveOn(server, std::move(listener), address);
  return true;
}

std::string timestamp() {
  timespec now{};
  std::tm local{};
  char text[32];
  (void)clock_gettime(CLOCK_REALTIME, &now);
  (void)localtime_r(&now.tv_sec, &local);
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  (void)std::snprintf(text + length, sizeof text - length, ".%03ld", now.tv_nsec / 1000000);
  return text;
}

// How the answer departs from a prompt reply in one write, in the words of
// the scenario keys.
std::string notesOf(const Answer& answer) {
  std::string notes = answer.events;
  if (answer.delay.count() > 0) notes += " delay=" + std::to_string(answer.delay.count());
  if (answer.chunk > 0) {
    notes += " chunk=" + std::to_string(answer.chunk);
    notes += " pause=" + std::to_string(answer.pause.count());
  }
  if (answer.closeEarly) notes += " close-early";
  if (answer.bytes.size() > kLoggedAnswerBytes) {
    notes += " bytes=" + std::to_string(answer.bytes.size());
  }
  return notes.empty() ? "-" : notes.substr(1);
}

// One line per connection: time, peer, request, answer, notes, split by tabs
// (a tab inside the request or the answer is escaped).
void logExchange(const Server& server, const Connection& connection, std::string_view request) {
  if (!server.log.valid()) return;
  const std::string_view bytes = connection.answer.bytes;
  const std::string answer = bytes.empty() ? "-" : escapeBytes(bytes.substr(0, kLoggedAnswerBytes));
  const std::string line = timestamp() + "\t" + connection.peer + "\t" + escapeBytes(request) +
                           "\t" + answer + "\t" + notesOf(connection.answer) + "\n";
  if (write(server.log.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    warn(systemError("cannot write the log"));
  }
}

// Moves to the port an `o` request names once the answer confirms it.
std::string movePort(Server& server, std::string_view request, std::string text, Answer& answer) {
  if (server.options.keepPort || text.find(kPortConfirmed) == std::string::npos) return text;
  const auto port = requestedPort(request);
  if (port && (*port == server.port || listenOn(server, server.address, *port))) {
    answer.events += " moved=" + std::to_string(*port);
    return text;
  }
  answer.events += " refused-move";
  return std::string(kPortRefused);
}

// Follows a `J p=A s=S` as a platform does: the --readdress program gives
// the platform's end of the link address A, and the simulator serves there.
// It listens on A first, so that no client finds A held but refusing.
bool followLink(Server& server) {
  const Platform& platform = server.platform;
  in_addr address{};
  if (inet_pton(AF_INET, platform.linkPlatform.c_str(), &address) != 1) {
    warn("J: '" + platform.linkPlatform + "' is not an IPv4 address");
    return false;
  }
  const bool moving = address.s_addr != server.address.s_addr;
  std::string error;
  UniqueFd listener;
  if (moving) listener = openListener(address, server.port, true, error);
  if (error.empty()) {
    error = runProgram({server.options.readdress, platform.linkPlatform, platform.linkSp});
  }
  if (!error.empty()) {
    warn(error);
    return false;
  }
  if (moving) serveOn(server, std::move(listener), address);
  return true;
}

std::string filler(long size) {
  std::string text(static_cast<std::size_t>(size), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = "0123456789abcdef"[i % 16];
  return text;
}

Answer planAnswer(Server& server, std::string_view request) {
  const char letter = request.empty() ? '\0' : request[0];
  const Behaviour how = server.options.scenario.answerFor(letter);
  // The platform's state changes whatever the scenario answers.
  std::string text = answerText(server.platform, request);
  Answer answer;
  if (letter == 'J' && !server.options.readdress.empty()) {
    answer.events =
        followLink(server) ? " readdressed=" + server.platform.linkPlatform : " refused-readdress";
  }
  answer.closeEarly = how.closeEarly.value_or(false);
  if (how.silent.value_or(false)) answer.events += " silent";
  if (how.silent.value_or(false) || letter == 'f' || letter == 'B' || letter == 'J') return answer;

  answer.delay = Milliseconds(how.delayMs.value_or(0));
  answer.chunk = static_cast<std::size_t>(how.chunk.value_or(0));
  answer.pause = Milliseconds(how.pauseMs.value_or(answer.chunk > 0 ? 50 : 0));
  if (letter == 'c') {
    answer.bytes = vpdBlock(request, how.vpdSize.value_or(128));
    return answer;
  }
  if (how.flood) {
    text = filler(*how.flood);
  } else if (how.reply) {
    text = *how.reply;
  }
  if (letter == 'o') text = movePort(server, request, std::move(text), answer);
  if (!how.noEtx.value_or(false)) text += '\x03';
  answer.bytes = std::move(text);
  return answer;
}

void finishAnswer(Connection& connection) {
  connection.stage = connection.answer.closeEarly ? Stage::kDone : Stage::kDraining;
}

// zarn writes each request with a single write, so the first read holds it.
void readRequest(Server& server, Connection& connection) {
  char buffer[4096];
  const ssize_t n = read(connection.fd.get(), buffer, sizeof buffer);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  const std::string_view request(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  if (n > 0) connection.answer = planAnswer(server, request);
  logExchange(server, connection, request);
  if (n <= 0) {
    connection.stage = Stage::kDone;
    return;
  }
  connection.stage = Stage::kAnswering;
  connection.dueAt = Clock::now() + connection.answer.delay;
  if (connection.answer.bytes.empty()) finishAnswer(connection);
}

// Reads and drops whatever the client sends; notices when it closes.
void drainInput(Connection& connection) {
  char sink[4096];
  const ssize_t n = read(connection.fd.get(), sink, sizeof sink);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) connection.stage = Stage::kDone;
}

// Writes the pieces that are due, each whole before the pause after it.
void sendDue(Connection& connection, Clock::time_point now) {
  const Answer& answer = connection.answer;
  while (connection.stage == Stage::kAnswering && now >= connection.dueAt) {
    if (connection.sent == connection.pieceEnd) {
      const std::size_t piece = answer.chunk > 0 ? answer.chunk : answer.bytes.size();
      connection.pieceEnd = std::min(connection.sent + piece, answer.bytes.size());
    }
    const ssize_t n = send(connection.fd.get(), answer.bytes.data() + connection.sent,
                           connection.pieceEnd - connection.sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno != EAGAIN && errno != EINTR) connection.stage = Stage::kDone;
      return;
    }
    connection.sent += static_cast<std::size_t>(n);
    if (connection.sent == answer.bytes.size()) {
      finishAnswer(connection);
    } else if (connection.sent == connection.pieceEnd) {
      connection.dueAt = now + answer.pause;
    }
  }
}

void acceptClients(Server& server) {
  const long limit = server.options.connections;
  while (server.listener.valid() && (limit == 0 || server.accepted < limit)) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    UniqueFd fd(accept4(server.listener.get(), reinterpret_cast<sockaddr*>(&peer), &length,
                        SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid()) return;
    // Each piece of a split answer leaves at once, as its own segment.
    const int yes = 1;
    (void)setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    char address[INET_ADDRSTRLEN] = "?";
    (void)inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    Connection connection;
    connection.fd = std::move(fd);
    connection.peer = std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
    server.connections.push_back(std::move(connection));
    ++server.accepted;
  }
  if (limit > 0 && server.accepted >= limit) server.listener.reset();
}

// Until the next piece falls due; -1 when nothing waits on the clock.
int pollTimeout(const Server& server, Clock::time_point now) {
  int timeout = -1;
  for (const Connection& connection : server.connections) {
    if (connection.stage != Stage::kAnswering || connection.dueAt <= now) continue;
    const auto wait = std::chrono::ceil<Milliseconds>(connection.dueAt - now).count();
    const int capped = static_cast<int>(std::min<long long>(wait, 60000));
    timeout = timeout < 0 ? capped : std::min(timeout, capped);
  }
  return timeout;
}

void serveOnce(Server& server) {
  std::vector<pollfd> watched;
  Clock::time_point now = Clock::now();
  for (const Connection& connection : server.connections) {
    const bool writing = connection.stage == Stage::kAnswering && connection.dueAt <= now;
    watched.push_back(
        {connection.fd.get(), static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0});
  }
  const bool listening = server.listener.valid();
  if (listening) watched.push_back({server.listener.get(), POLLIN, 0});
  const std::size_t polled = server.connections.size();
  if (poll(watched.data(), watched.size(), pollTimeout(server, now)) < 0 && errno != EINTR) {
    warn(systemError("poll"));
    return;
  }
  for (std::size_t i = 0; i < polled; ++i) {
    Connection& connection = server.connections[i];
    if ((watched[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    if (connection.stage == Stage::kReading) {
      readRequest(server, connection);
    } else {
      drainInput(connection);
    }
  }
  if (listening && (watched.back().revents & POLLIN) != 0) acceptClients(server);
  now = Clock::now();
  for (Connection& connection : server.connections) sendDue(connection, now);
  std::erase_if(server.connections, [](const Connection& c) { return c.stage == Stage::kDone; });
}

}  // namespace

int runServer(const SimOptions& options) {
  (void)signal(SIGPIPE, SIG_IGN);
  Server server(options);
  if (!options.log.empty()) {
    server.log.reset(open(options.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!server.log.valid()) {
      warn(systemError("cannot open " + options.log));
      return 2;
    }
  }
  if (!listenOn(server, options.listen, options.port)) return 2;
  while (server.listener.valid() || !server.connections.empty()) serveOnce(server);
  return 0;
}
