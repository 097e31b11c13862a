#pragma once
// Everything the downloads say in the window: the transfer list, its
// buttons, the settings dialog and the messages.

namespace download_text
{
inline constexpr const char* DOCK_TITLE = "下载";
inline constexpr const char* COMMAND = "下载";
inline constexpr const char* COMMAND_PROMPT = "下载选中的文件或文件夹";
inline constexpr const char* SETTINGS_COMMAND = "下载设置...";
inline constexpr const char* SETTINGS_PROMPT = "下载文件夹和同时下载的连接数";

inline constexpr const char* COLUMNS[] = {"名称", "大小", "进度", "速度", "剩余时间", "状态"};

inline constexpr const char* STOP = "停止";
inline constexpr const char* RESUME = "继续";
inline constexpr const char* RETRY = "重试";
inline constexpr const char* REMOVE = "移除";
inline constexpr const char* SHOW_FOLDER = "打开所在文件夹";
inline constexpr const char* OPEN = "打开";

inline constexpr const char* NOTHING_SELECTED = "请先选择要下载的文件或文件夹。";
inline constexpr const char* NOTHING_CACHED = "这个文件夹里还没有缓存的文件，请先更新站点。";
inline constexpr const char* NO_FOLDER =
    "下载文件夹不存在：%1\n请在“设置”菜单的“下载设置...”中选择一个文件夹。";
inline constexpr const char* RESTORED = "上次有 %1 个下载没有完成，点“继续”接着下载";
inline constexpr const char* QUEUED = "已加入下载：%1 个文件";

inline constexpr const char* SETTINGS_TITLE = "下载设置";
inline constexpr const char* SETTINGS_FOLDER = "下载到：";
inline constexpr const char* SETTINGS_BROWSE = "浏览...";
inline constexpr const char* SETTINGS_PER_SITE = "每个站点同时下载：";
inline constexpr const char* SETTINGS_TOTAL = "全部同时下载：";
} // namespace download_text
