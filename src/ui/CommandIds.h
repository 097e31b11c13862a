#pragma once
// The window's commands, numbered as the program always numbered them. The
// menus, the toolbar, the keyboard and the context menus all reach the main
// window's handler of the same command.

enum CommandId
{
    ID_UPDATE_ALL = 32771,
    ID_SITE_ADD = 32772,
    ID_MARK_SHOWN_READ = 32774,
    ID_MARK_UPDATE_READ = 32776,
    ID_SEARCH = 32777,
    ID_SHOW_UPDATE = 32780,
    ID_SITE_DELETE = 32782,
    ID_SITE_EDIT = 32783,
    ID_SITE_IMPORT = 32784,
    ID_UPDATE_SELECTED = 32793,
    ID_MARK_ALL_READ = 32794,
    ID_SHOW_ALL_UNREAD = 32795,
    ID_COPY_FILE_ADDRESS = 32796,
    ID_GO_FORWARD = 32797,
    ID_GO_BACK = 32798,
    ID_GO_UP = 32801,
    ID_STOP_UPDATE = 32803,
    ID_MARK_FOLDER_READ = 32804,
    ID_SETTINGS = 32805,
    ID_TOGGLE_VIEW = 32806,
    ID_SHOW_FOLDER_UPDATES = 32807,
    ID_COPY_FOLDER_ADDRESS = 32808,
    ID_HELP_PDF = 32809,
    ID_SHOW_CHANGES = 32810,
    ID_SITE_STATS = 32811,
    ID_EXPORT = 32812,
    ID_DOWNLOAD = 32813,
    ID_DOWNLOAD_FOLDER = 32814,
    ID_DOWNLOAD_SETTINGS = 32815,
    // The framework's own commands.
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};
