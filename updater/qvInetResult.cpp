#include "qvInetResult.h"

const char* InetErrorText(int result) {
  switch (result) {
    case kInetBadUrl: return "URL解析错误, 请选择其他服务器进行尝试";
    case kInetLengthMismatch: return "文件长度与更新列表不符";
    case kInetHashMismatch: return "文件校验失败";
    case kInetPathRefused: return "文件路径不合法";
    case kInetHttpStatus: return "取得服务器文件失败, 请选择其他服务器进行尝试";
    case kInetCreateFailed: return "创建本地文件失败";
    case kInetWriteFailed: return "写入本地文件失败";
    default: return nullptr;
  }
}
