#include "qvFileBaseApp.h"

qvFileBaseApp::qvFileBaseApp() : patternSet(heap) { Register(this); }

qvFileBaseApp::~qvFileBaseApp() = default;
