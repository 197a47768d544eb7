#include "qvCliOptions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

const char kQvCliUsage[] =
    "usage: qvsearch [--root DIR]... [--data DIR] [--ext LIST] [--count] [--long]\n"
    "                [--json] [--offline] [--no-save] [--no-service | --service-only]\n"
    "                [--watch] [--stats] [-0] [TERM...]\n"
    "       qvsearch --serve [--root DIR]... [--data DIR]\n"
    "Prints the folders and files whose names hold every TERM ('?' and '*' are\n"
    "wildcards, ASCII letters match either case), folders first; without a\n"
    "TERM, every folder and file.\n"
    "  --root DIR   index DIR instead of this machine's volumes (repeatable)\n"
    "  --data DIR   keep the saved index in DIR (default: data/ beside the program,\n"
    "               or ~/.local/share/qvsearch/ when installed by the system)\n"
    "  --ext LIST   only files with these extensions (spaces or commas between)\n"
    "  --count      print the number of rows only\n"
    "  --long       print name, folder, size, times and attributes, tab-separated\n"
    "  --json       print one JSON object per row: path, name, type, size in bytes,\n"
    "               times in ISO 8601 UTC, attributes as words\n"
    "  --offline    answer from the saved index alone, without reading the volumes\n"
    "  --no-save    do not save the index at exit\n"
    "  --no-service  do not ask the running service (qvsearch asks it first, when\n"
    "               it indexes the roots asked for; then the saved index, without\n"
    "               --root; then it reads the volumes)\n"
    "  --service-only  answer through the running service or fail\n"
    "  --serve      keep the index and answer qvsearch on a local socket until\n"
    "               SIGTERM or SIGINT (the index is saved then)\n"
    "  --stats      print the index size and the search time to standard error\n"
    "  --watch      keep running and print the answer again whenever changes to\n"
    "               the files alter it, until interrupted\n"
    "  --monitor KIND  with --watch, follow changes with this kind only:\n"
    "               fanotify-fs, fanotify-marks or inotify (a diagnostic)\n"
    "  -0           end rows with NUL instead of newline\n";

bool ParseCliArgs(int argc, char** argv, qvCliOptions* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        *error = std::string(name) + " needs a value";
        return nullptr;
      }
      return argv[++i];
    };
    if (a == "--root") {
      const char* v = value("--root");
      if (!v) return false;
      if (!v[0]) {
        *error = "--root needs a folder, not an empty text";
        return false;
      }
      o->roots.push_back(v);
    } else if (a == "--data") {
      const char* v = value("--data");
      if (!v) return false;
      if (!v[0]) {
        *error = "--data needs a folder, not an empty text";
        return false;
      }
      o->data = v;
    } else if (a == "--ext") {
      const char* v = value("--ext");
      if (!v) return false;
      o->ext = v;
    } else if (a == "--monitor") {
      const char* v = value("--monitor");
      if (!v) return false;
      o->monitor = v;
      if (o->monitor != "fanotify-fs" && o->monitor != "fanotify-marks" && o->monitor != "inotify") {
        *error = "--monitor takes fanotify-fs, fanotify-marks or inotify";
        return false;
      }
    } else if (a == "--count") o->count = true;
    else if (a == "--long") o->longForm = true;
    else if (a == "--offline") o->offline = true;
    else if (a == "--no-save") o->noSave = true;
    else if (a == "-0") o->nul = true;
    else if (a == "--watch") o->watch = true;
    else if (a == "--stats") o->stats = true;
    else if (a == "--json") o->json = true;
    else if (a == "--no-service") o->noService = true;
    else if (a == "--service-only") o->serviceOnly = true;
    else if (a == "--serve") o->serve = true;
    else if (a == "--help" || a == "-h") o->help = true;
    else if (a == "--") {
      for (++i; i < argc; ++i) o->terms.push_back(argv[i]);
    } else if (a.size() > 1 && a[0] == '-') {
      *error = "unknown option " + a;
      return false;
    } else {
      o->terms.push_back(a);
    }
  }
  if (o->noService && o->serviceOnly) {
    *error = "--no-service and --service-only exclude each other";
    return false;
  }
  if (o->serviceOnly && o->offline) {
    *error = "--service-only asks the running service: it takes no --offline";
    return false;
  }
  if (o->json && (o->longForm || o->count)) {
    *error = "--json prints whole rows: it takes no --long nor --count";
    return false;
  }
  return true;
}

namespace {

// An absolute form of a path, without resolving symbolic links inside it.
std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return path;
  std::string base = cwd;
  if (path == ".") return base;
  return base + (base.back() == '/' ? "" : "/") + path;
}

}  // namespace

bool CheckCliRoots(qvCliOptions* o, std::string* error) {
  for (std::string& root : o->roots) {
    root = Absolute(root);
    struct stat st;
    // A disk image or a device, "@offset" optional, is read as an NTFS volume.
    std::string image = root.substr(0, stat(root.c_str(), &st) == 0 ? root.size() : root.rfind('@'));
    if (stat(image.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) continue;
    if (stat(root.c_str(), &st) != 0) {
      *error = "cannot read " + root + ": " + std::strerror(errno);
      return false;
    }
    if (!S_ISDIR(st.st_mode)) {
      *error = root + " is not a folder";
      return false;
    }
    if (access(root.c_str(), R_OK | X_OK) != 0) {
      *error = "cannot read " + root + ": " + std::strerror(errno);
      return false;
    }
  }
  if (!o->data.empty()) o->data = Absolute(o->data);
  return true;
}

std::string CliQuery(const qvCliOptions& o) {
  std::string query;
  for (const std::string& t : o.terms) query += (query.empty() ? "" : " ") + t;
  // No term (or only blank ones) asks for every entry, as "*?" does; the
  // engine itself answers an empty search box with nothing.
  if (query.find_first_not_of(' ') == std::string::npos) query = "*?";
  return query;
}

std::string CliFilter(const qvCliOptions& o) {
  std::string filter = o.ext;
  for (char& c : filter)
    if (c == ',') c = ' ';
  return filter;
}
