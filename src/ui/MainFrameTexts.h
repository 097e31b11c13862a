#pragma once
// Everything the main window says: command labels, prompts, menu titles and
// messages. Only MainFrame*.cpp include this.

#include "ui/CommandIds.h"

namespace frame_text
{
inline constexpr const char* TITLE = "Tarn";
inline constexpr const char* READY = "就绪";
inline constexpr const char* TOOLBAR = "工具栏";

inline constexpr const char* MENU_FILE = "文件(&F)";
inline constexpr const char* MENU_EDIT = "编辑(&E)";
inline constexpr const char* MENU_VIEW = "视图(&V)";
inline constexpr const char* MENU_ACTION = "操作(&O)";
inline constexpr const char* MENU_SETTINGS = "设置(&S)";
inline constexpr const char* MENU_HELP = "帮助(&H)";

inline constexpr const char* CONFIRM_DELETE = "是否确定要删除?";
inline constexpr const char* CONFIRM_DELETE_CAPTION = "警告";
inline constexpr const char* SITE_UPDATING = "站点正在更新，请先终止更新！";
inline constexpr const char* OPTIONS_NOT_SAVED = "站点选项未能保存，仍为原来的设置：\n";
inline constexpr const char* PATH_COPIED =
    "文件路径已复制到剪贴板上，粘贴到FTP软件或浏览器中即可。";
inline constexpr const char* HELP_MISSING = "找不到帮助文件 help.pdf，它应在程序所在的文件夹中。";
inline constexpr const char* HELP_NOT_OPENED = "无法打开帮助文件：";
inline constexpr const char* FILTER_TEXT = "Text File(*.txt)(*.txt)";
// The label says *.*, but names without a dot are files too here.
inline constexpr const char* FILTER_ALL = "all files(*.*)(*)";
inline constexpr const char* DEFAULT_SUFFIX = "txt";

// What the list shows, in the status bar.
inline constexpr const char* ROWS_SHOWN = "%1 个文件夹，%2 个文件";
inline constexpr const char* ROWS_TOTAL = "，共 %1";

// The change listing, the site's figures and export.
inline constexpr const char* NO_CHANGES = "上次更新没有更改。";
inline constexpr const char* NEVER_UPDATED = "站点还没有更新过，没有更改可显示。";
inline constexpr const char* CHANGES_SHOWN = "上次更新的更改：%1 项";
inline constexpr const char* FIRST_UPDATE =
    "上次更新是首次更新，没有可比较的更改：%1 个文件夹，%2 个文件，共 %3";
inline constexpr const char* FIRST_UPDATES_TOO = "；另有 %1 个站点上次是首次更新";
inline constexpr const char* EXPORT_CAPTION = "导出";
inline constexpr const char* EXPORT_FILTERS[] = {"CSV 文件 (*.csv)", "JSON Lines (*.jsonl)",
                                                 "URL 列表 (*.txt)"};
inline constexpr const char* EXPORT_FAILED = "无法导出到 %1：\n%2";
inline constexpr const char* EXPORT_DONE = "已导出 %1 行到 %2";

// One command: its menu (or context menu) text, the toolbar label of the
// toolbar's commands and the prompt the status bar shows.
struct CCommandText
{
    int nId;
    const char* pszText;
    const char* pszLabel;  // toolbar label, or null
    const char* pszPrompt; // status bar prompt, or null
};

inline constexpr CCommandText COMMANDS[] = {
    {ID_UPDATE_ALL, "更新全部", nullptr, "更新所有站点"},
    {ID_SITE_ADD, "添加站点", "增加", "增加站点"},
    {ID_MARK_SHOWN_READ, "设置已读(Alt+D)", "已读", "设置当前显示的文件已读"},
    {ID_MARK_UPDATE_READ, "设置全部已读", nullptr, "设置这次更新的文件已读"},
    {ID_SEARCH, "搜索", "搜索", "搜索"},
    {ID_SHOW_UPDATE, "显示未读文件", nullptr, "显示这次更新的文件"},
    {ID_SITE_DELETE, "删除站点", nullptr, "删除站点"},
    {ID_SITE_EDIT, "编辑站点", "编辑", "编辑站点"},
    {ID_SITE_IMPORT, "导入", nullptr, nullptr},
    {ID_UPDATE_SELECTED, "更新", "更新", "更新所选站点"},
    {ID_MARK_ALL_READ, "设置所有为已读", nullptr, "设置所有未读的文件已读"},
    {ID_SHOW_ALL_UNREAD, "显示所有未读文件", nullptr, "显示所有更新的文件"},
    {ID_COPY_FILE_ADDRESS, "复制路径", nullptr, nullptr},
    {ID_GO_FORWARD, "前进", "前进", "前进"},
    {ID_GO_BACK, "后退", "后退", "后退"},
    {ID_GO_UP, "向上", "向上", "向上"},
    {ID_STOP_UPDATE, "终止更新", nullptr, nullptr},
    {ID_MARK_FOLDER_READ, "设置已读", nullptr, nullptr},
    {ID_SETTINGS, "设置(&S)", nullptr, nullptr},
    {ID_TOGGLE_VIEW, "切换浏览/搜索", "切换", "切换浏览/搜索窗口"},
    {ID_SHOW_FOLDER_UPDATES, "显示更新", nullptr, nullptr},
    {ID_COPY_FOLDER_ADDRESS, "复制路径", nullptr, nullptr},
    {ID_HELP_PDF, "帮助(&H)", nullptr, nullptr},
    {ID_SHOW_CHANGES, "显示更改", nullptr, "显示上次更新新增、删除和大小改变的文件"},
    {ID_SITE_STATS, "站点信息", nullptr, "显示站点的统计信息"},
    {ID_EXPORT, "导出...", nullptr, "把文件列表导出为 CSV、JSON Lines 或 URL 列表"},
    {ID_APP_ABOUT, "关于 Tarn(&A)...", nullptr, "显示程序信息、版本号和版权"},
    {ID_APP_EXIT, "退出(&X)", nullptr, "退出程序"},
    {ID_VIEW_TOOLBAR, "工具栏(&T)", nullptr, "显示或隐藏工具栏"},
    {ID_VIEW_STATUS_BAR, "状态栏(&S)", nullptr, "显示或隐藏状态栏"},
    {ID_NEXT_PANE, "下一窗格", nullptr, nullptr},
    {ID_PREV_PANE, "上一窗格", nullptr, nullptr},
};
} // namespace frame_text
