// The tips program's command line: the desktop icon's label, one blank,
// then the tip text.
#pragma once

#include <QString>

struct TipCommandLine {
  QString label;  // exactly as the desktop shows it
  QString text;   // everything after the first blank, blanks included
};

// The arguments after the program name joined with single blanks, so that
// a caller may pass the whole line as one argument (keeping runs of blanks
// in the text) or as separate words. Arguments are decoded from the
// locale's character set.
QString JoinArguments(int argc, const char* const* argv);

// Splits at the first blank after the first character. Without such a
// blank both parts stay empty, so no icon is ever found for that line.
TipCommandLine SplitCommandLine(const QString& commandLine);
