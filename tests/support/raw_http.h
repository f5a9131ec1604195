// Test support: a raw loopback TCP client for talking to the host byte by byte (half-sent heads,
// hostile framing, pipelining), and heliqd run as a process of its own.
//
// Every call is bounded by its timeout; nothing here blocks forever.
#ifndef HELIQ_TESTS_SUPPORT_RAW_HTTP_H_
#define HELIQ_TESTS_SUPPORT_RAW_HTTP_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace heliq::testing {

using Millis = std::chrono::milliseconds;

// One connection to 127.0.0.1:port. Not thread-safe.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    connected_ =
        fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  ~RawClient() {
    if (fd_ >= 0) close(fd_);
  }

  bool connected() const { return connected_; }

  // Sends all of `bytes`; false when the host closed the connection first.
  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
  }

  // Everything the host sends until it closes the connection or `timeout` passes. closed() then
  // says which.
  std::string ReadUntilClosed(Millis timeout) {
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!closed_) {
      const auto left =
          std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(received, left)) break;
    }
    return received;
  }

  // The next complete answer (head and Content-Length body), or nullopt when none came within
  // `timeout`.
  std::optional<std::string> ReadResponse(Millis timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      const size_t head_end = pending_.find("\r\n\r\n");
      if (head_end != std::string::npos) {
        size_t length = 0;
        const size_t at = pending_.find("Content-Length: ");
        if (at != std::string::npos && at < head_end) length = std::stoul(pending_.substr(at + 16));
        if (pending_.size() >= head_end + 4 + length) {
          std::string response = pending_.substr(0, head_end + 4 + length);
          pending_.erase(0, response.size());
          return response;
        }
      }
      const auto left =
          std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
      if (closed_ || left.count() <= 0 || !ReadSome(pending_, left)) return std::nullopt;
    }
  }

  bool closed() const { return closed_; }

 private:
  // Appends what arrives within `timeout`; false when nothing did.
  bool ReadSome(std::string& into, Millis timeout) {
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char chunk[16384];
    const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    into.append(chunk, static_cast<size_t>(n));
    return true;
  }

  int fd_;
  bool connected_ = false;
  bool closed_ = false;
  std::string pending_;
};

// The status code of an answer ("HTTP/1.1 431 ..." gives 431), 0 when it is not one.
inline int StatusOf(const std::string& response) {
  if (!response.starts_with("HTTP/1.") || response.size() < 12) return 0;
  return std::stoi(response.substr(9, 3));
}

// How many answers a byte stream holds.
inline size_t CountAnswers(const std::string& received) {
  size_t count = 0;
  for (size_t at = received.find("HTTP/1."); at != std::string::npos;
       at = received.find("HTTP/1.", at + 1)) {
    ++count;
  }
  return count;
}

// A port that was free a moment ago.
inline int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

// heliqd in a process of its own with `config`, its output in `output`; killed (SIGKILL) when
// destroyed if it is still running.
class HeliqdProcess {
 public:
  HeliqdProcess(const std::filesystem::path& config, const std::filesystem::path& output,
                const char* program) {
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
      }
      execl(program, "heliqd", "--config", config.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  HeliqdProcess(const HeliqdProcess&) = delete;
  HeliqdProcess& operator=(const HeliqdProcess&) = delete;
  ~HeliqdProcess() {
    if (pid_ > 0 && !exit_status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // True once something accepts on `port`; false when the process exited first or 30 s passed.
  bool WaitUntilListening(int port) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      if (WaitForExit(Millis(0))) return false;
      if (RawClient(port).connected()) return true;
      std::this_thread::sleep_for(Millis(20));
    }
    return false;
  }

  void Signal(int signal) { kill(pid_, signal); }

  // The exit status once the process has ended within `timeout` (-1 for a signal), else nullopt.
  std::optional<int> WaitForExit(Millis timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!exit_status_) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(Millis(10));
    }
    return exit_status_;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> exit_status_;
};

}  // namespace heliq::testing

#endif  // HELIQ_TESTS_SUPPORT_RAW_HTTP_H_
