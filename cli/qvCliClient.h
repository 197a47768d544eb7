// qvsearch's side of the index service: connects to the service of this
// user, asks one search (and keeps watching when asked), reads answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qvServiceProtocol.h"

class qvCliClient {
 public:
  qvCliClient() = default;
  qvCliClient(const qvCliClient&) = delete;
  qvCliClient& operator=(const qvCliClient&) = delete;
  ~qvCliClient();

  // Connects to the socket in `folder` and greets the service; false with
  // the reason.
  bool Connect(const std::string& folder, std::string* error);
  uint32_t ServicePid() const { return pid_; }
  // A socket was connected, whatever came after.
  bool Reached() const { return fd_ >= 0; }
  // The code of the last refusal the service sent (qvService::kErr*), or 0.
  uint32_t RefusedCode() const { return refused_; }

  bool Send(const std::string& frame, std::string* error);

  // Reads one whole answer. False with the reason when the service ended,
  // went silent for `silenceMs` or sent what this client cannot read;
  // also false, with `stopped` set, when `stopFd` became readable first.
  bool ReadAnswer(qvService::AnswerHeader* header, std::vector<qvService::Row>* rows, std::string* error,
                  int silenceMs, int stopFd = -1, bool* stopped = nullptr);
  bool ReadStatus(qvService::Status* status, std::string* error, int silenceMs);

 private:
  // The next message; false with the reason (a kError from the service is
  // a failure too, its text the reason).
  bool Next(qvService::Message* m, std::string* error, int silenceMs, int stopFd, bool* stopped);

  int fd_ = -1;
  uint32_t pid_ = 0;
  uint32_t refused_ = 0;
  qvService::FrameReader reader_{qvService::kMaxReplyBytes + 64};
};
