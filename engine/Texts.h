// Texts the engine and the launch show, exactly as the operator sees them.
#pragma once

namespace qdx::texts {

// Message boxes.
inline constexpr const char* kUnknownChip = "请确认是否为本公司的MP3！";
inline constexpr const char* kKernelChecksum = "kernelblk chksum error !";
inline constexpr const char* kKernelRead = "kernelblk read error !";
inline constexpr const char* kInitFailed = "flash初始化出错！";
inline constexpr const char* kOpenFailed = "磁盘设备创建或打开失败！";
inline constexpr const char* kFileOpen = "File open error";
inline constexpr const char* kFileKey = "File Key error";
inline constexpr const char* kFileChecksum = "File CheckSum error";
inline constexpr const char* kReadBack = "Read back error";
inline constexpr const char* kFileSize = "File Size error";
inline constexpr const char* kFlashRange = "Flash Range error";
inline constexpr const char* kBackupArea = "Backup Area error";
inline constexpr const char* kMemory = "Memory error";
inline constexpr const char* kBlockRead = "Block read error";

// Status line.
inline constexpr const char* kFormatting = "状态：正在格式化…";
inline constexpr const char* kVerifying = "状态：正在校验…";
inline constexpr const char* kSendImPm = "状态：正在传送IMPM文件…";
inline constexpr const char* kBackupImPm = "状态：正在备份IMPM文件…";
inline constexpr const char* kSendUit = "状态：正在传送UIT文件…";
inline constexpr const char* kBackupUit = "状态：正在备份UIT文件…";
inline constexpr const char* kSendFont = "状态：正在传送Font文件…";
inline constexpr const char* kBackupFont = "状态：正在备份Font文件…";
inline constexpr const char* kCompleted = "状态：已完成";
inline constexpr const char* kFailed = "状态：失败！";

}  // namespace qdx::texts
