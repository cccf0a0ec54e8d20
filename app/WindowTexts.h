// The texts of the window, the About box and the string table, exactly as the operator sees them.
#pragma once

namespace qdx::app::texts {

inline constexpr const char* kMainTitle = "KTXA2400 系统工具QDX Client V2.01";
inline constexpr const char* kStart = "开始下载";
inline constexpr const char* kDeviceGroup = "设备";
inline constexpr const char* kStatusInitial = "状态：";
inline constexpr const char* kAboutMenuItem = "关于 VelmoraDisk(&A)...";  // string 101
inline constexpr const char* kNotConnected = "状态：未连接";              // string 102
inline constexpr const char* kConnected = "状态：已连接";                 // string 103
inline constexpr const char* kAboutTitle = "关于 VelmoraDisk";
inline constexpr const char* kAboutVersion = "VelmoraDisk 2.01 版";
inline constexpr const char* kOk = "确定";
// The context menu's items for a simulated player.
inline constexpr const char* kSimUnplug = "拔出模拟播放器";
inline constexpr const char* kSimPlugIn = "插入模拟播放器";
// What the system shows when it asks to shut down or log off during a download (Windows).
inline constexpr const char* kShutdownHeldOff =
    "正在向播放器下载，中途关机会使播放器的闪存只写了一部分。";
inline constexpr const char* kCloseRefused =
    "正在下载，请等待下载结束后再关闭窗口。\n中途关闭会使播放器的闪存只写了一部分。";

}  // namespace qdx::app::texts
