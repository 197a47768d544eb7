#include "qvCliOptions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

const char kQvCliUsage[] =
    "usage: qvsearch [--root DIR]... [--data DIR] [--ext LIST] [--count] [--long]\n"
    "                [--json] [--offline] [--no-save] [--no-service | --service-only]\n"
    "                [--watch] [--stats] [-0] [--regex] [--case] [--base-name]\n"
    "                [--no-pinyin] [--hidden | --no-hidden] [--exclude RULE]...\n"
    "                [--sort COLUMN [--reverse]] [--limit N] [TERM...]\n"
    "       qvsearch --serve [--root DIR]... [--data DIR]\n"
    "       qvsearch --version\n"
    "Prints the folders and files whose names hold every TERM, folders first;\n"
    "without a TERM, every folder and file. A term is found anywhere in the\n"
    "name as shown ('report.pdf'); '?' and '*' make a term a pattern of the\n"
    "whole name ('*.pdf'); a term holding '/' is found in the whole path\n"
    "('code/src'); ASCII letters match either case; a term of letters also\n"
    "finds Chinese names by their pinyin ('bg' finds 报告).\n"
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
    "  -0           end rows with NUL instead of newline\n"
    "  --regex      the terms make one regular expression (PCRE2), tested against\n"
    "               the name, or the whole path when it holds '/'\n"
    "  --case       ASCII letters match only in the case typed\n"
    "  --base-name  test a file's name without its extension ('report', not\n"
    "               'report.pdf'), as the index was first designed to\n"
    "  --no-pinyin  letters find only letters\n"
    "  --no-hidden  leave out items whose name, or a folder's above them, begins\n"
    "               with '.'; --hidden shows them (the default)\n"
    "  --exclude RULE  leave a folder (an absolute path) or every entry whose name\n"
    "               matches a pattern ('node_modules', '*.o') out of the index\n"
    "               (repeatable; the running service is then not asked)\n"
    "  --sort COLUMN  order by name, path, size, mtime, ctime or atime; folders\n"
    "               stay first\n"
    "  --reverse    the order reversed\n"
    "  --limit N    print at most N rows\n"
    "  --version    print the version\n";

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
    } else if (a == "--exclude") {
      const char* v = value("--exclude");
      if (!v) return false;
      if (!v[0] || std::strchr(v, '\n')) {
        *error = "--exclude needs a folder path or a name pattern on one line";
        return false;
      }
      o->excludes.push_back(v);
    } else if (a == "--sort") {
      const char* v = value("--sort");
      if (!v) return false;
      static const struct {
        const char* name;
        int column;
      } kColumns[] = {{"name", 1}, {"path", 2}, {"size", 3}, {"ctime", 4}, {"mtime", 5}, {"atime", 6}};
      o->sortColumn = -1;
      for (const auto& c : kColumns)
        if (std::strcmp(v, c.name) == 0) o->sortColumn = c.column;
      if (o->sortColumn < 0) {
        *error = "--sort takes name, path, size, mtime, ctime or atime";
        return false;
      }
    } else if (a == "--limit") {
      const char* v = value("--limit");
      if (!v) return false;
      char* end = nullptr;
      errno = 0;
      unsigned long long n = std::strtoull(v, &end, 10);
      if (!v[0] || *end || errno || n == 0 || v[0] == '-') {
        *error = "--limit needs a whole number above 0";
        return false;
      }
      o->limit = n;
    } else if (a == "--regex") o->regex = true;
    else if (a == "--case") o->matchCase = true;
    else if (a == "--base-name") o->baseName = true;
    else if (a == "--no-pinyin") o->noPinyin = true;
    else if (a == "--hidden") o->hideHidden = false;
    else if (a == "--no-hidden") o->hideHidden = true;
    else if (a == "--reverse") o->reverse = true;
    else if (a == "--version") o->version = true;
    else if (a == "--count") o->count = true;
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
  if (o->regex && o->terms.empty()) {
    *error = "--regex needs a pattern";
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
  if (query.find_first_not_of(' ') == std::string::npos) query = o.regex ? "" : "*?";
  return query;
}

std::string CliExcludes(const qvCliOptions& o) {
  std::string rules;
  for (const std::string& r : o.excludes) rules += r + "\n";
  return rules;
}

std::string CliFilter(const qvCliOptions& o) {
  std::string filter = o.ext;
  for (char& c : filter)
    if (c == ',') c = ' ';
  return filter;
}
