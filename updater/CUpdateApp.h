// The updater as a program: reads its command line, and when it names a
// server list, runs the window until the user closes it.
#pragma once

#include <string>

class CUpdateApp {
 public:
  CUpdateApp(int argc, char** argv);

  // The program's exit status: 0 also when there was nothing to do.
  int Run();

 private:
  int argc_;
  char** argv_;
  std::string m_strServerListUrl;
  bool m_bAutomatic = false;
};
