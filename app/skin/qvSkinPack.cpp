// Build tool: packs skin files into "skin.dat".
//   qvSkinPack OUTPUT NAME=FILE...
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "qvSkinArchive.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: qvSkinPack OUTPUT NAME=FILE...\n");
    return 2;
  }
  std::map<std::string, std::string> files;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    size_t eq = arg.find('=');
    if (eq == 0 || eq == std::string::npos) {
      std::fprintf(stderr, "qvSkinPack: expected NAME=FILE, got %s\n", argv[i]);
      return 2;
    }
    std::ifstream in(arg.substr(eq + 1), std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "qvSkinPack: cannot read %s\n", arg.c_str() + eq + 1);
      return 1;
    }
    files[arg.substr(0, eq)] = std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  std::string bytes = qvSkinArchive::Build(files);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "qvSkinPack: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
