// The selected result rows as other programs take them: on the clipboard
// and in a drag, as plain paths (one a line) and as a text/uri-list, so
// that file managers paste or take the files themselves, and terminals,
// mail programs and upload fields get paths or URIs as they prefer.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

#include "IQvSearch.h"
#include "qvTypes.h"

class QMimeData;

// The full paths of `rows` as the engine has them now, in the order given;
// rows the engine no longer has are left out.
std::vector<qvString> qvRowFullPaths(IQvSearch* engine, const QList<int>& rows);

// A file URI of a path: its bytes on disk, percent-encoded, so that names
// that are not UTF-8 reach the other program unchanged.
QByteArray qvFileUri(const qvString& path);

// Plain paths, one a line; text/uri-list (CRLF-separated); and the
// "copy" list file managers read on paste.
QMimeData* qvMakeRowMimeData(const std::vector<qvString>& paths);
