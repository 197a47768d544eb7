#include "qvCliClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "qvServiceSocket.h"

using namespace qvService;

qvCliClient::~qvCliClient() {
  if (fd_ >= 0) close(fd_);
}

bool qvCliClient::Connect(const std::string& folder, std::string* error) {
  fd_ = ConnectTo(folder, error);
  if (fd_ < 0) return false;
  if (!Send(EncodeHello(), error)) return false;
  Message m;
  if (!Next(&m, error, 5000, -1, nullptr)) return false;
  if (m.type != kHelloOk || m.magic != kMagic || m.version != kVersion) {
    *error = "the service did not greet as expected";
    return false;
  }
  pid_ = m.pid;
  return true;
}

bool qvCliClient::Send(const std::string& frame, std::string* error) {
  for (size_t at = 0; at < frame.size();) {
    ssize_t n = send(fd_, frame.data() + at, frame.size() - at, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = std::string("the service went away: ") + std::strerror(errno);
      return false;
    }
    at += static_cast<size_t>(n);
  }
  return true;
}

bool qvCliClient::Next(Message* m, std::string* error, int silenceMs, int stopFd, bool* stopped) {
  std::string_view payload;
  for (;;) {
    FrameReader::Result r = reader_.Next(&payload);
    if (r == FrameReader::kFrame) {
      std::string why;
      if (!Decode(payload, m, &why)) {
        *error = "the service sent " + why;
        return false;
      }
      if (m->type == kError) {
        refused_ = m->error.code;
        *error = "the service refused: " + m->error.text;
        return false;
      }
      return true;
    }
    if (r != FrameReader::kNeedMore) {
      *error = "the service sent a frame this client cannot read";
      return false;
    }
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd, POLLIN, 0}};
    int n = poll(fds, stopFd >= 0 ? 2 : 1, silenceMs);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      *error = "the service did not answer within " + std::to_string(silenceMs / 1000) + " s";
      return false;
    }
    if (stopFd >= 0 && (fds[1].revents & POLLIN)) {
      if (stopped) *stopped = true;
      *error = "stopped";
      return false;
    }
    ssize_t got = reader_.Receive(fd_, 65536);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      *error = reader_.Partial() ? "the service ended mid-answer" : "the service ended the connection";
      return false;
    }
  }
}

bool qvCliClient::ReadAnswer(AnswerHeader* header, std::vector<Row>* rows, std::string* error, int silenceMs,
                             int stopFd, bool* stopped) {
  Message m;
  if (!Next(&m, error, silenceMs, stopFd, stopped)) return false;
  if (m.type != kAnswer) {
    *error = "the service sent another message than an answer";
    return false;
  }
  *header = m.header;
  rows->clear();
  rows->reserve(static_cast<size_t>(std::min<uint64_t>(header->rows, 1u << 20)));
  for (;;) {
    // The rest of an answer follows at once: a pause is the service's end.
    if (!Next(&m, error, silenceMs, -1, nullptr)) {
      if (*error == "the service ended the connection") *error = "the service ended mid-answer";
      return false;
    }
    if (m.type == kRows) {
      for (Row& r : m.rows) rows->push_back(std::move(r));
      continue;
    }
    if (m.type == kAnswerEnd && m.rowsSent == rows->size() && rows->size() == header->rows) return true;
    *error = "the service's answer does not add up";
    return false;
  }
}

bool qvCliClient::ReadStatus(Status* status, std::string* error, int silenceMs) {
  Message m;
  if (!Next(&m, error, silenceMs, -1, nullptr)) return false;
  if (m.type != kStatusReply) {
    *error = "the service sent another message than its status";
    return false;
  }
  *status = m.status;
  return true;
}
