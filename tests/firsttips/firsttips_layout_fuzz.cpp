// libFuzzer target: the readers of outside text of the tips program (the
// desktop's layout file, launchers, locale names, the command line) take
// any bytes without crashing.
#include <cstddef>
#include <cstdint>

#include "qvDesktopItemsFile.h"
#include "qvTipCommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QString text = QString::fromUtf8(bytes);
  ParseDesktopItems(bytes);
  LauncherLabel(bytes, LocaleLanguages(text.left(64)));
  SplitCommandLine(text);
  return 0;
}
