// The engine plugin is the whole engine library; its one export,
// CreateObjcet, lives in qvExport.cpp and is kept by the version script.
