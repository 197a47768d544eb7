// Why a saved index was refused, or why it could not be written: a code to
// test against and the text the user is shown, which ends, like every
// error text of the engine, in ":<system error code>".
#pragma once

#include <string>

class qvStatus {
 public:
  enum class Code {
    kOk,
    kNotFound,        // no saved index: the normal first start
    kIoError,         // open, read, write, sync or rename failed
    kNotRegularFile,  // a folder, a FIFO, a device where a file should be
    kTooSmall,        // shorter than the smallest well-formed file
    kTooLarge,        // larger than the format or a sane bound allows
    kNoMemory,        // already reported by the heap
    kStale,           // the volumes moved on since the save
    kBadHeader,       // sizes, offsets, counts, magics or version
    kBadVolumeTable,
    kBadFolderRecord,
    kBadFolderLinks,  // key section, parent positions and chains
    kBadFileRecord,
    kBadName,         // packed name bytes not as the encoder writes them
    kBadExtensionFile,
    kExtensionMissing,  // a file names an id the dictionary lacks
    kBadExtCaseFile,
    kNoSeal,          // the files carry no record of belonging together
    kBadSeal,
    kMismatch,        // a file is not the one its seal describes
    kLocked,          // the data folder's lock could not be taken
    kCannotStore,     // the tables cannot be described by the format
  };

  qvStatus() = default;
  static qvStatus Ok() { return qvStatus(); }
  // `what` is the user's text; ":<error>" is added to it. `error` is the
  // system error code, or the closest one where the system gave none.
  static qvStatus Error(Code code, int error, const std::string& what) {
    qvStatus s;
    s.code_ = code;
    s.error_ = error;
    s.text_ = what + ":" + std::to_string(error);
    return s;
  }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  int error() const { return error_; }
  const std::string& text() const { return text_; }

 private:
  Code code_ = Code::kOk;
  int error_ = 0;
  std::string text_;
};
